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
    if (i < count) AudioFftKernelsPlain().to_pcm(a + i, nullptr, out + i, count - i, scale_value);
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
  if (i < count) AudioFftKernelsPlain().to_pcm(a + i, b + i, out + 2 * i, count - i, scale_value);
}

// ---- FFT passes: two complex points per vector -----------------------------------

const __m128 kNegateReal = _mm_castsi128_ps(_mm_set_epi32(0, int(0x80000000u), 0, int(0x80000000u)));

inline __m128 SwapPairs(__m128 t) { return _mm_shuffle_ps(t, t, _MM_SHUFFLE(2, 3, 0, 1)); }

// t * w with wr = (re, re, ...) and wi_signed = (-im, im, ...).
inline __m128 ComplexMul(__m128 t, __m128 wr, __m128 wi_signed) {
  return _mm_add_ps(_mm_mul_ps(t, wr), _mm_mul_ps(SwapPairs(t), wi_signed));
}

inline __m128 TimesI(__m128 t) { return _mm_xor_ps(SwapPairs(t), kNegateReal); }

struct Butterfly {
  __m128 y0, y1, y2, y3;
};

inline Butterfly Radix4(__m128 a, __m128 b, __m128 c, __m128 d) {
  const __m128 apc = _mm_add_ps(a, c), amc = _mm_sub_ps(a, c);
  const __m128 bpd = _mm_add_ps(b, d), jbd = TimesI(_mm_sub_ps(b, d));
  return {_mm_add_ps(apc, bpd), _mm_add_ps(amc, jbd), _mm_sub_ps(apc, bpd), _mm_sub_ps(amc, jbd)};
}

inline __m128 SignedImag(float im) { return _mm_xor_ps(_mm_set1_ps(im), kNegateReal); }

void Radix4Strided(const float* x, float* y, uint32_t n, uint32_t s, const float* tw) {
  const uint32_t quarter = n / 4;
  const size_t part = size_t{2} * s * quarter;
  for (uint32_t p = 0; p < quarter; p++) {
    const float* w = tw + 2 * p;
    const __m128 w1r = _mm_set1_ps(w[0]), w1i = SignedImag(w[1]);
    const __m128 w2r = _mm_set1_ps(w[2 * quarter]), w2i = SignedImag(w[2 * quarter + 1]);
    const __m128 w3r = _mm_set1_ps(w[4 * quarter]), w3i = SignedImag(w[4 * quarter + 1]);
    const float* xa = x + size_t{2} * s * p;
    float* ya = y + size_t{8} * s * p;
    for (uint32_t q = 0; q < 2 * s; q += 4) {
      const Butterfly t = Radix4(_mm_loadu_ps(xa + q), _mm_loadu_ps(xa + part + q), _mm_loadu_ps(xa + 2 * part + q),
                                 _mm_loadu_ps(xa + 3 * part + q));
      _mm_storeu_ps(ya + q, t.y0);
      _mm_storeu_ps(ya + 2 * s + q, ComplexMul(t.y1, w1r, w1i));
      _mm_storeu_ps(ya + 4 * s + q, ComplexMul(t.y2, w2r, w2i));
      _mm_storeu_ps(ya + 6 * s + q, ComplexMul(t.y3, w3r, w3i));
    }
  }
}

// Twiddles of two neighbouring p: (r0, i0, r1, i1).
inline __m128 TwiddleMul(__m128 t, __m128 w) {
  const __m128 wr = _mm_shuffle_ps(w, w, _MM_SHUFFLE(2, 2, 0, 0));
  const __m128 wi = _mm_xor_ps(_mm_shuffle_ps(w, w, _MM_SHUFFLE(3, 3, 1, 1)), kNegateReal);
  return ComplexMul(t, wr, wi);
}

void Radix4First(const float* x, float* y, uint32_t n, const float* tw) {
  const uint32_t quarter = n / 4;
  const size_t part = size_t{2} * quarter;
  for (uint32_t p = 0; p < quarter; p += 2) {
    const Butterfly t = Radix4(_mm_loadu_ps(x + 2 * p), _mm_loadu_ps(x + part + 2 * p),
                               _mm_loadu_ps(x + 2 * part + 2 * p), _mm_loadu_ps(x + 3 * part + 2 * p));
    const __m128 r1 = TwiddleMul(t.y1, _mm_loadu_ps(tw + 2 * p));
    const __m128 r2 = TwiddleMul(t.y2, _mm_loadu_ps(tw + part + 2 * p));
    const __m128 r3 = TwiddleMul(t.y3, _mm_loadu_ps(tw + 2 * part + 2 * p));
    float* o = y + 8 * size_t{p};
    _mm_storeu_ps(o, _mm_movelh_ps(t.y0, r1));
    _mm_storeu_ps(o + 4, _mm_movelh_ps(r2, r3));
    _mm_storeu_ps(o + 8, _mm_movehl_ps(r1, t.y0));
    _mm_storeu_ps(o + 12, _mm_movehl_ps(r3, r2));
  }
}

void Radix4Sse2(const float* x, float* y, uint32_t n, uint32_t s, const float* tw) {
  if (s >= 2 && s % 2 == 0) {
    Radix4Strided(x, y, n, s, tw);
  } else if (s == 1 && n >= 8) {
    Radix4First(x, y, n, tw);
  } else {
    AudioFftKernelsPlain().radix4(x, y, n, s, tw);
  }
}

void Radix2Sse2(const float* x, float* y, uint32_t s) {
  if (s % 2) {
    AudioFftKernelsPlain().radix2(x, y, s);
    return;
  }
  for (uint32_t q = 0; q < 2 * s; q += 4) {
    const __m128 a = _mm_loadu_ps(x + q), b = _mm_loadu_ps(x + 2 * s + q);
    _mm_storeu_ps(y + q, _mm_add_ps(a, b));
    _mm_storeu_ps(y + 2 * s + q, _mm_sub_ps(a, b));
  }
}

// ---- Spectrum unfolding: two pairs (k, m - k) per step --------------------------------

inline __m128 ReverseComplex(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 0, 3, 2)); }

// Real parts from re, imaginary parts from im.
inline __m128 Interleave(__m128 re, __m128 im) {
  const __m128 real_lanes = _mm_castsi128_ps(_mm_set_epi32(0, -1, 0, -1));
  return _mm_or_ps(_mm_and_ps(real_lanes, re), _mm_andnot_ps(real_lanes, im));
}

// The operations of the plain kernel, regrouped exactly (see the AVX2 twin).
void UnfoldSse2(const float* src, float* dst, uint32_t m, const float* u, uint32_t first) {
  const __m128 sign_all = _mm_set1_ps(-0.0f);
  const __m128 negate_imag = _mm_castsi128_ps(_mm_set_epi32(int(0x80000000u), 0, int(0x80000000u), 0));
  const __m128 half = _mm_set1_ps(0.5f);
  uint32_t k = first;
  for (; 2 * k + 2 < m; k += 2) {  // the mirrored two lie above the two
    const uint32_t mirror = m - k - 1;
    const __m128 a = _mm_loadu_ps(src + 2 * k);
    const __m128 b = ReverseComplex(_mm_loadu_ps(src + 2 * mirror));
    const __m128 p = _mm_add_ps(a, b), q = _mm_sub_ps(a, b);
    const __m128 h = _mm_mul_ps(half, Interleave(p, _mm_xor_ps(q, sign_all)));
    const __m128 d = Interleave(q, _mm_xor_ps(p, sign_all));
    const __m128 w = _mm_loadu_ps(u + 2 * k);
    const __m128 t = TwiddleMul(d, w);
    const __m128 swapped = SwapPairs(t);
    // h + (-t.im, t.re) and conj(h) + (t.im, t.re).
    _mm_storeu_ps(dst + 2 * k, _mm_add_ps(h, _mm_xor_ps(swapped, kNegateReal)));
    _mm_storeu_ps(dst + 2 * mirror, ReverseComplex(_mm_add_ps(_mm_xor_ps(h, negate_imag), swapped)));
  }
  AudioFftKernelsPlain().unfold(src, dst, m, u, k);
}

}  // namespace

void AudioFftKernelsSse2(AudioFftKernels* kernels) {
  kernels->radix4 = Radix4Sse2;
  kernels->radix2 = Radix2Sse2;
  kernels->unfold = UnfoldSse2;
  kernels->to_pcm = ToPcmSse2;
}
