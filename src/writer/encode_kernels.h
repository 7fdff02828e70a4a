// The encoder's kernel family (see platform/cpu.h): the sum of absolute
// differences of two 8x8 blocks (motion search), the planes shrunk for the
// search of the whole picture's motion, the sum of squared
// differences of two contiguous sample runs (every coding's error), the bit
// count of a transform block's coefficients, the forward transform and the
// quantiser (every quantiser tried), and the decoder's inverse transform for the
// reconstructions. Plain versions,
// upgraded per level by EncodeKernelsInit; every level gives the same results,
// so the movie does not depend on the processor.
#pragma once
#include <cstdint>

#include "video/idct.h"

struct EncodeKernels {
  uint32_t (*sad8x8)(const uint8_t* a, uint32_t a_pitch, const uint8_t* b, uint32_t b_pitch);
  // count is a multiple of 16.
  uint32_t (*sse)(const uint8_t* a, const uint8_t* b, uint32_t count);
  // DctCoefficientBits (writer/coefficient_writer.h).
  uint32_t (*coefficient_bits)(const int16_t coeffs[64]);
  // ForwardDctRaw (writer/encode_dct.h), to the last bit of every float.
  void (*forward_dct)(const int16_t samples[64], float values[64]);
  // QuantiseLevels (writer/encode_quantise.h).
  int (*quantise)(const float values[64], const float inverse_steps[64], float dead_zone,
                  int16_t out[64]);
  // One row of a plane shrunk four times each way: out[x] is the rounded
  // mean of the 4x4 samples from column 4x of `rows` (four lines `pitch`
  // apart), for x below out_width.
  void (*shrink4_row)(const uint8_t* rows, uint32_t pitch, uint32_t out_width, uint8_t* out);
  IdctKernels idct;
};
void EncodeKernelsInit(EncodeKernels* kernels, uint32_t cpu_flags);
// The plain shrink, which the vector ones finish their rows with.
void Shrink4RowPlain(const uint8_t* rows, uint32_t pitch, uint32_t out_width, uint8_t* out);

#if defined(VORN_X86)
void EncodeKernelsSse2(EncodeKernels* kernels);  // x86/encode_kernels_sse2.cc
void EncodeKernelsAvx2(EncodeKernels* kernels);  // x86/encode_kernels_avx2.cc
#endif
