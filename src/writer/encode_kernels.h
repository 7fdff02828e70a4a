// The encoder's distortion kernels: the sum of absolute differences of two
// 8x8 blocks (motion search) and the sum of squared differences of two
// contiguous sample runs (every coding's error). Plain versions, upgraded
// per processor from CpuFeatures(); results are identical on every path.
#pragma once
#include <cstdint>

struct EncodeKernels {
  uint32_t (*sad8x8)(const uint8_t* a, uint32_t a_pitch, const uint8_t* b, uint32_t b_pitch);
  // count is a multiple of 16.
  uint32_t (*sse)(const uint8_t* a, const uint8_t* b, uint32_t count);
};

const EncodeKernels* EncodeKernelsPlain();
// Chosen for this processor (and the VORN_CPU mask) on each call.
const EncodeKernels* EncodeKernelsBest();

#if defined(VORN_X86)
const EncodeKernels* EncodeKernelsSse2();  // x86/encode_kernels_sse2.cc
#endif
