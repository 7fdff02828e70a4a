// The engine's read-ahead between frames and while waiting (only through a
// try-lock of the reader's mutex), and the recovery from a sound underrun.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_clock.h"
#include "platform/platform.h"
#include "engine/sound_track.h"
#include "video/video_decoder.h"

namespace {

// A reader whose ring is only counters: idle "reads" a chunk by adding to
// buffered, read_frame copies from an in-memory image.
struct FakeReader {
  static inline std::vector<uint8_t> image;
  static inline int idle_calls = 0;
  static int32_t Idle(IoReader* io) {
    ++idle_calls;
    if (io->buffered.load() >= io->fill_target) return 0;
    io->buffered.fetch_add(IO_CHUNK_SIZE);
    return static_cast<int32_t>(IO_CHUNK_SIZE);
  }
  static uint32_t ReadFrame(IoReader*, uint32_t, int64_t offset, void* dest, uint32_t size) {
    std::memcpy(dest, image.data() + offset, size);
    return size;
  }
};

struct SoundLog {
  static inline std::vector<int> set_on;
  static int SetOn(SoundTrack*, int on) {
    set_on.push_back(on);
    return on;
  }
};

// A movie read through a (fake) reader: 10 video-only packets of 2 bytes (a
// 16 x 16 picture the decoder makes what it can of), and optionally one
// played track without sound data.
struct ReaderMovie {
  Movie movie{};
  SoundTrack tracks[1]{};
  uint32_t history[7][10]{};
  uint32_t index[11];
  uint8_t frame_data[2];
  uint8_t map[5]{};
  uint32_t selected[1] = {0};
  uint8_t ring[4096]{};
  uint8_t frames[2][16 * 16 * 3 / 2]{};
  std::vector<uint8_t> bundles[BUNDLE_COUNT];

  explicit ReaderMovie(bool sound) {
    Movie& m = movie;
    m.width = m.height = m.decoded_width = m.decoded_height = 16;
    m.plane_width = m.plane_height = 16;
    m.chroma_width = m.chroma_height = 8;
    m.blocks_per_row = 1;
    m.yuv_buffers[0] = frames[0];
    m.yuv_buffers[1] = frames[1];
    uint32_t sizes[BUNDLE_COUNT];
    BundleBuffersSize(16, sizes);
    for (int i = 0; i < BUNDLE_COUNT; ++i) {
      bundles[i].assign(sizes[i], 0);
      m.bundle_buffers[i] = bundles[i].data();
    }
    m.frames = m.index_frames = 10;
    m.rate_num = m.file_rate_num = 10;
    m.rate_den = m.file_rate_den = 1;
    m.late_limit = MovieLateLimit(10, 1);
    m.history_len = 10;
    m.history_shift = 36;
    uint32_t** arrays[7] = {&m.history_time, &m.history_audio, &m.history_video, &m.history_blit,
                            &m.history_read, &m.history_idle_read, &m.history_background_read};
    for (int i = 0; i < 7; ++i) *arrays[i] = history[i];
    for (uint32_t i = 0; i <= 10; ++i) index[i] = 100 + 2 * i;
    m.frame_index = index;
    m.size_less_8 = 112;
    m.largest_frame = 2;
    m.frame_data_size = 2;
    m.frame_data = frame_data;
    m.block_map = map;
    m.block_count = 1;
    m.tracks = tracks;
    tracks[0].speed_factor = SOUND_SPEED_NOMINAL;
    FakeReader::image.assign(120, 0);
    FakeReader::idle_calls = 0;
    m.io.idle = FakeReader::Idle;
    m.io.read_frame = FakeReader::ReadFrame;
    m.io.fill_target = 100000;
    m.io.service_node.mutex = MutexCreate();
    if (sound) {
      m.selected_tracks = selected;
      m.selected_count = 1;
      m.sound_on = 1;
      m.sound_node.mutex = MutexCreate();
      SoundTrack& t = tracks[0];
      t.set_on = SoundLog::SetOn;
      t.ring_size = sizeof ring;
      t.ring_start = t.ring_read = t.ring_write = ring;
      t.ring_end = ring + sizeof ring;
      t.last_refill_frame = 7;
    }
    m.frame_num = -1;
    MovieLoadFrame(&m, 1);
    m.video_on = 1;
  }
  ~ReaderMovie() {
    MutexDestroy(movie.io.service_node.mutex);
    if (movie.sound_node.mutex) MutexDestroy(movie.sound_node.mutex);
  }
  Movie* operator->() { return &movie; }
};

// Holds a mutex on another thread for as long as it lives.
class HeldElsewhere {
 public:
  explicit HeldElsewhere(PlatformMutex* mutex) : thread_([this, mutex] {
      MutexLock(mutex);
      held_ = true;
      while (!release_) std::this_thread::yield();
      MutexUnlock(mutex);
    }) {
    while (!held_) std::this_thread::yield();
  }
  ~HeldElsewhere() {
    release_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> held_{false}, release_{false};
  std::thread thread_;
};

class StepReader : public ::testing::Test {
 protected:
  void SetUp() override { SoundLog::set_on.clear(); }
};

TEST_F(StepReader, DecodeReadsOneChunkAheadWhileTheRingIsUnderThreeQuarters) {
  ReaderMovie m(false);
  m->io.buffered = 74000;  // 74 %
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(FakeReader::idle_calls, 1);

  MovieNextFrame(&m.movie);
  m->io.buffered = 75000;  // 75 %: full enough
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(FakeReader::idle_calls, 1);

  MovieNextFrame(&m.movie);
  m->io.buffered = 0;
  m->io.reading_now = 1;  // the background thread is inside a read
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  EXPECT_EQ(FakeReader::idle_calls, 1);
}

TEST_F(StepReader, DecodeNeverWaitsForTheReaderMutex) {
  ReaderMovie m(false);
  m->io.buffered = 0;
  {
    HeldElsewhere held(m->io.service_node.mutex);
    ASSERT_EQ(MovieDoFrame(&m.movie), 0);  // would hang if it waited
    EXPECT_EQ(FakeReader::idle_calls, 0);
    EXPECT_EQ(m->frames_decoded, 1u);
  }
  m->flags |= OPEN_NO_THREAD;  // also without a yielding sleep
  MovieNextFrame(&m.movie);
  {
    HeldElsewhere held(m->io.service_node.mutex);
    ASSERT_EQ(MovieDoFrame(&m.movie), 0);
    EXPECT_EQ(FakeReader::idle_calls, 0);
  }
}

TEST_F(StepReader, WaitingReadsAheadUnlessTheMutexIsBusyOrTheMovieIsInMemory) {
  ReaderMovie m(false);
  m->io.fill_target = 1 << 30;
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  MovieNextFrame(&m.movie);
  int calls = FakeReader::idle_calls;
  ASSERT_EQ(MovieWait(&m.movie), 1);  // 100 ms to go
  EXPECT_EQ(FakeReader::idle_calls, calls + 1);
  {
    HeldElsewhere held(m->io.service_node.mutex);
    ASSERT_EQ(MovieWait(&m.movie), 1);
    EXPECT_EQ(FakeReader::idle_calls, calls + 1);
  }
  uint8_t image[2] = {};
  m->preload = image;
  ASSERT_EQ(MovieWait(&m.movie), 1);
  EXPECT_EQ(FakeReader::idle_calls, calls + 1);
}

TEST_F(StepReader, UnderrunCyclesTheSoundAndRefillsTheRingToNinetyPercent) {
  ReaderMovie m(true);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(MovieDoFrame(&m.movie), 0);
    MovieNextFrame(&m.movie);
  }
  ASSERT_EQ(m->frame_num, 3);
  ASSERT_NE(m->clock_start, 0u);
  m->io.buffered = 0;
  m->io.fill_target = 100000;
  FakeReader::idle_calls = 0;
  m.tracks[0].underrun = 1;
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  int during_decode = FakeReader::idle_calls;
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m.tracks[0].underrun, 0u);
  EXPECT_EQ(m->sound_skips, 1u);
  EXPECT_EQ(SoundLog::set_on, (std::vector<int>{0, 1}));
  // 16 384-byte chunks until (buffered + 1) x 100 / (target + 1) reaches 90.
  EXPECT_EQ(FakeReader::idle_calls - during_decode, 6 - during_decode);
  EXPECT_EQ(m->io.buffered.load(), 6u * IO_CHUNK_SIZE);
  EXPECT_EQ(m->clock_start, 0u);  // the schedule restarts with the next frame
  EXPECT_EQ(m->frame_num, 4);
}

TEST_F(StepReader, UnderrunAtTheStartOrInTheClosingSecondIsOnlyCleared) {
  ReaderMovie m(true);
  m.tracks[0].underrun = 1;  // at frame 1: the device has not started yet
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m.tracks[0].underrun, 0u);
  while (m->frame_num < 8) {
    ASSERT_EQ(MovieDoFrame(&m.movie), 0);
    MovieNextFrame(&m.movie);
  }
  m.tracks[0].underrun = 1;  // past last_refill_frame (7): the ring is flushed there
  ASSERT_EQ(MovieDoFrame(&m.movie), 0);
  MovieNextFrame(&m.movie);
  EXPECT_EQ(m.tracks[0].underrun, 0u);
  EXPECT_EQ(m->sound_skips, 0u);
  EXPECT_TRUE(SoundLog::set_on.empty());
}

}  // namespace
