#include "support/test_folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

namespace {

std::string g_first_folder;  // left by the first test for the second to look at

TEST(TestFolder, IsTheTestsOwnAndTheProcesssOwn) {
  const std::string folder = TestFolder();
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_NE(folder.find("TestFolder_IsTheTestsOwnAndTheProcesssOwn_" + std::to_string(getpid())),
            std::string::npos)
      << folder;
  EXPECT_EQ(TestFolder(), folder);  // stable within the test
  std::FILE* f = std::fopen(TestPath("kept.bin").c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  g_first_folder = folder;
}

// Runs after the test above when both run in one process (gtest keeps the
// order of declaration); under CTest each runs alone and this part is moot.
TEST(TestFolder, IsGoneWhenItsTestEnds) {
  if (!g_first_folder.empty()) EXPECT_FALSE(std::filesystem::exists(g_first_folder));
  EXPECT_NE(TestFolder(), g_first_folder);
}

}  // namespace
