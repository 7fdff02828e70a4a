// Re-entrant mutexes and auto-reset events on POSIX.
//
// A pthread mutex cannot be waited for together with another one, yet the
// player's thread must wait for "either of two, then the other" exactly as
// the Windows build does. So every PlatformMutex is a small owner record, and
// one process-wide guard with one condition variable protects all of them:
// a waiter for any mutex sleeps on the same condition and re-checks the
// mutexes it wants after each release. The mutexes are few (two per movie,
// one per service thread) and are held briefly, so the shared guard costs
// nothing measurable.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <new>

#include "platform/platform.h"

struct PlatformMutex {
  uint64_t owner = 0;  // thread token of the owner, 0 when free
  uint32_t depth = 0;  // re-entrant lock count of the owner
};

struct PlatformEvent {
  std::mutex guard;
  std::condition_variable signalled;
  bool set = false;
};

namespace {

std::mutex g_guard;
std::condition_variable g_released;
uint32_t g_waiters = 0;  // threads sleeping on g_released
std::atomic<uint64_t> g_next_token{1};

// A token per thread that is never reused, so a mutex still marked with a
// finished thread's token can never be mistaken for owned by a new thread.
uint64_t SelfToken() {
  thread_local uint64_t token = g_next_token.fetch_add(1, std::memory_order_relaxed);
  return token;
}

bool Available(const PlatformMutex* mutex, uint64_t self) {
  return mutex->owner == 0 || mutex->owner == self;
}

void Take(PlatformMutex* mutex, uint64_t self) {
  if (mutex->owner == self) {
    ++mutex->depth;
  } else {
    mutex->owner = self;
    mutex->depth = 1;
  }
}

// Sleeps on the shared condition until ready() holds; g_guard is held.
template <typename Ready>
void WaitUntil(std::unique_lock<std::mutex>& lock, Ready ready) {
  while (!ready()) {
    ++g_waiters;
    g_released.wait(lock);
    --g_waiters;
  }
}

}  // namespace

PlatformMutex* MutexCreate() { return new (std::nothrow) PlatformMutex; }

void MutexDestroy(PlatformMutex* mutex) { delete mutex; }

void MutexLock(PlatformMutex* mutex) {
  if (!mutex) return;
  const uint64_t self = SelfToken();
  std::unique_lock<std::mutex> lock(g_guard);
  WaitUntil(lock, [&] { return Available(mutex, self); });
  Take(mutex, self);
}

bool MutexTryLock(PlatformMutex* mutex) {
  if (!mutex) return false;
  const uint64_t self = SelfToken();
  std::lock_guard<std::mutex> lock(g_guard);
  if (!Available(mutex, self)) return false;
  Take(mutex, self);
  return true;
}

void MutexUnlock(PlatformMutex* mutex) {
  if (!mutex) return;
  const uint64_t self = SelfToken();
  std::lock_guard<std::mutex> lock(g_guard);
  // Like ReleaseMutex, a release by a thread that does not own the mutex
  // fails and changes nothing.
  if (mutex->owner != self || mutex->depth == 0) return;
  if (--mutex->depth == 0) {
    mutex->owner = 0;
    if (g_waiters) g_released.notify_all();
  }
}

void MutexLockBoth(PlatformMutex* a, PlatformMutex* b) {
  if (!a || !b || a == b) {
    // One real mutex (or the same one twice): the caller still releases
    // each argument once, so a doubled mutex is taken twice.
    MutexLock(a);
    MutexLock(b);
    return;
  }
  const uint64_t self = SelfToken();
  std::unique_lock<std::mutex> lock(g_guard);
  // One wait for either: whichever comes free first is taken, so a thread
  // holding only the other one is never waited for while holding nothing.
  WaitUntil(lock, [&] { return Available(a, self) || Available(b, self); });
  PlatformMutex* first = Available(a, self) ? a : b;
  PlatformMutex* second = first == a ? b : a;
  Take(first, self);
  WaitUntil(lock, [&] { return Available(second, self); });
  Take(second, self);
}

PlatformEvent* EventCreate() { return new (std::nothrow) PlatformEvent; }

void EventDestroy(PlatformEvent* event) { delete event; }

void EventSet(PlatformEvent* event) {
  if (!event) return;
  std::lock_guard<std::mutex> lock(event->guard);
  event->set = true;
  event->signalled.notify_one();
}

bool EventWait(PlatformEvent* event, uint32_t timeout_ms) {
  if (!event) return false;
  std::unique_lock<std::mutex> lock(event->guard);
  auto is_set = [event] { return event->set; };
  if (timeout_ms == kWaitForever) {
    event->signalled.wait(lock, is_set);
  } else {
    event->signalled.wait_for(lock, std::chrono::milliseconds(timeout_ms), is_set);
  }
  if (!event->set) return false;
  event->set = false;  // auto-reset: one wait consumes one signal
  return true;
}
