// The statistics strip: one line over the last second of playback, drawn
// above the movie after every frame with /Q.
#include "player/stats_strip.h"

#include <cstdio>

#include "display/display_buffer.h"
#include "player/player_state.h"
#include "player/position_text.h"
#include "vorn/movie.h"

namespace {

// Share of the run-time window, in percent (window_ms is never 0).
uint32_t Percent(uint32_t ms, uint32_t window_ms) {
  return static_cast<uint32_t>(uint64_t{ms} * 100 / window_ms);
}

}  // namespace

void StatsStripText(const MovieRealtime& r, char* text, uint32_t size) {
  const uint32_t window_ms = r.window_ms ? r.window_ms : 1;
  const uint32_t fps10 = static_cast<uint32_t>(uint64_t{r.window_frames} * 10000 / window_ms);
  const uint32_t buf = static_cast<uint32_t>(
      ((uint64_t{r.buffered} + 1) * 1000 / (uint64_t{r.fill_target} + 1) + 5) / 10);
  std::snprintf(text, size,
                "Fr: %u, FPS: %u.%u, Buf: %u%%, Vid: %u%%, Aud: %u%%, Blit: %u%%, Read: %u%%, "
                "Back: %u%%, Rate: %u",
                r.frame, fps10 / 10, fps10 % 10, buf, Percent(r.video_ms, window_ms),
                Percent(r.audio_ms, window_ms), Percent(r.blit_ms, window_ms),
                Percent(r.read_ms + r.idle_read_ms, window_ms),
                Percent(r.background_read_ms, window_ms), r.data_rate);
}

void PlayerDrawStats(PlayerState* player) {
  PlayerState& p = *player;
  if (!p.movie) return;
  MovieRealtime r;
  MovieGetRealtime(p.movie, 0, &r);
  char stats[256];
  StatsStripText(r, stats, sizeof(stats));
  char position[48];
  PlayerPositionText(p.movie, position, sizeof(position));
  char text[320];
  std::snprintf(text, sizeof(text), "%s, %s", position, stats);
  // The primary-surface style takes the strip into the screen surface itself.
  if (!DisplayBufferDrawText(p.display, text, p.strip_left, p.strip_top, p.strip_right,
                             p.strip_bottom))
    p.ops->draw_strip(player, text, p.strip_left, p.strip_top, p.strip_right, p.strip_bottom);
}
