// SSE2 versions of the encoder's kernels: psadbw over two block rows at a
// time; squared differences widened to 16 then summed in 32-bit lanes (each
// lane gains at most 4 x 255 x 255 per 16 samples, so runs of up to 65536
// samples cannot overflow; blocks have 64 or 256); the coefficient bit count
// from each square's longest magnitude, its bit length read from the
// exponent of the value as a float; the 4x shrink by pairwise madd; and
// the forward transform with four
// columns per vector, in exactly the plain version's order of operations.
#include <emmintrin.h>

#include <cstring>

#include "writer/coefficient_writer.h"
#include "writer/encode_dct.h"
#include "writer/encode_kernels.h"

namespace {

inline __m128i LoadRows(const uint8_t* p, uint32_t pitch) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + pitch)));
}

uint32_t Sad8x8Sse2(const uint8_t* a, uint32_t a_pitch, const uint8_t* b, uint32_t b_pitch) {
  __m128i sum = _mm_setzero_si128();
  #pragma GCC unroll 8
  for (int y = 0; y < 8; y += 2) {
    sum = _mm_add_epi64(sum, _mm_sad_epu8(LoadRows(a, a_pitch), LoadRows(b, b_pitch)));
    a += 2 * a_pitch;
    b += 2 * b_pitch;
  }
  sum = _mm_add_epi64(sum, _mm_srli_si128(sum, 8));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

uint32_t SseSse2(const uint8_t* a, const uint8_t* b, uint32_t count) {
  const __m128i zero = _mm_setzero_si128();
  __m128i sum = _mm_setzero_si128();
  for (uint32_t i = 0; i < count; i += 16) {
    __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i));
    __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
    // |a - b| per byte, then widened: the squares of 0..255 fit 16 bits
    // unsigned, and madd adds pairs of them into 32-bit lanes.
    __m128i diff = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
    __m128i lo = _mm_unpacklo_epi8(diff, zero), hi = _mm_unpackhi_epi8(diff, zero);
    sum = _mm_add_epi32(sum, _mm_madd_epi16(lo, lo));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(hi, hi));
  }
  sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 8));
  sum = _mm_add_epi32(sum, _mm_srli_si128(sum, 4));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(sum));
}

// |c| with -32768 saturating to 32767, the clamp the writer applies.
inline __m128i ClampedMagnitudes(__m128i c) {
  return _mm_max_epi16(c, _mm_subs_epi16(_mm_setzero_si128(), c));
}

uint32_t CoefficientBitsSse2(const int16_t coeffs[64]) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low_words = _mm_set1_epi32(0xFFFF), bias = _mm_set1_epi32(126);
  alignas(16) int32_t lengths[16];
  __m128i zeros = zero;  // -1 per zero coefficient, by lane
  #pragma GCC unroll 8
  for (int r = 0; r < 4; r++) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coeffs + 16 * r));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(coeffs + 16 * r + 8));
    if (r == 0) a = _mm_and_si128(a, _mm_set_epi16(-1, -1, -1, -1, -1, -1, -1, 0));  // no DC
    a = ClampedMagnitudes(a);
    b = ClampedMagnitudes(b);
    zeros = _mm_add_epi16(zeros, _mm_add_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero)));
    // Rows 2r and 2r + 1, then neighbouring columns: each 32-bit lane's low
    // word holds its square's largest magnitude.
    __m128i largest = _mm_max_epi16(a, b);
    largest = _mm_and_si128(_mm_max_epi16(largest, _mm_srli_epi32(largest, 16)), low_words);
    // A float's exponent is floor(log2 x) + 127 for x >= 1; 0 has none.
    __m128i exponent = _mm_srli_epi32(_mm_castps_si128(_mm_cvtepi32_ps(largest)), 23);
    __m128i length = _mm_and_si128(_mm_sub_epi32(exponent, bias), _mm_cmpgt_epi32(largest, zero));
    _mm_store_si128(reinterpret_cast<__m128i*>(lengths + 4 * r), length);
  }
  __m128i counts = _mm_madd_epi16(zeros, _mm_set1_epi16(1));
  counts = _mm_add_epi32(counts, _mm_srli_si128(counts, 8));
  counts = _mm_add_epi32(counts, _mm_srli_si128(counts, 4));
  // The DC's lane counted as zero too.
  uint32_t nonzero = static_cast<uint32_t>(64 + _mm_cvtsi128_si32(counts));
  return DctBitsFromSquares(lengths, nonzero);
}

// Rows of 8 samples; each 8x8 half: [row][4 columns].
inline void Transpose4(__m128& r0, __m128& r1, __m128& r2, __m128& r3) {
  _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
}

// The plain ForwardPass on in[n][half] (eight columns, four per vector):
// sums and differences of mirrored samples, then per frequency the products
// added one by one onto 0, as the plain loop does.
inline void ForwardPass(const __m128 in[8][2], __m128 out[8][2], const float* weights) {
  __m128 even[4][2], odd[4][2];
  #pragma GCC unroll 8
  for (int n = 0; n < 4; n++)
    #pragma GCC unroll 8
    for (int h = 0; h < 2; h++) {
      even[n][h] = _mm_add_ps(in[n][h], in[7 - n][h]);
      odd[n][h] = _mm_sub_ps(in[n][h], in[7 - n][h]);
    }
  #pragma GCC unroll 8
  for (int k = 0; k < 8; k++) {
    const __m128(*half)[2] = k % 2 ? odd : even;
    #pragma GCC unroll 8
    for (int h = 0; h < 2; h++) {
      __m128 sum = _mm_setzero_ps();
      #pragma GCC unroll 8
      for (int n = 0; n < 4; n++)
        sum = _mm_add_ps(sum, _mm_mul_ps(half[n][h], _mm_set1_ps(weights[8 * k + n])));
      out[k][h] = sum;
    }
  }
}

// m[i][h] (row i, columns 4h..4h+3) to m[j][h] (column j, rows 4h..4h+3).
inline void Transpose8(__m128 m[8][2]) {
  Transpose4(m[0][0], m[1][0], m[2][0], m[3][0]);
  Transpose4(m[4][1], m[5][1], m[6][1], m[7][1]);
  Transpose4(m[0][1], m[1][1], m[2][1], m[3][1]);
  Transpose4(m[4][0], m[5][0], m[6][0], m[7][0]);
  #pragma GCC unroll 8
  for (int i = 0; i < 4; i++) {
    __m128 t = m[i][1];
    m[i][1] = m[4 + i][0];
    m[4 + i][0] = t;
  }
}

void ForwardDctSse2(const int16_t samples[64], float values[64]) {
  const float* weights = ForwardDctWeights();
  __m128 rows[8][2];
  #pragma GCC unroll 8
  for (int i = 0; i < 8; i++) {
    __m128i row = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples + 8 * i));
    __m128i sign = _mm_srai_epi16(row, 15);
    rows[i][0] = _mm_cvtepi32_ps(_mm_unpacklo_epi16(row, sign));
    rows[i][1] = _mm_cvtepi32_ps(_mm_unpackhi_epi16(row, sign));
  }
  // Horizontal: the columns of the transpose hold the rows.
  Transpose8(rows);  // rows[n][h]: sample n of rows 4h..4h+3
  __m128 transformed[8][2];
  ForwardPass(rows, transformed, weights);  // [frequency k][rows 4h..]
  Transpose8(transformed);                  // [row i][frequencies 4h..]
  __m128 out[8][2];
  ForwardPass(transformed, out, weights);
  #pragma GCC unroll 8
  for (int k = 0; k < 8; k++)
    #pragma GCC unroll 8
    for (int h = 0; h < 2; h++) _mm_storeu_ps(values + 8 * k + 4 * h, out[k][h]);
}

}  // namespace

// Sixteen columns of four lines give four outputs: the lines added as
// 16-bit sums, then neighbours added pairwise twice (madd by ones; the
// sums of eight samples, at most 2040, pack back to 16 bits exactly).
void Shrink4RowSse2(const uint8_t* rows, uint32_t pitch, uint32_t out_width, uint8_t* out) {
  const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1), round = _mm_set1_epi32(8);
  uint32_t x = 0;
  for (; x + 4 <= out_width; x += 4) {
    const uint8_t* p = rows + 4 * x;
    __m128i lo = zero, hi = zero;
    for (uint32_t y = 0; y < 4; y++) {
      __m128i line = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + size_t{y} * pitch));
      lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(line, zero));
      hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(line, zero));
    }
    __m128i pairs = _mm_packs_epi32(_mm_madd_epi16(lo, ones), _mm_madd_epi16(hi, ones));
    __m128i sums = _mm_srli_epi32(_mm_add_epi32(_mm_madd_epi16(pairs, ones), round), 4);
    __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(sums, zero), zero);
    uint32_t four = static_cast<uint32_t>(_mm_cvtsi128_si32(bytes));
    std::memcpy(out + x, &four, 4);
  }
  Shrink4RowPlain(rows + 4 * x, pitch, out_width - x, out + x);
}

void EncodeKernelsSse2(EncodeKernels* kernels) {
  kernels->sad8x8 = Sad8x8Sse2;
  kernels->sse = SseSse2;
  kernels->coefficient_bits = CoefficientBitsSse2;
  kernels->forward_dct = ForwardDctSse2;
  kernels->shrink4_row = Shrink4RowSse2;
}
