// Duration wording and the playback summary text, alone and as the
// player's box shows it.
#include <gtest/gtest.h>

#include <string>

#include "player/summary_text.h"

namespace {

std::string Duration(uint32_t ms) {
  char text[64];
  DurationText(ms, text, sizeof text);
  return text;
}

TEST(DurationText, WordsAndPlurals) {
  EXPECT_EQ(Duration(0), "0 milliseconds");
  EXPECT_EQ(Duration(1), "1 millisecond");
  EXPECT_EQ(Duration(999), "999 milliseconds");
  EXPECT_EQ(Duration(1000), "1 second");
  EXPECT_EQ(Duration(1999), "1 second");
  EXPECT_EQ(Duration(40300), "40 seconds");
  EXPECT_EQ(Duration(60000), "1 minute 0 seconds");
  EXPECT_EQ(Duration(61000), "1 minute 1 second");
  EXPECT_EQ(Duration(125000), "2 minutes 5 seconds");
  EXPECT_EQ(Duration(3600000), "1 hour 0 minutes");
  EXPECT_EQ(Duration(7260000), "2 hours 1 minute");
  EXPECT_EQ(Duration(0xFFFFFFFFu), "1193 hours 2 minutes");
}

MovieSummary SampleSummary() {
  MovieSummary s{};
  s.width = 320;
  s.height = 240;
  s.total_ms = 40300;
  s.file_rate_num = 30000;
  s.file_rate_den = 1001;
  s.rate_num = 15;
  s.rate_den = 1;
  s.open_ms = 61000;
  s.frames = 1209;
  s.frames_played = 1200;
  s.skipped_blits = 4;
  s.sound_skips = 2;
  s.video_ms = 12090;  // 30.0 %
  s.audio_ms = 403;    // 1.0 %
  s.blit_ms = 4030;    // 10.0 %
  s.read_ms = 40;      // 0.0 %
  s.idle_read_ms = 100;
  s.background_read_ms = 2015;
  s.read_speed = 1234567;
  s.slowest_ms = 45;
  s.slowest_frame = 17;
  s.second_slowest_ms = 0;
  s.second_slowest_frame = 2;
  s.average_rate = 150000;
  s.average_frame_size = 5000;
  s.peak_rate = 190000;
  s.peak_frame = 12;
  s.memory_used = 987654;
  s.input_memory = 196608;
  s.highest_input = 180224;
  return s;
}

TEST(PlayerBuildSummary, ExactText) {
  char text[4096];
  const SummaryDisplay display = {"GDI DIB section", 1024, 768, 32};
  ASSERT_EQ(PlayerBuildSummary(SampleSummary(), display, text, sizeof text), 1);
  EXPECT_EQ(std::string(text),
            "Video: 320 x 240 at 29.9 frames/sec\n"
            "Total frames: 1209\n"
            "\n"
            "Total frames played: 1200\n"
            "Frame rate played: 15.0 frames/sec\n"
            "Frame rate obtained: 29.7 frames/sec\n"
            "Skipped frames: 0\n"
            "Skipped blits: 4\n"
            "Sound skips: 2\n"
            "\n"
            "Percentage spent decompressing video: 30.0\n"
            "Percentage spent decompressing audio: 1.0\n"
            "Percentage spent blitting: 10.0\n"
            "Percentage spent reading: 0.0\n"
            "Percentage spent reading while idle: 0.2\n"
            "Percentage spent reading in background: 5.0\n"
            "Speed of playback device: 1234567 bytes/sec\n"
            "\n"
            "Total playback time: 40 seconds\n"
            "Total open time: 1 minute 1 second\n"
            "Slowest frame: 17 (22.2 frames/sec)\n"
            "Second slowest frame: 2 (1000.0 frames/sec)\n"
            "\n"
            "Average data rate: 150000\n"
            "Average frame size: 5000\n"
            "Peak data rate: 190000 bytes/sec (frame: 12)\n"
            "\n"
            "Total memory used: 987654\n"
            "Total input memory: 196608\n"
            "Highest input memory used: 180224\n"
            "\n"
            "Blitting style: GDI DIB section\n"
            "Video mode: 1024 x 768 at 32 bits\n");
}

TEST(PlayerBuildSummary, OneFrameAndFreeRate) {
  MovieSummary s = SampleSummary();
  s.frames_played = 1;
  s.rate_num = 0;
  char text[4096];
  ASSERT_EQ(PlayerBuildSummary(s, {"x", 1, 2, 3}, text, sizeof text), 1);
  std::string t = text;
  EXPECT_NE(t.find("Frame rate played: As fast as possible\n"), std::string::npos);
  // No second-slowest line, just the empty line in its place.
  EXPECT_NE(t.find("Slowest frame: 17 (22.2 frames/sec)\n\nAverage data rate"), std::string::npos);
}

TEST(PlayerBuildSummary, ADamagedMovieSaysSoAfterTheSkipLines) {
  MovieSummary s = SampleSummary();
  char whole[4096];
  ASSERT_EQ(PlayerBuildSummary(s, {"x", 1, 2, 3}, whole, sizeof whole), 1);
  EXPECT_EQ(std::string(whole).find("Damaged"), std::string::npos);
  s.damaged_frames = 151;
  s.first_damaged_frame = 150;
  char text[4096];
  ASSERT_EQ(PlayerBuildSummary(s, {"x", 1, 2, 3}, text, sizeof text), 1);
  std::string t = text;
  const std::string line = "Damaged or missing frames: 151 (first at frame 150)\n";
  EXPECT_NE(t.find("Sound skips: 2\n" + line + "\nPercentage"), std::string::npos) << t;
  // Apart from that one line the text is the whole movie's.
  t.erase(t.find(line), line.size());
  EXPECT_EQ(t, whole);
}

TEST(PlayerBuildSummary, NothingWithoutAPlayedFrame) {
  MovieSummary s = SampleSummary();
  s.frames_played = 0;
  char text[16] = "unchanged";
  EXPECT_EQ(PlayerBuildSummary(s, {"x", 1, 2, 3}, text, sizeof text), 0);
  EXPECT_STREQ(text, "unchanged");
}

TEST(PlayerBuildSummary, ZeroDurationsAndRatesDoNotDivideByZero) {
  MovieSummary s = SampleSummary();
  s.total_ms = 0;
  s.file_rate_den = 0;
  s.slowest_ms = 0;
  char text[4096];
  ASSERT_EQ(PlayerBuildSummary(s, {"x", 1, 2, 3}, text, sizeof text), 1);
  std::string t = text;
  EXPECT_NE(t.find("Frame rate obtained: 1200000.0 frames/sec\n"), std::string::npos);
  EXPECT_NE(t.find("Total playback time: 0 milliseconds\n"), std::string::npos);
  // A small buffer gets a cut, terminated text.
  char small[40];
  ASSERT_EQ(PlayerBuildSummary(s, {"x", 1, 2, 3}, small, sizeof small), 1);
  EXPECT_EQ(std::string(small).size(), sizeof small - 1);
}

// The box: the summary, then the missing track's line, then the sound line,
// each only when there is something to say.
TEST(PlayerSummaryText, SummaryThenTrackThenSoundLines) {
  char plain[4096], text[4096];
  ASSERT_EQ(PlayerBuildSummary(SampleSummary(), {"x", 1, 2, 3}, plain, sizeof plain), 1);
  ASSERT_TRUE(PlayerSummaryText(SampleSummary(), {"x", 1, 2, 3}, 0, nullptr, text, sizeof text));
  EXPECT_STREQ(text, plain);
  ASSERT_TRUE(PlayerSummaryText(SampleSummary(), {"x", 1, 2, 3}, 5, "SDL pulseaudio", text,
                                sizeof text));
  EXPECT_EQ(std::string(text), std::string(plain) +
                                   "Sound: track 5 is not in this movie\n"
                                   "Sound: SDL pulseaudio\n");
  MovieSummary none = SampleSummary();
  none.frames_played = 0;
  EXPECT_FALSE(PlayerSummaryText(none, {"x", 1, 2, 3}, 5, "none", text, sizeof text));
}

}  // namespace
