// The one source of processor features, and the pattern every kernel family
// follows to use them.
//
// Features are detected once; VORN_CPU=c|sse2|avx2|avx512 caps them, so that
// tests, benchmarks and the hash checks can force each level in one binary.
// A kernel family is a plain record of function pointers (IdctKernels,
// BlockKernels, AudioFftKernels, RowKernels, EncodeKernels), filled by
// `<Family>KernelsInit(table, flags)`: first the plain versions, then each
// vector level the flags allow, in order, overwriting what it does better.
// The owner (the movie's decoders and conversion, an encoder) sets its tables
// up once, with CpuKernelFlags(), and calls through them; nothing consults
// the processor per call.
#pragma once
#include <cstddef>
#include <cstdint>

enum CpuFlag : uint32_t {
  CPU_SSE2 = 1u << 0,
  CPU_SSSE3 = 1u << 1,
  CPU_SSE41 = 1u << 2,
  CPU_AVX2 = 1u << 3,    // with FMA and BMI2
  CPU_AVX512 = 1u << 4,  // F, BW, DQ, VL and VBMI together
};

// Levels as VORN_CPU names them; each includes the ones before it.
inline constexpr uint32_t CPU_LEVEL_C = 0;
inline constexpr uint32_t CPU_LEVEL_SSE2 = CPU_SSE2;
inline constexpr uint32_t CPU_LEVEL_AVX2 = CPU_SSE2 | CPU_SSSE3 | CPU_SSE41 | CPU_AVX2;
inline constexpr uint32_t CPU_LEVEL_AVX512 = CPU_LEVEL_AVX2 | CPU_AVX512;

// Features present, whatever VORN_CPU says (tests run every level there is).
uint32_t CpuDetected();
// Features present and not masked by VORN_CPU (or CpuSetMask).
uint32_t CpuFeatures();
// Replaces the mask (all bits = everything detected); returns the old mask.
uint32_t CpuSetMask(uint32_t mask);
// The flags an owner sets its kernel tables up with: CpuFeatures(), or none
// when it was opened with vector code off.
uint32_t CpuKernelFlags(bool vector_off);

// One upgrade of a kernel table, applied when the flags hold all of `needs`.
template <typename Table>
struct CpuUpgrade {
  uint32_t needs;
  void (*upgrade)(Table* table);
};

// Applies the upgrades in order (lowest level first) that `flags` allow.
template <typename Table, size_t N>
void CpuUpgradeTable(Table* table, uint32_t flags, const CpuUpgrade<Table> (&levels)[N]) {
  for (const CpuUpgrade<Table>& level : levels)
    if ((flags & level.needs) == level.needs) level.upgrade(table);
}
