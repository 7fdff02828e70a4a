// The POSIX player's reading of its arguments: each argument one item,
// existing files as names whatever they hold, '-' and '/' switches, long
// options, "--", and the clear refusals.
#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "player/fake_system.h"
#include "player/posix_args.h"

namespace {

using Strings = std::vector<std::string>;

Strings ExactNames(const char* list) {
  Strings names;
  for (const char* n = list; *n; n += std::strlen(n) + 1) names.push_back(n);
  return names;
}

class PosixArgsTest : public ::testing::Test {
 protected:
  PosixArgsResult Read(std::initializer_list<const char*> items) {
    argv = {"vornplay"};
    argv.insert(argv.end(), items);
    return PosixArgsRead(static_cast<int>(argv.size()), argv.data(), &args);
  }
  FakeSystem system;
  FakeSystemScope scope{&system};
  std::vector<const char*> argv;
  PosixArgs args{};
};

TEST_F(PosixArgsTest, ExistingFilesAreNamesWhateverTheyHold) {
  system.files = {"/home/me/film.vxn", "./film.vxn", "dir/film.vxn", "my film.vxn",
                  "caf\xC3\xA9/\xE5\xBD\xB1.vxn", "a|b.vxn", "-S"};
  ASSERT_EQ(Read({"/home/me/film.vxn", "./film.vxn", "dir/film.vxn", "my film.vxn",
                  "caf\xC3\xA9/\xE5\xBD\xB1.vxn", "a|b.vxn", "-S"}),
            POSIX_ARGS_PLAY);
  EXPECT_EQ(ExactNames(args.names),
            (Strings{"/home/me/film.vxn", "./film.vxn", "dir/film.vxn", "my film.vxn",
                     "caf\xC3\xA9/\xE5\xBD\xB1.vxn", "a|b.vxn", "-S"}));
  EXPECT_STREQ(args.switches, "") << "a file named like a switch is a name";
}

TEST_F(PosixArgsTest, OffsetFormsAndTheDefaultExtension) {
  system.files = {"/m/bundle.bin", "/m/short.vxn"};
  ASSERT_EQ(Read({"/m/bundle.bin|1024", ":141824", "/m/short"}), POSIX_ARGS_PLAY);
  EXPECT_EQ(ExactNames(args.names), (Strings{"/m/bundle.bin|1024", ":141824", "/m/short.vxn"}));
  EXPECT_EQ(Read({"/m/missing.bin|1024"}), POSIX_ARGS_MISSING);
  EXPECT_STREQ(args.bad, "/m/missing.bin|1024");
}

TEST_F(PosixArgsTest, DashAndSlashSwitchesReadAlike) {
  system.files = {"f.vxn"};
  ASSERT_EQ(Read({"-L2", "-F12.5", "f.vxn", "/q", "-W-2"}), POSIX_ARGS_PLAY);
  EXPECT_STREQ(args.switches, "/L2 /F12.5 /q /W-2");
  EXPECT_EQ(ExactNames(args.names), (Strings{"f.vxn"}));
}

struct LongCase {
  std::vector<const char*> items;
  const char* switches;
};

class LongOptions : public PosixArgsTest, public ::testing::WithParamInterface<LongCase> {};

TEST_P(LongOptions, StandForTheirSwitches) {
  system.files = {"f.vxn"};
  std::vector<const char*> items = GetParam().items;
  items.push_back("f.vxn");
  argv = {"vornplay"};
  argv.insert(argv.end(), items.begin(), items.end());
  ASSERT_EQ(PosixArgsRead(static_cast<int>(argv.size()), argv.data(), &args), POSIX_ARGS_PLAY)
      << args.error;
  EXPECT_STREQ(args.switches, GetParam().switches);
}

INSTANTIATE_TEST_SUITE_P(
    Each, LongOptions,
    ::testing::Values(LongCase{{"--loop"}, "/L"}, LongCase{{"--loop=3"}, "/L3"},
                      LongCase{{"--fps=12.5"}, "/F12.5"}, LongCase{{"--fps", "30000;1001"}, "/F30000;1001"},
                      LongCase{{"--fullscreen"}, "/W-1 /H-1"}, LongCase{{"--track=2"}, "/T2"},
                      LongCase{{"--track", "7"}, "/T7"}, LongCase{{"--stats"}, "/Q"},
                      LongCase{{"--summary", "--stats"}, "/S /Q"}));

TEST_F(PosixArgsTest, HelpAndVersionComeFirst) {
  EXPECT_EQ(Read({"--help", "missing.vxn"}), POSIX_ARGS_HELP);
  EXPECT_EQ(Read({"-h"}), POSIX_ARGS_HELP);
  EXPECT_EQ(Read({"--version"}), POSIX_ARGS_VERSION);
}

TEST_F(PosixArgsTest, AfterDoubleDashEverythingIsAName) {
  system.files = {"--help", "-L2"};
  ASSERT_EQ(Read({"-L3", "--", "--help", "-L2"}), POSIX_ARGS_PLAY);
  EXPECT_STREQ(args.switches, "/L3");
  EXPECT_EQ(ExactNames(args.names), (Strings{"--help", "-L2"}));
  EXPECT_EQ(Read({"--", "-L2x"}), POSIX_ARGS_MISSING) << "no switches after --";
}

TEST_F(PosixArgsTest, UnknownItemsAreRefusedByName) {
  EXPECT_EQ(Read({"x.vxn"}), POSIX_ARGS_MISSING);
  EXPECT_STREQ(args.bad, "x.vxn");
  EXPECT_EQ(Read({"/home/me/gone.vxn"}), POSIX_ARGS_MISSING) << "a path, not a switch";
  EXPECT_EQ(Read({"-V"}), POSIX_ARGS_MISSING);
  EXPECT_EQ(Read({""}), POSIX_ARGS_MISSING);
  EXPECT_EQ(Read({"--loud"}), POSIX_ARGS_ERROR);
  EXPECT_NE(std::string(args.error).find("--loud"), std::string::npos);
  EXPECT_EQ(Read({"--loop=x"}), POSIX_ARGS_ERROR);
  EXPECT_EQ(Read({"--fps"}), POSIX_ARGS_ERROR) << "a value is needed";
  EXPECT_EQ(Read({"--stats=1"}), POSIX_ARGS_ERROR);
  EXPECT_EQ(Read({"-D99"}), POSIX_ARGS_ERROR) << "a value outside the table, with the readers' text";
}

TEST_F(PosixArgsTest, CommandReadJoinsEmbeddedPartAndArguments) {
  system.files = {"a.vxn"};
  ASSERT_EQ(Read({"/-C", "-F12", "a.vxn"}), POSIX_ARGS_PLAY);
  PlayerOptions o;
  PlayerOptionsInit(&o);
  char names[kCommandTextSize];
  ASSERT_TRUE(PosixCommandRead(&args, ":141824 /l /c~~~~", &o, names)) << args.error;
  EXPECT_EQ(o.plays_left, 0) << "the embedded /l";
  EXPECT_EQ(o.rate_num, 12);
  EXPECT_EQ(o.hide_cursor, 0) << "/-C cancels the embedded /c";
  EXPECT_EQ(ExactNames(names), (Strings{":141824", "a.vxn"}));
}

TEST_F(PosixArgsTest, CommandReadRefusesASwitchGivenTwice) {
  system.files = {"a.vxn"};
  ASSERT_EQ(Read({"-L2", "-L3", "a.vxn"}), POSIX_ARGS_PLAY);
  PlayerOptions o;
  PlayerOptionsInit(&o);
  char names[kCommandTextSize];
  EXPECT_FALSE(PosixCommandRead(&args, "", &o, names));
  EXPECT_NE(std::string(args.error).find("/L3"), std::string::npos) << args.error;
}

TEST(ExactList, AppendPrependTakeAndCapacity) {
  char list[kCommandTextSize] = {0, 0};
  ASSERT_TRUE(ExactListAppend(list, "b c"));
  ASSERT_TRUE(ExactListAppend(list, "d"));
  ASSERT_TRUE(ExactListPrepend(list, "/a"));
  EXPECT_FALSE(ExactListAppend(list, "")) << "an empty name would end the list";
  EXPECT_EQ(ExactListBytes(list), 3u + 4u + 2u + 1u);
  char name[kCommandTextSize];
  Strings taken;
  while (ExactListTake(list, name)) taken.push_back(name);
  EXPECT_EQ(taken, (Strings{"/a", "b c", "d"}));
  const std::string long_name(kCommandTextSize - 2, 'x');
  EXPECT_TRUE(ExactListAppend(list, long_name.c_str()));
  EXPECT_FALSE(ExactListAppend(list, "y")) << "the list is full";
  EXPECT_FALSE(ExactListPrepend(list, "y"));
}

TEST(PosixNameSource, PathsOpenAsTheyStand) {
  FakeSystem system;
  FakeSystemScope scope(&system);
  system.files = {"old.dir/movie", "x|1.vxn", "/m/b.bin"};
  MovieSource s;
  char error[256];
  ASSERT_TRUE(MovieSourceFromPosixName("old.dir/movie", &s, error, sizeof error));
  EXPECT_EQ(s.form, NAME_FILE);
  EXPECT_STREQ(s.path, "old.dir/movie") << "an existing file keeps its name";
  ASSERT_TRUE(MovieSourceFromPosixName("old.dir/other", &s, error, sizeof error));
  EXPECT_STREQ(s.path, "old.dir/other.vxn") << "the folder's dot is no extension";
  ASSERT_TRUE(MovieSourceFromPosixName("x|1.vxn", &s, error, sizeof error));
  EXPECT_EQ(s.form, NAME_FILE) << "a '|' in an existing file's name is the name's";
  ASSERT_TRUE(MovieSourceFromPosixName("/m/b.bin|77", &s, error, sizeof error));
  EXPECT_EQ(s.form, NAME_FILE_OFFSET);
  EXPECT_STREQ(s.path, "/m/b.bin");
  EXPECT_EQ(s.offset, 77u);
  EXPECT_FALSE(MovieSourceFromPosixName("/m/b.bin|7x", &s, error, sizeof error));
}

}  // namespace
