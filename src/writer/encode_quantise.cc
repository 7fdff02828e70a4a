#include "writer/encode_quantise.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "video/video_tables.h"
#include "writer/encode_dct.h"

namespace {

struct Gains {
  float squared_length[64];
};

// ForwardDctRaw projects on basis pictures b_k scaled by 1 / |b_k|^2, so
// the transform of a unit sample at n gives b_k[n] / |b_k|^2, and the
// squares of those over all n add up to 1 / |b_k|^2.
Gains MeasureGains() {
  double sums[64] = {};
  for (int n = 0; n < 64; n++) {
    int16_t unit[64] = {};
    unit[n] = 1;
    float values[64];
    ForwardDctRaw(unit, values);
    for (int k = 0; k < 64; k++) sums[k] += double{values[k]} * values[k];
  }
  Gains g;
  for (int k = 0; k < 64; k++) g.squared_length[k] = static_cast<float>(1.0 / sums[k]);
  return g;
}

}  // namespace

int QuantiseLevels(const float values[64], const float inverse_steps[64], float dead_zone,
                   int16_t out[64]) {
  // All 64 positions in one branch-free loop (vectorised by the compiler);
  // the DC's result is then dropped.
  int nonzero = 0;
  for (int k = 0; k < 64; k++) {
    float x = values[k] * inverse_steps[k];
    float mag = std::fabs(x);
    int level = static_cast<int>(mag + 0.5f - dead_zone);
    level = std::min(std::max(level, 0), 32767);
    out[k] = static_cast<int16_t>(x < 0 ? -level : level);
    nonzero += level != 0;
  }
  nonzero -= out[0] != 0;
  out[0] = 0;
  return nonzero;
}

const float* TransformGains() {
  static const Gains gains = MeasureGains();
  return gains.squared_length;
}

uint32_t TrimCoefficients(const float values[64], const float inverse_steps[64], double lambda,
                          uint32_t (*count_bits)(const int16_t coeffs[64]), int16_t coeffs[64]) {
  const float* gains = TransformGains();
  uint32_t bits = count_bits(coeffs);
  for (int i = 63; i >= 1; i--) {
    int k = COEFF_SCAN[i];
    int level = coeffs[k];
    while (level != 0) {
      // Error of each level in samples: the distance from the exact value,
      // in steps, squared, times the step's squared size in samples.
      double exact = std::fabs(values[k] * inverse_steps[k]);
      double step = 1.0 / inverse_steps[k];
      double unit = step * step * gains[k];
      int lower = std::abs(level) - 1;
      double added = unit * ((exact - lower) * (exact - lower) -
                             (exact - std::abs(level)) * (exact - std::abs(level)));
      // Even dropping every bit of the block could not pay for it.
      if (added >= lambda * bits) break;
      int16_t kept = coeffs[k];
      coeffs[k] = static_cast<int16_t>(level < 0 ? -lower : lower);
      uint32_t trimmed = count_bits(coeffs);
      if (added + lambda * (static_cast<double>(trimmed) - bits) >= 0) {
        coeffs[k] = kept;
        break;
      }
      bits = trimmed;
      level = coeffs[k];
    }
  }
  return bits;
}
