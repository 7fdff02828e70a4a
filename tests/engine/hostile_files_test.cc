// Hostile movies: real movies from the encoder, then cut, bent and lied
// about in every field a file carries. Each must either be refused with a
// text or open and play to its end harmlessly (perhaps without new
// pictures); none may crash (the ASan build checks every access), hang, or
// take memory out of proportion to what it claims to be.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "base/engine_memory.h"
#include "engine/movie.h"
#include "sound/sound_silent.h"
#include "support/movie_fixtures.h"

namespace {

// ---- Allocation accounting -------------------------------------------------------
uint64_t g_live_bytes = 0, g_peak_bytes = 0;
struct BlockTag {
  uint64_t size;
};
void* CountingAlloc(uint32_t size) {
  void* p = std::malloc(size + sizeof(BlockTag) + 32);
  if (!p) return ENGINE_HOOK_REFUSE;
  static_cast<BlockTag*>(p)->size = size;
  g_live_bytes += size;
  if (g_live_bytes > g_peak_bytes) g_peak_bytes = g_live_bytes;
  return static_cast<uint8_t*>(p) + sizeof(BlockTag);
}
void CountingFree(void* block) {
  auto* tag = reinterpret_cast<BlockTag*>(static_cast<uint8_t*>(block) - sizeof(BlockTag));
  g_live_bytes -= tag->size;
  std::free(tag);
}

// ---- Base movies -----------------------------------------------------------------
// Six frames with a cut, two audio tracks (DCT stereo, RDFT mono).
std::vector<uint8_t> EncodeBase(char version, bool alpha, bool grey) {
  FixtureTwoTrackOptions options;
  options.frames = 6;
  options.width = 40;
  options.height = 24;
  options.keyint = 3;
  options.rate_num = 10;
  options.cut_at = 4;
  options.version = version;
  options.alpha = alpha;
  options.grey = grey;
  options.seconds = 1.5;
  return FixtureTwoTrack(options);
}

const std::vector<uint8_t>& BaseMovie() {
  static const std::vector<uint8_t> movie = EncodeBase('i', true, false);
  return movie;
}

// ---- Playing one candidate -------------------------------------------------------
enum class Outcome { kRefused, kPlayed };

class HostileFiles : public testing::Test {
 protected:
  void SetUp() override {
    SoundDriverReset();
    SoundDriverSelect(SoundSilentDriver, 0);
    EngineSetHooks(CountingAlloc, CountingFree);
    g_live_bytes = g_peak_bytes = 0;
  }
  void TearDown() override {
    EngineSetHooks(nullptr, nullptr);
    SoundDriverReset();
  }

  // Opens the bytes from a file, plays every frame with copies in a few
  // formats, closes, and checks memory came back and stayed proportionate.
  // Plays the bytes from a file and from a memory image of exactly their
  // length; both must agree on refusing.
  Outcome Play(const std::vector<uint8_t>& bytes, const std::string& what) {
    const std::string path = FixtureWriteFile("hostile.vxn", bytes);
    const Outcome from_file = PlayFrom(path.c_str(), bytes.size(), 0, what + " (file)");
    // An image length of 0 means "as long as the header says": no use here.
    if (bytes.empty()) return from_file;
    // A heap copy of exactly the right size, so ASan sees any read past it.
    std::unique_ptr<uint8_t[]> image(new uint8_t[bytes.size() + 1]);
    std::copy(bytes.begin(), bytes.end(), image.get());
    MovieSetMemorySize(static_cast<uint32_t>(bytes.size()));
    const Outcome from_memory =
        PlayFrom(image.get(), bytes.size(), OPEN_FROM_MEMORY, what + " (memory)");
    return from_file == Outcome::kPlayed || from_memory == Outcome::kPlayed ? Outcome::kPlayed
                                                                          : Outcome::kRefused;
  }

  Outcome PlayFrom(const void* source, size_t size, uint32_t extra_flags, const std::string& what) {
    static const uint32_t kIds[] = {0, 1};
    MovieSetSoundTracks(2, kIds);
    MovieSetFrameRate(0, 1);
    g_peak_bytes = g_live_bytes;
    const uint64_t live_before = g_live_bytes;
    Movie* movie = MovieOpen(source, OPEN_NO_THREAD | OPEN_TRACKS | OPEN_FRAME_RATE | OPEN_ALPHA |
                                         OPEN_NO_SKIP | extra_flags);
    if (!movie) {
      EXPECT_STRNE(MovieGetError(), "") << what;
      EXPECT_EQ(g_live_bytes, live_before) << what << ": a refused open kept memory";
      return Outcome::kRefused;
    }
    const uint64_t picture_bytes =
        uint64_t{movie->plane_width} * movie->plane_height * 2 * 3;  // two buffers + alpha
    for (uint32_t f = 0; f < movie->frames && f < 64; f++) {
      MovieDoFrame(movie);
      CopyAndCheckGuards(movie, f, what);
      MovieNextFrame(movie);
    }
    MovieClose(movie);
    EXPECT_EQ(g_live_bytes, live_before) << what << ": close left blocks behind";
    // Everything but the pictures scales with the file: index, read-ahead,
    // preload, frame data, audio rings (capped by their own sizes).
    // Audio rings are capped at a few MiB each whatever the tables claim.
    EXPECT_LE(g_peak_bytes - live_before, picture_bytes + 64 * uint64_t{size} + (12u << 20))
        << what;
    return Outcome::kPlayed;
  }

  void CopyAndCheckGuards(Movie* movie, uint32_t frame, const std::string& what) {
    static constexpr uint32_t kFormats[] = {COPY_BGRX32, COPY_RGB565, COPY_YUY2, COPY_YV12};
    const uint32_t format = kFormats[frame % 4];
    const uint32_t pitch = movie->width * 4;
    const uint32_t lines = movie->height * 2;
    const size_t guard = 64;
    std::vector<uint8_t> out(size_t{pitch} * lines + 2 * guard, 0xE7);
    MovieCopyToBuffer(movie, out.data() + guard, static_cast<int32_t>(pitch), movie->height, 0,
                      0, 0, 0, movie->width, movie->height, format | COPY_ALL);
    for (size_t i = 0; i < guard; i++) {
      ASSERT_EQ(out[i], 0xE7) << what << ": copy wrote before the buffer";
      ASSERT_EQ(out[out.size() - 1 - i], 0xE7) << what << ": copy wrote past the buffer";
    }
    MovieGetRects(movie, 0);
  }
};

TEST_F(HostileFiles, TheBaseMoviesPlay) {
  EXPECT_EQ(Play(BaseMovie(), "base i"), Outcome::kPlayed);
  EXPECT_EQ(Play(EncodeBase('g', false, true), "base g grey"), Outcome::kPlayed);
  EXPECT_EQ(Play(EncodeBase('h', true, false), "base h alpha"), Outcome::kPlayed);
}

TEST_F(HostileFiles, TruncatedAtEveryInterestingOffset) {
  const std::vector<uint8_t>& base = BaseMovie();
  std::vector<size_t> cuts;
  for (size_t i = 0; i <= 64 && i < base.size(); i++) cuts.push_back(i);
  const uint32_t frames = FixtureWord(base, 8);
  const size_t index = FixtureIndexPos(base);
  for (uint32_t i = 0; i <= frames; i++) {
    const size_t entry = FixtureIndexEntry(base, i) & ~1u;
    for (size_t d : {index + 4 * i, entry - 1, entry, entry + 1, entry + 4, entry + 9, entry + 40})
      if (d < base.size()) cuts.push_back(d);
  }
  for (size_t at = 0; at < base.size(); at += 211) cuts.push_back(at);
  for (size_t at : cuts) {
    std::vector<uint8_t> cut(base.begin(), base.begin() + at);
    Play(cut, "cut at " + std::to_string(at));
  }
}

TEST_F(HostileFiles, EveryHeaderFieldAtExtremes) {
  std::mt19937 random(7);
  const uint32_t values[] = {0, 1, 2, 0x7FFFFFFF, 0x80000000u, 0xFFFFFFFFu, 16384, 16385};
  for (size_t field = 4; field < 44; field += 4) {
    for (uint32_t value : values) {
      std::vector<uint8_t> bent = BaseMovie();
      FixtureSetWord(&bent, field, value);
      Play(bent, "field " + std::to_string(field) + " = " + std::to_string(value));
    }
    for (int r = 0; r < 4; r++) {
      std::vector<uint8_t> bent = BaseMovie();
      const uint32_t value = random();
      FixtureSetWord(&bent, field, value);
      Play(bent, "field " + std::to_string(field) + " = " + std::to_string(value));
    }
  }
}

// Found by the info fuzzer: a 499-byte file whose header claims a 4 GB movie
// with a 2 GB largest frame, and one index entry far out, made the open ask
// for a 2 GB frame buffer. Buffers follow the file, not the claims.
TEST_F(HostileFiles, AHeaderClaimingGigabytesGetsBuffersTheSizeOfTheFile) {
  std::vector<uint8_t> bent = BaseMovie();
  const uint32_t frames = FixtureWord(bent, 8);
  FixtureSetWord(&bent, 4, 0xFF000890u);   // size less 8
  FixtureSetWord(&bent, 12, 0x800025C8u);  // largest frame
  FixtureSetIndexEntry(&bent, frames, 0x80000000u);  // the last frame spans 2 GB
  for (uint32_t io_size : {0u, 1u << 20}) {
    MovieSetIoBufferSize(static_cast<int32_t>(io_size));
    const uint64_t live_before = g_live_bytes;
    g_peak_bytes = g_live_bytes;
    const std::string path = FixtureWriteFile("claims.vxn", bent);
    Movie* movie = MovieOpen(path.c_str(), OPEN_NO_THREAD | OPEN_IO_SIZE);
    ASSERT_NE(movie, nullptr) << MovieGetError();
    for (uint32_t f = 1; f <= frames; f++) {
      EXPECT_EQ(MovieDoFrame(movie), f < frames ? 0 : 1) << f;  // the last one is missing
      MovieNextFrame(movie);
    }
    MovieClose(movie);
    EXPECT_EQ(g_live_bytes, live_before);
    EXPECT_LT(g_peak_bytes - live_before, (4u << 20) + 64 * uint64_t{bent.size()});
  }
  // Preloaded, the block is the file's size too.
  g_peak_bytes = g_live_bytes;
  const uint64_t live_before = g_live_bytes;
  Movie* movie = MovieOpen(FixtureWriteFile("claims_p.vxn", bent).c_str(), OPEN_NO_THREAD | OPEN_PRELOAD);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  MovieClose(movie);
  EXPECT_LT(g_peak_bytes - live_before, (4u << 20) + 64 * uint64_t{bent.size()});
}

// Found by the soak run: a bent rate word gave 31 frames per 1359845395
// seconds, one frame every 500 days, and the player waited for the second.
TEST_F(HostileFiles, AFrameMayLastAnHourButNotAYear) {
  std::vector<uint8_t> bent = BaseMovie();
  FixtureSetWord(&bent, 28, 31);           // rate numerator
  FixtureSetWord(&bent, 32, 1359845395u);  // rate denominator
  MovieSetMemorySize(static_cast<uint32_t>(bent.size()));
  EXPECT_EQ(MovieOpen(bent.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD), nullptr);
  EXPECT_STREQ(MovieGetError(), "The movie's frame rate is not valid.");
  FixtureSetWord(&bent, 28, 1);
  FixtureSetWord(&bent, 32, 3600);  // a slide an hour still plays
  MovieSetMemorySize(static_cast<uint32_t>(bent.size()));
  Movie* movie = MovieOpen(bent.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  MovieClose(movie);
}

TEST_F(HostileFiles, TrackTablesLie) {
  const uint32_t values[] = {0, 1, 0xFFFF, 0x10000000, 0x7FFFFFFF, 0xFFFFFFFFu, 0xF000AC44u};
  for (size_t slot = 44; slot < 44 + 24; slot += 4) {
    for (uint32_t value : values) {
      std::vector<uint8_t> bent = BaseMovie();
      FixtureSetWord(&bent, slot, value);
      Play(bent, "track word " + std::to_string(slot) + " = " + std::to_string(value));
    }
  }
}

TEST_F(HostileFiles, IndexEntriesShuffledAndBent) {
  const std::vector<uint8_t>& base = BaseMovie();
  const uint32_t frames = FixtureWord(base, 8);
  std::mt19937 random(11);
  for (int round = 0; round < 12; round++) {
    std::vector<uint8_t> bent = base;
    std::vector<uint32_t> entries;
    for (uint32_t i = 0; i <= frames; i++) entries.push_back(FixtureIndexEntry(base, i));
    std::shuffle(entries.begin(), entries.end(), random);
    for (uint32_t i = 0; i <= frames; i++) FixtureSetIndexEntry(&bent, i, entries[i]);
    Play(bent, "shuffled index " + std::to_string(round));
  }
  for (uint32_t i = 0; i <= frames; i++) {
    for (uint32_t value : {0u, 1u, 0xFFFFFFFFu, FixtureIndexEntry(base, i) + 2,
                           FixtureIndexEntry(base, i) - 2}) {
      std::vector<uint8_t> bent = base;
      FixtureSetIndexEntry(&bent, i, value);
      Play(bent, "index " + std::to_string(i) + " = " + std::to_string(value));
    }
  }
}

TEST_F(HostileFiles, AudioPacketSizesLie) {
  const std::vector<uint8_t>& base = BaseMovie();
  const uint32_t frames = FixtureWord(base, 8);
  for (uint32_t f = 0; f < frames; f++) {
    const size_t packet = FixtureIndexEntry(base, f) & ~1u;
    const uint32_t first_size = FixtureWord(base, packet);
    const size_t second = packet + 4 + first_size;
    for (uint32_t value : {0u, 3u, first_size + 1, first_size + 1000, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      std::vector<uint8_t> bent = base;
      FixtureSetWord(&bent, packet, value);
      Play(bent, "frame " + std::to_string(f) + " packet size " + std::to_string(value));
    }
    if (first_size >= 4) {
      for (uint32_t value : {0u, 1u, 0x10000u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        std::vector<uint8_t> bent = base;
        FixtureSetWord(&bent, packet + 4, value);  // decoded_bytes
        Play(bent, "frame " + std::to_string(f) + " decoded bytes " + std::to_string(value));
      }
    }
    if (second + 4 <= base.size()) {
      std::vector<uint8_t> bent = base;
      FixtureSetWord(&bent, second, 0xFFFFFFF0u);
      Play(bent, "frame " + std::to_string(f) + " second packet size");
    }
  }
}

// Coded audio and video overwritten with patterns that drive every count,
// run, exponent and motion vector to its extremes.
TEST_F(HostileFiles, CodedDataAtExtremes) {
  const std::vector<uint8_t>& base = BaseMovie();
  const uint32_t frames = FixtureWord(base, 8);
  const uint8_t patterns[] = {0x00, 0xFF, 0xAA, 0x55, 0x0F, 0xF0, 0x7F, 0x80};
  for (uint8_t pattern : patterns) {
    for (uint32_t f = 0; f < frames; f++) {
      const size_t start = (FixtureIndexEntry(base, f) & ~1u) + 4;
      const size_t end = FixtureIndexEntry(base, f + 1) & ~1u;
      std::vector<uint8_t> bent = base;
      // Keep the first audio packet's size word, flood everything after it.
      for (size_t i = start; i < end; i++) bent[i] = pattern;
      Play(bent, "frame " + std::to_string(f) + " flooded with " + std::to_string(pattern));
    }
  }
  std::mt19937 random(3);
  for (int round = 0; round < 40; round++) {
    std::vector<uint8_t> bent = base;
    const size_t first = FixtureIndexEntry(base, 0) & ~1u;
    for (int flips = 0; flips < 1 + round % 8; flips++)
      bent[first + random() % (bent.size() - first)] ^= static_cast<uint8_t>(1 + random() % 255);
    Play(bent, "random flips " + std::to_string(round));
  }
}

}  // namespace

namespace {

TEST(HostileImages, AnImageShorterThanItsMovieIsNotReadPastItsEnd) {
  const std::vector<uint8_t> whole = BaseMovie();
  // A heap block of exactly the cut length, so ASan sees any read past it.
  const size_t cut = whole.size() - 1;
  std::unique_ptr<uint8_t[]> image(new uint8_t[cut]);
  std::copy(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut), image.get());
  MovieSetMemorySize(static_cast<uint32_t>(cut));
  Movie* opened = MovieOpen(image.get(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  ASSERT_NE(opened, nullptr) << MovieGetError();
  for (uint32_t f = 1; f < opened->frames; f++) {
    EXPECT_EQ(MovieDoFrame(opened), 0) << f;  // whole frames play
    MovieNextFrame(opened);
  }
  EXPECT_EQ(MovieDoFrame(opened), 1);  // the cut one is missing
  EXPECT_EQ(opened->damaged_frames, 1u);
  EXPECT_EQ(opened->first_damaged_frame, opened->frames);
  MovieClose(opened);
  // Tables cut by the image's end are refused.
  MovieSetMemorySize(50);
  EXPECT_EQ(MovieOpen(whole.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD), nullptr);
  EXPECT_STRNE(MovieGetError(), "");
  // The length is consumed by each open: the next one trusts the header again.
  Movie* again = MovieOpen(whole.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  ASSERT_NE(again, nullptr);
  MovieClose(again);
}

TEST(HostileImages, AHugeTrackSizeGetsABoundedRing) {
  SoundDriverReset();
  SoundDriverSelect(SoundSilentDriver, 0);
  std::vector<uint8_t> movie = BaseMovie();
  FixtureSetWord(&movie, 44, 0x7FFFFFFF);  // first track's max bytes
  MovieSetMemorySize(static_cast<uint32_t>(movie.size()));
  Movie* opened = MovieOpen(movie.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  ASSERT_NE(opened, nullptr);
  ASSERT_GE(opened->selected_count, 1u);
  // 16 seconds of 22050 Hz stereo PCM at most.
  EXPECT_LE(opened->tracks[0].ring_size, 22050u * 2 * 2 * 16 + 256);
  for (uint32_t f = 0; f < opened->frames; f++) {
    MovieDoFrame(opened);
    MovieNextFrame(opened);
  }
  MovieClose(opened);
  SoundDriverReset();
}

}  // namespace
