#include "writer/encode_dct.h"

#include <cmath>
#include <mutex>

namespace {

// One pass of the decoder's butterfly in real arithmetic (MUL(x, k) is
// x * k / 2048 there, here without the truncation).
void Butterfly(const double s[8], double d[8]) {
  auto mul = [](double x, double k) { return x * k / 2048.0; };
  double a0 = s[0] + s[4], a1 = s[0] - s[4], a2 = s[2] + s[6], a3 = mul(s[2] - s[6], 2896);
  double a4 = s[5] + s[3], a5 = s[5] - s[3], a6 = s[1] + s[7], a7 = s[1] - s[7];
  double b0 = a4 + a6, b1 = mul(a5 + a7, 3784);
  double b2 = mul(a5, -5352) - b0 + b1;
  double b3 = mul(a6 - a4, 2896) - b2;
  double b4 = mul(a7, 2217) + b3 - b1;
  d[0] = a0 + a2 + b0;
  d[1] = a1 + a3 - a2 + b2;
  d[2] = a1 - a3 + a2 + b3;
  d[3] = a0 - a2 - b4;
  d[4] = a0 - a2 + b4;
  d[5] = a1 - a3 + a2 - b3;
  d[6] = a1 + a3 - a2 - b2;
  d[7] = a0 + a2 - b0;
}

struct Basis {
  float analysis[8][8];  // row k: basis vector k divided by its squared length
};

// The 1-D inverse of a unit input k is basis vector k (up to its gain); the
// vectors are orthogonal, so projecting on v_k / |v_k|^2 inverts it.
const Basis& GetBasis() {
  static Basis basis;
  static std::once_flag once;
  std::call_once(once, [] {
    for (int k = 0; k < 8; k++) {
      double s[8] = {}, v[8];
      s[k] = 1;
      Butterfly(s, v);
      double norm = 0;
      for (double x : v) norm += x * x;
      for (int n = 0; n < 8; n++) basis.analysis[k][n] = static_cast<float>(v[n] / norm);
    }
  });
  return basis;
}

}  // namespace

// Even basis vectors are symmetric and odd ones antisymmetric (the
// butterfly's outputs pair up as d[n] and d[7 - n]), so each 1-D pass needs
// only the sums and differences of mirrored samples: half the products.
template <typename T>
void ForwardPass(const T* in, int in_step, float* out, int out_step, const Basis& b) {
  float even[4], odd[4];
  for (int n = 0; n < 4; n++) {
    float first = static_cast<float>(in[n * in_step]), last = static_cast<float>(in[(7 - n) * in_step]);
    even[n] = first + last;
    odd[n] = first - last;
  }
  for (int k = 0; k < 8; k++) {
    const float* half = k % 2 ? odd : even;
    float sum = 0;
    for (int n = 0; n < 4; n++) sum += half[n] * b.analysis[k][n];
    out[k * out_step] = sum;
  }
}

void ForwardDctRaw(const int16_t samples[64], float values[64]) {
  const Basis& b = GetBasis();
  float rows[64];
  for (int i = 0; i < 8; i++) ForwardPass(samples + 8 * i, 1, rows + 8 * i, 1, b);  // horizontal
  for (int j = 0; j < 8; j++) ForwardPass(rows + j, 8, values + j, 8, b);          // vertical
}

void ForwardDctSteps(const int32_t table[64], float steps[64]) {
  // A coefficient c contributes c * entry / 2048 through both 1-D passes and
  // then / 256 to the samples.
  for (int k = 0; k < 64; k++) steps[k] = static_cast<float>(table[k] / (2048.0 * 256.0));
}

void ForwardDct(const int16_t samples[64], const int32_t table[64], float coefficients[64]) {
  float values[64], steps[64];
  ForwardDctRaw(samples, values);
  ForwardDctSteps(table, steps);
  for (int k = 0; k < 64; k++) coefficients[k] = values[k] / steps[k];
}
