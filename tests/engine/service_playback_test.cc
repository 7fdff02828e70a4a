// Movies playing on the test's thread (wait, decode, next frame, a pause)
// while the reading thread reads ahead and the sound thread feeds a device
// that plays at real-time rate, several movies opened and closed in turn so
// that the threads come and go. Built with ThreadSanitizer this shows that
// the mutexes and atomics are the only coordination the threads need.
//
// No timing is asserted: only that each thread did its share of the work
// and that every frame was decoded.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/movie.h"
#include "input/io_reader.h"
#include "input/service_thread.h"
#include "platform/platform.h"
#include "engine/sound_track.h"
#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

std::thread::id g_player_thread;
bool OnPlayerThread() { return std::this_thread::get_id() == g_player_thread; }

// ---- A device that plays what it is given at real-time rate --------------------

struct Device {
  uint32_t bps = 0;
  uint32_t capacity = 0;  // bytes it queues at most (a quarter second)
  uint32_t chunk = 0;
  uint32_t queued = 0;
  uint32_t last_ms = 0;
  bool playing = false;
  std::atomic<uint32_t> paused{0};  // pause comes from the player's thread without the mutex
  std::vector<uint8_t> buffer;
  std::atomic<uint64_t> fed_by_sound_thread{0};
  std::atomic<uint64_t> fed_by_player{0};
  std::atomic<uint32_t> underruns{0};
};

std::vector<std::unique_ptr<Device>> g_devices;  // kept until the test ends
// Set by the test: the device runs dry at its next look (as when the machine
// was too busy to feed it), which the engine must recover from.
std::atomic<bool> g_run_dry{false};

Device* DeviceOf(SoundTrack* track) { return *SoundDriverState<Device*>(track); }

// Lets the device play on to now; running dry while playing is an underrun.
void PlayOn(SoundTrack* track, Device* d) {
  const uint32_t now = MovieClockMs();
  const uint64_t played = uint64_t{now - d->last_ms} * d->bps / 1000;
  d->last_ms = now;
  if (!d->playing) return;
  if (played >= d->queued) {
    d->queued = 0;
    d->playing = false;
    d->underruns++;
    std::atomic_ref<uint32_t>(track->underrun).store(1, std::memory_order_relaxed);
  } else {
    d->queued -= static_cast<uint32_t>(played);
  }
}

int DeviceReady(SoundTrack* track) {
  Device* d = DeviceOf(track);
  if (d->paused.load() || !track->device_on) return 0;
  if (g_run_dry.exchange(false) && d->playing) d->last_ms -= 10000;  // ten seconds "played"
  PlayOn(track, d);
  return d->queued + d->chunk <= d->capacity;
}

int DeviceGetBuffer(SoundTrack* track, void** buffer, uint32_t* size) {
  Device* d = DeviceOf(track);
  *buffer = d->buffer.data();
  *size = d->chunk;
  return 1;
}

int DeviceSubmit(SoundTrack* track, uint32_t bytes) {
  Device* d = DeviceOf(track);
  d->queued += bytes;
  if (!d->playing && d->queued >= d->capacity / 2) d->playing = true;
  (OnPlayerThread() ? d->fed_by_player : d->fed_by_sound_thread) += bytes;
  return 1;
}

int DevicePause(SoundTrack* track, int on) {
  DeviceOf(track)->paused.store(on ? 1 : 0);
  return on;
}

int DeviceSetOn(SoundTrack* track, int on) {
  Device* d = DeviceOf(track);
  if (!on) {
    d->queued = 0;
    d->playing = false;
  }
  track->device_on = on ? 1 : 0;
  return static_cast<int>(track->device_on);
}

void DeviceClose(SoundTrack* track) { track->device_on = 0; }

int DeviceTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                    const SoundTrackContext*) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  auto device = std::make_unique<Device>();
  device->bps = rate * channels * bits / 8;
  device->capacity = device->bps / 4;
  device->chunk = (device->bps / 20) & ~3u;
  device->buffer.resize(device->chunk);
  device->last_ms = MovieClockMs();
  *SoundDriverState<Device*>(track) = device.get();
  g_devices.push_back(std::move(device));
  track->ready = DeviceReady;
  track->get_buffer = DeviceGetBuffer;
  track->submit_buffer = DeviceSubmit;
  track->pause = DevicePause;
  track->set_on = DeviceSetOn;
  track->close = DeviceClose;
  track->min_feed_bytes = g_devices.back()->chunk;
  track->device_on = 1;
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  return 1;
}

SoundTrackOpenFn DeviceDriver(uint32_t) { return DeviceTrackOpen; }

// ---- A file reader that notes who reads ahead -------------------------------------

std::atomic<uint32_t> g_background_reads{0};
int32_t (*g_file_idle)(IoReader*) = nullptr;

int32_t CountingIdle(IoReader* io) {
  const int32_t got = g_file_idle(io);
  if (got > 0 && !OnPlayerThread()) g_background_reads++;
  return got;
}

int CountingOpen(IoReader* io, const void* source, uint32_t flags) {
  if (!IoFileOpen(io, source, flags)) return 0;
  g_file_idle = io->idle;
  io->idle = CountingIdle;
  return 1;
}

// ---- Movies -----------------------------------------------------------------------------

struct SourceFrames {
  uint32_t count;
};

int DemoPictures(void* user, uint32_t frame, VideoPicture* picture) {
  if (frame >= static_cast<SourceFrames*>(user)->count) return 0;
  SynthPicture(SynthScene::kNoise, frame, 128, 96, false, picture);
  return 1;
}

std::string EncodeToFile(const char* name, uint32_t frames, uint32_t fps, bool sound) {
  MovieEncodeOptions o;
  o.video.width = 128;
  o.video.height = 96;
  o.video.keyint = 4;
  o.video.scene_cuts = false;  // key frames only every 4 frames: the layout these tests read
  o.rate_num = fps;
  o.rate_den = 1;
  if (sound) {
    MovieAudioInput a;
    a.rate = 22050;
    a.channels = 2;
    SynthMelody(a.rate, a.channels, double(frames) / fps + 1.0, &a.samples);
    o.audio.push_back(std::move(a));
  }
  SourceFrames source{frames};
  std::vector<uint8_t> bytes;
  MovieEncodeStats stats;
  const char* error = nullptr;
  EXPECT_TRUE(MovieEncode(o, DemoPictures, &source, &bytes, &stats, &error)) << error;
  EXPECT_GT(bytes.size(), 8 * IO_CHUNK_SIZE);  // far more than the ring: never preloaded
  return FixtureWriteFile(name, bytes);
}

Movie* OpenThreaded(const std::string& path) {
  MovieSetIoOpen(CountingOpen);
  MovieSetIoBufferSize(2 * IO_CHUNK_SIZE);  // a small ring: reading ahead matters
  Movie* movie = MovieOpen(path.c_str(), OPEN_CUSTOM_IO | OPEN_IO_SIZE);
  EXPECT_NE(movie, nullptr) << MovieGetError();
  if (movie) EXPECT_EQ(movie->preload, nullptr);
  return movie;
}

// The player stalls (a window being dragged) while the ring has room for a
// chunk and the movie has more than a chunk left (in its first half): the
// reading thread must fill the ring meanwhile. The wait ends with the
// first background read (or after three seconds, which the test then notes).
void StallForReader(Movie* movie) {
  if (movie->io.free_bytes.load() < IO_CHUNK_SIZE) return;
  const uint32_t before = g_background_reads.load();
  for (int slice = 0; slice < 600 && g_background_reads.load() == before; ++slice) SleepMs(5);
}

// One frame step as the player's loop does it; false once the movie ended.
// Now and then the frame's display takes long (a slow blit): meanwhile only
// the sound thread keeps the device fed.
bool Step(Movie* movie) {
  if (MovieWait(movie)) return true;  // not due yet
  EXPECT_EQ(MovieDoFrame(movie), 0);
  if (movie->frame_num % 8 == 3) SleepMs(150);
  if (static_cast<uint32_t>(movie->frame_num) >= movie->frames) return false;
  MovieNextFrame(movie);
  if (movie->frame_num % 8 == 5 && static_cast<uint32_t>(movie->frame_num) < movie->frames / 2)
    StallForReader(movie);
  return true;
}

void PlayToEnd(Movie* movie, bool pause_halfway) {
  bool paused_once = false;
  while (Step(movie)) {
    if (movie->frame_num == 6) g_run_dry = true;
    if (pause_halfway && !paused_once &&
        static_cast<uint32_t>(movie->frame_num) > movie->frames / 2) {
      paused_once = true;
      MovieSetPause(movie, 1);
      SleepMs(60);
      MovieSetPause(movie, 0);
    }
    SleepMs(1);  // the loop's sleep between frames
  }
}

uint64_t FedBySoundThread() {
  uint64_t sum = 0;
  for (const auto& d : g_devices) sum += d->fed_by_sound_thread.load();
  return sum;
}

class ServicePlayback : public ::testing::Test {
 protected:
  void SetUp() override {
    g_player_thread = std::this_thread::get_id();
    g_devices.clear();
    g_background_reads = 0;
    g_run_dry = false;
    SoundDriverReset();
    ASSERT_EQ(SoundDriverSelect(DeviceDriver, 0), 1);
  }
  void TearDown() override {
    SoundDriverReset();
    EXPECT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);
    EXPECT_EQ(ServiceThreadOf(SERVICE_SOUND), nullptr);
    g_devices.clear();
  }
};

TEST_F(ServicePlayback, SoundAndReadingThreadsWorkWhileAMoviePlays) {
  const std::string path = EncodeToFile("service_play_a.vxn", 40, 25, true);
  Movie* movie = OpenThreaded(path);
  ASSERT_NE(movie, nullptr);
  ASSERT_EQ(movie->selected_count, 1u);
  ASSERT_NE(ServiceThreadOf(SERVICE_SOUND), nullptr);
  ASSERT_NE(ServiceThreadOf(SERVICE_READING), nullptr);
  PlayToEnd(movie, true);
  EXPECT_EQ(movie->frames_decoded, 40u);
  // The device ran dry once (see PlayToEnd): the engine took both of the
  // movie's mutexes while the threads were running and restarted the sound.
  EXPECT_GE(movie->sound_skips, 1u);
  MovieClose(movie);
  EXPECT_GT(FedBySoundThread(), 0u);
  EXPECT_GT(g_background_reads.load(), 0u);
}

TEST_F(ServicePlayback, MoviesOpenedAndClosedInTurn) {
  const std::string sound = EncodeToFile("service_play_b.vxn", 30, 30, true);
  const std::string silent = EncodeToFile("service_play_c.vxn", 30, 30, false);
  for (int round = 0; round < 2; ++round) {
    // Two movies at once, stepped in turn: both nodes on each list.
    Movie* a = OpenThreaded(sound);
    Movie* b = OpenThreaded(silent);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(ServiceThreadOf(SERVICE_READING)->node_count, 2u);
    bool a_on = true, b_on = true;
    uint32_t steps = 0;
    while ((a_on || b_on) && steps < 1000000) {
      if (a_on) a_on = Step(a);
      if (b_on) b_on = Step(b);
      if (++steps % 4 == 0 && a_on && b_on) {
        // Halfway through the first round the movie with sound goes away
        // while the other plays on: its thread ends, the reading thread stays.
        if (round == 0 && static_cast<uint32_t>(a->frame_num) > a->frames / 2) {
          EXPECT_EQ(a->frames_decoded + 1, static_cast<uint32_t>(a->frame_num));
          MovieClose(a);
          a = nullptr;
          a_on = false;
          EXPECT_EQ(ServiceThreadOf(SERVICE_SOUND), nullptr);
          EXPECT_NE(ServiceThreadOf(SERVICE_READING), nullptr);
        }
      }
      SleepMs(1);
    }
    EXPECT_EQ(b->frames_decoded, 30u);
    if (a) {
      EXPECT_EQ(a->frames_decoded, 30u);
      MovieClose(a);
    }
    MovieClose(b);
    EXPECT_EQ(ServiceThreadOf(SERVICE_READING), nullptr);
    // A movie alone, with sound: a fresh pair of threads.
    Movie* c = OpenThreaded(sound);
    ASSERT_NE(c, nullptr);
    PlayToEnd(c, round == 1);
    MovieClose(c);
  }
  EXPECT_GT(FedBySoundThread(), 0u);
  EXPECT_GT(g_background_reads.load(), 0u);
}

}  // namespace
