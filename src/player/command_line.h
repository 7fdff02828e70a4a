// The command text: the embedded command line of the executable with the
// user's argument text behind it, and the start-up steps that read it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "player/player_options.h"

// The embedded command line: string resource 1 on Windows, a marked array
// on POSIX. Both are reserved as a run of '~' that the bundle tool
// overwrites in place; the text ends at the first '~'.
inline constexpr uint32_t kEmbeddedCapacity = 511;   // reserved characters
inline constexpr uint32_t kEmbeddedLoadLimit = 511;  // characters loaded, NUL included
inline constexpr uint32_t kEmbeddedTextMax = kEmbeddedLoadLimit - 1;
inline constexpr uint32_t kStringResourceId = 1;
// Marks the reserved array in a POSIX executable.
#define VORN_EMBEDDED_MARKER "VORN_EMBEDDED_COMMAND_LINE:"
inline constexpr uint32_t kEmbeddedMarkerLength = sizeof(VORN_EMBEDDED_MARKER) - 1;

inline constexpr const char* kCommandTooLong =
    "The command line is too long (at most 1023 characters).";

// Cuts embedded at its first '~' and puts args directly behind it (no
// separator). False, with buffer empty, when the result does not fit in
// kCommandTextSize bytes.
bool CommandLineCompose(char* buffer, const char* embedded, const char* args);
// The same with the running program's own embedded command line.
bool CommandLineBuild(char* buffer, const char* args);
// The same with the embedded command line of another executable.
bool CommandLineBuildFrom(const char* exe_path, char* buffer, const char* args);

// POSIX argument vector to one argument text: blanks between the
// arguments, arguments holding white space in double quotes.
bool CommandArgsJoin(int argc, char** argv, char* dest, uint32_t size);

enum StartResult { START_PLAY, START_HELP, START_ERROR };
// Cancels and reads the switches; START_HELP when the text names nothing or
// still holds a '/', START_ERROR with a message when a switch was refused.
// On START_PLAY the text holds the trimmed list of names.
StartResult PlayerReadCommand(char* text, PlayerOptions* options, char* error, uint32_t error_size);

// Offset of the POSIX reserved area (behind the marker) in an executable
// image, or -1 when there is not exactly one.
ptrdiff_t EmbeddedAreaFind(const uint8_t* image, size_t size);
