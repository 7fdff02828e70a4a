// Seeking against a straight decode: the picture after an exact seek to
// frame k is the k-th picture of a decode from the start, and the sound a
// driver receives after the seek is the straight decode's sound from the
// sample at frame k's time on, with nothing from before the seek. From a
// file, a file inside another file and memory; with and without the
// service threads; paused, twice, backwards, past the end, truncated.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/engine_memory.h"
#include "engine/movie.h"
#include "platform/platform.h"
#include "engine/sound_track.h"
#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

constexpr uint32_t kWidth = 64, kHeight = 48;
constexpr uint32_t kRate = 22050;
constexpr uint32_t kFrames = 75;

// ---- A driver that hears everything it is given -------------------------------------
// ready whenever not paused; every submitted byte is "heard" unless a flush
// takes it back. The engine calls pause without the sound mutex, so that
// flag is atomic; everything else runs under the mutex.
struct Ear {
  std::vector<uint8_t> heard;
  uint32_t flushes = 0;
  std::atomic<int> paused{0};
  uint8_t buffer[4096];
};
Ear g_ear;

int EarReady(SoundTrack* t) { return t->device_on && !g_ear.paused.load() ? 1 : 0; }
int EarGetBuffer(SoundTrack*, void** buffer, uint32_t* size) {
  *buffer = g_ear.buffer;
  *size = sizeof g_ear.buffer;
  return 1;
}
int EarSubmit(SoundTrack*, uint32_t bytes) {
  g_ear.heard.insert(g_ear.heard.end(), g_ear.buffer, g_ear.buffer + bytes);
  return 1;
}
int EarPause(SoundTrack*, int on) {
  g_ear.paused.store(on);
  return on;
}
int EarSetOn(SoundTrack* t, int on) {
  t->device_on = on ? 1 : 0;
  return static_cast<int>(t->device_on);
}
void EarClose(SoundTrack* t) { t->device_on = 0; }
void EarFlush(SoundTrack*) {
  g_ear.heard.clear();
  g_ear.flushes += 1;
}
int EarOpen(SoundTrack* t, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
            const SoundTrackContext*) {
  std::memset(static_cast<void*>(t), 0, sizeof(*t));
  t->ready = EarReady;
  t->get_buffer = EarGetBuffer;
  t->submit_buffer = EarSubmit;
  t->pause = EarPause;
  t->set_on = EarSetOn;
  t->close = EarClose;
  t->flush = EarFlush;
  t->device_on = 1;
  t->rate = rate;
  t->bits = bits;
  t->channels = channels;
  return 1;
}
SoundTrackOpenFn EarDriver(uint32_t) { return EarOpen; }

// ---- The movie and its straight decode ------------------------------------------------
int Picture(void* user, uint32_t frame, VideoPicture* picture) {
  if (frame >= kFrames) return 0;
  SynthPicture(*static_cast<SynthScene*>(user), frame, kWidth, kHeight, false, picture);
  return 1;
}

std::vector<uint8_t> EncodeMovie(uint32_t keyint, bool scene_cuts) {
  MovieEncodeOptions o;
  o.video.width = kWidth;
  o.video.height = kHeight;
  o.video.keyint = keyint;
  o.video.scene_cuts = scene_cuts;
  o.video.quality = 50;
  MovieAudioInput audio;
  audio.rate = kRate;
  audio.channels = 2;
  SynthMelody(kRate, 2, kFrames / 30.0 + 1, &audio.samples);
  o.audio.push_back(audio);
  SynthScene scene = SynthScene::kDemo;
  std::vector<uint8_t> bytes;
  const char* error = nullptr;
  EXPECT_TRUE(MovieEncode(o, Picture, &scene, &bytes, nullptr, &error)) << (error ? error : "");
  return bytes;
}

struct Straight {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> pictures;  // frame k at [k - 1]
  std::vector<uint8_t> pcm;                    // everything the driver heard
};

const uint8_t* Shown(const Movie* m) { return m->yuv_buffers[m->cur_buffer ^ 1]; }
size_t PictureBytes(const Movie* m) {
  return size_t{m->plane_width} * m->plane_height + 2 * size_t{m->chroma_width} * m->chroma_height;
}

Movie* OpenMemory(const std::vector<uint8_t>& bytes, uint32_t flags) {
  MovieSetMemorySize(static_cast<uint32_t>(bytes.size()));
  return MovieOpen(bytes.data(), flags | OPEN_FROM_MEMORY);
}

Straight Decode(std::vector<uint8_t> bytes) {
  Straight s;
  s.bytes = std::move(bytes);
  g_ear.heard.clear();
  g_ear.paused = 0;
  Movie* m = OpenMemory(s.bytes, OPEN_NO_THREAD);
  EXPECT_NE(m, nullptr);
  if (!m) return s;
  for (uint32_t k = 1; k <= m->frames; ++k) {
    EXPECT_EQ(MovieDoFrame(m), 0);
    s.pictures.emplace_back(Shown(m), Shown(m) + PictureBytes(m));
    if (k < m->frames) MovieNextFrame(m);
  }
  MovieClose(m);
  s.pcm = g_ear.heard;
  return s;
}

const Straight& KeyedMovie() {
  static const Straight s = Decode(EncodeMovie(12, true));
  return s;
}
const Straight& OneKeyMovie() {
  static const Straight s = Decode(EncodeMovie(0, false));
  return s;
}

// The straight decode's sound from frame k's time on (22050 Hz stereo at 30/1:
// 735 sample frames of 4 bytes per frame).
std::vector<uint8_t> SoundFrom(const Straight& s, uint32_t k) {
  const size_t at = size_t{k - 1} * 735 * 4;
  if (at >= s.pcm.size()) return {};
  return {s.pcm.begin() + static_cast<std::ptrdiff_t>(at), s.pcm.end()};
}

// Plays on to the last frame and returns what the driver heard, taken under
// the sound mutex once the rings are drained (the sound thread may be the
// one feeding the last of it).
std::vector<uint8_t> PlayToEnd(Movie* m) {
  while (static_cast<uint32_t>(m->frame_num) < m->frames) {
    MovieNextFrame(m);
    EXPECT_EQ(MovieDoFrame(m), 0);
  }
  PlatformMutex* mutex = m->sound_node.mutex;
  if (mutex) MutexLock(mutex);
  SoundService(m);
  std::vector<uint8_t> heard = g_ear.heard;
  if (mutex) MutexUnlock(mutex);
  return heard;
}

enum class Source { kFile, kInsideFile, kMemory };

class Seek : public ::testing::TestWithParam<std::tuple<Source, bool>> {
 protected:
  void SetUp() override {
    SoundDriverReset();
    ASSERT_EQ(SoundDriverSelect(EarDriver, 0), 1);
    g_ear.paused = 0;
    g_ear.heard.clear();
  }
  void TearDown() override {
    MovieClose(movie_);
    if (file_ != kInvalidFile) FileClose(file_);
    SoundDriverReset();
  }

  Movie* Open(const Straight& s) {
    const auto [source, threads] = GetParam();
    const uint32_t flags = threads ? 0u : uint32_t{OPEN_NO_THREAD};
    if (source == Source::kMemory) return movie_ = OpenMemory(s.bytes, flags);
    // A read-ahead ring far smaller than the movie, so frames come through it.
    MovieSetIoBufferSize(16384);
    if (source == Source::kFile) {
      const std::string path = FixtureWriteFile("seek.vxn", s.bytes);
      return movie_ = MovieOpen(path.c_str(), flags | OPEN_IO_SIZE);
    }
    std::vector<uint8_t> carrier(1234, 0x5A);
    carrier.insert(carrier.end(), s.bytes.begin(), s.bytes.end());
    const std::string path = FixtureWriteFile("seek-carrier.bin", carrier);
    file_ = FileOpenRead(path.c_str(), false);
    EXPECT_TRUE(FileSeek(file_, 1234));
    return movie_ = MovieOpen(IoHandleSource(file_), flags | OPEN_IO_SIZE | OPEN_FILE_HANDLE);
  }

  Movie* movie_ = nullptr;
  PlatformFile file_ = kInvalidFile;
};

TEST_P(Seek, ExactSeeksShowTheStraightPicture) {
  const Straight& s = KeyedMovie();
  Movie* m = Open(s);
  ASSERT_NE(m, nullptr);
  ASSERT_FALSE(m->preload && std::get<0>(GetParam()) != Source::kMemory) << "ring not used";
  // Forwards, backwards, onto key frames, just before and after them, the
  // ends, and twice in a row.
  for (uint32_t k : {5u, 40u, 13u, 12u, 1u, 75u, 74u, 24u, 25u, 60u, 60u, 2u, 37u}) {
    ASSERT_EQ(MovieSeek(m, k, SEEK_EXACT), 1) << k << ": " << MovieGetError();
    ASSERT_EQ(m->frame_num, static_cast<int32_t>(k));
    ASSERT_EQ(m->shown_frame_num, static_cast<int32_t>(k));
    EXPECT_EQ(MovieDoFrame(m), 0);  // already decoded
    ASSERT_EQ(std::memcmp(Shown(m), s.pictures[k - 1].data(), PictureBytes(m)), 0) << "frame " << k;
    // Playing on from there continues the straight decode.
    if (k < m->frames) {
      MovieNextFrame(m);
      ASSERT_EQ(MovieDoFrame(m), 0);
      ASSERT_EQ(std::memcmp(Shown(m), s.pictures[k].data(), PictureBytes(m)), 0) << "after " << k;
    }
  }
}

TEST_P(Seek, SoundAfterTheSeekIsTheStraightSoundFromItsTime) {
  const Straight& s = KeyedMovie();
  for (uint32_t k : {1u, 2u, 17u, 50u}) {
    g_ear.paused = 0;  // the last close paused the driver
    g_ear.heard.clear();
    Movie* m = Open(s);
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < 30; ++i) {  // play a second first: sound is queued
      ASSERT_EQ(MovieDoFrame(m), 0);
      MovieNextFrame(m);
    }
    const uint32_t flushes = g_ear.flushes;
    ASSERT_EQ(MovieSeek(m, k, SEEK_EXACT), 1);
    EXPECT_EQ(g_ear.flushes, flushes + 1);  // the device's queue went
    const std::vector<uint8_t> heard = PlayToEnd(m);
    const std::vector<uint8_t> want = SoundFrom(s, k);
    ASSERT_EQ(heard.size(), want.size()) << "seek to " << k;
    EXPECT_TRUE(heard == want) << "seek to " << k;
    MovieClose(m);
    movie_ = nullptr;
    if (file_ != kInvalidFile) FileClose(file_);
    file_ = kInvalidFile;
  }
}

INSTANTIATE_TEST_SUITE_P(SourcesAndThreads, Seek,
                         ::testing::Combine(::testing::Values(Source::kFile, Source::kInsideFile,
                                                              Source::kMemory),
                                            ::testing::Bool()));

class SeekEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    SoundDriverReset();
    ASSERT_EQ(SoundDriverSelect(EarDriver, 0), 1);
    g_ear.paused = 0;
    g_ear.heard.clear();
  }
  void TearDown() override { SoundDriverReset(); }
};

TEST_F(SeekEdges, KeyFrameSeekLandsOnTheKeyFrameAtOrBefore) {
  const Straight& s = KeyedMovie();
  Movie* m = OpenMemory(s.bytes, OPEN_NO_THREAD);
  ASSERT_NE(m, nullptr);
  for (uint32_t k : {30u, 3u, 75u}) {
    uint32_t key = k;
    while (key > 1 && !(m->frame_index[key - 1] & 1)) --key;
    ASSERT_EQ(MovieSeek(m, k, 0), 1);
    EXPECT_EQ(m->frame_num, static_cast<int32_t>(key));
    EXPECT_EQ(std::memcmp(Shown(m), s.pictures[key - 1].data(), PictureBytes(m)), 0);
  }
  MovieClose(m);
}

TEST_F(SeekEdges, PastTheEndIsRefusedAndChangesNothing) {
  const Straight& s = KeyedMovie();
  Movie* m = OpenMemory(s.bytes, OPEN_NO_THREAD);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(MovieSeek(m, 20, SEEK_EXACT), 1);
  const uint32_t decoded = m->frames_decoded;
  EXPECT_EQ(MovieSeek(m, 76, SEEK_EXACT), 0);
  EXPECT_STREQ(MovieGetError(), "There is no frame 76: the movie has 75 frames.");
  EXPECT_EQ(m->frame_num, 20);
  EXPECT_EQ(m->frames_decoded, decoded);
  EXPECT_EQ(MovieSeek(nullptr, 1, 0), 0);
  // Frame 0 counts as frame 1.
  ASSERT_EQ(MovieSeek(m, 0, SEEK_EXACT), 1);
  EXPECT_EQ(m->frame_num, 1);
  EXPECT_EQ(std::memcmp(Shown(m), s.pictures[0].data(), PictureBytes(m)), 0);
  MovieClose(m);
}

TEST_F(SeekEdges, OnlyTheFirstFrameIsAKeyFrame) {
  const Straight& s = OneKeyMovie();
  Movie* m = OpenMemory(s.bytes, OPEN_NO_THREAD);
  ASSERT_NE(m, nullptr);
  for (uint32_t k = 2; k <= m->frames; ++k) ASSERT_FALSE(m->frame_index[k - 1] & 1);
  // Forward from the frame on screen, then backwards from frame 1.
  for (uint32_t k : {30u, 70u, 10u, 11u}) {
    ASSERT_EQ(MovieSeek(m, k, SEEK_EXACT), 1);
    ASSERT_EQ(std::memcmp(Shown(m), s.pictures[k - 1].data(), PictureBytes(m)), 0) << k;
  }
  // Without the exact flag the only key frame is frame 1.
  ASSERT_EQ(MovieSeek(m, 50, 0), 1);
  EXPECT_EQ(m->frame_num, 1);
  MovieClose(m);
}

TEST_F(SeekEdges, PausedSeekShowsTheFrameStaysPausedAndHoldsItsSound) {
  const Straight& s = KeyedMovie();
  Movie* m = OpenMemory(s.bytes, OPEN_NO_THREAD);
  ASSERT_NE(m, nullptr);
  for (int i = 0; i < 10; ++i) {
    ASSERT_EQ(MovieDoFrame(m), 0);
    MovieNextFrame(m);
  }
  MovieSetPause(m, 1);
  ASSERT_EQ(MovieSeek(m, 45, SEEK_EXACT), 1);
  EXPECT_EQ(m->paused, 1u);
  EXPECT_EQ(std::memcmp(Shown(m), s.pictures[44].data(), PictureBytes(m)), 0);
  EXPECT_TRUE(g_ear.heard.empty());  // nothing plays while paused
  EXPECT_EQ(MovieWait(m), 1);
  MovieSetPause(m, 0);
  EXPECT_TRUE(PlayToEnd(m) == SoundFrom(s, 45));
  MovieClose(m);
}

TEST_F(SeekEdges, TheJumpIsNeitherLatenessNorPlayedFrames) {
  const Straight& s = KeyedMovie();
  Movie* m = OpenMemory(s.bytes, OPEN_NO_THREAD);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(MovieDoFrame(m), 0);
  MovieNextFrame(m);
  m->skip_run = 2;
  m->clock_adjust = 500;
  ASSERT_EQ(MovieSeek(m, 70, SEEK_EXACT), 1);
  EXPECT_EQ(m->frames_decoded, 2u);  // frame 1 and the new frame, not the 58 between
  EXPECT_EQ(m->skip_run, 0u);
  EXPECT_EQ(m->clock_adjust, 0u);
  EXPECT_NE(m->clock_start, 0u);  // running from the new frame
  EXPECT_EQ(m->clock_start_frames, m->frames_decoded - 1);
  EXPECT_EQ(m->rect_count, -1);
  for (uint32_t b = 0; b < m->block_count; ++b) ASSERT_NE(m->block_map[b], 0) << b;
  MovieClose(m);
}

TEST_F(SeekEdges, TruncatedFileGivesAClearResultAndRecovers) {
  const Straight& s = KeyedMovie();
  std::vector<uint8_t> cut(s.bytes.begin(), s.bytes.begin() + static_cast<std::ptrdiff_t>(s.bytes.size() * 2 / 3));
  const std::string path = FixtureWriteFile("seek-cut.vxn", cut);
  MovieSetIoBufferSize(16384);
  Movie* m = MovieOpen(path.c_str(), OPEN_NO_THREAD | OPEN_IO_SIZE);
  ASSERT_NE(m, nullptr);
  ASSERT_EQ(m->preload, nullptr);
  EXPECT_EQ(MovieSeek(m, 74, SEEK_EXACT), 0);
  EXPECT_NE(std::string(MovieGetError()).find("could not be read"), std::string::npos);
  EXPECT_EQ(MovieDoFrame(m), 1);  // stands there with its read error
  ASSERT_EQ(MovieSeek(m, 8, SEEK_EXACT), 1) << MovieGetError();
  EXPECT_EQ(std::memcmp(Shown(m), s.pictures[7].data(), PictureBytes(m)), 0);
  MovieNextFrame(m);
  EXPECT_EQ(MovieDoFrame(m), 0);
  MovieClose(m);
}

}  // namespace
