// Clock sources and the local date on POSIX. Both the high-resolution
// counter and the millisecond timer read CLOCK_MONOTONIC, so they never jump
// against each other and never step with wall-clock changes. The counter
// ticks in microseconds (Windows counters run at a few MHz too): the
// engine multiplies tick differences by 1000 in 64 bits, which nanosecond
// ticks would overflow after months of uptime.
#include <time.h>

#include <cstdint>

#include "platform/platform.h"

namespace {

constexpr uint64_t kNanosPerSecond = 1000000000u;
constexpr uint64_t kMicrosPerSecond = 1000000u;

uint64_t MonotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * kNanosPerSecond + static_cast<uint64_t>(now.tv_nsec);
}

}  // namespace

bool HighResFrequency(uint64_t* ticks_per_second) {
  if (!ticks_per_second) return false;
  *ticks_per_second = kMicrosPerSecond;
  return true;
}

uint64_t HighResCounter() { return MonotonicNanos() / 1000u; }

// Wraps modulo 2^32 like the multimedia timer.
uint32_t TimerMs() { return static_cast<uint32_t>(MonotonicNanos() / 1000000u); }

LocalDate LocalDateToday() {
  time_t now = time(nullptr);
  tm local{};
  if (!localtime_r(&now, &local)) return LocalDate{1970, 1, 1};
  return LocalDate{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}
