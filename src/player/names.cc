#include "player/names.h"

#include <cstdio>
#include <cstdint>
#include <cstring>

#include "player/player_system.h"

namespace {

bool IsSpace(char c) { return c != 0 && static_cast<unsigned char>(c) <= 32; }

char* SkipSpace(char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

void CopyRange(char* dest, const char* begin, const char* end) {
  size_t n = static_cast<size_t>(end - begin);
  if (n >= kCommandTextSize) n = kCommandTextSize - 1;
  std::memcpy(dest, begin, n);
  dest[n] = 0;
}

// A decimal byte offset: one or more digits and nothing else.
bool ParseOffset(const char* text, uint64_t* offset) {
  if (!*text) return false;
  uint64_t v = 0;
  for (const char* p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    if (v > (UINT64_MAX >> 5)) return false;  // far past any file size
    v = v * 10 + static_cast<uint64_t>(*p - '0');
  }
  *offset = v;
  return true;
}

}  // namespace

void TrimText(char* text) {
  char* begin = SkipSpace(text);
  size_t len = std::strlen(begin);
  while (len && IsSpace(begin[len - 1])) --len;
  std::memmove(text, begin, len);
  text[len] = 0;
}

bool TakeNextName(char* list, char* name) {
  char* p = SkipSpace(list);
  name[0] = 0;
  if (!*p) {
    list[0] = 0;
    return false;
  }
  char* rest;
  if (*p == '"') {
    char* close = std::strchr(p + 1, '"');
    if (close) {
      CopyRange(name, p + 1, close);
      rest = close + 1;
    } else {  // no closing quote: the whole rest, quote included
      rest = p + std::strlen(p);
      CopyRange(name, p, rest);
    }
  } else {
    char* end = p;
    while (*end && !IsSpace(*end)) ++end;
    CopyRange(name, p, end);
    rest = end;
  }
  // A single comma after the name (and its white space) separates it from
  // the next; after a quoted name too, or the comma would become a name.
  rest = SkipSpace(rest);
  if (*rest == ',') ++rest;
  TrimText(name);
  std::memmove(list, rest, std::strlen(rest) + 1);
  TrimText(list);
  return true;
}

bool HasExtension(const char* name) {
  for (size_t i = std::strlen(name); i-- > 0;) {
    if (name[i] == '.') return true;
    if (name[i] == ':' || name[i] == '\\') return false;
  }
  return false;
}

uint32_t ExactListBytes(const char* list) {
  uint32_t at = 0;
  while (at < kCommandTextSize - 1 && list[at])
    at += static_cast<uint32_t>(strnlen(list + at, kCommandTextSize - 1 - at)) + 1;
  return at + 1 < kCommandTextSize ? at + 1 : kCommandTextSize;
}

bool ExactListAppend(char* list, const char* name) {
  const uint32_t used = ExactListBytes(list);
  const size_t add = std::strlen(name) + 1;
  if (add == 1 || used + add > kCommandTextSize) return false;
  std::memcpy(list + used - 1, name, add);
  list[used - 1 + add] = 0;
  return true;
}

bool ExactListPrepend(char* list, const char* name) {
  const uint32_t used = ExactListBytes(list);
  const size_t add = std::strlen(name) + 1;
  if (add == 1 || used + add > kCommandTextSize) return false;
  std::memmove(list + add, list, used);
  std::memcpy(list, name, add);
  return true;
}

bool ExactListTake(char* list, char* name) {
  name[0] = 0;
  if (!list[0]) return false;
  const size_t len = std::strlen(list);
  std::memcpy(name, list, len + 1);
  const uint32_t used = ExactListBytes(list);
  std::memmove(list, list + len + 1, used - (len + 1));
  return true;
}

namespace {

bool TakeAny(NameList* list, char* name) {
  return list->exact ? ExactListTake(list->text, name) : TakeNextName(list->text, name);
}

// With several names the loop count moves to the whole list.
bool StartPasses(NameList* list, PlayerOptions* options, char* name) {
  std::memcpy(list->saved, list->text, sizeof(list->saved));
  if (!TakeAny(list, name)) return false;
  if (list->text[0]) {
    options->list_plays_left = options->plays_left;
    options->plays_left = 1;
  }
  return true;
}

}  // namespace

bool NameListStartExact(NameList* list, PlayerOptions* options, const char* list_text, char* name) {
  list->exact = true;
  std::memcpy(list->text, list_text, ExactListBytes(list_text));
  return StartPasses(list, options, name);
}

bool NameListStart(NameList* list, PlayerOptions* options, const char* names, char* name) {
  list->exact = false;
  std::snprintf(list->text, sizeof(list->text), "%s", names);
  return StartPasses(list, options, name);
}

bool NameListAdvance(NameList* list, PlayerOptions* options, char* name) {
  if (!list->text[0]) {
    // 0 meant endless: it goes negative and never reaches 0 again. The most
    // negative count stays put rather than wrapping round to positive.
    if (options->list_plays_left != INT32_MIN) options->list_plays_left -= 1;
    if (options->list_plays_left == 0) return false;
    std::memcpy(list->text, list->saved, sizeof(list->text));
  }
  options->plays_left = 1;
  return TakeAny(list, name);
}

bool MovieSourceFromPosixName(const char* name, MovieSource* source, char* error,
                              uint32_t error_size) {
  *source = MovieSource{};
  const auto exists = PlayerSystemHooks()->file_exists;
  if (name[0] != ':' && exists(name)) {
    source->form = NAME_FILE;
    std::snprintf(source->path, sizeof(source->path), "%s", name);
    return true;
  }
  if (const char* bar = std::strrchr(name, '|')) {
    char path[kCommandTextSize];
    CopyRange(path, name, bar);
    if (exists(path)) {
      source->form = NAME_FILE_OFFSET;
      std::snprintf(source->path, sizeof(source->path), "%s", path);
      if (ParseOffset(bar + 1, &source->offset)) return true;
      std::snprintf(error, error_size, "The byte offset in the name \"%s\" is not a number.", name);
      return false;
    }
  }
  if (name[0] == ':') return MovieSourceFromName(name, source, error, error_size);
  // Only the last component decides whether an extension is there.
  const char* slash = std::strrchr(name, '/');
  const bool extension = std::strchr(slash ? slash + 1 : name, '.') != nullptr;
  source->form = NAME_FILE;
  std::snprintf(source->path, sizeof(source->path), "%s%s", name, extension ? "" : ".vxn");
  return true;
}

bool MovieSourceFromName(const char* name, MovieSource* source, char* error, uint32_t error_size) {
  *source = MovieSource{};
  if (name[0] == ':') {
    source->form = NAME_OWN_EXE;
    if (ParseOffset(name + 1, &source->offset)) return true;
  } else if (const char* bar = std::strchr(name, '|')) {
    source->form = NAME_FILE_OFFSET;
    CopyRange(source->path, name, bar);
    if (ParseOffset(bar + 1, &source->offset)) return true;
  } else {
    source->form = NAME_FILE;
    std::snprintf(source->path, sizeof(source->path), "%s%s", name,
                  HasExtension(name) ? "" : ".vxn");
    return true;
  }
  std::snprintf(error, error_size, "The byte offset in the name \"%s\" is not a number.", name);
  return false;
}
