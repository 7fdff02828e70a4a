#include "convert_reference.h"
#include "platform/cpu.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace {
int Clamp255(int v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }
// Truncating fixed-point product as the colour arithmetic defines it.
int Fixed(int factor, int delta) { return factor * delta / 32768; }
}  // namespace

RefRgb RefColour(int y, int u, int v) {
  int k = std::clamp(y - 16, 0, 219);
  int l = (k * 38154) >> 15;
  int blue = Fixed(66101, u - 128);
  int red = Fixed(52299, v - 128);
  int green = Fixed(12837, 128 - u) + Fixed(26639, 128 - v);
  return {Clamp255(l + blue), Clamp255(l + green), Clamp255(l + red)};
}

int RefGrey(int y) {
  int s = 255 * (y - 16);
  if (s <= 0) return 0;
  if (s >= 55845) return 255;
  return s / 219;
}

RefLayout RefLayoutFor(uint32_t format) {
  switch (format) {
    case COPY_ARGB4444:
      return {{4, 4, 4}, {0, 4, 8}};
    case COPY_ARGB1555:
    case COPY_RGB555:
      return {{5, 5, 5}, {0, 5, 10}};
    case COPY_RGB565:
      return {{5, 6, 5}, {0, 5, 11}};
    case COPY_RGB655:
      return {{5, 5, 6}, {0, 5, 10}};
    case COPY_RGB664:
      return {{4, 6, 6}, {0, 4, 10}};
    default:
      return {};
  }
}

uint32_t RefPack16(const RefRgb& c, uint32_t format) {
  RefLayout l = RefLayoutFor(format);
  int comp[3] = {c.b, c.g, c.r};
  uint32_t p = 0;
  for (int i = 0; i < 3; ++i) p |= uint32_t(comp[i] >> (8 - l.bits[i])) << l.shift[i];
  return p;
}

void TestMovie::SetAllChanged(bool changed) {
  std::fill(map.begin(), map.end() - 1, changed ? 1 : 0);
  map.back() = 0;
}

std::unique_ptr<TestMovie> MakeTestMovie(uint32_t width, uint32_t height, uint32_t seed,
                                         bool with_alpha) {
  auto t = std::make_unique<TestMovie>();
  Movie& m = t->movie;
  m.cpu_flags = CpuFeatures();  // as the open sets it
  m.width = m.decoded_width = width;
  m.height = m.decoded_height = height;
  m.plane_width = (width + 15) & ~15u;
  m.plane_height = (height + 15) & ~15u;
  m.chroma_width = m.plane_width / 2;
  m.chroma_height = m.plane_height / 2;
  m.blocks_per_row = m.plane_width / 16;
  m.block_count = m.blocks_per_row * (m.plane_height / 16);
  m.late_limit = 2000;
  m.preload = reinterpret_cast<uint8_t*>(t.get());  // no reader behind the movie
  std::mt19937 rng(seed);
  size_t size = size_t{m.plane_width} * m.plane_height * 3 / 2;
  for (int b = 0; b < 2; ++b) {
    t->frame[b].resize(size);
    for (auto& byte : t->frame[b]) byte = uint8_t(rng());
    m.yuv_buffers[b] = t->frame[b].data();
    if (with_alpha) {
      t->alpha[b].resize(size_t{m.plane_width} * m.plane_height);
      for (auto& byte : t->alpha[b]) byte = uint8_t(rng());
      m.alpha_buffers[b] = t->alpha[b].data();
    }
  }
  m.cur_buffer = 1;  // the frame decoded last is buffer 0
  t->map.resize(m.block_count + 1);
  m.block_map = t->map.data();
  t->SetAllChanged(true);
  t->track.speed_factor = SOUND_SPEED_NOMINAL;
  m.tracks = &t->track;
  return t;
}

void FillUniform(TestMovie& t, uint8_t y, uint8_t first_chroma, uint8_t second_chroma,
                 uint8_t alpha) {
  size_t luma = size_t{t.movie.plane_width} * t.movie.plane_height;
  std::memset(t.Luma(), y, luma);
  std::memset(t.FirstChroma(), first_chroma, luma / 4);
  std::memset(t.SecondChroma(), second_chroma, luma / 4);
  if (t.Alpha()) std::memset(t.Alpha(), alpha, luma);
}

namespace {

void StorePixel(uint8_t* p, uint32_t format, int y, int u, int v, int a, bool grey, bool alpha,
                bool second_of_pair) {
  RefRgb c = grey ? RefRgb{RefGrey(y), RefGrey(y), RefGrey(y)} : RefColour(y, u, v);
  switch (format) {
    case COPY_BGR24:
      p[0] = c.b, p[1] = c.g, p[2] = c.r;
      break;
    case COPY_RGB24:
      p[0] = c.r, p[1] = c.g, p[2] = c.b;
      break;
    case COPY_BGRX32:
    case COPY_BGRA32:
      p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = alpha ? a : 0;
      break;
    case COPY_RGBX32:
    case COPY_RGBA32:
      p[0] = c.r, p[1] = c.g, p[2] = c.b, p[3] = alpha ? a : 0;
      break;
    case COPY_YUY2:
    case COPY_UYVY: {
      int chroma = grey ? 128 : (second_of_pair ? v : u);
      p[format == COPY_YUY2 ? 0 : 1] = uint8_t(y);
      p[format == COPY_YUY2 ? 1 : 0] = uint8_t(chroma);
      break;
    }
    default: {
      uint32_t px = RefPack16(c, format);
      if (alpha && format == COPY_ARGB4444) px |= uint32_t(a >> 4) << 12;
      if (alpha && format == COPY_ARGB1555) px |= uint32_t(a >> 7) << 15;
      p[0] = uint8_t(px), p[1] = uint8_t(px >> 8);
    }
  }
}

}  // namespace

void RefCopy(TestMovie& t, uint8_t* dest, intptr_t pitch, int32_t dest_x, int32_t dest_y,
             uint32_t src_x, uint32_t src_y, uint32_t width, uint32_t height, uint32_t flags) {
  const Movie& m = t.movie;
  flags |= m.flags & COPY_MOVIE_FLAG_MASK;
  uint32_t format = flags & COPY_FORMAT_MASK;
  uint32_t mode = (flags >> 28) & 7;
  bool grey = flags & COPY_GRAYSCALE;
  bool alpha = t.Alpha() != nullptr && format >= 5 && format <= 8;
  bool x2 = mode >= 3 && mode <= 5;
  uint32_t bpp = CopyBytesPerPixel(format);
  const uint8_t* u_plane = (flags & COPY_UV_ORDER) ? t.FirstChroma() : t.SecondChroma();
  const uint8_t* v_plane = (flags & COPY_UV_ORDER) ? t.SecondChroma() : t.FirstChroma();
  uint32_t P = m.plane_width;
  uint32_t first_row = src_y, rows = height;
  if (mode == 6) first_row /= 2, rows /= 2;
  for (uint32_t i = 0; i < rows; ++i) {
    uint32_t row = first_row + i;
    // Mode 6 reads every second stored row; its chroma pitch doubles with it.
    uint32_t luma_row = mode == 6 ? 2 * row : row;
    uint32_t chroma_row = mode == 6 ? 2 * (row / 2) : row / 2;
    std::vector<int32_t> lines;
    if (mode == 0 || mode == 3 || mode == 7)
      lines = {int32_t(i)};
    else if (mode == 1 || mode == 4)
      lines = {int32_t(2 * i), int32_t(2 * i + 1)};
    else
      lines = {int32_t(2 * i)};
    for (uint32_t j = 0; j < width; ++j) {
      uint32_t x = src_x + j;
      int y = t.Luma()[luma_row * P + x];
      int u = u_plane[chroma_row * (P / 2) + x / 2];
      int v = v_plane[chroma_row * (P / 2) + x / 2];
      int a = alpha ? t.Alpha()[luma_row * P + x] : 0;
      for (int32_t line : lines) {
        uint8_t* d = dest + (intptr_t(dest_y) + line) * pitch;
        if (x2) {
          uint8_t* p = d + (intptr_t(dest_x) + 2 * j) * bpp;
          StorePixel(p, format, y, u, v, a, grey, alpha, false);
          StorePixel(p + bpp, format, y, u, v, a, grey, alpha, true);
        } else {
          StorePixel(d + (intptr_t(dest_x) + j) * bpp, format, y, u, v, a, grey, alpha, x & 1);
        }
      }
    }
  }
}
