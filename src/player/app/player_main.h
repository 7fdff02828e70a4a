// The player's entry behind the operating system's own entry point.
#pragma once

// Runs the player on the process's argument text; returns the exit code:
// 0 after a normal end, 1 after an error or the help box.
int PlayerMain(const char* args);

// The POSIX entry: each argument one item (posix_args.h). Exit code 0 after
// a normal end, --help or --version; 1 after an error.
int PlayerMainPosix(int argc, char** argv);

// The sound system of a POSIX front end: selects its driver and returns the
// summary's sound line ("SDL pulseaudio" or "none"); without a device it
// prints one warning line to stderr. Provided by sdl/ and window_headless.cc.
const char* PlayerSelectSoundPosix(const char* program);
