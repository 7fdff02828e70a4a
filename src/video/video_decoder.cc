// VideoDecodeFrame: splits a frame's video data into its planes.
#include "video/video_decoder.h"

#include <cstring>

#include "video/plane_decoder.h"

namespace {

// The decoder's reading of the open flags and header video flags.
constexpr uint32_t kOldColours = 0x8000;
constexpr uint32_t kGrey = 0x20000;
constexpr uint32_t kAlpha = 0x100000;

uint32_t LoadLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

uint32_t RoundUp8(uint32_t n) { return (n + 7) & ~7u; }

struct FrameGeometry {
  uint32_t pitch, rows;          // luma plane in memory
  uint32_t width8, height8;      // luma decoded
  uint32_t cwidth8, cheight8;    // chroma decoded
};

// A plane whose data cannot even be located is kept from the previous frame.
void KeepPlane(uint8_t* dest, const uint8_t* prev, uint32_t width8, uint32_t height8,
               uint32_t pitch) {
  if (dest == prev) return;
  for (uint32_t y = 0; y < height8; y++) std::memcpy(dest + y * pitch, prev + y * pitch, width8);
}

// Decodes one plane from data[begin, end); *whole drops to false when the
// plane had to be abandoned.
uint32_t DecodeSpan(const PlaneDecodeArgs& plane, const uint8_t* data, uint32_t begin,
                    uint32_t end, bool* whole) {
  int ok = 1;
  if (begin > end) begin = end;  // located past the data: every read is past the end
  const uint32_t used = VideoDecodePlane(plane, data + begin, end - begin, &ok);
  if (!ok) *whole = false;
  return begin + used;
}

}  // namespace

void VideoKernelsInit(VideoKernels* kernels, uint32_t cpu_flags) {
  IdctKernelsInit(&kernels->idct, cpu_flags);
  BlockKernelsInit(&kernels->block, cpu_flags);
}

int VideoDecodeFrame(uint32_t pitch, uint32_t width, uint32_t height, uint8_t* dest,
                      const uint8_t* prev, uint8_t* dest_alpha, const uint8_t* prev_alpha,
                      uint8_t* block_map, uint32_t rows, const uint8_t* data, uint32_t data_size,
                      int /*key_frame*/, uint8_t* const bundle_buffers[BUNDLE_COUNT],
                      uint32_t flags, uint32_t video_flags, const VideoKernels& kernels) {
  if (!dest || !prev || !block_map || !bundle_buffers || (!data && data_size)) return 0;
  FrameGeometry g{pitch, rows, RoundUp8(width), RoundUp8(height), RoundUp8((width + 1) / 2),
                  RoundUp8((height + 1) / 2)};
  // A geometry the buffers cannot hold is refused outright.
  if (width == 0 || height == 0 || pitch % 16 || rows % 16 || g.width8 > pitch ||
      g.height8 > rows || g.cwidth8 > pitch / 2 || g.cheight8 > rows / 2 || pitch > 0x8000 ||
      rows > 0x8000)
    return 0;
  for (int b = 0; b < BUNDLE_COUNT; b++)
    if (!bundle_buffers[b]) return 0;

  PlaneDecodeArgs luma{dest, prev, g.width8, g.height8, pitch, rows, block_map, pitch / 16,
                       1, bundle_buffers, pitch, (flags & kOldColours) ? 1u : 0u, &kernels};
  PlaneDecodeArgs chroma1 = luma;
  chroma1.dest = dest + pitch * rows;
  chroma1.prev = prev + pitch * rows;
  chroma1.width8 = g.cwidth8;
  chroma1.height8 = g.cheight8;
  chroma1.pitch = pitch / 2;
  chroma1.plane_rows = rows / 2;
  chroma1.scale = 2;
  PlaneDecodeArgs chroma2 = chroma1;
  chroma2.dest += (pitch / 2) * (rows / 2);
  chroma2.prev += (pitch / 2) * (rows / 2);
  bool grey = flags & kGrey;
  auto keep_all = [&](bool keep_luma) {
    if (keep_luma) KeepPlane(luma.dest, luma.prev, luma.width8, luma.height8, luma.pitch);
    if (grey) return 0;
    KeepPlane(chroma1.dest, chroma1.prev, chroma1.width8, chroma1.height8, chroma1.pitch);
    KeepPlane(chroma2.dest, chroma2.prev, chroma2.width8, chroma2.height8, chroma2.pitch);
    return 0;
  };
  bool whole = true;

  uint32_t pos = 0;
  if (video_flags & kAlpha) {
    // The alpha section's size locates everything after it; a size that
    // does not fit the data leaves the whole frame as it was.
    uint32_t alpha_size = data_size >= 4 ? LoadLe32(data) : 0;
    bool wanted = (flags & kAlpha) && dest_alpha && prev_alpha;
    if (alpha_size < 4 || alpha_size > data_size) {
      if (wanted) KeepPlane(dest_alpha, prev_alpha, luma.width8, luma.height8, luma.pitch);
      return keep_all(true);
    }
    if (wanted) {
      PlaneDecodeArgs alpha = luma;
      alpha.dest = dest_alpha;
      alpha.prev = prev_alpha;
      DecodeSpan(alpha, data, 4, alpha_size, &whole);
    }
    pos = alpha_size;
  }
  uint32_t chroma_pos;
  if (!(flags & kOldColours)) {
    uint32_t luma_size = data_size - pos >= 4 ? LoadLe32(data + pos) : 0;
    if (luma_size < 4 || luma_size > data_size - pos) return keep_all(true);
    chroma_pos = pos + luma_size;
    DecodeSpan(luma, data, pos + 4, chroma_pos, &whole);
  } else {
    chroma_pos = DecodeSpan(luma, data, pos, data_size, &whole);
  }
  if (grey) return whole ? 1 : 0;
  uint32_t second_pos = DecodeSpan(chroma1, data, chroma_pos, data_size, &whole);
  DecodeSpan(chroma2, data, second_pos, data_size, &whole);
  return whole ? 1 : 0;
}
