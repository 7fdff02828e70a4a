// Whole planes built with the syntax writer, decoded, and checked against
// pixels worked out by hand.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "video/idct.h"
#include "video/video_tables.h"
#include "video/video_test_util.h"

namespace {

uint8_t Gradient(uint32_t x, uint32_t y) { return static_cast<uint8_t>(x * 3 + y * 7); }

// A grey version-i frame: one luma plane over a previous frame holding a gradient.
struct LumaCase {
  TestFrame f;
  PlaneSyntax plane;
  LumaCase(uint32_t w, uint32_t h) : f(w, h, 0x11, 0) {
    for (uint32_t y = 0; y < f.rows; y++)
      for (uint32_t x = 0; x < f.pitch; x++) f.PrevLuma()[y * f.pitch + x] = Gradient(x, y);
    PlaneSyntaxInit(&plane, (w + 7) & ~7u, (h + 7) & ~7u, false);
  }
  PlaneRowSyntax* Row(uint32_t r) { return &plane.rows[r]; }
  void Decode() {
    f.Decode(LumaOnlyFrame(plane), kGrey);
    EXPECT_TRUE(f.GuardsIntact());
  }
  // Checks the 8x8 block at block (bx, by) against want(x, y) in block coordinates.
  template <class F>
  void ExpectBlock(uint32_t bx, uint32_t by, F want) {
    for (uint32_t y = 0; y < 8; y++)
      for (uint32_t x = 0; x < 8; x++)
        ASSERT_EQ(f.Y(bx * 8 + x, by * 8 + y), want(x, y)) << "block " << bx << "," << by
                                                           << " sample " << x << "," << y;
  }
};

void PutKeeps(PlaneRowSyntax* row, int n) {
  for (int i = 0; i < n; i++) PutBlockType(row, BT_KEEP);
}

TEST(PlaneDecoder, AllKeepBlocksCopyThePreviousFrameAndMarkNothing) {
  TestFrame f(40, 24, 0x11, 0);
  for (size_t i = 0; i < f.prev.size; i++) f.prev.data()[i] = static_cast<uint8_t>(i * 13);
  PlaneSyntax planes[3];
  PlaneSyntaxInit(&planes[0], 40, 24, false);
  PlaneSyntaxInit(&planes[1], 24, 16, false);
  PlaneSyntaxInit(&planes[2], 24, 16, false);
  for (PlaneSyntax& p : planes)
    for (PlaneRowSyntax& row : p.rows) PutKeeps(&row, static_cast<int>(p.width8 / 8));
  std::vector<uint8_t> c1 = PlaneBytes(planes[1]), c2 = PlaneBytes(planes[2]);
  f.Decode(AssembleVideoFrame(PlaneBytes(planes[0]), &c1, &c2, nullptr, true), 0);
  for (uint32_t y = 0; y < 24; y++)
    for (uint32_t x = 0; x < 40; x++) ASSERT_EQ(f.Y(x, y), f.PrevLuma()[y * f.pitch + x]);
  for (uint32_t y = 0; y < 16; y++)
    for (uint32_t x = 0; x < 24; x++) {
      ASSERT_EQ(f.Chroma1()[y * 24 + x], f.PrevChroma1()[y * 24 + x]);
      ASSERT_EQ(f.Chroma2()[y * 24 + x], f.prev.data()[48 * 32 + 24 * 16 + y * 24 + x]);
    }
  for (size_t i = 0; i < f.map.size; i++) EXPECT_EQ(f.map.data()[i], 0);
  EXPECT_TRUE(f.GuardsIntact());
}

TEST(PlaneDecoder, FillPatternRawAndUndefinedTypes) {
  LumaCase c(32, 16);
  PlaneRowSyntax* row = c.Row(0);
  PutBlockType(row, BT_FILL);
  PutFillContent(row, 200);
  const uint8_t pattern[8] = {0x0F, 0xF0, 0x81, 0x7E, 0x00, 0xFF, 0x55, 0xAA};
  PutBlockType(row, BT_PATTERN);
  PutPatternContent(row, 3, 250, pattern);
  uint8_t raw[64];
  for (int i = 0; i < 64; i++) raw[i] = static_cast<uint8_t>(255 - i);
  PutBlockType(row, BT_RAW);
  PutRawContent(row, raw);
  PutBlockType(row, BT_KEEP);
  // Types 12..15 can only come from a fill refill: row 1 holds only 12s,
  // which read nothing, write nothing and mark nothing.
  PutKeeps(c.Row(1), 0);
  for (int i = 0; i < 4; i++) PutBlockType(c.Row(1), 12);
  c.Decode();
  c.ExpectBlock(0, 0, [](uint32_t, uint32_t) { return 200; });
  c.ExpectBlock(1, 0, [&](uint32_t x, uint32_t y) { return (pattern[y] >> x) & 1 ? 250 : 3; });
  c.ExpectBlock(2, 0, [](uint32_t x, uint32_t y) { return 255 - (8 * y + x); });
  c.ExpectBlock(3, 0, [](uint32_t x, uint32_t y) { return Gradient(24 + x, y); });
  for (uint32_t b = 0; b < 4; b++) c.ExpectBlock(b, 1, [](uint32_t, uint32_t) { return 0x11; });
  EXPECT_EQ(c.f.Map(0, 0), 1);
  EXPECT_EQ(c.f.Map(1, 0), 1);
}

TEST(PlaneDecoder, MapMarksOnlyChangedAreas) {
  LumaCase c(64, 32);
  // Row 0: keep, keep, fill, keep x5; row 1 only 13s; row 2 keeps; row 3
  // keeps and a motion block at the end.
  PlaneRowSyntax* row = c.Row(0);
  PutKeeps(row, 2);
  PutBlockType(row, BT_FILL);
  PutFillContent(row, 1);
  PutKeeps(row, 5);
  for (int i = 0; i < 8; i++) PutBlockType(c.Row(1), 13);
  for (uint32_t r = 2; r < 4; r++) PutKeeps(c.Row(r), r == 3 ? 7 : 8);
  PutBlockType(c.Row(3), BT_MOTION);
  PutMotionContent(c.Row(3), 0, 0);
  c.Decode();
  const uint8_t want[2][4] = {{0, 1, 0, 0}, {0, 0, 0, 1}};
  for (uint32_t y = 0; y < 2; y++)
    for (uint32_t x = 0; x < 4; x++) EXPECT_EQ(c.f.Map(x, y), want[y][x]) << x << "," << y;
  // A motion block with offsets (0, 0) gives what a keep block gives.
  c.ExpectBlock(7, 3, [](uint32_t x, uint32_t y) { return Gradient(56 + x, 24 + y); });
}

TEST(PlaneDecoder, RunsEndingAt63TakeOneMoreColourAndAt64None) {
  LumaCase c(16, 8);
  PlaneRowSyntax* row = c.Row(0);
  // Block 0, scan 5: three fill runs of 16 and one of 15 (i = 63): one more colour.
  PutBlockType(row, BT_RUNS);
  BitWriterPut(&row->fields, 5, 4);
  for (int run = 0; run < 4; run++) {
    BitWriterPut(&row->fields, 1, 1);
    row->values[BUNDLE_RUNS].push_back(run == 3 ? 14 : 15);
    row->values[BUNDLE_COLOURS].push_back(10 * (run + 1));
  }
  row->values[BUNDLE_COLOURS].push_back(99);
  // Block 1, scan 7: a literal run of 2, then fills of 16, 16, 16, 14 (i = 64).
  PutBlockType(row, BT_RUNS);
  BitWriterPut(&row->fields, 7, 4);
  BitWriterPut(&row->fields, 0, 1);
  row->values[BUNDLE_RUNS].push_back(1);
  row->values[BUNDLE_COLOURS].push_back(1);
  row->values[BUNDLE_COLOURS].push_back(2);
  for (int run = 0; run < 4; run++) {
    BitWriterPut(&row->fields, 1, 1);
    row->values[BUNDLE_RUNS].push_back(run == 3 ? 13 : 15);
    row->values[BUNDLE_COLOURS].push_back(static_cast<uint8_t>(100 + run));
  }
  c.plane.modes[BUNDLE_COLOURS] = BUNDLE_MODE_PLAIN;
  c.Decode();
  // Scan 5 walks the left half (columns 0..3) row by row, then the right half.
  c.ExpectBlock(0, 0, [](uint32_t x, uint32_t y) {
    uint32_t order = x < 4 ? 4 * y + x : 32 + 4 * y + (x - 4);
    return order == 63 ? 99 : 10 * (order / 16 + 1);
  });
  // Scan 7 is a serpentine over rows: row 0 left to right, row 1 right to left...
  c.ExpectBlock(1, 0, [](uint32_t x, uint32_t y) {
    uint32_t order = 8 * y + (y % 2 ? 7 - x : x);
    if (order < 2) return static_cast<int>(order + 1);
    return 100 + static_cast<int>((order - 2) / 16);
  });
}

TEST(PlaneDecoder, WriterRunBlocksRoundTripOnEveryScan) {
  LumaCase c(64, 16);
  uint8_t pixels[16][64];
  for (int s = 0; s < 16; s++) {
    for (int i = 0; i < 64; i++) pixels[s][i] = static_cast<uint8_t>((i * (s + 1) / 9) % 5 * 40);
    PlaneRowSyntax* row = c.Row(s / 8);
    PutBlockType(row, BT_RUNS);
    PutRunContent(row, s, pixels[s]);
  }
  PlaneSyntaxChooseTrees(&c.plane);
  c.Decode();
  for (int s = 0; s < 16; s++)
    c.ExpectBlock(s % 8, s / 8, [&](uint32_t x, uint32_t y) { return pixels[s][8 * y + x]; });
}

TEST(PlaneDecoder, IntraDcOnlyAndFullBlocks) {
  LumaCase c(16, 8);
  int16_t none[64] = {};
  PutBlockType(c.Row(0), BT_INTRA);
  PutIntraContent(c.Row(0), 800, none, 0);  // (800 x 65536 >> 11) + 127 >> 8 = 100
  int16_t full[64];
  for (int i = 0; i < 64; i++) full[i] = static_cast<int16_t>((i * 37) % 21 - 10);
  full[0] = 1000;
  PutBlockType(c.Row(0), BT_INTRA);
  PutIntraContent(c.Row(0), 1000, full, 4);
  c.Decode();
  c.ExpectBlock(0, 0, [](uint32_t, uint32_t) { return 100; });
  uint8_t want[64];
  IdctKernels plain;
  IdctKernelsInit(&plain, 0);
  plain.put(full, QUANT_INTRA[4], want, 8);
  c.ExpectBlock(1, 0, [&](uint32_t x, uint32_t y) { return want[8 * y + x]; });
}

TEST(PlaneDecoder, InterAndResidueBlocksAddToTheMotionPrediction) {
  LumaCase c(32, 16);
  PutKeeps(c.Row(0), 4);
  int16_t dc_only[64] = {};
  PutBlockType(c.Row(1), BT_INTER);
  PutInterContent(c.Row(1), 2, -3, -80, dc_only, 0);  // -10 everywhere
  int8_t zero[64] = {}, rebuilt[64];
  PutBlockType(c.Row(1), BT_RESIDUE);
  PutResidueContent(c.Row(1), -4, -5, zero, rebuilt);
  int8_t residue[64] = {};
  residue[9] = -7;
  residue[63] = 120;
  PutBlockType(c.Row(1), BT_RESIDUE);
  PutResidueContent(c.Row(1), 0, -8, residue, rebuilt);
  PutBlockType(c.Row(1), BT_MOTION);
  PutMotionContent(c.Row(1), -1, 0);
  c.Decode();
  c.ExpectBlock(0, 1, [](uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(Gradient(x + 2, 8 + y - 3) - 10);
  });
  c.ExpectBlock(1, 1, [](uint32_t x, uint32_t y) { return Gradient(8 + x - 4, 8 + y - 5); });
  c.ExpectBlock(2, 1, [&](uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(Gradient(16 + x, y) + residue[8 * y + x]);
  });
  c.ExpectBlock(3, 1, [](uint32_t x, uint32_t y) { return Gradient(24 + x - 1, 8 + y); });
}

TEST(PlaneDecoder, MotionAtPlaneEdges) {
  LumaCase c(16, 24);
  PutKeeps(c.Row(0), 2);
  PutBlockType(c.Row(1), BT_MOTION);
  PutMotionContent(c.Row(1), -1, 0);  // leftmost column: first sample from the line above
  PutBlockType(c.Row(1), BT_MOTION);
  PutMotionContent(c.Row(1), 1, 0);   // rightmost column: last sample from the line below
  PutBlockType(c.Row(2), BT_MOTION);
  PutMotionContent(c.Row(2), 0, 15);  // below the plane's last line: clamped
  PutBlockType(c.Row(2), BT_KEEP);
  c.Decode();
  uint32_t pitch = c.f.pitch;
  c.ExpectBlock(0, 1, [&](uint32_t x, uint32_t y) {
    return x == 0 ? Gradient(pitch - 1, 8 + y - 1) : Gradient(x - 1, 8 + y);
  });
  c.ExpectBlock(1, 1, [&](uint32_t x, uint32_t y) {
    return x == 7 ? Gradient(0, 8 + y + 1) : Gradient(8 + x + 1, 8 + y);
  });
  // The source is clamped to the last block that lies in the 32-line plane.
  uint32_t last = pitch * c.f.rows - (7 * pitch + 8);
  c.ExpectBlock(0, 2, [&](uint32_t x, uint32_t y) {
    uint32_t at = last + y * pitch + x;
    return Gradient(at % pitch, at / pitch);
  });
}

TEST(PlaneDecoder, DoubledBlocksOnEvenAndOddRows) {
  LumaCase c(48, 32);
  // Six columns: [doubled fill][fill 5][doubled pattern][keep].
  PlaneRowSyntax* r0 = c.Row(0);
  PutBlockType(r0, BT_DOUBLED);
  PutSubBlockType(r0, BT_FILL);
  PutFillContent(r0, 9);
  PutBlockType(r0, BT_FILL);
  PutFillContent(r0, 5);
  const uint8_t pattern[8] = {0x01, 0, 0, 0, 0, 0, 0, 0};
  PutBlockType(r0, BT_DOUBLED);
  PutSubBlockType(r0, BT_PATTERN);
  PutPatternContent(r0, 7, 8, pattern);
  PutBlockType(r0, BT_KEEP);
  // Row 1: the lower halves (nothing read), then keep.
  PlaneRowSyntax* r1 = c.Row(1);
  PutBlockType(r1, BT_DOUBLED);
  PutBlockType(r1, BT_KEEP);
  PutBlockType(r1, BT_DOUBLED);
  PutBlockType(r1, BT_KEEP);
  // Row 2: a doubled raw and an unknown sub-type; row 3 a lone "lower half".
  PlaneRowSyntax* r2 = c.Row(2);
  uint8_t raw[64];
  for (int i = 0; i < 64; i++) raw[i] = static_cast<uint8_t>(i);
  PutBlockType(r2, BT_DOUBLED);
  PutSubBlockType(r2, BT_RAW);
  PutRawContent(r2, raw);
  PutBlockType(r2, BT_DOUBLED);
  PutSubBlockType(r2, 7);  // reads and writes nothing
  PutKeeps(r2, 2);
  PlaneRowSyntax* r3 = c.Row(3);
  PutBlockType(r3, BT_DOUBLED);
  PutKeeps(r3, 2);
  PutBlockType(r3, BT_DOUBLED);
  c.Decode();
  for (uint32_t y = 0; y < 16; y++) {
    for (uint32_t x = 0; x < 16; x++) ASSERT_EQ(c.f.Y(x, y), 9);
    for (uint32_t x = 24; x < 40; x++)
      ASSERT_EQ(c.f.Y(x, y), x < 26 && y < 2 ? 8 : 7) << x << "," << y;
  }
  c.ExpectBlock(2, 0, [](uint32_t, uint32_t) { return 5; });
  c.ExpectBlock(2, 1, [](uint32_t x, uint32_t y) { return Gradient(16 + x, 8 + y); });
  for (uint32_t y = 16; y < 32; y++)
    for (uint32_t x = 0; x < 16; x++) ASSERT_EQ(c.f.Y(x, y), (y - 16) / 2 * 8 + x / 2);
  c.ExpectBlock(2, 2, [](uint32_t, uint32_t) { return 0x11; });  // unknown sub-type
  c.ExpectBlock(4, 3, [](uint32_t, uint32_t) { return 0x11; });  // lone lower half
  const uint8_t want_map[2][3] = {{1, 1, 1}, {1, 1, 1}};
  for (uint32_t y = 0; y < 2; y++)
    for (uint32_t x = 0; x < 3; x++) EXPECT_EQ(c.f.Map(x, y), want_map[y][x]) << x << "," << y;
}

TEST(PlaneDecoder, DoubledBlockInTheLastColumnOrLastChromaRowStaysInside) {
  // 40x40: luma has 5 block columns, chroma 3x3 blocks (24x24 in a 24x24 plane).
  TestFrame f(40, 40, 0x11, 0x22);
  PlaneSyntax luma, chroma1, chroma2;
  PlaneSyntaxInit(&luma, 40, 40, false);
  PlaneSyntaxInit(&chroma1, 24, 24, false);
  PlaneSyntaxInit(&chroma2, 24, 24, false);
  auto doubled_fill = [](PlaneRowSyntax* row, uint32_t r, uint8_t colour) {
    PutBlockType(row, BT_DOUBLED);
    if (r % 2) return;  // the lower half reads nothing
    PutSubBlockType(row, BT_FILL);
    PutFillContent(row, colour);
  };
  for (uint32_t r = 0; r < 5; r++) {
    PutKeeps(&luma.rows[r], 4);
    doubled_fill(&luma.rows[r], r, 77);  // last column: the walk must still end
  }
  for (uint32_t r = 0; r < 3; r++) {
    doubled_fill(&chroma1.rows[r], r, 55);
    doubled_fill(&chroma1.rows[r], r, 66);  // last column again; row 2 is the last row
    PutKeeps(&chroma2.rows[r], 3);
  }
  std::vector<uint8_t> c1 = PlaneBytes(chroma1), c2 = PlaneBytes(chroma2);
  f.Decode(AssembleVideoFrame(PlaneBytes(luma), &c1, &c2, nullptr, true), 0);
  EXPECT_TRUE(f.GuardsIntact());
  // Luma has spare columns and lines (48x48 for 40x40): they take the
  // whole 16x16 area, as a motion source may later read them.
  EXPECT_EQ(f.Y(39, 0), 77);
  EXPECT_EQ(f.Y(47, 0), 77);
  EXPECT_EQ(f.Y(47, 47), 77);
  EXPECT_EQ(f.Y(31, 47), 0x11);
  const uint32_t cp = f.pitch / 2;  // 24
  EXPECT_EQ(f.Chroma1()[23 * cp + 15], 55);  // last chroma row: clipped, not overflowing
  EXPECT_EQ(f.Chroma1()[23 * cp + 16], 66);
  EXPECT_EQ(f.Chroma2()[0], 0x22);           // the next plane is untouched (kept)
  EXPECT_EQ(f.Map(2, 2), 1);
}

TEST(PlaneDecoder, LeftoverValuesCarryAcrossRowsAndPlainModesAgree) {
  // Rows 0 and 2 use colours, row 1 none: the writer must refill at row 1
  // with row 2's colours (a count of 0 there would end the bundle).
  for (BundleMode mode : {BUNDLE_MODE_AUTO, BUNDLE_MODE_PLAIN}) {
    LumaCase c(16, 24);
    for (BundleMode& m : c.plane.modes) m = mode;
    PutBlockType(c.Row(0), BT_FILL);
    PutFillContent(c.Row(0), 40);
    PutBlockType(c.Row(0), BT_FILL);
    PutFillContent(c.Row(0), 41);
    PutKeeps(c.Row(1), 2);
    PutBlockType(c.Row(2), BT_KEEP);
    PutBlockType(c.Row(2), BT_FILL);
    PutFillContent(c.Row(2), 42);
    PlaneSyntaxChooseTrees(&c.plane);
    c.Decode();
    c.ExpectBlock(0, 0, [](uint32_t, uint32_t) { return 40; });
    c.ExpectBlock(1, 0, [](uint32_t, uint32_t) { return 41; });
    c.ExpectBlock(1, 1, [](uint32_t x, uint32_t y) { return Gradient(8 + x, 8 + y); });
    c.ExpectBlock(1, 2, [](uint32_t, uint32_t) { return 42; });
  }
}

}  // namespace
