// Block writes, doubled forms and motion sources.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/kernel_levels.h"
#include "video/block_ops.h"

namespace {

// A 40x24 plane with a guard frame of 0xCC around the area under test.
struct Canvas {
  static constexpr uint32_t kPitch = 40;
  uint8_t pixels[kPitch * 24];
  Canvas() { std::memset(pixels, 0xCC, sizeof(pixels)); }
  uint8_t* At(uint32_t x, uint32_t y) { return pixels + y * kPitch + x; }
  // Every sample outside [x0, x0+w) x [y0, y0+h) still holds the guard.
  bool UntouchedOutside(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
    for (uint32_t y = 0; y < 24; y++)
      for (uint32_t x = 0; x < kPitch; x++)
        if ((x < x0 || x >= x0 + w || y < y0 || y >= y0 + h) && *At(x, y) != 0xCC) return false;
    return true;
  }
};

TEST(BlockOps, PatternSelectsC1WhereBitsAreSetLowBitLeftmost) {
  Canvas c;
  const uint8_t pattern[8] = {0x01, 0x80, 0xF0, 0x0F, 0xAA, 0x55, 0x00, 0xFF};
  PatternBlock(c.At(4, 3), Canvas::kPitch, 10, 20, pattern);
  for (uint32_t y = 0; y < 8; y++)
    for (uint32_t x = 0; x < 8; x++)
      EXPECT_EQ(*c.At(4 + x, 3 + y), (pattern[y] >> x) & 1 ? 20 : 10) << x << "," << y;
  EXPECT_TRUE(c.UntouchedOutside(4, 3, 8, 8));
}

TEST(BlockOps, DoubledPatternCoversTwoByTwoPerBit) {
  Canvas c;
  const uint8_t pattern[8] = {0x01, 0, 0, 0, 0, 0, 0, 0x82};
  PatternBlockDoubled(c.At(2, 1), Canvas::kPitch, 7, 9, pattern);
  for (uint32_t y = 0; y < 16; y++) {
    for (uint32_t x = 0; x < 16; x++) {
      bool set = (pattern[y / 2] >> (x / 2)) & 1;
      EXPECT_EQ(*c.At(2 + x, 1 + y), set ? 9 : 7) << x << "," << y;
    }
  }
  EXPECT_TRUE(c.UntouchedOutside(2, 1, 16, 16));
}

TEST(BlockOps, DoubledRawRowsRepeatEachColour) {
  Canvas c;
  uint8_t colours[64];
  for (int i = 0; i < 64; i++) colours[i] = static_cast<uint8_t>(i);
  RawBlockDoubled(c.At(0, 0), Canvas::kPitch, colours);
  const uint8_t row0[16] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7};
  EXPECT_EQ(0, std::memcmp(c.At(0, 0), row0, 16));
  EXPECT_EQ(0, std::memcmp(c.At(0, 1), row0, 16));
  EXPECT_EQ(*c.At(15, 15), 63);
  EXPECT_TRUE(c.UntouchedOutside(0, 0, 16, 16));
}

TEST(BlockOps, FillsCopiesAndPredictionsStayInTheirBlock) {
  Canvas c;
  FillBlock(c.At(8, 8), Canvas::kPitch, 0x42);
  EXPECT_TRUE(c.UntouchedOutside(8, 8, 8, 8));
  EXPECT_EQ(*c.At(15, 15), 0x42);
  FillBlockDoubled(c.At(20, 4), Canvas::kPitch, 0x11);
  EXPECT_EQ(*c.At(35, 19), 0x11);
  Canvas d;
  CopyBlock(d.At(1, 2), c.At(8, 8), Canvas::kPitch);
  EXPECT_TRUE(d.UntouchedOutside(1, 2, 8, 8));
  EXPECT_EQ(*d.At(8, 9), 0x42);
  uint8_t prediction[64];
  PredictBlock(c.At(12, 4), Canvas::kPitch, prediction);
  EXPECT_EQ(prediction[0], 0xCC);           // (12, 4)
  EXPECT_EQ(prediction[8 * 4 + 3], 0x42);   // (15, 8)
  EXPECT_EQ(prediction[8 * 7 + 4], 0xCC);   // (16, 11)
}

TEST(MotionSource, WrapsAcrossLinesAndClampsToThePlane) {
  const uint32_t pitch = 64, bytes = 64 * 32;
  // Inside: position + y x pitch + x, even when the row spills over a line end.
  EXPECT_EQ(MotionSource(8 * pitch + 16, 3, -2, pitch, bytes), 6 * pitch + 19);
  EXPECT_EQ(MotionSource(8 * pitch, -1, 0, pitch, bytes), 8 * pitch - 1);  // last sample of the line above
  EXPECT_EQ(MotionSource(16 * pitch + 56, 15, 0, pitch, bytes), 16 * pitch + 71);
  // On the last block row a rightward spill would pass the plane's end.
  EXPECT_EQ(MotionSource(24 * pitch + 56, 15, 0, pitch, bytes), bytes - (7 * pitch + 8));
  // Above the first line or below the last: clamped to the nearest whole block.
  EXPECT_EQ(MotionSource(0, -1, 0, pitch, bytes), 0u);
  EXPECT_EQ(MotionSource(16, 0, -15, pitch, bytes), 0u);
  EXPECT_EQ(MotionSource(24 * pitch + 56, 15, 15, pitch, bytes), bytes - (7 * pitch + 8));
  EXPECT_EQ(MotionSource(24 * pitch + 56, 0, 0, pitch, bytes), 24 * pitch + 56);
}

}  // namespace

namespace {

class BlockLevels : public ::testing::TestWithParam<KernelLevel> {};

// Each level's block writes against the plain ones on random colours,
// patterns and samples at odd pitches and offsets, with guard bytes around
// the written area; sources are left untouched.
TEST_P(BlockLevels, WriteWhatThePlainKernelsWrite) {
  BlockKernels plain, level;
  BlockKernelsInit(&plain, CPU_LEVEL_C);
  BlockKernelsInit(&level, GetParam().flags);
  std::mt19937 rng(11);
  for (int round = 0; round < 2000; round++) {
    const uint32_t pitch = 16 + rng() % 29, offset = rng() % 7;
    std::vector<uint8_t> a(offset + 16 * pitch + 16);
    for (uint8_t& v : a) v = static_cast<uint8_t>(rng());
    std::vector<uint8_t> b = a;
    uint8_t samples[64], pattern[8];
    for (uint8_t& v : samples) v = static_cast<uint8_t>(rng());
    for (uint8_t& v : pattern) v = static_cast<uint8_t>(rng());
    const uint8_t c0 = static_cast<uint8_t>(rng()), c1 = static_cast<uint8_t>(rng());
    std::vector<uint8_t> source(8 * pitch);
    for (uint8_t& v : source) v = static_cast<uint8_t>(rng());
    const std::vector<uint8_t> source_copy = source;
    uint8_t predicted_a[64], predicted_b[64];
    auto run = [&](const BlockKernels& k, uint8_t* dest, uint8_t* predicted) {
      switch (round % 8) {
        case 0: k.copy(dest, source.data(), pitch); break;
        case 1: k.predict(source.data(), pitch, predicted); break;
        case 2: k.fill(dest, pitch, c0); break;
        case 3: k.pattern(dest, pitch, c0, c1, pattern); break;
        case 4: k.put(dest, pitch, samples); break;
        case 5: k.fill_doubled(dest, pitch, c1); break;
        case 6: k.pattern_doubled(dest, pitch, c0, c1, pattern); break;
        default: k.put_doubled(dest, pitch, samples); break;
      }
    };
    run(plain, a.data() + offset, predicted_a);
    run(level, b.data() + offset, predicted_b);
    ASSERT_EQ(a, b) << "round " << round;
    if (round % 8 == 1) ASSERT_EQ(0, std::memcmp(predicted_a, predicted_b, 64));
    ASSERT_EQ(source, source_copy);
  }
}

INSTANTIATE_TEST_SUITE_P(Block, BlockLevels, ::testing::ValuesIn(VectorLevels()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
