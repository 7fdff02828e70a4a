// The process-wide engine clock: milliseconds from the high-resolution
// counter, kept in step with the millisecond timer and never running back.
// It sits below the engine because the reader times its reads with it too.
#include "base/engine_clock.h"

#include <atomic>

#include "platform/platform.h"

namespace {

constexpr MovieClockSources kPlatformSources = {HighResFrequency, HighResCounter, TimerMs};

// Drift beyond which the counter is taken to have jumped and the clock
// follows the millisecond timer instead.
constexpr int32_t kMaxDriftMs = 200;

// Mostly read from the user-interface thread, but the reader times its
// chunk reads with this clock on the background reading thread too, so the
// state is updated under a short spin lock: a torn update could make the
// clock jump or run backwards.
struct ClockState {
  MovieClockSources sources = kPlatformSources;
  bool first_call = true;
  uint64_t frequency = 0;  // 0 = no counter: the timer is the clock
  uint64_t base = 0;       // counter at the first call
  uint32_t drift = 0;      // added to the counter's ms (wrapping arithmetic)
  uint32_t last_result = 0;
  uint32_t last_tick = 0;
};

ClockState clock_state;
std::atomic_flag clock_busy = ATOMIC_FLAG_INIT;

class ClockLock {
 public:
  ClockLock() {
    while (clock_busy.test_and_set(std::memory_order_acquire)) {
    }
  }
  ~ClockLock() { clock_busy.clear(std::memory_order_release); }
};

// (counter - base) x 1000 / frequency without overflowing 64 bits however
// long the counter has run; a counter below its base gives a negative value.
int64_t CounterMs(uint64_t counter, uint64_t base, uint64_t frequency) {
  bool negative = counter < base;
  uint64_t delta = negative ? base - counter : counter - base;
  uint64_t ms = delta / frequency * 1000 + delta % frequency * 1000 / frequency;
  return negative ? -static_cast<int64_t>(ms) : static_cast<int64_t>(ms);
}

}  // namespace

void MovieClockSetSources(const MovieClockSources* sources) {
  ClockLock lock;
  clock_state = ClockState{};
  if (sources) clock_state.sources = *sources;
}

uint32_t MovieClockMs() {
  ClockLock lock;
  ClockState& c = clock_state;
  if (c.first_call) {
    c.first_call = false;
    uint64_t frequency = 0;
    if (c.sources.frequency(&frequency) && frequency != 0) {
      c.frequency = frequency;
      c.base = c.sources.counter();
      c.last_tick = c.sources.timer_ms();
      c.last_result = 0;
      return 0;
    }
    c.frequency = 0;
    return c.sources.timer_ms();
  }
  if (c.frequency == 0) return c.sources.timer_ms();

  uint32_t ms = static_cast<uint32_t>(CounterMs(c.sources.counter(), c.base, c.frequency)) + c.drift;
  uint32_t tick = c.sources.timer_ms();
  int32_t d = static_cast<int32_t>((tick - c.last_tick) - (ms - c.last_result));
  if (d > kMaxDriftMs || d < -kMaxDriftMs) {
    c.drift += static_cast<uint32_t>(d);
    ms += static_cast<uint32_t>(d);
  }
  // A result "behind" the last one by up to a quarter of the range means the
  // counter went back: hold the clock rather than let it run backwards.
  if (ms - c.last_result > 0xC0000000u) return c.last_result;
  c.last_tick = tick;
  c.last_result = ms;
  return ms;
}
