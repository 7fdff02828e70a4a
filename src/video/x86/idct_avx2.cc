// The inverse transform with AVX2: a whole row of eight 32-bit values per
// vector, so each pass is one butterfly over eight vectors, with the native
// 32-bit low multiply. Bit-exact with the plain version: the same wrapping
// products and sums (the all-zero-column shortcut gives what the full
// butterfly gives, see idct_sse2.cc).
#include <immintrin.h>

#include "video/idct.h"

namespace {

// (x * k) >> 11 on the low 32 bits of the product, arithmetic shift.
inline __m256i Mul(__m256i x, __m256i k) { return _mm256_srai_epi32(_mm256_mullo_epi32(x, k), 11); }
inline __m256i Add(__m256i a, __m256i b) { return _mm256_add_epi32(a, b); }
inline __m256i Sub(__m256i a, __m256i b) { return _mm256_sub_epi32(a, b); }

__attribute__((always_inline)) inline void Transform8(__m256i s[8]) {
  const __m256i k2896 = _mm256_set1_epi32(2896), k3784 = _mm256_set1_epi32(3784);
  const __m256i k5352 = _mm256_set1_epi32(-5352), k2217 = _mm256_set1_epi32(2217);
  __m256i a0 = Add(s[0], s[4]), a1 = Sub(s[0], s[4]), a2 = Add(s[2], s[6]);
  __m256i a3 = Mul(Sub(s[2], s[6]), k2896);
  __m256i a4 = Add(s[5], s[3]), a5 = Sub(s[5], s[3]), a6 = Add(s[1], s[7]), a7 = Sub(s[1], s[7]);
  __m256i b0 = Add(a4, a6);
  __m256i b1 = Mul(Add(a5, a7), k3784);
  __m256i b2 = Add(Sub(Mul(a5, k5352), b0), b1);
  __m256i b3 = Sub(Mul(Sub(a6, a4), k2896), b2);
  __m256i b4 = Sub(Add(Mul(a7, k2217), b3), b1);
  s[0] = Add(Add(a0, a2), b0);
  s[1] = Add(Sub(Add(a1, a3), a2), b2);
  s[2] = Add(Add(Sub(a1, a3), a2), b3);
  s[3] = Sub(Sub(a0, a2), b4);
  s[4] = Add(Sub(a0, a2), b4);
  s[5] = Sub(Add(Sub(a1, a3), a2), b3);
  s[6] = Sub(Sub(Add(a1, a3), a2), b2);
  s[7] = Sub(Add(a0, a2), b0);
}

// The 8x8 matrix of 32-bit values, one row per vector, transposed.
__attribute__((always_inline)) inline void Transpose8(__m256i m[8]) {
  __m256i t[8], u[8];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i += 2) {
    t[i] = _mm256_unpacklo_epi32(m[i], m[i + 1]);
    t[i + 1] = _mm256_unpackhi_epi32(m[i], m[i + 1]);
  }
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i += 4) {
    u[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
    u[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
    u[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
    u[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
  }
  // u[j] holds column j (rows 0-3) and column j + 4 of the first four rows;
  // u[4 + j] the same for the last four.
  #pragma GCC unroll 8
  for (int j = 0; j < 4; j++) {
    m[j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x20);
    m[4 + j] = _mm256_permute2x128_si256(u[j], u[4 + j], 0x31);
  }
}

// The results in rows, each lane one sample before the cut to 8 bits.
__attribute__((always_inline)) inline void IdctRows(const int16_t coeffs[64], const int32_t table[64],
                                                    __m256i m[8]) {
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i++) {
    __m256i c = _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coeffs + 8 * i)));
    __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(table + 8 * i));
    m[i] = Mul(c, t);
  }
  Transform8(m);   // every column at once: m[row]
  Transpose8(m);   // m[column]
  Transform8(m);   // every row at once: m[output column], lanes by row
  const __m256i round = _mm256_set1_epi32(127);
  #pragma GCC unroll 8
  for (int x = 0; x < 8; x++) m[x] = _mm256_srai_epi32(Add(m[x], round), 8);
  Transpose8(m);   // back to m[row]
}

// Rows 4q..4q+3 cut to 8 bits, the 32 bytes in row order.
inline __m256i FourRowsBytes(const __m256i m[8], int q) {
  const __m256i low = _mm256_set1_epi32(0xFF);
  __m256i r01 = _mm256_packus_epi32(_mm256_and_si256(m[4 * q], low), _mm256_and_si256(m[4 * q + 1], low));
  __m256i r23 = _mm256_packus_epi32(_mm256_and_si256(m[4 * q + 2], low), _mm256_and_si256(m[4 * q + 3], low));
  // Per 128-bit half: the rows' first (then last) four bytes, rows 0-3.
  __m256i bytes = _mm256_packus_epi16(r01, r23);
  return _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

inline void StoreFourRows(__m256i bytes, uint8_t* dest, uint32_t pitch) {
  __m128i low = _mm256_castsi256_si128(bytes), high = _mm256_extracti128_si256(bytes, 1);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), low);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + pitch), _mm_unpackhi_epi64(low, low));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + 2 * pitch), high);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(dest + 3 * pitch), _mm_unpackhi_epi64(high, high));
}

void IdctPutAvx2(const int16_t coeffs[64], const int32_t table[64], uint8_t* dest, uint32_t pitch) {
  __m256i m[8];
  IdctRows(coeffs, table, m);
  #pragma GCC unroll 8
  for (int q = 0; q < 2; q++) StoreFourRows(FourRowsBytes(m, q), dest + 4 * q * pitch, pitch);
}

void IdctAddAvx2(const int16_t coeffs[64], const int32_t table[64], const uint8_t prediction[64],
                 uint8_t* dest, uint32_t pitch) {
  __m256i m[8];
  IdctRows(coeffs, table, m);
  #pragma GCC unroll 8
  for (int q = 0; q < 2; q++) {
    __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prediction + 32 * q));
    StoreFourRows(_mm256_add_epi8(FourRowsBytes(m, q), p), dest + 4 * q * pitch, pitch);
  }
}

void IdctBlockAvx2(const int16_t coeffs[64], const int32_t table[64], int32_t out[64]) {
  __m256i m[8];
  IdctRows(coeffs, table, m);
  #pragma GCC unroll 8
  for (int y = 0; y < 8; y++) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 8 * y), m[y]);
}

}  // namespace

void IdctKernelsAvx2(IdctKernels* kernels) {
  kernels->block = IdctBlockAvx2;
  kernels->put = IdctPutAvx2;
  kernels->add = IdctAddAvx2;
}
