// Decoding real movies frame by frame: the audio packets of every file track
// walked and the played ones decoded into their rings, the video decoded
// from the rest of each packet, bad packet lengths contained, and no memory
// taken while frames play.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "base/engine_memory.h"
#include "engine/movie.h"
#include "engine/movie_audio.h"
#include "engine/movie_stats.h"
#include "sound/sound_silent.h"
#include "engine/sound_track.h"
#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/movie_writer.h"
#include "writer/video_encoder.h"
#include "platform/cpu.h"

// Every allocation of the test program is counted, so a test can prove that
// a stretch of code allocates nothing: through the sanitizer's allocation
// hook when the address sanitizer owns the heap, else by replacing operator
// new (which the sanitizer's own operator new must not meet).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VORN_TEST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VORN_TEST_ASAN 1
#endif
#endif

namespace {
std::atomic<uint64_t> g_news{0};
}  // namespace

#ifdef VORN_TEST_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(
    void (*malloc_hook)(const volatile void*, size_t), void (*free_hook)(const volatile void*));
namespace {
void CountMalloc(const volatile void*, size_t) { g_news.fetch_add(1, std::memory_order_relaxed); }
void IgnoreFree(const volatile void*) {}
[[maybe_unused]] const int g_hooks_installed = __sanitizer_install_malloc_and_free_hooks(CountMalloc, IgnoreFree);
}  // namespace
#else
void* operator new(std::size_t size) {
  g_news.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
#endif

namespace {

std::atomic<uint32_t> g_engine_allocs{0};
void* CountingAlloc(uint32_t) {
  g_engine_allocs.fetch_add(1, std::memory_order_relaxed);
  return nullptr;  // fall back to the standard allocator
}

// A small movie with two sound tracks: file track 0 (id 7, mono RDFT, never
// played here) and file track 1 (id 0, stereo DCT, the default selection).
// recon[k] is the encoder's own picture of frame k in the decoder's layout.
struct TestMovie {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> recon;
  std::vector<uint32_t> played_track_bytes;  // decoded PCM bytes per frame, track id 0
  uint32_t width = 96, height = 64;
};

void PutLe32(std::vector<uint8_t>* v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v->push_back(static_cast<uint8_t>(x >> (8 * i)));
}

const TestMovie& SharedMovie() {
  static const TestMovie movie = [] {
    TestMovie m;
    const uint32_t frames = 30;
    VideoEncoderOptions vo;
    vo.width = m.width;
    vo.height = m.height;
    vo.keyint = 7;
    VideoEncoder* venc = VideoEncoderCreate(vo);
    std::vector<MovieWriterTrack> tracks(2);
    tracks[0].format = 11025 | AUDIO_TRACK_RDFT;
    tracks[0].id = 7;
    tracks[1].format = 22050 | AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO | AUDIO_TRACK_16BIT;
    tracks[1].id = 0;
    std::vector<MovieWriterFrame> out(frames);
    VideoPicture picture;
    uint32_t seed = 1;
    for (uint32_t k = 0; k < frames; ++k) {
      SynthPicture(SynthScene::kDemo, k, m.width, m.height, false, &picture);
      VideoFrameStats stats;
      VideoEncoderEncode(venc, picture, k == 0, &out[k].video, &stats);
      out[k].key = stats.key;
      VideoReconView view = VideoEncoderRecon(venc);
      size_t size = size_t{view.pitch} * view.rows * 3 / 2;
      m.recon.emplace_back(view.frame, view.frame + size);
      // The unplayed track carries bytes that would wreck the picture if
      // they were taken for video: they must be skipped by their size.
      std::vector<uint8_t> noise(700 + k);
      for (uint8_t& b : noise) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
      out[k].audio.push_back(noise);
      // The played track: silence (all-zero blocks), a lead-in first, then a
      // block every second frame and none in between.
      uint32_t bytes = k == 0 ? 3840 * 5 : (k % 2 ? 3840 : 0);
      std::vector<uint8_t> payload;
      if (bytes) {
        PutLe32(&payload, bytes);
        payload.insert(payload.end(), 48 * (bytes / 3840), 0);
      }
      out[k].audio.push_back(payload);
      tracks[1].max_bytes = std::max(tracks[1].max_bytes, bytes);
      tracks[0].max_bytes = 4096;
      m.played_track_bytes.push_back(bytes);
    }
    MovieWriterHeader header;
    header.width = m.width;
    header.height = m.height;
    m.bytes = MovieWriterBuild(header, tracks, out);
    VideoEncoderDestroy(venc);
    return m;
  }();
  return movie;
}

std::string WriteTemp(const std::vector<uint8_t>& bytes, const char* name) {
  std::string path = FixtureTempPath(name);
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  if (!f) return path;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

class StepDecode : public ::testing::Test {
 protected:
  void SetUp() override {
    SoundDriverReset();
    ASSERT_EQ(SoundDriverSelect(SoundSilentDriver, 0), 1);
  }
  void TearDown() override {
    EngineSetHooks(nullptr, nullptr);
    SoundDriverReset();
  }
};

// The frame just decoded is the one cur_buffer no longer points at.
const uint8_t* DecodedPicture(const Movie* movie) { return movie->yuv_buffers[movie->cur_buffer ^ 1]; }

void PlayAndCompare(Movie* movie, const TestMovie& t, bool count_allocations) {
  ASSERT_EQ(movie->selected_count, 1u);
  ASSERT_EQ(movie->selected_tracks[0], 1u);
  const size_t picture_size = size_t{movie->plane_width} * movie->plane_height * 3 / 2;
  ASSERT_EQ(picture_size, t.recon[0].size());
  uint64_t news = g_news.load();
  g_engine_allocs = 0;
  if (count_allocations) EngineSetHooks(CountingAlloc, nullptr);
  uint32_t ring_expected = 0;
  for (uint32_t pass = 0; pass < 2; ++pass) {
    for (uint32_t k = 0; k < t.recon.size(); ++k) {
      ASSERT_EQ(movie->frame_num, static_cast<int32_t>(k + 1));
      ASSERT_EQ(MovieWait(movie), 0);  // as fast as possible
      ASSERT_EQ(MovieDoFrame(movie), 0);
      ASSERT_EQ(std::memcmp(DecodedPicture(movie), t.recon[k].data(), picture_size), 0)
          << "pass " << pass << " frame " << k + 1;
      ring_expected += t.played_track_bytes[k];
      if (ring_expected > movie->tracks[0].ring_size) ring_expected = movie->tracks[0].ring_size;
      ASSERT_EQ(movie->tracks[0].ring_fill, ring_expected) << "frame " << k + 1;
      MovieGetRects(movie, 0);
      MovieRealtime realtime;
      MovieGetRealtime(movie, 0, &realtime);
      MovieNextFrame(movie);
    }
  }
  EXPECT_EQ(movie->frames_decoded, 2 * t.recon.size());
  EngineSetHooks(nullptr, nullptr);
  if (count_allocations) {
    EXPECT_EQ(g_engine_allocs.load(), 0u);
    EXPECT_EQ(g_news.load(), news);
  }
}

TEST_F(StepDecode, AllocationCountersSeeAllocations) {
  uint64_t news = g_news.load();
  ::operator delete(::operator new(8));  // a call, not an expression the compiler may drop
  EXPECT_EQ(g_news.load(), news + 1);
  g_engine_allocs = 0;
  EngineSetHooks(CountingAlloc, nullptr);
  EngineFree(EngineAlloc(16));
  EngineSetHooks(nullptr, nullptr);
  EXPECT_EQ(g_engine_allocs.load(), 1u);
}

TEST_F(StepDecode, FileMovieDecodesEveryFrameExactlyWithoutAllocating) {
  const TestMovie& t = SharedMovie();
  ASSERT_GT(t.bytes.size(), 16384u * 10 / 9);  // too big to be preloaded whole
  std::string path = WriteTemp(t.bytes, "step_decode_file.vxn");
  MovieSetFrameRate(0, 1);
  MovieSetIoBufferSize(16384);  // small ring: frames come through read-ahead and direct reads
  Movie* movie = MovieOpen(path.c_str(), OPEN_FRAME_RATE | OPEN_IO_SIZE);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  ASSERT_EQ(movie->preload, nullptr);
  PlayAndCompare(movie, t, true);
  MovieClose(movie);
  std::remove(path.c_str());
}

TEST_F(StepDecode, MemoryMovieDecodesEveryFrameExactly) {
  const TestMovie& t = SharedMovie();
  std::vector<uint8_t> image = t.bytes;
  MovieSetFrameRate(0, 1);
  Movie* movie = MovieOpen(image.data(), OPEN_FROM_MEMORY | OPEN_FRAME_RATE);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  PlayAndCompare(movie, t, true);
  MovieClose(movie);
}

// Hand-made audio parts of a packet, for the walk's bounds.
struct AudioWalk {
  Movie movie{};
  SoundTrack tracks[1]{};
  uint32_t selected[1] = {1};
  std::vector<uint8_t> ring;
  AudioDecoder* decoder = nullptr;

  AudioWalk() {
    decoder = AudioDecoderOpen(22050, 2, 1, CpuFeatures());
    ring.assign(16384, 0xAA);
    SoundTrack& t = tracks[0];
    t.decoder = decoder;
    t.ring_size = static_cast<uint32_t>(ring.size());
    t.ring_start = t.ring_read = t.ring_write = ring.data();
    t.ring_end = ring.data() + ring.size();
    movie.tracks = tracks;
    movie.selected_tracks = selected;
    movie.selected_count = 1;
    movie.track_count = 3;
  }
  ~AudioWalk() { AudioDecoderClose(decoder); }
};

TEST(MovieAudioWalk, SkipsUnplayedTracksBySizeAndDecodesThePlayedOne) {
  AudioWalk w;
  std::vector<uint8_t> packet;
  PutLe32(&packet, 6);  // track 0, not played: skipped by its size
  packet.insert(packet.end(), {1, 2, 3, 4, 5, 6});
  PutLe32(&packet, 4 + 64);  // track 1, played: 5000 bytes from 64 bytes of blocks
  PutLe32(&packet, 5000);
  packet.insert(packet.end(), 64, 0);
  PutLe32(&packet, 0);  // track 2: nothing this frame
  const uint32_t video_at = static_cast<uint32_t>(packet.size());
  packet.insert(packet.end(), {9, 9, 9});
  EXPECT_EQ(MovieDecodeAudio(&w.movie, packet.data(), static_cast<uint32_t>(packet.size())), video_at);
  EXPECT_EQ(w.tracks[0].ring_fill, 5000u);
}

TEST(MovieAudioWalk, PacketSizesAreBoundedByTheFrame) {
  AudioWalk w;
  std::vector<uint8_t> packet;
  PutLe32(&packet, 6);
  packet.insert(packet.end(), {1, 2, 3, 4, 5, 6});
  PutLe32(&packet, 0xFFFFFFF0u);  // claims far more than the frame holds
  PutLe32(&packet, 3840);
  packet.insert(packet.end(), 40, 0);
  // Kept in a buffer of exactly the frame's size, so any read past it shows.
  std::vector<uint8_t> exact(packet);
  EXPECT_EQ(MovieDecodeAudio(&w.movie, exact.data(), static_cast<uint32_t>(exact.size())),
            exact.size());
  EXPECT_EQ(w.tracks[0].ring_fill, 3840u);

  // A frame too short for the next size word: no audio, no video.
  AudioWalk w2;
  std::vector<uint8_t> shortp = {6, 0, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0};
  EXPECT_EQ(MovieDecodeAudio(&w2.movie, shortp.data(), static_cast<uint32_t>(shortp.size())),
            shortp.size());
  EXPECT_EQ(w2.tracks[0].ring_fill, 0u);
  // A played packet too short for its decoded-bytes word decodes nothing.
  std::vector<uint8_t> tiny = {6, 0, 0, 0, 1, 2, 3, 4, 5, 6, 2, 0, 0, 0, 7, 7};
  EXPECT_EQ(MovieDecodeAudio(&w2.movie, tiny.data(), static_cast<uint32_t>(tiny.size())), 16u);
  EXPECT_EQ(w2.tracks[0].ring_fill, 0u);
}

TEST(MovieAudioWalk, RingKeepsTheNewestBytesWhenAPacketOverfillsIt) {
  AudioWalk w;
  std::vector<uint8_t> packet;
  PutLe32(&packet, 0);
  PutLe32(&packet, 4 + 16);
  PutLe32(&packet, 100000);  // far beyond the 16384-byte ring
  packet.insert(packet.end(), 16, 0);
  PutLe32(&packet, 0);
  EXPECT_EQ(MovieDecodeAudio(&w.movie, packet.data(), static_cast<uint32_t>(packet.size())),
            packet.size());
  EXPECT_EQ(w.tracks[0].ring_fill, w.tracks[0].ring_size);
}

}  // namespace
