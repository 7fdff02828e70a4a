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

// Even basis vectors are symmetric and odd ones antisymmetric (the
// butterfly's outputs pair up as d[n] and d[7 - n]), so each 1-D pass needs
// only the sums and differences of mirrored samples: half the products.
// One pass transforms the eight columns of in (in[n][i]: sample n of column
// i) into out[k][i]; the loops over i carry no dependence, so the compiler
// runs the eight columns side by side in vector registers, each with exactly
// the arithmetic of one column alone.
void ForwardPass(const float in[8][8], float out[8][8], const Basis& b) {
  float even[4][8], odd[4][8];
  for (int n = 0; n < 4; n++)
    for (int i = 0; i < 8; i++) {
      even[n][i] = in[n][i] + in[7 - n][i];
      odd[n][i] = in[n][i] - in[7 - n][i];
    }
  for (int k = 0; k < 8; k++) {
    const float(*half)[8] = k % 2 ? odd : even;
    float sum[8] = {};
    for (int n = 0; n < 4; n++) {
      float weight = b.analysis[k][n];
      for (int i = 0; i < 8; i++) sum[i] += half[n][i] * weight;
    }
    for (int i = 0; i < 8; i++) out[k][i] = sum[i];
  }
}

}  // namespace

const float* ForwardDctWeights() { return &GetBasis().analysis[0][0]; }

void ForwardDctRaw(const int16_t samples[64], float values[64]) {
  const Basis& b = GetBasis();
  // Horizontal: the rows of the block are the columns of its transpose.
  float columns[8][8], transformed[8][8], rows[8][8];
  for (int i = 0; i < 8; i++)
    for (int n = 0; n < 8; n++) columns[n][i] = samples[8 * i + n];
  ForwardPass(columns, transformed, b);  // transformed[k][i]: row i, frequency k
  for (int i = 0; i < 8; i++)
    for (int k = 0; k < 8; k++) rows[i][k] = transformed[k][i];
  // Vertical: straight on the rows.
  ForwardPass(rows, reinterpret_cast<float(*)[8]>(values), b);
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
