// The player's main loop on a hand-driven clock: pacing with short sleeps,
// looping, the next file, the keys, the closing logo; and the stretch rule
// and statistics text the window uses.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "display/display_memory.h"
#include "engine/movie.h"
#include "engine/movie_clock.h"
#include "player/fake_system.h"
#include "player/window_loop.h"
#include "support/movie_fixtures.h"

namespace {

// ---- A window system, a clock and a display that only record ---------------------
struct Rig {
  uint32_t now = 1000;
  uint32_t longest_sleep = 0;
  uint32_t sleeps = 0;
  bool quit_posted = false;
  bool window_alive = true;
  std::vector<std::pair<uint32_t, int>> keys;  // (time, key), sent once due
  std::vector<uint32_t> opened_widths;         // display buffers in open order
  std::vector<uint32_t> locks_by_width;        // the buffer width of every frame's lock
  std::vector<std::pair<uint32_t, std::string>> drops;  // (time, name), dropped once due
  std::vector<std::string> titles;
  int layouts = 0;
  int strips = 0;
  int buffers_alive = 0;
};
Rig* g_rig;

bool FakeFrequency(uint64_t*) { return false; }
uint64_t FakeCounter() { return 0; }
uint32_t FakeTimer() { return g_rig->now; }
constexpr MovieClockSources kFakeClock = {FakeFrequency, FakeCounter, FakeTimer};

void FakeSleep(uint32_t ms) {
  g_rig->now += ms;
  g_rig->sleeps += 1;
  if (ms > g_rig->longest_sleep) g_rig->longest_sleep = ms;
}

bool OpsRegister(const PlayerOptions*) { return true; }
void* OpsCreate(const PlayerOptions*) { return g_rig; }
bool OpsPump() {
  for (auto& k : g_rig->keys)
    if (k.second && g_rig->now >= k.first) {
      if (k.second == 'q')
        PlayerOnQuitKey();
      else
        PlayerOnChar(k.second);
      k.second = 0;
    }
  for (auto& d : g_rig->drops)
    if (!d.second.empty() && g_rig->now >= d.first) {
      PlayerOnDropFile(d.second.c_str());
      d.second.clear();
    }
  return !g_rig->quit_posted;
}
void OpsLayout(int32_t, int32_t, int32_t, int32_t) { ++g_rig->layouts; }
void OpsShow() { PlayerOnFocus(true); }
void OpsHide() {}
void OpsDestroy() {
  if (g_rig->window_alive) g_rig->quit_posted = true;
  g_rig->window_alive = false;
}
void OpsFill() {}
void OpsInvalidate(int32_t, int32_t, int32_t, int32_t) {}
void OpsTopLeft(int32_t* x, int32_t* y) { *x = 40, *y = 30; }
void OpsExtent(const char* text, int32_t* w, int32_t* h) {
  *w = static_cast<int32_t>(std::string(text).size()) * 5;
  *h = 12;
}
void OpsStrip(const char*, int32_t, int32_t, int32_t, int32_t) { ++g_rig->strips; }
void OpsUpdate() {}
void OpsTitle(const char* title) {
  if (g_rig->titles.empty() || g_rig->titles.back() != title) g_rig->titles.push_back(title);
}

constexpr PlayerWindowOps kOps = {OpsRegister, OpsCreate, OpsPump,     OpsLayout, OpsShow,
                                  OpsHide,     OpsDestroy, OpsFill,    OpsInvalidate, OpsTopLeft,
                                  OpsExtent,   OpsStrip,   OpsUpdate,  OpsTitle};

int RecordingDib(DisplayBuffer* b) {
  g_rig->opened_widths.push_back(b->width);
  g_rig->buffers_alive += 1;
  return DisplayMemoryDibCreate(b);
}
void RecordingDestroy(DisplayBuffer* b) {
  g_rig->buffers_alive -= 1;
  DisplayMemoryDestroy(b);
}
int RecordingLock(DisplayBuffer* b, uint8_t** memory, int32_t* pitch) {
  g_rig->locks_by_width.push_back(b->width);
  return DisplayMemoryLock(b, memory, pitch);
}

class PlayerLoop : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    _putenv("VORN_ANSWER=no");  // error boxes must not wait for a click
#endif
    g_rig = &rig;
    backend = *DisplayMemoryBackend();
    backend.dib_create = RecordingDib;
    backend.lock = RecordingLock;
    backend.surface_destroy = RecordingDestroy;
    DisplaySetBackend(&backend);
    MovieClockSetSources(&kFakeClock);
    scope = new FakeSystemScope(&system);
    PlayerSystemHooks()->sleep_ms = FakeSleep;
    PlayerOptionsInit(&options);
    options.screen_width = 800, options.screen_height = 600;
    options.open_flags |= OPEN_NO_THREAD;
  }
  void TearDown() override {
    delete scope;
    MovieClockSetSources(nullptr);
    DisplaySetBackend(nullptr);
    g_rig = nullptr;
  }
  std::string MovieFile(const char* name, uint32_t frames, uint32_t width, uint32_t height) {
    return FixtureWriteFile(name, FixtureBuild(FixtureBasic(frames, width, height)));
  }
  int Run(const std::string& names) {
    PlayerStateInit(&options, &kOps);
    Player()->window = g_rig;
    start = rig.now;
    return PlayerRun(names.c_str());
  }
  // The POSIX player's list: each name exactly as given.
  int RunExact(const std::vector<std::string>& names) {
    char list[kCommandTextSize] = {0, 0};
    for (const std::string& n : names) {
      EXPECT_TRUE(ExactListAppend(list, n.c_str()));
      system.files.insert(n);
    }
    PlayerStateInit(&options, &kOps);
    Player()->window = g_rig;
    start = rig.now;
    return PlayerRun(list, true);
  }
  uint32_t Count(uint32_t width) const {
    uint32_t n = 0;
    for (uint32_t w : rig.locks_by_width) n += w == width;
    return n;
  }

  Rig rig;
  FakeSystem system;
  FakeSystemScope* scope = nullptr;
  DisplayBackend backend{};
  PlayerOptions options{};
  uint32_t start = 0;
};

TEST_F(PlayerLoop, PlaysEveryFrameAtItsRateThenTheLogoFor2250Ms) {
  std::string movie = MovieFile("loop_plain.vxn", 6, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(Count(64), 6u);
  EXPECT_EQ(rig.opened_widths, (std::vector<uint32_t>{64, 224})) << "the logo needs a larger buffer";
  EXPECT_GT(Count(224), 0u) << "the logo was shown";
  EXPECT_LE(rig.longest_sleep, 10u);
  // Six frames at 30 per second end after five frame times; the logo then
  // lasts 2250 ms (give or take one sleep slice).
  const uint32_t took = rig.now - start;
  EXPECT_GE(took, 166u + 2250u);
  EXPECT_LE(took, 200u + 2250u + 10u);
  EXPECT_FALSE(rig.window_alive);
  EXPECT_EQ(Player()->summary.frames_played, 6u);
  EXPECT_EQ(rig.buffers_alive, 0);
}

TEST_F(PlayerLoop, LoopCountPlaysTheMovieThatManyTimes) {
  options.plays_left = 3;
  std::string movie = MovieFile("loop_three.vxn", 5, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(Count(64), 15u);
  EXPECT_EQ(rig.opened_widths.size(), 2u) << "one movie open, then the logo";
}

TEST_F(PlayerLoop, ListLoopPlaysThePairAgain) {
  options.plays_left = 2;
  std::string a = MovieFile("list_a.vxn", 3, 64, 48);
  std::string b = MovieFile("list_b.vxn", 2, 32, 32);
  ASSERT_EQ(Run(a + " " + b), 0);
  EXPECT_EQ(rig.opened_widths, (std::vector<uint32_t>{64, 32, 64, 32, 224}));
  EXPECT_EQ(Count(64), 6u);
  EXPECT_EQ(Count(32), 4u);
}

TEST_F(PlayerLoop, EscapeEndsAnEndlessLoopWithTheLogo) {
  options.plays_left = 0;  // endless
  rig.keys = {{1500, 27}};
  std::string movie = MovieFile("loop_endless.vxn", 4, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_GE(rig.now, 1500u + 2250u);
  EXPECT_LE(rig.now, 1500u + 2250u + 60u);
  EXPECT_GT(Player()->summary.frames_played, 10u);
  EXPECT_GE(Count(64), 14u);
}

TEST_F(PlayerLoop, EscapeDuringTheLogoEndsAtOnce) {
  rig.keys = {{1000 + 100 + 500, 27}};  // the 3-frame movie ends after ~67 ms
  std::string movie = MovieFile("logo_escape.vxn", 3, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_LE(rig.now, 1600u + 20u);
}

TEST_F(PlayerLoop, DisabledQuitKeyIsIgnored) {
  options.disabled_controls = 4;
  rig.keys = {{1010, 27}};
  std::string movie = MovieFile("no_escape.vxn", 30, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(Count(64), 30u) << "the movie played to its end";
}

TEST_F(PlayerLoop, SpaceHoldsTheMovieUntilPressedAgain) {
  rig.keys = {{1100, ' '}, {3100, ' '}};
  std::string movie = MovieFile("paused.vxn", 30, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(Count(64), 30u);
  // 30 frames take ~1 s; the 2 s pause comes on top of it.
  EXPECT_GE(rig.now - start, 1000u + 2000u + 2250u - 40u);
  EXPECT_LE(rig.longest_sleep, 10u);
}

TEST_F(PlayerLoop, SkipKeyGoesOnToTheNextFile) {
  rig.keys = {{1100, '.'}};
  std::string a = MovieFile("skip_a.vxn", 300, 64, 48);
  std::string b = MovieFile("skip_b.vxn", 2, 32, 32);
  ASSERT_EQ(Run(a + " " + b), 0);
  EXPECT_LT(Count(64), 10u);
  EXPECT_EQ(Count(32), 2u);
}

TEST_F(PlayerLoop, StatisticsStripIsDrawnAfterEveryFrameAndNotForTheLogo) {
  options.show_stats = 1;
  std::string movie = MovieFile("stats.vxn", 5, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(rig.strips, 5);
  EXPECT_EQ(Player()->strip_top, 0);
  EXPECT_EQ(Player()->strip_bottom, 12);
}

TEST_F(PlayerLoop, MissingSecondFileEndsWithOneAndGivesEverythingBack) {
  std::string a = MovieFile("first_ok.vxn", 3, 64, 48);
  EXPECT_EQ(Run(a + " " + FixtureTempPath("second_missing.vxn")), 1);
  EXPECT_EQ(Count(64), 3u);
  EXPECT_EQ(rig.buffers_alive, 0);
  EXPECT_EQ(Player()->movie, nullptr);
  EXPECT_FALSE(rig.window_alive);
}

TEST_F(PlayerLoop, MissingMovieIsAnErrorAndExitCodeOne) {
  EXPECT_EQ(Run(FixtureTempPath("no_such_movie.vxn")), 1);
  EXPECT_FALSE(rig.window_alive);
  EXPECT_TRUE(rig.opened_widths.empty());
}

TEST(PlayerSleep, OversleepIsPaidBackUpToOneHundredMs) {
  EXPECT_EQ(PlayerIdleAfterSleep(10, 10), 0);
  EXPECT_EQ(PlayerIdleAfterSleep(10, 4), 6);
  EXPECT_EQ(PlayerIdleAfterSleep(10, 25), -15);
  EXPECT_EQ(PlayerIdleAfterSleep(10, 500), -100);
  EXPECT_EQ(PlayerIdleAfterSleep(1, 0xFFFFFFF0u), -100) << "no 32-bit wrap";
}

// ---- The stretch rule ---------------------------------------------------------------
TEST(StretchSize, FactorsSizesAndTheCapabilitiesTheyNeed) {
  uint32_t flags = 0;
  EXPECT_EQ(StretchSize(-2, 1, 0x10000000, 1024, 320, &flags), 640u);
  EXPECT_EQ(flags, 0x80000000u) << "integer stretch of the width";
  flags = 0;
  EXPECT_EQ(StretchSize(-1, 1, 0x10000000, 1024, 320, &flags), 1024u) << "full screen";
  EXPECT_EQ(flags, 0x40000000u);
  flags = 0;
  EXPECT_EQ(StretchSize(0, 0, 0x1000000, 768, 240, &flags), 240u);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(StretchSize(120, 1, 0x1000000, 768, 240, &flags), 120u);
  EXPECT_EQ(flags, 0x2000000u) << "integer shrink of the height";
  flags = 0;
  EXPECT_EQ(StretchSize(25, 2, 0x1000000, 768, 240, &flags), 12u);  // 25/2 truncates
  EXPECT_EQ(flags, 0x2000000u) << "12 divides 240";
  flags = 0;
  EXPECT_EQ(StretchSize(-3, 2, 0x10000000, 1024, 320, &flags), 480u);
  EXPECT_EQ(flags, 0x40000000u);
  flags = 0;
  EXPECT_EQ(StretchSize(200, 1, 0x10000000, 1024, 320, &flags), 200u);
  EXPECT_EQ(flags, 0x10000000u) << "any shrink";
}

// ---- The statistics strip's text ----------------------------------------------------------
TEST(StatsStrip, TextFromTheRunTimeRecord) {
  MovieRealtime r{};
  r.frame = 42;
  r.window_frames = 29;
  r.window_ms = 967;
  r.video_ms = 100, r.audio_ms = 50, r.blit_ms = 20;
  r.read_ms = 10, r.idle_read_ms = 9, r.background_read_ms = 97;
  r.fill_target = 65536, r.buffered = 32768;
  r.data_rate = 123456;
  char text[256];
  StatsStripText(r, text, sizeof(text));
  EXPECT_STREQ(text,
               "Fr: 42, FPS: 29.9, Buf: 50%, Vid: 10%, Aud: 5%, Blit: 2%, Read: 1%, Back: 10%, "
               "Rate: 123456");
}

TEST(StatsStrip, BufferFillRoundsToWholePercents) {
  MovieRealtime r{};
  r.window_ms = 1;
  r.fill_target = 65536;
  char text[256];
  r.buffered = 0;
  StatsStripText(r, text, sizeof(text));
  EXPECT_NE(std::string(text).find("Buf: 0%"), std::string::npos) << text;
  r.buffered = 65536;
  StatsStripText(r, text, sizeof(text));
  EXPECT_NE(std::string(text).find("Buf: 100%"), std::string::npos) << text;
  r.window_ms = 0;  // never from the engine; still no division by zero
  StatsStripText(r, text, sizeof(text));
}

}  // namespace

// ---- The Linux desktop's habits ------------------------------------------------------

TEST_F(PlayerLoop, ExactNamesPlayWithSpacesBarsAndNoExtension) {
  const std::string spaced = MovieFile("with space|1.vxn", 2, 64, 48);
  const std::string bare = MovieFile("no_extension", 3, 32, 32);
  ASSERT_EQ(RunExact({spaced, bare}), 0);
  EXPECT_EQ(Count(64), 2u);
  EXPECT_EQ(Count(32), 3u);
}

TEST_F(PlayerLoop, TitleShowsTheFileNameAndThePause) {
  rig.keys = {{1100, ' '}, {1500, ' '}};
  const std::string movie = MovieFile("titled.vxn", 30, 64, 48);
  ASSERT_EQ(RunExact({movie}), 0);
  const std::string base = movie.substr(movie.rfind('/') + 1);  // only the file's own name
  EXPECT_EQ(rig.titles, (std::vector<std::string>{base + " - Vorn Video Player",
                                                  base + " (paused) - Vorn Video Player",
                                                  base + " - Vorn Video Player",
                                                  "Vorn Video Player"}));
}

TEST_F(PlayerLoop, QuitKeyEndsWithoutWaitingForTheLogo) {
  options.plays_left = 0;  // endless
  rig.keys = {{1500, 'q'}};
  const std::string movie = MovieFile("quit_q.vxn", 4, 64, 48);
  ASSERT_EQ(RunExact({movie}), 0);
  EXPECT_LE(rig.now, 1500u + 60u) << "no 2250 ms of logo";
  EXPECT_GT(Player()->summary.frames_played, 10u) << "the summary describes the movie";
}

TEST_F(PlayerLoop, DisabledQuitControlAlsoIgnoresQ) {
  options.disabled_controls = 4;
  rig.keys = {{1010, 'q'}};
  const std::string movie = MovieFile("quit_q_off.vxn", 30, 64, 48);
  ASSERT_EQ(RunExact({movie}), 0);
  EXPECT_EQ(Count(64), 30u);
}

TEST_F(PlayerLoop, DroppedMoviePlaysAtOnceThenTheRestOfTheList) {
  const std::string a = MovieFile("drop_a.vxn", 300, 64, 48);
  const std::string b = MovieFile("drop_b.vxn", 2, 32, 32);
  const std::string dropped = MovieFile("drop_new.vxn", 3, 48, 48);
  system.files.insert(dropped);
  rig.drops = {{1100, dropped}};
  ASSERT_EQ(RunExact({a, b}), 0);
  EXPECT_LT(Count(64), 10u) << "the playing movie made way";
  EXPECT_EQ(Count(48), 3u);
  EXPECT_EQ(Count(32), 2u);
  EXPECT_EQ(rig.opened_widths, (std::vector<uint32_t>{64, 48, 32, 224}));
}

TEST_F(PlayerLoop, DroppedMovieWaitsItsTurnWhenSkippingIsDisabled) {
  options.disabled_controls = 2;
  const std::string a = MovieFile("drop_wait_a.vxn", 30, 64, 48);
  const std::string dropped = MovieFile("drop_wait_new.vxn", 3, 48, 48);
  system.files.insert(dropped);
  rig.drops = {{1100, dropped}};
  ASSERT_EQ(RunExact({a}), 0);
  EXPECT_EQ(Count(64), 30u);
  EXPECT_EQ(Count(48), 3u);
}
