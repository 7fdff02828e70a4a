#include "writer/audio_forward.h"

#include <cmath>

namespace {

constexpr double kPi = 3.14159265358979323846;

// In-place forward complex FFT (e^{-i}), radix 2 after a bit-reversal.
void Fft(AudioForward* f) {
  const uint32_t n = f->n;
  std::complex<double>* a = f->work.data();
  for (uint32_t i = 0; i < n; i++) {
    if (i < f->reversed[i]) std::swap(a[i], a[f->reversed[i]]);
  }
  for (uint32_t len = 2; len <= n; len *= 2) {
    const uint32_t step = n / len;
    for (uint32_t i = 0; i < n; i += len) {
      for (uint32_t j = 0; j < len / 2; j++) {
        const std::complex<double> t = a[i + j + len / 2] * f->twiddles[j * step];
        a[i + j + len / 2] = a[i + j] - t;
        a[i + j] += t;
      }
    }
  }
}

}  // namespace

void AudioForwardInit(AudioForward* f, uint32_t n, bool use_dct) {
  f->n = n;
  f->twiddles.resize(n / 2);
  for (uint32_t k = 0; k < n / 2; k++) f->twiddles[k] = std::polar(1.0, -2 * kPi * k / n);
  f->reversed.resize(n);
  uint32_t bits = 0;
  while ((1u << bits) < n) bits++;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t r = 0;
    for (uint32_t b = 0; b < bits; b++) r |= ((i >> b) & 1u) << (bits - 1 - b);
    f->reversed[i] = r;
  }
  f->work.resize(n);
  if (use_dct) {
    f->dct_cos.resize(n);
    f->dct_sin.resize(n);
    for (uint32_t k = 0; k < n; k++) {
      f->dct_cos[k] = std::cos(kPi * k / (2.0 * n));
      f->dct_sin[k] = -std::sin(kPi * k / (2.0 * n));
    }
  }
}

void AudioForwardRealDft(AudioForward* f, const double* samples, double* out) {
  const uint32_t n = f->n;
  for (uint32_t i = 0; i < n; i++) f->work[i] = samples[i];
  Fft(f);
  // (2 / n) for the spectrum, times sqrt(n) / 2 to undo the output scale.
  const double scale = 1.0 / std::sqrt(double(n));
  out[0] = f->work[0].real() * scale;
  out[1] = f->work[n / 2].real() * scale;
  for (uint32_t k = 1; k < n / 2; k++) {
    out[2 * k] = f->work[k].real() * scale;
    out[2 * k + 1] = -f->work[k].imag() * scale;
  }
}

void AudioForwardDct(AudioForward* f, const double* samples, double* out) {
  const uint32_t n = f->n;
  // Even samples forwards, odd ones backwards: the DCT becomes one FFT.
  for (uint32_t m = 0; m < n / 2; m++) {
    f->work[m] = samples[2 * m];
    f->work[n - 1 - m] = samples[2 * m + 1];
  }
  Fft(f);
  const double scale = 1.0 / std::sqrt(double(n));
  for (uint32_t k = 0; k < n; k++) {
    const double c = f->work[k].real() * f->dct_cos[k] - f->work[k].imag() * f->dct_sin[k];
    out[k] = c * scale;
  }
  out[0] *= 0.5;  // X(0) enters the inverse with weight 1, not 2
}
