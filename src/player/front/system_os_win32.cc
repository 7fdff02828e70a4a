// The player's Windows side: string resource 1 as the embedded command line,
// and the primary screen's size.
#include "player/front/system_os.h"

#include <windows.h>

#include "player/command_line.h"

ScreenSize PlayerScreenSize() {
  return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

bool EmbeddedCommandLoad(const char* exe_path, char* dest, uint32_t size) {
  if (size == 0) return false;
  dest[0] = 0;
  HMODULE module = exe_path ? LoadLibraryExA(exe_path, nullptr, LOAD_LIBRARY_AS_DATAFILE)
                            : GetModuleHandleA(nullptr);
  if (!module) return false;
  // The load limit counts the terminating NUL.
  int limit = static_cast<int>(size < kEmbeddedLoadLimit ? size : kEmbeddedLoadLimit);
  int got = LoadStringA(module, kStringResourceId, dest, limit);
  if (exe_path) FreeLibrary(module);
  if (got <= 0) {
    dest[0] = 0;
    return false;
  }
  return true;
}
