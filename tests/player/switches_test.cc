// The switch readers, cancelling, ratios and the fixed reading order.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>

#include "engine/movie.h"
#include "player/fake_system.h"
#include "player/command_line.h"
#include "player/names.h"
#include "player/parse_switches.h"
#include "player/player_options.h"
#include "player/switch_readers.h"

namespace {

struct Text {
  char buf[kCommandTextSize];
  explicit Text(const char* s) { std::snprintf(buf, sizeof(buf), "%s", s); }
  std::string str() const { return buf; }
};

Ratio Parse(const char* s, std::string* rest = nullptr) {
  const char* end;
  Ratio r = ParseRatio(s, &end);
  if (rest) *rest = end;
  return r;
}

// A ratio read from the front of a text: reduced, with where reading stopped.
struct RatioCase {
  const char* text;
  int32_t num, den;
  const char* rest;
};
void PrintTo(const RatioCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

const RatioCase kRatioCases[] = {
    {"12.5", 25, 2, ""},
    {"2.5;1.5", 5, 3, ""},
    {"30000;1001", 30000, 1001, ""},
    {"15", 15, 1, ""},
    {"-2", -2, 1, ""},
    {"-1.25", -5, 4, ""},
    {"5;0 x", 5, 1, " x"},  // a zero divisor leaves a zero denominator, which becomes 1
    {"0.50", 1, 2, ""},
    {"25;x", 25, 1, ";x"},  // ';' without a digit is not part of the ratio
    {"0;5", 0, 5, ""},
};

class ParseRatioCases : public testing::TestWithParam<RatioCase> {};

TEST_P(ParseRatioCases, ReducesAndStopsAfterTheRatio) {
  std::string rest;
  const Ratio r = Parse(GetParam().text, &rest);
  EXPECT_EQ(r.num, GetParam().num);
  EXPECT_EQ(r.den, GetParam().den);
  EXPECT_EQ(rest, GetParam().rest);
}

// "2.5;1.5" is named 2p5over1p5: test names hold letters, digits and '_' only.
std::string RatioName(const testing::TestParamInfo<RatioCase>& info) {
  std::string name;
  for (const char* c = info.param.text; *c; ++c) {
    if (std::isdigit(static_cast<unsigned char>(*c))) name += *c;
    else if (*c == '.') name += 'p';
    else if (*c == ';') name += "over";
    else if (*c == '-') name += "minus";
    else name += '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseRatioCases, testing::ValuesIn(kRatioCases), RatioName);

TEST(ParseRatio, AbsurdDigitRunsStayInRange) {
  Ratio r = Parse("99999999999999999999.99999999999999999999;0.000000000000000001");
  EXPECT_GT(r.num, 0);
  EXPECT_GT(r.den, 0);
  r = Parse("-99999999999999999999");
  EXPECT_EQ(r.num, -2147483647);
}

TEST(SwitchReaders, FlagNeedsAnEndingCharacter) {
  Text t("movie /Lx /l /c");
  EXPECT_TRUE(TakeFlagSwitch(t.buf, 'L'));  // "/Lx" is not the flag form
  EXPECT_EQ(t.str(), "movie /Lx  /c");
  EXPECT_TRUE(TakeFlagSwitch(t.buf, 'c'));  // letters compare without case
  EXPECT_EQ(t.str(), "movie /Lx  ");
  EXPECT_FALSE(TakeFlagSwitch(t.buf, 'Q'));
  Text end("/p");
  EXPECT_TRUE(TakeFlagSwitch(end.buf, 'P'));
  EXPECT_EQ(end.str(), "");
}

TEST(SwitchReaders, NumberTakesFirstMatchingForm) {
  Text t("a /X /x-20b /X30");
  EXPECT_EQ(TakeNumberSwitch(t.buf, 'X', 7), -20);
  EXPECT_EQ(t.str(), "a /X b /X30");
  EXPECT_EQ(TakeNumberSwitch(t.buf, 'X', 7), 30);
  EXPECT_EQ(TakeNumberSwitch(t.buf, 'X', 7), 7);  // "/X" alone is not a number
  EXPECT_EQ(t.str(), "a /X b ");
  Text dash("/x- /y-");
  EXPECT_EQ(TakeNumberSwitch(dash.buf, 'X', -3000), -3000);
  EXPECT_EQ(dash.str(), "/x- /y-");
  Text huge("/M99999999999999");
  EXPECT_EQ(TakeNumberSwitch(huge.buf, 'M', 0), 2147483647);
  EXPECT_EQ(huge.str(), "");
}

TEST(SwitchReaders, RatioCutsWhatWasParsed) {
  Text t("m /w-2 /H240;1.5x");
  Ratio w = TakeRatioSwitch(t.buf, 'W', 0, 0);
  EXPECT_EQ(w.num, -2);
  EXPECT_EQ(w.den, 1);
  Ratio h = TakeRatioSwitch(t.buf, 'H', 0, 0);
  EXPECT_EQ(h.num, 160);
  EXPECT_EQ(h.den, 1);
  EXPECT_EQ(t.str(), "m  x");
  Ratio none = TakeRatioSwitch(t.buf, 'F', -1, -1);
  EXPECT_EQ(none.num, -1);
  EXPECT_EQ(none.den, -1);
}

TEST(CancelSwitches, EarlierCopiesGoWithTheirArguments) {
  Text t(":141824 /l /c /a4 /-L /L2");
  CancelSwitches(t.buf);
  EXPECT_EQ(t.str(), ":141824  /c /a4  /L2");
  Text many("/L3 m /l /-l /L /-Q /q");
  CancelSwitches(many.buf);  // later copies of the letter stay
  EXPECT_EQ(many.str(), " m   /L  /q");
  Text arg("/F12.5/S a /-F");
  CancelSwitches(arg.buf);  // the argument stops at '/'
  EXPECT_EQ(arg.str(), "/S a ");
}

TEST(CancelSwitches, QuotedArgumentsAndTrailingDash) {
  Text q("/T\"a b\" movie /-T");
  CancelSwitches(q.buf);
  EXPECT_EQ(q.str(), " movie ");
  Text open("/T\"a b movie /-T x");
  CancelSwitches(open.buf);  // an unclosed quote runs up to the cancel
  EXPECT_EQ(open.str(), " x");
  Text tail("movie /l /-");
  CancelSwitches(tail.buf);
  EXPECT_EQ(tail.str(), "movie /l ");
  Text nothing("/-Z movie");
  CancelSwitches(nothing.buf);
  EXPECT_EQ(nothing.str(), " movie");
}

class ParseSwitchesTest : public ::testing::Test {
 protected:
  bool Parse(const char* s) {
    std::snprintf(text, sizeof(text), "%s", s);
    PlayerOptionsInit(&o);
    CancelSwitches(text);
    return ParseSwitches(text, &o, error, sizeof(error));
  }
  FakeSystem fake;
  FakeSystemScope scope{&fake};
  char text[kCommandTextSize];
  char error[256];
  PlayerOptions o;
};

TEST_F(ParseSwitchesTest, NothingGivenLeavesTheInitialValues) {
  ASSERT_TRUE(Parse("movie"));
  EXPECT_EQ(std::string(text), "movie");
  EXPECT_EQ(o.plays_left, 1);
  EXPECT_EQ(o.list_plays_left, 1);
  EXPECT_EQ(o.rate_num, -1);
  EXPECT_EQ(o.rate_den, -1);
  EXPECT_EQ(o.io_buffer_size, -1);
  EXPECT_EQ(o.x, WINDOW_POS_CENTRE);
  EXPECT_EQ(o.y, WINDOW_POS_CENTRE);
  EXPECT_EQ(o.open_flags, 0u);
  EXPECT_EQ(o.display_flags, 0u);
  EXPECT_EQ(o.screen_width, 800);
  EXPECT_EQ(o.screen_height, 600);
}

TEST_F(ParseSwitchesTest, EveryFieldFromItsSwitch) {
  ASSERT_TRUE(Parse("m /L3 /#4660 /F12.5 /T2 /M150000 /E65536 /U5 /I101 /Z /S /Q /J /C /N /G /P "
                    "/K /A104 /X10 /Y-20 /W640 /H-2"));
  EXPECT_EQ(std::string(text), "m" + std::string(22, ' '));  // one blank per switch is left
  EXPECT_EQ(o.plays_left, 3);
  EXPECT_EQ(o.parent_window, 4660);
  EXPECT_EQ(o.rate_num, 25);
  EXPECT_EQ(o.rate_den, 2);
  EXPECT_EQ(o.track_id, 2);
  EXPECT_EQ(o.read_speed, 150000);
  EXPECT_EQ(o.io_buffer_size, 65536);
  EXPECT_EQ(o.disabled_controls, 5);
  EXPECT_EQ(o.topmost, 1);
  EXPECT_EQ(o.window_style, 1);
  EXPECT_EQ(o.use_wave_out, 1);
  EXPECT_EQ(o.show_summary, 1);
  EXPECT_EQ(o.show_stats, 1);
  EXPECT_EQ(o.keep_playing_unfocused, 1);
  EXPECT_EQ(o.black_background, 0);
  EXPECT_EQ(o.hide_cursor, 1);
  EXPECT_EQ(o.open_flags, OPEN_FRAME_RATE | OPEN_TRACKS | OPEN_READ_SPEED | OPEN_IO_SIZE |
                              OPEN_NO_SKIP | OPEN_NO_FILL | OPEN_PRELOAD | OPEN_NO_THREAD |
                              OPEN_GRAYSCALE | (4u << OPEN_SCALE_SHIFT));
  EXPECT_EQ(o.x, 10);
  EXPECT_EQ(o.y, -20);
  EXPECT_EQ(o.width_num, 640);
  EXPECT_EQ(o.width_den, 1);
  EXPECT_EQ(o.height_num, -2);
  EXPECT_EQ(o.height_den, 1);
}

TEST_F(ParseSwitchesTest, LoopCountsPlaysAndFlagIsEndless) {
  ASSERT_TRUE(Parse("m /l"));
  EXPECT_EQ(o.plays_left, 0);
  ASSERT_TRUE(Parse("m /L2 /L"));  // the number form is read first; the flag stays
  EXPECT_EQ(o.plays_left, 2);
  EXPECT_EQ(std::string(text), "m  /L");
  ASSERT_TRUE(Parse("m /L /-L /L2"));
  EXPECT_EQ(o.plays_left, 2);
}

TEST_F(ParseSwitchesTest, FrameRateForms) {
  ASSERT_TRUE(Parse("m /F"));
  EXPECT_EQ(o.rate_num, 0);
  EXPECT_EQ(o.rate_den, 0);
  EXPECT_EQ(o.open_flags, OPEN_FRAME_RATE);
  ASSERT_TRUE(Parse("m /F-1"));  // no override
  EXPECT_EQ(o.rate_num, -1);
  EXPECT_EQ(o.open_flags, 0u);
  ASSERT_TRUE(Parse("m /f2.5;1.5"));
  EXPECT_EQ(o.rate_num, 5);
  EXPECT_EQ(o.rate_den, 3);
  EXPECT_EQ(o.open_flags, OPEN_FRAME_RATE);
}

TEST_F(ParseSwitchesTest, ZeroTrackSpeedAndDefaultBufferAreNothing) {
  ASSERT_TRUE(Parse("m /T0 /M0 /E-1"));
  EXPECT_EQ(std::string(text), "m   ");
  EXPECT_EQ(o.track_id, 0);
  EXPECT_EQ(o.read_speed, 0);
  EXPECT_EQ(o.io_buffer_size, -1);
  EXPECT_EQ(o.open_flags, 0u);
  ASSERT_TRUE(Parse("m /E0"));  // an explicit 0 is a size request
  EXPECT_EQ(o.open_flags, OPEN_IO_SIZE);
}

TEST_F(ParseSwitchesTest, BlackBackgroundForcesFramelessWindow) {
  ASSERT_TRUE(Parse("m /I1 /R"));
  EXPECT_EQ(o.black_background, 1);
  EXPECT_EQ(o.window_style, 2);
  EXPECT_EQ(o.topmost, 0);
}

TEST_F(ParseSwitchesTest, ScalingModeIsLimited) {
  ASSERT_TRUE(Parse("m /A9"));
  EXPECT_EQ(o.open_flags, 7u << OPEN_SCALE_SHIFT);
  ASSERT_TRUE(Parse("m /A200"));  // only a hundreds digit of 1 means grey
  EXPECT_EQ(o.open_flags, 0u);
  ASSERT_TRUE(Parse("m /A-5"));
  EXPECT_EQ(o.open_flags, 0u);
}

TEST_F(ParseSwitchesTest, DisplayModeTables) {
  ASSERT_TRUE(Parse("m /D511 /B2"));
  EXPECT_EQ(o.display_flags, kDisplayModeChangeFlag | 2u);
  EXPECT_EQ(o.screen_width, 1024);
  EXPECT_EQ(o.screen_height, 768);
  EXPECT_EQ(o.mode_width, 1024);
  EXPECT_EQ(o.mode_height, 768);
  EXPECT_EQ(o.mode_depth, 2);
  ASSERT_TRUE(Parse("m /D1"));
  EXPECT_EQ(o.mode_width, 320);
  EXPECT_EQ(o.mode_height, 200);
  EXPECT_EQ(o.mode_depth, 16);
  ASSERT_TRUE(Parse("m /D613"));
  EXPECT_EQ(o.mode_width, 1280);
  EXPECT_EQ(o.mode_height, 1024);
  EXPECT_EQ(o.mode_depth, 3);
  ASSERT_TRUE(Parse("m /D308"));
  EXPECT_EQ(o.mode_depth, 8);
  ASSERT_TRUE(Parse("m /D0"));
  EXPECT_EQ(o.display_flags, 0u);
  EXPECT_EQ(o.mode_width, 0);
  EXPECT_EQ(o.screen_width, 800);
}

TEST_F(ParseSwitchesTest, ValuesOutsideTheTablesAreRefused) {
  for (const char* bad : {"m /D14", "m /D100", "m /D700", "m /D-8", "m /D714"}) {
    EXPECT_FALSE(Parse(bad)) << bad;
    EXPECT_NE(std::string(error).find("Unknown display mode"), std::string::npos) << bad;
  }
  for (const char* bad : {"m /B11", "m /B-1"}) {
    EXPECT_FALSE(Parse(bad)) << bad;
    EXPECT_NE(std::string(error).find("Unknown blitting style"), std::string::npos) << bad;
  }
  EXPECT_TRUE(Parse("m /B10"));
  EXPECT_EQ(o.display_flags, 10u);
}

TEST_F(ParseSwitchesTest, QuickPlayValueIsReadLikeTheOthers) {
  fake.profile["Tessel Video Tools/VornQuickPlay"] = "/l /c other";
  ASSERT_TRUE(Parse("m /!"));
  EXPECT_EQ(o.plays_left, 0);
  EXPECT_EQ(o.hide_cursor, 1);
  EXPECT_EQ(std::string(text), "m    other");
  ASSERT_TRUE(Parse("m"));  // only with /!
  EXPECT_EQ(o.plays_left, 1);
  fake.profile.clear();
  ASSERT_TRUE(Parse("m /!"));
  EXPECT_EQ(std::string(text), "m ");
}

TEST_F(ParseSwitchesTest, QuickPlayBeyondTheBufferIsRefused) {
  fake.profile["Tessel Video Tools/VornQuickPlay"] = std::string(200, 'x');
  std::string names(850, 'n');
  ASSERT_FALSE(Parse((names + " /!").c_str()));
  EXPECT_NE(std::string(error).find("too long"), std::string::npos);
  // The profile value is cut at 256 characters.
  fake.profile["Tessel Video Tools/VornQuickPlay"] = std::string(300, 'y');
  ASSERT_TRUE(Parse("/!"));
  EXPECT_EQ(std::string(text), " " + std::string(256, 'y'));
}

TEST_F(ParseSwitchesTest, SecondCopiesAndUnknownLettersStayBehind) {
  ASSERT_TRUE(Parse("m /P /p /V"));
  EXPECT_EQ(std::string(text), "m  /p /V");
}

}  // namespace

namespace {

// Random texts built from the characters the readers care about: every
// reader stays inside the buffer, never lengthens the text, and a text read
// for playing holds no '/'.
TEST(SwitchReaders, RandomTextsStayInsideTheBuffer) {
  FakeSystem fake;
  FakeSystemScope scope(&fake);
  const char alphabet[] = "/-LlFfTtDdBbAa#!\"., ;0123456789xX~\t";
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 3000; ++round) {
    char text[kCommandTextSize];
    size_t len = next() % (round % 10 == 0 ? kCommandTextSize : 40);
    for (size_t i = 0; i < len; ++i) text[i] = alphabet[next() % (sizeof(alphabet) - 1)];
    text[len] = 0;
    // No "/!": the profile value is the only thing that may lengthen the text.
    for (size_t i = 0; i + 1 < len; ++i)
      if (text[i] == '/' && text[i + 1] == '!') text[i + 1] = '?';
    PlayerOptions o;
    PlayerOptionsInit(&o);
    char error[256];
    StartResult r = PlayerReadCommand(text, &o, error, sizeof(error));
    ASSERT_LE(std::strlen(text), len);
    if (r == START_PLAY) ASSERT_EQ(std::strchr(text, '/'), nullptr) << text;
    EXPECT_LE(o.open_flags & OPEN_SCALE_MASK, 7u << OPEN_SCALE_SHIFT);
    EXPECT_LE(o.display_flags & 0x1F, 10u);
    char name[kCommandTextSize];
    int names = 0;
    while (TakeNextName(text, name)) ASSERT_LT(++names, 1024);
  }
}

}  // namespace
