// The playback summary's text from the engine's summary record.
#include "player/summary_text.h"

#include <cstdio>
#include <cstring>

namespace {

// "%i.%01i" of v / 10 and v mod 10.
void Figure(uint64_t v, char* text, size_t size) {
  int32_t s = static_cast<int32_t>(static_cast<uint32_t>(v));
  std::snprintf(text, size, "%i.%01i", s / 10, s % 10);
}

const char* Plural(uint32_t n) { return n == 1 ? "" : "s"; }

}  // namespace

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

void SummaryNoteMissingTrack(uint32_t track_id, char* text, uint32_t size) {
  if (!track_id || !size) return;
  const size_t used = std::strlen(text);
  if (used + 1 >= size) return;
  std::snprintf(text + used, size - used, "Sound: track %u is not in this movie\n", track_id);
}

bool PlayerSummaryText(const MovieSummary& summary, const SummaryDisplay& display,
                       uint32_t missing_track, const char* sound_note, char* text, size_t size) {
  if (!PlayerBuildSummary(summary, display, text, size)) return false;
  SummaryNoteMissingTrack(missing_track, text, static_cast<uint32_t>(size));
  if (sound_note) {
    const size_t used = std::strlen(text);
    std::snprintf(text + used, size - used, "Sound: %s\n", sound_note);
  }
  return true;
}
