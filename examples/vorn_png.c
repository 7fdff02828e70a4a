/* vorn_png: decodes a Vorn movie into one PNG picture per frame with libvorn.
 *
 *   vorn_png MOVIE.vxn OUT_DIR [MAX_FRAMES]
 *
 * Build against an installed libvorn:
 *   cc vorn_png.c -o vorn_png $(pkg-config --cflags --libs vorn)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vorn/vorn.h>

/* ---- A small PNG writer: 8-bit RGB rows in stored (uncompressed) deflate blocks ---- */

static uint32_t crc_table[256];

static uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size) {
  if (!crc_table[1]) {
    for (uint32_t i = 0; i < 256; i++) {
      uint32_t c = i;
      for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      crc_table[i] = c;
    }
  }
  crc = ~crc;
  for (size_t i = 0; i < size; i++) crc = crc_table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

static void put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)(v >> 24), p[1] = (uint8_t)(v >> 16), p[2] = (uint8_t)(v >> 8), p[3] = (uint8_t)v;
}

static int write_chunk(FILE* f, const char* type, const uint8_t* data, uint32_t size) {
  uint8_t head[8];
  put32(head, size);
  memcpy(head + 4, type, 4);
  uint32_t crc = crc32_update(crc32_update(0, head + 4, 4), data, size);
  uint8_t tail[4];
  put32(tail, crc);
  return fwrite(head, 1, 8, f) == 8 && (size == 0 || fwrite(data, 1, size, f) == size) && fwrite(tail, 1, 4, f) == 4;
}

static int write_png(const char* path, const uint8_t* rgb, uint32_t width, uint32_t height, int32_t pitch) {
  const size_t row = (size_t)width * 3 + 1, raw_size = row * height;
  const size_t blocks = raw_size / 65535 + 1;
  uint8_t* z = malloc(2 + raw_size + blocks * 5 + 4);
  uint8_t* raw = malloc(raw_size);
  if (!z || !raw) {
    free(z), free(raw);
    return 0;
  }
  for (uint32_t y = 0; y < height; y++) {
    raw[y * row] = 0; /* no filter */
    memcpy(raw + y * row + 1, rgb + (size_t)y * pitch, (size_t)width * 3);
  }
  size_t n = 0, pos = 0;
  z[n++] = 0x78, z[n++] = 0x01;
  do {
    size_t len = raw_size - pos < 65535 ? raw_size - pos : 65535;
    z[n++] = pos + len == raw_size ? 1 : 0;
    z[n++] = (uint8_t)len, z[n++] = (uint8_t)(len >> 8);
    z[n++] = (uint8_t)~len, z[n++] = (uint8_t)(~len >> 8);
    memcpy(z + n, raw + pos, len);
    n += len, pos += len;
  } while (pos < raw_size);
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < raw_size; i++) a = (a + raw[i]) % 65521, b = (b + a) % 65521;
  put32(z + n, b << 16 | a);
  n += 4;
  uint8_t header[13];
  put32(header, width);
  put32(header + 4, height);
  header[8] = 8, header[9] = 2, header[10] = header[11] = header[12] = 0;
  FILE* f = fopen(path, "wb");
  int ok = f && fwrite("\x89PNG\r\n\x1a\n", 1, 8, f) == 8 && write_chunk(f, "IHDR", header, 13) &&
           write_chunk(f, "IDAT", z, (uint32_t)n) && write_chunk(f, "IEND", NULL, 0);
  if (f && fclose(f) != 0) ok = 0;
  free(z), free(raw);
  return ok;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: vorn_png MOVIE.vxn OUT_DIR [MAX_FRAMES]   (libvorn %s)\n", vorn_version());
    return 2;
  }
  unsigned long max_frames = argc > 3 ? strtoul(argv[3], NULL, 10) : 0;
  vorn_movie* movie = NULL;
  if (vorn_open_file(argv[1], 0, &movie) != VORN_OK) {
    fprintf(stderr, "vorn_png: %s: %s\n", argv[1], vorn_error_text(NULL));
    return 1;
  }
  vorn_info info;
  vorn_get_info(movie, &info);
  int32_t pitch = 0;
  size_t size = vorn_frame_buffer_size(movie, VORN_FORMAT_RGB24, &pitch);
  uint8_t* rgb = malloc(size);
  int status = rgb ? 0 : 1;
  unsigned long written = 0;
  int result = VORN_OK;
  while (status == 0 && (!max_frames || written < max_frames) &&
         ((result = vorn_step(movie)) == VORN_OK || result == VORN_DAMAGED)) {
    char path[4096];
    vorn_copy_frame(movie, VORN_FORMAT_RGB24, rgb, pitch, 0);
    snprintf(path, sizeof path, "%s/frame_%05u.png", argv[2], vorn_frame_number(movie));
    if (!write_png(path, rgb, info.display_width, info.display_height, pitch)) {
      fprintf(stderr, "vorn_png: cannot write %s\n", path);
      status = 1;
    }
    written++;
  }
  if (status == 0 && result < 0) {
    fprintf(stderr, "vorn_png: %s: %s\n", argv[1], vorn_error_text(movie));
    status = 1;
  }
  printf("%lu frames of %ux%u written\n", written, info.display_width, info.display_height);
  free(rgb);
  vorn_close(movie);
  return status;
}
