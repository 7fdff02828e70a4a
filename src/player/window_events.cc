// The window's events, forwarded by the front ends with their player: keys
// with a character, focus, paint, clicks, moves, dropped files.
#include "player/window_events.h"

#include "convert/copy_to_buffer.h"
#include "display/display_buffer.h"
#include "player/frame_step.h"
#include "player/player_state.h"
#include "player/player_system.h"
#include "player/seek_keys.h"
#include "player/window_title.h"
#include "vorn/movie.h"

namespace {

constexpr const char* kLogoPage = "https://vorn.example/?from=vornplay&ver=1.5t";

}  // namespace

void PlayerOnChar(PlayerState* player, int key) {
  PlayerState& p = *player;
  const int32_t disabled = p.options->disabled_controls;
  switch (key) {
    case ' ':
      if (disabled & 1) return;
      p.user_paused = ~p.user_paused;
      MovieSetPause(p.movie, p.user_paused ? 1 : 0);
      PlayerUpdateTitle(player);
      return;
    case '\r':
      if (disabled & 1) return;
      MovieSetPause(p.movie, 0);  // single step: user_paused stays
      return;
    case '.':
      if (!(disabled & 2) && !p.logo_mode) p.advance_request = 1;
      return;
    case 27:
      if (disabled & 4) return;
      p.options->list_plays_left = 1;
      p.names.text[0] = 0;
      if (p.logo_mode) {
        p.quit_request = 2;
      } else {
        p.quit_request = 1;
        PlayerTakeSummary(player);
      }
      MovieSetPause(p.movie, 0);
      return;
    default:
      PlayerOnVolumeChar(player, key);
      return;
  }
}

void PlayerOnFocus(PlayerState* player, bool gained) {
  PlayerState& p = *player;
  if (!p.options->keep_playing_unfocused)
    MovieSetPause(p.movie, gained ? (p.user_paused ? 1 : 0) : 1);
  p.has_focus = gained ? 1 : 0;
}

bool PlayerOnPaintBegin(PlayerState* player) {
  PlayerState& p = *player;
  p.force_full_copy = COPY_ALL;
  return !p.no_black_fill;
}

void PlayerOnPaintEnd(PlayerState* player) {
  PlayerState& p = *player;
  if (p.display) DisplayBufferBlit(p.display, nullptr, 1);
}

void PlayerOnClick(PlayerState* player) {
  if (player->logo_mode) PlayerSystemHooks()->open_url(kLogoPage);
}

void PlayerOnPosChanging(PlayerState* player, int32_t* x, int32_t* y) {
  PlayerState& p = *player;
  if (!p.display) return;
  int32_t ax = *x + p.x_offset, ay = *y + p.y_offset;
  DisplayBufferAlignWindow(p.display, &ax, &ay);
  *x = ax - p.x_offset;
  *y = ay - p.y_offset;
}

void PlayerOnPosChanged(PlayerState* player) {
  PlayerState& p = *player;
  if (p.display) DisplayBufferSetOffset(p.display, p.x_offset, p.y_offset);
}

void PlayerOnPictureClick(PlayerState* player) {
  PlayerState& p = *player;
  if (p.logo_mode) return PlayerOnClick(player);
  PlayerOnChar(player, ' ');  // with its /U1 mask
}

bool PlayerOnDropFile(PlayerState* player, const char* name) {
  PlayerState& p = *player;
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

void PlayerOnQuitKey(PlayerState* player) {
  PlayerState& p = *player;
  if (p.options->disabled_controls & 4) return;
  p.quit_now = 1;
  PlayerOnChar(player, 27);
  if (p.logo_mode) p.quit_request = 2;
}
