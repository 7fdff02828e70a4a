#include "engine/sound_track.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/engine_memory.h"
#include "engine/movie.h"
#include "support/movie_fixtures.h"

namespace {

// A driver that records what the engine asks of it and plays into a vector.
struct FakeDevice {
  uint32_t rate = 0, bits = 0, channels = 0;
  std::vector<uint8_t> played;
  uint32_t buffer_size = 1024;
  int ready_budget = 0;  // buffers the device will still accept
  int closes = 0, pauses = 0;
  bool fail_set_on = false;
  SoundTrackContext context{};  // what the open was told of the movie
  bool had_context = false;
  uint8_t buffer[65536];
};

struct FakeDriver {
  std::vector<FakeDevice*> devices;
  bool fail_open = false;
  uint32_t min_feed = 0, feed_mask = 0;
  ~FakeDriver() {
    for (FakeDevice* d : devices) delete d;
  }
};
FakeDriver* g_driver = nullptr;

FakeDevice* Device(SoundTrack* track) { return *SoundDriverState<FakeDevice*>(track); }

int FakeReady(SoundTrack* t) { return Device(t)->ready_budget > 0; }
int FakeGetBuffer(SoundTrack* t, void** buffer, uint32_t* size) {
  *buffer = Device(t)->buffer;
  *size = Device(t)->buffer_size;
  return 1;
}
int FakeSubmit(SoundTrack* t, uint32_t bytes) {
  FakeDevice* d = Device(t);
  d->played.insert(d->played.end(), d->buffer, d->buffer + bytes);
  d->ready_budget--;
  return 1;
}
int FakePause(SoundTrack* t, int on) {
  Device(t)->pauses++;
  return on;
}
int FakeSetOn(SoundTrack* t, int on) { return on && !Device(t)->fail_set_on; }
void FakeClose(SoundTrack* t) { Device(t)->closes++; }

int FakeTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                  const SoundTrackContext* context) {
  if (g_driver->fail_open) return 0;
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  auto* device = new FakeDevice;
  device->rate = rate;
  device->bits = bits;
  device->channels = channels;
  if (context) device->context = *context, device->had_context = true;
  g_driver->devices.push_back(device);
  *SoundDriverState<FakeDevice*>(track) = device;
  track->ready = FakeReady;
  track->get_buffer = FakeGetBuffer;
  track->submit_buffer = FakeSubmit;
  track->pause = FakePause;
  track->set_on = FakeSetOn;
  track->close = FakeClose;
  track->min_feed_bytes = g_driver->min_feed;
  track->feed_mask = g_driver->feed_mask;
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  track->device_on = 1;
  return 1;
}
SoundTrackOpenFn FakeEntry(uint32_t) { return FakeTrackOpen; }
SoundTrackOpenFn OtherEntry(uint32_t) { return FakeTrackOpen; }
SoundTrackOpenFn NullEntry(uint32_t) { return nullptr; }

constexpr uint32_t kStereo16Dct = AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO | AUDIO_TRACK_16BIT;

class SoundTrackTest : public testing::Test {
 protected:
  void SetUp() override {
    SoundDriverReset();
    g_driver = &driver_;
    ASSERT_EQ(SoundDriverSelect(FakeEntry, 0), 1);
  }
  void TearDown() override {
    MovieClose(movie_);
    SoundDriverReset();
    g_driver = nullptr;
    MovieSetFrameRate(-1, 1);
    const uint32_t zero = 0;
    MovieSetSoundTracks(1, &zero);
  }

  Movie* Open(const FixtureMovie& fixture, uint32_t flags = OPEN_NO_THREAD) {
    path_ = FixtureWriteFile("sound_track_test.vxn", FixtureBuild(fixture));
    movie_ = MovieOpen(path_.c_str(), flags);
    EXPECT_NE(movie_, nullptr) << MovieGetError();
    return movie_;
  }

  static FixtureMovie TwoTracks(uint32_t first_id = 0, uint32_t second_id = 5) {
    FixtureMovie fixture = FixtureBasic(60);
    FixtureAddTrack(&fixture, first_id, 22050 | kStereo16Dct, 69120);
    FixtureAddTrack(&fixture, second_id, 11025 | AUDIO_TRACK_RDFT, 4000);
    return fixture;
  }

  FakeDriver driver_;
  Movie* movie_ = nullptr;
  std::string path_;
};

TEST_F(SoundTrackTest, SelectionFollowsTheRequestOrder) {
  const uint32_t ids[] = {5, 0};
  MovieSetSoundTracks(2, ids);
  Movie* movie = Open(TwoTracks(), OPEN_NO_THREAD | OPEN_TRACKS);
  ASSERT_NE(movie, nullptr);
  ASSERT_EQ(movie->selected_count, 2u);
  EXPECT_EQ(movie->selected_tracks[0], 1u);
  EXPECT_EQ(movie->selected_tracks[1], 0u);
  EXPECT_EQ(movie->tracks[0].rate, 11025u);
  EXPECT_EQ(movie->tracks[0].to_8bit, 1u);
  EXPECT_EQ(movie->tracks[1].rate, 22050u);
  EXPECT_EQ(movie->tracks[1].to_8bit, 0u);
  EXPECT_EQ(movie->sound_on, 1u);
  EXPECT_NE(movie->sound_node.mutex, nullptr);
  EXPECT_EQ(driver_.devices[0]->bits, 8u);
  EXPECT_EQ(driver_.devices[0]->channels, 1u);
}

// A driver sees the movie only through its context: the place of the sound
// mutex (made after the tracks open, and the one its pause must take) and
// the movie's length at the rate it plays, forced or not.
TEST_F(SoundTrackTest, TheDriverLearnsTheSoundMutexAndTheMovieLength) {
  for (const uint32_t flags : {uint32_t{OPEN_NO_THREAD}, uint32_t{0}}) {
    MovieSetFrameRate(48, 2);
    Movie* movie = Open(TwoTracks(), flags | OPEN_FRAME_RATE);
    ASSERT_NE(movie, nullptr);
    ASSERT_FALSE(driver_.devices.empty());
    for (const FakeDevice* device : driver_.devices) {
      ASSERT_TRUE(device->had_context);
      ASSERT_NE(device->context.sound_mutex, nullptr);
      EXPECT_NE(*device->context.sound_mutex, nullptr);
      EXPECT_EQ(*device->context.sound_mutex, movie->sound_node.mutex);
      EXPECT_EQ(device->context.frames, 60u);
      EXPECT_EQ(device->context.rate_num, movie->rate_num);
      EXPECT_EQ(device->context.rate_den, movie->rate_den);
    }
    EXPECT_EQ(uint64_t{movie->rate_num} * 2, uint64_t{movie->rate_den} * 48);
    MovieClose(movie);
    movie_ = nullptr;
    for (FakeDevice* d : driver_.devices) delete d;
    driver_.devices.clear();
  }
}

TEST_F(SoundTrackTest, DefaultIsIdentifierZeroAndTheListIsConsumed) {
  const uint32_t ids[] = {5};
  MovieSetSoundTracks(1, ids);
  Movie* movie = Open(TwoTracks(), OPEN_NO_THREAD);  // no OPEN_TRACKS: identifier 0
  ASSERT_NE(movie, nullptr);
  ASSERT_EQ(movie->selected_count, 1u);
  EXPECT_EQ(movie->selected_tracks[0], 0u);
  MovieClose(movie);
  MovieSetSoundTracks(1, ids);
  movie_ = movie = Open(TwoTracks(), OPEN_NO_THREAD | OPEN_TRACKS);
  ASSERT_EQ(movie->selected_tracks[0], 1u);
  MovieClose(movie);
  movie_ = movie = Open(TwoTracks(), OPEN_NO_THREAD | OPEN_TRACKS);  // reset to [0]
  EXPECT_EQ(movie->selected_tracks[0], 0u);
}

TEST_F(SoundTrackTest, UnknownDuplicateAndCodecLessTracksAreDropped) {
  FixtureMovie fixture = FixtureBasic(10);
  FixtureAddTrack(&fixture, 1, 22050 | AUDIO_TRACK_STEREO, 1000);  // no codec bit
  FixtureAddTrack(&fixture, 2, 8000 | AUDIO_TRACK_DCT, 1000);
  FixtureAddTrack(&fixture, 2, 9000 | AUDIO_TRACK_DCT, 1000);  // same id: never chosen
  const uint32_t ids[] = {9, 1, 2, 2};
  MovieSetSoundTracks(4, ids);
  Movie* movie = Open(fixture, OPEN_NO_THREAD | OPEN_TRACKS);
  ASSERT_NE(movie, nullptr);
  ASSERT_EQ(movie->selected_count, 1u);
  EXPECT_EQ(movie->selected_tracks[0], 1u);  // moved up past the dropped one
  EXPECT_EQ(movie->tracks[0].rate, 8000u);
}

TEST_F(SoundTrackTest, ForcedRateChangesThePlayedRate) {
  MovieSetFrameRate(60, 1);
  Movie* movie = Open(TwoTracks(), OPEN_NO_THREAD | OPEN_FRAME_RATE);
  ASSERT_NE(movie, nullptr);
  ASSERT_EQ(movie->selected_count, 1u);
  EXPECT_EQ(driver_.devices[0]->rate, 44100u);
  // 2 ch x 44100 x 2 x 0.75 s is more than the ring: capped at the ring.
  EXPECT_EQ(movie->tracks[0].preroll_bytes, movie->tracks[0].ring_size);
}

TEST_F(SoundTrackTest, RingPrerollAndRefillMark) {
  Movie* movie = Open(TwoTracks());
  ASSERT_NE(movie, nullptr);
  const SoundTrack& track = movie->tracks[0];
  // The largest packet, plus one audio block (1024 x 2 x 2) and one frame
  // time (22050 x 4 / 30) of room for a seek, rounded up to 256.
  EXPECT_EQ(track.ring_size, 76288u);
  EXPECT_EQ(track.ring_end - track.ring_start, 76288);
  EXPECT_EQ(track.preroll_bytes, 66148u);  // 66 150 rounded down to whole frames
  EXPECT_EQ(track.last_refill_frame, 60 - 22);  // 0.75 s at 30/1
  EXPECT_EQ(track.feed_mask, 0xFFFFFFFFu);
  EXPECT_EQ(track.speed_factor, 0x10000u);
  EXPECT_NE(track.decoder, nullptr);
  EXPECT_EQ(SoundTracksOpened(), 1u);
}

TEST_F(SoundTrackTest, RingSizeRoundsUpTo256) {
  FixtureMovie fixture = FixtureBasic(10);
  FixtureAddTrack(&fixture, 0, 8000 | AUDIO_TRACK_DCT | AUDIO_TRACK_16BIT, 1000);
  Movie* movie = Open(fixture);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->tracks[0].ring_size, 2560u);  // 1000 + 1024 + 533 = 2557
  EXPECT_EQ(movie->tracks[0].preroll_bytes, 2560u);  // 12 000 capped
}

TEST_F(SoundTrackTest, FailedDriverOpenMeansSilence) {
  driver_.fail_open = true;
  Movie* movie = Open(TwoTracks());
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->selected_count, 0u);
  EXPECT_EQ(movie->sound_on, 0u);
  EXPECT_EQ(movie->tracks[0].speed_factor, 0x10000u);  // the clock still reads it
}

TEST_F(SoundTrackTest, CloseClosesEveryTrackAndFreesTheRings) {
  static std::vector<void*> live;
  live.clear();
  EngineSetHooks(
      [](uint32_t size) -> void* {
        void* p = std::malloc(size);
        live.push_back(p);
        return p;
      },
      [](void* p) {
        std::erase(live, p);
        std::free(p);
      });
  const uint32_t ids[] = {0, 5};
  MovieSetSoundTracks(2, ids);
  Movie* movie = Open(TwoTracks(), OPEN_NO_THREAD | OPEN_TRACKS);
  ASSERT_NE(movie, nullptr);
  EXPECT_GE(movie->memory_used, 69120u + 4096u);
  MovieClose(movie);
  movie_ = nullptr;
  EngineSetHooks(nullptr, nullptr);
  EXPECT_TRUE(live.empty());
  ASSERT_EQ(driver_.devices.size(), 2u);
  for (FakeDevice* d : driver_.devices) {
    EXPECT_EQ(d->closes, 1);
    EXPECT_EQ(d->pauses, 1);
  }
}

TEST_F(SoundTrackTest, DriverSelectionRules) {
  EXPECT_EQ(SoundDriverSelect(nullptr, 0), 0);
  SoundDriverReset();
  EXPECT_EQ(SoundDriverSelect(NullEntry, 0), 0);  // no track-open function
  EXPECT_EQ(SoundDriverSelect(FakeEntry, 0), 1);
  EXPECT_EQ(SoundDriverSelect(NullEntry, 0), 1);  // keeps the one it had
  EXPECT_EQ(SoundDriverSelect(OtherEntry, 0), 1);  // nothing opened yet: may change
  EXPECT_EQ(SoundDriverSelect(FakeEntry, 0), 1);
  Movie* movie = Open(TwoTracks());
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(SoundDriverSelect(OtherEntry, 0), 0);  // a track was opened with FakeEntry
  EXPECT_EQ(SoundDriverSelect(FakeEntry, 0), 1);
}

// ---- The ring and its feeding, on a hand-made track ---------------------------

class SoundRingTest : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(static_cast<void*>(&track_), 0, sizeof(track_));
    ring_.assign(256, 0);
    track_.ring_size = 256;
    track_.ring_start = track_.ring_read = track_.ring_write = ring_.data();
    track_.ring_end = ring_.data() + 256;
    track_.feed_mask = 0xFFFFFFFFu;
    *SoundDriverState<FakeDevice*>(&track_) = &device_;
    track_.ready = FakeReady;
    track_.get_buffer = FakeGetBuffer;
    track_.submit_buffer = FakeSubmit;
    track_.set_on = FakeSetOn;
    movie_.selected_count = 1;
    movie_.tracks = &track_;
    movie_.frame_num = 5;
    track_.last_refill_frame = 100;
  }

  static std::vector<uint8_t> Bytes(uint32_t n, uint32_t first) {
    std::vector<uint8_t> v(n);
    for (uint32_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(first + i);
    return v;
  }
  // The ring's content in reading order.
  std::vector<uint8_t> Content() const {
    std::vector<uint8_t> out;
    const uint8_t* at = track_.ring_read;
    for (uint32_t i = 0; i < track_.ring_fill; i++) {
      out.push_back(*at);
      if (++at == track_.ring_end) at = track_.ring_start;
    }
    return out;
  }

  SoundTrack track_;
  std::vector<uint8_t> ring_;
  FakeDevice device_;
  Movie movie_{};
};

TEST_F(SoundRingTest, AppendWrapsAndDropsTheOldest) {
  const std::vector<uint8_t> a = Bytes(200, 0);
  SoundRingAppend(&track_, a.data(), 200);
  EXPECT_EQ(Content(), a);
  const std::vector<uint8_t> b = Bytes(100, 200);
  SoundRingAppend(&track_, b.data(), 100);  // 44 oldest bytes go
  EXPECT_EQ(track_.ring_fill, 256u);
  EXPECT_EQ(Content(), Bytes(256, 44));
  const std::vector<uint8_t> c = Bytes(1000, 7);  // more than the ring: the newest 256
  SoundRingAppend(&track_, c.data(), 1000);
  EXPECT_EQ(Content(), Bytes(256, 7 + 744));
}

TEST_F(SoundRingTest, FeedingHonoursMinimumMaskAndTheClosingFlush) {
  track_.min_feed_bytes = 100;
  track_.feed_mask = ~uint32_t{63};
  device_.ready_budget = 10;
  device_.buffer_size = 1000;
  const std::vector<uint8_t> pcm = Bytes(90, 0);
  SoundRingAppend(&track_, pcm.data(), 90);
  SoundService(&movie_);
  EXPECT_TRUE(device_.played.empty());  // at or below the minimum
  SoundRingAppend(&track_, pcm.data(), 90);  // 180 bytes
  SoundService(&movie_);
  EXPECT_EQ(device_.played.size(), 128u);  // rounded down by the mask
  EXPECT_EQ(track_.ring_fill, 52u);
  movie_.frame_num = 101;  // past the refill mark: the rest is flushed unrounded
  SoundService(&movie_);
  EXPECT_EQ(device_.played.size(), 180u);
  EXPECT_EQ(track_.ring_fill, 0u);
}

TEST_F(SoundRingTest, EightBitTracksGetTheHighBytePlus128) {
  track_.to_8bit = 1;
  device_.ready_budget = 1;
  device_.buffer_size = 3;  // three 8-bit samples: six ring bytes
  const int16_t samples[4] = {-32768, -1, 256, 32767};
  SoundRingAppend(&track_, reinterpret_cast<const uint8_t*>(samples), 8);
  SoundService(&movie_);
  EXPECT_EQ(device_.played, (std::vector<uint8_t>{0, 127, 129}));
  EXPECT_EQ(track_.ring_fill, 2u);
}

TEST_F(SoundRingTest, SwitchingOffRestartsTheRingWithSilence) {
  movie_.sound_on = 1;
  track_.preroll_bytes = 64;
  const std::vector<uint8_t> pcm = Bytes(100, 1);
  SoundRingAppend(&track_, pcm.data(), 100);
  EXPECT_EQ(SoundOnOff(&movie_, 0), 0);
  EXPECT_EQ(movie_.sound_on, 0u);
  EXPECT_EQ(Content(), std::vector<uint8_t>(64, 0));
  movie_.clock_start = 1234;
  EXPECT_EQ(SoundOnOff(&movie_, 1), 1);
  EXPECT_EQ(movie_.sound_on, 1u);
  EXPECT_EQ(movie_.clock_start, 0u);  // the frame clock restarts
  // Frame 1 loaded but not yet played: no silence in front.
  movie_.frame_num = 1;
  movie_.last_decoded = 0;
  SoundOnOff(&movie_, 0);
  EXPECT_EQ(track_.ring_fill, 0u);
}

TEST_F(SoundRingTest, NothingHappensWithoutTracks) {
  movie_.selected_count = 0;
  device_.ready_budget = 5;
  const std::vector<uint8_t> pcm = Bytes(200, 0);
  SoundRingAppend(&track_, pcm.data(), 200);
  SoundService(&movie_);
  EXPECT_TRUE(device_.played.empty());
  EXPECT_EQ(SoundOnOff(&movie_, 1), 0);
}

}  // namespace
