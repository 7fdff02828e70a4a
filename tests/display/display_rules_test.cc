// The display's pure rules: surface pixel formats to copy formats, scaling
// needs, black fills, depth orders, rectangle scaling, overlay clipping.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "display/display_buffer.h"
#include "engine/movie.h"

namespace {

constexpr uint32_t FourCc(const char* s) {
  return static_cast<uint32_t>(s[0]) | static_cast<uint32_t>(s[1]) << 8 |
         static_cast<uint32_t>(s[2]) << 16 | static_cast<uint32_t>(s[3]) << 24;
}

TEST(DisplayFormat, MapsEverySurfaceLayoutTheCopyCanWrite) {
  struct Case {
    DisplayPixelFormat pf;
    int32_t format;
  };
  const Case cases[] = {
      {{FourCc("UYVY"), 0, 0, 0, 0, 0}, COPY_UYVY},
      {{FourCc("YV12"), 0, 0, 0, 0, 0}, COPY_YV12},
      {{FourCc("YUY2"), 0, 0, 0, 0, 0}, COPY_YUY2},
      {{FourCc("I420"), 0, 0, 0, 0, 0}, -1},
      {{0, 8, 0, 0, 0, 0}, COPY_NONE},
      {{0, 24, 0xFF0000, 0xFF00, 0xFF, 0}, COPY_BGR24},
      {{0, 24, 0xFF, 0xFF00, 0xFF0000, 0}, COPY_RGB24},
      {{0, 32, 0xFF0000, 0xFF00, 0xFF, 0}, COPY_BGRX32},
      {{0, 32, 0xFF, 0xFF00, 0xFF0000, 0}, COPY_RGBX32},
      {{0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000}, COPY_BGRA32},
      {{0, 32, 0xFF, 0xFF00, 0xFF0000, 0xFF000000}, COPY_RGBA32},
      {{0, 16, 0xF800, 0x07E0, 0x001F, 0}, COPY_RGB565},
      {{0, 16, 0x7C00, 0x03E0, 0x001F, 0x8000}, COPY_ARGB1555},
      {{0, 16, 0x7C00, 0x03E0, 0x001F, 0}, COPY_RGB555},
      {{0, 16, 0xFC00, 0x03E0, 0x001F, 0}, COPY_RGB655},
      {{0, 16, 0xFC00, 0x03F0, 0x000F, 0}, COPY_RGB664},
      {{0, 16, 0x0F00, 0x00F0, 0x000F, 0xF000}, COPY_ARGB4444},
      {{0, 16, 0x001F, 0x07E0, 0xF800, 0}, -1},  // blue on top: not a copy format
      {{0, 15, 0x7C00, 0x03E0, 0x001F, 0}, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(DisplayFormatFromPixel(c.pf), c.format) << "bits " << c.pf.bits << " red " << c.pf.red;
}

TEST(DisplayScale, NeedFollowsTheSizeRatio) {
  EXPECT_EQ(DisplayScaleNeed(320, 320, CAP_STRETCH_X_INT), 0u);
  EXPECT_EQ(DisplayScaleNeed(640, 320, CAP_STRETCH_X_INT), CAP_STRETCH_X_INT);
  EXPECT_EQ(DisplayScaleNeed(480, 320, CAP_STRETCH_X_INT), CAP_STRETCH_X);
  EXPECT_EQ(DisplayScaleNeed(160, 320, CAP_STRETCH_X_INT), CAP_SHRINK_X_INT);
  EXPECT_EQ(DisplayScaleNeed(200, 320, CAP_STRETCH_X_INT), CAP_SHRINK_X);
  EXPECT_EQ(DisplayScaleNeed(480, 240, CAP_STRETCH_Y_INT), CAP_STRETCH_Y_INT);
  EXPECT_EQ(DisplayScaleNeed(100, 240, CAP_STRETCH_Y_INT), CAP_SHRINK_Y);
  EXPECT_EQ(DisplayScaleNeed(7, 0, CAP_STRETCH_Y_INT), 0u) << "no division by a zero movie size";
}

TEST(DisplayScale, RectanglesMeetWithoutGaps) {
  DisplayBuffer b{};
  b.width = 3, b.height = 3;
  b.presented_width = 7, b.presented_height = 5;
  MovieRect left = DisplayScaleRect(&b, {0, 0, 1, 1});
  MovieRect right = DisplayScaleRect(&b, {1, 1, 2, 2});
  EXPECT_EQ(left.x + left.width, right.x);
  EXPECT_EQ(left.y + left.height, right.y);
  EXPECT_EQ(right.x + right.width, 7);
  EXPECT_EQ(right.y + right.height, 5);
}

// Black by format, within each line's width only.
std::vector<uint8_t> Filled(uint32_t format, uint32_t width, uint32_t height, int32_t pitch,
                            uint32_t screen_bytes, size_t extra = 0) {
  std::vector<uint8_t> buffer(static_cast<size_t>(pitch) * height + extra, 0xEE);
  DisplayFillBlack(buffer.data(), pitch, width, height, format, screen_bytes);
  return buffer;
}

TEST(DisplayBlack, RgbFormatsClearWidthTimesScreenBytes) {
  for (uint32_t format : {COPY_BGR24, COPY_BGRX32, COPY_RGB565, COPY_RGB555}) {
    const uint32_t bytes = format == COPY_BGR24 ? 3 : format == COPY_BGRX32 ? 4 : 2;
    auto b = Filled(format, 5, 2, 24, bytes);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 24; ++x)
        EXPECT_EQ(b[y * 24 + x], x < 5 * bytes ? 0 : 0xEE) << format << " " << x;
  }
}

TEST(DisplayBlack, PackedYuvHasNeutralChroma) {
  auto yuy2 = Filled(COPY_YUY2, 3, 1, 8, 4);
  EXPECT_EQ(std::vector<uint8_t>(yuy2.begin(), yuy2.begin() + 8),
            (std::vector<uint8_t>{0, 0x80, 0, 0x80, 0, 0x80, 0xEE, 0xEE}));
  auto uyvy = Filled(COPY_UYVY, 2, 1, 6, 4);
  EXPECT_EQ(uyvy, (std::vector<uint8_t>{0x80, 0, 0x80, 0, 0xEE, 0xEE}));
}

TEST(DisplayBlack, Yv12LumaThenTwoChromaPlanesAtHalfPitch) {
  const uint32_t w = 4, h = 4;
  const int32_t pitch = 8;
  auto b = Filled(COPY_YV12, w, h, pitch, 4, pitch * h);  // room for the chroma planes
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(b[y * pitch + x], x < w ? 16 : 0xEE);
  const uint8_t* chroma = b.data() + pitch * h;
  for (uint32_t line = 0; line < h; ++line)  // h/2 lines of V, then h/2 of U
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(chroma[line * 4 + x], x < w / 2 ? 128 : 0xEE);
}

TEST(DisplayBlack, AlphaAndByteSwappedFormatsAreLeftAlone) {
  for (uint32_t format : {COPY_RGB24, COPY_RGBX32, COPY_BGRA32, COPY_RGBA32, COPY_ARGB4444, COPY_ARGB1555}) {
    auto b = Filled(format, 4, 2, 16, 4);
    for (uint8_t v : b) EXPECT_EQ(v, 0xEE) << format;
  }
}

TEST(DisplayModes, DepthOrders) {
  uint32_t d[3];
  auto list = [&](uint32_t code) {
    uint32_t n = DisplayDepthList(code, d);
    return std::vector<uint32_t>(d, d + n);
  };
  EXPECT_EQ(list(1), (std::vector<uint32_t>{16, 32, 24}));
  EXPECT_EQ(list(2), (std::vector<uint32_t>{32, 24, 16}));
  EXPECT_EQ(list(3), (std::vector<uint32_t>{32, 24}));
  ASSERT_EQ(DisplayDepthList(24, d), 1u);
  EXPECT_EQ(d[0], 24u);
  EXPECT_EQ(DisplayDepthList(0, d), 0u);
  EXPECT_EQ(DisplayDepthList(7, d), 0u);
}

DisplayBuffer OverlayAt(int32_t x, int32_t y) {
  DisplayBuffer b{};
  b.width = b.presented_width = 320;
  b.height = b.presented_height = 240;
  b.screen_width = 1024, b.screen_height = 768;
  b.screen_x = x, b.screen_y = y;
  return b;
}

// A 320 x 240 overlay placed on a 1024 x 768 screen: the part of the
// picture shown and where it lands, or nothing when it is wholly off.
struct OverlayCase {
  const char* name;
  int32_t x, y;
  bool shown;
  DisplayOverlayRects expected;  // src left, top, right, bottom; then dst
};
void PrintTo(const OverlayCase& c, std::ostream* os) { *os << c.name; }

const OverlayCase kOverlayCases[] = {
    {"HalfOffTheLeftEdgeShowsTheRightHalf", -160, 10, true, {160, 0, 320, 240, 0, 10, 160, 250}},
    {"PastTheBottomRightEndsAtTheEdge", 1000, 700, true, {0, 0, 24, 68, 1000, 700, 1024, 768}},
    {"WhollyOffTheLeft", -400, 0, false, {}},
    {"WhollyBelow", 0, 768, false, {}},
};

class DisplayOverlay : public testing::TestWithParam<OverlayCase> {};

TEST_P(DisplayOverlay, ClipsToTheScreen) {
  const OverlayCase& c = GetParam();
  DisplayBuffer b = OverlayAt(c.x, c.y);
  DisplayOverlayRects o{};
  ASSERT_EQ(DisplayOverlayClip(&b, &o), c.shown);
  if (!c.shown) return;
  const DisplayOverlayRects& e = c.expected;
  EXPECT_EQ((std::array{o.src_left, o.src_top, o.src_right, o.src_bottom}),
            (std::array{e.src_left, e.src_top, e.src_right, e.src_bottom}));
  EXPECT_EQ((std::array{o.dst_left, o.dst_top, o.dst_right, o.dst_bottom}),
            (std::array{e.dst_left, e.dst_top, e.dst_right, e.dst_bottom}));
}

INSTANTIATE_TEST_SUITE_P(Places, DisplayOverlay, testing::ValuesIn(kOverlayCases),
                         [](const testing::TestParamInfo<OverlayCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(DisplayCursor, OverlapOnlyWhenTheRectanglesMeet) {
  DisplayBuffer b = OverlayAt(100, 100);  // 320 x 240 at (100, 100)
  EXPECT_TRUE(DisplayCursorOverlaps(&b, 90, 90, 32, 32));
  EXPECT_TRUE(DisplayCursorOverlaps(&b, 419, 339, 32, 32));
  EXPECT_FALSE(DisplayCursorOverlaps(&b, 68, 100, 32, 32));  // ends just left of it
  EXPECT_FALSE(DisplayCursorOverlaps(&b, 420, 100, 32, 32));
  EXPECT_FALSE(DisplayCursorOverlaps(&b, 200, 340, 32, 32));
}

}  // namespace
