#include "writer/writer_memory.h"

#include <atomic>

namespace {

std::atomic<WriterAllocHook> g_hook{nullptr};
std::atomic<bool> g_refused{false};

}  // namespace

void WriterSetAllocHook(WriterAllocHook hook) { g_hook = hook; }

bool WriterMayAllocate(size_t bytes) {
  const WriterAllocHook hook = g_hook.load();
  if (!hook || hook(bytes)) return true;
  g_refused = true;
  return false;
}

bool WriterTakeRefusal() { return g_refused.exchange(false); }
