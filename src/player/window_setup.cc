// Per-movie set-up of the window and display (presented size, automatic
// doubling, position, black background).
#include "player/window_setup.h"

#include "convert/copy_to_buffer.h"
#include "display/display_buffer.h"
#include "engine/movie.h"
#include "player/player_state.h"
#include "player/stats_strip.h"

namespace {

// Without a stored scaling mode a doubled size is made by the copy instead
// of a stretch: mode 1 doubles the height, 3 the width, 4 both.
void UseCopyDoubling(PlayerState& p) {
  Movie* m = p.movie;
  if (m->flags & OPEN_SCALE_MASK) return;
  const uint32_t w = m->width, h = m->height;
  const uint32_t pw = p.presented_width, ph = p.presented_height;
  uint32_t mode = 0;
  if (pw == w && ph == 2 * h) mode = SCALE_H2_DOUBLED;
  if (pw == 2 * w && ph == h) mode = SCALE_W2;
  if (pw == 2 * w && ph == 2 * h) mode = SCALE_W2_H2_DOUBLED;
  if (!mode) return;
  p.options->display_flags &= ~DISPLAY_CAP_MASK;
  m->flags |= mode << OPEN_SCALE_SHIFT;
  if (mode != SCALE_H2_DOUBLED) m->width *= 2;
  if (mode != SCALE_W2) m->height *= 2;
}

bool OpenDisplay(PlayerState& p) {
  DisplayBuffer* d = DisplayBufferOpen(p.window, p.movie->width, p.movie->height,
                                       p.options->display_flags);
  if (p.previous_display) {
    DisplayBufferClose(p.previous_display);
    p.previous_display = nullptr;
    // The old buffer may have held what the new one needed (a mode, DirectDraw).
    if (!d)
      d = DisplayBufferOpen(p.window, p.movie->width, p.movie->height, p.options->display_flags);
  }
  p.display = d;
  return d != nullptr;
}

void CentreWindow(PlayerState& p) {
  PlayerOptions* o = p.options;
  const DisplayBuffer* d = p.display;
  if (o->x == WINDOW_POS_CENTRE)
    o->x = d->window_width <= d->screen_width
               ? static_cast<int32_t>((d->screen_width - d->window_width) / 2) & ~3
               : -d->client_x_offset;
  if (o->y == WINDOW_POS_CENTRE)
    o->y = d->window_height <= d->screen_height
               ? static_cast<int32_t>((d->screen_height - d->window_height) / 2)
               : -d->client_y_offset;
}

}  // namespace

uint32_t StretchSize(int32_t num, int32_t den, uint32_t bit, uint32_t screen, uint32_t movie,
                     uint32_t* display_flags) {
  uint32_t t;
  if (num > 0 && den > 0)
    t = static_cast<uint32_t>(num / den);
  else if (num == 0 || den == 0)
    return movie;
  else if (num == -1 && den == 1)
    t = screen;  // full screen
  else
    t = static_cast<uint32_t>(uint64_t{movie} * static_cast<uint32_t>(-int64_t{num}) /
                              static_cast<uint32_t>(den));
  if (movie == 0) return t;
  if (t != movie && t % movie == 0) {
    *display_flags |= bit * 8;  // integer stretch
    return t;
  }
  if (t != 0 && t == movie) return t;
  if (t != 0 && movie % t == 0) {
    *display_flags |= bit * 2;  // integer shrink
    return t;
  }
  *display_flags |= t > movie ? bit * 4 : bit;
  return t;
}

bool PlayerSetUpMovie(PlayerState* player) {
  PlayerState& p = *player;
  PlayerOptions* o = p.options;
  Movie* m = p.movie;
  p.presented_width = StretchSize(o->width_num, o->width_den, 0x10000000,
                                  static_cast<uint32_t>(o->screen_width), m->width, &o->display_flags);
  p.presented_height = StretchSize(o->height_num, o->height_den, 0x1000000,
                                   static_cast<uint32_t>(o->screen_height), m->height,
                                   &o->display_flags);
  // The next movie of a list starts from these sizes.
  o->width_num = static_cast<int32_t>(p.presented_width);
  o->height_num = static_cast<int32_t>(p.presented_height);
  UseCopyDoubling(p);
  if (o->black_background || o->show_stats) p.no_black_fill = 0;

  if (!OpenDisplay(p)) {
    if (p.ops->hide) p.ops->hide(player);
    MessageBoxShow(DisplayLastError(), "Vorn Error", MESSAGE_ERROR);
    p.quitting = 1;
    p.ops->destroy(player);
    MovieClose(p.movie);
    p.movie = nullptr;
    return false;
  }
  DisplayBuffer* d = p.display;
  DisplayBufferSetScale(d, p.presented_width, p.presented_height);
  CentreWindow(p);
  if (o->black_background) {
    DisplayBufferAlignWindow(d, &o->x, &o->y);
    p.x_offset = o->x;
    p.y_offset = o->y;
    PlayerLayoutWindow(player, static_cast<int32_t>(d->screen_width + d->frame_width),
                       static_cast<int32_t>(d->screen_height + d->frame_height),
                       -d->client_x_offset, -d->client_y_offset);
  } else {
    p.x_offset = p.y_offset = 0;
    PlayerLayoutWindow(player, static_cast<int32_t>(d->window_width),
                       static_cast<int32_t>(d->window_height), o->x, o->y);
  }
  p.ops->show(player);
  DisplayBufferSetOffset(d, p.x_offset, p.y_offset);
  const uint32_t mode = (m->flags & OPEN_SCALE_MASK) >> OPEN_SCALE_SHIFT;
  if (mode == SCALE_H2_INTERLACED || mode == SCALE_W2_H2_INTERLACED || mode == SCALE_H1_INTERLACED) {
    // The copy writes every second line: a paint fills the others with black.
    p.ops->invalidate(player, p.x_offset, p.y_offset,
                      p.x_offset + static_cast<int32_t>(p.presented_width),
                      p.y_offset + static_cast<int32_t>(p.presented_height));
    p.no_black_fill = 0;
  }
  return true;
}

void PlayerLayoutWindow(PlayerState* player, int32_t width, int32_t height, int32_t x, int32_t y) {
  PlayerState& p = *player;
  if (p.options->show_stats) {
    int32_t text_width = 0, text_height = 0;
    p.ops->text_extent(player, kStatsSample, &text_width, &text_height);
    text_width += 8;
    if (width < text_width) {
      p.x_offset += ((text_width - width) / 2) & ~3;
      width = text_width;
    }
    p.strip_left = 0;
    p.strip_top = p.y_offset;
    p.strip_right = width;
    p.strip_bottom = p.y_offset + text_height;
    p.y_offset += text_height;
    height += text_height;
  }
  p.ops->layout(player, x, y, width, height);
}
