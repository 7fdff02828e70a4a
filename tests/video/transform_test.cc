// Dequantisation tables, the inverse transform and its output forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "support/kernel_levels.h"
#include "video/idct.h"
#include "video/video_tables.h"

namespace {

const double kScale[16] = {1, 4.0 / 3, 5.0 / 3, 2, 8.0 / 3, 3.5, 4, 5, 6, 8, 12, 17, 22, 28, 34, 44};
const int kIntraM[64] = {16, 16, 16, 19, 16, 19, 22, 22, 22, 22, 26, 24, 26, 22, 22, 27,
                         27, 27, 26, 26, 26, 29, 29, 29, 27, 27, 27, 26, 34, 34, 34, 29,
                         29, 29, 27, 27, 37, 34, 34, 32, 32, 29, 29, 38, 37, 35, 35, 34,
                         35, 40, 40, 40, 38, 38, 48, 48, 46, 46, 58, 56, 56, 69, 69, 83};
const int kInterM[64] = {16, 17, 17, 18, 18, 18, 19, 19, 19, 19, 20, 20, 20, 20, 20, 21,
                         21, 21, 21, 21, 21, 22, 22, 22, 22, 22, 22, 22, 23, 23, 23, 23,
                         23, 23, 23, 23, 24, 24, 24, 25, 24, 24, 24, 25, 26, 26, 26, 26,
                         25, 27, 27, 27, 27, 27, 28, 28, 28, 28, 30, 30, 30, 31, 31, 33};
// Entries one above the rounded formula, as "table/position".
const std::set<std::pair<int, int>> kIntraPlusOne = {
    {5, 33},  {6, 48},  {6, 53},  {7, 10},  {7, 21},  {7, 42},  {9, 8},   {9, 24},  {9, 35},
    {10, 25}, {10, 48}, {11, 2},  {11, 6},  {11, 20}, {11, 24}, {11, 28}, {11, 33}, {11, 35},
    {12, 37}, {12, 40}, {12, 51}, {12, 59}, {13, 2},  {13, 11}, {13, 12}, {13, 20}, {13, 29},
    {13, 31}, {13, 48}, {13, 60}, {14, 1},  {14, 10}, {14, 11}, {14, 17}, {14, 18}, {14, 19},
    {14, 21}, {14, 25}, {14, 26}, {14, 29}, {14, 42}, {15, 21}, {15, 42}, {15, 44}, {15, 46},
    {15, 48}};
const std::set<std::pair<int, int>> kInterPlusOne = {
    {0, 18},  {1, 27},  {3, 33},  {4, 34},  {7, 18},  {8, 33},  {9, 34},  {9, 61},
    {10, 3},  {10, 37}, {10, 40}, {11, 13}, {11, 16}, {11, 18}, {11, 20}, {11, 25},
    {11, 43}, {12, 14}, {12, 19}, {12, 26}, {12, 30}, {12, 33}, {13, 43}, {13, 48},
    {13, 49}, {14, 10}, {14, 19}, {14, 22}, {14, 26}, {14, 33}, {14, 54}, {15, 12},
    {15, 17}, {15, 22}, {15, 25}, {15, 27}, {15, 41}, {15, 55}};

// The plain kernels: the reference the vector levels are checked against.
const IdctKernels& Plain() {
  static const IdctKernels plain = [] {
    IdctKernels k;
    IdctKernelsInit(&k, CPU_LEVEL_C);
    return k;
  }();
  return plain;
}

double C(int i) { return i == 0 ? 1.0 : std::cos(i * M_PI / 16) * std::sqrt(2.0); }

TEST(QuantTables, RegenerateFromTheFormulaAndExceptions) {
  for (int q = 0; q < 16; q++) {
    for (int k = 0; k < 64; k++) {
      double base = 65536 * kScale[q] / 16 * C(k / 8) * C(k % 8);
      int32_t intra = static_cast<int32_t>(std::floor(base * kIntraM[k] + 0.5)) +
                      (kIntraPlusOne.count({q, k}) ? 1 : 0);
      int32_t inter = static_cast<int32_t>(std::floor(base * kInterM[k] + 0.5)) +
                      (kInterPlusOne.count({q, k}) ? 1 : 0);
      EXPECT_EQ(QUANT_INTRA[q][k], intra) << q << "/" << k;
      EXPECT_EQ(QUANT_INTER[q][k], inter) << q << "/" << k;
    }
  }
  EXPECT_EQ(QUANT_INTRA[15][3], 4026499);
  EXPECT_EQ(QUANT_INTER[0][15], 32917);
}

TEST(Idct, DcOnlyBlocksAreFlatAndWrap) {
  struct Case {
    int16_t dc;
    int q;
    uint8_t want;
  };
  // ((dc x entry0 >> 11) + 127) >> 8, written modulo 256.
  for (Case c : {Case{100, 0, 12}, Case{2045, 0, 0}, Case{-5, 0, 255}, Case{0, 9, 0},
                 Case{300, 3, 75}}) {
    int16_t coeffs[64] = {c.dc};
    uint8_t out[8 * 8];
    Plain().put(coeffs, QUANT_INTRA[c.q], out, 8);
    for (uint8_t v : out) EXPECT_EQ(v, c.want) << c.dc;
  }
}

TEST(Idct, ZeroBlockAddsNothingAndResultsAddModulo256) {
  std::mt19937 rng(1);
  uint8_t prediction[64];
  for (uint8_t& p : prediction) p = static_cast<uint8_t>(rng());
  int16_t zero[64] = {};
  uint8_t out[64];
  Plain().add(zero, QUANT_INTER[7], prediction, out, 8);
  EXPECT_EQ(0, std::memcmp(out, prediction, 64));
  int16_t dc[64] = {80};  // +10 everywhere with table 0
  prediction[0] = 250;
  Plain().add(dc, QUANT_INTER[0], prediction, out, 8);
  EXPECT_EQ(out[0], 4);
  EXPECT_EQ(out[1], static_cast<uint8_t>(prediction[1] + 10));
}

// The integer transform against a floating-point inverse DCT of the
// dequantised coefficients: catches any slip in the butterflies or scales.
TEST(Idct, FollowsTheFloatingPointTransform) {
  std::mt19937 rng(2);
  for (int round = 0; round < 300; round++) {
    int q = rng() % 16;
    int16_t coeffs[64] = {};
    int count = round % 3 == 0 ? 64 : 1 + rng() % 6;
    // Amplitudes that keep the 32-bit intermediates from wrapping (a wrap is
    // the stream's own business, covered below).
    int amplitude = std::max(2, static_cast<int>(120 / kScale[q]));
    for (int i = 0; i < count; i++)
      coeffs[rng() % 64] = static_cast<int16_t>(static_cast<int>(rng() % (2 * amplitude + 1)) - amplitude);
    int32_t out[64];
    Plain().block(coeffs, QUANT_INTRA[q], out);
    for (int y = 0; y < 8; y++) {
      for (int x = 0; x < 8; x++) {
        double sum = 0;
        for (int v = 0; v < 8; v++) {
          for (int u = 0; u < 8; u++) {
            double f = coeffs[8 * v + u] * kScale[q] * kIntraM[8 * v + u] / 16;
            double cu = u ? 1 : std::sqrt(0.5), cv = v ? 1 : std::sqrt(0.5);
            sum += cu * cv / 4 * f * std::cos((2 * x + 1) * u * M_PI / 16) *
                   std::cos((2 * y + 1) * v * M_PI / 16);
          }
        }
        ASSERT_NEAR(out[8 * y + x], sum, 2.0) << "round " << round << " at " << x << "," << y;
      }
    }
  }
}

TEST(Idct, HugeCoefficientsWrapWithoutFault) {
  int16_t coeffs[64];
  for (int i = 0; i < 64; i++) coeffs[i] = i % 2 ? 32767 : -32768;
  int32_t out[64];
  Plain().block(coeffs, QUANT_INTRA[15], out);  // defined wrapping, checked under UBSan
  uint8_t put[64];
  Plain().put(coeffs, QUANT_INTRA[15], put, 8);
  for (int i = 0; i < 64; i++) EXPECT_EQ(put[i], static_cast<uint8_t>(out[i]));
}

TEST(Idct, DoubledPutCoversTwoByTwoSquares) {
  std::mt19937 rng(4);
  int16_t coeffs[64] = {};
  for (int i = 0; i < 10; i++) coeffs[rng() % 64] = static_cast<int16_t>(rng() % 41) - 20;
  uint8_t plain[64];
  Plain().put(coeffs, QUANT_INTRA[2], plain, 8);
  uint8_t doubled[20 * 18];
  std::memset(doubled, 0xCC, sizeof(doubled));
  IdctPutDoubled(Plain(), coeffs, QUANT_INTRA[2], doubled + 20 + 1, 20);
  for (int y = 0; y < 18; y++) {
    for (int x = 0; x < 20; x++) {
      bool inside = y >= 1 && y <= 16 && x >= 1 && x <= 16;
      uint8_t want = inside ? plain[8 * ((y - 1) / 2) + (x - 1) / 2] : 0xCC;
      ASSERT_EQ(doubled[20 * y + x], want) << x << "," << y;
    }
  }
}

TEST(Idct, ResidueAddsAtNaturalPositionsModulo256) {
  uint8_t prediction[64];
  int8_t residue[64];
  for (int i = 0; i < 64; i++) {
    prediction[i] = static_cast<uint8_t>(i * 4);
    residue[i] = static_cast<int8_t>(i % 2 ? -100 : 100);
  }
  uint8_t out[64];
  ResidueAdd(residue, prediction, out, 8);
  for (int i = 0; i < 64; i++) EXPECT_EQ(out[i], static_cast<uint8_t>(i * 4 + (i % 2 ? -100 : 100)));
}

}  // namespace

namespace {

class IdctLevels : public ::testing::TestWithParam<KernelLevel> {};

// Each vector level against the plain kernels on random blocks of every
// kind: small, huge (wrapping) and sparse coefficients, odd pitches and
// offsets, guard bytes around the destination, inputs left untouched.
TEST_P(IdctLevels, MatchPlainBitForBit) {
  const IdctKernels* plain = &Plain();
  IdctKernels level;
  IdctKernelsInit(&level, GetParam().flags);
  const IdctKernels* level_kernels = &level;
  std::mt19937 rng(6);
  for (int round = 0; round < 3000; round++) {
    alignas(16) int16_t coeffs[64] = {};
    int kind = round % 4;
    for (int i = 0; i < 64; i++) {
      if (kind == 0 && rng() % 6) continue;
      int32_t v = kind == 2 ? static_cast<int32_t>(rng()) : static_cast<int32_t>(rng() % 257) - 128;
      coeffs[i] = static_cast<int16_t>(v);
    }
    if (kind == 3) std::fill(coeffs + 8, coeffs + 64, 0);  // DC and first row only
    const int32_t* table = (round % 2 ? QUANT_INTER : QUANT_INTRA)[rng() % 16];
    int16_t coeffs_copy[64];
    std::memcpy(coeffs_copy, coeffs, sizeof(coeffs));
    int32_t out_plain[64], out_level[64];
    plain->block(coeffs, table, out_plain);
    level_kernels->block(coeffs, table, out_level);
    ASSERT_EQ(0, std::memcmp(out_plain, out_level, sizeof(out_plain))) << "round " << round;

    uint32_t pitch = 8 + rng() % 29, offset = 1 + rng() % 7;
    std::vector<uint8_t> a(offset + 8 * pitch + 16), b;
    for (uint8_t& v : a) v = static_cast<uint8_t>(rng());
    b = a;
    uint8_t prediction[64];
    for (uint8_t& p : prediction) p = static_cast<uint8_t>(rng());
    if (round % 3 == 0) {
      plain->put(coeffs, table, a.data() + offset, pitch);
      level_kernels->put(coeffs, table, b.data() + offset, pitch);
    } else {
      plain->add(coeffs, table, prediction, a.data() + offset, pitch);
      level_kernels->add(coeffs, table, prediction, b.data() + offset, pitch);
    }
    ASSERT_EQ(a, b) << "round " << round;
    ASSERT_EQ(0, std::memcmp(coeffs, coeffs_copy, sizeof(coeffs)));
  }
}

INSTANTIATE_TEST_SUITE_P(Idct, IdctLevels, ::testing::ValuesIn(VectorLevels()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
