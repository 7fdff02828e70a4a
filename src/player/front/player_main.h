// The player's entry behind the operating system's own entry point
// (entry_win32.cc, entry_posix.cc): the player's state is made here and
// handed down to the loop and the window.
#pragma once

// Runs the player on the process's argument text; returns the exit code:
// 0 after a normal end, 1 after an error or the help box.
int PlayerMain(const char* args);

// The POSIX entry: each argument one item (posix_args.h). Exit code 0 after
// a normal end, --help or --version; 1 after an error.
int PlayerMainPosix(int argc, char** argv);
