#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "base/engine_memory.h"
#include "engine/movie.h"
#include "engine/movie_header.h"
#include "support/movie_fixtures.h"
#include "platform/platform.h"
#include "engine/sound_track.h"

namespace {

// Every engine block goes through these hooks, so a test can tell what is
// still held, and can make the n-th allocation fail.
struct BlockLedger {
  std::set<void*> live;
  int allocations = 0;
  int fail_at = -1;  // 1-based allocation to refuse; -1 = none
};
BlockLedger g_ledger;

void* LedgerAlloc(uint32_t size) {
  if (++g_ledger.allocations == g_ledger.fail_at) return ENGINE_HOOK_REFUSE;
  void* p = std::malloc(size);
  g_ledger.live.insert(p);
  return p;
}
void LedgerFree(void* p) {
  EXPECT_EQ(g_ledger.live.erase(p), 1u) << "block freed twice or never allocated";
  std::free(p);
}

class MovieOpenTest : public testing::Test {
 protected:
  void SetUp() override {
    g_ledger = BlockLedger{};
    EngineSetHooks(LedgerAlloc, LedgerFree);
  }
  void TearDown() override {
    EngineSetHooks(nullptr, nullptr);
    // Options never leak from one case into the next.
    MovieSetFrameRate(-1, 1);
    MovieSetReadSpeed(-1);
    MovieSetIoBufferSize(-1);
    MovieSetIoOpen(nullptr);
    MovieSetSoundTracks(1, kZero);
  }

  Movie* OpenBytes(const std::vector<uint8_t>& bytes, uint32_t flags = OPEN_NO_THREAD) {
    path_ = FixtureWriteFile("movie_open_test.vxn", bytes);
    return MovieOpen(path_.c_str(), flags);
  }

  // Opening must fail with `text` and leave nothing allocated.
  void ExpectRefused(const std::vector<uint8_t>& bytes, const char* text, uint32_t flags = 0) {
    EXPECT_EQ(OpenBytes(bytes, flags | OPEN_NO_THREAD), nullptr);
    EXPECT_STREQ(MovieGetError(), text);
    EXPECT_TRUE(g_ledger.live.empty());
    EXPECT_EQ(MovieOpen(bytes.data(), OPEN_FROM_MEMORY), nullptr);
    EXPECT_STREQ(MovieGetError(), text);
    EXPECT_TRUE(g_ledger.live.empty());
  }

  static constexpr uint32_t kZero[1] = {0};
  std::string path_;
};

std::vector<uint8_t> SmallMovie(uint32_t frames = 5) { return FixtureBuild(FixtureBasic(frames)); }

// The bytes of frame k (1-based) as the file holds them.
std::vector<uint8_t> PacketOf(const std::vector<uint8_t>& bytes, uint32_t k) {
  const uint32_t start = FixtureIndexEntry(bytes, k - 1) & ~1u;
  const uint32_t end = FixtureIndexEntry(bytes, k) & ~1u;
  return {bytes.begin() + start, bytes.begin() + end};
}

void ExpectLoaded(const Movie* movie, const std::vector<uint8_t>& bytes, uint32_t k) {
  const std::vector<uint8_t> packet = PacketOf(bytes, k);
  ASSERT_EQ(movie->frame_num, static_cast<int32_t>(k));
  ASSERT_EQ(std::memcmp(movie->frame_data, packet.data(), packet.size()), 0) << "frame " << k;
}

// ---- The container as written and read back ------------------------------------

TEST_F(MovieOpenTest, TypicalAppendedMovieLayout) {
  // Version i, 320x240, 30/1, 1209 frames, one stereo 16-bit DCT track at
  // 22050 Hz with identifier 0; the audio lead-in is in frame 1.
  FixtureMovie fixture = FixtureBasic(1209, 320, 240, 60);
  const uint32_t format = 22050 | AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO | AUDIO_TRACK_16BIT;
  FixtureAddTrack(&fixture, 0, format, 69120, 40, 3840, 2);
  fixture.frames[0].audio[0].assign(400, 0x11);
  FixtureSetWord(&fixture.frames[0].audio[0], 0, 69120);
  const std::vector<uint8_t> bytes = FixtureBuild(fixture);

  EXPECT_EQ(FixtureIndexPos(bytes), 56u);
  EXPECT_EQ(FixtureIndexEntry(bytes, 0), 4897u);  // offset 4896, key frame
  for (uint32_t i = 1; i < 1209; i++) ASSERT_EQ(FixtureIndexEntry(bytes, i) & 1, 0u);
  EXPECT_EQ(FixtureIndexEntry(bytes, 1209), bytes.size());
  EXPECT_EQ(FixtureWord(bytes, 4) + 8, bytes.size());
  for (uint32_t i = 0; i <= 1209; i++) ASSERT_EQ(FixtureIndexEntry(bytes, i) & ~1u & 1u, 0u);

  Movie* movie = OpenBytes(bytes);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(movie->frames, 1209u);
  EXPECT_EQ(movie->width, 320u);
  EXPECT_EQ(movie->height, 240u);
  EXPECT_EQ(movie->rate_num, 30u);
  EXPECT_EQ(movie->rate_den, 1u);
  EXPECT_EQ(movie->track_count, 1u);
  EXPECT_EQ(movie->track_ids[0], 0u);
  EXPECT_EQ(movie->track_formats[0], format);
  EXPECT_EQ(movie->track_max_bytes[0], 69120u);
  EXPECT_EQ(movie->frame_index[0], 4897u);
  EXPECT_EQ(movie->flags & (OPEN_OLD_COLOURS | OPEN_UV_ORDER), 0u);
  EXPECT_EQ(movie->history_len, 30u);
  EXPECT_EQ(movie->late_limit, 66u);
  // Packet of frame 1: track size word, decoded-bytes word 69120.
  ExpectLoaded(movie, bytes, 1);
  EXPECT_EQ(FixtureWord(PacketOf(bytes, 1), 0), 400u);
  EXPECT_EQ(FixtureWord(PacketOf(bytes, 1), 4), 69120u);
  EXPECT_NE(movie->yuv_buffers[0], movie->yuv_buffers[1]);  // only frame 1 is a key frame
  MovieClose(movie);
  EXPECT_TRUE(g_ledger.live.empty());
}

TEST_F(MovieOpenTest, WriterPadsPacketsToEvenOffsets) {
  FixtureMovie fixture = FixtureBasic(6, 16, 16, 7);  // odd video parts
  FixtureAddTrack(&fixture, 3, 8000 | AUDIO_TRACK_RDFT, 512, 9, 100, 2);
  const std::vector<uint8_t> bytes = FixtureBuild(fixture);
  uint32_t largest = 0;
  for (uint32_t i = 0; i < 6; i++) {
    EXPECT_EQ(FixtureIndexEntry(bytes, i) & 1, i == 0 ? 1u : 0u);
    const uint32_t start = FixtureIndexEntry(bytes, i) & ~1u;
    EXPECT_EQ(start % 2, 0u);
    largest = std::max(largest, (FixtureIndexEntry(bytes, i + 1) & ~1u) - start);
    // Audio packet size word, then payload, then the video.
    const uint32_t audio = FixtureWord(bytes, start);
    EXPECT_EQ(audio, i % 2 == 0 ? 9u : 0u);
    EXPECT_EQ(bytes[start + 4 + audio], static_cast<uint8_t>(i * 31));
  }
  EXPECT_EQ(FixtureWord(bytes, 12), largest);
  EXPECT_EQ(bytes.size() % 2, 0u);  // the end entry is even too
  EXPECT_EQ(FixtureIndexEntry(bytes, 6), bytes.size());
  EXPECT_EQ(FixtureWord(bytes, 16), 6u);
}

// ---- Refusals --------------------------------------------------------------------

TEST_F(MovieOpenTest, SignatureAndVersionLetters) {
  for (char version : {'f', 'g', 'h', 'i'}) {
    std::vector<uint8_t> bytes = SmallMovie();
    bytes[3] = static_cast<uint8_t>(version);
    Movie* movie = OpenBytes(bytes);
    ASSERT_NE(movie, nullptr) << version;
    MovieClose(movie);
  }
  for (char version : {'j', 'I', 'e', '\0'}) {
    std::vector<uint8_t> bytes = SmallMovie();
    bytes[3] = static_cast<uint8_t>(version);
    ExpectRefused(bytes, "Not a Vorn file.");
  }
  std::vector<uint8_t> bytes = SmallMovie();
  bytes[1] = 'Y';
  ExpectRefused(bytes, "Not a Vorn file.");
  EXPECT_EQ(OpenBytes({'V', 'X'}), nullptr);  // shorter than a signature
  EXPECT_STREQ(MovieGetError(), "Not a Vorn file.");
  EXPECT_EQ(OpenBytes({'V', 'X', 'N', 'i', 0, 0}), nullptr);
  EXPECT_STREQ(MovieGetError(), MOVIE_ERROR_HEADER_SHORT);
}

TEST_F(MovieOpenTest, ZeroFramesIsRefusedEvenWhenValid) {
  std::vector<uint8_t> bytes = SmallMovie();
  FixtureSetWord(&bytes, 8, 0);
  ExpectRefused(bytes, "The file doesn't contain any compressed frames yet.");
}

TEST_F(MovieOpenTest, MissingFileAndCustomOpenerMessages) {
  EXPECT_EQ(MovieOpen(FixtureTempPath("does_not_exist.vxn").c_str(), 0), nullptr);
  EXPECT_STREQ(MovieGetError(), "Error opening file.");
  // A replacement opener's own text wins over the generic one.
  MovieSetIoOpen([](IoReader*, const void*, uint32_t) {
    MovieSetError("Custom source is offline.");
    return 0;
  });
  EXPECT_EQ(MovieOpen("x", OPEN_CUSTOM_IO), nullptr);
  EXPECT_STREQ(MovieGetError(), "Custom source is offline.");
  EXPECT_TRUE(g_ledger.live.empty());
}

TEST_F(MovieOpenTest, HostileHeadersAreRefused) {
  struct Case {
    size_t offset;
    uint32_t value;
    const char* text;
  };
  const Case cases[] = {
      {20, 0, MOVIE_ERROR_SIZE},       {24, 0, MOVIE_ERROR_SIZE},
      {20, 16385, MOVIE_ERROR_SIZE},   {24, 0x80000000u, MOVIE_ERROR_SIZE},
      {28, 0, MOVIE_ERROR_RATE},       {32, 0, MOVIE_ERROR_RATE},
      {28, 0xFFFFFFFFu, MOVIE_ERROR_RATE},
      {16, 4, MOVIE_ERROR_INDEX_FRAMES},  // index_frames < frames
      {4, 0xFFFFFFFFu, MOVIE_ERROR_LAYOUT},  // length would pass 32 bits
      {40, 0x40000000u, MOVIE_ERROR_LAYOUT},  // tables larger than the movie
      {16, 0xFFFFFFFFu, MOVIE_ERROR_LAYOUT},  // index entry count overflows
      {12, 0xFFFFFF00u, MOVIE_ERROR_LAYOUT},  // largest frame beyond the movie
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.offset);
    std::vector<uint8_t> bytes = SmallMovie();
    FixtureSetWord(&bytes, c.offset, c.value);
    ExpectRefused(bytes, c.text);
  }
}

TEST_F(MovieOpenTest, HostileIndexesAreRefused) {
  const std::vector<uint8_t> good = SmallMovie(5);
  {
    std::vector<uint8_t> bytes = good;  // first entry not where the index ends
    FixtureSetIndexEntry(&bytes, 0, FixtureIndexEntry(bytes, 0) + 4);
    ExpectRefused(bytes, MOVIE_ERROR_INDEX_START);
  }
  {
    std::vector<uint8_t> bytes = good;  // an entry going backwards
    FixtureSetIndexEntry(&bytes, 3, FixtureIndexEntry(bytes, 1));
    ExpectRefused(bytes, MOVIE_ERROR_INDEX_ORDER);
  }
  {
    std::vector<uint8_t> bytes = good;  // past the movie's length
    FixtureSetIndexEntry(&bytes, 5, static_cast<uint32_t>(bytes.size()) + 2);
    ExpectRefused(bytes, MOVIE_ERROR_INDEX_END);
  }
  {
    std::vector<uint8_t> bytes = good;  // a packet larger than largest_frame
    FixtureSetWord(&bytes, 12, FixtureWord(bytes, 12) - 2);
    ExpectRefused(bytes, MOVIE_ERROR_LARGEST);
  }
}

TEST_F(MovieOpenTest, TablesPastTheEndOfTheFile) {
  std::vector<uint8_t> bytes = SmallMovie(5);
  // Claim a long movie with a large index, but the file stops early.
  FixtureSetWord(&bytes, 4, 0x100000);
  FixtureSetWord(&bytes, 16, 0x20000);
  EXPECT_EQ(OpenBytes(bytes), nullptr);
  EXPECT_STREQ(MovieGetError(), MOVIE_ERROR_PAST_FILE_END);
  EXPECT_TRUE(g_ledger.live.empty());
  // Cut inside the index: the file is too short for its own tables.
  std::vector<uint8_t> cut(SmallMovie(5));
  cut.resize(50);
  EXPECT_EQ(OpenBytes(cut), nullptr);
  EXPECT_STREQ(MovieGetError(), MOVIE_ERROR_PAST_FILE_END);
  EXPECT_TRUE(g_ledger.live.empty());
}

TEST_F(MovieOpenTest, TruncatedFrameDataOpensAndReportsReadErrors) {
  const std::vector<uint8_t> whole = FixtureBuild(FixtureBasic(40, 64, 48, 3000));
  std::vector<uint8_t> bytes(whole.begin(), whole.end() - 5000);
  // Large enough not to be preloaded: the ring is about one second of 30 frames.
  Movie* movie = OpenBytes(bytes);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(movie->preload, nullptr);
  for (uint32_t k = 2; k <= 40 && !movie->io.read_error; k++) MovieLoadFrame(movie, k);
  EXPECT_EQ(movie->io.read_error, 1u);
  MovieClose(movie);
  EXPECT_TRUE(g_ledger.live.empty());

  // Preloaded, the short read happens at open; the whole frames still load
  // and the cut one reports the error.
  const std::vector<uint8_t> small_whole = SmallMovie(5);
  std::vector<uint8_t> small(small_whole.begin(), small_whole.end() - 30);
  movie = OpenBytes(small, OPEN_PRELOAD | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr);
  ASSERT_NE(movie->preload, nullptr);
  for (uint32_t k = 1; k <= 4; k++) {
    MovieLoadFrame(movie, k);
    ExpectLoaded(movie, small_whole, k);
    EXPECT_EQ(movie->read_error, 0u) << k;
  }
  MovieLoadFrame(movie, 5);
  EXPECT_EQ(movie->read_error, 1u);
  MovieClose(movie);
  EXPECT_TRUE(g_ledger.live.empty());
}

// ---- Sources ---------------------------------------------------------------------

TEST_F(MovieOpenTest, FromAHandleInsideAnotherFile) {
  const std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(60, 64, 48, 2000));
  std::vector<uint8_t> executable(12345 + bytes.size(), 0x90);  // the player, then the movie
  std::memcpy(executable.data() + 12345, bytes.data(), bytes.size());
  const std::string path = FixtureWriteFile("movie_open_appended.exe", executable);
  PlatformFile file = FileOpenRead(path.c_str(), false);
  ASSERT_NE(file, kInvalidFile);
  ASSERT_TRUE(FileSeek(file, 12345));
  Movie* movie = MovieOpen(IoHandleSource(file), OPEN_FILE_HANDLE | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(movie->io.base_offset, 12345u);
  EXPECT_EQ(movie->preload, nullptr);
  for (uint32_t k : {1u, 2u, 3u, 30u, 60u, 1u, 7u}) {
    MovieLoadFrame(movie, k);
    ExpectLoaded(movie, bytes, k);
  }
  EXPECT_EQ(movie->io.read_error, 0u);
  MovieClose(movie);
  // The caller's handle stays open.
  uint8_t first[3];
  ASSERT_TRUE(FileSeek(file, 12345));
  EXPECT_EQ(FileRead(file, first, 3), 3u);
  EXPECT_EQ(first[0], 'V');
  FileClose(file);
  EXPECT_TRUE(g_ledger.live.empty());
}

TEST_F(MovieOpenTest, FromMemory) {
  const std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(20, 64, 48, 500));
  // An unaligned image: the tables are words at odd addresses.
  std::vector<uint8_t> storage(bytes.size() + 1);
  std::memcpy(storage.data() + 1, bytes.data(), bytes.size());
  MovieSetIoOpen([](IoReader*, const void*, uint32_t) { return 0; });
  Movie* movie = MovieOpen(storage.data() + 1, OPEN_FROM_MEMORY | OPEN_CUSTOM_IO);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(movie->preload, storage.data() + 1 + (FixtureIndexEntry(bytes, 0) & ~1u));
  for (uint32_t k : {1u, 20u, 5u}) {
    MovieLoadFrame(movie, k);
    ExpectLoaded(movie, bytes, k);
  }
  MovieClose(movie);
  EXPECT_TRUE(g_ledger.live.empty());
}

TEST_F(MovieOpenTest, CustomOpenerIsUsedForOneOpenOnly) {
  static int calls;
  calls = 0;
  MovieSetIoOpen([](IoReader* io, const void* source, uint32_t flags) {
    calls++;
    return IoFileOpen(io, source, flags);
  });
  Movie* movie = OpenBytes(SmallMovie(), OPEN_CUSTOM_IO | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr);
  MovieClose(movie);
  movie = OpenBytes(SmallMovie(), OPEN_CUSTOM_IO | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr);
  MovieClose(movie);
  EXPECT_EQ(calls, 1);
}

// ---- Memory ----------------------------------------------------------------------

TEST_F(MovieOpenTest, CloseReleasesEveryBlockOnEveryPath) {
  const std::vector<uint8_t> big = FixtureBuild(FixtureBasic(90, 200, 120, 4000, 10));
  const std::vector<uint8_t> small = SmallMovie();
  struct Path {
    const std::vector<uint8_t>* bytes;
    uint32_t flags;
  };
  for (Path path : {Path{&big, OPEN_NO_THREAD}, Path{&big, 0}, Path{&big, OPEN_PRELOAD},
                    Path{&small, 0}, Path{&big, OPEN_NO_FILL | OPEN_ALPHA}}) {
    Movie* movie = OpenBytes(*path.bytes, path.flags);
    ASSERT_NE(movie, nullptr) << MovieGetError();
    EXPECT_GE(g_ledger.live.size(), 3u);
    EXPECT_GT(movie->memory_used, 0u);
    MovieClose(movie);
    EXPECT_TRUE(g_ledger.live.empty()) << path.flags;
  }
  Movie* movie = MovieOpen(big.data(), OPEN_FROM_MEMORY);
  ASSERT_NE(movie, nullptr);
  MovieClose(movie);
  EXPECT_TRUE(g_ledger.live.empty());
  MovieClose(nullptr);
}

TEST_F(MovieOpenTest, EveryFailedAllocationIsCleanlyRefused) {
  const std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(90, 200, 120, 4000, 10));
  path_ = FixtureWriteFile("movie_open_oom.vxn", bytes);
  int refused = 0;
  for (int n = 1; n < 20; n++) {
    g_ledger = BlockLedger{};
    g_ledger.fail_at = n;
    Movie* movie = MovieOpen(path_.c_str(), OPEN_NO_THREAD);
    if (movie) {
      // Only the read-ahead ring may fail without failing the open.
      if (movie->io_buffer_size == 0) {
        EXPECT_EQ(movie->io.buffer_size, 0u);
      }
      for (uint32_t k = 1; k <= 90; k += 7) {
        MovieLoadFrame(movie, k);
        ExpectLoaded(movie, bytes, k);
      }
      MovieClose(movie);
    } else {
      refused++;
      EXPECT_STREQ(MovieGetError(), "Out of memory.");
    }
    EXPECT_TRUE(g_ledger.live.empty()) << "failing allocation " << n;
    if (g_ledger.allocations < n) break;  // every allocation has been failed once
  }
  EXPECT_GE(refused, 2);  // the record and the frame buffers
}

TEST_F(MovieOpenTest, OneFrameBufferWhenEveryFrameIsKey) {
  Movie* movie = OpenBytes(FixtureBuild(FixtureBasic(10, 64, 48, 100, 1)));
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->yuv_buffers[0], movie->yuv_buffers[1]);
  MovieClose(movie);
}

// ---- Flags and sizes -------------------------------------------------------------

TEST_F(MovieOpenTest, VersionsBecomeFlags) {
  const struct {
    char version;
    uint32_t flags;
  } cases[] = {{'f', OPEN_OLD_COLOURS | OPEN_UV_ORDER},
               {'g', OPEN_OLD_COLOURS | OPEN_UV_ORDER},
               {'h', OPEN_OLD_COLOURS},
               {'i', 0}};
  for (auto c : cases) {
    FixtureMovie fixture = FixtureBasic(3);
    fixture.header.version = c.version;
    Movie* movie = OpenBytes(FixtureBuild(fixture));
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(movie->flags & (OPEN_OLD_COLOURS | OPEN_UV_ORDER), c.flags) << c.version;
    MovieClose(movie);
  }
}

TEST_F(MovieOpenTest, ScalingModesFromFlagsAndHeader) {
  const struct {
    uint32_t header_mode, open_mode, mode, width, height;
  } cases[] = {
      {0, 0, 0, 100, 50}, {0, 3, 3, 200, 50},  {0, 4, 4, 200, 100}, {0, 5, 5, 200, 100},
      {0, 1, 1, 100, 100}, {0, 2, 2, 100, 100}, {0, 6, 6, 100, 50},
      {4, 0, 4, 200, 100},  // mode 0 takes the header's
      {4, 7, 0, 100, 50},   // mode 7 cancels it
      {4, 1, 1, 100, 100},
  };
  for (auto c : cases) {
    FixtureMovie fixture = FixtureBasic(3, 100, 50);
    fixture.header.video_flags = c.header_mode << 28;
    Movie* movie = OpenBytes(FixtureBuild(fixture), OPEN_NO_THREAD | c.open_mode << 28);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ((movie->flags & OPEN_SCALE_MASK) >> 28, c.mode);
    EXPECT_EQ(movie->width, c.width) << c.header_mode << "/" << c.open_mode;
    EXPECT_EQ(movie->height, c.height) << c.header_mode << "/" << c.open_mode;
    EXPECT_EQ(movie->decoded_width, 100u);
    EXPECT_EQ(movie->decoded_height, 50u);
    MovieClose(movie);
  }
}

TEST_F(MovieOpenTest, PlaneSizesGreyAndAlpha) {
  FixtureMovie fixture = FixtureBasic(3, 33, 17);
  fixture.header.video_flags = VIDEO_FLAG_GREY;
  Movie* movie = OpenBytes(FixtureBuild(fixture), OPEN_NO_THREAD | OPEN_ALPHA);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->plane_width, 48u);   // 2 x ((33 + 1) / 2 -> 24)
  EXPECT_EQ(movie->plane_height, 32u);  // 2 x ((17 + 1) / 2 -> 16)
  EXPECT_EQ(movie->chroma_width, 24u);
  EXPECT_EQ(movie->chroma_height, 16u);
  EXPECT_EQ(movie->blocks_per_row, 3u);
  EXPECT_EQ(movie->block_count, 6u);
  EXPECT_EQ(movie->block_map[movie->block_count], 0);
  EXPECT_TRUE(movie->flags & OPEN_GRAYSCALE);  // from the header
  EXPECT_FALSE(movie->flags & OPEN_ALPHA);     // the header has no alpha
  EXPECT_EQ(movie->alpha_buffers[0], nullptr);
  MovieClose(movie);

  fixture.header.video_flags = VIDEO_FLAG_ALPHA;
  movie = OpenBytes(FixtureBuild(fixture), OPEN_NO_THREAD | OPEN_ALPHA);
  ASSERT_NE(movie, nullptr);
  EXPECT_TRUE(movie->flags & OPEN_ALPHA);
  EXPECT_NE(movie->alpha_buffers[0], nullptr);
  EXPECT_NE(movie->alpha_buffers[1], movie->alpha_buffers[0]);
  MovieClose(movie);
  movie = OpenBytes(FixtureBuild(fixture), OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->alpha_buffers[0], nullptr);  // alpha only when asked for
  MovieClose(movie);
}

TEST_F(MovieOpenTest, StateAfterOpen) {
  Movie* movie = OpenBytes(FixtureBuild(FixtureBasic(40, 64, 48, 2000)));
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->frame_num, 1);
  EXPECT_EQ(movie->shown_frame_num, -1);
  EXPECT_EQ(movie->clock_start, 0u);
  EXPECT_EQ(movie->rect_count, 0);
  EXPECT_EQ(movie->video_on, 1u);
  EXPECT_EQ(movie->sound_on, 0u);
  EXPECT_EQ(movie->selected_count, 0u);
  EXPECT_EQ(movie->tracks[0].speed_factor, 0x10000u);
  EXPECT_EQ(movie->io.owner, movie);
  EXPECT_NE(movie->io.lock, nullptr);
  EXPECT_NE(movie->io.try_lock, nullptr);
  EXPECT_EQ(movie->history_time[0], 0u);
  MovieClose(movie);
}

// ---- Options and buffer sizing -----------------------------------------------------

TEST_F(MovieOpenTest, ForcedFrameRateIsUsedOnceAndKeepsTheFileRate) {
  const std::vector<uint8_t> bytes = SmallMovie();
  MovieSetFrameRate(60, 1);
  Movie* movie = OpenBytes(bytes, OPEN_NO_THREAD);  // without the flag: kept for later
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->rate_num, 30u);
  MovieClose(movie);
  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_FRAME_RATE);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->rate_num, 60u);
  EXPECT_EQ(movie->file_rate_num, 30u);
  EXPECT_EQ(movie->history_len, 30u);  // the file's rate
  EXPECT_EQ(movie->late_limit, 33u);
  MovieClose(movie);
  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_FRAME_RATE);  // consumed
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->rate_num, 30u);
  MovieClose(movie);
  // As fast as possible: 0/1 from a number, 0/0 from the bare switch; n/0 is
  // no rate at all and leaves the file's.
  const struct {
    int32_t num, den;
    uint32_t rate_num, rate_den;
  } asked[] = {{0, 1, 0, 1}, {0, 0, 0, 1}, {7, 0, 30, 1}};
  for (const auto& a : asked) {
    MovieSetFrameRate(a.num, a.den);
    movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_FRAME_RATE);
    ASSERT_NE(movie, nullptr);
    EXPECT_EQ(movie->rate_num, a.rate_num) << a.num << "/" << a.den;
    EXPECT_EQ(movie->rate_den, a.rate_den) << a.num << "/" << a.den;
    if (!a.rate_num) EXPECT_EQ(movie->late_limit, 2000u);
    MovieClose(movie);
  }
}

TEST_F(MovieOpenTest, ReadAheadSizingFillAndPreload) {
  // 90 frames of 4 000 bytes at 30/1: one second is 120 000 bytes of 360 000.
  const std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(90, 64, 48, 4000));
  Movie* movie = OpenBytes(bytes);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->peak_rate, 120000u);
  EXPECT_EQ(movie->io_buffer_size, 8 * IO_CHUNK_SIZE);
  EXPECT_EQ(movie->io.buffer_size, 8 * IO_CHUNK_SIZE);
  EXPECT_EQ(movie->preload, nullptr);
  EXPECT_FALSE(movie->flags & OPEN_PRELOAD);
  // Frame 1 is loaded first, then the ring is filled to the brim.
  EXPECT_EQ(movie->io.buffered.load(), 8 * IO_CHUNK_SIZE);
  EXPECT_EQ(movie->io.logical_pos, 4000u + (FixtureIndexEntry(bytes, 0) & ~1u));
  MovieClose(movie);

  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_NO_FILL);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->io.buffered.load(), 0u);
  MovieClose(movie);

  MovieSetIoBufferSize(1);
  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_IO_SIZE);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->io_buffer_size, IO_CHUNK_SIZE);
  MovieClose(movie);

  // A ring of at least 90 % of the movie means preloading; the reader closes.
  MovieSetIoBufferSize(330000);
  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_IO_SIZE);
  ASSERT_NE(movie, nullptr);
  EXPECT_TRUE(movie->flags & OPEN_PRELOAD);
  EXPECT_NE(movie->preload, nullptr);
  EXPECT_EQ(movie->io.file_handle, kInvalidFile);
  EXPECT_EQ(movie->io.frame_read_time_ms, 0u);
  for (uint32_t k : {1u, 90u, 45u}) {
    MovieLoadFrame(movie, k);
    ExpectLoaded(movie, bytes, k);
  }
  MovieClose(movie);

  MovieSetReadSpeed(2000000000);
  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_READ_SPEED);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->io.read_speed, 2000000000u);
  MovieClose(movie);
  movie = OpenBytes(bytes, OPEN_NO_THREAD | OPEN_READ_SPEED);  // consumed
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->io.read_speed, 0u);
  MovieClose(movie);
}

TEST_F(MovieOpenTest, SmallMovieIsPreloadedWithoutBeingAsked) {
  const std::vector<uint8_t> bytes = SmallMovie(5);
  Movie* movie = OpenBytes(bytes);
  ASSERT_NE(movie, nullptr);
  EXPECT_TRUE(movie->flags & OPEN_PRELOAD);
  EXPECT_EQ(movie->io.file_handle, kInvalidFile);
  ExpectLoaded(movie, bytes, 1);
  MovieClose(movie);
}

TEST_F(MovieOpenTest, SequentialFramesThroughTheRing) {
  const std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(120, 64, 48, 3001));
  Movie* movie = OpenBytes(bytes);
  ASSERT_NE(movie, nullptr);
  for (uint32_t pass = 0; pass < 2; pass++) {
    for (uint32_t k = 1; k <= 120; k++) {
      MovieLoadFrame(movie, k);
      ExpectLoaded(movie, bytes, k);
      if (k % 3 == 0) movie->io.idle(&movie->io);
    }
  }
  EXPECT_EQ(movie->io.read_error, 0u);
  MovieLoadFrame(movie, 121);  // no such frame: nothing changes
  EXPECT_EQ(movie->frame_num, 120);
  MovieLoadFrame(movie, 0);  // counts as frame 1
  ExpectLoaded(movie, bytes, 1);
  EXPECT_EQ(movie->shown_frame_num, 120);
  MovieClose(movie);
}

// ---- Peak rate ------------------------------------------------------------------

struct IndexedMovie {
  Movie movie{};
  std::vector<uint32_t> index;
  IndexedMovie(std::vector<uint32_t> sizes, uint32_t window, bool all_key) {
    uint32_t at = 1000;
    for (uint32_t s : sizes) {
      index.push_back(at | (all_key ? 1u : 0u));
      at += s;
    }
    index.push_back(at);
    if (!all_key && !index.empty()) index[0] |= 1;
    movie.frames = static_cast<uint32_t>(sizes.size());
    movie.history_len = window;
    movie.frame_index = index.data();
  }
};

struct PeakCase {
  const char* name;
  std::vector<uint32_t> sizes;  // frame sizes in bytes
  uint32_t window;
  bool all_key;
  bool returns;  // what FindPeakRate says
  uint32_t peak_rate, peak_frame;
};
void PrintTo(const PeakCase& c, std::ostream* os) { *os << c.name; }

const PeakCase kPeakCases[] = {
    {"DensestWindowFirstOnTies", {10, 50, 50, 10, 50, 50, 10, 10}, 2, false, false, 100, 1},
    // Starts run from 0 to frames - window - 1: the final window is left out.
    {"LastWindowIsNotConsidered", {10, 10, 10, 90, 90}, 2, true, true, 100, 2},
    {"AverageWhenNoWindowFits", {30, 60, 90}, 5, false, false, 180 * 5 / 3, 0},
    {"NothingInAnyFrame", {0, 0, 0, 0}, 2, false, false, 0, 0},
};

class FindPeakRateTest : public testing::TestWithParam<PeakCase> {};

TEST_P(FindPeakRateTest, FindsTheDensestWindow) {
  const PeakCase& c = GetParam();
  IndexedMovie m(c.sizes, c.window, c.all_key);
  EXPECT_EQ(FindPeakRate(&m.movie), c.returns);
  EXPECT_EQ(m.movie.peak_rate, c.peak_rate);
  EXPECT_EQ(m.movie.peak_frame, c.peak_frame);
}

INSTANTIATE_TEST_SUITE_P(Indexes, FindPeakRateTest, testing::ValuesIn(kPeakCases),
                         [](const testing::TestParamInfo<PeakCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace

// ---- Damaged movies ---------------------------------------------------------------

// Random damage to the header, tables and index: every open either refuses
// with a text or yields a movie whose every frame loads, and nothing leaks.
TEST_F(MovieOpenTest, RandomlyDamagedTablesNeverMisbehave) {
  FixtureMovie fixture = FixtureBasic(12, 48, 32, 700, 4);
  FixtureAddTrack(&fixture, 0, 22050 | AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO, 4000, 20, 100, 2);
  const std::vector<uint8_t> good = FixtureBuild(fixture);
  const size_t tables_end = FixtureIndexEntry(good, 0) & ~1u;
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  int opened = 0, refused = 0;
  for (int round = 0; round < 400; round++) {
    std::vector<uint8_t> bytes = good;
    const int damage = 1 + static_cast<int>(next() % 4);
    for (int d = 0; d < damage; d++) {
      const size_t at = 4 + next() % (tables_end - 4);
      bytes[at] = next() % 3 == 0 ? static_cast<uint8_t>(next()) : bytes[at] ^ (1u << (next() % 8));
    }
    if (next() % 4 == 0) bytes.resize(tables_end + next() % (bytes.size() - tables_end));
    Movie* movie = OpenBytes(bytes);
    if (!movie) {
      refused++;
      EXPECT_NE(MovieGetError()[0], 0);
    } else {
      opened++;
      for (uint32_t k = 1; k <= movie->frames && k <= 64; k++) MovieLoadFrame(movie, k);
      MovieClose(movie);
    }
    ASSERT_TRUE(g_ledger.live.empty()) << "round " << round;
  }
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused, 0);
}

// ---- What a layer above hands the engine for its close ---------------------------

namespace {

int g_close_releases = 0;
void* g_released_state = nullptr;
void CountRelease(void* state) {
  g_close_releases++;
  g_released_state = state;
}

// The conversion keeps its state with the movie and hands its release to
// the engine: the close calls it once, with that state; a movie that never
// got one closes without it.
TEST_F(MovieOpenTest, TheCloseCallsTheReleaseItWasHanded) {
  g_close_releases = 0;
  int state = 0;
  const std::vector<uint8_t> bytes = SmallMovie();
  Movie* movie = OpenBytes(bytes);
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->convert_release, nullptr);
  movie->convert_state = &state;
  movie->convert_release = CountRelease;
  MovieClose(movie);
  EXPECT_EQ(g_close_releases, 1);
  EXPECT_EQ(g_released_state, &state);
  MovieClose(OpenBytes(bytes));
  EXPECT_EQ(g_close_releases, 1);
  EXPECT_TRUE(g_ledger.live.empty());
}

}  // namespace
