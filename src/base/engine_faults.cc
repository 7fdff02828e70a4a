#include "base/engine_faults.h"

#include <atomic>
#include <cstdlib>

#include "base/engine_memory.h"

namespace {

std::atomic<uint32_t> g_asked{0}, g_refused{0}, g_live{0};
std::atomic<uint32_t> g_fail_at{0};
std::atomic<uint64_t> g_fail_mask{0};

void* FaultAlloc(uint32_t size) {
  const uint32_t number = g_asked.fetch_add(1) + 1;
  const bool in_mask = number <= 64 && (g_fail_mask.load() >> (number - 1)) & 1;
  if (number == g_fail_at.load() || in_mask) {
    g_refused.fetch_add(1);
    return ENGINE_HOOK_REFUSE;
  }
  void* block = std::malloc(size);
  if (!block) return ENGINE_HOOK_REFUSE;
  g_live.fetch_add(1);
  return block;
}

void FaultFree(void* block) {
  g_live.fetch_sub(1);
  std::free(block);
}

}  // namespace

void EngineFaultsInstall(uint32_t fail_at, uint64_t fail_mask) {
  g_asked = 0;
  g_refused = 0;
  g_fail_at = fail_at;
  g_fail_mask = fail_mask;
  EngineSetHooks(FaultAlloc, FaultFree);
}

void EngineFaultsRemove() { EngineSetHooks(nullptr, nullptr); }

uint32_t EngineFaultsAsked() { return g_asked.load(); }
uint32_t EngineFaultsRefused() { return g_refused.load(); }
uint32_t EngineFaultsLive() { return g_live.load(); }
