// AVX2 versions of the encoder's forward transform (a whole row of eight
// values per vector, so each 1-D pass is one set of sums over eight vectors)
// and quantiser (eight levels per vector). The same operations in the same
// order as the plain versions, products rounded on their own (no fused
// multiply-add), so every float and level is the same.
#include <immintrin.h>

#include <bit>

#include "writer/encode_dct.h"
#include "writer/encode_kernels.h"

namespace {

// This file is built with FMA enabled, and the compiler may fuse a product
// with the sum it feeds; the empty asm makes each product a value of its own.
inline __m256 Rounded(__m256 product) {
  asm("" : "+x"(product));
  return product;
}

// The 8x8 matrix of floats, one row per vector, transposed.
inline void Transpose8(__m256 m[8]) {
  __m256 t[8], u[8];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_ps(m[i], m[i + 1]);
    t[i + 1] = _mm256_unpackhi_ps(m[i], m[i + 1]);
  }
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(1, 0, 1, 0));
    u[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(3, 2, 3, 2));
    u[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(1, 0, 1, 0));
    u[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(3, 2, 3, 2));
  }
  // u[j]: column j of the first four rows and column j + 4; u[4 + j] the same
  // for the last four.
  #pragma GCC unroll 8
  for (int j = 0; j < 4; j++) {
    m[j] = _mm256_permute2f128_ps(u[j], u[4 + j], 0x20);
    m[4 + j] = _mm256_permute2f128_ps(u[j], u[4 + j], 0x31);
  }
}

// The plain ForwardPass over in[n] (eight columns side by side): sums and
// differences of mirrored samples, then per frequency the products added one
// by one onto 0.
inline void ForwardPass(const __m256 in[8], __m256 out[8], const float* weights) {
  __m256 even[4], odd[4];
  #pragma GCC unroll 8
  for (int n = 0; n < 4; n++) {
    even[n] = _mm256_add_ps(in[n], in[7 - n]);
    odd[n] = _mm256_sub_ps(in[n], in[7 - n]);
  }
  #pragma GCC unroll 8
  for (int k = 0; k < 8; k++) {
    const __m256* half = k % 2 ? odd : even;
    __m256 sum = _mm256_setzero_ps();
    #pragma GCC unroll 8
    for (int n = 0; n < 4; n++)
      sum = _mm256_add_ps(sum, Rounded(_mm256_mul_ps(half[n], _mm256_broadcast_ss(weights + 8 * k + n))));
    out[k] = sum;
  }
}

void ForwardDctAvx2(const int16_t samples[64], float values[64]) {
  const float* weights = ForwardDctWeights();
  __m256 rows[8];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i++) {
    __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 8 * i));
    rows[i] = _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(row));
  }
  Transpose8(rows);  // rows[n]: sample n of every row
  __m256 transformed[8];
  ForwardPass(rows, transformed, weights);  // [frequency k], lanes by row
  Transpose8(transformed);                  // [row i], lanes by frequency
  __m256 out[8];
  ForwardPass(transformed, out, weights);
  #pragma GCC unroll 8
  for (int k = 0; k < 8; k++) _mm256_storeu_ps(values + 8 * k, out[k]);
}

// Levels as QuantiseLevels makes them: (|x| + 0.5 - dead_zone) truncated
// (the conversion's out-of-range result is negative, so it clamps to 0 as
// the plain one does), clamped to 0..32767, with x's sign.
int QuantiseAvx2(const float values[64], const float inverse_steps[64], float dead_zone,
                 int16_t out[64]) {
  const __m256 half = _mm256_set1_ps(0.5f), zone = _mm256_set1_ps(dead_zone);
  const __m256 magnitude_bits = _mm256_castsi256_ps(_mm256_set1_epi32(0x7FFFFFFF));
  const __m256i zero = _mm256_setzero_si256(), top = _mm256_set1_epi32(32767);
  uint64_t zeros = 0;  // bit k: level k is 0
#pragma GCC unroll 4
  for (int k = 0; k < 64; k += 16) {
    __m256i levels[2];
#pragma GCC unroll 2
    for (int h = 0; h < 2; h++) {
      __m256 x = Rounded(_mm256_mul_ps(_mm256_loadu_ps(values + k + 8 * h),
                                       _mm256_loadu_ps(inverse_steps + k + 8 * h)));
      __m256 magnitude = _mm256_and_ps(x, magnitude_bits);
      __m256i level = _mm256_cvttps_epi32(_mm256_sub_ps(_mm256_add_ps(magnitude, half), zone));
      level = _mm256_min_epi32(_mm256_max_epi32(level, zero), top);
      uint32_t zero_flags = static_cast<uint32_t>(
          _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(level, zero))));
      zeros |= uint64_t{zero_flags} << (k + 8 * h);
      __m256i negative = _mm256_castps_si256(_mm256_cmp_ps(x, _mm256_setzero_ps(), _CMP_LT_OQ));
      levels[h] = _mm256_sub_epi32(_mm256_xor_si256(level, negative), negative);
    }
    // packs works per 128-bit half: put the quarters back in order.
    __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(levels[0], levels[1]), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), packed);
  }
  int nonzero = 63 - std::popcount(zeros >> 1);  // the DC's level is dropped
  out[0] = 0;
  return nonzero;
}

}  // namespace

void EncodeKernelsAvx2(EncodeKernels* kernels) {
  kernels->forward_dct = ForwardDctAvx2;
  kernels->quantise = QuantiseAvx2;
}
