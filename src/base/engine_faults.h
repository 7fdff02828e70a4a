// Allocation-failure injection for tests and fuzzers, on the engine
// allocator's hooks: chosen allocations (counted from the install, in the
// order they are asked for, from any thread) are refused, and every block
// handed out is counted until it comes back, so a caller can see that a
// refused operation gave everything back.
#pragma once
#include <cstdint>

// Refuses allocation number fail_at (1 = the first one after the install; 0 =
// none) and every allocation i <= 64 whose bit i - 1 is set in fail_mask.
void EngineFaultsInstall(uint32_t fail_at, uint64_t fail_mask = 0);
// Restores the plain allocator. Blocks handed out under the hooks still come
// back through them.
void EngineFaultsRemove();
// Allocations asked for since the install (refused ones included).
uint32_t EngineFaultsAsked();
// Allocations refused since the install.
uint32_t EngineFaultsRefused();
// Blocks handed out under the hooks and not yet freed.
uint32_t EngineFaultsLive();
