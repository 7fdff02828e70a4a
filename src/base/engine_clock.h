// The process-wide engine clock (MovieClockMs) and where it takes its time
// from.
#pragma once
#include <cstdint>

// Where the engine clock takes its time from. The player uses the platform's
// high-resolution counter and millisecond timer; tests drive both by hand.
struct MovieClockSources {
  bool (*frequency)(uint64_t* ticks_per_second);  // false: no counter
  uint64_t (*counter)();
  uint32_t (*timer_ms)();
};

// Replaces the clock's sources (null restores the platform's) and forgets the
// clock's state, so that the next MovieClockMs is a first call again.
void MovieClockSetSources(const MovieClockSources* sources);

// Milliseconds of the engine clock; never runs backwards.
uint32_t MovieClockMs();
