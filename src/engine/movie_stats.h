// The engine's statistics: the run-time record over the last second and the
// summary record of a whole playback (their texts are the player's:
// player/summary_text.h, player/stats_strip.h).
#pragma once
#include <cstdint>

struct Movie;

// Figures over the last window_frames frames (history arrays, newest first).
struct MovieRealtime {
  uint32_t frame;  // shown_frame_num
  uint32_t rate_num, rate_den;
  uint32_t window_frames;  // n, the frames the figures cover
  uint32_t window_ms;      // never 0
  uint32_t video_ms, audio_ms, read_ms, idle_read_ms, background_read_ms, blit_ms;
  uint32_t fill_target, buffered;
  uint32_t data_rate;  // bytes per second of the last n frames
};

// Figures over the whole playback; zeroed before filling.
struct MovieSummary {
  uint32_t width, height;
  uint32_t total_ms;
  uint32_t file_rate_num, file_rate_den;
  uint32_t rate_num, rate_den;
  uint32_t open_ms;
  uint32_t frames;
  uint32_t frames_played;
  uint32_t skipped_frames;  // always 0: every frame is decoded
  uint32_t skipped_blits;
  uint32_t sound_skips;
  uint32_t blit_ms, read_ms, video_ms, audio_ms, idle_read_ms, background_read_ms;
  uint32_t read_speed;  // bytes per second of the reader's file reads
  uint32_t slowest_ms, second_slowest_ms;
  uint32_t slowest_frame, second_slowest_frame;
  uint32_t average_rate, average_frame_size;
  uint32_t memory_used, input_memory, highest_input;
  uint32_t peak_rate, peak_frame;  // peak_frame counts from 1
  // Frames not shown as stored (missing bytes or damaged video data) and the
  // first of them (0 = none): a damaged movie must not pass for a good one.
  uint32_t damaged_frames, first_damaged_frame;
};
static_assert(sizeof(MovieRealtime) == 14 * 4);
static_assert(sizeof(MovieSummary) == 33 * 4);

// Both first book pending blit time and the slowest-frame time, as every
// operation that ends a frame's display does. A null movie leaves out as it is.
void MovieGetRealtime(Movie* movie, uint32_t window_frames, MovieRealtime* out);
void MovieGetSummary(Movie* movie, MovieSummary* out);
