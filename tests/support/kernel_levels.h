// The processor levels a kernel test runs at: every level this machine has,
// whatever VORN_CPU says (the tables are set up with explicit flags).
#pragma once
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "platform/cpu.h"

struct KernelLevel {
  const char* name;
  uint32_t flags;
};
// Parameterised tests show the level by its name.
inline void PrintTo(const KernelLevel& level, std::ostream* os) { *os << level.name; }

inline std::vector<KernelLevel> KernelLevels() {
  static const KernelLevel kAll[] = {{"c", CPU_LEVEL_C},
                                     {"sse2", CPU_LEVEL_SSE2},
                                     {"avx2", CPU_LEVEL_AVX2},
                                     {"avx512", CPU_LEVEL_AVX512}};
  std::vector<KernelLevel> levels;
  for (const KernelLevel& level : kAll)
    if ((CpuDetected() & level.flags) == level.flags) levels.push_back(level);
  return levels;
}

// The vector levels only (the plain one is what they are checked against).
inline std::vector<KernelLevel> VectorLevels() {
  std::vector<KernelLevel> levels = KernelLevels();
  levels.erase(levels.begin());
  return levels;
}
