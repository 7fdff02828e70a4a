#include "platform/cpu.h"

#include <cstdlib>
#include <cstring>

namespace {

uint32_t DetectCpu() {
  uint32_t flags = 0;
#if defined(VORN_X86) && (defined(__GNUC__) || defined(__clang__))
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse2")) flags |= CPU_SSE2;
  if (__builtin_cpu_supports("ssse3")) flags |= CPU_SSSE3;
  if (__builtin_cpu_supports("sse4.1")) flags |= CPU_SSE41;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
      __builtin_cpu_supports("bmi2"))
    flags |= CPU_AVX2;
  // The checks include the system's saving of the wide registers.
  if ((flags & CPU_AVX2) && __builtin_cpu_supports("avx512f") &&
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
    flags |= CPU_AVX512;
#endif
  return flags;
}

uint32_t MaskFromEnvironment() {
  const char* level = std::getenv("VORN_CPU");
  if (!level) return ~0u;
  if (!std::strcmp(level, "c")) return CPU_LEVEL_C;
  if (!std::strcmp(level, "sse2")) return CPU_LEVEL_SSE2;
  if (!std::strcmp(level, "ssse3")) return CPU_SSE2 | CPU_SSSE3;
  if (!std::strcmp(level, "sse41")) return CPU_SSE2 | CPU_SSSE3 | CPU_SSE41;
  if (!std::strcmp(level, "avx2")) return CPU_LEVEL_AVX2;
  return ~0u;
}

uint32_t g_detected = DetectCpu();
uint32_t g_mask = MaskFromEnvironment();

}  // namespace

uint32_t CpuDetected() { return g_detected; }

uint32_t CpuFeatures() { return g_detected & g_mask; }

uint32_t CpuSetMask(uint32_t mask) {
  uint32_t old = g_mask;
  g_mask = mask;
  return old;
}

uint32_t CpuKernelFlags(bool vector_off) { return vector_off ? 0 : CpuFeatures(); }
