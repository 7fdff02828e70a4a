// The window front end of this build: window_win32.cc, window_sdl.cc or
// window_headless.cc, each with its window operations (player_state.h).
#pragma once

struct PlayerWindowOps;

const PlayerWindowOps* PlayerFrontEnd();

// The sound system of a POSIX front end: selects its driver and returns the
// summary's sound line ("SDL pulseaudio" or "none"); without a device it
// prints one warning line to stderr (window_sdl.cc, window_headless.cc).
const char* PlayerSelectSoundPosix(const char* program);
