// The encoder's kernels at this machine's level, for tests that check
// decisions rather than the kernels themselves.
#pragma once
#include "platform/cpu.h"
#include "writer/encode_kernels.h"

inline const EncodeKernels* MachineEncodeKernels() {
  static const EncodeKernels kernels = [] {
    EncodeKernels k;
    EncodeKernelsInit(&k, CpuFeatures());
    return k;
  }();
  return &kernels;
}
