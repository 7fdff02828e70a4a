// Rate-aware quantisation: the gains that turn transform values into sample
// error must match what the decoder's inverse transform makes of a level,
// and trimming must lower only levels whose bits are worth more than their
// error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "video/idct.h"
#include "video/video_tables.h"
#include "writer/coefficient_writer.h"
#include "writer/encode_dct.h"
#include "writer/encode_quantise.h"

namespace {

uint32_t Bits(const int16_t coeffs[64], uint32_t q) {
  BitWriter w;
  w.counting = true;
  WriteDctCoefficients(&w, coeffs, q);
  return static_cast<uint32_t>(w.counted);
}

// Inverse steps of an inter table, as the block coder derives them.
void InverseSteps(uint32_t q, float inverse[64]) {
  float steps[64];
  ForwardDctSteps(QUANT_INTER[q], steps);
  for (int k = 0; k < 64; k++) inverse[k] = 1.0f / steps[k];
}

class GainPositions : public testing::TestWithParam<int> {};

// One level at position k through the decoder's inverse transform adds
// step^2 x gain of squared error to a flat prediction.
TEST_P(GainPositions, PredictTheDecodersSquaredError) {
  const int k = GetParam();
  const uint32_t q = 12;
  float steps[64];
  ForwardDctSteps(QUANT_INTER[q], steps);
  int16_t coeffs[64] = {};
  coeffs[k] = 3;
  uint8_t prediction[64], out[64];
  std::memset(prediction, 128, sizeof prediction);
  IdctKernels idct;
  IdctKernelsInit(&idct, 0);
  idct.add(coeffs, QUANT_INTER[q], prediction, out, 8);
  double sse = 0;
  for (int i = 0; i < 64; i++) sse += (out[i] - 128.0) * (out[i] - 128.0);
  double expected = 9.0 * steps[k] * steps[k] * TransformGains()[k];
  EXPECT_NEAR(sse, expected, 0.15 * expected + 16);
}

INSTANTIATE_TEST_SUITE_P(Positions, GainPositions, testing::Values(1, 8, 9, 18, 27, 36, 45, 63));

// A lone level just above its rounding point at the highest frequency.
struct LoneBlock {
  float values[64] = {};
  float inverse[64];
  int16_t coeffs[64] = {};
  static constexpr uint32_t kQ = 6;
  LoneBlock() {
    InverseSteps(kQ, inverse);
    values[0] = 40 / inverse[0];
    coeffs[0] = 40;
    values[62] = 3.0f / inverse[62];  // a well-founded level beside it
    coeffs[62] = 3;
    values[63] = 0.55f / inverse[63];
    coeffs[63] = 1;
  }
};

TEST(TrimCoefficients, DropsALoneLevelWhenBitsAreDear) {
  LoneBlock b;
  uint32_t before = Bits(b.coeffs, LoneBlock::kQ);
  uint32_t after = TrimCoefficients(b.values, b.inverse, 1e6, DctCoefficientBits, b.coeffs);
  EXPECT_EQ(b.coeffs[63], 0);
  EXPECT_LT(after, before);
  EXPECT_EQ(after, Bits(b.coeffs, LoneBlock::kQ));
  EXPECT_EQ(b.coeffs[0], 40);  // the DC travels in its own bundle
}

TEST(TrimCoefficients, KeepsLevelsWhenBitsAreCheap) {
  LoneBlock b;
  int16_t original[64];
  std::memcpy(original, b.coeffs, sizeof original);
  uint32_t bits = TrimCoefficients(b.values, b.inverse, 1e-3, DctCoefficientBits, b.coeffs);
  EXPECT_EQ(std::memcmp(original, b.coeffs, sizeof original), 0);
  EXPECT_EQ(bits, Bits(b.coeffs, LoneBlock::kQ));
}

// At a middling lambda the lone level (0.55 steps: little error when
// dropped) goes while its neighbour of exactly 3 (a whole step of error
// when lowered) stays.
TEST(TrimCoefficients, WeighsEachLevelsErrorAgainstItsBits) {
  LoneBlock b;
  const float* gains = TransformGains();
  double step63 = 1.0 / b.inverse[63], step62 = 1.0 / b.inverse[62];
  double drop63 = step63 * step63 * gains[63] * (0.55 * 0.55 - 0.45 * 0.45);
  double lower62 = step62 * step62 * gains[62];
  // Dropping the lone level saves at least a bit, lowering 3 to 2 at most two.
  double lambda = 2 * drop63;
  ASSERT_LT(2 * lambda, lower62);
  TrimCoefficients(b.values, b.inverse, lambda, DctCoefficientBits, b.coeffs);
  EXPECT_EQ(b.coeffs[63], 0);
  EXPECT_EQ(b.coeffs[62], 3);
}

}  // namespace
