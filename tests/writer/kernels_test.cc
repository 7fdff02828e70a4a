// The encoder's kernels: every processor level gives exactly the plain
// results on random blocks at odd offsets and pitches, writes nothing
// outside its output and never touches its inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu.h"
#include "support/kernel_levels.h"
#include "writer/encode_kernels.h"

namespace {

EncodeKernels KernelsAt(uint32_t cpu_flags) {
  EncodeKernels k;
  EncodeKernelsInit(&k, cpu_flags);
  return k;
}

class EncodeLevels : public ::testing::TestWithParam<KernelLevel> {};

TEST_P(EncodeLevels, MatchPlain) {
  const EncodeKernels plain = KernelsAt(CPU_LEVEL_C);
  const EncodeKernels level = KernelsAt(GetParam().flags);
  std::mt19937 random(99);
  for (int round = 0; round < 500; round++) {
    uint32_t pitch_a = 8 + random() % 57, pitch_b = 8 + random() % 57;
    // Room for an 8x8 block or a 256-sample run at an offset up to 16.
    std::vector<uint8_t> a(std::max(pitch_a * 8, 256u) + 32), b(std::max(pitch_b * 8, 256u) + 32);
    // Extremes often: 0 and 255 are where widening and saturation go wrong.
    for (uint8_t& v : a) v = random() % 4 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
    for (uint8_t& v : b) v = random() % 4 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
    std::vector<uint8_t> a_copy = a, b_copy = b;
    uint32_t off_a = random() % 17, off_b = random() % 17;
    EXPECT_EQ(level.sad8x8(a.data() + off_a, pitch_a, b.data() + off_b, pitch_b),
              plain.sad8x8(a.data() + off_a, pitch_a, b.data() + off_b, pitch_b));
    uint32_t count = 16 * (1 + random() % 16);
    EXPECT_EQ(level.sse(a.data() + off_a, b.data() + off_b, count),
              plain.sse(a.data() + off_a, b.data() + off_b, count));
    EXPECT_EQ(a, a_copy);
    EXPECT_EQ(b, b_copy);
  }
}

// Rows of every width (the vector ones finish in plain code) at odd
// offsets and pitches, extremes often: the same bytes, nothing written
// past the row.
TEST_P(EncodeLevels, ShrinkMatchesPlain) {
  const EncodeKernels plain = KernelsAt(CPU_LEVEL_C);
  const EncodeKernels level = KernelsAt(GetParam().flags);
  std::mt19937 random(17);
  for (int round = 0; round < 500; round++) {
    uint32_t out_width = random() % 41, pitch = 4 * out_width + random() % 9;
    std::vector<uint8_t> rows(size_t{pitch} * 4 + 16);
    for (uint8_t& v : rows) v = random() % 3 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
    const uint8_t* start = rows.data() + random() % 9;
    std::vector<uint8_t> want(out_width + 8, 0xA5), got(out_width + 8, 0xA5);
    plain.shrink4_row(start, pitch, out_width, want.data());
    level.shrink4_row(start, pitch, out_width, got.data());
    ASSERT_EQ(got, want) << "round " << round << ", width " << out_width;
  }
}

// Quantised blocks of every kind: empty, sparse, dense, small levels and
// ones the writer clamps (-32768 among them), the DC anything.
TEST_P(EncodeLevels, CoefficientBitsMatchPlain) {
  const EncodeKernels plain = KernelsAt(CPU_LEVEL_C);
  const EncodeKernels level = KernelsAt(GetParam().flags);
  std::mt19937 random(5);
  for (int round = 0; round < 4000; round++) {
    int16_t buffer[64 + 8];
    int16_t* coeffs = buffer + round % 8;  // any alignment of 2
    int density = static_cast<int>(random() % 101), top = 1 << (random() % 16);
    for (int k = 0; k < 64; k++) {
      int magnitude = static_cast<int>(random() % 100) < density ? static_cast<int>(random() % top) : 0;
      coeffs[k] = static_cast<int16_t>(random() % 2 ? -magnitude : magnitude);
    }
    if (round % 7 == 0) coeffs[random() % 64] = -32768;
    if (round % 5 == 0) coeffs[random() % 64] = 32767;
    std::vector<int16_t> before(coeffs, coeffs + 64);
    ASSERT_EQ(level.coefficient_bits(coeffs), plain.coefficient_bits(coeffs)) << "round " << round;
    ASSERT_EQ(std::vector<int16_t>(coeffs, coeffs + 64), before);
  }
}

// Samples and differences over their whole ranges and flat blocks: every
// float of the result the same, the floats around it untouched.
TEST_P(EncodeLevels, ForwardTransformMatchesPlain) {
  const EncodeKernels plain = KernelsAt(CPU_LEVEL_C);
  const EncodeKernels level = KernelsAt(GetParam().flags);
  std::mt19937 random(11);
  for (int round = 0; round < 3000; round++) {
    int16_t input[64 + 8];
    int16_t* samples = input + round % 8;
    int kind = round % 4;
    for (int i = 0; i < 64; i++) {
      int v = kind == 0   ? static_cast<int>(random() % 256)
              : kind == 1 ? static_cast<int>(random() % 511) - 255
              : kind == 2 ? (random() % 2 ? 255 : -255)
                          : 17;
      samples[i] = static_cast<int16_t>(v);
    }
    float want[64], got[64 + 16];
    std::fill(std::begin(got), std::end(got), -7.5f);
    plain.forward_dct(samples, want);
    level.forward_dct(samples, got + 8);
    ASSERT_EQ(std::memcmp(want, got + 8, sizeof want), 0) << "round " << round;
    for (int i = 0; i < 8; i++) ASSERT_TRUE(got[i] == -7.5f && got[72 + i] == -7.5f);
  }
}

// Transform values of every size against both tables' steps, both dead
// zones: exact rounding points, negative zeros, values past the clamp.
TEST_P(EncodeLevels, QuantiseMatchesPlain) {
  const EncodeKernels plain = KernelsAt(CPU_LEVEL_C);
  const EncodeKernels level = KernelsAt(GetParam().flags);
  std::mt19937 random(13);
  for (int round = 0; round < 3000; round++) {
    float values[64], inverse[64];
    float scale = std::ldexp(1.0f, static_cast<int>(random() % 24) - 4);
    for (int k = 0; k < 64; k++) {
      inverse[k] = 1.0f / static_cast<float>(1 + random() % 200);
      float x = (static_cast<float>(random() % 20001) / 10000.0f - 1.0f) * scale;
      if (random() % 8 == 0) x = (static_cast<float>(random() % 40) * 0.5f + 0.25f) / inverse[k];
      if (random() % 16 == 0) x = -0.0f;
      values[k] = random() % 2 ? -x : x;
    }
    float dead_zone = round % 2 ? 0.25f : 0.18f;
    int16_t want[64], got[64 + 16];
    std::fill(std::begin(got), std::end(got), int16_t{-5});
    int want_count = plain.quantise(values, inverse, dead_zone, want);
    ASSERT_EQ(level.quantise(values, inverse, dead_zone, got + 8), want_count) << "round " << round;
    ASSERT_EQ(std::memcmp(want, got + 8, sizeof want), 0) << "round " << round;
    for (int i = 0; i < 8; i++) ASSERT_TRUE(got[i] == -5 && got[72 + i] == -5);
  }
}

INSTANTIATE_TEST_SUITE_P(Encode, EncodeLevels, ::testing::ValuesIn(VectorLevels()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeKernels, LargestDifferencesDoNotOverflow) {
  std::vector<uint8_t> zeros(256, 0), full(256, 255);
  for (const KernelLevel& level : KernelLevels()) {
    const EncodeKernels k = KernelsAt(level.flags);
    EXPECT_EQ(k.sad8x8(zeros.data(), 8, full.data(), 8), 64u * 255) << level.name;
    EXPECT_EQ(k.sse(zeros.data(), full.data(), 256), 256u * 255 * 255) << level.name;
    EXPECT_EQ(k.sse(full.data(), zeros.data(), 256), 256u * 255 * 255) << level.name;
  }
}

}  // namespace
