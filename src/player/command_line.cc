#include "player/command_line.h"

#include <cstdio>
#include <cstring>

#include "player/front/system_os.h"
#include "player/names.h"
#include "player/parse_switches.h"
#include "player/switch_readers.h"

bool CommandLineCompose(char* buffer, const char* embedded, const char* args) {
  size_t keep = std::strcspn(embedded, "~");
  size_t add = std::strlen(args);
  buffer[0] = 0;
  if (keep + add >= kCommandTextSize) return false;
  std::memcpy(buffer, embedded, keep);
  std::memcpy(buffer + keep, args, add + 1);
  return true;
}

bool CommandLineBuild(char* buffer, const char* args) {
  char embedded[kEmbeddedLoadLimit];
  EmbeddedCommandLoad(nullptr, embedded, sizeof(embedded));
  return CommandLineCompose(buffer, embedded, args);
}

bool CommandLineBuildFrom(const char* exe_path, char* buffer, const char* args) {
  char embedded[kEmbeddedLoadLimit];
  EmbeddedCommandLoad(exe_path, embedded, sizeof(embedded));
  return CommandLineCompose(buffer, embedded, args);
}

bool CommandArgsJoin(int argc, char** argv, char* dest, uint32_t size) {
  size_t used = 0;
  dest[0] = 0;
  for (int i = 1; i < argc; ++i) {
    bool quote = false;
    for (const char* p = argv[i]; *p; ++p)
      if (static_cast<unsigned char>(*p) <= 32) quote = true;
    int n = std::snprintf(dest + used, size - used, "%s%s%s%s", i > 1 ? " " : "",
                          quote ? "\"" : "", argv[i], quote ? "\"" : "");
    if (n < 0 || used + static_cast<size_t>(n) >= size) {
      dest[0] = 0;
      return false;
    }
    used += static_cast<size_t>(n);
  }
  return true;
}

StartResult PlayerReadCommand(char* text, PlayerOptions* options, char* error, uint32_t error_size) {
  CancelSwitches(text);
  if (!ParseSwitches(text, options, error, error_size)) return START_ERROR;
  TrimText(text);
  if (!text[0] || std::strchr(text, '/')) return START_HELP;
  return START_PLAY;
}

ptrdiff_t EmbeddedAreaFind(const uint8_t* image, size_t size) {
  const size_t span = kEmbeddedMarkerLength + kEmbeddedCapacity + 1;
  ptrdiff_t found = -1;
  for (size_t i = 0; i + span <= size; ++i) {
    if (image[i] != VORN_EMBEDDED_MARKER[0] ||
        std::memcmp(image + i, VORN_EMBEDDED_MARKER, kEmbeddedMarkerLength))
      continue;
    // The reserved area is kEmbeddedCapacity characters and a NUL; a bare
    // copy of the marker text (followed by its own NUL) does not qualify.
    const uint8_t* area = image + i + kEmbeddedMarkerLength;
    if (area[kEmbeddedCapacity] != 0 || std::memchr(area, 0, kEmbeddedCapacity)) continue;
    if (found >= 0) return -1;  // two places: we cannot tell which one is read
    found = static_cast<ptrdiff_t>(i + kEmbeddedMarkerLength);
  }
  return found;
}
