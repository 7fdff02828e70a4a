// The encoder's forward transforms, in double precision: the exact inverses
// of the decoder's InverseRealDft and InverseDct followed by its 2 / sqrt(N)
// output scale, so that decoding the coefficients gives the samples back.
#pragma once
#include <complex>
#include <cstdint>
#include <vector>

struct AudioForward {
  uint32_t n = 0;
  std::vector<std::complex<double>> twiddles;  // e^{-2 pi i k / n}, k < n / 2
  std::vector<uint32_t> reversed;              // bit-reversed indices
  std::vector<std::complex<double>> work;
  std::vector<double> dct_cos, dct_sin;        // e^{-i pi k / (2n)}
};

// n: a power of two >= 4.
void AudioForwardInit(AudioForward* forward, uint32_t n, bool use_dct);
// n samples in, n coefficients out in the decoder's packing
// (R(0), R(n/2), R(1), I(1), ...).
void AudioForwardRealDft(AudioForward* forward, const double* samples, double* coefficients);
void AudioForwardDct(AudioForward* forward, const double* samples, double* coefficients);
