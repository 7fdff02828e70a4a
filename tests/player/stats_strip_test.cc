// The statistics strip's text from the run-time record.
#include <gtest/gtest.h>

#include <string>

#include "engine/movie_stats.h"
#include "player/stats_strip.h"

namespace {

TEST(StatsStrip, TextFromTheRunTimeRecord) {
  MovieRealtime r{};
  r.frame = 42;
  r.window_frames = 29;
  r.window_ms = 967;
  r.video_ms = 100, r.audio_ms = 50, r.blit_ms = 20;
  r.read_ms = 10, r.idle_read_ms = 9, r.background_read_ms = 97;
  r.fill_target = 65536, r.buffered = 32768;
  r.data_rate = 123456;
  char text[256];
  StatsStripText(r, text, sizeof(text));
  EXPECT_STREQ(text,
               "Fr: 42, FPS: 29.9, Buf: 50%, Vid: 10%, Aud: 5%, Blit: 2%, Read: 1%, Back: 10%, "
               "Rate: 123456");
}

TEST(StatsStrip, BufferFillRoundsToWholePercents) {
  MovieRealtime r{};
  r.window_ms = 1;
  r.fill_target = 65536;
  char text[256];
  r.buffered = 0;
  StatsStripText(r, text, sizeof(text));
  EXPECT_NE(std::string(text).find("Buf: 0%"), std::string::npos) << text;
  r.buffered = 65536;
  StatsStripText(r, text, sizeof(text));
  EXPECT_NE(std::string(text).find("Buf: 100%"), std::string::npos) << text;
  r.window_ms = 0;  // never from the engine; still no division by zero
  StatsStripText(r, text, sizeof(text));
}

}  // namespace
