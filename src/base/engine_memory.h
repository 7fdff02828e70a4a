// The engine's allocator: 32-byte-aligned blocks that remember in front of
// themselves how to be given back, and a pending-block list that gathers many
// small arrays into one allocation with a main block.
#pragma once
#include <cstdint>

inline constexpr uint32_t ENGINE_ALIGN = 32;
inline constexpr uint32_t ENGINE_HEADER_ROOM = 64;  // extra bytes asked per block

// Origin markers stored just before each block (at block - 2).
enum : uint8_t {
  ENGINE_MARK_STANDARD = 0,
  ENGINE_MARK_HOOK = 3,
};

// alloc_hook(size) returns a block, nullptr to fall back to the standard
// allocator, or ENGINE_HOOK_REFUSE to fail the allocation.
using EngineAllocHook = void* (*)(uint32_t size);
using EngineFreeHook = void (*)(void* block);
inline void* const ENGINE_HOOK_REFUSE = reinterpret_cast<void*>(~uintptr_t{0});

// Process-wide hooks; both null in the player (tests count blocks with them).
void EngineSetHooks(EngineAllocHook alloc_hook, EngineFreeHook free_hook);

// A 32-byte-aligned block of size bytes, or null (also for 0 and 0xFFFFFFFF).
void* EngineAlloc(uint32_t size);
// Gives a block back to whoever provided it; null is ignored.
void EngineFree(void* block);

// Registers a pending block: slot (the address of a pointer variable of any
// object type) receives the block's address at the next
// EngineAllocWithPending. Returns false when the registration could not be
// recorded (the list could not grow, or the total passed 32 bits); the next
// EngineAllocWithPending then fails, so the open collecting blocks sees one
// "out of memory" instead of a half-filled set of slots.
bool EngineDeferAlloc(void* slot, uint32_t size);
template <typename T>
bool EngineDefer(T** slot, uint32_t size) {
  return EngineDeferAlloc(static_cast<void*>(slot), size);
}

// Allocates a main block of size bytes followed by every pending block, fills
// the slots in registration order and empties the list. On failure returns
// null, writes no slot and still empties the list.
void* EngineAllocWithPending(uint32_t size);

// Introspection of the pending list, for tests and the memory summary.
struct EnginePendingInfo {
  uint32_t count;
  uint32_t capacity;
  uint32_t total;  // pending_total: sum of padded sizes
  bool failed;     // a registration was lost since the list was last emptied
};
EnginePendingInfo EnginePendingState();
// Padded size of pending entry i (i < count).
uint32_t EnginePendingPadded(uint32_t i);
