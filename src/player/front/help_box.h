// The help box: the help text in a box wide enough for its longest line, so
// that no line wraps, with an OK button (help_box_win32.cc). Elsewhere
// (help_box_posix.cc), and in unattended runs, the text goes to the
// ordinary message box.
#pragma once
#include <cstdint>

#include "platform/platform.h"

// Shows the box and returns when it is closed.
void HelpBoxShow(const char* text, const char* caption);

#ifdef _WIN32
// The box, made but not shown (null on failure); close it with DestroyWindow.
void* HelpBoxCreate(const char* text, const char* caption);
// The text the box shows, as it stands in its text control.
const char* HelpBoxText(void* box, char* dest, uint32_t size);
#endif
