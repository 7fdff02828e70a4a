// Profile strings round trip (POSIX: an INI file in a scratch config
// directory; Windows: the user's profile, under Wine in the private prefix),
// and the unattended answers of message boxes and the URL opener.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "scratch.h"

namespace {

using vorn_test::ScopedEnv;
using vorn_test::ScratchDir;

constexpr const char* kSection = "Vorn Platform Test";

std::string Get(const char* section, const char* key, const char* fallback = "none") {
  char value[300];
  uint32_t length = ProfileGetString(section, key, fallback, value, sizeof value);
  EXPECT_EQ(length, std::strlen(value));
  return value;
}

// Points the POSIX profile at a scratch directory; on Windows it removes the
// test's section before and after, leaving the user's profile as it was.
class ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override { ProfileWriteString(kSection, nullptr, nullptr); }
  void TearDown() override { ProfileWriteString(kSection, nullptr, nullptr); }

  ScratchDir dir_;
#ifndef _WIN32
  ScopedEnv xdg_{"XDG_CONFIG_HOME", dir_.Path().c_str()};
#endif
};

TEST_F(ProfileTest, RoundTripsValuesAndFallsBack) {
  EXPECT_EQ(Get(kSection, "LastVersionCheckDate", "2003-02-01"), "2003-02-01");
  ASSERT_TRUE(ProfileWriteString(kSection, "LastVersionCheckDate", "2003-04-07"));
  ASSERT_TRUE(ProfileWriteString(kSection, "VornQuickPlay", "/L /Q"));
  EXPECT_EQ(Get(kSection, "LastVersionCheckDate"), "2003-04-07");
  EXPECT_EQ(Get(kSection, "VornQuickPlay"), "/L /Q");
  // Names ignore case; an overwrite replaces the value.
  EXPECT_EQ(Get("vorn platform test", "vornquickplay"), "/L /Q");
  ASSERT_TRUE(ProfileWriteString(kSection, "VornQuickPlay", "/P"));
  EXPECT_EQ(Get(kSection, "VornQuickPlay"), "/P");
  EXPECT_EQ(Get(kSection, "Missing"), "none");
  EXPECT_EQ(Get("Vorn Platform Test Other", "VornQuickPlay"), "none");
}

TEST_F(ProfileTest, CutsLongValuesToTheBuffer) {
  ASSERT_TRUE(ProfileWriteString(kSection, "Date", "2003-04-07"));
  char small[5] = {'x', 'x', 'x', 'x', 'x'};
  EXPECT_EQ(ProfileGetString(kSection, "Date", "", small, sizeof small), 4u);
  EXPECT_STREQ(small, "2003");
  EXPECT_EQ(ProfileGetString(kSection, "Date", "", small, 0), 0u);
  char fallback[3];
  EXPECT_EQ(ProfileGetString(kSection, "Missing", "abcdef", fallback, sizeof fallback), 2u);
  EXPECT_STREQ(fallback, "ab");
}

TEST_F(ProfileTest, DeletesKeysAndSections) {
  ASSERT_TRUE(ProfileWriteString(kSection, "One", "1"));
  ASSERT_TRUE(ProfileWriteString(kSection, "Two", "2"));
  ASSERT_TRUE(ProfileWriteString(kSection, "One", nullptr));
  EXPECT_EQ(Get(kSection, "One"), "none");
  EXPECT_EQ(Get(kSection, "Two"), "2");
  ASSERT_TRUE(ProfileWriteString(kSection, nullptr, nullptr));
  EXPECT_EQ(Get(kSection, "Two"), "none");
}

TEST_F(ProfileTest, RefusesTextThatWouldBreakTheProfile) {
  EXPECT_FALSE(ProfileWriteString(kSection, "Key", "two\nlines"));
  EXPECT_FALSE(ProfileWriteString(kSection, "a=b", "value"));
  EXPECT_FALSE(ProfileWriteString("[Odd]", "Key", "value"));
  EXPECT_FALSE(ProfileWriteString(kSection, "", "value"));
  EXPECT_EQ(Get(kSection, "Key"), "none");
}

#ifndef _WIN32
std::string ReadText(const std::string& name) {
  std::ifstream in(name);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(ProfileTest, KeepsOtherSectionsAndLinesOfTheIniFile) {
  std::string ini = dir_.Path() + "/vorn/profile.ini";
  ASSERT_TRUE(ProfileWriteString("Tessel Video Tools", "VornQuickPlay", "/L"));
  {
    std::ofstream add(ini, std::ios::app);
    add << "; kept comment\n[Other]\n  spaced key  =  spaced value  \n";
  }
  ASSERT_TRUE(ProfileWriteString("Tessel Video Tools", "LastVersionCheckDate", "2003-04-07"));
  EXPECT_EQ(Get("Other", "spaced key"), "spaced value");
  EXPECT_EQ(Get("Tessel Video Tools", "VornQuickPlay"), "/L");
  std::string text = ReadText(ini);
  EXPECT_NE(text.find("; kept comment"), std::string::npos) << text;
  // The new key went into its own section, before the next one.
  EXPECT_LT(text.find("LastVersionCheckDate=2003-04-07"), text.find("[Other]")) << text;
}

TEST_F(ProfileTest, NeverReplacesAFileItCannotReadWhole) {
  std::string ini = dir_.Path() + "/vorn/profile.ini";
  ASSERT_TRUE(ProfileWriteString(kSection, "Key", "small"));
  {
    std::ofstream grow(ini, std::ios::app);
    grow << "; " << std::string(2 << 20, 'x') << "\n";
  }
  auto size = std::filesystem::file_size(ini);
  EXPECT_FALSE(ProfileWriteString(kSection, "Key", "other"));
  EXPECT_EQ(std::filesystem::file_size(ini), size);
  EXPECT_EQ(Get(kSection, "Key"), "none");
}

TEST(PlatformProfile, FallsBackToTheHomeConfigDirectory) {
  ScratchDir home;
  ScopedEnv no_xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home_env("HOME", home.Path().c_str());
  ASSERT_TRUE(ProfileWriteString(kSection, "Where", "home"));
  EXPECT_TRUE(FileExists((home.Path() + "/.config/vorn/profile.ini").c_str()));
  EXPECT_EQ(Get(kSection, "Where"), "home");
}

TEST(PlatformShell, OpenUrlHandsTheAddressToXdgOpen) {
  ScratchDir bin;
  std::string seen = bin.File("seen.txt");
  {
    std::ofstream fake(bin.File("xdg-open"));
    fake << "#!/bin/sh\nprintf '%s' \"$1\" > \"" << seen << ".part\" && mv \"" << seen << ".part\" \""
         << seen << "\"\n";
  }
  std::filesystem::permissions(bin.File("xdg-open"), std::filesystem::perms::owner_all);
  ScopedEnv path("PATH", (bin.Path() + ":/usr/bin:/bin").c_str());
  const char* url = "https://example.invalid/update?a=1&b=$(x)";
  ASSERT_TRUE(OpenUrl(url));
  // The opener runs in the background; wait for its answer.
  while (!FileExists(seen.c_str())) SleepMs(5);
  EXPECT_EQ(ReadText(seen), url);
  EXPECT_FALSE(OpenUrl("--help")) << "an option is not an address";
  EXPECT_FALSE(OpenUrl(""));
}

TEST(PlatformShell, OpenUrlFailsWithoutAnOpener) {
  ScratchDir empty;
  ScopedEnv path("PATH", empty.Path().c_str());
  EXPECT_FALSE(OpenUrl("https://example.invalid/"));
}
#endif

TEST(PlatformShell, UnattendedMessageBoxesAnswerFromTheEnvironment) {
  {
    ScopedEnv answer("VORN_ANSWER", "yes");
    EXPECT_TRUE(MessageBoxShow("Would you like to check?", "New version check...", MESSAGE_QUESTION));
    EXPECT_TRUE(MessageBoxShow("Error opening file.", "Vorn Error", MESSAGE_ERROR));
  }
  {
    ScopedEnv answer("VORN_ANSWER", "no");
    EXPECT_FALSE(MessageBoxShow("Would you like to check?", "New version check...", MESSAGE_QUESTION));
    EXPECT_TRUE(MessageBoxShow("Done.", "Vorn Playback Summary", MESSAGE_INFO));
  }
#ifndef _WIN32
  ScopedEnv unset("VORN_ANSWER", nullptr);
  EXPECT_FALSE(MessageBoxShow("Would you like to check?", "New version check...", MESSAGE_QUESTION));
#endif
}

}  // namespace
