// The block decisions price coefficients with DctCoefficientBits instead of
// writing them: its count must be exactly what WriteDctCoefficients writes,
// for sparse and dense blocks, small and clamped magnitudes alike.
#include <gtest/gtest.h>

#include <random>

#include "writer/bit_writer.h"
#include "writer/coefficient_writer.h"

namespace {

struct BlockShape {
  const char* name;
  int nonzero_percent;  // chance of each AC coefficient being non-zero
  int largest;          // magnitudes up to this (above 32767: clamped by the writer)
};

class DctCoefficientBitsTest : public testing::TestWithParam<BlockShape> {};

TEST_P(DctCoefficientBitsTest, CountsWhatTheWriterWrites) {
  const BlockShape& shape = GetParam();
  std::mt19937 random(7);
  for (int round = 0; round < 2000; round++) {
    int16_t coeffs[64] = {};
    coeffs[0] = static_cast<int16_t>(random() % 2048);  // ignored by both
    for (int k = 1; k < 64; k++) {
      if (static_cast<int>(random() % 100) >= shape.nonzero_percent) continue;
      int magnitude = 1 + static_cast<int>(random() % shape.largest);
      // Mostly small values, as quantised blocks have them, some near the top.
      if (random() % 4) magnitude = 1 + magnitude % 8;
      if (magnitude > 32767) magnitude = 32767;
      coeffs[k] = static_cast<int16_t>(random() % 2 ? -magnitude : magnitude);
    }
    if (round == 0) coeffs[63] = -32768;  // clamped to 32767 when written
    BitWriter writer;
    WriteDctCoefficients(&writer, coeffs, static_cast<uint32_t>(round % 16));
    ASSERT_EQ(DctCoefficientBits(coeffs), BitWriterBitCount(&writer)) << "round " << round;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, DctCoefficientBitsTest,
    testing::Values(BlockShape{"empty", 0, 1}, BlockShape{"sparse_small", 5, 3},
                    BlockShape{"sparse_large", 5, 2000}, BlockShape{"half", 50, 40},
                    BlockShape{"dense", 100, 300}, BlockShape{"dense_clamped", 100, 40000}),
    [](const testing::TestParamInfo<BlockShape>& info) { return std::string(info.param.name); });

}  // namespace
