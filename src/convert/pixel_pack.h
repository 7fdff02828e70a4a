// Destination layouts as the row kernels see them (plain and vector alike).
#pragma once
#include <cstdint>

enum class Pack { k16, k4444A, k5551A, k32, k32R, k32A, k32RA, k24, k24R, kYUY2, kUYVY };

constexpr uint32_t PackBytes(Pack p) {
  switch (p) {
    case Pack::k32:
    case Pack::k32R:
    case Pack::k32A:
    case Pack::k32RA:
      return 4;
    case Pack::k24:
    case Pack::k24R:
      return 3;
    default:
      return 2;
  }
}
constexpr bool PackHasAlpha(Pack p) {
  return p == Pack::k4444A || p == Pack::k5551A || p == Pack::k32A || p == Pack::k32RA;
}
constexpr bool PackIsReversed(Pack p) {
  return p == Pack::k32R || p == Pack::k32RA || p == Pack::k24R;
}
