// Clock sources and the local date on Windows: the performance counter and
// the multimedia timer, the two sources the engine clock cross-checks.
#include <cstdint>

#include "platform/platform.h"
#include "platform/win32/win.h"
#include <mmsystem.h>

bool HighResFrequency(uint64_t* ticks_per_second) {
  LARGE_INTEGER frequency;
  if (!ticks_per_second || !QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
    return false;
  *ticks_per_second = static_cast<uint64_t>(frequency.QuadPart);
  return true;
}

uint64_t HighResCounter() {
  LARGE_INTEGER now;
  if (!QueryPerformanceCounter(&now)) return 0;
  return static_cast<uint64_t>(now.QuadPart);
}

uint32_t TimerMs() { return timeGetTime(); }

LocalDate LocalDateToday() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return LocalDate{now.wYear, now.wMonth, now.wDay};
}
