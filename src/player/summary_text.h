// The texts made from the engine's playback summary record: the summary
// box the player shows at the end (/S), also printed by vorntool play, and
// its wordings of durations and damage.
#pragma once
#include <cstddef>
#include <cstdint>

#include "engine/movie_stats.h"

// "1 millisecond", "40 seconds", "1 minute 1 second", "2 hours 1 minute".
void DurationText(uint32_t ms, char* text, size_t size);

// The display side of the summary: what the player's display buffer reports.
struct SummaryDisplay {
  const char* style_name;
  uint32_t screen_width, screen_height, bits_per_pixel;
};

// "Damaged or missing frames: N (first at frame K)" for a damaged movie, an
// empty text for a whole one.
void DamageText(const MovieSummary& summary, char* text, size_t size);

// The playback summary text. Returns 0 and builds nothing when no frame was
// played (the summary is then not shown).
int PlayerBuildSummary(const MovieSummary& summary, const SummaryDisplay& display, char* text,
                       size_t size);

// Appends the summary's line for a /T track the movie does not have
// ("Sound: track 5 is not in this movie"); nothing for 0.
void SummaryNoteMissingTrack(uint32_t track_id, char* text, uint32_t size);

// The whole box text of the player: the summary, the missing track's line
// and, with a sound note, "Sound: <note>". False when no frame was played.
bool PlayerSummaryText(const MovieSummary& summary, const SummaryDisplay& display,
                       uint32_t missing_track, const char* sound_note, char* text, size_t size);
