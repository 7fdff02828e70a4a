// The player's main loop: window messages first, then the frame that is
// due, with short sleeps between frames; looping, the next file, the
// closing logo and shutdown.
#pragma once
#include <cstdint>

struct PlayerState;

// Plays the named list in the player's existing window until the quit
// message; returns the exit code. With `exact` the list is an exact list
// (names.h).
int PlayerRun(PlayerState* player, const char* names, bool exact = false);

// The loop's sleep bookkeeping: idle_ms after sleeping with slept_ms passed.
int32_t PlayerIdleAfterSleep(int32_t idle_ms, uint32_t slept_ms);
