// A scratch directory per test, removed afterwards, and an environment
// setter that works on both builds.
#pragma once
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_folder.h"

namespace vorn_test {

class ScratchDir {
 public:
  ScratchDir() {
    static std::atomic<unsigned> serial{0};
    path_ = std::filesystem::path(TestFolder()) / ("scratch_" + std::to_string(serial++));
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  std::string Path() const { return path_.string(); }
  std::string File(const char* name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

// value null: unset.
inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  std::string entry = std::string(name) + "=" + (value ? value : "");
  _putenv(entry.c_str());
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

// Restores a variable's old value when the test ends.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (old) old_ = old;
    SetEnv(name, value);
  }
  ~ScopedEnv() { SetEnv(name_.c_str(), had_ ? old_.c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_, old_;
  bool had_ = false;
};

}  // namespace vorn_test
