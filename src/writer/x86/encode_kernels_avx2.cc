// AVX2 version of the encoder's forward transform: a whole row of eight
// values per vector, so each 1-D pass is one set of sums over eight vectors.
// The same operations in the same order as the plain version, products
// rounded on their own (no fused multiply-add), so every float is the same.
#include <immintrin.h>

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

}  // namespace

void EncodeKernelsAvx2(EncodeKernels* kernels) { kernels->forward_dct = ForwardDctAvx2; }
