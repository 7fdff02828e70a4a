// The Windows sound drivers against whatever device there is, and a manual
// check against a real one (under Wine: a sound server with a null sink),
// disabled by default: it plays seconds of sound and depends on the
// machine's device. Run it with
//   test_sound.exe --gtest_also_run_disabled_tests --gtest_filter='*RealTime*'
// It plays a generated movie through the player's engine with both service
// threads and prints how fast the driver took the sound compared with the
// track's byte rate, and how many underrun recoveries there were.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "platform/platform.h"
#include "sound/sound_drivers.h"
#include "engine/sound_track.h"
#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

constexpr uint32_t kFps = 25;
constexpr uint32_t kFrames = 375;  // 15 s: a device 5 % too fast would run dry
constexpr uint32_t kWarmUpMs = 1500;

int DemoPictures(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= kFrames) return 0;
  SynthPicture(SynthScene::kDemo, frame, 64, 48, false, picture);
  return 1;
}

std::string MakeMovie(uint32_t rate, uint32_t channels, bool sixteen_bit) {
  MovieEncodeOptions o;
  o.video.width = 64;
  o.video.height = 48;
  o.rate_num = kFps;
  o.rate_den = 1;
  MovieAudioInput a;
  a.rate = rate;
  a.channels = channels;
  a.sixteen_bit = sixteen_bit;
  SynthMelody(rate, channels, double(kFrames) / kFps + 1.0, &a.samples);
  o.audio.push_back(std::move(a));
  std::vector<uint8_t> bytes;
  MovieEncodeStats stats;
  const char* error = nullptr;
  EXPECT_TRUE(MovieEncode(o, DemoPictures, nullptr, &bytes, &stats, &error)) << error;
  return FixtureWriteFile("realtime.vxn", bytes);
}

// Every byte the driver accepts, and when.
int (*g_submit)(SoundTrack*, uint32_t) = nullptr;
std::atomic<uint64_t> g_submitted{0};
int CountingSubmit(SoundTrack* track, uint32_t bytes) {
  const int accepted = g_submit(track, bytes);
  if (accepted) g_submitted += bytes;
  return accepted;
}

// stall_ms: once, after the warm-up, the player's thread stops for that long
// (a window dragged): the device runs dry and the engine must recover.
void PlayAndMeasure(SoundDriverEntry entry, const char* name, uint32_t rate, uint32_t channels,
                    bool sixteen_bit, uint32_t stall_ms = 0) {
  const std::string path = MakeMovie(rate, channels, sixteen_bit);
  SoundDriverReset();
  if (!SoundDriverSelect(entry, 0)) GTEST_SKIP() << name << ": no device";
  Movie* movie = MovieOpen(path.c_str(), 0);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  ASSERT_EQ(movie->selected_count, 1u) << name << ": the track did not open";
  SoundTrack* track = &movie->tracks[0];
  MutexLock(movie->sound_node.mutex);
  g_submit = track->submit_buffer;
  track->submit_buffer = CountingSubmit;
  g_submitted = 0;
  MutexUnlock(movie->sound_node.mutex);

  const uint32_t start = MovieClockMs();
  uint32_t mark_ms = 0;
  uint64_t mark_bytes = 0;
  for (;;) {
    if (MovieWait(movie)) {
      SleepMs(5);
      continue;
    }
    MovieDoFrame(movie);
    if (!mark_ms && MovieClockMs() - start >= kWarmUpMs) {
      if (stall_ms) SleepMs(stall_ms);
      mark_ms = MovieClockMs();
      mark_bytes = g_submitted.load();
    }
    if (static_cast<uint32_t>(movie->frame_num) >= movie->frames) break;
    MovieNextFrame(movie);
  }
  const uint32_t end_ms = MovieClockMs();
  const uint64_t end_bytes = g_submitted.load();
  const uint32_t bps = track->rate * track->bits / 8 * track->channels;
  const double taken = double(end_bytes - mark_bytes) * 1000.0 / double(end_ms - mark_ms);
  std::printf(
      "%s%s %u Hz %u-bit %s: played %u frames in %u ms (movie %u ms); driver took %.0f B/s "
      "over the last %u ms, track rate %u B/s (%.3f); %u bytes in all; sound skips %u\n",
      name, stall_ms ? " (stalled)" : "", track->rate, track->bits,
      channels == 2 ? "stereo" : "mono", movie->frames_decoded, end_ms - start,
      kFrames * 1000 / kFps, taken, end_ms - mark_ms, bps, taken / bps,
      static_cast<uint32_t>(end_bytes), movie->sound_skips);
  EXPECT_EQ(movie->frames_decoded, kFrames);
  if (stall_ms)
    EXPECT_GE(movie->sound_skips, 1u);
  else
    EXPECT_EQ(movie->sound_skips, 0u);
  MovieClose(movie);
  SoundDriverReset();
  // The engine feeds ahead by a bounded amount, so over seconds the rate at
  // which the driver takes sound is the rate at which the device plays it.
  EXPECT_NEAR(taken / bps, 1.0, 0.1);
}

// Wherever the tests run (with a sound device or none), a movie with sound
// opens and plays with either driver, seeks (the device's queue flushed,
// playing and paused) and takes volume changes: without a device the entry
// or the track open fails and the movie plays silently.
TEST(SoundDrivers, MoviePlaysWithOrWithoutADevice) {
  const std::string path = MakeMovie(22050, 2, true);
  for (SoundDriverEntry entry : {SoundWaveOutDriver, SoundDirectSoundDriver}) {
    SoundDriverReset();
    const int selected = SoundDriverSelect(entry, 0);
    Movie* movie = MovieOpen(path.c_str(), 0);
    ASSERT_NE(movie, nullptr) << MovieGetError();
    if (!selected) EXPECT_EQ(movie->selected_count, 0u);
    for (uint32_t k = 0; k < 10; k++) {
      while (MovieWait(movie)) SleepMs(5);
      EXPECT_EQ(MovieDoFrame(movie), 0);
      if (k == 4) {
        MovieSetPause(movie, 1);
        MovieSetPause(movie, 0);
      }
      if (k == 6) {
        SoundSetVolume(movie, 50);
        EXPECT_EQ(MovieSeek(movie, 2, SEEK_EXACT), 1) << MovieGetError();
        MovieSetPause(movie, 1);
        EXPECT_EQ(MovieSeek(movie, 40, SEEK_EXACT), 1) << MovieGetError();
        SoundSetVolume(movie, 0);
        SoundSetVolume(movie, 100);
        MovieSetPause(movie, 0);
      }
      MovieNextFrame(movie);
    }
    EXPECT_EQ(movie->frames_decoded, 12u);  // and the two frames the seeks showed
    EXPECT_EQ(movie->frame_num, 44);
    MovieClose(movie);
  }
  SoundDriverReset();
}

TEST(DISABLED_RealTime, WaveOutStereo16) {
  PlayAndMeasure(SoundWaveOutDriver, "waveOut", 22050, 2, true);
}
TEST(DISABLED_RealTime, WaveOutMono8) {
  PlayAndMeasure(SoundWaveOutDriver, "waveOut", 11025, 1, false);
}
TEST(DISABLED_RealTime, DirectSoundStereo16) {
  PlayAndMeasure(SoundDirectSoundDriver, "DirectSound", 22050, 2, true);
}
TEST(DISABLED_RealTime, DirectSoundMono8) {
  PlayAndMeasure(SoundDirectSoundDriver, "DirectSound", 11025, 1, false);
}
TEST(DISABLED_RealTime, WaveOutRecoversFromAStall) {
  PlayAndMeasure(SoundWaveOutDriver, "waveOut", 22050, 2, true, 1500);
}
TEST(DISABLED_RealTime, DirectSoundRecoversFromAStall) {
  PlayAndMeasure(SoundDirectSoundDriver, "DirectSound", 22050, 2, true, 1500);
}

}  // namespace
#endif  // _WIN32
