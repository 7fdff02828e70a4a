#include "base/engine_memory.h"

#include <cstdlib>
#include <cstring>

namespace {

EngineAllocHook g_alloc_hook = nullptr;
EngineFreeHook g_free_hook = nullptr;

// The free hook in force when a hooked block was obtained is kept 16 bytes
// before the block: room for a pointer of any width, clear of the distance
// and marker bytes at block - 1 and block - 2.
constexpr uint32_t kFreeHookOffset = 16;
static_assert(sizeof(EngineFreeHook) <= kFreeHookOffset - 2);

// Pending-block list: parallel arrays of slots and padded sizes. The first
// 32 entries live in static storage; larger arrays come from EngineAlloc.
constexpr uint32_t kStaticCapacity = 32;
void* g_static_slots[kStaticCapacity];
uint32_t g_static_sizes[kStaticCapacity];

struct PendingList {
  void** slots = g_static_slots;
  uint32_t* sizes = g_static_sizes;
  uint32_t capacity = kStaticCapacity;
  uint32_t count = 0;
  uint32_t total = 0;   // pending_total
  bool failed = false;  // a registration was lost
};
PendingList g_pending;

uint8_t* PlaceBlock(uint8_t* raw, uint8_t marker) {
  const uint32_t distance = ENGINE_HEADER_ROOM - static_cast<uint32_t>(
                                                    reinterpret_cast<uintptr_t>(raw) % ENGINE_ALIGN);
  uint8_t* block = raw + distance;  // 33 to 64 bytes of header room
  block[-1] = static_cast<uint8_t>(distance);
  block[-2] = marker;
  return block;
}

// Doubles the pending arrays. The new arrays share one block: slots in the
// first part, sizes after them.
bool GrowPending() {
  if (g_pending.capacity > 0x10000000u / (sizeof(void*) + sizeof(uint32_t))) return false;
  const uint32_t new_capacity = g_pending.capacity * 2;
  auto* block = static_cast<uint8_t*>(
      EngineAlloc(new_capacity * static_cast<uint32_t>(sizeof(void*) + sizeof(uint32_t))));
  if (!block) return false;
  auto** slots = reinterpret_cast<void**>(block);
  auto* sizes = reinterpret_cast<uint32_t*>(block + new_capacity * sizeof(void*));
  std::memcpy(slots, g_pending.slots, g_pending.count * sizeof(void*));
  std::memcpy(sizes, g_pending.sizes, g_pending.count * sizeof(uint32_t));
  if (g_pending.slots != g_static_slots) EngineFree(g_pending.slots);
  g_pending.slots = slots;
  g_pending.sizes = sizes;
  g_pending.capacity = new_capacity;
  return true;
}

void ClearPending() {
  g_pending.count = 0;
  g_pending.total = 0;
  g_pending.failed = false;
}

}  // namespace

void EngineSetHooks(EngineAllocHook alloc_hook, EngineFreeHook free_hook) {
  g_alloc_hook = alloc_hook;
  g_free_hook = free_hook;
}

void* EngineAlloc(uint32_t size) {
  if (size == 0 || size > UINT32_MAX - ENGINE_HEADER_ROOM) return nullptr;
  const uint32_t raw_size = size + ENGINE_HEADER_ROOM;
  if (g_alloc_hook) {
    void* hooked = g_alloc_hook(raw_size);
    if (hooked == ENGINE_HOOK_REFUSE) return nullptr;
    if (hooked) {
      uint8_t* block = PlaceBlock(static_cast<uint8_t*>(hooked), ENGINE_MARK_HOOK);
      std::memcpy(block - kFreeHookOffset, &g_free_hook, sizeof(g_free_hook));
      return block;
    }
  }
  void* raw = std::malloc(raw_size);
  if (!raw) return nullptr;
  return PlaceBlock(static_cast<uint8_t*>(raw), ENGINE_MARK_STANDARD);
}

void EngineFree(void* block) {
  if (!block) return;
  auto* bytes = static_cast<uint8_t*>(block);
  uint8_t* raw = bytes - bytes[-1];
  if (bytes[-2] == ENGINE_MARK_HOOK) {
    EngineFreeHook free_hook;
    std::memcpy(&free_hook, bytes - kFreeHookOffset, sizeof(free_hook));
    if (free_hook) free_hook(raw);
    return;
  }
  std::free(raw);
}

bool EngineDeferAlloc(void* slot, uint32_t size) {
  if (g_pending.count == g_pending.capacity && !GrowPending()) {
    g_pending.failed = true;
    return false;
  }
  if (size > UINT32_MAX - 31) {
    g_pending.failed = true;
    return false;
  }
  const uint32_t rounded = (size + 31) & ~31u;
  // Stagger: 0 to 31 extra lines of 32 bytes so that consecutive blocks start
  // on different lines of a 1024-byte period (unsigned wrap is intended).
  const uint32_t lines = (g_pending.total / 32 - rounded / 32 + 1) % 32;
  const uint64_t padded = uint64_t{rounded} + 32u * lines;
  if (padded + g_pending.total > UINT32_MAX) {
    g_pending.failed = true;
    return false;
  }
  g_pending.total += static_cast<uint32_t>(padded);
  g_pending.slots[g_pending.count] = slot;
  g_pending.sizes[g_pending.count] = static_cast<uint32_t>(padded);
  g_pending.count++;
  return true;
}

void* EngineAllocWithPending(uint32_t size) {
  void* main_block = nullptr;
  if (!g_pending.failed && size <= UINT32_MAX - 31) {
    const uint32_t rounded = (size + 31) & ~31u;
    if (uint64_t{rounded} + g_pending.total <= UINT32_MAX)
      main_block = EngineAlloc(rounded + g_pending.total);
    if (main_block) {
      uint8_t* cursor = static_cast<uint8_t*>(main_block) + rounded;
      for (uint32_t i = 0; i < g_pending.count; i++) {
        // Slots are pointer variables of any object type; all share one representation.
        std::memcpy(g_pending.slots[i], &cursor, sizeof(cursor));
        cursor += g_pending.sizes[i];
      }
    }
  }
  ClearPending();
  return main_block;
}

EnginePendingInfo EnginePendingState() {
  return {g_pending.count, g_pending.capacity, g_pending.total, g_pending.failed};
}

uint32_t EnginePendingPadded(uint32_t i) { return i < g_pending.count ? g_pending.sizes[i] : 0; }
