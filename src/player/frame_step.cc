// One frame on screen, the closing logo, and the figures a movie leaves for
// the summary and the damage warning.
#include "player/frame_step.h"

#include <cstdio>
#include <cstring>

#include "convert/copy_to_buffer.h"
#include "display/display_buffer.h"
#include "engine/movie.h"
#include "logo/logo_movie.h"
#include "player/player_state.h"
#include "player/position_text.h"
#include "player/stats_strip.h"
#include "player/window_setup.h"
#include "player/window_title.h"

namespace {

constexpr uint32_t kLogoMs = 2250;

}  // namespace

void PlayerFrameStep(PlayerState* player) {
  PlayerState& p = *player;
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
  if (p.options->show_stats) PlayerDrawStats(player);
  // The title's position moves on once a second.
  if (p.ops->set_title) {
    char position[sizeof(p.title_position)];
    PlayerPositionText(movie, position, sizeof(position));
    if (std::strcmp(position, p.title_position) != 0) PlayerUpdateTitle(player);
  }
  // After a single-step resume exactly one frame plays.
  if (p.user_paused) MovieSetPause(movie, 1);
}

void PlayerTakeSummary(PlayerState* player) {
  PlayerState& p = *player;
  MovieGetSummary(p.movie, &p.summary);
  // The logo gets a display of its own later: the figures are read now.
  const DisplayBuffer* d = p.display;
  std::snprintf(p.summary_style, sizeof(p.summary_style), "%s", DisplayBufferStyleName(d));
  p.summary_display = {p.summary_style, d ? d->screen_width : 0, d ? d->screen_height : 0,
                       d ? d->screen_bits : 0};
}

void PlayerWarnIfDamaged(PlayerState* player) {
  PlayerState& p = *player;
  if (!p.movie || p.logo_mode || !p.movie->damaged_frames || !p.ops->warn) return;
  char line[kCommandTextSize + 160];
  std::snprintf(line, sizeof line,
                "Warning: %s: movie damaged: Damaged or missing frames: %u (first at frame %u)",
                p.movie_name, p.movie->damaged_frames, p.movie->first_damaged_frame);
  p.ops->warn(player, line);
}

void ShowLogo(PlayerState* player) {
  PlayerState& p = *player;
  PlayerOptions* o = p.options;
  PlayerTakeSummary(player);
  PlayerWarnIfDamaged(player);
  Movie* logo = MovieOpen(kLogoMovie, OPEN_FROM_MEMORY);
  MovieClose(p.movie);
  p.movie = logo;
  p.logo_mode = 1;
  p.title_name[0] = 0;
  PlayerUpdateTitle(player);
  if (p.quit_now) p.quit_request = 2;  // q: the logo ends at once
  if (!logo) {
    p.logo_end = 0;
    return;
  }
  p.ops->fill_black(player);
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
      PlayerLayoutWindow(player, static_cast<int32_t>(d->window_width),
                         static_cast<int32_t>(d->window_height),
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
