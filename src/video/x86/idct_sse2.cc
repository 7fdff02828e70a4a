// The inverse transform with SSE2: four columns (then four rows) per vector
// of 32-bit lanes. Bit-exact with the plain version: the same wrapping
// 32-bit products and sums (SSE2 has no 32-bit low multiply, so products are
// formed from the two 32x32->64 multiplies), and the all-zero-column
// shortcut is not needed because the full butterflies give s0 there too.
#include <emmintrin.h>

#include "video/idct.h"

namespace {

inline __m128i MulLow32(__m128i a, __m128i b) {
  __m128i even = _mm_mul_epu32(a, b);
  __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_unpacklo_epi32(_mm_shuffle_epi32(even, _MM_SHUFFLE(0, 0, 2, 0)),
                            _mm_shuffle_epi32(odd, _MM_SHUFFLE(0, 0, 2, 0)));
}

// (x * k) >> 11 on the low 32 bits of the product, arithmetic shift.
inline __m128i Mul(__m128i x, __m128i k) { return _mm_srai_epi32(MulLow32(x, k), 11); }

inline __m128i Add(__m128i a, __m128i b) { return _mm_add_epi32(a, b); }
inline __m128i Sub(__m128i a, __m128i b) { return _mm_sub_epi32(a, b); }

__attribute__((always_inline)) inline void Transform8(const __m128i s[8], __m128i d[8]) {
  const __m128i k2896 = _mm_set1_epi32(2896), k3784 = _mm_set1_epi32(3784);
  const __m128i k5352 = _mm_set1_epi32(-5352), k2217 = _mm_set1_epi32(2217);
  __m128i a0 = Add(s[0], s[4]), a1 = Sub(s[0], s[4]), a2 = Add(s[2], s[6]);
  __m128i a3 = Mul(Sub(s[2], s[6]), k2896);
  __m128i a4 = Add(s[5], s[3]), a5 = Sub(s[5], s[3]), a6 = Add(s[1], s[7]), a7 = Sub(s[1], s[7]);
  __m128i b0 = Add(a4, a6);
  __m128i b1 = Mul(Add(a5, a7), k3784);
  __m128i b2 = Add(Sub(Mul(a5, k5352), b0), b1);
  __m128i b3 = Sub(Mul(Sub(a6, a4), k2896), b2);
  __m128i b4 = Sub(Add(Mul(a7, k2217), b3), b1);
  d[0] = Add(Add(a0, a2), b0);
  d[1] = Add(Sub(Add(a1, a3), a2), b2);
  d[2] = Add(Add(Sub(a1, a3), a2), b3);
  d[3] = Sub(Sub(a0, a2), b4);
  d[4] = Add(Sub(a0, a2), b4);
  d[5] = Sub(Add(Sub(a1, a3), a2), b3);
  d[6] = Sub(Sub(Add(a1, a3), a2), b2);
  d[7] = Sub(Add(a0, a2), b0);
}

inline void Transpose4(__m128i& r0, __m128i& r1, __m128i& r2, __m128i& r3) {
  __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1 = _mm_unpackhi_epi32(r0, r1);
  __m128i t2 = _mm_unpacklo_epi32(r2, r3), t3 = _mm_unpackhi_epi32(r2, r3);
  r0 = _mm_unpacklo_epi64(t0, t2);
  r1 = _mm_unpackhi_epi64(t0, t2);
  r2 = _mm_unpacklo_epi64(t1, t3);
  r3 = _mm_unpackhi_epi64(t1, t3);
}

// m[row][half] <-> m[column][half]: the 8x8 matrix of 32-bit values transposed.
__attribute__((always_inline)) inline void Transpose8(__m128i m[8][2]) {
  for (int q = 0; q < 2; q++) Transpose4(m[4 * q][q], m[4 * q + 1][q], m[4 * q + 2][q], m[4 * q + 3][q]);
  Transpose4(m[0][1], m[1][1], m[2][1], m[3][1]);
  Transpose4(m[4][0], m[5][0], m[6][0], m[7][0]);
  for (int i = 0; i < 4; i++) {
    __m128i t = m[i][1];
    m[i][1] = m[4 + i][0];
    m[4 + i][0] = t;
  }
}

// The results in rows: out[row][half], each lane one sample before the cut to 8 bits.
void IdctRows(const int16_t coeffs[64], const int32_t table[64], __m128i out[8][2]) {
  __m128i m[8][2];
  for (int h = 0; h < 2; h++) {
    __m128i s[8], d[8];
    for (int i = 0; i < 8; i++) {
      __m128i c = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(coeffs + 8 * i + 4 * h));
      c = _mm_srai_epi32(_mm_unpacklo_epi16(c, c), 16);
      __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(table + 8 * i + 4 * h));
      s[i] = Mul(c, t);
    }
    Transform8(s, d);
    for (int i = 0; i < 8; i++) m[i][h] = d[i];
  }
  Transpose8(m);  // m[column][row half]
  const __m128i round = _mm_set1_epi32(127);
  for (int h = 0; h < 2; h++) {
    __m128i s[8], d[8];
    for (int j = 0; j < 8; j++) s[j] = m[j][h];
    Transform8(s, d);
    for (int x = 0; x < 8; x++) out[x][h] = _mm_srai_epi32(Add(d[x], round), 8);
  }
  Transpose8(out);  // back to out[row][column half]
}

inline __m128i RowBytes(const __m128i row[2]) {
  const __m128i low = _mm_set1_epi32(0xFF);
  __m128i words = _mm_packs_epi32(_mm_and_si128(row[0], low), _mm_and_si128(row[1], low));
  return _mm_packus_epi16(words, words);
}

void IdctPutSse2(const int16_t coeffs[64], const int32_t table[64], uint8_t* dest, uint32_t pitch) {
  __m128i out[8][2];
  IdctRows(coeffs, table, out);
  for (int y = 0; y < 8; y++, dest += pitch)
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), RowBytes(out[y]));
}

void IdctAddSse2(const int16_t coeffs[64], const int32_t table[64], const uint8_t prediction[64],
                 uint8_t* dest, uint32_t pitch) {
  __m128i out[8][2];
  IdctRows(coeffs, table, out);
  for (int y = 0; y < 8; y++, dest += pitch) {
    __m128i p = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(prediction + 8 * y));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(dest), _mm_add_epi8(RowBytes(out[y]), p));
  }
}

void IdctBlockSse2(const int16_t coeffs[64], const int32_t table[64], int32_t out[64]) {
  __m128i rows[8][2];
  IdctRows(coeffs, table, rows);
  for (int y = 0; y < 8; y++)
    for (int h = 0; h < 2; h++)
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * y + 4 * h), rows[y][h]);
}

}  // namespace

void IdctKernelsSse2(IdctKernels* kernels) {
  kernels->block = IdctBlockSse2;
  kernels->put = IdctPutSse2;
  kernels->add = IdctAddSse2;
}
