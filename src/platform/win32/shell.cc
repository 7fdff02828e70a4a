// Message boxes and web pages on Windows. VORN_ANSWER=yes|no, when set,
// answers without showing a box (printed to stderr instead), so unattended
// runs under Wine never block on a modal dialog.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/win.h"
#include <shellapi.h>

namespace {

UINT BoxStyle(MessageBoxKind kind) {
  switch (kind) {
    case MESSAGE_ERROR: return MB_OK | MB_ICONERROR;
    case MESSAGE_QUESTION: return MB_YESNO | MB_ICONQUESTION;
    default: return MB_OK | MB_ICONINFORMATION;
  }
}

}  // namespace

bool MessageBoxShow(const char* text, const char* caption, MessageBoxKind kind, void* owner_window) {
  const char* answer = std::getenv("VORN_ANSWER");
  if (answer && answer[0]) {
    bool yes = kind != MESSAGE_QUESTION || std::strcmp(answer, "yes") == 0;
    std::fprintf(stderr, "%s: %s\n", caption ? caption : "", text ? text : "");
    return yes;
  }
  int pressed = MessageBoxA(static_cast<HWND>(owner_window), text ? text : "",
                            caption ? caption : "", BoxStyle(kind));
  return pressed == IDOK || pressed == IDYES;
}

bool OpenUrl(const char* url) {
  if (!url || !url[0]) return false;
  // ShellExecuteA reports success as a value above 32.
  HINSTANCE result = ShellExecuteA(nullptr, "open", url, nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<intptr_t>(result) > 32;
}
