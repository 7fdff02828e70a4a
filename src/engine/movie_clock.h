// The engine clock and the frame schedule that is measured against it.
#pragma once
#include <cstdint>

#include "base/engine_clock.h"

struct Movie;

// Two frame times in ms at rate_num/rate_den; 2000 for "as fast as possible".
uint32_t MovieLateLimit(uint32_t rate_num, uint32_t rate_den);

// When frame f of the current clock run is due, in ms after the run's start:
// f x 1000 (32 bits) x rate_den (64 bits) / rate_num, scaled by the first
// sound track's 16.16 speed factor. 0 when the rate is "as fast as possible".
uint32_t MovieDueMs(const Movie* movie, uint32_t f);

// Books the time since the end of the last decode as blitting. Called with
// the current clock by every operation that ends a frame's display.
void MovieBookBlitTime(Movie* movie, uint32_t now);
