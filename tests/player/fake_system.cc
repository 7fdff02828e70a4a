#include "player/fake_system.h"

#include <cstring>

namespace {

FakeSystem* g_fake = nullptr;

std::string Key(const char* section, const char* key) {
  return std::string(section) + "/" + key;
}

uint32_t CopyOut(const std::string& value, char* dest, uint32_t size) {
  if (size == 0) return 0;
  uint32_t n = static_cast<uint32_t>(value.size());
  if (n > size - 1) n = size - 1;  // as the system's profile read cuts
  std::memcpy(dest, value.data(), n);
  dest[n] = 0;
  return n;
}

}  // namespace

FakeSystemScope::FakeSystemScope(FakeSystem* fake) : saved_(*PlayerSystemHooks()) {
  g_fake = fake;
  PlayerSystem* s = PlayerSystemHooks();
  s->screen_size = [] { return g_fake->screen; };
  s->profile_get = [](const char* section, const char* key, const char* fallback, char* dest,
                      uint32_t size) {
    auto it = g_fake->profile.find(Key(section, key));
    return CopyOut(it == g_fake->profile.end() ? fallback : it->second, dest, size);
  };
  s->profile_write = [](const char* section, const char* key, const char* value) {
    g_fake->profile[Key(section, key)] = value;
    return true;
  };
  s->today = [] { return g_fake->today; };
  s->ask_yes_no = [](const char* text, const char* caption) {
    g_fake->questions.push_back(std::string(caption) + "|" + text);
    return g_fake->answer_yes;
  };
  s->open_url = [](const char* url) {
    g_fake->urls.push_back(url);
    return true;
  };
  s->file_exists = [](const char* name) { return g_fake->files.count(name) != 0; };
  s->module_path = [](char* dest, uint32_t size) { return CopyOut(g_fake->module_path, dest, size); };
  s->sleep_ms = [](uint32_t) {};
  s->close_window = [] { ++g_fake->windows_closed; };
}

FakeSystemScope::~FakeSystemScope() {
  *PlayerSystemHooks() = saved_;
  g_fake = nullptr;
}
