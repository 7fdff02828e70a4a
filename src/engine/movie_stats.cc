// Run-time and summary statistics of a playing movie, and the summary text.
#include "engine/movie_stats.h"

#include <cstdio>
#include <cstring>

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

// "%i.%01i" of v / 10 and v mod 10.
void Figure(uint64_t v, char* text, size_t size) {
  int32_t s = static_cast<int32_t>(static_cast<uint32_t>(v));
  std::snprintf(text, size, "%i.%01i", s / 10, s % 10);
}

const char* Plural(uint32_t n) { return n == 1 ? "" : "s"; }

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

void DurationText(uint32_t t, char* text, size_t size) {
  if (t < 1000) {
    std::snprintf(text, size, "%u millisecond%s", t, Plural(t));
  } else if (t < 60000) {
    std::snprintf(text, size, "%u second%s", t / 1000, Plural(t / 1000));
  } else if (t < 3600000) {
    uint32_t m = t / 60000, s = t % 60000 / 1000;
    std::snprintf(text, size, "%u minute%s %u second%s", m, Plural(m), s, Plural(s));
  } else {
    uint32_t h = t / 3600000, m = t % 3600000 / 60000;
    std::snprintf(text, size, "%u hour%s %u minute%s", h, Plural(h), m, Plural(m));
  }
}

void DamageText(const MovieSummary& s, char* text, size_t size) {
  if (size == 0) return;
  text[0] = 0;
  if (s.damaged_frames == 0) return;
  std::snprintf(text, size, "Damaged or missing frames: %u (first at frame %u)", s.damaged_frames,
                s.first_damaged_frame);
}

int PlayerBuildSummary(const MovieSummary& s, const SummaryDisplay& display, char* text,
                       size_t size) {
  if (s.frames_played == 0) return 0;
  // A summary taken in the millisecond of the first decode has no duration:
  // its rates and shares are figured over 1 ms instead.
  uint64_t total = s.total_ms ? s.total_ms : 1;
  char file_rate[32], rate_played[48], rate_obtained[32], slowest[32], second_line[96];
  char shares[6][32], playback_time[48], open_time[48];
  Figure(s.file_rate_den ? uint64_t{s.file_rate_num} * 10 / s.file_rate_den : 0, file_rate,
         sizeof file_rate);
  if (s.rate_num && s.rate_den) {
    char figure[32];
    Figure(uint64_t{s.rate_num} * 10 / s.rate_den, figure, sizeof figure);
    std::snprintf(rate_played, sizeof rate_played, "%s frames/sec", figure);
  } else {
    std::snprintf(rate_played, sizeof rate_played, "As fast as possible");
  }
  Figure(uint64_t{s.frames_played} * 10000 / total, rate_obtained, sizeof rate_obtained);
  const uint32_t parts[6] = {s.video_ms, s.audio_ms, s.blit_ms,
                             s.read_ms,  s.idle_read_ms, s.background_read_ms};
  for (int i = 0; i < 6; ++i) Figure(uint64_t{parts[i]} * 1000 / total, shares[i], sizeof shares[i]);
  DurationText(s.total_ms, playback_time, sizeof playback_time);
  DurationText(s.open_ms, open_time, sizeof open_time);
  Figure(10000 / (s.slowest_ms ? s.slowest_ms : 1), slowest, sizeof slowest);
  second_line[0] = 0;
  if (s.frames_played > 1) {
    char figure[32];
    Figure(10000 / (s.second_slowest_ms ? s.second_slowest_ms : 1), figure, sizeof figure);
    std::snprintf(second_line, sizeof second_line, "Second slowest frame: %i (%s frames/sec)\n",
                  static_cast<int>(s.second_slowest_frame), figure);
  }
  // Only a damaged movie gets the line, so a whole one's summary is unchanged.
  char damage[96];
  DamageText(s, damage, sizeof damage - 1);
  if (damage[0]) std::strcat(damage, "\n");
  auto i = [](uint32_t v) { return static_cast<int>(v); };
  std::snprintf(
      text, size,
      "Video: %i x %i at %s frames/sec\nTotal frames: %i\n\nTotal frames played: %i\n"
      "Frame rate played: %s\nFrame rate obtained: %s frames/sec\nSkipped frames: %i\n"
      "Skipped blits: %i\nSound skips: %i\n%s\nPercentage spent decompressing video: %s\n"
      "Percentage spent decompressing audio: %s\nPercentage spent blitting: %s\n"
      "Percentage spent reading: %s\nPercentage spent reading while idle: %s\n"
      "Percentage spent reading in background: %s\nSpeed of playback device: %i bytes/sec\n\n"
      "Total playback time: %s\nTotal open time: %s\nSlowest frame: %i (%s frames/sec)\n%s\n"
      "Average data rate: %i\nAverage frame size: %i\nPeak data rate: %i bytes/sec (frame: %i)\n\n"
      "Total memory used: %i\nTotal input memory: %i\nHighest input memory used: %i\n\n"
      "Blitting style: %s\nVideo mode: %i x %i at %i bits\n",
      i(s.width), i(s.height), file_rate, i(s.frames), i(s.frames_played), rate_played,
      rate_obtained, i(s.skipped_frames), i(s.skipped_blits), i(s.sound_skips), damage, shares[0],
      shares[1], shares[2], shares[3], shares[4], shares[5], i(s.read_speed), playback_time,
      open_time, i(s.slowest_frame), slowest, second_line, i(s.average_rate),
      i(s.average_frame_size), i(s.peak_rate), i(s.peak_frame), i(s.memory_used),
      i(s.input_memory), i(s.highest_input), display.style_name ? display.style_name : "",
      i(display.screen_width), i(display.screen_height), i(display.bits_per_pixel));
  return 1;
}
