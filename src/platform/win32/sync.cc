// Re-entrant mutexes and auto-reset events on Windows: kernel mutex and
// event objects, so MutexLockBoth can wait for either of two at once.
// An abandoned mutex (its owner ended without releasing it) counts as
// taken: the waiter owns it now, as with a normal wait.
#include <cstdint>

#include "platform/platform.h"
#include "platform/win32/win.h"

namespace {

HANDLE Handle(PlatformMutex* mutex) { return reinterpret_cast<HANDLE>(mutex); }
HANDLE Handle(PlatformEvent* event) { return reinterpret_cast<HANDLE>(event); }

// The index of the object obtained by a wait, or -1.
int Obtained(DWORD result, DWORD count) {
  if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + count)
    return static_cast<int>(result - WAIT_OBJECT_0);
  if (result >= WAIT_ABANDONED_0 && result < WAIT_ABANDONED_0 + count)
    return static_cast<int>(result - WAIT_ABANDONED_0);
  return -1;
}

}  // namespace

PlatformMutex* MutexCreate() {
  return reinterpret_cast<PlatformMutex*>(CreateMutexA(nullptr, FALSE, nullptr));
}

void MutexDestroy(PlatformMutex* mutex) {
  if (mutex) CloseHandle(Handle(mutex));
}

void MutexLock(PlatformMutex* mutex) {
  if (mutex) WaitForSingleObject(Handle(mutex), INFINITE);
}

bool MutexTryLock(PlatformMutex* mutex) {
  return mutex && Obtained(WaitForSingleObject(Handle(mutex), 0), 1) == 0;
}

void MutexUnlock(PlatformMutex* mutex) {
  if (mutex) ReleaseMutex(Handle(mutex));
}

void MutexLockBoth(PlatformMutex* a, PlatformMutex* b) {
  if (!a || !b || a == b) {
    MutexLock(a);
    MutexLock(b);
    return;
  }
  // One wait for either; then the one still missing.
  HANDLE both[2] = {Handle(a), Handle(b)};
  int first = Obtained(WaitForMultipleObjects(2, both, FALSE, INFINITE), 2);
  if (first < 0) {
    MutexLock(a);
    MutexLock(b);
    return;
  }
  WaitForSingleObject(both[1 - first], INFINITE);
}

PlatformEvent* EventCreate() {
  return reinterpret_cast<PlatformEvent*>(CreateEventA(nullptr, FALSE, FALSE, nullptr));
}

void EventDestroy(PlatformEvent* event) {
  if (event) CloseHandle(Handle(event));
}

void EventSet(PlatformEvent* event) {
  if (event) SetEvent(Handle(event));
}

bool EventWait(PlatformEvent* event, uint32_t timeout_ms) {
  // kWaitForever is INFINITE.
  return event && WaitForSingleObject(Handle(event), timeout_ms) == WAIT_OBJECT_0;
}
