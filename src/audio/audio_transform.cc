#include "audio/audio_transform.h"

#include <cmath>

#include "platform/cpu.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- Table layout -----------------------------------------------------------
// [FFT pass twiddles][unfold factors u_k = e^{2 pi i k / n} / 2, k <= m / 2]
// [DCT rotations r_k = e^{i pi k / (2 n)}, k < m][scratch n][scratch n]
// Every section starts at a multiple of 8 floats so vector loads stay aligned.

uint32_t RoundUp8(uint32_t floats) { return (floats + 7) & ~7u; }

uint32_t FftTwiddleFloats(uint32_t m) {
  uint32_t floats = 0;
  for (uint32_t len = m; len >= 4; len /= 4) floats += 6 * (len / 4);
  return RoundUp8(floats);
}

struct TableLayout {
  uint32_t fft, unfold, rotate, scratch, total;
};

TableLayout LayoutFor(uint32_t n) {
  const uint32_t m = n / 2;
  TableLayout layout;
  layout.fft = 0;
  layout.unfold = layout.fft + FftTwiddleFloats(m);
  layout.rotate = layout.unfold + RoundUp8(2 * (m / 2 + 1));
  layout.scratch = layout.rotate + RoundUp8(2 * m);
  layout.total = layout.scratch + 2 * n;
  return layout;
}

void BuildFftTwiddles(uint32_t m, float* tw) {
  for (uint32_t len = m; len >= 4; len /= 4) {
    const uint32_t quarter = len / 4;
    for (uint32_t p = 0; p < quarter; p++) {
      for (uint32_t r = 1; r <= 3; r++) {
        const double angle = 2 * kPi * double(p) * double(r) / double(len);
        tw[2 * (r - 1) * quarter + 2 * p] = float(std::cos(angle));
        tw[2 * (r - 1) * quarter + 2 * p + 1] = float(std::sin(angle));
      }
    }
    tw += 6 * quarter;
  }
}

void BuildTables(uint32_t n, uint32_t* work, float* table) {
  const uint32_t m = n / 2;
  const TableLayout layout = LayoutFor(n);
  BuildFftTwiddles(m, table + layout.fft);
  for (uint32_t k = 0; k <= m / 2; k++) {
    const double angle = 2 * kPi * double(k) / double(n);
    table[layout.unfold + 2 * k] = float(0.5 * std::cos(angle));
    table[layout.unfold + 2 * k + 1] = float(0.5 * std::sin(angle));
  }
  for (uint32_t k = 0; k < m; k++) {
    const double angle = kPi * double(k) / (2.0 * double(n));
    table[layout.rotate + 2 * k] = float(std::cos(angle));
    table[layout.rotate + 2 * k + 1] = float(std::sin(angle));
  }
  work[0] = layout.total;
  work[1] += 1;
}

void EnsureTables(uint32_t n, uint32_t* work, float* table) {
  if (work[0] < LayoutFor(n).total) BuildTables(n, work, table);
}

// ---- Plain kernels -------------------------------------------------------------

struct Complex {
  float r, i;
};

// Folds the half spectrum F (F_0, F_m real; F_k = (fr, fi) for 0 < k < m)
// into the m complex points whose inverse FFT gives the real signal
// x(2j) + i x(2j + 1), where x(t) = 1/2 sum_{k<n} F_k e^{2 pi i k t / n}.
// The pair (k, m - k) is handled together, so src may equal dst.
inline void UnfoldPair(Complex a, Complex b, const float* u, float* yk, float* ymk) {
  const float sr = a.r + b.r, si = a.i - b.i;  // a + conj(b)
  const float dr = a.r - b.r, di = a.i + b.i;  // a - conj(b)
  const float tr = u[0] * dr - u[1] * di;      // u_k (a - conj(b))
  const float ti = u[0] * di + u[1] * dr;
  yk[0] = 0.5f * sr - ti;
  yk[1] = 0.5f * si + tr;
  ymk[0] = 0.5f * sr + ti;
  ymk[1] = tr - 0.5f * si;
}

// The pair (0, m): F_0 and F_m are both real.
inline void UnfoldZero(float f0, float fm, float* y0) {
  y0[0] = 0.5f * (f0 + fm);
  y0[1] = 0.5f * (f0 - fm);
}

// Inverse (e^{+i}) radix-4 decimation-in-frequency butterflies, self-sorting:
// element q + s * (p + j * n/4) of x feeds element q + s * (4p + j) of y.
void Radix4Plain(const float* x, float* y, uint32_t n, uint32_t s, const float* tw) {
  const uint32_t quarter = n / 4;
  const float* w1 = tw;
  const float* w2 = tw + 2 * quarter;
  const float* w3 = tw + 4 * quarter;
  for (uint32_t p = 0; p < quarter; p++) {
    const float w1r = w1[2 * p], w1i = w1[2 * p + 1];
    const float w2r = w2[2 * p], w2i = w2[2 * p + 1];
    const float w3r = w3[2 * p], w3i = w3[2 * p + 1];
    const float* xa = x + 2 * s * p;
    const float* xb = xa + 2 * s * quarter;
    const float* xc = xb + 2 * s * quarter;
    const float* xd = xc + 2 * s * quarter;
    float* ya = y + 2 * s * 4 * p;
    float* yb = ya + 2 * s;
    float* yc = yb + 2 * s;
    float* yd = yc + 2 * s;
    for (uint32_t q = 0; q < 2 * s; q += 2) {
      const float apc_r = xa[q] + xc[q], apc_i = xa[q + 1] + xc[q + 1];
      const float amc_r = xa[q] - xc[q], amc_i = xa[q + 1] - xc[q + 1];
      const float bpd_r = xb[q] + xd[q], bpd_i = xb[q + 1] + xd[q + 1];
      // i * (b - d)
      const float jbd_r = xd[q + 1] - xb[q + 1], jbd_i = xb[q] - xd[q];
      ya[q] = apc_r + bpd_r;
      ya[q + 1] = apc_i + bpd_i;
      const float t1r = amc_r + jbd_r, t1i = amc_i + jbd_i;
      const float t2r = apc_r - bpd_r, t2i = apc_i - bpd_i;
      const float t3r = amc_r - jbd_r, t3i = amc_i - jbd_i;
      yb[q] = t1r * w1r - t1i * w1i;
      yb[q + 1] = t1r * w1i + t1i * w1r;
      yc[q] = t2r * w2r - t2i * w2i;
      yc[q + 1] = t2r * w2i + t2i * w2r;
      yd[q] = t3r * w3r - t3i * w3i;
      yd[q + 1] = t3r * w3i + t3i * w3r;
    }
  }
}

void Radix2Plain(const float* x, float* y, uint32_t s) {
  for (uint32_t q = 0; q < 2 * s; q++) {
    const float a = x[q], b = x[q + 2 * s];
    y[q] = a + b;
    y[q + 2 * s] = a - b;
  }
}

int16_t ToSample(float v, float scale) {
  float f = v * scale;
  // Clamp before rounding so the conversion never sees an out-of-range value;
  // the comparisons also send a NaN to the low limit.
  if (!(f >= -32768.0f)) f = -32768.0f;
  if (f > 32767.0f) f = 32767.0f;
  return static_cast<int16_t>(std::lrintf(f));  // default rounding: ties to even
}

void ToPcmPlain(const float* a, const float* b, int16_t* out, uint32_t count, float scale) {
  if (!b) {
    for (uint32_t i = 0; i < count; i++) out[i] = ToSample(a[i], scale);
    return;
  }
  for (uint32_t i = 0; i < count; i++) {
    out[2 * i] = ToSample(a[i], scale);
    out[2 * i + 1] = ToSample(b[i], scale);
  }
}

// F_k = R(k) - i I(k).
void UnfoldPlain(const float* src, float* dst, uint32_t m, const float* u, uint32_t first) {
  for (uint32_t k = first; k <= m / 2; k++) {
    const Complex a = {src[2 * k], -src[2 * k + 1]};
    const Complex b = {src[2 * (m - k)], -src[2 * (m - k) + 1]};
    UnfoldPair(a, b, u + 2 * k, dst + 2 * k, dst + 2 * (m - k));
  }
}

// F_k = r_k (X(k) - i X(n - k)).
inline Complex DctSpectrum(const float* x, uint32_t n, const float* r, uint32_t k) {
  const float c = r[2 * k], s = r[2 * k + 1];
  const float xr = x[k], xi = -x[n - k];
  return Complex{c * xr - s * xi, c * xi + s * xr};
}

void DctUnfoldPlain(const float* x, float* dst, uint32_t n, const float* u, const float* r, uint32_t first) {
  const uint32_t m = n / 2;
  for (uint32_t k = first; k <= m / 2; k++) {
    UnfoldPair(DctSpectrum(x, n, r, k), DctSpectrum(x, n, r, m - k), u + 2 * k, dst + 2 * k, dst + 2 * (m - k));
  }
}

void DctReorderPlain(const float* v, float* out, uint32_t n, uint32_t first) {
  for (uint32_t j = first; j < n / 2; j++) {
    out[2 * j] = v[j];
    out[2 * j + 1] = v[n - 1 - j];
  }
}

constexpr AudioFftKernels kPlainKernels = {Radix4Plain,    Radix2Plain,     UnfoldPlain,
                                           DctUnfoldPlain, DctReorderPlain, ToPcmPlain};

// ---- Complex FFT ---------------------------------------------------------------

uint32_t PassCount(uint32_t m) {
  uint32_t passes = 0;
  uint32_t len = m;
  for (; len >= 4; len /= 4) passes++;
  return passes + (len == 2 ? 1 : 0);
}

// Inverse complex FFT of m points starting in a; the passes alternate
// between a and b. Returns the buffer that holds the result.
float* ComplexFft(uint32_t m, float* a, float* b, const float* tw, const AudioFftKernels& k) {
  uint32_t len = m, stride = 1;
  float* src = a;
  float* dst = b;
  for (; len >= 4; len /= 4, stride *= 4) {
    k.radix4(src, dst, len, stride, tw);
    tw += 6 * (len / 4);
    float* t = src;
    src = dst;
    dst = t;
  }
  if (len == 2) {
    k.radix2(src, dst, stride);
    src = dst;
  }
  return src;
}

}  // namespace

uint32_t AudioTransformTableFloats(uint32_t n) { return LayoutFor(n).total; }

const AudioFftKernels& AudioFftKernelsPlain() { return kPlainKernels; }

void AudioFftKernelsInit(AudioFftKernels* kernels, uint32_t cpu_flags) {
  *kernels = kPlainKernels;
#if defined(VORN_X86)
  static constexpr CpuUpgrade<AudioFftKernels> kLevels[] = {{CPU_SSE2, AudioFftKernelsSse2},
                                                            {CPU_AVX2, AudioFftKernelsAvx2}};
  CpuUpgradeTable(kernels, cpu_flags, kLevels);
#else
  (void)cpu_flags;
#endif
}

void InverseRealDft(uint32_t n, float* data, uint32_t* work, float* table,
                    const AudioFftKernels& kernels) {
  EnsureTables(n, work, table);
  const TableLayout layout = LayoutFor(n);
  const uint32_t m = n / 2;
  float* scratch = table + layout.scratch;
  // Start where an even or odd number of passes ends back in data.
  float* first = (PassCount(m) % 2 == 0) ? data : scratch;
  float* second = (first == data) ? scratch : data;
  const float* u = table + layout.unfold;
  const float f0 = data[0], fm = data[1];
  kernels.unfold(data, first, m, u, 1);
  UnfoldZero(f0, fm, first);
  ComplexFft(m, first, second, table + layout.fft, kernels);
}

void InverseDct(uint32_t n, float* data, uint32_t* work, float* table,
                const AudioFftKernels& kernels) {
  EnsureTables(n, work, table);
  const TableLayout layout = LayoutFor(n);
  const uint32_t m = n / 2;
  float* first = table + layout.scratch;
  float* second = first + n;
  const float* u = table + layout.unfold;
  const float* rot = table + layout.rotate;
  // The DCT is the real inverse DFT of F_k = r_k (X(k) - i X(n - k)) with
  // F_0 = 2 X(0) and F_m = sqrt(2) X(m), read at even/odd reordered times.
  kernels.dct_unfold(data, first, n, u, rot, 1);
  UnfoldZero(2.0f * data[0], float(std::sqrt(2.0)) * data[m], first);
  const float* v = ComplexFft(m, first, second, table + layout.fft, kernels);
  kernels.dct_reorder(v, data, n, 0);
}
