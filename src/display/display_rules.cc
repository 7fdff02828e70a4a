// Pure rules of the display: pixel formats to destination formats, scaling
// needs, black fills, depth orders, rectangle scaling and overlay clipping.
#include <cstring>

#include "convert/copy_to_buffer.h"
#include "display/display_buffer.h"
#include "vorn/movie.h"

namespace {

constexpr uint32_t FourCc(char a, char b, char c, char d) {
  return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
         (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
         (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
         (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

int32_t Format16(const DisplayPixelFormat& pf) {
  const uint32_t r = pf.red, g = pf.green, b = pf.blue, a = pf.alpha;
  if (r == 0xF800 && g == 0x07E0 && b == 0x001F) return COPY_RGB565;
  if (r == 0x7C00 && g == 0x03E0 && b == 0x001F) return a == 0x8000 ? COPY_ARGB1555 : COPY_RGB555;
  if (r == 0xFC00 && g == 0x03E0 && b == 0x001F) return COPY_RGB655;
  if (r == 0xFC00 && g == 0x03F0 && b == 0x000F) return COPY_RGB664;
  if (a == 0xF000 && r == 0x0F00 && g == 0x00F0 && b == 0x000F) return COPY_ARGB4444;
  return -1;
}

int64_t Scale(int64_t v, uint32_t to, uint32_t from) {
  return from ? v * static_cast<int64_t>(to) / static_cast<int64_t>(from) : v;
}

}  // namespace

int32_t DisplayFormatFromPixel(const DisplayPixelFormat& pf) {
  if (pf.fourcc == FourCc('U', 'Y', 'V', 'Y')) return COPY_UYVY;
  if (pf.fourcc == FourCc('Y', 'V', '1', '2')) return COPY_YV12;
  if (pf.fourcc == FourCc('Y', 'U', 'Y', '2')) return COPY_YUY2;
  if (pf.fourcc) return -1;
  switch (pf.bits) {
    case 8:
      return COPY_NONE;
    case 24:
      return pf.red == 0xFF0000 ? COPY_BGR24 : COPY_RGB24;
    case 32:
      return (pf.red == 0xFF0000 ? COPY_BGRX32 : COPY_RGBX32) + (pf.alpha ? 2 : 0);
    case 16:
      return Format16(pf);
    default:
      return -1;
  }
}

uint32_t DisplayScaleNeed(uint32_t presented, uint32_t movie, uint32_t int_bit) {
  if (presented == movie || movie == 0) return 0;
  if (presented % movie == 0) return int_bit;                       // integer stretch
  if (presented != 0 && movie % presented == 0) return int_bit >> 2;  // integer shrink
  return presented > movie ? int_bit >> 1 : int_bit >> 3;
}

void DisplayFillBlack(uint8_t* bits, int32_t pitch, uint32_t width, uint32_t height,
                      uint32_t format, uint32_t screen_bytes) {
  uint8_t* row = bits;
  switch (format) {
    case COPY_NONE:
    case COPY_BGR24:
    case COPY_BGRX32:
    case COPY_RGB555:
    case COPY_RGB565:
    case COPY_RGB655:
    case COPY_RGB664:
      for (uint32_t y = 0; y < height; ++y, row += pitch) std::memset(row, 0, width * screen_bytes);
      return;
    case COPY_YUY2:
    case COPY_UYVY: {
      // Luma 0 and neutral chroma, the byte order of each packing.
      const uint8_t first = format == COPY_YUY2 ? 0x00 : 0x80;
      for (uint32_t y = 0; y < height; ++y, row += pitch)
        for (uint32_t x = 0; x < width; ++x) {
          row[2 * x] = first;
          row[2 * x + 1] = static_cast<uint8_t>(first ^ 0x80);
        }
      return;
    }
    case COPY_YV12: {
      for (uint32_t y = 0; y < height; ++y, row += pitch) std::memset(row, 16, width);
      const int32_t chroma_pitch = pitch / 2;
      for (uint32_t y = 0; y < height; ++y, row += chroma_pitch) std::memset(row, 128, width / 2);
      return;
    }
    default:  // formats whose black needs the alpha or byte order left alone
      return;
  }
}

uint32_t DisplayDepthList(uint32_t code, uint32_t depths[3]) {
  switch (code) {
    case 8:
    case 16:
    case 24:
    case 32:
      depths[0] = code;
      return 1;
    case 1:  // at least high colour
      depths[0] = 16, depths[1] = 32, depths[2] = 24;
      return 3;
    case 2:  // true colour preferred
      depths[0] = 32, depths[1] = 24, depths[2] = 16;
      return 3;
    case 3:  // true colour only
      depths[0] = 32, depths[1] = 24;
      return 2;
    default:
      return 0;
  }
}

MovieRect DisplayScaleRect(const DisplayBuffer* b, const MovieRect& r) {
  // Both edges are scaled, so neighbouring rectangles meet without gaps.
  int64_t left = Scale(r.x, b->presented_width, b->width);
  int64_t top = Scale(r.y, b->presented_height, b->height);
  int64_t right = Scale(int64_t{r.x} + r.width, b->presented_width, b->width);
  int64_t bottom = Scale(int64_t{r.y} + r.height, b->presented_height, b->height);
  return {static_cast<int32_t>(left), static_cast<int32_t>(top),
          static_cast<int32_t>(right - left), static_cast<int32_t>(bottom - top)};
}

bool DisplayOverlayClip(const DisplayBuffer* b, DisplayOverlayRects* o) {
  *o = {0, 0, static_cast<int32_t>(b->width), static_cast<int32_t>(b->height), b->screen_x,
        b->screen_y, b->screen_x + static_cast<int32_t>(b->presented_width),
        b->screen_y + static_cast<int32_t>(b->presented_height)};
  // The source moves by the same number of pixels as the destination edge.
  if (o->dst_left < 0) o->src_left -= o->dst_left, o->dst_left = 0;
  if (o->dst_top < 0) o->src_top -= o->dst_top, o->dst_top = 0;
  const int32_t sw = static_cast<int32_t>(b->screen_width);
  const int32_t sh = static_cast<int32_t>(b->screen_height);
  if (o->dst_right > sw) o->src_right -= o->dst_right - sw, o->dst_right = sw;
  if (o->dst_bottom > sh) o->src_bottom -= o->dst_bottom - sh, o->dst_bottom = sh;
  return o->src_left < o->src_right && o->src_top < o->src_bottom &&
         o->dst_left < o->dst_right && o->dst_top < o->dst_bottom;
}

bool DisplayCursorOverlaps(const DisplayBuffer* b, int32_t x, int32_t y, int32_t w, int32_t h) {
  const int32_t left = b->screen_x, top = b->screen_y;
  const int32_t right = left + static_cast<int32_t>(b->width);
  const int32_t bottom = top + static_cast<int32_t>(b->height);
  return !(x + w <= left || x >= right || y + h <= top || y >= bottom);
}
