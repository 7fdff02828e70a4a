// A movie cut short plays every frame that is whole in what is left, from
// every kind of source and with or without the background threads; the
// first frame whose bytes are not all there is missing, and so is every
// frame after it. A read that fails in the middle of the file stops at once.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "input/io_reader.h"
#include "platform/platform.h"
#include "sound/sound_silent.h"
#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

constexpr uint32_t kFrames = 60;

int NoisePicture(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= kFrames) return 0;
  // Noise keeps every frame large, so the movie is several read-ahead
  // chunks long and is not preloaded.
  SynthPicture(frame % 10 < 7 ? SynthScene::kNoise : SynthScene::kShapes, frame, 64, 48, false,
               picture);
  return 1;
}

const std::vector<uint8_t>& WholeMovie() {
  static const std::vector<uint8_t> movie = [] {
    MovieEncodeOptions options;
    options.video.width = 64;
    options.video.height = 48;
    options.video.keyint = 20;
    options.video.quality = 90;
    options.audio.resize(1);
    SynthMelody(11025, 1, 2.5, &options.audio[0].samples);
    options.audio[0].rate = 11025;
    options.audio[0].channels = 1;
    std::vector<uint8_t> bytes;
    MovieEncodeStats stats;
    const char* error = nullptr;
    EXPECT_TRUE(MovieEncode(options, NoisePicture, nullptr, &bytes, &stats, &error));
    return bytes;
  }();
  return movie;
}

// The last frame whose bytes all lie before `cut`.
uint32_t LastWholeFrame(const std::vector<uint8_t>& movie, size_t cut) {
  uint32_t last = 0;
  for (uint32_t k = 1; k <= kFrames; k++)
    if ((FixtureIndexEntry(movie, k) & ~1u) <= cut) last = k;
  return last;
}

enum class From { kFile, kFileInFile, kMemory };

struct Case {
  From from;
  bool threads;
  bool preload;
  const char* name;
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// What playing every frame saw.
struct Played {
  uint32_t decoded = 0;         // frames MovieDoFrame decoded, in a row from frame 1
  uint32_t failed_after = 0;    // frames refused after the first refusal
  bool decoded_after_failure = false;
  uint32_t damaged = 0, first_damaged = 0;
};

class TruncatedMovies : public testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    SoundDriverReset();
    SoundDriverSelect(SoundSilentDriver, 0);
  }
  void TearDown() override {
    if (handle_ != kInvalidFile) FileClose(handle_);
    SoundDriverReset();
  }

  Movie* Open(const std::vector<uint8_t>& bytes) {
    const Case& c = GetParam();
    uint32_t flags = c.threads ? 0 : OPEN_NO_THREAD;
    if (c.preload) flags |= OPEN_PRELOAD;
    switch (c.from) {
      case From::kFile:
        return MovieOpen(FixtureWriteFile("cut.vxn", bytes).c_str(), flags);
      case From::kFileInFile: {
        std::vector<uint8_t> host(4321 + bytes.size(), 0x90);
        std::memcpy(host.data() + 4321, bytes.data(), bytes.size());
        const std::string path = FixtureWriteFile("cut_host.exe", host);
        handle_ = FileOpenRead(path.c_str(), false);
        if (handle_ == kInvalidFile || !FileSeek(handle_, 4321)) return nullptr;
        return MovieOpen(IoHandleSource(handle_), flags | OPEN_FILE_HANDLE);
      }
      case From::kMemory:
        // A block of exactly the cut length: ASan sees any read past it.
        image_.reset(new uint8_t[bytes.size()]);
        std::memcpy(image_.get(), bytes.data(), bytes.size());
        MovieSetMemorySize(static_cast<uint32_t>(bytes.size()));
        return MovieOpen(image_.get(), flags | OPEN_FROM_MEMORY);
    }
    return nullptr;
  }

  static Played PlayAll(Movie* movie) {
    Played seen;
    bool failed = false;
    for (uint32_t f = 1; f <= movie->frames; f++) {
      const int result = MovieDoFrame(movie);
      if (result == 0 && !failed) seen.decoded++;
      if (result == 0 && failed) seen.decoded_after_failure = true;
      if (result != 0) {
        if (failed) seen.failed_after++;
        failed = true;
      }
      MovieNextFrame(movie);
    }
    seen.damaged = movie->damaged_frames;
    seen.first_damaged = movie->first_damaged_frame;
    return seen;
  }

  PlatformFile handle_ = kInvalidFile;
  std::unique_ptr<uint8_t[]> image_;
};

TEST_P(TruncatedMovies, EveryWholeFramePlaysThenTheRestAreMissing) {
  const std::vector<uint8_t>& whole = WholeMovie();
  ASSERT_FALSE(whole.empty());
  for (size_t cut : {whole.size() / 2, whole.size() - 1, whole.size() * 3 / 4 + 7}) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(whole.size()));
    const uint32_t last_whole = LastWholeFrame(whole, cut);
    ASSERT_GT(last_whole, 1u);
    ASSERT_LT(last_whole, kFrames);
    Movie* movie = Open(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<long>(cut)));
    ASSERT_NE(movie, nullptr) << MovieGetError();
    EXPECT_EQ(movie->preload != nullptr, GetParam().preload || GetParam().from == From::kMemory);
    const Played seen = PlayAll(movie);
    EXPECT_EQ(seen.decoded, last_whole);
    EXPECT_FALSE(seen.decoded_after_failure);
    EXPECT_EQ(seen.failed_after, kFrames - last_whole - 1);
    EXPECT_EQ(seen.damaged, kFrames - last_whole);
    EXPECT_EQ(seen.first_damaged, last_whole + 1);
    EXPECT_EQ(movie->read_error, 1u);
    MovieClose(movie);
    if (handle_ != kInvalidFile) FileClose(handle_);
    handle_ = kInvalidFile;
  }
}

TEST_P(TruncatedMovies, AWholeMovieHasNoDamagedFrames) {
  Movie* movie = Open(WholeMovie());
  ASSERT_NE(movie, nullptr) << MovieGetError();
  const Played seen = PlayAll(movie);
  EXPECT_EQ(seen.decoded, kFrames);
  EXPECT_EQ(seen.damaged, 0u);
  EXPECT_EQ(seen.first_damaged, 0u);
  MovieClose(movie);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, TruncatedMovies,
    testing::Values(Case{From::kFile, false, false, "File"},
                    Case{From::kFile, true, false, "FileThreads"},
                    Case{From::kFile, false, true, "FilePreloaded"},
                    Case{From::kFileInFile, false, false, "FileInFile"},
                    Case{From::kFileInFile, true, false, "FileInFileThreads"},
                    Case{From::kMemory, false, false, "Memory"},
                    Case{From::kMemory, true, false, "MemoryThreads"}),
    [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// ---- A read that fails in the middle of the file ---------------------------------

// The file reader, except that the read of one frame comes back short.
uint32_t g_failing_frame = 0;
uint32_t (*g_file_read_frame)(IoReader*, uint32_t, int64_t, void*, uint32_t) = nullptr;
uint32_t FailingReadFrame(IoReader* io, uint32_t frame, int64_t offset, void* dest, uint32_t size) {
  if (frame + 1 == g_failing_frame && size > 1) {
    g_file_read_frame(io, frame, offset, dest, size / 2);
    io->read_error = 1;  // what the file reader does after a short read
    return size / 2;
  }
  return g_file_read_frame(io, frame, offset, dest, size);
}
int FailingOpen(IoReader* io, const void* source, uint32_t flags) {
  if (!IoFileOpen(io, source, flags)) return 0;
  g_file_read_frame = io->read_frame;
  io->read_frame = FailingReadFrame;
  return 1;
}

TEST(TruncatedMoviesMidFile, AFailedReadStopsAtItsFrameAndTheRestAreMissing) {
  SoundDriverReset();
  SoundDriverSelect(SoundSilentDriver, 0);
  const std::string path = FixtureWriteFile("whole.vxn", WholeMovie());
  g_failing_frame = 17;
  MovieSetIoOpen(FailingOpen);
  Movie* movie = MovieOpen(path.c_str(), OPEN_CUSTOM_IO | OPEN_NO_THREAD | OPEN_NO_FILL);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  uint32_t decoded = 0;
  for (uint32_t f = 1; f <= movie->frames; f++) {
    if (MovieDoFrame(movie) == 0) decoded++;
    MovieNextFrame(movie);
  }
  EXPECT_EQ(decoded, 16u);
  EXPECT_EQ(movie->read_error, 1u);
  EXPECT_EQ(movie->damaged_frames, kFrames - 16);
  EXPECT_EQ(movie->first_damaged_frame, 17u);
  MovieClose(movie);
  SoundDriverReset();
}

}  // namespace
