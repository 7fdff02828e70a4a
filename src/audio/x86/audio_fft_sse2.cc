// SSE2 kernels of the audio transforms.
#include <emmintrin.h>

#include "audio/audio_transform.h"

namespace {

// Scales, clamps and rounds four values; the conversion rounds to nearest
// with ties to even (the default rounding mode), after the clamp so it never
// sees a value outside 32 bits.
inline __m128i ScaleToInt(__m128 v, __m128 scale) {
  const __m128 lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
  return _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_mul_ps(v, scale), lo), hi));
}

void ToPcmSse2(const float* a, const float* b, int16_t* out, uint32_t count, float scale_value) {
  const __m128 scale = _mm_set1_ps(scale_value);
  uint32_t i = 0;
  if (!b) {
    for (; i + 8 <= count; i += 8) {
      const __m128i lo = ScaleToInt(_mm_loadu_ps(a + i), scale);
      const __m128i hi = ScaleToInt(_mm_loadu_ps(a + i + 4), scale);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(lo, hi));
    }
    if (i < count) AudioPlainKernels().to_pcm(a + i, nullptr, out + i, count - i, scale_value);
    return;
  }
  for (; i + 4 <= count; i += 4) {
    const __m128i left = ScaleToInt(_mm_loadu_ps(a + i), scale);
    const __m128i right = ScaleToInt(_mm_loadu_ps(b + i), scale);
    // Saturating packs keep the already clamped values; unpacking the two
    // channels' words interleaves them.
    const __m128i l16 = _mm_packs_epi32(left, left);
    const __m128i r16 = _mm_packs_epi32(right, right);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), _mm_unpacklo_epi16(l16, r16));
  }
  if (i < count) AudioPlainKernels().to_pcm(a + i, b + i, out + 2 * i, count - i, scale_value);
}

}  // namespace

void AudioKernelsInitSse2(AudioFftKernels* kernels) { kernels->to_pcm = ToPcmSse2; }
