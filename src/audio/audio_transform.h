// The two inverse transforms of the audio decoder, both resting on one
// complex FFT of N / 2 points:
//   InverseRealDft: x(n) = (R(0) + R(N/2) cos(pi n)) / 2
//                          + sum_{k=1}^{N/2-1} R(k) cos(2 pi k n / N) + I(k) sin(2 pi k n / N)
//     with data[0] = R(0), data[1] = R(N/2), data[2k] = R(k), data[2k+1] = I(k);
//   InverseDct:     x(n) = sum_{k=0}^{N-1} X(k) cos(pi k (n + 1/2) / N).
// Neither normalises; both work in place on N floats, N a power of two >= 4.
//
// The real spectrum is folded into N / 2 complex points (even samples in the
// real parts, odd ones in the imaginary parts), transformed by a radix-4
// self-sorting FFT that alternates between two buffers, and for the DCT
// wrapped in a quarter-sample rotation and an even/odd reordering.
#pragma once
#include <cstdint>

// Floats of the table area one transform of length n needs: the twiddles of
// every FFT pass, the unfolding and rotation factors, and two n-float
// scratch buffers. Same for both transforms so one area serves either.
uint32_t AudioTransformTableFloats(uint32_t n);
// Unsigned words of the work area: [0] = table floats built (0 = nothing
// built yet), [1] = how many times the tables were built.
inline constexpr uint32_t AUDIO_TRANSFORM_WORK_WORDS = 2;

// table must hold AudioTransformTableFloats(n) floats, 32-byte aligned for
// speed (not required); work AUDIO_TRANSFORM_WORK_WORDS words, work[0] = 0
// before the first call. Tables are built on the first call and reused.
struct AudioFftKernels;
void InverseRealDft(uint32_t n, float* data, uint32_t* work, float* table,
                    const AudioFftKernels& kernels);
void InverseDct(uint32_t n, float* data, uint32_t* work, float* table,
                const AudioFftKernels& kernels);

// ---- Kernel family (see platform/cpu.h): plain versions, upgraded per level ----
struct AudioFftKernels {
  // One radix-4 pass of the self-sorting FFT over m complex points: length n
  // sub-transforms at stride s (n * s = m), twiddles w1[n/4], w2[n/4],
  // w3[n/4] (complex, interleaved) at tw. Reads x, writes y.
  void (*radix4)(const float* x, float* y, uint32_t n, uint32_t s, const float* tw);
  // The closing radix-2 pass (n = 2) at stride s.
  void (*radix2)(const float* x, float* y, uint32_t s);
  // Folds the packed real spectrum (R(k), I(k)) pairs k and m - k, for
  // k = first .. m/2, into the m-point complex FFT input; u_k =
  // e^{2 pi i k / 2m} / 2 (complex). src may equal dst.
  void (*unfold)(const float* src, float* dst, uint32_t m, const float* u, uint32_t first);
  // The DCT's version: the half spectrum F_k = r_k (X(k) - i X(n - k)) of
  // the n coefficients x, r_k = e^{i pi k / 2n} (complex), folded likewise
  // for pairs k = first .. n/4 into dst.
  void (*dct_unfold)(const float* x, float* dst, uint32_t n, const float* u, const float* r, uint32_t first);
  // The DCT's closing reorder: out[2j] = v[j], out[2j + 1] = v[n - 1 - j]
  // for j = first .. n/2 - 1.
  void (*dct_reorder)(const float* v, float* out, uint32_t n, uint32_t first);
  // count values times scale, rounded to nearest (ties to even), clamped to
  // 16 bits; with b non-null the output interleaves a and b (2 * count values).
  void (*to_pcm)(const float* a, const float* b, int16_t* out, uint32_t count, float scale);
};

void AudioFftKernelsInit(AudioFftKernels* kernels, uint32_t cpu_flags);
// The plain kernels (the vector ones hand their tails to these).
const AudioFftKernels& AudioFftKernelsPlain();

#if defined(VORN_X86)
// Each level overwrites the entries it does better.
void AudioFftKernelsSse2(AudioFftKernels* kernels);
void AudioFftKernelsAvx2(AudioFftKernels* kernels);
#endif
