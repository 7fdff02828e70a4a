// Every engine allocation refused in turn, through a whole playback: open
// (from a file with both service threads, from memory, two tracks and
// alpha), the first frames, the sound starting, a seek and the close. Each
// refusal must end in either a clear error or a playback that goes on, and
// close must give every block back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/engine_faults.h"
#include "engine/movie.h"
#include "sound/sound_silent.h"
#include "support/movie_fixtures.h"

namespace {

// Twelve frames with alpha, key frames every four, and two sound tracks.
const std::vector<uint8_t>& TwoTrackAlphaMovie() {
  static const std::vector<uint8_t> movie = FixtureTwoTrack({});
  return movie;
}

enum class Source { kFileThreads, kFileNoThread, kMemory };

struct Outcome {
  bool opened = false;
  std::string error;
};

// One playback with allocation fail_at refused.
Outcome PlayOnce(Source source, const std::string& path, const std::vector<uint8_t>& image) {
  static const uint32_t kTracks[] = {0, 1};
  MovieSetSoundTracks(2, kTracks);
  uint32_t flags = OPEN_TRACKS | OPEN_ALPHA;
  const void* from = path.c_str();
  if (source == Source::kFileNoThread) flags |= OPEN_NO_THREAD;
  if (source == Source::kMemory) {
    flags |= OPEN_FROM_MEMORY;
    from = image.data();
    MovieSetMemorySize(static_cast<uint32_t>(image.size()));
  }
  Outcome outcome;
  Movie* movie = MovieOpen(from, flags);
  if (!movie) {
    outcome.error = MovieGetError();
    return outcome;
  }
  outcome.opened = true;
  for (int f = 0; f < 3; f++) {  // the first frames; the sound starts with them
    MovieDoFrame(movie);
    MovieNextFrame(movie);
  }
  MovieSeek(movie, 7, SEEK_EXACT);
  MovieNextFrame(movie);
  MovieDoFrame(movie);
  MovieClose(movie);
  return outcome;
}

class AllocationFailures : public testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    SoundDriverReset();
    SoundDriverSelect(SoundSilentDriver, 0);
  }
  void TearDown() override {
    EngineFaultsRemove();
    SoundDriverReset();
  }
};

TEST_P(AllocationFailures, EachRefusedAllocationIsCleanAndLeavesNothingBehind) {
  const std::vector<uint8_t>& image = TwoTrackAlphaMovie();
  const std::string path = FixtureWriteFile("faults.vxn", image);
  // The whole playback once without a refusal: how many allocations it makes.
  EngineFaultsInstall(0);
  ASSERT_TRUE(PlayOnce(GetParam(), path, image).opened) << MovieGetError();
  const uint32_t total = EngineFaultsAsked();
  EXPECT_EQ(EngineFaultsLive(), 0u);
  ASSERT_GE(total, 4u);
  uint32_t refused_opens = 0;
  for (uint32_t n = 1; n <= total; n++) {
    SCOPED_TRACE("allocation " + std::to_string(n) + " of " + std::to_string(total));
    EngineFaultsInstall(n);
    const Outcome outcome = PlayOnce(GetParam(), path, image);
    EXPECT_EQ(EngineFaultsLive(), 0u) << "blocks left behind";
    if (!outcome.opened) {
      refused_opens++;
      EXPECT_EQ(outcome.error, "Out of memory.");
    }
  }
  EXPECT_GE(refused_opens, 2u);  // at least the record and the frame buffers
}

INSTANTIATE_TEST_SUITE_P(Sources, AllocationFailures,
                         testing::Values(Source::kFileThreads, Source::kFileNoThread,
                                         Source::kMemory),
                         [](const testing::TestParamInfo<Source>& info) {
                           switch (info.param) {
                             case Source::kFileThreads: return std::string("FileThreads");
                             case Source::kFileNoThread: return std::string("FileNoThread");
                             case Source::kMemory: return std::string("Memory");
                           }
                           return std::string();
                         });

}  // namespace
