#include "player/command_line.h"

#include <cstdio>
#include <cstring>

#include "player/names.h"

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
