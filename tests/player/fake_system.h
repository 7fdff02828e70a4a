// A stand-in for the player's system hooks: a fixed date, an in-memory
// profile, a scripted answer to the question box, a list of existing files.
#pragma once
#include <map>
#include <set>
#include <string>
#include <vector>

#include "player/player_system.h"

struct FakeSystem {
  LocalDate today{2003, 4, 7};
  std::map<std::string, std::string> profile;  // "section/key" -> value
  bool answer_yes = false;
  std::vector<std::string> questions;
  std::vector<std::string> urls;
  std::set<std::string> files;
  std::string module_path = "C:\\Vorn\\vornplay.exe";
  ScreenSize screen{800, 600};
  int windows_closed = 0;
};

// Installs the fake for the lifetime of the object and restores the real
// hooks afterwards.
class FakeSystemScope {
 public:
  explicit FakeSystemScope(FakeSystem* fake);
  ~FakeSystemScope();

 private:
  PlayerSystem saved_;
};
