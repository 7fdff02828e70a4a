// Splitting the name list, the extension rule, the name forms and the list's passes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/names.h"

namespace {

std::vector<std::string> AllNames(const char* list_text) {
  char list[kCommandTextSize], name[kCommandTextSize];
  std::snprintf(list, sizeof(list), "%s", list_text);
  std::vector<std::string> names;
  while (TakeNextName(list, name)) names.push_back(name);
  return names;
}

using Names = std::vector<std::string>;

TEST(TakeNextName, WhiteSpaceQuotesAndCommas) {
  EXPECT_EQ(AllNames("  a   b\tc  "), (Names{"a", "b", "c"}));
  EXPECT_EQ(AllNames("\"my movie.vxn\" next"), (Names{"my movie.vxn", "next"}));
  EXPECT_EQ(AllNames("a , b ,c"), (Names{"a", "b", "c"}));
  EXPECT_EQ(AllNames("a,b"), (Names{"a,b"}));      // a comma inside a name is the name's
  EXPECT_EQ(AllNames("a, b"), (Names{"a,", "b"}));  // the name runs to the white space
  EXPECT_EQ(AllNames("\"a b\", \"c d\""), (Names{"a b", "c d"}));
  EXPECT_EQ(AllNames("a , , b"), (Names{"a", ",", "b"}));  // only one comma is a separator
  EXPECT_EQ(AllNames("x \"unclosed name"), (Names{"x", "\"unclosed name"}));
  EXPECT_EQ(AllNames("\" padded \""), (Names{"padded"}));
  EXPECT_EQ(AllNames("   "), Names{});
  EXPECT_EQ(AllNames(""), Names{});
}

TEST(TakeNextName, RestMovesToTheFront) {
  char list[kCommandTextSize] = "  first   second  third ";
  char name[kCommandTextSize];
  ASSERT_TRUE(TakeNextName(list, name));
  EXPECT_STREQ(name, "first");
  EXPECT_STREQ(list, "second  third");
}

TEST(TrimText, BothEndsOnly) {
  char t[] = " \t a b \r\n";
  TrimText(t);
  EXPECT_STREQ(t, "a b");
  char high[] = "\xE9t\xE9";  // bytes 128-255 are name characters
  TrimText(high);
  EXPECT_STREQ(high, "\xE9t\xE9");
}

TEST(HasExtension, LastComponentDecides) {
  EXPECT_TRUE(HasExtension("movie.vxn"));
  EXPECT_TRUE(HasExtension("c:\\films\\movie.dat"));
  EXPECT_FALSE(HasExtension("movie"));
  EXPECT_FALSE(HasExtension("old.dir\\movie"));
  EXPECT_FALSE(HasExtension("c:movie"));
  EXPECT_FALSE(HasExtension(""));
}

MovieSource Source(const char* name) {
  MovieSource s;
  char error[256];
  EXPECT_TRUE(MovieSourceFromName(name, &s, error, sizeof(error))) << name;
  return s;
}

TEST(MovieSourceFromName, TheThreeForms) {
  MovieSource s = Source("movie");
  EXPECT_EQ(s.form, NAME_FILE);
  EXPECT_STREQ(s.path, "movie.vxn");
  EXPECT_STREQ(Source("old.dir\\movie").path, "old.dir\\movie.vxn");
  EXPECT_STREQ(Source("c:movie").path, "c:movie.vxn");
  EXPECT_STREQ(Source("film.dat").path, "film.dat");

  s = Source("film.vxn|1024");
  EXPECT_EQ(s.form, NAME_FILE_OFFSET);
  EXPECT_STREQ(s.path, "film.vxn");
  EXPECT_EQ(s.offset, 1024u);

  s = Source(":141824");
  EXPECT_EQ(s.form, NAME_OWN_EXE);
  EXPECT_EQ(s.offset, 141824u);
  EXPECT_STREQ(s.path, "");
}

TEST(MovieSourceFromName, OffsetsMustBeNumbers) {
  MovieSource s;
  char error[256];
  for (const char* bad : {":", ":12x", "film|", "film|-4", "film|99999999999999999999999"}) {
    EXPECT_FALSE(MovieSourceFromName(bad, &s, error, sizeof(error))) << bad;
    EXPECT_NE(std::string(error).find("not a number"), std::string::npos);
  }
}

std::vector<std::string> PlayOrder(const char* names, int32_t plays_left, int max_opens = 20) {
  static NameList list;
  PlayerOptions o;
  PlayerOptionsInit(&o);
  o.plays_left = plays_left;
  char name[kCommandTextSize];
  std::vector<std::string> order;
  if (!NameListStart(&list, &o, names, name)) return order;
  do {
    // Each movie plays plays_left times in the main loop; several names play once each.
    for (int32_t i = 0; i < (o.plays_left > 0 ? o.plays_left : 1); ++i) order.push_back(name);
    if (static_cast<int>(order.size()) >= max_opens) break;
  } while (NameListAdvance(&list, &o, name));
  return order;
}

TEST(NameList, LoopCountMovesToTheWholeList) {
  EXPECT_EQ(PlayOrder("a b", 1), (Names{"a", "b"}));
  EXPECT_EQ(PlayOrder("a b", 2), (Names{"a", "b", "a", "b"}));
  EXPECT_EQ(PlayOrder("a", 2), (Names{"a", "a"}));
  EXPECT_EQ(PlayOrder("a b", 0, 6), (Names{"a", "b", "a", "b", "a", "b"}));  // endless
  EXPECT_EQ(PlayOrder("  ", 1), Names{});
  // A loop count at the bottom of the range stays endless instead of
  // overflowing into a positive count (found by fuzzing).
  EXPECT_EQ(PlayOrder("a b", INT32_MIN, 6), (Names{"a", "b", "a", "b", "a", "b"}));
}

}  // namespace
