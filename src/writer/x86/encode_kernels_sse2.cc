// SSE2 versions of the encoder's distortion kernels: psadbw over two block
// rows at a time, and squared differences widened to 16 then summed in
// 32-bit lanes (each lane gains at most 4 x 255 x 255 per 16 samples, so
// runs of up to 65536 samples cannot overflow; blocks have 64 or 256).
#include <emmintrin.h>

#include "writer/encode_kernels.h"

namespace {

inline __m128i LoadRows(const uint8_t* p, uint32_t pitch) {
  return _mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + pitch)));
}

uint32_t Sad8x8Sse2(const uint8_t* a, uint32_t a_pitch, const uint8_t* b, uint32_t b_pitch) {
  __m128i sum = _mm_setzero_si128();
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


}  // namespace

void EncodeKernelsSse2(EncodeKernels* kernels) {
  kernels->sad8x8 = Sad8x8Sse2;
  kernels->sse = SseSse2;
}
