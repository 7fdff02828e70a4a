// MovieCopyToBuffer against the pixel-by-pixel model, per CPU level.
#include "convert/copy_to_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "convert/colour_tables.h"
#include "convert_reference.h"
#include "engine/movie_clock.h"
#include "platform/cpu.h"
#include "support/kernel_levels.h"

namespace {

constexpr uint8_t kGuard = 0xA5;

// Runs a test body once per processor level the machine has.
class CpuLevels : public ::testing::TestWithParam<uint32_t> {
 protected:
  void SetUp() override { old_mask_ = CpuSetMask(GetParam()); }
  void TearDown() override { CpuSetMask(old_mask_); }
  uint32_t old_mask_ = 0;
};

std::vector<uint32_t> LevelFlags() {
  std::vector<uint32_t> flags;
  for (const KernelLevel& level : KernelLevels()) flags.push_back(level.flags);
  return flags;
}

std::string LevelName(const ::testing::TestParamInfo<uint32_t>& info) {
  for (const KernelLevel& level : KernelLevels())
    if (level.flags == info.param) return level.name;
  return "unknown";
}

// The test movies set their kernels up from CpuFeatures(), as the open does.
INSTANTIATE_TEST_SUITE_P(Convert, CpuLevels, ::testing::ValuesIn(LevelFlags()), LevelName);

struct Canvas {
  uint32_t width, height, bpp;
  intptr_t pitch;
  std::vector<uint8_t> bytes;
  Canvas(uint32_t w, uint32_t h, uint32_t bytes_per_pixel, uint32_t slack = 13)
      : width(w),
        height(h),
        bpp(bytes_per_pixel),
        pitch(intptr_t(w) * bytes_per_pixel + slack),
        bytes(size_t(pitch) * h + 64, kGuard) {}
  uint8_t* At(uint32_t x, uint32_t y) { return bytes.data() + y * pitch + x * bpp; }
};

int32_t Copy(TestMovie& t, Canvas& c, uint32_t flags, int32_t dx = 0, int32_t dy = 0) {
  return MovieCopyToBuffer(&t.movie, c.bytes.data(), int32_t(c.pitch), c.height, dx, dy, 0, 0,
                           t.movie.width, t.movie.height, flags);
}

uint32_t Pixel32(Canvas& c, uint32_t x, uint32_t y) {
  uint32_t v;
  std::memcpy(&v, c.At(x, y), 4);
  return v;
}
uint32_t Pixel16(Canvas& c, uint32_t x, uint32_t y) {
  return c.At(x, y)[0] | uint32_t(c.At(x, y)[1]) << 8;
}

// ---- Colour arithmetic ----------------------------------------------------------

TEST_P(CpuLevels, WorkedColourValues) {
  auto t = MakeTestMovie(40, 18, 1, false);
  struct Case {
    uint8_t y, u, v;
    int b, g, r;
  } cases[] = {
      {128, 128, 128, 130, 130, 130}, {81, 90, 240, 0, 0, 253},
      {235, 128, 128, 254, 254, 254}, {255, 128, 128, 254, 254, 254},
      {16, 128, 128, 0, 0, 0},        {0, 128, 128, 0, 0, 0},
      {16, 0, 128, 0, 50, 0},         {255, 255, 255, 255, 102, 255},
  };
  for (const Case& k : cases) {
    // V is stored first, U second.
    FillUniform(*t, k.y, k.v, k.u, 0);
    Canvas c(40, 18, 4);
    EXPECT_EQ(Copy(*t, c, COPY_BGRX32 | COPY_ALL), 0);
    for (uint32_t x : {0u, 1u, 17u, 39u}) {
      uint32_t expected = uint32_t(k.b) | uint32_t(k.g) << 8 | uint32_t(k.r) << 16;
      EXPECT_EQ(Pixel32(c, x, 17), expected) << int(k.y) << "," << int(k.u) << "," << int(k.v);
    }
  }
}

TEST_P(CpuLevels, GreyReachesFullWhiteAndIgnoresChroma) {
  auto t = MakeTestMovie(36, 4, 2, false);
  for (int y : {0, 16, 17, 100, 234, 235, 255}) {
    FillUniform(*t, uint8_t(y), 0, 255, 0);
    Canvas c(36, 4, 4);
    Copy(*t, c, COPY_BGRX32 | COPY_ALL | COPY_GRAYSCALE);
    uint32_t g = uint32_t(RefGrey(y));
    EXPECT_EQ(Pixel32(c, 35, 3), g * 0x010101u) << y;
  }
  EXPECT_EQ(GreyValue(235), 255u);
  EXPECT_EQ(GreyValue(16), 0u);
  EXPECT_EQ(GreyValue(17), 1u);
}

TEST_P(CpuLevels, SixteenBitLayoutsPackClampedComponents) {
  auto t = MakeTestMovie(24, 2, 3, false);
  FillUniform(*t, 81, 240, 90, 0);  // red 253, green 0, blue 0
  for (uint32_t format : {7u, 8u, 9u, 10u, 11u, 12u}) {
    Canvas c(24, 2, 2);
    Copy(*t, c, format | COPY_ALL);
    EXPECT_EQ(Pixel16(c, 5, 1), RefPack16({0, 0, 253}, format)) << format;
  }
  uint32_t expected_565 = (253u >> 3) << 11;
  EXPECT_EQ(RefPack16({0, 0, 253}, COPY_RGB565), expected_565);
  FillUniform(*t, 235, 128, 128, 0);  // 254 everywhere
  Canvas c(24, 2, 2);
  Copy(*t, c, COPY_RGB565 | COPY_ALL);
  EXPECT_EQ(Pixel16(c, 23, 0), 0xFFFFu);
}

TEST_P(CpuLevels, AlphaLayoutsStoreTheAlphaSample) {
  auto t = MakeTestMovie(20, 2, 4, true);
  FillUniform(*t, 128, 128, 128, 0x9F);
  Canvas c4(20, 2, 2);
  Copy(*t, c4, COPY_ARGB4444 | COPY_ALL);
  EXPECT_EQ(Pixel16(c4, 9, 1) >> 12, 9u);
  FillUniform(*t, 128, 128, 128, 0x7F);
  Canvas c1(20, 2, 2);
  Copy(*t, c1, COPY_ARGB1555 | COPY_ALL);
  EXPECT_EQ(Pixel16(c1, 9, 1) >> 15, 0u);
  FillUniform(*t, 128, 128, 128, 0x80);
  Copy(*t, c1, COPY_ARGB1555 | COPY_ALL);
  EXPECT_EQ(Pixel16(c1, 9, 1) >> 15, 1u);
  Canvas c32(20, 2, 4);
  Copy(*t, c32, COPY_RGBA32 | COPY_ALL);
  EXPECT_EQ(Pixel32(c32, 19, 1), 0x80828282u);
}

TEST_P(CpuLevels, AlphaIsWrittenEverywhereInGreyAndDoubleWidth) {
  auto t = MakeTestMovie(37, 6, 5, true);
  FillUniform(*t, 128, 128, 128, 0x44);
  for (uint32_t mode : {0u, 3u, 4u}) {
    for (uint32_t grey : {0u, uint32_t(COPY_GRAYSCALE)}) {
      uint32_t factor = mode >= 3 ? 2 : 1;
      Canvas c(37 * factor, 6 * (mode == 4 ? 2 : 1), 4);
      Copy(*t, c, COPY_BGRA32 | COPY_ALL | grey | mode << 28, 3, 0);
      for (uint32_t x = 3; x < c.width; ++x) EXPECT_EQ(c.At(x, 1)[3], 0x44) << mode << " " << x;
    }
  }
}

TEST_P(CpuLevels, AlphaFormatsWithoutAlphaPlaneFallBack) {
  auto t = MakeTestMovie(45, 11, 6, false);
  for (auto [alpha_format, plain_format] : {std::pair{5u, 3u}, {6u, 4u}}) {
    Canvas a(45, 11, 4), b(45, 11, 4);
    Copy(*t, a, alpha_format | COPY_ALL);
    Copy(*t, b, plain_format | COPY_ALL);
    EXPECT_EQ(a.bytes, b.bytes);
  }
  for (uint32_t format : {7u, 8u}) {
    Canvas c(45, 11, 2), r(45, 11, 2);
    Copy(*t, c, format | COPY_ALL);
    RefCopy(*t, r.bytes.data(), r.pitch, 0, 0, 0, 0, 45, 11, format);
    EXPECT_EQ(c.bytes, r.bytes) << format;
  }
}

TEST_P(CpuLevels, ReversedGreyEqualsGrey) {
  auto t = MakeTestMovie(33, 7, 7, false);
  Canvas a(33, 7, 3), b(33, 7, 3);
  Copy(*t, a, COPY_BGR24 | COPY_ALL | COPY_GRAYSCALE);
  Copy(*t, b, COPY_RGB24 | COPY_ALL | COPY_GRAYSCALE);
  EXPECT_EQ(a.bytes, b.bytes);
}

TEST_P(CpuLevels, PackedYuvDoubleWidth) {
  auto t = MakeTestMovie(2, 2, 8, false);
  std::memset(t->Luma(), 0, 16 * 16);
  t->Luma()[0] = 10, t->Luma()[1] = 20;
  t->SecondChroma()[0] = 100;  // U
  t->FirstChroma()[0] = 200;   // V
  Canvas c(4, 1, 2, 0);
  MovieCopyToBuffer(&t->movie, c.bytes.data(), int32_t(c.pitch), 1, 0, 0, 0, 0, 2, 1,
                    COPY_YUY2 | COPY_ALL | SCALE_W2 << 28);
  const uint8_t expected[8] = {10, 100, 10, 200, 20, 100, 20, 200};
  EXPECT_EQ(std::memcmp(c.bytes.data(), expected, 8), 0);
  MovieCopyToBuffer(&t->movie, c.bytes.data(), int32_t(c.pitch), 1, 0, 0, 0, 0, 2, 1,
                    COPY_UYVY | COPY_ALL | SCALE_W2 << 28);
  const uint8_t expected_uyvy[8] = {100, 10, 200, 10, 100, 20, 200, 20};
  EXPECT_EQ(std::memcmp(c.bytes.data(), expected_uyvy, 8), 0);
}

TEST_P(CpuLevels, UvOrderExchangesThePlaneRoles) {
  auto t = MakeTestMovie(34, 6, 9, false);
  for (uint32_t format : {3u, 10u, 13u}) {
    Canvas swapped(34, 6, CopyBytesPerPixel(format)), reference(34, 6, CopyBytesPerPixel(format));
    Copy(*t, swapped, format | COPY_ALL | COPY_UV_ORDER);
    std::vector<uint8_t> first(t->FirstChroma(), t->SecondChroma());
    std::memcpy(t->FirstChroma(), t->SecondChroma(), first.size());
    std::memcpy(t->SecondChroma(), first.data(), first.size());
    Copy(*t, reference, format | COPY_ALL);
    std::memcpy(t->SecondChroma(), t->FirstChroma(), first.size());
    std::memcpy(t->FirstChroma(), first.data(), first.size());
    EXPECT_EQ(swapped.bytes, reference.bytes) << format;
  }
  // The movie's own flag counts as well.
  t->movie.flags = OPEN_UV_ORDER;
  Canvas from_movie(34, 6, 4), from_copy(34, 6, 4);
  Copy(*t, from_movie, 3 | COPY_ALL);
  t->movie.flags = 0;
  Copy(*t, from_copy, 3 | COPY_ALL | COPY_UV_ORDER);
  EXPECT_EQ(from_movie.bytes, from_copy.bytes);
}

// ---- Geometry ------------------------------------------------------------------

struct Geometry {
  uint32_t width, height, src_x, src_y, src_w, src_h;
  int32_t dest_x, dest_y;
};

TEST_P(CpuLevels, EveryFormatAndModeMatchesTheModel) {
  const Geometry shapes[] = {
      {64, 48, 0, 0, 64, 48, 0, 0}, {37, 23, 3, 1, 31, 21, 5, 2}, {50, 33, 1, 3, 48, 29, 0, 1},
      {19, 9, 0, 0, 19, 9, 1, 0},   {41, 17, 2, 2, 3, 14, 2, 3},  {100, 40, 6, 0, 77, 40, 3, 0},
      {20, 10, 5, 1, 3, 8, 1, 0},
  };
  uint32_t seed = 100;
  for (bool alpha : {false, true}) {
    for (const Geometry& g : shapes) {
      auto t = MakeTestMovie(g.width, g.height, ++seed, alpha);
      for (uint32_t format = 1; format <= 14; ++format) {
        for (uint32_t mode = 0; mode < 8; ++mode) {
          for (uint32_t extra : {0u, uint32_t(COPY_GRAYSCALE), uint32_t(COPY_UV_ORDER)}) {
            uint32_t flags = format | mode << 28 | extra | COPY_ALL;
            uint32_t wide = (mode >= 3 && mode <= 5) ? 2 : 1;
            uint32_t tall = (mode >= 1 && mode <= 5) || mode == 6 ? 2 : 1;
            uint32_t bpp = CopyBytesPerPixel(format);
            Canvas got((g.src_w + 8) * wide, (g.src_h + 4) * tall, bpp);
            Canvas want = got;
            MovieCopyToBuffer(&t->movie, got.bytes.data(), int32_t(got.pitch), got.height, g.dest_x,
                              g.dest_y, g.src_x, g.src_y, g.src_w, g.src_h, flags);
            RefCopy(*t, want.bytes.data(), want.pitch, g.dest_x, g.dest_y, g.src_x, g.src_y,
                    g.src_w, g.src_h, flags);
            ASSERT_EQ(got.bytes, want.bytes)
                << "format " << format << " mode " << mode << " extra " << extra << " size "
                << g.width << "x" << g.height << " alpha " << alpha;
          }
        }
      }
    }
  }
}

TEST_P(CpuLevels, NegativePitchWritesAnUprightPicture) {
  auto t = MakeTestMovie(29, 13, 11, false);
  Canvas top_down(33, 17, 4, 0), bottom_up(33, 17, 4, 0);
  MovieCopyToBuffer(&t->movie, top_down.bytes.data(), int32_t(top_down.pitch), 17, 2, 3, 0, 0, 29,
                    13, COPY_BGRX32 | COPY_ALL);
  // A bottom-up buffer: its first byte is the lowest line of the picture.
  MovieCopyToBuffer(&t->movie, bottom_up.bytes.data(), -int32_t(bottom_up.pitch), 17, 2, 3, 0, 0,
                    29, 13, COPY_BGRX32 | COPY_ALL);
  for (uint32_t line = 0; line < 17; ++line)
    EXPECT_EQ(std::memcmp(top_down.At(0, line), bottom_up.At(0, 16 - line), 33 * 4), 0) << line;
}

TEST_P(CpuLevels, SourceRectangleIsMappedAndClipped) {
  auto t = MakeTestMovie(40, 20, 12, false);
  Canvas c(40, 20, 4);
  std::vector<uint8_t> untouched = c.bytes;
  EXPECT_EQ(MovieCopyToBuffer(&t->movie, c.bytes.data(), int32_t(c.pitch), 20, 0, 0, 41, 0, 5, 5,
                              COPY_BGRX32 | COPY_ALL),
            0);
  EXPECT_EQ(MovieCopyToBuffer(&t->movie, c.bytes.data(), int32_t(c.pitch), 20, 0, 0, 0, 0, 0, 5,
                              COPY_BGRX32 | COPY_ALL),
            0);
  EXPECT_EQ(MovieCopyToBuffer(nullptr, c.bytes.data(), 4, 1, 0, 0, 0, 0, 1, 1, 3), 0);
  EXPECT_EQ(Copy(*t, c, COPY_NONE | COPY_ALL), 0);
  EXPECT_EQ(c.bytes, untouched);
  // Running past the frame is clipped to it.
  MovieCopyToBuffer(&t->movie, c.bytes.data(), int32_t(c.pitch), 20, 0, 0, 30, 15, 100, 100,
                    COPY_BGRX32 | COPY_ALL);
  Canvas want(40, 20, 4);
  RefCopy(*t, want.bytes.data(), want.pitch, 0, 0, 30, 15, 10, 5, COPY_BGRX32);
  EXPECT_EQ(c.bytes, want.bytes);
  // A display size twice the decoded size maps the rectangle down.
  t->movie.width = 80;
  t->movie.height = 40;
  Canvas mapped(40, 20, 4);
  MovieCopyToBuffer(&t->movie, mapped.bytes.data(), int32_t(mapped.pitch), 20, 0, 0, 10, 6, 40, 20,
                    COPY_BGRX32 | COPY_ALL);
  Canvas mapped_want(40, 20, 4);
  RefCopy(*t, mapped_want.bytes.data(), mapped_want.pitch, 0, 0, 5, 3, 20, 10, COPY_BGRX32);
  EXPECT_EQ(mapped.bytes, mapped_want.bytes);
}

TEST_P(CpuLevels, PlanarCopyKeepsEvenAlignment) {
  auto t = MakeTestMovie(30, 20, 13, false);
  const uint32_t W = 40, H = 24;
  for (uint32_t extra : {0u, uint32_t(COPY_UV_ORDER), uint32_t(COPY_GRAYSCALE)}) {
    std::vector<uint8_t> dest(W * H * 3 / 2 + 16, kGuard);
    MovieCopyToBuffer(&t->movie, dest.data(), W, H, 3, 2, 1, 4, 10, 9, COPY_YV12 | extra);
    // Source (2, 4) size 8 x 8 lands at (4, 2).
    std::vector<uint8_t> want(dest.size(), kGuard);
    const uint8_t* first = t->FirstChroma();
    const uint8_t* second = t->SecondChroma();
    if (extra & COPY_UV_ORDER) std::swap(first, second);
    for (uint32_t r = 0; r < 8; ++r) {
      std::memcpy(&want[(2 + r) * W + 4], t->Luma() + (4 + r) * 16 * 2 + 2, 8);
    }
    for (uint32_t r = 0; r < 4; ++r) {
      for (uint32_t c = 0; c < 4; ++c) {
        size_t src = (2 + r) * 16 + 1 + c;
        bool grey = extra & COPY_GRAYSCALE;
        want[W * H + (1 + r) * (W / 2) + 2 + c] = grey ? 128 : first[src];
        want[W * H + (W / 2) * (H / 2) + (1 + r) * (W / 2) + 2 + c] = grey ? 128 : second[src];
      }
    }
    EXPECT_EQ(dest, want) << extra;
  }
}

// A whole frame into a buffer of the frame's own shape (one block copy when
// the planes lie alike): the planes in Y, V, U order, nothing past them.
TEST(PlanarCopy, WholeFrameIntoABufferOfItsShape) {
  auto t = MakeTestMovie(32, 16, 21, false);
  const uint32_t W = 32, H = 16;
  for (uint32_t extra : {0u, uint32_t(COPY_UV_ORDER), uint32_t(COPY_GRAYSCALE)}) {
    std::vector<uint8_t> dest(W * H * 3 / 2 + 16, kGuard);
    MovieCopyToBuffer(&t->movie, dest.data(), W, H, 0, 0, 0, 0, W, H, COPY_YV12 | extra);
    std::vector<uint8_t> want(dest.size(), kGuard);
    const uint8_t* v = t->FirstChroma();
    const uint8_t* u = t->SecondChroma();
    if (extra & COPY_UV_ORDER) std::swap(u, v);
    const bool grey = extra & COPY_GRAYSCALE;
    std::memcpy(want.data(), t->Luma(), W * H);
    for (uint32_t i = 0; i < W * H / 4; ++i) {
      want[W * H + i] = grey ? 128 : v[i];
      want[W * H * 5 / 4 + i] = grey ? 128 : u[i];
    }
    EXPECT_EQ(dest, want) << extra;
  }
}

// ---- Changed blocks --------------------------------------------------------------

TEST_P(CpuLevels, ChangedBlockPathMatchesFullCopyOnChangedCells) {
  auto t = MakeTestMovie(88, 56, 14, true);  // 5 whole cells + 8 wide strip, 3 bands + 8
  uint32_t changed[] = {0, 1, 4, 6, 7, 10, 12, 13, 14, 17};  // block indices, 6 per row
  for (uint32_t format : {1u, 3u, 5u, 8u, 10u, 13u}) {
    for (uint32_t mode : {0u, 1u, 3u, 4u, 6u}) {
      t->SetAllChanged(false);
      for (uint32_t b : changed) t->map[b] = 1;
      uint32_t bpp = CopyBytesPerPixel(format);
      uint32_t wide = (mode >= 3 && mode <= 5) ? 2 : 1;
      uint32_t tall = mode == 0 || mode == 3 ? 1 : 2;
      Canvas partial(88 * wide, 56 * tall, bpp), full = partial;
      Copy(*t, partial, format | mode << 28);
      Copy(*t, full, format | mode << 28 | COPY_ALL);
      uint32_t rows = mode == 6 ? 28 : 56;
      for (uint32_t y = 0; y < rows * tall; ++y) {
        // Mode 6 converts halved rows: one band of 16 spans two map rows.
        uint32_t row = mode == 6 ? y / 2 : y / tall;
        for (uint32_t x = 0; x < 88; ++x) {
          uint32_t column = x / 16;
          bool in_strip = x >= 80 || row >= 48 || (mode == 6 && row >= 16);
          bool written = in_strip;
          if (!in_strip && mode == 6)
            written =
                t->map[(2 * (row / 16)) * 6 + column] || t->map[(2 * (row / 16) + 1) * 6 + column];
          else if (!in_strip)
            written = t->map[(row / 16) * 6 + column];
          if (mode == 6 && (y & 1)) written = false;  // interlaced lines keep their bytes
          for (uint32_t k = 0; k < wide; ++k) {
            uint8_t* got = partial.At(x * wide + k, y);
            uint8_t* want = full.At(x * wide + k, y);
            bool equal = std::memcmp(got, want, bpp) == 0;
            bool guard = std::all_of(got, got + bpp, [](uint8_t b) { return b == kGuard; });
            ASSERT_TRUE(written ? equal : guard)
                << "format " << format << " mode " << mode << " x " << x << " y " << y;
          }
        }
      }
    }
  }
}

TEST_P(CpuLevels, EveryBlockChangedTakesTheFullPath) {
  auto t = MakeTestMovie(35, 35, 15, false);
  Canvas a(35, 35, 2), b(35, 35, 2);
  Copy(*t, a, COPY_RGB565);
  Copy(*t, b, COPY_RGB565 | COPY_ALL);
  EXPECT_EQ(a.bytes, b.bytes);
}

// ---- Lateness ------------------------------------------------------------------

uint32_t g_fake_ms = 0;
bool NoCounter(uint64_t*) { return false; }
uint64_t ZeroCounter() { return 0; }
uint32_t FakeTimer() { return g_fake_ms; }

class LateCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    static const MovieClockSources sources = {NoCounter, ZeroCounter, FakeTimer};
    MovieClockSetSources(&sources);
    t_ = MakeTestMovie(32, 32, 16, false);
    Movie& m = t_->movie;
    m.selected_count = 1;
    m.rate_num = 10;
    m.rate_den = 1;
    m.late_limit = 200;
    m.frames_decoded = 2;
    m.clock_start_frames = 0;
    m.clock_start = 1000;
    g_fake_ms = 1000 + 200 + 201;  // frame 2 due at 200 ms, 201 ms late
  }
  void TearDown() override { MovieClockSetSources(nullptr); }
  std::unique_ptr<TestMovie> t_;
};

TEST_F(LateCopy, AtMostThreeCopiesInARowAreSkipped) {
  Canvas c(32, 32, 4);
  std::vector<uint8_t> untouched = c.bytes;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 1);
    EXPECT_EQ(c.bytes, untouched);
    EXPECT_EQ(t_->movie.skip_blit, 1u);
  }
  EXPECT_EQ(t_->movie.skipped_blits, 3u);
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 0);
  EXPECT_NE(c.bytes, untouched);
  EXPECT_EQ(t_->movie.skip_run, 0u);
  EXPECT_EQ(t_->movie.skip_blit, 1u);  // left as it was by the forced copy
}

TEST_F(LateCopy, NoSkipCopiesButReportsLateness) {
  Canvas c(32, 32, 4);
  std::vector<uint8_t> untouched = c.bytes;
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32 | COPY_NO_SKIP), 1);
  EXPECT_NE(c.bytes, untouched);
  t_->movie.flags = OPEN_NO_SKIP;
  Canvas d(32, 32, 4);
  EXPECT_EQ(Copy(*t_, d, COPY_BGRX32), 1);
  EXPECT_EQ(c.bytes, d.bytes);
  EXPECT_EQ(t_->movie.skipped_blits, 0u);
}

TEST_F(LateCopy, OnTimeOrWithoutSoundNothingIsSkipped) {
  Canvas c(32, 32, 4);
  g_fake_ms = 1000 + 200 + 200;  // exactly at the limit
  t_->movie.skip_blit = 1;
  t_->movie.skip_run = 2;
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 0);
  EXPECT_EQ(t_->movie.skip_blit, 0u);
  EXPECT_EQ(t_->movie.skip_run, 0u);
  g_fake_ms = 5000;
  t_->movie.selected_count = 0;
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 0);
  t_->movie.selected_count = 1;
  t_->movie.paused = 1;
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 0);
  t_->movie.paused = 0;
  t_->movie.clock_start = 0;  // a stopped clock starts now: not late
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 0);
  EXPECT_EQ(t_->movie.clock_start, 5000u);
}

TEST_F(LateCopy, SkippedChangesAreCopiedNextTime) {
  // The engine keeps the map while skip_blit is set, so the next copy still
  // sees the skipped frame's blocks.
  t_->SetAllChanged(false);
  t_->map[1] = 1;
  Canvas c(32, 32, 4);
  std::vector<uint8_t> untouched = c.bytes;
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 1);
  EXPECT_EQ(c.bytes, untouched);
  g_fake_ms = 1000;  // on time again
  EXPECT_EQ(Copy(*t_, c, COPY_BGRX32), 0);
  Canvas want(32, 32, 4);
  RefCopy(*t_, want.bytes.data(), want.pitch, 16, 0, 16, 0, 16, 16, COPY_BGRX32);
  EXPECT_EQ(c.bytes, want.bytes);
}

// ---- Read-ahead ------------------------------------------------------------------

struct ReaderLog {
  int tries = 0, idles = 0, unlocks = 0, yields = 0;
  bool free = true;
};
ReaderLog g_log;
int TryLock(IoReader*) { return ++g_log.tries, g_log.free ? 1 : 0; }
void Unlock(IoReader*) { ++g_log.unlocks; }
int32_t Idle(IoReader* io) {
  ++g_log.idles;
  EXPECT_EQ(io->foreground_busy, 1u);
  return 1;
}
void Yield(IoReader*) { ++g_log.yields; }

TEST(ConvertReadAhead, TriesTheReaderMutexWithoutWaiting) {
  auto t = MakeTestMovie(16, 16, 17, false);
  Movie& m = t->movie;
  m.preload = nullptr;
  m.io.try_lock = TryLock;
  m.io.unlock = Unlock;
  m.io.idle = Idle;
  m.io.yield = Yield;
  m.io.fill_target = 1000;
  m.io.buffered = 100;
  Canvas c(16, 16, 4);
  g_log = {};
  Copy(*t, c, COPY_BGRX32);
  EXPECT_EQ(g_log.idles, 1);
  EXPECT_EQ(g_log.unlocks, 1);
  EXPECT_EQ(m.io.foreground_busy, 0u);
  g_log = {};
  g_log.free = false;
  Copy(*t, c, COPY_BGRX32);
  EXPECT_EQ(g_log.idles, 0);
  EXPECT_EQ(g_log.yields, 1);
  m.flags = OPEN_NO_THREAD;
  Copy(*t, c, COPY_BGRX32);
  EXPECT_EQ(g_log.yields, 1);
  g_log = {};
  m.io.buffered = 750;  // 75 % full: no read
  Copy(*t, c, COPY_BGRX32);
  EXPECT_EQ(g_log.tries, 0);
}

// ---- Tables --------------------------------------------------------------------

TEST(ConvertTables, RebuiltOnlyWhenTheSixteenBitLayoutChanges) {
  ConvertPrepareTables(COPY_RGB555);
  uint32_t builds = ConvertTableBuildCount();
  ConvertPrepareTables(COPY_RGB555);
  ConvertPrepareTables(COPY_ARGB1555);  // same layout
  ConvertPrepareTables(COPY_BGRX32);    // no 16-bit layout
  ConvertPrepareTables(-1);
  EXPECT_EQ(ConvertTableBuildCount(), builds);
  ConvertPrepareTables(COPY_RGB565);
  EXPECT_EQ(ConvertTableBuildCount(), builds + 1);
  EXPECT_EQ(ComponentTable16[COMPONENT_GREEN][VARIANT_LOW][kClampBias + 255], 0x3Fu << 5);
  ConvertPrepareTables(COPY_RGB555);
  EXPECT_EQ(ConvertTableBuildCount(), builds + 2);
  EXPECT_EQ(ComponentTable16[COMPONENT_GREEN][VARIANT_LOW][kClampBias + 255], 0x1Fu << 5);
}

TEST(ConvertTables, ChromaTablesTruncateTowardZero) {
  ConvertPrepareTables(-1);
  EXPECT_EQ(BlueFromU[0], -258);
  EXPECT_EQ(BlueFromU[255], 256);
  EXPECT_EQ(RedFromV[0], -204);
  EXPECT_EQ(RedFromV[255], 202);
  EXPECT_EQ(GreenFromU[0], 50);
  EXPECT_EQ(GreenFromU[255], -49);
  EXPECT_EQ(GreenFromV[0], 104);
  EXPECT_EQ(GreenFromV[255], -103);
  EXPECT_EQ(LumaTable[235], 254);
  EXPECT_EQ(PackedBlueFromU[0], 0xFEFEFEFEu);
  // The lowest reachable sums read as 0 and the highest as 255.
  EXPECT_EQ(LumaClampPointer[0][BlueFromU[0]], 0u);
  EXPECT_EQ(LumaClampPointer[255][BlueFromU[255]], 255u);
  EXPECT_EQ(AlphaNibbleTable[0x9F], 0x9000);
}

}  // namespace

namespace {

TEST(ConvertPathChoice, NoVectorFlagsOfCopyAndMovieChooseThePlainPath) {
  // A movie opened with vector code off (or on a processor without it) has
  // no vector flags at all.
  for (uint32_t cpu_flags : {CpuDetected(), 0u}) {
    auto t = MakeTestMovie(40, 8, 18, false);
    t->movie.cpu_flags = cpu_flags;
    std::vector<uint8_t> dest(40 * 8 * 4);
    auto copy = [&](uint32_t flags) {
      MovieCopyToBuffer(&t->movie, dest.data(), 160, 8, 0, 0, 0, 0, 40, 8, COPY_BGRX32 | flags);
      return ConvertUsedVector(&t->movie);
    };
    EXPECT_EQ(copy(0), (cpu_flags & CPU_SSE2) ? 1u : 0u);
    EXPECT_EQ(copy(COPY_NO_MMX), 0u);
    t->movie.flags = OPEN_NO_MMX;
    EXPECT_EQ(copy(0), 0u);
  }
}

}  // namespace

namespace {

// Random frames, rectangles, positions, formats, modes and flags: every copy
// equals the model byte for byte, guard bytes included.
TEST_P(CpuLevels, RandomCopiesMatchTheModel) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 150; ++trial) {
    uint32_t width = 1 + rng() % 70, height = 1 + rng() % 40;
    auto t = MakeTestMovie(width, height, uint32_t(rng()), rng() % 2 == 0);
    uint32_t src_x = rng() % width, src_y = rng() % height;
    uint32_t src_w = 1 + rng() % (width - src_x), src_h = 1 + rng() % (height - src_y);
    uint32_t format = 1 + rng() % 14, mode = rng() % 8;
    uint32_t flags = format | mode << 28 | COPY_ALL;
    if (rng() % 3 == 0) flags |= COPY_GRAYSCALE;
    if (rng() % 3 == 0) flags |= COPY_UV_ORDER;
    int32_t dest_x = int32_t(rng() % 5), dest_y = int32_t(rng() % 3);
    uint32_t wide = (mode >= 3 && mode <= 5) ? 2 : 1;
    uint32_t tall = (mode >= 1 && mode <= 6) ? 2 : 1;
    Canvas got((src_w + 6) * wide, (src_h + 3) * tall, CopyBytesPerPixel(format), rng() % 9);
    Canvas want = got;
    MovieCopyToBuffer(&t->movie, got.bytes.data(), int32_t(got.pitch), got.height, dest_x, dest_y,
                      src_x, src_y, src_w, src_h, flags);
    RefCopy(*t, want.bytes.data(), want.pitch, dest_x, dest_y, src_x, src_y, src_w, src_h, flags);
    ASSERT_EQ(got.bytes, want.bytes) << "trial " << trial << " format " << format << " mode "
                                     << mode << " flags " << std::hex << flags;
  }
}

}  // namespace

namespace {

TEST(ConvertRecordLimits, NeverReadsPastThePaddedPlanes) {
  auto t = MakeTestMovie(20, 20, 19, false);  // planes of 32 x 32
  t->movie.width = t->movie.decoded_width = 4000;
  t->movie.height = t->movie.decoded_height = 3000;
  std::vector<uint8_t> dest(size_t{4000} * 4 * 40, kGuard);
  MovieCopyToBuffer(&t->movie, dest.data(), 4000 * 4, 40, 0, 0, 0, 0, 4000, 3000,
                    COPY_BGRX32 | COPY_ALL);
  // Only the 32 x 32 padded frame was converted.
  EXPECT_EQ(dest[31 * 4 + 3], 0);
  EXPECT_EQ(dest[32 * 4], kGuard);
  EXPECT_EQ(dest[size_t{31} * 4000 * 4 + 3], 0);
  EXPECT_EQ(dest[size_t{32} * 4000 * 4], kGuard);
}

}  // namespace
