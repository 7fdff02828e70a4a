// How the player reads its arguments on POSIX systems, where each argument
// of the process is one item and '/' separates folders: an argument that
// names an existing file is a movie name whatever it holds; the
// single-letter switches work with '/' and with '-'; GNU-style long options
// stand for the common ones. The result is a command text of switches, read
// afterwards by the same switch readers as on Windows, and an exact list of
// names (names.h).
#pragma once
#include <cstdint>

#include "player/command_line.h"
#include "player/names.h"

enum PosixArgsResult {
  POSIX_ARGS_PLAY,     // switches and names read
  POSIX_ARGS_HELP,     // --help or -h: usage to stdout, exit 0
  POSIX_ARGS_VERSION,  // --version: exit 0
  POSIX_ARGS_MISSING,  // `bad` is neither an existing file nor a switch
  POSIX_ARGS_ERROR,    // `error` says what was wrong
};

struct PosixArgs {
  char switches[kCommandTextSize];  // "/L2 /F12.5 ..." as the switch readers take it
  char names[kCommandTextSize];     // exact list of names
  const char* bad;                  // the argument of POSIX_ARGS_MISSING
  char error[kCommandTextSize + 64];
};

// Reads argv[1..argc-1]. The file test is PlayerSystemHooks()->file_exists.
PosixArgsResult PosixArgsRead(int argc, const char* const* argv, PosixArgs* out);

// The start-up on POSIX after PosixArgsRead: the embedded command line and
// the switch text are read together by the switch readers; names that the
// embedded part carries go in front of the argument names. False with a
// message when a switch was refused or a switch was left over (given twice).
bool PosixCommandRead(PosixArgs* args, const char* embedded, PlayerOptions* options,
                      char* names_out);

// Why a name cannot be opened, in the system's words ("No such file or
// directory", "Is a directory", "Permission denied").
const char* PosixOpenFailure(const char* name);

// The usage text of the POSIX player (the switch table is PlayerHelpText()).
const char* PosixUsageText();
