// The integer inverse transform with dequantisation and its output forms.
// The arithmetic is exact 32-bit two's complement (products and sums wrap)
// and results are written modulo 256, never clamped: encoders reproduce the
// decoder's pictures bit for bit by calling these same functions.
#pragma once
#include <cstdint>

// The kernels of the transform: plain versions, upgraded per processor by
// IdctKernelsInit (see platform/cpu.h). Every level gives the same bytes.
struct IdctKernels {
  // The transform's results before they are cut to 8 bits, in rows.
  void (*block)(const int16_t coeffs[64], const int32_t table[64], int32_t out[64]);
  // 8x8 results to dest.
  void (*put)(const int16_t coeffs[64], const int32_t table[64], uint8_t* dest, uint32_t pitch);
  // prediction (64 bytes in rows) + results, modulo 256.
  void (*add)(const int16_t coeffs[64], const int32_t table[64], const uint8_t prediction[64],
              uint8_t* dest, uint32_t pitch);
};
void IdctKernelsInit(IdctKernels* kernels, uint32_t cpu_flags);
#if defined(VORN_X86)
void IdctKernelsSse2(IdctKernels* kernels);  // x86/idct_sse2.cc
void IdctKernelsAvx2(IdctKernels* kernels);  // x86/idct_avx2.cc
#endif

// Each result as a 2x2 square of a 16x16 area.
void IdctPutDoubled(const IdctKernels& kernels, const int16_t coeffs[64], const int32_t table[64],
                    uint8_t* dest, uint32_t pitch);
// prediction + residue (natural positions), modulo 256.
void ResidueAdd(const int8_t residue[64], const uint8_t prediction[64], uint8_t* dest,
                uint32_t pitch);

