// Frame layout: plane positions, versions, grey, alpha, and broken frames.
#include <gtest/gtest.h>

#include <vector>

#include "video/video_tables.h"
#include "video/video_test_util.h"

namespace {

PlaneSyntax FilledPlane(uint32_t w8, uint32_t h8, uint8_t colour, bool old_colours) {
  PlaneSyntax plane;
  PlaneSyntaxInit(&plane, w8, h8, old_colours);
  for (PlaneRowSyntax& row : plane.rows) {
    for (uint32_t b = 0; b < w8 / 8; b++) {
      PutBlockType(&row, BT_FILL);
      PutFillContent(&row, colour);
    }
  }
  return plane;
}

struct ColourFrame {
  std::vector<uint8_t> luma, chroma1, chroma2, alpha;
  ColourFrame(uint32_t w, uint32_t h, bool old_colours, uint8_t y = 10, uint8_t u = 200,
              uint8_t v = 150, uint8_t a = 99) {
    uint32_t w8 = (w + 7) & ~7u, h8 = (h + 7) & ~7u;
    uint32_t cw8 = ((w + 1) / 2 + 7) & ~7u, ch8 = ((h + 1) / 2 + 7) & ~7u;
    luma = PlaneBytes(FilledPlane(w8, h8, y, old_colours));
    chroma1 = PlaneBytes(FilledPlane(cw8, ch8, u, old_colours));
    chroma2 = PlaneBytes(FilledPlane(cw8, ch8, v, old_colours));
    alpha = PlaneBytes(FilledPlane(w8, h8, a, old_colours));
  }
  std::vector<uint8_t> Data(bool with_alpha, bool version_i) const {
    return AssembleVideoFrame(luma, &chroma1, &chroma2, with_alpha ? &alpha : nullptr, version_i);
  }
};

void ExpectPlane(const uint8_t* plane, uint32_t pitch, uint32_t w, uint32_t h, uint8_t want) {
  for (uint32_t y = 0; y < h; y++)
    for (uint32_t x = 0; x < w; x++) ASSERT_EQ(plane[y * pitch + x], want) << x << "," << y;
}

TEST(FrameDecoder, VersionIPlanesLieWhereTheFrameBufferSays) {
  TestFrame f(320, 240, 1, 2);
  ColourFrame frame(320, 240, false);
  f.Decode(frame.Data(false, true), 0);
  ExpectPlane(f.Luma(), 320, 320, 240, 10);
  ExpectPlane(f.cur.data() + 320 * 240, 160, 160, 120, 200);
  ExpectPlane(f.cur.data() + 320 * 240 + 160 * 120, 160, 160, 120, 150);
  for (size_t i = 0; i < f.map.size; i++) ASSERT_EQ(f.map.data()[i], 1);
  EXPECT_TRUE(f.GuardsIntact());
}

TEST(FrameDecoder, OldFormatHasNoLumaWordAndChromaFollowsTheLumaWords) {
  // 41x23: odd sizes, luma 48x24 decoded in a 48x32 plane, chroma 24x16.
  TestFrame f(41, 23, 1, 2);
  ColourFrame frame(41, 23, true, 128, 3, 255);
  f.Decode(frame.Data(false, false), kOldColours);
  ExpectPlane(f.Luma(), 48, 48, 24, 128);
  ExpectPlane(f.Chroma1(), 24, 24, 16, 3);
  ExpectPlane(f.Chroma2(), 24, 24, 16, 255);
  EXPECT_TRUE(f.GuardsIntact());
}

TEST(FrameDecoder, GreyDecodesLumaOnlyAndLeavesChromaUnread) {
  for (bool version_i : {true, false}) {
    TestFrame f(64, 32, 1, 2);
    ColourFrame frame(64, 32, !version_i);
    f.Decode(frame.Data(false, version_i), kGrey | (version_i ? 0 : kOldColours), kGrey);
    ExpectPlane(f.Luma(), 64, 64, 32, 10);
    ExpectPlane(f.Chroma1(), 32, 32, 16, 1);
    ExpectPlane(f.Chroma2(), 32, 32, 16, 1);
    // A colour frame opened grey: the chroma data is there but never read.
    TestFrame g(64, 32, 1, 2);
    std::vector<uint8_t> luma_only =
        AssembleVideoFrame(frame.luma, nullptr, nullptr, nullptr, version_i);
    g.Decode(luma_only, kGrey | (version_i ? 0 : kOldColours));
    ExpectPlane(g.Luma(), 64, 64, 32, 10);
  }
}

TEST(FrameDecoder, AlphaIsDecodedWhenWantedAndSkippedBySizeOtherwise) {
  ColourFrame frame(48, 16, false);
  TestFrame with(48, 16, 1, 2), without(48, 16, 1, 2);
  with.Decode(frame.Data(true, true), kAlpha, kAlpha, true);
  without.Decode(frame.Data(true, true), 0, kAlpha, true);
  ExpectPlane(with.alpha_cur.data(), 48, 48, 16, 99);
  ExpectPlane(without.alpha_cur.data(), 48, 48, 16, 1);
  for (TestFrame* f : {&with, &without}) {
    ExpectPlane(f->Luma(), 48, 48, 16, 10);
    ExpectPlane(f->Chroma2(), 24, 24, 8, 150);
    EXPECT_TRUE(f->GuardsIntact());
  }
}

TEST(FrameDecoder, TruncatedPlaneKeepsTheRestFromThePreviousFrame) {
  TestFrame f(64, 64, 1, 2);
  ColourFrame frame(64, 64, true);
  std::vector<uint8_t> data = frame.Data(false, false);
  data.resize(frame.luma.size() / 2);  // half a luma plane
  f.Decode(data, kOldColours);
  EXPECT_TRUE(f.GuardsIntact());
  EXPECT_EQ(f.Y(0, 0), 10);   // the first rows decoded
  EXPECT_EQ(f.Y(63, 63), 2);  // the rest is the previous frame's
  ExpectPlane(f.Chroma1(), 32, 32, 32, 2);
  ExpectPlane(f.Chroma2(), 32, 32, 32, 2);
}

TEST(FrameDecoder, SizeWordsThatDoNotFitKeepTheFrame) {
  ColourFrame frame(32, 32, false);
  std::vector<uint8_t> bad_alpha = frame.Data(true, true);
  bad_alpha[3] = 0x7F;  // alpha section longer than the data
  std::vector<uint8_t> bad_luma = frame.Data(false, true);
  bad_luma[0] = 2;  // a luma size below its own word
  bad_luma[1] = bad_luma[2] = bad_luma[3] = 0;
  for (const auto& [data, video_flags] :
       {std::pair{bad_alpha, kAlpha}, std::pair{bad_luma, 0u}, std::pair{std::vector<uint8_t>{}, 0u}}) {
    TestFrame f(32, 32, 1, 2);
    f.Decode(data, kAlpha, video_flags, true);
    ExpectPlane(f.Luma(), 32, 32, 32, 2);
    if (video_flags) ExpectPlane(f.alpha_cur.data(), 32, 32, 32, 2);
    ExpectPlane(f.Chroma2(), 16, 16, 16, 2);
    for (size_t i = 0; i < f.map.size; i++) EXPECT_EQ(f.map.data()[i], 0);
    EXPECT_TRUE(f.GuardsIntact());
  }
}

}  // namespace
