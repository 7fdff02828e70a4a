// The player's main loop on a hand-driven clock: pacing with short sleeps,
// looping, the next file, the keys, the closing logo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display_backend.h"
#include "display/display_memory.h"
#include "engine/movie.h"
#include "engine/movie_clock.h"
#include "player/fake_system.h"
#include "player/frame_step.h"
#include "player/player_state.h"
#include "player/seek_keys.h"
#include "player/summary_text.h"
#include "player/window_events.h"
#include "player/window_loop.h"
#include "engine/sound_track.h"
#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

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
  int32_t layout_x = 0, layout_y = 0;  // the last layout's position
  int strips = 0;
  std::vector<int32_t> shown;       // the frame on screen at every strip
  std::vector<std::string> texts;   // every strip's text
  int buffers_alive = 0;
};
Rig* g_rig;
constexpr int kClick = 0x200;  // a left click on the picture

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
void* OpsCreate(PlayerState*) { return g_rig; }
bool OpsPump(PlayerState* p) {
  for (auto& k : g_rig->keys)
    if (k.second && g_rig->now >= k.first) {
      if (k.second == kClick)
        PlayerOnPictureClick(p);
      else if (k.second >= PLAYER_KEY_LEFT)
        PlayerOnKey(p, k.second);
      else if (k.second == 'q')
        PlayerOnQuitKey(p);
      else
        PlayerOnChar(p, k.second);
      k.second = 0;
    }
  for (auto& d : g_rig->drops)
    if (!d.second.empty() && g_rig->now >= d.first) {
      PlayerOnDropFile(p, d.second.c_str());
      d.second.clear();
    }
  return !g_rig->quit_posted;
}
void OpsLayout(PlayerState*, int32_t x, int32_t y, int32_t, int32_t) {
  ++g_rig->layouts;
  g_rig->layout_x = x, g_rig->layout_y = y;
}
void OpsShow(PlayerState* p) { PlayerOnFocus(p, true); }
void OpsHide(PlayerState*) {}
void OpsDestroy(PlayerState*) {
  if (g_rig->window_alive) g_rig->quit_posted = true;
  g_rig->window_alive = false;
}
void OpsFill(PlayerState*) {}
void OpsInvalidate(PlayerState*, int32_t, int32_t, int32_t, int32_t) {}
void OpsTopLeft(PlayerState*, int32_t* x, int32_t* y) { *x = 40, *y = 30; }
void OpsExtent(PlayerState*, const char* text, int32_t* w, int32_t* h) {
  *w = static_cast<int32_t>(std::string(text).size()) * 5;
  *h = 12;
}
void OpsStrip(PlayerState* p, const char* text, int32_t, int32_t, int32_t, int32_t) {
  ++g_rig->strips;
  g_rig->texts.push_back(text);
  g_rig->shown.push_back(p->movie ? p->movie->shown_frame_num : 0);
}
void OpsUpdate(PlayerState*) {}
std::vector<std::string> g_warnings;
void OpsWarn(PlayerState*, const char* text) { g_warnings.push_back(text); }
void OpsTitle(PlayerState*, const char* title) {
  if (g_rig->titles.empty() || g_rig->titles.back() != title) g_rig->titles.push_back(title);
}

constexpr PlayerWindowOps kOps = {OpsRegister, OpsCreate, OpsPump,     OpsLayout, OpsShow,
                                  OpsHide,     OpsDestroy, OpsFill,    OpsInvalidate, OpsTopLeft,
                                  OpsExtent,   OpsStrip,   OpsUpdate,  OpsTitle,
                                  OpsWarn};

int ShapesPicture(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= 20) return 0;
  SynthPicture(SynthScene::kNoise, frame, 32, 32, false, picture);
  return 1;
}

// Twenty real frames at 30 per second, so only missing bytes make damage.
std::vector<uint8_t> EncodedMovie() {
  MovieEncodeOptions options;
  options.video.width = options.video.height = 32;
  std::vector<uint8_t> bytes;
  MovieEncodeStats stats;
  const char* error = nullptr;
  EXPECT_TRUE(MovieEncode(options, ShapesPicture, nullptr, &bytes, &stats, &error));
  return bytes;
}

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
    g_warnings.clear();
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
    PlayerStateInit(&player, &options, &kOps);
    player.window = g_rig;
    start = rig.now;
    return PlayerRun(&player, names.c_str());
  }
  // The POSIX player's list: each name exactly as given.
  int RunExact(const std::vector<std::string>& names) {
    char list[kCommandTextSize] = {0, 0};
    for (const std::string& n : names) {
      EXPECT_TRUE(ExactListAppend(list, n.c_str()));
      system.files.insert(n);
    }
    PlayerStateInit(&player, &options, &kOps);
    player.window = g_rig;
    start = rig.now;
    return PlayerRun(&player, list, true);
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
  PlayerState player{};
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
  EXPECT_EQ(player.summary.frames_played, 6u);
  EXPECT_EQ(rig.buffers_alive, 0);
}

TEST_F(PlayerLoop, AWholeMovieGivesNoWarning) {
  ASSERT_EQ(Run(FixtureWriteFile("loop_whole.vxn", EncodedMovie())), 0);
  EXPECT_TRUE(g_warnings.empty());
  EXPECT_EQ(player.summary.frames_played, 20u);
  EXPECT_EQ(player.summary.damaged_frames, 0u);
}

TEST_F(PlayerLoop, ACutMovieWarnsOnceAndKeepsItsPaceToTheEnd) {
  const std::vector<uint8_t> whole = EncodedMovie();
  // Cut inside frame 11: frames 1-10 play, 11-20 are missing.
  const size_t cut = (FixtureIndexEntry(whole, 10) & ~1u) + 3;
  const std::string path =
      FixtureWriteFile("loop_cut.vxn", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
  const uint32_t started = rig.now;
  ASSERT_EQ(Run(path), 0);
  ASSERT_EQ(g_warnings.size(), 1u);
  EXPECT_EQ(g_warnings[0], "Warning: " + path +
                               ": movie damaged: Damaged or missing frames: 10 (first at frame 11)");
  EXPECT_EQ(player.summary.frames_played, 10u);
  EXPECT_EQ(player.summary.damaged_frames, 10u);
  EXPECT_EQ(player.summary.first_damaged_frame, 11u);
  // The missing frames take their time too: twenty frames last 19 frame
  // times (633 ms) before the logo's 2250 ms, not ten.
  EXPECT_GE(rig.now - started, 620u + 2250u);
  EXPECT_LE(rig.now - started, 700u + 2250u + 10u);
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
  EXPECT_GT(player.summary.frames_played, 10u);
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
  EXPECT_EQ(player.strip_top, 0);
  EXPECT_EQ(player.strip_bottom, 12);
}

TEST_F(PlayerLoop, MissingSecondFileEndsWithOneAndGivesEverythingBack) {
  std::string a = MovieFile("first_ok.vxn", 3, 64, 48);
  EXPECT_EQ(Run(a + " " + FixtureTempPath("second_missing.vxn")), 1);
  EXPECT_EQ(Count(64), 3u);
  EXPECT_EQ(rig.buffers_alive, 0);
  EXPECT_EQ(player.movie, nullptr);
  EXPECT_FALSE(rig.window_alive);
}

TEST_F(PlayerLoop, MissingMovieIsAnErrorAndExitCodeOne) {
  EXPECT_EQ(Run(FixtureTempPath("no_such_movie.vxn")), 1);
  EXPECT_FALSE(rig.window_alive);
  EXPECT_TRUE(rig.opened_widths.empty());
}

// ---- A screen mode that is given back for the logo ------------------------------------
// A GDI mode switch of the memory back end: the requested size while a
// reference is held, the desktop's 1024 x 768 after the last one goes.
DisplayScreen g_mode_screen;
int g_mode_refs = 0;
int ModeOpen(void*, int mode_switch) {
  if (mode_switch && DisplayModeRequestComplete()) {
    const DisplayModeRequest r = DisplayTakeModeRequest();
    g_mode_screen.width = r.width, g_mode_screen.height = r.height;
  }
  ++g_mode_refs;
  return 1;
}
void ModeRelease() {
  if (--g_mode_refs == 0) g_mode_screen.width = 1024, g_mode_screen.height = 768;
}
const DisplayScreen* ModeScreen() { return &g_mode_screen; }

TEST_F(PlayerLoop, LogoIsCentredOnTheScreenGivenBackAndTheSummaryKeepsTheMoviesDisplay) {
  g_mode_screen = {1024, 768, 32, 4, 0, 0};
  g_mode_refs = 0;
  backend.gdi_mode_open = ModeOpen;
  backend.gdi_mode_release = ModeRelease;
  backend.screen = ModeScreen;
  options.display_flags = uint32_t{DISPLAY_MODE_CHANGE} | STYLE_DIB;  // as /D1 /B2 leave them
  options.screen_width = 320, options.screen_height = 200;
  DisplaySetModeRequest(320, 200, 16);
  std::string movie = MovieFile("mode_logo.vxn", 3, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(rig.opened_widths, (std::vector<uint32_t>{64, 224}));
  // 320 x 200 is lower than the logo: the desktop comes back and the logo
  // sits in its middle.
  EXPECT_EQ(rig.layout_x, (1024 - 224) / 2);
  EXPECT_EQ(rig.layout_y, (768 - 252) / 2);
  const SummaryDisplay& shown = player.summary_display;
  EXPECT_STREQ(shown.style_name, "DIB Section");
  EXPECT_EQ(shown.screen_width, 320u) << "the movie's screen, not the logo's";
  EXPECT_EQ(shown.screen_height, 200u);
  EXPECT_EQ(g_mode_refs, 0);
}

TEST_F(PlayerLoop, SummaryDisplayIsTheMoviesAlsoWhenEscapeTakesIt) {
  rig.keys = {{1050, 27}};
  std::string movie = MovieFile("esc_summary.vxn", 300, 64, 48);
  ASSERT_EQ(Run(movie), 0);
  EXPECT_STREQ(player.summary_display.style_name, "DIB Section");
  EXPECT_EQ(player.summary_display.screen_width, 1024u);
  EXPECT_GT(player.summary.frames_played, 0u);
}

TEST_F(PlayerLoop, AbsentSoundTrackIsNotedForTheSummary) {
  std::string movie = MovieFile("no_track_5.vxn", 2, 64, 48);
  options.track_id = 5;
  options.open_flags |= OPEN_TRACKS;
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(player.missing_track, 5u);
  char text[96] = "Blitting style: DIB Section\n";
  SummaryNoteMissingTrack(player.missing_track, text, sizeof(text));
  EXPECT_STREQ(text, "Blitting style: DIB Section\nSound: track 5 is not in this movie\n");
  SummaryNoteMissingTrack(0, text, sizeof(text));
  EXPECT_STREQ(text, "Blitting style: DIB Section\nSound: track 5 is not in this movie\n");
  char tiny[8] = "abc";
  SummaryNoteMissingTrack(5, tiny, sizeof(tiny));  // cut, never past the buffer
  EXPECT_EQ(std::string(tiny).substr(0, 3), "abc");
  options.track_id = 0;
  ASSERT_EQ(Run(movie), 0);
  EXPECT_EQ(player.missing_track, 0u);
}

TEST(PlayerSleep, OversleepIsPaidBackUpToOneHundredMs) {
  EXPECT_EQ(PlayerIdleAfterSleep(10, 10), 0);
  EXPECT_EQ(PlayerIdleAfterSleep(10, 4), 6);
  EXPECT_EQ(PlayerIdleAfterSleep(10, 25), -15);
  EXPECT_EQ(PlayerIdleAfterSleep(10, 500), -100);
  EXPECT_EQ(PlayerIdleAfterSleep(1, 0xFFFFFFF0u), -100) << "no 32-bit wrap";
}

// ---- Moving in the movie and the volume -----------------------------------------------
std::string KeyedMovie(const char* name, uint32_t frames, uint32_t key_every = 30) {
  return FixtureWriteFile(name, FixtureBuild(FixtureBasic(frames, 64, 48, 100, key_every)));
}

// The frames shown right after each jump (a frame that does not follow the one before).
std::vector<int32_t> Landings(const std::vector<int32_t>& shown) {
  std::vector<int32_t> landed;
  for (size_t i = 1; i < shown.size(); ++i)
    if (shown[i] != shown[i - 1] + 1) landed.push_back(shown[i]);
  return landed;
}

TEST_F(PlayerLoop, ArrowKeysJumpFiveAndSixtySecondsAndShowTheFrameAtOnce) {
  options.show_stats = 1;
  rig.keys = {{1500, PLAYER_KEY_RIGHT}, {2000, PLAYER_KEY_LEFT}, {2500, PLAYER_KEY_UP}};
  ASSERT_EQ(Run(KeyedMovie("keys_arrows.vxn", 3000)), 0);
  std::vector<int32_t> jumps;
  size_t first_jump = 0;
  for (size_t i = 1; i < rig.shown.size(); ++i) {
    if (rig.shown[i] == rig.shown[i - 1] + 1) continue;
    if (!first_jump) first_jump = i;
    jumps.push_back(rig.shown[i] - rig.shown[i - 1]);
  }
  EXPECT_EQ(jumps, (std::vector<int32_t>{150, -150, 1800}));
  ASSERT_GT(first_jump, 0u);
  // The strip's position follows the jump: frame 16 + 150 is 5.5 s in.
  EXPECT_EQ(rig.texts[first_jump].substr(0, 15), "00:05 / 01:40, ");
  EXPECT_EQ(rig.shown.back(), 3000);
  // Jumping 5 s back and 65 s forwards shortens the playback by 60 s (each
  // jump showing its frame for one frame time).
  EXPECT_GT(rig.now - start, 100000u - 60000u + 2250u - 100u);
  EXPECT_LT(rig.now - start, 100000u - 60000u + 2250u + 200u);
}

TEST_F(PlayerLoop, JumpsStopAtTheEndsAndHomeGoesToTheStart) {
  options.show_stats = 1;
  rig.keys = {{1100, PLAYER_KEY_LEFT},
              {1300, PLAYER_KEY_HOME},
              {1500, PLAYER_KEY_DOWN},
              {1700, PLAYER_KEY_UP}};
  ASSERT_EQ(Run(KeyedMovie("keys_ends.vxn", 100)), 0);
  EXPECT_EQ(Landings(rig.shown), (std::vector<int32_t>{1, 1, 1, 100}));
  EXPECT_EQ(rig.shown.back(), 100) << "the jump to the last frame ends the movie";
  EXPECT_LT(rig.now - start, 700u + 2250u + 60u);
}

TEST_F(PlayerLoop, PageKeysGoFromKeyFrameToKeyFrame) {
  options.show_stats = 1;
  rig.keys = {{1500, PLAYER_KEY_PAGE_DOWN},
              {1505, PLAYER_KEY_PAGE_DOWN},
              {1510, PLAYER_KEY_PAGE_UP},
              {1515, PLAYER_KEY_PAGE_UP},
              {1520, PLAYER_KEY_PAGE_UP}};
  ASSERT_EQ(Run(KeyedMovie("keys_pages.vxn", 120)), 0);  // key frames 1, 31, 61, 91
  EXPECT_EQ(Landings(rig.shown), (std::vector<int32_t>{31, 61, 31, 1, 1}));
}

TEST_F(PlayerLoop, JumpsWhilePausedShowTheNewFrameAndStayPaused) {
  options.show_stats = 1;
  rig.keys = {{1100, ' '}, {1500, PLAYER_KEY_RIGHT}, {1600, PLAYER_KEY_RIGHT}, {3000, ' '}};
  ASSERT_EQ(Run(KeyedMovie("keys_paused.vxn", 600)), 0);
  const std::vector<int32_t> landed = Landings(rig.shown);
  ASSERT_EQ(landed.size(), 2u);
  EXPECT_EQ(landed[1], landed[0] + 150);
  // Nothing played between the two jumps: they are neighbours in the strip.
  auto at = std::find(rig.shown.begin(), rig.shown.end(), landed[0]);
  ASSERT_NE(at + 1, rig.shown.end());
  EXPECT_EQ(*(at + 1), landed[1]);
  EXPECT_GE(rig.now - start, 1900u + (600u - static_cast<uint32_t>(landed[1])) * 33u);
}

TEST_F(PlayerLoop, ClickOnThePicturePausesAndTheLogoKeepsItsPage) {
  rig.keys = {{1100, kClick}, {2100, kClick}, {1000 + 1000 + 1000 + 500, kClick}};
  ASSERT_EQ(Run(KeyedMovie("click.vxn", 30)), 0);
  EXPECT_EQ(Count(64), 30u);
  EXPECT_GE(rig.now - start, 1000u + 1000u - 40u);
  EXPECT_EQ(system.urls.size(), 1u) << "the click on the logo";
}

// ---- Volume: through the driver's own operation --------------------------------------
std::vector<int32_t>* g_volumes;
void RecordVolume(SoundTrack*, int32_t v) { g_volumes->push_back(v); }
int QuietReady(SoundTrack*) { return 0; }
int QuietSetOn(SoundTrack* t, int on) { return static_cast<int>(t->device_on = on ? 1 : 0); }
int QuietPause(SoundTrack*, int on) { return on; }
int VolumeTrackOpen(SoundTrack* t, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                    const SoundTrackContext*) {
  std::memset(static_cast<void*>(t), 0, sizeof(*t));
  t->ready = QuietReady;
  t->set_on = QuietSetOn;
  t->pause = QuietPause;
  t->set_volume = RecordVolume;
  t->volume_full = 1000;
  t->device_on = 1;
  t->rate = rate, t->bits = bits, t->channels = channels;
  return 1;
}
SoundTrackOpenFn VolumeDriver(uint32_t) { return VolumeTrackOpen; }

TEST_F(PlayerLoop, VolumeKeysStepByTenPercentMuteAndCarryToTheNextMovie) {
  std::vector<int32_t> volumes;
  g_volumes = &volumes;
  SoundDriverReset();
  ASSERT_EQ(SoundDriverSelect(VolumeDriver, 0), 1);
  FixtureMovie fixture = FixtureBasic(60, 64, 48);
  FixtureAddTrack(&fixture, 0, 22050 | AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO | AUDIO_TRACK_16BIT, 4096);
  const std::string a = FixtureWriteFile("volume_a.vxn", FixtureBuild(fixture));
  const std::string b = FixtureWriteFile("volume_b.vxn", FixtureBuild(fixture));
  rig.keys = {{1100, '-'}, {1110, '9'}, {1120, '-'}, {1130, 'm'}, {1140, 'm'}, {1150, '0'},
              {1160, 'm'}, {1170, '+'}};
  ASSERT_EQ(Run(a + " " + b), 0);
  SoundDriverReset();
  EXPECT_EQ(volumes, (std::vector<int32_t>{1000, 900, 800, 700, 0, 700, 800, 0, 900, 900}));
  EXPECT_EQ(player.volume_percent, 90u);
}

TEST_F(PlayerLoop, VolumeStaysWithinSilenceAndFull) {
  PlayerStateInit(&player, &options, &kOps);
  for (int i = 0; i < 3; ++i) PlayerOnChar(&player, '+');
  EXPECT_EQ(player.volume_percent, 100u);
  for (int i = 0; i < 12; ++i) PlayerOnChar(&player, '9');
  EXPECT_EQ(player.volume_percent, 0u);
  EXPECT_FALSE(PlayerOnVolumeChar(&player, 'x'));
}

}  // namespace

// ---- The Linux desktop's habits ------------------------------------------------------

TEST_F(PlayerLoop, ExactNamesPlayWithSpacesBarsAndNoExtension) {
#ifdef _WIN32
  const std::string spaced = MovieFile("with space.vxn", 2, 64, 48);  // '|' is no file-name character
#else
  const std::string spaced = MovieFile("with space|1.vxn", 2, 64, 48);
#endif
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
  EXPECT_EQ(rig.titles, (std::vector<std::string>{base + " 00:00 / 00:01 - Vorn Video Player",
                                                  base + " 00:00 / 00:01 (paused) - Vorn Video Player",
                                                  base + " 00:00 / 00:01 - Vorn Video Player",
                                                  "Vorn Video Player"}));
}

TEST_F(PlayerLoop, TitlePositionMovesEverySecondAndWithAJump) {
  rig.keys = {{1100, PLAYER_KEY_RIGHT}};
  const std::string movie = KeyedMovie("titled_jump.vxn", 300);
  ASSERT_EQ(RunExact({movie}), 0);
  const std::string base = movie.substr(movie.rfind('/') + 1);
  std::vector<std::string> want;
  for (const char* at : {"00:00", "00:05", "00:06", "00:07", "00:08", "00:09"})
    want.push_back(base + " " + at + " / 00:10 - Vorn Video Player");
  want.push_back("Vorn Video Player");
  EXPECT_EQ(rig.titles, want);
}

TEST_F(PlayerLoop, QuitKeyEndsWithoutWaitingForTheLogo) {
  options.plays_left = 0;  // endless
  rig.keys = {{1500, 'q'}};
  const std::string movie = MovieFile("quit_q.vxn", 4, 64, 48);
  ASSERT_EQ(RunExact({movie}), 0);
  EXPECT_LE(rig.now, 1500u + 60u) << "no 2250 ms of logo";
  EXPECT_GT(player.summary.frames_played, 10u) << "the summary describes the movie";
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
