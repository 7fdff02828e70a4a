// The weekly update question: build age, the stored date, the companion tool.
#include <gtest/gtest.h>

#include <string>

#include "player/fake_system.h"
#include "player/update_check.h"

namespace {

const char* kDateKey = "Tessel Video Tools/LastVersionCheckDate";

class UpdateCheckTest : public ::testing::Test {
 protected:
  FakeSystem fake;
  FakeSystemScope scope{&fake};
  int AskOn(int y, int m, int d) {
    fake.today = {y, m, d};
    return UpdateCheck();
  }
};

TEST_F(UpdateCheckTest, RecentBuildIsNeverQuestioned) {
  EXPECT_EQ(AskOn(2003, 4, 6), 0);
  EXPECT_TRUE(fake.questions.empty());
  EXPECT_EQ(fake.profile.count(kDateKey), 0u);
  EXPECT_EQ(AskOn(2002, 12, 31), 0);  // two months back crosses the year
  EXPECT_TRUE(fake.questions.empty());
}

TEST_F(UpdateCheckTest, FirstQuestionStoresTodayBeforeTheAnswer) {
  EXPECT_EQ(AskOn(2003, 4, 7), 0);
  ASSERT_EQ(fake.questions.size(), 1u);
  EXPECT_EQ(fake.questions[0], std::string(kUpdateCaption) + "|" + kUpdateQuestion);
  EXPECT_EQ(fake.profile[kDateKey], "2003-04-07");
  EXPECT_TRUE(fake.urls.empty());
}

TEST_F(UpdateCheckTest, NextQuestionAfterAWeek) {
  fake.profile[kDateKey] = "2003-05-01";
  EXPECT_EQ(AskOn(2003, 5, 8), 0);
  EXPECT_TRUE(fake.questions.empty());
  EXPECT_EQ(AskOn(2003, 5, 9), 0);
  EXPECT_EQ(fake.questions.size(), 1u);
  EXPECT_EQ(fake.profile[kDateKey], "2003-05-09");
}

TEST_F(UpdateCheckTest, WeekBackAcrossMonthAndYear) {
  // One week back from 3 January is "2003-12-26" of the year before.
  fake.profile[kDateKey] = "2003-12-25";
  EXPECT_EQ(AskOn(2004, 1, 3), 0);
  EXPECT_EQ(fake.questions.size(), 1u);
  fake.profile[kDateKey] = "2004-02-26";  // 3 March less a week is "2004-02-26"
  EXPECT_EQ(AskOn(2004, 3, 3), 0);
  EXPECT_EQ(fake.questions.size(), 1u);
}

TEST_F(UpdateCheckTest, YesOpensThePageAndEndsThePlayer) {
  fake.answer_yes = true;
  EXPECT_EQ(AskOn(2004, 6, 1), 1);
  ASSERT_EQ(fake.urls.size(), 1u);
  EXPECT_EQ(fake.urls[0], std::string(kUpdateSite) + "/scripts/vornver.asp?ver=1.5t");
  EXPECT_EQ(fake.windows_closed, 1);
  EXPECT_EQ(fake.profile[kDateKey], "2004-06-01");
}

TEST_F(UpdateCheckTest, CompanionToolBesideThePlayer) {
  EXPECT_FALSE(CompanionToolPresent());
  fake.files.insert("C:\\Vorn\\dodozeruvur.exe");
  EXPECT_TRUE(CompanionToolPresent());
  fake.module_path = "/opt/vorn/vornplay";
  fake.files.insert("/opt/vorn/dodozeruvur.exe");
  EXPECT_TRUE(CompanionToolPresent());
  fake.module_path = "D:vornplay.exe";
  fake.files.insert("D:dodozeruvur.exe");
  EXPECT_TRUE(CompanionToolPresent());
  fake.module_path = std::string(300, 'x');  // a cut path names no folder
  EXPECT_FALSE(CompanionToolPresent());
}

}  // namespace
