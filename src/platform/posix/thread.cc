// Threads created suspended, on POSIX. pthreads cannot create a thread that
// does not run, so the new thread first waits at a start gate; ThreadResume
// opens the gate. Joining a thread that was never resumed cancels it at the
// gate: its function never runs (a suspended Windows thread would never end).
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace {

enum class Gate { kClosed, kOpen, kCancelled };

}  // namespace

struct PlatformThread {
  pthread_t id{};
  PlatformThreadFn fn = nullptr;
  void* arg = nullptr;
  std::mutex guard;
  std::condition_variable changed;
  Gate gate = Gate::kClosed;
};

namespace {

void* ThreadStart(void* param) {
  auto* thread = static_cast<PlatformThread*>(param);
  Gate gate;
  {
    std::unique_lock<std::mutex> lock(thread->guard);
    thread->changed.wait(lock, [thread] { return thread->gate != Gate::kClosed; });
    gate = thread->gate;
  }
  if (gate == Gate::kOpen) thread->fn(thread->arg);
  return nullptr;
}

void OpenGate(PlatformThread* thread, Gate to) {
  std::lock_guard<std::mutex> lock(thread->guard);
  if (thread->gate != Gate::kClosed) return;
  thread->gate = to;
  thread->changed.notify_all();
}

}  // namespace

PlatformThread* ThreadCreateSuspended(PlatformThreadFn fn, void* arg) {
  if (!fn) return nullptr;
  auto* thread = new (std::nothrow) PlatformThread;
  if (!thread) return nullptr;
  thread->fn = fn;
  thread->arg = arg;
  if (pthread_create(&thread->id, nullptr, ThreadStart, thread) != 0) {
    delete thread;
    return nullptr;
  }
  return thread;
}

void ThreadResume(PlatformThread* thread) {
  if (thread) OpenGate(thread, Gate::kOpen);
}

void ThreadJoin(PlatformThread* thread) {
  if (!thread) return;
  OpenGate(thread, Gate::kCancelled);
  pthread_join(thread->id, nullptr);
  delete thread;
}

void SleepMs(uint32_t ms) {
  // Sleep(0) on Windows gives up the rest of the time slice.
  if (ms == 0) {
    sched_yield();
    return;
  }
  timespec wanted{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  timespec left{};
  while (nanosleep(&wanted, &left) != 0 && errno == EINTR) wanted = left;
}

uint32_t ProcessorCount() {
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1;
}
