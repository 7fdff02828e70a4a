// The frame schedule, pause, the five-minute sound restart and the timing
// counters, driven by a hand-made clock on hand-built movie records.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_clock.h"
#include "engine/movie_stats.h"
#include "engine/sound_track.h"

namespace {

// A 1 kHz counter and a timer that move only when the test says so.
struct HandClock {
  static inline uint64_t counter = 0;
  static inline uint32_t timer = 0;
  static bool Frequency(uint64_t* f) {
    *f = 1000;
    return true;
  }
  static uint64_t Counter() { return counter; }
  static uint32_t Timer() { return timer; }
  static void Advance(uint32_t ms) {
    counter += ms;
    timer += ms;
  }
  // Installs the clock and moves it away from 0 (0 means "stopped" for the
  // frame clock's start time).
  static void Install() {
    counter = 0;
    timer = 0;
    static constexpr MovieClockSources sources = {Frequency, Counter, Timer};
    MovieClockSetSources(&sources);
    MovieClockMs();
    Advance(1000);
  }
};

// Records what the engine asks of a track's driver.
struct DriverLog {
  static inline std::vector<int> set_on, pause;
  static int SetOn(SoundTrack*, int on) {
    set_on.push_back(on);
    return on;
  }
  static int Pause(SoundTrack*, int on) {
    pause.push_back(on);
    return on;
  }
};

// A movie record as open leaves it, without a reader: the frames are
// "preloaded" video-only packets of 2 bytes and video decoding is off, so
// only the schedule and the counters run.
struct HandMovie {
  static constexpr uint32_t kHistory = 30;
  Movie movie{};
  SoundTrack tracks[1]{};
  uint32_t history[7][kHistory]{};
  std::vector<uint32_t> index;
  std::vector<uint8_t> image;
  std::vector<uint8_t> map;
  uint32_t selected[1] = {0};
  uint8_t ring[8192]{};

  HandMovie(uint32_t rate_num, uint32_t rate_den, uint32_t frames, bool sound = false) {
    Movie& m = movie;
    m.frames = m.index_frames = frames;
    m.rate_num = m.file_rate_num = rate_num;
    m.rate_den = m.file_rate_den = rate_den;
    m.late_limit = MovieLateLimit(rate_num, rate_den);
    m.history_len = (rate_num + rate_den / 2) / rate_den;
    if (m.history_len < 1) m.history_len = 1;
    if (m.history_len > kHistory) m.history_len = kHistory;
    m.history_shift = 4 * (m.history_len - 1);
    uint32_t** arrays[7] = {&m.history_time, &m.history_audio, &m.history_video, &m.history_blit,
                            &m.history_read, &m.history_idle_read, &m.history_background_read};
    for (int i = 0; i < 7; ++i) *arrays[i] = history[i];
    m.width = m.decoded_width = m.plane_width = 32;
    m.height = m.decoded_height = m.plane_height = 32;
    m.blocks_per_row = 2;
    m.block_count = 4;
    map.assign(5, 0);
    m.block_map = map.data();
    constexpr uint32_t kFirst = 100;  // where packets start in the movie
    for (uint32_t i = 0; i <= frames; ++i) index.push_back(kFirst + 2 * i + (i == 0 ? 1 : 0));
    m.frame_index = index.data();
    m.size_less_8 = kFirst + 2 * frames - 8;
    image.assign(2 * frames, 0);
    m.preload = image.data();
    m.preload_bytes = static_cast<uint32_t>(image.size());
    m.largest_frame = 2;
    m.flags = OPEN_PRELOAD;
    m.tracks = tracks;
    tracks[0].speed_factor = SOUND_SPEED_NOMINAL;
    m.rect_count = 0;
    if (sound) {
      m.selected_tracks = selected;
      m.selected_count = 1;
      m.track_count = 0;  // the packets carry no audio: only the schedule matters
      m.sound_on = 1;
      SoundTrack& t = tracks[0];
      t.set_on = DriverLog::SetOn;
      t.pause = DriverLog::Pause;
      t.ring_size = sizeof ring;
      t.ring_start = t.ring_write = t.ring_read = ring;
      t.ring_end = ring + sizeof ring;
      t.last_refill_frame = static_cast<int32_t>(frames) - 1;
    }
    m.frame_num = -1;
    MovieLoadFrame(&m, 1);
    m.video_on = 0;
  }
  Movie* operator->() { return &movie; }
  int Wait() { return MovieWait(&movie); }
  // One go-ahead frame as the player plays it: decode, then load the next.
  void Step() {
    ASSERT_EQ(MovieDoFrame(&movie), 0);
    MovieNextFrame(&movie);
  }
};

class FrameSchedule : public ::testing::Test {
 protected:
  void SetUp() override {
    HandClock::Install();
    DriverLog::set_on.clear();
    DriverLog::pause.clear();
  }
  void TearDown() override { MovieClockSetSources(nullptr); }
};

TEST_F(FrameSchedule, TimesTakenWhenTheClockReadsZeroStillCount) {
  // The clock's first call (here the first frame's load, as in an open)
  // returns 0, and a quick first decode happens in that same millisecond.
  HandClock::counter = 0;
  HandClock::timer = 0;
  static constexpr MovieClockSources sources = {HandClock::Frequency, HandClock::Counter,
                                                HandClock::Timer};
  MovieClockSetSources(&sources);
  HandMovie m(30, 1, 10);
  ASSERT_EQ(MovieClockMs(), 0u);
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_NE(m->clock_start, 0u);  // running, not "stopped"
  EXPECT_NE(m->first_frame_time, 0u);
  EXPECT_NE(m->frame_end_time, 0u);
  MovieNextFrame(&m.movie);
  HandClock::Advance(34);
  EXPECT_EQ(m.Wait(), 0);
  // The second decode is not taken for the first one again.
  m->io.idle_read_time_ms = 5;
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(m->io.idle_read_time_ms, 5u);
  EXPECT_EQ(m->first_frame_time, 1u);
}

TEST_F(FrameSchedule, TimesNotedAsOneAreNotAheadOfAClockStillAtZero) {
  // Decode, wait and summary all in the clock's first millisecond: the
  // times noted as 1 must book nothing, not 4294967295 ms.
  HandClock::counter = 0;
  HandClock::timer = 0;
  static constexpr MovieClockSources sources = {HandClock::Frequency, HandClock::Counter,
                                                HandClock::Timer};
  MovieClockSetSources(&sources);
  HandMovie m(30, 1, 10);
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  MovieNextFrame(&m.movie);
  m.Wait();
  EXPECT_EQ(m->blit_ms, 0u);
  EXPECT_EQ(m->slowest_ms, 0u);
  MovieSummary summary;
  MovieGetSummary(&m.movie, &summary);
  EXPECT_EQ(summary.total_ms, 0u);
}

TEST_F(FrameSchedule, NullMovieIsAccepted) {
  EXPECT_EQ(MovieWait(nullptr), 0);
  EXPECT_EQ(MovieDoFrame(nullptr), 0);
  MovieNextFrame(nullptr);
  EXPECT_EQ(MovieSetPause(nullptr, 1), 0);
}

TEST_F(FrameSchedule, FirstFrameGoesAtOnceAndTheNextOneFrameTimeLater) {
  HandMovie m(30, 1, 10);
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(m->clock_start, 0u);  // the clock starts with the first decode
  uint32_t t0 = MovieClockMs();
  m.Step();
  EXPECT_EQ(m->clock_start, t0);
  EXPECT_EQ(m->frame_num, 2);
  HandClock::Advance(32);
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(1);  // 1000 / 30 = 33 ms
  EXPECT_EQ(m.Wait(), 0);
  m.Step();
  HandClock::Advance(32);
  EXPECT_EQ(m.Wait(), 1);  // frame 3 is due at 2000 / 30 = 66
  HandClock::Advance(1);
  EXPECT_EQ(m.Wait(), 0);
}

TEST_F(FrameSchedule, FractionalRatesFollowTheExactProduct) {
  // 30000/1001: frame f due at f x 1000 x 1001 / 30000 ms.
  HandMovie m(30000, 1001, 400);
  m.Step();
  for (uint32_t f = 1; f < 300; ++f) {
    uint32_t due = f * 1000 * 1001 / 30000;
    uint32_t elapsed = MovieClockMs() - m->clock_start;
    HandClock::Advance(due - 1 - elapsed);
    ASSERT_EQ(m.Wait(), 1) << f;
    HandClock::Advance(1);
    ASSERT_EQ(m.Wait(), 0) << f;
    m.Step();
  }
}

TEST_F(FrameSchedule, SpeedFactorOfTheFirstTrackScalesTheSchedule) {
  HandMovie m(10, 1, 10);
  m.tracks[0].speed_factor = 0x8000;  // half: frames come twice as fast
  m.Step();
  HandClock::Advance(49);
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(1);
  EXPECT_EQ(m.Wait(), 0);
}

TEST_F(FrameSchedule, AsFastAsPossibleNeverWaits) {
  HandMovie m(30, 1, 5);
  m->rate_num = 0;
  m->late_limit = MovieLateLimit(0, 1);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(m.Wait(), 0);
    m.Step();
  }
}

TEST_F(FrameSchedule, LateMovieWithoutSoundRestartsItsClock) {
  HandMovie m(30, 1, 10);
  m.Step();
  HandClock::Advance(33 + 66);  // exactly at the limit: no restart
  uint32_t start = m->clock_start;
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(m->clock_start, start);
  m.Step();
  HandClock::Advance(100 - 66 + 33);  // frame 3 due at 66, now 100 late
  uint32_t now = MovieClockMs();
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(m->clock_start, now);
  EXPECT_EQ(m->clock_start_frames, m->frames_decoded - 1);
  EXPECT_EQ(m->clock_adjust, 0u);
  // The go-ahead frame counts as the run's first; from the next one the movie
  // plays on at its normal pace, without catching up.
  m.Step();
  HandClock::Advance(65);
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(1);
  EXPECT_EQ(m.Wait(), 0);
  m.Step();
  HandClock::Advance(33);
  EXPECT_EQ(m.Wait(), 1);  // due at 3000 / 30 = 100
  HandClock::Advance(1);
  EXPECT_EQ(m.Wait(), 0);
}

TEST_F(FrameSchedule, LateMovieWithSoundIsForgivenAndChargedBack) {
  HandMovie m(30, 1, 10, /*sound=*/true);
  m.Step();
  uint32_t start = m->clock_start;
  HandClock::Advance(33 + 100);
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(m->clock_start, start);  // the clock is not restarted
  EXPECT_EQ(m->clock_adjust_step, 3u);
  EXPECT_EQ(m->clock_adjust, 97u);
  // Frames released on time each charge back one step until nothing is left.
  for (uint32_t left = 94;; left -= 3) {
    m.Step();
    while (m.Wait()) HandClock::Advance(1);
    ASSERT_EQ(m->clock_adjust, left);
    if (left < 3) break;
  }
  m.Step();
  while (m.Wait()) HandClock::Advance(1);
  EXPECT_EQ(m->clock_adjust, 0u);
}

TEST_F(FrameSchedule, SelectedSoundThatIsOffHoldsThePicture) {
  HandMovie m(30, 1, 10, /*sound=*/true);
  m.Step();
  m->sound_on = 0;
  HandClock::Advance(500);
  EXPECT_EQ(m.Wait(), 1);
  m->sound_on = 1;
  EXPECT_EQ(m.Wait(), 0);
}

TEST_F(FrameSchedule, ResumingWaitsOneFrameTime) {
  HandMovie m(30, 1, 10, /*sound=*/true);
  m.Step();
  HandClock::Advance(33);
  EXPECT_EQ(MovieSetPause(&m.movie, 1), 1);
  EXPECT_EQ(DriverLog::pause, (std::vector<int>{1}));
  HandClock::Advance(1000);
  EXPECT_EQ(m.Wait(), 1);  // paused: never due
  uint32_t start = m->clock_start;
  EXPECT_EQ(m->clock_start, start);
  EXPECT_EQ(MovieSetPause(&m.movie, 0), 0);
  EXPECT_EQ(DriverLog::pause, (std::vector<int>{1, 0}));
  EXPECT_EQ(m->clock_start, 0u);  // the schedule restarts
  EXPECT_EQ(m.Wait(), 1);
  EXPECT_NE(m->clock_start, 0u);
  HandClock::Advance(32);
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(1);
  EXPECT_EQ(m.Wait(), 0);
  // Resuming a movie that is not paused leaves its clock running.
  EXPECT_EQ(MovieSetPause(&m.movie, 0), 0);
  EXPECT_NE(m->clock_start, 0u);
}

TEST_F(FrameSchedule, PausedBeforeTheFirstFrameWaits) {
  HandMovie m(30, 1, 10);
  MovieSetPause(&m.movie, 1);
  EXPECT_EQ(m.Wait(), 1);
}

TEST_F(FrameSchedule, LastFrameWrapsToTheFirst) {
  HandMovie m(30, 1, 3);
  for (int i = 0; i < 2; ++i) m.Step();
  EXPECT_EQ(m->frame_num, 3);
  m.Step();
  EXPECT_EQ(m->frame_num, 1);
  EXPECT_EQ(m->shown_frame_num, 3);
  EXPECT_EQ(m->frames_decoded, 3u);
  EXPECT_EQ(m->frame_data, m->preload);
  EXPECT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(m->frames_decoded, 4u);
  EXPECT_EQ(MovieDoFrame(&m.movie), 0);  // decoded already: nothing happens
  EXPECT_EQ(m->frames_decoded, 4u);
}

TEST_F(FrameSchedule, FrameOneAfterFiveMinutesCyclesTheSoundOnce) {
  HandMovie m(10, 1, 3, /*sound=*/true);
  m.Step();
  m.Step();
  HandClock::Advance(200);
  m.Step();  // back at frame 1, well within five minutes
  EXPECT_EQ(m->restart_sound, 0u);
  m.Step();
  m.Step();
  HandClock::Advance(300001);
  m.Step();
  ASSERT_EQ(m->frame_num, 1);
  EXPECT_EQ(m->restart_sound, 1u);
  EXPECT_TRUE(DriverLog::set_on.empty());
  uint32_t now = MovieClockMs();
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(DriverLog::set_on, (std::vector<int>{0, 1}));
  EXPECT_EQ(m->restart_sound, 0u);
  EXPECT_EQ(m->clock_start, now);  // stopped, then started by this decode
  EXPECT_EQ(m->sound_on, 1u);
}

TEST_F(FrameSchedule, ReadErrorStopsDecodingButNotStepping) {
  HandMovie m(30, 1, 5);
  m.Step();
  m->io.read_error = 1;
  EXPECT_EQ(MovieDoFrame(&m.movie), 1);
  EXPECT_EQ(MovieDoFrame(&m.movie), 1);  // asked twice, the step counts once
  EXPECT_EQ(m->read_error, 1u);
  EXPECT_EQ(m->frames_decoded, 1u);
  EXPECT_EQ(m->damaged_frames, 1u);
  EXPECT_EQ(m->first_damaged_frame, 2u);
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m->frame_num, 3);
  // The missing frames keep the movie's pace: one every 33 ms, not raced.
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(32);
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(1);
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(MovieDoFrame(&m.movie), 1);
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m.Wait(), 1);
  HandClock::Advance(33);
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(MovieDoFrame(&m.movie), 1);
  EXPECT_EQ(m->damaged_frames, 3u);
  EXPECT_EQ(m->first_damaged_frame, 2u);
  // Paused, even missing frames wait.
  MovieNextFrame(&m.movie);
  HandClock::Advance(1000);
  MovieSetPause(&m.movie, 1);
  EXPECT_EQ(m.Wait(), 1);
}

TEST_F(FrameSchedule, AsFastAsPossibleStepsMissingFramesAtOnce) {
  HandMovie m(0, 1, 3);
  m->io.read_error = 1;
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(MovieDoFrame(&m.movie), 1);
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m.Wait(), 0);
  EXPECT_EQ(m->first_damaged_frame, 1u);
}

TEST_F(FrameSchedule, BlitTimeAndSlowestFramesAreBooked) {
  HandMovie m(30, 1, 10);
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(m->frame_end_time, MovieClockMs());
  HandClock::Advance(7);  // "blitting"
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m->blit_ms, 7u);
  EXPECT_EQ(m->frame_end_time, 0u);
  HandClock::Advance(40);
  EXPECT_EQ(m.Wait(), 0);  // the frame's time runs to here: 47 ms, filed under frame 2
  EXPECT_EQ(m->slowest_ms, 47u);
  EXPECT_EQ(m->slowest_frame, 2u);
  EXPECT_EQ(m->slow_frame_start, 0u);

  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  HandClock::Advance(60);
  MovieSetPause(&m.movie, 1);  // also ends a frame's time
  EXPECT_EQ(m->slowest_ms, 60u);
  EXPECT_EQ(m->second_slowest_ms, 47u);
  EXPECT_EQ(m->second_slowest_frame, 2u);
  EXPECT_EQ(m->blit_ms, 7u + 60u);
  MovieSetPause(&m.movie, 0);

  MovieNextFrame(&m.movie);
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  HandClock::Advance(50);
  MovieSummary s;
  MovieGetSummary(&m.movie, &s);  // the statistics calls book too
  EXPECT_EQ(s.slowest_ms, 60u);
  EXPECT_EQ(s.second_slowest_ms, 50u);
  EXPECT_EQ(s.second_slowest_frame, 3u);
}

TEST_F(FrameSchedule, HistoryHoldsTheNewestValuesFirst) {
  HandMovie m(30, 1, 100);
  uint32_t t0 = MovieClockMs();
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(m.history[0][0], t0);
  EXPECT_EQ(m.history[0][1], t0 - 33);  // a fictitious frame one frame time before
  MovieRealtime r;
  MovieGetRealtime(&m.movie, 0, &r);
  EXPECT_EQ(r.window_frames, 1u);
  EXPECT_EQ(r.window_ms, 33u);

  std::vector<uint32_t> starts = {t0};
  for (int i = 0; i < 40; ++i) {
    MovieNextFrame(&m.movie);
    m->io.frame_read_time_ms += 2;  // what the reader would count
    HandClock::Advance(33);
    starts.push_back(MovieClockMs());
    ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  }
  for (uint32_t k = 0; k < m->history_len; ++k) {
    EXPECT_EQ(m.history[0][k], starts[starts.size() - 1 - k]);
    EXPECT_EQ(m.movie.history_read[k], 80u - 2 * k);
  }
  MovieGetRealtime(&m.movie, 0, &r);
  EXPECT_EQ(r.window_frames, 29u);
  EXPECT_EQ(r.window_ms, 29u * 33);
  EXPECT_EQ(r.read_ms, 58u);
  EXPECT_EQ(r.frame, 41u);
}

TEST_F(FrameSchedule, SummaryRecordTakesEachFigureFromItsCounter) {
  HandMovie m(30, 1, 10);
  uint32_t t0 = MovieClockMs();
  m.Step();
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  m->open_ms = 12;
  m->skipped_blits = 3;
  m->sound_skips = 4;
  m->memory_used = 5000;
  m->peak_rate = 60;
  m->peak_frame = 0;
  m->io.frame_read_time_ms = 7;
  m->io.idle_read_time_ms = 8;
  m->io.background_read_time_ms = 9;
  m->io.total_bytes_read = 20000;
  m->io.read_time_ms = 9;
  m->io.buffer_size = 32768;
  m->io.highest_buffered = 16384;
  HandClock::Advance(250);
  m->damaged_frames = 6;
  m->first_damaged_frame = 4;
  MovieSummary s;
  MovieGetSummary(&m.movie, &s);
  EXPECT_EQ(s.damaged_frames, 6u);
  EXPECT_EQ(s.first_damaged_frame, 4u);
  EXPECT_EQ(s.width, 32u);
  EXPECT_EQ(s.total_ms, MovieClockMs() - t0);
  EXPECT_EQ(s.file_rate_num, 30u);
  EXPECT_EQ(s.rate_den, 1u);
  EXPECT_EQ(s.open_ms, 12u);
  EXPECT_EQ(s.frames, 10u);
  EXPECT_EQ(s.frames_played, 2u);
  EXPECT_EQ(s.skipped_frames, 0u);
  EXPECT_EQ(s.skipped_blits, 3u);
  EXPECT_EQ(s.sound_skips, 4u);
  EXPECT_EQ(s.blit_ms, 250u);  // booked by the summary call itself
  EXPECT_EQ(s.read_ms, 7u);
  EXPECT_EQ(s.idle_read_ms, 8u);
  EXPECT_EQ(s.background_read_ms, 9u);
  EXPECT_EQ(s.read_speed, 2000000u);  // 20000 x 1000 / (9 + 1)
  // D = size_less_8 - first packet offset = 112 - 8 - 100 = 12 bytes over 10 frames.
  EXPECT_EQ(s.average_rate, 36u);  // 12 x 30 / (10 x 1)
  EXPECT_EQ(s.average_frame_size, 1u);
  EXPECT_EQ(s.memory_used, 5000u);
  EXPECT_EQ(s.input_memory, 32768u);
  EXPECT_EQ(s.highest_input, 16384u);
  EXPECT_EQ(s.peak_rate, 60u);
  EXPECT_EQ(s.peak_frame, 1u);  // counted from 1
  MovieGetSummary(nullptr, &s);  // ignored
  MovieGetSummary(&m.movie, nullptr);
}

TEST(MovieSchedule, LateLimitIsTwoFrameTimes) {
  EXPECT_EQ(MovieLateLimit(30, 1), 66u);
  EXPECT_EQ(MovieLateLimit(10, 1), 200u);
  EXPECT_EQ(MovieLateLimit(30000, 1001), 66u);
  EXPECT_EQ(MovieLateLimit(0, 1), 2000u);
}

}  // namespace
