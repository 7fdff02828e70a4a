// vorntool decode FILE --pixels FORMAT: every frame converted with
// MovieCopyToBuffer into a buffer of exactly the size it needs, frames back
// to back in one raw file; optionally each frame also as a PNG (RGBA when the
// movie has an alpha plane, RGB otherwise).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "vorntool/decode.h"
#include "vorntool/options.h"
#include "vorntool/stdio_files.h"

namespace {

struct FormatName {
  const char* name;
  uint32_t format;
};
constexpr FormatName kFormatNames[] = {
    {"bgr24", COPY_BGR24},       {"rgb24", COPY_RGB24},       {"bgrx32", COPY_BGRX32},
    {"rgbx32", COPY_RGBX32},     {"bgra32", COPY_BGRA32},     {"rgba32", COPY_RGBA32},
    {"argb4444", COPY_ARGB4444}, {"argb1555", COPY_ARGB1555}, {"rgb555", COPY_RGB555},
    {"rgb565", COPY_RGB565},     {"rgb655", COPY_RGB655},     {"rgb664", COPY_RGB664},
    {"yuy2", COPY_YUY2},         {"uyvy", COPY_UYVY},         {"yv12", COPY_YV12},
};

// ---- A small PNG writer: 8-bit RGB or RGBA, zlib stored blocks ----------------

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc = 0) {
  static uint32_t table[256];
  if (!table[1]) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  crc = ~crc;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

void PutChunk(std::vector<uint8_t>& out, const char type[4], const std::vector<uint8_t>& data) {
  PutBig32(out, uint32_t(data.size()));
  size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

std::vector<uint8_t> ZlibStored(const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> z = {0x78, 0x01};
  size_t pos = 0;
  do {
    size_t n = std::min<size_t>(raw.size() - pos, 65535);
    bool last = pos + n == raw.size();
    z.push_back(last ? 1 : 0);
    z.push_back(uint8_t(n)), z.push_back(uint8_t(n >> 8));
    z.push_back(uint8_t(~n)), z.push_back(uint8_t(~n >> 8));
    z.insert(z.end(), raw.begin() + pos, raw.begin() + pos + n);
    pos += n;
  } while (pos < raw.size());
  uint32_t a = 1, b = 0;
  for (uint8_t byte : raw) a = (a + byte) % 65521, b = (b + a) % 65521;
  PutBig32(z, b << 16 | a);
  return z;
}

// channels 3 (RGB) or 4 (RGBA), 8 bits each, rows packed.
bool WritePng(const std::string& path, const uint8_t* pixels, uint32_t width, uint32_t height,
              uint32_t channels) {
  const size_t row_bytes = size_t{width} * channels;
  std::vector<uint8_t> raw;
  raw.reserve((row_bytes + 1) * height);
  for (uint32_t y = 0; y < height; ++y) {
    raw.push_back(0);  // no filter
    const uint8_t* row = pixels + y * row_bytes;
    raw.insert(raw.end(), row, row + row_bytes);
  }
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> header;
  PutBig32(header, width);
  PutBig32(header, height);
  const uint8_t colour_type = channels == 4 ? 6 : 2;  // RGBA or RGB
  header.insert(header.end(), {8, colour_type, 0, 0, 0});  // 8 bits a sample, no interlace
  PutChunk(png, "IHDR", header);
  PutChunk(png, "IDAT", ZlibStored(raw));
  PutChunk(png, "IEND", {});
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  return std::fclose(file) == 0 && ok;
}

// ---- Frame conversion ------------------------------------------------------------

struct Destination {
  uint32_t width, height;  // pixels and lines of the buffer
  int32_t pitch;
  size_t bytes;
};

// The buffer one frame needs: the display size (doubled by the scaling mode)
// at pitch = width x bytes per pixel; YV12 ignores scaling and adds its two
// quarter chroma planes.
Destination DestinationFor(const Movie& m, uint32_t format) {
  Destination d = {};
  if (format == COPY_YV12) {
    d.width = m.decoded_width;
    d.height = m.decoded_height;
    d.pitch = int32_t(d.width);
    d.bytes = size_t{d.width} * d.height + 2 * size_t{d.width / 2} * (d.height / 2);
  } else {
    d.width = m.width;
    d.height = m.height;
    d.pitch = int32_t(d.width * CopyBytesPerPixel(format));
    d.bytes = size_t(d.pitch) * d.height;
  }
  return d;
}

bool CopyFrame(Movie* m, uint32_t format, uint32_t extra_flags, std::vector<uint8_t>& buffer,
               Destination* dest) {
  *dest = DestinationFor(*m, format);
  buffer.assign(dest->bytes, 0);
  if (dest->bytes == 0) return false;
  // Every frame whole and never skipped: the tool wants each picture.
  uint32_t flags = format | extra_flags | COPY_ALL | COPY_NO_SKIP;
  MovieCopyToBuffer(m, buffer.data(), dest->pitch, dest->height, 0, 0, 0, 0, m->width, m->height,
                    flags);
  return true;
}

std::string PngPath(const std::string& dir, uint32_t frame) {
  char name[32];
  std::snprintf(name, sizeof name, "frame_%05u.png", frame);
  return dir + "/" + name;
}

struct PixelJob {
  std::string movie_path, out_path, png_dir;
  uint32_t format = 0;
  bool has_scale = false;
  uint32_t scale = 0;
  bool grey = false;
  int64_t frames = -1;  // -1 = all
  const DecodeOptions* options = nullptr;  // for --start
};

int RunPixelJob(const PixelJob& job) {
  // With its alpha plane, so the alpha formats and the PNGs carry it.
  uint32_t open_flags =
      OPEN_NO_THREAD | OPEN_TRACKS | OPEN_ALPHA | (job.grey ? uint32_t{OPEN_GRAYSCALE} : 0u);
  // A mode given on the command line replaces the movie's; 7 forces none.
  if (job.has_scale) open_flags |= job.scale << OPEN_SCALE_SHIFT;
  MovieSetSoundTracks(0, nullptr);  // pictures only
  Movie* movie = MovieOpen(job.movie_path.c_str(), open_flags);
  if (!movie) {
    std::fprintf(stderr, "vorntool decode: %s: %s\n", job.movie_path.c_str(), MovieGetError());
    return 1;
  }
  FILE* out = OpenOutput(job.out_path.c_str());
  if (!out) {
    std::fprintf(stderr, "vorntool decode: cannot write %s: %s\n", job.out_path.c_str(),
                 std::strerror(errno));
    MovieClose(movie);
    return 1;
  }
  uint32_t extra = job.grey ? COPY_GRAYSCALE : 0u;
  uint32_t first = 1;
  if (job.options && !DecodeSeekStart(movie, *job.options, &first)) {
    std::fclose(out);
    MovieClose(movie);
    return 1;
  }
  const uint64_t left = movie->frames - first + 1;
  uint64_t count = job.frames < 0 ? left : std::min<uint64_t>(job.frames, left);
  std::vector<uint8_t> pixels, picture;
  int result = 0;
  for (uint64_t i = 0; i < count && result == 0; ++i) {
    if (MovieDoFrame(movie) != 0) {  // missing: nothing to write, but counted
      MovieNextFrame(movie);
      continue;
    }
    Destination dest;
    if (!CopyFrame(movie, job.format, extra, pixels, &dest) ||
        std::fwrite(pixels.data(), 1, pixels.size(), out) != pixels.size()) {
      std::fprintf(stderr, "vorntool decode: cannot write %s\n", job.out_path.c_str());
      result = 1;
      break;
    }
    if (!job.png_dir.empty()) {
      const bool alpha = movie->alpha_buffers[0] != nullptr;
      Destination rgb;
      CopyFrame(movie, alpha ? COPY_RGBA32 : COPY_RGB24, extra, picture, &rgb);
      if (!WritePng(PngPath(job.png_dir, uint32_t(first + i)), picture.data(), rgb.width, rgb.height,
                    alpha ? 4 : 3)) {
        std::fprintf(stderr, "vorntool decode: cannot write %s\n",
                     PngPath(job.png_dir, uint32_t(first + i)).c_str());
        result = 1;
        break;
      }
    }
    MovieNextFrame(movie);
  }
  if (!CloseOutput(out) && result == 0) {
    std::fprintf(stderr, "vorntool decode: cannot write %s\n", job.out_path.c_str());
    result = 1;
  }
  if (result == 0) result = DecodeReportDamage(movie, job.movie_path.c_str());
  MovieClose(movie);
  return result;
}

}  // namespace

bool DecodeParsePixelFormat(const char* text, uint32_t* format) {
  if (!text) return false;
  for (const FormatName& f : kFormatNames) {
    if (std::strcmp(text, f.name) == 0) {
      *format = f.format;
      return true;
    }
  }
  char* end = nullptr;
  unsigned long value = std::strtoul(text, &end, 10);
  if (*text < '0' || *text > '9' || *end || value < 1 || value > 15) return false;
  *format = uint32_t(value);
  return true;
}

bool DecodeParseScale(const char* text, uint32_t* mode) {
  if (!text || text[0] < '0' || text[0] > '7' || text[1]) return false;
  *mode = uint32_t(text[0] - '0');
  return true;
}

// The decode command's --pixels part; the options were checked when read.
int DecodePixels(const DecodeOptions& options) {
  PixelJob job;
  DecodeParsePixelFormat(options.pixels_format, &job.format);
  job.has_scale = DecodeParseScale(options.scale, &job.scale);
  job.movie_path = options.movie_path;
  job.out_path = options.out_path;
  if (options.png_dir) job.png_dir = options.png_dir;
  job.grey = options.grey;
  if (options.has_frames) job.frames = options.frames;
  job.options = &options;
  return RunPixelJob(job);
}
