#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace {

long ProcessId() {
#ifdef _WIN32
  return static_cast<long>(_getpid());
#else
  return static_cast<long>(getpid());
#endif
}

std::string g_folder;      // the current folder, empty until asked for
std::string g_folder_for;  // the test it belongs to

void RemoveFolder() {
  if (g_folder.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(g_folder, ignored);
  g_folder.clear();
  g_folder_for.clear();
}

// Removes the test's folder when the test ends, pass or fail.
class FolderCleaner : public testing::EmptyTestEventListener {
  void OnTestEnd(const testing::TestInfo&) override { RemoveFolder(); }
  void OnTestProgramEnd(const testing::UnitTest&) override { RemoveFolder(); }
};

std::string CurrentTestName() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  std::string name = test ? std::string(test->test_suite_name()) + "_" + test->name() : "process";
  // Parameterised names carry slashes; keep the name one path component.
  for (char& c : name)
    if (c == '/' || c == '\\' || c == ':') c = '_';
  return name;
}

}  // namespace

const std::string& TestFolder() {
  static bool cleaner_added = false;
  const std::string test = CurrentTestName();
  if (!g_folder.empty() && g_folder_for == test) return g_folder;
  RemoveFolder();  // a folder left by a test whose end was not seen
  if (!cleaner_added) {
    testing::UnitTest::GetInstance()->listeners().Append(new FolderCleaner);
    cleaner_added = true;
  }
  const std::filesystem::path folder = std::filesystem::path(testing::TempDir()) /
                                       ("vorn_" + test + "_" + std::to_string(ProcessId()));
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);  // a stale one from a reused process id
  std::filesystem::create_directories(folder, ignored);
  g_folder = folder.string() + static_cast<char>(std::filesystem::path::preferred_separator);
  g_folder_for = test;
  return g_folder;
}

std::string TestPath(const std::string& name) { return TestFolder() + name; }
