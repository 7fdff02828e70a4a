#include "video/idct.h"

#include "platform/cpu.h"
#include "video/block_ops.h"


namespace {

// All arithmetic wraps at 32 bits as the stream's reference does; unsigned
// operations keep that defined, conversions back are modular (C++20) and the
// right shifts arithmetic.
inline int32_t Mul(uint32_t x, int32_t k) {
  return static_cast<int32_t>(x * static_cast<uint32_t>(k)) >> 11;
}

// One 8-point transform over s[0], s[stride], ... into d[0], d[dstride], ...
inline void Transform8(const uint32_t* s, uint32_t stride, uint32_t* d, uint32_t dstride) {
  uint32_t s0 = s[0], s1 = s[stride], s2 = s[2 * stride], s3 = s[3 * stride];
  uint32_t s4 = s[4 * stride], s5 = s[5 * stride], s6 = s[6 * stride], s7 = s[7 * stride];
  uint32_t a0 = s0 + s4, a1 = s0 - s4, a2 = s2 + s6;
  uint32_t a3 = static_cast<uint32_t>(Mul(s2 - s6, 2896));
  uint32_t a4 = s5 + s3, a5 = s5 - s3, a6 = s1 + s7, a7 = s1 - s7;
  uint32_t b0 = a4 + a6;
  uint32_t b1 = static_cast<uint32_t>(Mul(a5 + a7, 3784));
  uint32_t b2 = static_cast<uint32_t>(Mul(a5, -5352)) - b0 + b1;
  uint32_t b3 = static_cast<uint32_t>(Mul(a6 - a4, 2896)) - b2;
  uint32_t b4 = static_cast<uint32_t>(Mul(a7, 2217)) + b3 - b1;
  d[0] = a0 + a2 + b0;
  d[dstride] = a1 + a3 - a2 + b2;
  d[2 * dstride] = a1 - a3 + a2 + b3;
  d[3 * dstride] = a0 - a2 - b4;
  d[4 * dstride] = a0 - a2 + b4;
  d[5 * dstride] = a1 - a3 + a2 - b3;
  d[6 * dstride] = a1 + a3 - a2 - b2;
  d[7 * dstride] = a0 + a2 - b0;
}

void IdctBlockPlain(const int16_t coeffs[64], const int32_t table[64], int32_t out[64]);

void IdctPutPlain(const int16_t coeffs[64], const int32_t table[64], uint8_t* dest,
                  uint32_t pitch) {
  int32_t out[64];
  IdctBlockPlain(coeffs, table, out);
  for (int y = 0; y < 8; y++, dest += pitch)
    for (int x = 0; x < 8; x++) dest[x] = static_cast<uint8_t>(out[8 * y + x]);
}

void IdctAddPlain(const int16_t coeffs[64], const int32_t table[64], const uint8_t prediction[64],
                  uint8_t* dest, uint32_t pitch) {
  int32_t out[64];
  IdctBlockPlain(coeffs, table, out);
  for (int y = 0; y < 8; y++, dest += pitch)
    for (int x = 0; x < 8; x++)
      dest[x] = static_cast<uint8_t>(prediction[8 * y + x] + out[8 * y + x]);
}

// Columns with dequantisation (skipping the butterflies of columns whose AC
// coefficients are all 0), then rows with rounding.
void IdctBlockPlain(const int16_t coeffs[64], const int32_t table[64], int32_t out[64]) {
  uint32_t columns[64];
  for (int j = 0; j < 8; j++) {
    uint32_t s[8];
    uint32_t ac = 0;
    for (int i = 0; i < 8; i++) {
      s[i] = static_cast<uint32_t>(Mul(static_cast<uint32_t>(coeffs[8 * i + j]), table[8 * i + j]));
      if (i) ac |= static_cast<uint16_t>(coeffs[8 * i + j]);
    }
    if (ac == 0) {
      for (int i = 0; i < 8; i++) columns[8 * i + j] = s[0];
    } else {
      Transform8(s, 1, columns + j, 8);
    }
  }
  for (int i = 0; i < 8; i++) {
    uint32_t d[8];
    Transform8(columns + 8 * i, 1, d, 1);
    for (int x = 0; x < 8; x++) out[8 * i + x] = static_cast<int32_t>(d[x] + 127) >> 8;
  }
}

constexpr IdctKernels kPlain = {IdctBlockPlain, IdctPutPlain, IdctAddPlain};

}  // namespace

void IdctKernelsInit(IdctKernels* kernels, uint32_t cpu_flags) {
  *kernels = kPlain;
#if defined(VORN_X86)
  static constexpr CpuUpgrade<IdctKernels> kLevels[] = {{CPU_SSE2, IdctKernelsSse2},
                                                         {CPU_AVX2, IdctKernelsAvx2}};
  CpuUpgradeTable(kernels, cpu_flags, kLevels);
#else
  (void)cpu_flags;
#endif
}

void IdctPutDoubled(const IdctKernels& kernels, const int16_t coeffs[64], const int32_t table[64],
                    uint8_t* dest, uint32_t pitch) {
  int32_t out[64];
  kernels.block(coeffs, table, out);
  uint8_t samples[64];
  for (int i = 0; i < 64; i++) samples[i] = static_cast<uint8_t>(out[i]);
  PutBlockDoubled(dest, pitch, samples);
}

void ResidueAdd(const int8_t residue[64], const uint8_t prediction[64], uint8_t* dest,
                uint32_t pitch) {
  for (int y = 0; y < 8; y++, dest += pitch)
    for (int x = 0; x < 8; x++)
      dest[x] = static_cast<uint8_t>(prediction[8 * y + x] + residue[8 * y + x]);
}
