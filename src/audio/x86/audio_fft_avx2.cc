// AVX2 passes of the audio FFT: four complex points per vector. The same
// operations in the same order as the plain passes (no fused multiply-add),
// so every level decodes to the same samples.
#include <immintrin.h>

#include "audio/audio_transform.h"

namespace {

// This file is built with FMA enabled, and the compiler may fuse a product
// with the sum it feeds, which rounds differently from the plain kernels;
// the empty asm makes each product a value of its own.
inline __m128 Rounded(__m128 product) {
  asm("" : "+x"(product));
  return product;
}
inline __m256 Rounded(__m256 product) {
  asm("" : "+x"(product));
  return product;
}

// t * w for four complex values, w given as its real and imaginary parts
// repeated in both halves of each pair.
inline __m256 ComplexMul(__m256 t, __m256 wr, __m256 wi) {
  const __m256 swapped = _mm256_permute_ps(t, 0xB1);  // (im, re) pairs
  return _mm256_addsub_ps(Rounded(_mm256_mul_ps(t, wr)), Rounded(_mm256_mul_ps(swapped, wi)));
}

// i * t: (-im, re).
inline __m256 TimesI(__m256 t) {
  const __m256 negate_real = _mm256_castsi256_ps(_mm256_set1_epi64x(0x80000000ll));
  return _mm256_xor_ps(_mm256_permute_ps(t, 0xB1), negate_real);
}

struct Butterfly {
  __m256 y0, y1, y2, y3;  // before the twiddles of outputs 1..3
};

inline Butterfly Radix4(__m256 a, __m256 b, __m256 c, __m256 d) {
  const __m256 apc = _mm256_add_ps(a, c), amc = _mm256_sub_ps(a, c);
  const __m256 bpd = _mm256_add_ps(b, d), jbd = TimesI(_mm256_sub_ps(b, d));
  return {_mm256_add_ps(apc, bpd), _mm256_add_ps(amc, jbd), _mm256_sub_ps(apc, bpd), _mm256_sub_ps(amc, jbd)};
}

// Stride s >= 4: the inner loop walks four neighbouring sub-transforms that
// share one twiddle.
void Radix4Strided(const float* x, float* y, uint32_t n, uint32_t s, const float* tw) {
  const uint32_t quarter = n / 4;
  const size_t part = size_t{2} * s * quarter;
  for (uint32_t p = 0; p < quarter; p++) {
    const float* w = tw + 2 * p;
    const __m256 w1r = _mm256_set1_ps(w[0]), w1i = _mm256_set1_ps(w[1]);
    const __m256 w2r = _mm256_set1_ps(w[2 * quarter]), w2i = _mm256_set1_ps(w[2 * quarter + 1]);
    const __m256 w3r = _mm256_set1_ps(w[4 * quarter]), w3i = _mm256_set1_ps(w[4 * quarter + 1]);
    const float* xa = x + size_t{2} * s * p;
    float* ya = y + size_t{8} * s * p;
    for (uint32_t q = 0; q < 2 * s; q += 8) {
      const Butterfly t = Radix4(_mm256_loadu_ps(xa + q), _mm256_loadu_ps(xa + part + q),
                                 _mm256_loadu_ps(xa + 2 * part + q), _mm256_loadu_ps(xa + 3 * part + q));
      _mm256_storeu_ps(ya + q, t.y0);
      _mm256_storeu_ps(ya + 2 * s + q, ComplexMul(t.y1, w1r, w1i));
      _mm256_storeu_ps(ya + 4 * s + q, ComplexMul(t.y2, w2r, w2i));
      _mm256_storeu_ps(ya + 6 * s + q, ComplexMul(t.y3, w3r, w3i));
    }
  }
}

// Stride 1 (the first pass): four neighbouring p at once with their own
// twiddles; their 4 x 4 outputs are transposed so each p's four land
// together.
void Radix4First(const float* x, float* y, uint32_t n, const float* tw) {
  const uint32_t quarter = n / 4;
  const size_t part = size_t{2} * quarter;
  for (uint32_t p = 0; p < quarter; p += 4) {
    const Butterfly t = Radix4(_mm256_loadu_ps(x + 2 * p), _mm256_loadu_ps(x + part + 2 * p),
                               _mm256_loadu_ps(x + 2 * part + 2 * p), _mm256_loadu_ps(x + 3 * part + 2 * p));
    const __m256 w1 = _mm256_loadu_ps(tw + 2 * p);
    const __m256 w2 = _mm256_loadu_ps(tw + part + 2 * p);
    const __m256 w3 = _mm256_loadu_ps(tw + 2 * part + 2 * p);
    const __m256d r0 = _mm256_castps_pd(t.y0);
    const __m256d r1 = _mm256_castps_pd(ComplexMul(t.y1, _mm256_moveldup_ps(w1), _mm256_movehdup_ps(w1)));
    const __m256d r2 = _mm256_castps_pd(ComplexMul(t.y2, _mm256_moveldup_ps(w2), _mm256_movehdup_ps(w2)));
    const __m256d r3 = _mm256_castps_pd(ComplexMul(t.y3, _mm256_moveldup_ps(w3), _mm256_movehdup_ps(w3)));
    // Complex values are 64 bits: a 4 x 4 transpose of doubles.
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);
    float* o = y + 8 * size_t{p};
    _mm256_storeu_ps(o, _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x20)));
    _mm256_storeu_ps(o + 8, _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x20)));
    _mm256_storeu_ps(o + 16, _mm256_castpd_ps(_mm256_permute2f128_pd(t0, t2, 0x31)));
    _mm256_storeu_ps(o + 24, _mm256_castpd_ps(_mm256_permute2f128_pd(t1, t3, 0x31)));
  }
}

void Radix4Avx2(const float* x, float* y, uint32_t n, uint32_t s, const float* tw) {
  if (s >= 4) {
    Radix4Strided(x, y, n, s, tw);
  } else if (s == 1 && n >= 16) {
    Radix4First(x, y, n, tw);
  } else {
    AudioFftKernelsPlain().radix4(x, y, n, s, tw);
  }
}

void Radix2Avx2(const float* x, float* y, uint32_t s) {
  if (s % 4) {
    AudioFftKernelsPlain().radix2(x, y, s);
    return;
  }
  for (uint32_t q = 0; q < 2 * s; q += 8) {
    const __m256 a = _mm256_loadu_ps(x + q), b = _mm256_loadu_ps(x + 2 * s + q);
    _mm256_storeu_ps(y + q, _mm256_add_ps(a, b));
    _mm256_storeu_ps(y + 2 * s + q, _mm256_sub_ps(a, b));
  }
}

// Reverses the order of the four complex values.
inline __m256 ReverseComplex(__m256 v) {
  return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), 0x1B));
}

// Four pairs (k, m - k) per step, the mirrored four loaded and stored in
// reverse; the operations are the plain ones, regrouped exactly.
void UnfoldAvx2(const float* src, float* dst, uint32_t m, const float* u, uint32_t first) {
  const __m256 sign_all = _mm256_set1_ps(-0.0f);
  const __m256 sign_imag = _mm256_castsi256_ps(_mm256_set1_epi64x(int64_t(0x80000000u) << 32));
  const __m256 half = _mm256_set1_ps(0.5f);
  uint32_t k = first;
  for (; 2 * k + 6 < m; k += 4) {  // the mirrored four lie above the four
    const uint32_t mirror = m - k - 3;
    const __m256 a = _mm256_loadu_ps(src + 2 * k);
    const __m256 b = ReverseComplex(_mm256_loadu_ps(src + 2 * mirror));
    // With A = conj(a), B = conj(b): A + conj(B) = (P.re, -Q.im) and
    // A - conj(B) = (Q.re, -P.im).
    const __m256 p = _mm256_add_ps(a, b), q = _mm256_sub_ps(a, b);
    const __m256 h = Rounded(_mm256_mul_ps(half, _mm256_blend_ps(p, _mm256_xor_ps(q, sign_all), 0xAA)));
    const __m256 d = _mm256_blend_ps(q, _mm256_xor_ps(p, sign_all), 0xAA);
    const __m256 w = _mm256_loadu_ps(u + 2 * k);
    const __m256 t = ComplexMul(d, _mm256_moveldup_ps(w), _mm256_movehdup_ps(w));
    const __m256 swapped = _mm256_permute_ps(t, 0xB1);
    _mm256_storeu_ps(dst + 2 * k, _mm256_addsub_ps(h, swapped));
    const __m256 mirrored = _mm256_add_ps(_mm256_xor_ps(h, sign_imag), swapped);
    _mm256_storeu_ps(dst + 2 * mirror, ReverseComplex(mirrored));
  }
  // The pairs around the middle by the plain kernel (this file's flags
  // would let the compiler fuse its multiply-adds and change the rounding).
  AudioFftKernelsPlain().unfold(src, dst, m, u, k);
}

// ---- DCT wrapping ------------------------------------------------------------------

inline __m128 Reverse4(__m128 v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }

// F_j = r_j (X(j) - i X(n - j)) for four neighbouring j, given X(j) and
// X(n - j) lane by lane: (c X(j) + s X(n - j), s X(j) - c X(n - j)), the
// plain kernel's products and sums with the negations moved, exactly.
inline __m256 DctSpectrum4(__m128 xj, __m128 xnj, const float* r) {
  const __m128 lo = _mm_loadu_ps(r), hi = _mm_loadu_ps(r + 4);
  const __m128 c = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 s = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
  const __m128 re = _mm_add_ps(Rounded(_mm_mul_ps(c, xj)), Rounded(_mm_mul_ps(s, xnj)));
  const __m128 im = _mm_sub_ps(Rounded(_mm_mul_ps(s, xj)), Rounded(_mm_mul_ps(c, xnj)));
  return _mm256_set_m128(_mm_unpackhi_ps(re, im), _mm_unpacklo_ps(re, im));
}

void DctUnfoldAvx2(const float* x, float* dst, uint32_t n, const float* u, const float* r, uint32_t first) {
  const uint32_t m = n / 2;
  const __m256 half = _mm256_set1_ps(0.5f);
  const __m256 sign_imag = _mm256_castsi256_ps(_mm256_set1_epi64x(int64_t(0x80000000u) << 32));
  uint32_t k = first;
  for (; 2 * k + 6 < m; k += 4) {  // the mirrored four lie above the four
    const uint32_t mirror = m - k - 3;
    const __m256 a = DctSpectrum4(_mm_loadu_ps(x + k), Reverse4(_mm_loadu_ps(x + n - k - 3)), r + 2 * k);
    // F at mirror .. mirror + 3, then in the order of a's lanes.
    const __m256 b = ReverseComplex(
        DctSpectrum4(_mm_loadu_ps(x + mirror), Reverse4(_mm_loadu_ps(x + m + k)), r + 2 * mirror));
    // a + conj(b) = (P.re, Q.im), a - conj(b) = (Q.re, P.im).
    const __m256 p = _mm256_add_ps(a, b), q = _mm256_sub_ps(a, b);
    const __m256 h = Rounded(_mm256_mul_ps(half, _mm256_blend_ps(p, q, 0xAA)));
    const __m256 d = _mm256_blend_ps(q, p, 0xAA);
    const __m256 w = _mm256_loadu_ps(u + 2 * k);
    const __m256 t = ComplexMul(d, _mm256_moveldup_ps(w), _mm256_movehdup_ps(w));
    const __m256 swapped = _mm256_permute_ps(t, 0xB1);
    _mm256_storeu_ps(dst + 2 * k, _mm256_addsub_ps(h, swapped));
    const __m256 mirrored = _mm256_add_ps(_mm256_xor_ps(h, sign_imag), swapped);
    _mm256_storeu_ps(dst + 2 * mirror, ReverseComplex(mirrored));
  }
  AudioFftKernelsPlain().dct_unfold(x, dst, n, u, r, k);
}

void DctReorderAvx2(const float* v, float* out, uint32_t n, uint32_t first) {
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  uint32_t j = first;
  for (; j + 8 <= n / 2; j += 8) {
    const __m256 a = _mm256_loadu_ps(v + j);
    const __m256 b = _mm256_permutevar8x32_ps(_mm256_loadu_ps(v + n - 8 - j), reverse);
    const __m256 lo = _mm256_unpacklo_ps(a, b), hi = _mm256_unpackhi_ps(a, b);
    _mm256_storeu_ps(out + 2 * j, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_storeu_ps(out + 2 * j + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
  }
  AudioFftKernelsPlain().dct_reorder(v, out, n, j);
}

}  // namespace

void AudioFftKernelsAvx2(AudioFftKernels* kernels) {
  kernels->radix4 = Radix4Avx2;
  kernels->radix2 = Radix2Avx2;
  kernels->unfold = UnfoldAvx2;
  kernels->dct_unfold = DctUnfoldAvx2;
  kernels->dct_reorder = DctReorderAvx2;
}
