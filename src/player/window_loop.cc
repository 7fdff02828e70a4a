// The main loop: window messages first, then the frame that is due, with
// sleeps of at most 10 ms between frames; looping, the next file, the
// closing logo and shutdown.
#include "player/window_loop.h"

#include <cstdio>
#include <cstring>

#include "convert/copy_to_buffer.h"
#include "display/display_buffer.h"
#include "engine/movie.h"
#include "logo/logo_movie.h"

namespace {

PlayerState g_player;

constexpr uint32_t kLogoMs = 2250;
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
  if (p.ops->hide) p.ops->hide();
  MessageBoxShow(text, kErrorCaption, MESSAGE_ERROR);
  p.quitting = 1;
  p.ops->destroy();
  return 1;
}

// The last path component: what a title shows of the name.
void NoteTitleName(PlayerState& p, const char* name) {
  const char* base = name;
  for (const char* c = name; *c; ++c)
    if (*c == '/' || (!p.names.exact && *c == '\\')) base = c + 1;
  std::snprintf(p.title_name, sizeof(p.title_name), "%.255s", base);
  PlayerUpdateTitle();
}

// Opens the named movie and sets it up; 0 to play on, else the exit code.
int OpenNamed(PlayerState& p, const char* name) {
  Movie* movie = nullptr;
  PlatformFile file = kInvalidFile;
  NamedOpenResult r = PlayerOpenNamed(p.options, name, &movie, &file, p.names.exact);
  if (r == NAMED_UPDATE_CHOSEN) {
    p.quitting = 1;
    p.ops->destroy();
    return 1;
  }
  if (r == NAMED_FAILED) return Fail(p, MovieGetError());
  p.movie = movie;
  p.file_handle = file;
  p.missing_track = PlayerMissingTrack(p.options, movie);
  PlayerApplyVolume();
  NoteTitleName(p, name);
  std::snprintf(p.movie_name, sizeof p.movie_name, "%s", name);
  return PlayerSetUpMovie() ? 0 : 1;
}

// A movie with damaged or missing frames plays on as far as it can; on
// closing it the front end gets one line saying so (the summary, when
// asked for, carries the same figures).
void WarnIfDamaged(PlayerState& p) {
  if (!p.movie || p.logo_mode || !p.movie->damaged_frames || !p.ops->warn) return;
  char line[kCommandTextSize + 160];
  std::snprintf(line, sizeof line,
                "Warning: %s: movie damaged: Damaged or missing frames: %u (first at frame %u)",
                p.movie_name, p.movie->damaged_frames, p.movie->first_damaged_frame);
  p.ops->warn(line);
}

// Closes the finished movie and opens the next name; 0 to play on.
int NextFile(PlayerState& p, const char* name) {
  WarnIfDamaged(p);
  MovieClose(p.movie);
  p.movie = nullptr;
  p.previous_display = p.display;
  p.display = nullptr;
  CloseFileHandle(p);
  p.options->plays_left = 1;
  if (!p.options->black_background) p.ops->top_left(&p.options->x, &p.options->y);
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
  ShowLogo();
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
  WarnIfDamaged(p);
  MovieClose(p.movie);
  p.movie = nullptr;
  CloseFileHandle(p);
  DisplayBufferClose(p.display);
  DisplayBufferClose(p.previous_display);
  p.display = p.previous_display = nullptr;
}

// Lets the destroyed window's quit message through, then gives everything back.
int EndWithError(PlayerState& p, int exit_code) {
  while (p.ops->pump()) {}
  ReleaseAll(p);
  return exit_code;
}

int Shutdown(PlayerState& p) {
  static char summary_text[4096];
  PlayerOptions* o = p.options;
  if (o->show_summary) {
    if (!PlayerBuildSummary(p.summary, p.summary_display, summary_text, sizeof(summary_text))) {
      o->show_summary = 0;
    } else {
      SummaryNoteMissingTrack(p.missing_track, summary_text, sizeof(summary_text));
      if (p.sound_note) {
        const size_t used = std::strlen(summary_text);
        std::snprintf(summary_text + used, sizeof(summary_text) - used, "Sound: %s\n",
                      p.sound_note);
      }
    }
  }
  ReleaseAll(p);
  if (o->show_summary) {
    p.ops->update_all();
    PlayerSystemHooks()->sleep_ms(10);
    MessageBoxShow(summary_text, kSummaryCaption, MESSAGE_INFO);
  }
  return 0;
}

}  // namespace

PlayerState* Player() { return &g_player; }

void PlayerStateInit(PlayerOptions* options, const PlayerWindowOps* ops) {
  g_player = PlayerState{};
  g_player.options = options;
  g_player.ops = ops;
  g_player.file_handle = kInvalidFile;
  g_player.no_black_fill = 1;
  g_player.volume_percent = 100;
}

int32_t PlayerIdleAfterSleep(int32_t idle_ms, uint32_t slept_ms) {
  // Oversleeping is paid back by later iterations, up to 100 ms.
  int64_t left = int64_t{idle_ms} - int64_t{slept_ms};
  return left < kOversleepDebtMs ? kOversleepDebtMs : static_cast<int32_t>(left);
}

void PlayerFrameStep() {
  PlayerState& p = g_player;
  Movie* movie = p.movie;
  DisplayBuffer* display = p.display;
  p.no_black_fill = 0;
  MovieDoFrame(movie);
  if (DisplayBufferLock(display)) {
    MovieCopyToBuffer(movie, display->bits, display->pitch, display->height, 0, 0, 0, 0,
                      movie->width, movie->height, display->flags | p.force_full_copy);
    p.force_full_copy = 0;
    DisplayBufferUnlock(display);
  }
  DisplayBufferBlit(display, movie->rects, MovieGetRects(movie, display->flags));
  bool last = movie->frame_num >= 0 && static_cast<uint32_t>(movie->frame_num) >= movie->frames;
  if (last && --p.options->plays_left == 0)
    p.advance_request = 1;  // 0 meant endless: it never reaches 0 again
  else
    MovieNextFrame(movie);
  if (p.options->show_stats) PlayerDrawStats();
  // The title's position moves on once a second.
  if (p.ops->set_title) {
    char position[sizeof(p.title_position)];
    PlayerPositionText(movie, position, sizeof(position));
    if (std::strcmp(position, p.title_position) != 0) PlayerUpdateTitle();
  }
  // After a single-step resume exactly one frame plays.
  if (p.user_paused) MovieSetPause(movie, 1);
}

int PlayerRun(const char* names, bool exact) {
  PlayerState& p = g_player;
  static char name[kCommandTextSize];
  const bool started = exact ? NameListStartExact(&p.names, p.options, names, name)
                             : NameListStart(&p.names, p.options, names, name);
  if (!started) return 0;
  int exit_code = OpenNamed(p, name);
  if (exit_code) return EndWithError(p, exit_code);
  int32_t idle_ms = 0;
  for (;;) {
    if (!p.ops->pump()) return Shutdown(p);
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
        PlayerFrameStep();
        if (p.movie && p.movie->frames_decoded == decoded) idle_ms += 1;
      }
    }
    if (p.user_paused || (!p.has_focus && !p.options->keep_playing_unfocused)) idle_ms += 5;
    SleepSlice(&idle_ms);
    if (p.logo_mode && !p.quitting &&
        (static_cast<int32_t>(MovieClockMs() - p.logo_end) > 0 || !p.movie || p.quit_request == 2)) {
      p.quitting = 1;
      p.ops->destroy();
    }
  }
}

void PlayerTakeSummary() {
  PlayerState& p = g_player;
  MovieGetSummary(p.movie, &p.summary);
  // The logo gets a display of its own later: the figures are read now.
  const DisplayBuffer* d = p.display;
  std::snprintf(p.summary_style, sizeof(p.summary_style), "%s", DisplayBufferStyleName(d));
  p.summary_display = {p.summary_style, d ? d->screen_width : 0, d ? d->screen_height : 0,
                       d ? d->screen_bits : 0};
}

void ShowLogo() {
  PlayerState& p = g_player;
  PlayerOptions* o = p.options;
  PlayerTakeSummary();
  WarnIfDamaged(p);
  Movie* logo = MovieOpen(kLogoMovie, OPEN_FROM_MEMORY);
  MovieClose(p.movie);
  p.movie = logo;
  p.logo_mode = 1;
  p.title_name[0] = 0;
  PlayerUpdateTitle();
  if (p.quit_now) p.quit_request = 2;  // q: the logo ends at once
  if (!logo) {
    p.logo_end = 0;
    return;
  }
  p.ops->fill_black();
  o->plays_left = -1;
  p.logo_end = MovieClockMs() + kLogoMs;
  o->show_stats = 0;
  p.user_paused = 0;
  DisplayBuffer* d = p.display;
  if (!d || d->width < logo->width || d->height < logo->height) {
    if ((o->display_flags & kDisplayModeChangeFlag) &&
        (static_cast<uint32_t>(o->screen_width) < logo->width ||
         static_cast<uint32_t>(o->screen_height) < logo->height)) {
      o->display_flags &= ~kDisplayModeChangeFlag;
      DisplayBufferClose(d);
      p.display = d = nullptr;
      o->black_background = 0;
    }
    DisplayBuffer* fresh = DisplayBufferOpen(p.window, logo->width, logo->height,
                                             o->display_flags & ~DISPLAY_CAP_MASK);
    if (!fresh) {
      MovieClose(logo);
      p.movie = nullptr;
      return;
    }
    DisplayBufferClose(d);
    p.display = d = fresh;
    if (!o->black_background) {
      // Centred on the screen as it is now: a mode given back above leaves
      // the desktop's size, not the one /D asked for.
      o->screen_width = static_cast<int32_t>(d->screen_width);
      o->screen_height = static_cast<int32_t>(d->screen_height);
      p.x_offset = p.y_offset = 0;
      PlayerLayoutWindow(static_cast<int32_t>(d->window_width), static_cast<int32_t>(d->window_height),
                         (o->screen_width - static_cast<int32_t>(logo->width)) / 2,
                         (o->screen_height - static_cast<int32_t>(logo->height)) / 2);
    }
  } else {
    DisplayBufferClear(d);
  }
  DisplayBufferSetScale(d, d->width, d->height);
  p.y_offset += static_cast<int32_t>(d->height - logo->height) / 2;
  p.x_offset += static_cast<int32_t>(d->width - logo->width) / 2;
  DisplayBufferSetOffset(d, p.x_offset, p.y_offset);
}

void PlayerTitleText(const char* name, const char* position, bool paused, char* title,
                     uint32_t size) {
  if (!name[0])
    std::snprintf(title, size, "Vorn Video Player");
  else
    std::snprintf(title, size, "%s%s%s%s - Vorn Video Player", name, position[0] ? " " : "",
                  position, paused ? " (paused)" : "");
}

void PlayerUpdateTitle() {
  PlayerState& p = g_player;
  if (!p.ops || !p.ops->set_title) return;
  if (p.logo_mode || !p.movie)
    p.title_position[0] = 0;
  else
    PlayerPositionText(p.movie, p.title_position, sizeof(p.title_position));
  char title[320];
  PlayerTitleText(p.title_name, p.title_position, p.user_paused != 0, title, sizeof(title));
  p.ops->set_title(title);
}

bool PlayerOnDropFile(const char* name) {
  PlayerState& p = g_player;
  if (p.logo_mode || p.quitting || !p.names.exact) return false;
  if (!ExactListPrepend(p.names.text, name)) return false;
  // The list's later passes do not replay a dropped movie.
  if (!(p.options->disabled_controls & 2)) {
    p.advance_request = 1;
    // A paused movie must reach the loop's advance step.
    p.user_paused = 0;
    MovieSetPause(p.movie, 0);
  }
  return true;
}

void PlayerOnQuitKey() {
  PlayerState& p = g_player;
  if (p.options->disabled_controls & 4) return;
  p.quit_now = 1;
  PlayerOnChar(27);
  if (p.logo_mode) p.quit_request = 2;
}

void PlayerShowSummary(const char* text) { MessageBoxShow(text, kSummaryCaption, MESSAGE_INFO); }
