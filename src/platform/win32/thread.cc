// Threads created suspended, on Windows. The thread starts in a trampoline
// that knows whether it was resumed or cancelled: joining a thread that was
// never resumed cancels it, so its function never runs and the join cannot
// hang on a thread that would stay suspended for ever.
#include <atomic>
#include <cstdint>
#include <new>

#include "platform/platform.h"
#include "platform/win32/win.h"

struct PlatformThread {
  HANDLE handle = nullptr;
  PlatformThreadFn fn = nullptr;
  void* arg = nullptr;
  std::atomic<bool> cancelled{false};
  bool resumed = false;  // touched only by the creating thread
};

namespace {

// A named stdcall function: lambdas do not convert to WINAPI on i686.
DWORD WINAPI ThreadStart(LPVOID param) {
  auto* thread = static_cast<PlatformThread*>(param);
  if (thread->cancelled.load(std::memory_order_acquire)) return 0;
  return thread->fn(thread->arg);
}

}  // namespace

PlatformThread* ThreadCreateSuspended(PlatformThreadFn fn, void* arg) {
  if (!fn) return nullptr;
  auto* thread = new (std::nothrow) PlatformThread;
  if (!thread) return nullptr;
  thread->fn = fn;
  thread->arg = arg;
  DWORD id = 0;
  thread->handle = CreateThread(nullptr, 0, ThreadStart, thread, CREATE_SUSPENDED, &id);
  if (!thread->handle) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void ThreadResume(PlatformThread* thread) {
  if (!thread || thread->resumed) return;
  thread->resumed = true;
  ResumeThread(thread->handle);
}

void ThreadJoin(PlatformThread* thread) {
  if (!thread) return;
  if (!thread->resumed) {
    thread->cancelled.store(true, std::memory_order_release);
    ThreadResume(thread);
  }
  WaitForSingleObject(thread->handle, INFINITE);
  CloseHandle(thread->handle);
  delete thread;
}

void SleepMs(uint32_t ms) { Sleep(ms); }

uint32_t ProcessorCount() {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}
