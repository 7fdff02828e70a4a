// The player's side of the operating system, one file per system
// (system_os_win32.cc, system_os_posix.cc): the screen's size and the
// executable's embedded command line.
#pragma once
#include <cstdint>

// Width and height in pixels.
struct ScreenSize {
  int32_t width, height;
};

// Size of the primary screen in pixels.
ScreenSize PlayerScreenSize();
// Copies the embedded command line of the executable at exe_path (null: the
// running program) into dest: at most 510 characters and the NUL, the load
// limit of the string resource. Returns false when the executable carries
// no embedded command line (dest is then empty).
bool EmbeddedCommandLoad(const char* exe_path, char* dest, uint32_t size);
