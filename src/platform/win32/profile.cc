// The user's profile on Windows: GetProfileStringA / WriteProfileStringA,
// which also delete a key (null value) or a section (null key).
#include <cstdint>
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/win.h"

uint32_t ProfileGetString(const char* section, const char* key, const char* fallback, char* dest,
                          uint32_t size) {
  if (!dest || size == 0) return 0;
  if (!section || !key) {
    // A null section or key would list names instead of reading a value.
    const char* text = fallback ? fallback : "";
    uint32_t length = static_cast<uint32_t>(strnlen(text, size - 1));
    std::memcpy(dest, text, length);
    dest[length] = 0;
    return length;
  }
  return GetProfileStringA(section, key, fallback ? fallback : "", dest, size);
}

bool ProfileWriteString(const char* section, const char* key, const char* value) {
  if (!section || !section[0] || std::strpbrk(section, "[]\r\n")) return false;
  if (key && (!key[0] || std::strpbrk(key, "=[;#\r\n"))) return false;
  if (value && std::strpbrk(value, "\r\n")) return false;
  return WriteProfileStringA(section, key, value) != 0;
}
