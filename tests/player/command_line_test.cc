// Building and reading the command text, and the help text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "player/command_line.h"
#include "player/fake_system.h"
#include "player/help_text.h"
#include "player/names.h"

namespace {

std::string Compose(const char* embedded, const char* args) {
  char buffer[kCommandTextSize];
  if (!CommandLineCompose(buffer, embedded, args)) return "<refused>";
  return buffer;
}

TEST(CommandLine, EmbeddedTextIsCutAtTheFirstTilde) {
  EXPECT_EQ(Compose(":141824 /l /c /a4~~~~~~~~", ""), ":141824 /l /c /a4");
  EXPECT_EQ(Compose("/l ~~~~", "movie /s"), "/l movie /s");
  EXPECT_EQ(Compose("a~b~", "x"), "ax");  // no separator is inserted
  EXPECT_EQ(Compose("~~~~", ""), "");
  EXPECT_EQ(Compose("", "movie"), "movie");
}

TEST(CommandLine, TooLongIsRefusedNotCut) {
  std::string args(1000, 'a');
  EXPECT_EQ(Compose(std::string(23, 'e').c_str(), args.c_str()), std::string(23, 'e') + args);
  EXPECT_EQ(Compose(std::string(24, 'e').c_str(), args.c_str()), "<refused>");
}

TEST(CommandLine, ArgumentsAreJoinedWithQuotesAroundBlanks) {
  const char* argv[] = {"vornplay", "my movie.vxn", "/l", "b"};
  char dest[kCommandTextSize];
  ASSERT_TRUE(CommandArgsJoin(4, const_cast<char**>(argv), dest, sizeof(dest)));
  EXPECT_STREQ(dest, "\"my movie.vxn\" /l b");
  std::string big(kCommandTextSize, 'x');
  const char* long_argv[] = {"vornplay", big.c_str()};
  EXPECT_FALSE(CommandArgsJoin(2, const_cast<char**>(long_argv), dest, sizeof(dest)));
}

class ReadCommandTest : public ::testing::Test {
 protected:
  StartResult Read(const char* embedded, const char* args) {
    PlayerOptionsInit(&o);
    if (!CommandLineCompose(text, embedded, args)) return START_ERROR;
    return PlayerReadCommand(text, &o, error, sizeof(error));
  }
  FakeSystem fake;
  FakeSystemScope scope{&fake};
  char text[kCommandTextSize];
  char error[256];
  PlayerOptions o;
};

TEST_F(ReadCommandTest, EmbeddedMovieBehindTheExecutable) {
  std::string embedded = ":141824 /l /c /a4" + std::string(494, '~');
  ASSERT_EQ(Read(embedded.c_str(), ""), START_PLAY);
  EXPECT_STREQ(text, ":141824");
  EXPECT_EQ(o.plays_left, 0);
  EXPECT_EQ(o.hide_cursor, 1);
  EXPECT_EQ(o.open_flags, 4u << OPEN_SCALE_SHIFT);
  MovieSource source;
  ASSERT_TRUE(MovieSourceFromName(text, &source, error, sizeof(error)));
  EXPECT_EQ(source.form, NAME_OWN_EXE);
  EXPECT_EQ(source.offset, 141824u);
}

TEST_F(ReadCommandTest, UserTextReplacesAnEmbeddedSwitch) {
  ASSERT_EQ(Read(":5000 /l ~~~", "/-L /L2"), START_PLAY);
  EXPECT_EQ(o.plays_left, 2);
  EXPECT_STREQ(text, ":5000");
}

TEST_F(ReadCommandTest, HelpWhenNothingOrSomethingUnreadIsLeft) {
  EXPECT_EQ(Read("", ""), START_HELP);
  EXPECT_EQ(Read("~~~", "   "), START_HELP);
  EXPECT_EQ(Read("", "/l /s"), START_HELP);          // switches but no name
  EXPECT_EQ(Read("", "movie /V"), START_HELP);       // an unknown letter
  EXPECT_EQ(Read("", "movie /s /s"), START_HELP);    // a switch given twice
  EXPECT_EQ(Read("", "dir/movie"), START_HELP);      // a forward slash in a name
  EXPECT_EQ(Read("", "movie /D99"), START_ERROR);
  EXPECT_EQ(Read("", "  a   b "), START_PLAY);
  EXPECT_STREQ(text, "a   b");
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  EXPECT_EQ(start, text.size()) << "the last line ends with a line feed";
  return lines;
}

TEST(HelpText, HeadSwitchLinesAndContinuations) {
  std::vector<std::string> lines = Lines(PlayerHelpText());
  ASSERT_EQ(lines.size(), 3u + 24u + 12u);
  EXPECT_EQ(lines[0], "VornPlay  V 1.5t");
  EXPECT_EQ(lines[2], "  SYNTAX: VornPlay <Vorn1 Vorn2 ...> [/Switches]:");
  EXPECT_EQ(lines[3], "    /P  \t- Preload the entire Vorn video into memory.");
  EXPECT_EQ(lines[4], "    /L##\t- Loop the animation (just/L for infinite).");
  EXPECT_EQ(lines[5], "    /F#.#\t- Use this frame rate (just /F for fast).");
  EXPECT_EQ(lines[11],
            "    /W#.#\t- Stretch to this width in pixels (can be slow). Use negative numbers for");
  EXPECT_EQ(lines[12],
            "         \t    scaling (i.e. for 2x, use '/w-2').  For full screen, use -1 ('/w-1').");
  EXPECT_EQ(lines[14], "    /R   \t- Fill the screen with a black background.");
  EXPECT_EQ(lines[15], "    /C   \t- Hide the cursor when in the Vorn window.");
  EXPECT_EQ(lines[24],
            "    /I# \t- Window style: 0=normal, 1=no caption, 2=nothing.  Add 100 for always-on-top.");
  EXPECT_EQ(lines[26], "        \t    4=2x width and height interlaced, 5=2x width and height doubled,");
  EXPECT_EQ(lines.back(), "        \t    10=DirectDraw RGB system memory off-screen.");
  // Every switch line: four blanks, the field, a tab and "- ".
  int switch_lines = 0;
  for (size_t i = 3; i < lines.size(); ++i) {
    if (lines[i].compare(0, 5, "    /") == 0) {
      ++switch_lines;
      EXPECT_NE(lines[i].find("\t- "), std::string::npos) << lines[i];
    } else {
      EXPECT_EQ(lines[i].substr(lines[i].find('\t')), "\t    " + lines[i].substr(lines[i].find('\t') + 5));
    }
  }
  EXPECT_EQ(switch_lines, 24);
}

}  // namespace
