// The player's POSIX side: the embedded command line kept in a marked array
// that the bundle tool patches in place, and a nominal screen size.
#include "player/front/system_os.h"

#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "player/command_line.h"

#define VORN_TILDES_8 "~~~~~~~~"
#define VORN_TILDES_64 \
  VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8

// The marker, then kEmbeddedCapacity (511) reserved characters and a NUL.
// Not const and with external linkage, so the compiler keeps it in writable
// data and never folds its contents into the code that reads it.
extern char vorn_embedded_command[];
char vorn_embedded_command[] =
    VORN_EMBEDDED_MARKER VORN_TILDES_64 VORN_TILDES_64 VORN_TILDES_64 VORN_TILDES_64 VORN_TILDES_64
        VORN_TILDES_64 VORN_TILDES_64 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8
            VORN_TILDES_8 VORN_TILDES_8 VORN_TILDES_8 "~~~~~~~";
static_assert(sizeof(vorn_embedded_command) == kEmbeddedMarkerLength + kEmbeddedCapacity + 1);

namespace {

// Copies at most kEmbeddedTextMax characters, the load limit on Windows too.
void CopyLimited(char* dest, uint32_t size, const volatile char* src) {
  uint32_t limit = size < kEmbeddedLoadLimit ? size : kEmbeddedLoadLimit;
  uint32_t i = 0;
  for (; i + 1 < limit && src[i]; ++i) dest[i] = src[i];
  dest[i] = 0;
}

// Searches the file for the reserved area, in chunks that overlap by one
// area so that no match is missed at a chunk border.
bool LoadFromFile(const char* path, char* dest, uint32_t size) {
  PlatformFile file = FileOpenRead(path, false);
  if (file == kInvalidFile) return false;
  const size_t span = kEmbeddedMarkerLength + kEmbeddedCapacity + 1;
  const size_t chunk = 1 << 20;
  std::vector<uint8_t> buffer(chunk + span);
  size_t kept = 0;
  bool found = false;
  for (;;) {
    uint32_t got = FileRead(file, buffer.data() + kept, static_cast<uint32_t>(chunk));
    if (got == 0) break;
    size_t have = kept + got;
    ptrdiff_t at = EmbeddedAreaFind(buffer.data(), have);
    if (at >= 0) {
      buffer[at + kEmbeddedCapacity] = 0;
      CopyLimited(dest, size, reinterpret_cast<const char*>(buffer.data() + at));
      found = true;
      break;
    }
    kept = have < span ? have : span;
    std::memmove(buffer.data(), buffer.data() + have - kept, kept);
  }
  FileClose(file);
  return found;
}

}  // namespace

ScreenSize PlayerScreenSize() {
  // No window system is asked here; positions and full-screen sizes refer
  // to a nominal screen until a display back end reports the real one.
  return {1024, 768};
}

bool EmbeddedCommandLoad(const char* exe_path, char* dest, uint32_t size) {
  if (size == 0) return false;
  dest[0] = 0;
  if (exe_path) return LoadFromFile(exe_path, dest, size);
  const volatile char* area = vorn_embedded_command + kEmbeddedMarkerLength;
  CopyLimited(dest, size, area);
  return true;
}
