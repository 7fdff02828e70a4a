// The forward transform must invert the decoder's integer inverse: a block
// transformed, rounded at the finest quantiser and rebuilt by the inverse comes
// back within rounding error, for the intra and the inter tables.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "video/idct.h"
#include "video/video_tables.h"
#include "writer/encode_dct.h"

namespace {

TEST(ForwardDct, InvertsTheDecodersTransform) {
  std::mt19937 random(3);
  IdctKernels idct;
  IdctKernelsInit(&idct, 0);
  for (int round = 0; round < 200; round++) {
    int16_t samples[64];
    int base = static_cast<int>(random() % 200) + 20;
    for (int i = 0; i < 64; i++) samples[i] = static_cast<int16_t>(base + static_cast<int>(random() % 31) - 15);
    for (const auto* tables : {QUANT_INTRA, QUANT_INTER}) {
      float coefficients[64];
      ForwardDct(samples, tables[0], coefficients);
      int16_t rounded[64];
      for (int k = 0; k < 64; k++) rounded[k] = static_cast<int16_t>(std::lround(coefficients[k]));
      uint8_t rebuilt[64];
      idct.put(rounded, tables[0], rebuilt, 8);
      // Rounding each coefficient to its step (up to about 5 levels for the
      // highest intra frequencies) leaves a small error, never a wrong picture.
      double sse = 0;
      for (int i = 0; i < 64; i++) {
        EXPECT_NEAR(rebuilt[i], samples[i], 4) << "sample " << i;
        sse += (rebuilt[i] - samples[i]) * (rebuilt[i] - samples[i]);
      }
      EXPECT_LT(sse / 64, 1.5);
    }
  }
}

// A flat block is all DC: at quantiser 0 the intra DC is 8 x the level.
TEST(ForwardDct, FlatBlockIsPureDc) {
  int16_t samples[64];
  for (int16_t& s : samples) s = 100;
  float coefficients[64];
  ForwardDct(samples, QUANT_INTRA[0], coefficients);
  EXPECT_NEAR(coefficients[0], 800.0f, 0.01f);
  for (int k = 1; k < 64; k++) EXPECT_NEAR(coefficients[k], 0.0f, 0.01f);
}

}  // namespace
