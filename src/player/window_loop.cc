// The main loop: window messages first, then the frame that is due, with
// sleeps of at most 10 ms between frames; looping, the next file, the
// closing logo and shutdown.
#include "player/window_loop.h"

#include <cstdio>

#include "display/display_buffer.h"
#include "engine/movie.h"
#include "player/frame_step.h"
#include "player/player_open.h"
#include "player/player_state.h"
#include "player/player_system.h"
#include "player/seek_keys.h"
#include "player/summary_text.h"
#include "player/window_setup.h"
#include "player/window_title.h"

namespace {

constexpr int32_t kSleepSliceMs = 10;
constexpr int32_t kOversleepDebtMs = -100;
constexpr const char* kErrorCaption = "Vorn Error";
constexpr const char* kSummaryCaption = "Vorn Playback Summary";

void CloseFileHandle(PlayerState& p) {
  if (p.file_handle != kInvalidFile) FileClose(p.file_handle);
  p.file_handle = kInvalidFile;
}

// Shows a failure that stops playing; the window goes and the exit code is 1.
int Fail(PlayerState& p, const char* text) {
  if (p.ops->hide) p.ops->hide(&p);
  MessageBoxShow(text, kErrorCaption, MESSAGE_ERROR);
  p.quitting = 1;
  p.ops->destroy(&p);
  return 1;
}

// The last path component: what a title shows of the name.
void NoteTitleName(PlayerState& p, const char* name) {
  const char* base = name;
  for (const char* c = name; *c; ++c)
    if (*c == '/' || (!p.names.exact && *c == '\\')) base = c + 1;
  std::snprintf(p.title_name, sizeof(p.title_name), "%.255s", base);
  PlayerUpdateTitle(&p);
}

// Opens the named movie and sets it up; 0 to play on, else the exit code.
int OpenNamed(PlayerState& p, const char* name) {
  Movie* movie = nullptr;
  PlatformFile file = kInvalidFile;
  NamedOpenResult r = PlayerOpenNamed(p.options, name, &movie, &file, p.names.exact);
  if (r == NAMED_UPDATE_CHOSEN) {
    p.quitting = 1;
    p.ops->destroy(&p);
    return 1;
  }
  if (r == NAMED_FAILED) return Fail(p, MovieGetError());
  p.movie = movie;
  p.file_handle = file;
  p.missing_track = PlayerMissingTrack(p.options, movie);
  PlayerApplyVolume(&p);
  NoteTitleName(p, name);
  std::snprintf(p.movie_name, sizeof p.movie_name, "%s", name);
  return PlayerSetUpMovie(&p) ? 0 : 1;
}

// Closes the finished movie and opens the next name; 0 to play on.
int NextFile(PlayerState& p, const char* name) {
  PlayerWarnIfDamaged(&p);
  MovieClose(p.movie);
  p.movie = nullptr;
  p.previous_display = p.display;
  p.display = nullptr;
  CloseFileHandle(p);
  p.options->plays_left = 1;
  if (!p.options->black_background) p.ops->top_left(&p, &p.options->x, &p.options->y);
  return OpenNamed(p, name);
}

enum StepResult { STEP_ON, STEP_NEXT_FILE, STEP_EXIT };

// The finished movie makes way: the next name, the list again, or the logo.
StepResult Advance(PlayerState& p, char* name, int* exit_code) {
  p.advance_request = 0;
  p.quit_request = 0;
  MovieSetPause(p.movie, 1);
  if (NameListAdvance(&p.names, p.options, name)) {
    *exit_code = NextFile(p, name);
    return *exit_code ? STEP_EXIT : STEP_NEXT_FILE;
  }
  ShowLogo(&p);
  return STEP_ON;
}

void SleepSlice(int32_t* idle_ms) {
  if (*idle_ms <= 0) return;
  if (*idle_ms > kSleepSliceMs) *idle_ms = kSleepSliceMs;
  uint32_t before = MovieClockMs();
  PlayerSystemHooks()->sleep_ms(static_cast<uint32_t>(*idle_ms));
  *idle_ms = PlayerIdleAfterSleep(*idle_ms, MovieClockMs() - before);
}

// Everything the player holds, in the reverse order of taking it; closing
// the display buffers also restores a changed screen mode.
void ReleaseAll(PlayerState& p) {
  PlayerWarnIfDamaged(&p);
  MovieClose(p.movie);
  p.movie = nullptr;
  CloseFileHandle(p);
  DisplayBufferClose(p.display);
  DisplayBufferClose(p.previous_display);
  p.display = p.previous_display = nullptr;
}

// Lets the destroyed window's quit message through, then gives everything back.
int EndWithError(PlayerState& p, int exit_code) {
  while (p.ops->pump(&p)) {}
  ReleaseAll(p);
  return exit_code;
}

int Shutdown(PlayerState& p) {
  char summary_text[4096];
  PlayerOptions* o = p.options;
  if (o->show_summary && !PlayerSummaryText(p.summary, p.summary_display, p.missing_track,
                                             p.sound_note, summary_text, sizeof(summary_text)))
    o->show_summary = 0;
  ReleaseAll(p);
  if (o->show_summary) {
    p.ops->update_all(&p);
    PlayerSystemHooks()->sleep_ms(10);
    MessageBoxShow(summary_text, kSummaryCaption, MESSAGE_INFO);
  }
  return 0;
}

}  // namespace

int32_t PlayerIdleAfterSleep(int32_t idle_ms, uint32_t slept_ms) {
  // Oversleeping is paid back by later iterations, up to 100 ms.
  int64_t left = int64_t{idle_ms} - int64_t{slept_ms};
  return left < kOversleepDebtMs ? kOversleepDebtMs : static_cast<int32_t>(left);
}

int PlayerRun(PlayerState* player, const char* names, bool exact) {
  PlayerState& p = *player;
  char name[kCommandTextSize];
  const bool started = exact ? NameListStartExact(&p.names, p.options, names, name)
                             : NameListStart(&p.names, p.options, names, name);
  if (!started) return 0;
  int exit_code = OpenNamed(p, name);
  if (exit_code) return EndWithError(p, exit_code);
  int32_t idle_ms = 0;
  for (;;) {
    if (!p.ops->pump(&p)) return Shutdown(p);
    int w = MovieWait(p.movie);
    if ((w != 0 && p.quit_request != 1) || p.quitting) {
      idle_ms += 1;
    } else {
      if (p.advance_request || p.quit_request == 1) {
        StepResult r = Advance(p, name, &exit_code);
        if (r == STEP_EXIT) return EndWithError(p, exit_code);
        if (r == STEP_NEXT_FILE) {
          idle_ms = 0;
          continue;
        }
      }
      if (p.movie) {
        // A movie of one frame that loops (the logo) decodes nothing new and
        // is always due: without a pause here the loop would spin the
        // processor until the logo's time is up.
        const uint32_t decoded = p.movie->frames_decoded;
        PlayerFrameStep(&p);
        if (p.movie && p.movie->frames_decoded == decoded) idle_ms += 1;
      }
    }
    if (p.user_paused || (!p.has_focus && !p.options->keep_playing_unfocused)) idle_ms += 5;
    SleepSlice(&idle_ms);
    if (p.logo_mode && !p.quitting &&
        (static_cast<int32_t>(MovieClockMs() - p.logo_end) > 0 || !p.movie || p.quit_request == 2)) {
      p.quitting = 1;
      p.ops->destroy(&p);
    }
  }
}

