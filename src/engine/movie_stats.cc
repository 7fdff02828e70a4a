// Run-time and summary statistics of a playing movie (the player makes their texts).
#include "engine/movie_stats.h"

#include "engine/movie.h"
#include "engine/movie_clock.h"

namespace {

constexpr uint32_t kOffsetMask = ~1u;  // index entries carry the key-frame flag in bit 0

// a x b / c in 64 bits, with 0 for a zero divisor (a header with a zero
// rate or frame count must not stop the statistics).
uint32_t MulDiv(uint64_t a, uint64_t b, uint64_t c) {
  return c ? static_cast<uint32_t>(a * b / c) : 0;
}

// The requested window, bounded by the history and by the frames played.
uint32_t WindowFrames(const Movie* movie, uint32_t requested) {
  uint32_t last = movie->history_len ? movie->history_len - 1 : 0;
  uint32_t n = requested;
  if (n == 0 || n >= movie->history_len) n = last;
  if (static_cast<int64_t>(n) > movie->frame_num) {
    n = movie->frame_num > 1 ? static_cast<uint32_t>(movie->frame_num - 1) : 0;
    if (n == 0) n = 1;
  }
  return n < last ? n : last;
}

void NoteDisplayEnd(Movie* movie) {
  uint32_t now = MovieClockMs();
  MovieBookBlitTime(movie, now);
  MovieNoteFrameTime(movie, now);
}

}  // namespace

void MovieGetRealtime(Movie* movie, uint32_t window_frames, MovieRealtime* out) {
  if (!movie || !out) return;
  NoteDisplayEnd(movie);
  uint32_t n = WindowFrames(movie, window_frames);
  const IoReader& io = movie->io;
  *out = MovieRealtime{};
  out->frame = static_cast<uint32_t>(movie->shown_frame_num);
  out->rate_num = movie->rate_num;
  out->rate_den = movie->rate_den;
  out->window_frames = n;
  out->window_ms = movie->history_time[0] - movie->history_time[n];
  if (out->window_ms == 0) out->window_ms = 1;
  out->video_ms = movie->history_video[0] - movie->history_video[n];
  out->audio_ms = movie->history_audio[0] - movie->history_audio[n];
  out->read_ms = movie->history_read[0] - movie->history_read[n];
  out->idle_read_ms = movie->history_idle_read[0] - movie->history_idle_read[n];
  out->background_read_ms = movie->history_background_read[0] - movie->history_background_read[n];
  out->blit_ms = movie->history_blit[0] - movie->history_blit[n];
  out->fill_target = io.fill_target;
  out->buffered = io.buffered.load(std::memory_order_relaxed);
  // A window of no frames (a movie under two frames a second) has no rate.
  if (n > 0 && movie->frame_num > 0 && static_cast<uint32_t>(movie->frame_num) <= movie->index_frames) {
    uint32_t f = static_cast<uint32_t>(movie->frame_num);
    uint32_t bytes = (movie->frame_index[f] & kOffsetMask) - (movie->frame_index[f - n] & kOffsetMask);
    out->data_rate = MulDiv(bytes, movie->file_rate_num, uint64_t{n} * movie->file_rate_den);
  }
}

void MovieGetSummary(Movie* movie, MovieSummary* out) {
  if (!movie || !out) return;
  NoteDisplayEnd(movie);
  const IoReader& io = movie->io;
  MovieSummary s{};
  s.width = movie->width;
  s.height = movie->height;
  // The first decode may be noted as 1 while the clock still reads 0.
  const uint32_t since_first = MovieClockMs() - movie->first_frame_time;
  s.total_ms = static_cast<int32_t>(since_first) < 0 ? 0 : since_first;
  s.file_rate_num = movie->file_rate_num;
  s.file_rate_den = movie->file_rate_den;
  s.rate_num = movie->rate_num;
  s.rate_den = movie->rate_den;
  s.open_ms = movie->open_ms;
  s.frames = movie->frames;
  s.frames_played = movie->frames_decoded;
  s.skipped_frames = 0;
  s.skipped_blits = movie->skipped_blits;
  s.sound_skips = movie->sound_skips;
  s.blit_ms = movie->blit_ms;
  s.read_ms = io.frame_read_time_ms;
  s.video_ms = movie->video_ms;
  s.audio_ms = movie->audio_ms;
  s.idle_read_ms = io.idle_read_time_ms;
  s.background_read_ms = io.background_read_time_ms;
  s.read_speed = MulDiv(io.total_bytes_read, 1000, uint64_t{io.read_time_ms} + 1);
  s.slowest_ms = movie->slowest_ms;
  s.second_slowest_ms = movie->second_slowest_ms;
  s.slowest_frame = movie->slowest_frame;
  s.second_slowest_frame = movie->second_slowest_frame;
  uint32_t data = movie->size_less_8 - (movie->frame_index[0] & kOffsetMask);
  s.average_rate = MulDiv(data, movie->file_rate_num, uint64_t{movie->frames} * movie->file_rate_den);
  s.average_frame_size = movie->frames ? data / movie->frames : 0;
  s.memory_used = movie->memory_used;
  s.input_memory = io.buffer_size;
  s.highest_input = io.highest_buffered;
  s.peak_rate = movie->peak_rate;
  s.peak_frame = movie->peak_frame + 1;
  s.damaged_frames = movie->damaged_frames;
  s.first_damaged_frame = movie->first_damaged_frame;
  *out = s;
}
