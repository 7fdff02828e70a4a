// The help box without a window system of its own: the ordinary message box.
#include "player/front/help_box.h"

void HelpBoxShow(const char* text, const char* caption) { MessageBoxShow(text, caption, MESSAGE_INFO); }
