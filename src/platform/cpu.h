// The one source of processor features. Detected once; VORN_CPU=c|sse2|avx2
// caps what the vector paths may use, so tests and benchmarks can force each
// level in the same binary.
#pragma once
#include <cstdint>

enum CpuFlag : uint32_t {
  CPU_SSE2 = 1u << 0,
  CPU_SSSE3 = 1u << 1,
  CPU_SSE41 = 1u << 2,
  CPU_AVX2 = 1u << 3,
};

// Features present and not masked.
uint32_t CpuFeatures();
// Replaces the mask (all bits = everything detected); returns the old mask.
uint32_t CpuSetMask(uint32_t mask);
