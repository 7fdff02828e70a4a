// The statistics strip (/Q): one line over the last second of playback,
// drawn above the movie after every frame.
#pragma once
#include <cstdint>

#include "engine/movie_stats.h"

struct PlayerState;

// The widest line the strip is sized for.
inline constexpr const char* kStatsSample =
    "00:00 / 00:00, Fre: 2000, FPS: 100.0, Buf: 100%, Vid: 55%, Aud: 55%, Blit: 55%, Read: 55%, Back: 55%, "
    "Rate: 1000000";
// The strip's text for a run-time record.
void StatsStripText(const MovieRealtime& r, char* text, uint32_t size);
// Draws the strip for the player's current movie.
void PlayerDrawStats(PlayerState* player);
