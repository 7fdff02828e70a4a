// Sound longer than the pictures: the last picture is held until the sound
// ends. Held frames reuse a settled all-kept frame instead of searching
// again, and the movie must come out byte for byte as if the source itself
// had repeated its last picture.
#include <gtest/gtest.h>

#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

constexpr uint32_t kPictures = 4, kWidth = 48, kHeight = 32;

struct Source {
  bool repeat_last;  // hand out the last picture again instead of ending
};

int Draw(void* user, uint32_t frame, VideoPicture* picture) {
  const bool repeat = static_cast<Source*>(user)->repeat_last;
  if (frame >= kPictures && !repeat) return 0;
  SynthPicture(SynthScene::kNatural, std::min(frame, kPictures - 1), kWidth, kHeight, false, picture);
  return 1;
}

MovieEncodeOptions Options(uint32_t keyint) {
  MovieEncodeOptions options;
  options.video.width = kWidth;
  options.video.height = kHeight;
  options.video.keyint = keyint;
  options.rate_num = 25;
  options.rate_den = 1;
  MovieAudioInput track;
  track.rate = 11025;
  track.channels = 1;
  SynthMelody(track.rate, track.channels, 3.0, &track.samples);
  options.audio.push_back(std::move(track));
  return options;
}

class HeldPicture : public testing::TestWithParam<uint32_t> {};

TEST_P(HeldPicture, EqualsTheSourceRepeatingItsLastPicture) {
  MovieEncodeOptions held = Options(GetParam());
  held.hold_last_picture = true;
  std::vector<uint8_t> held_movie, repeated_movie;
  MovieEncodeStats held_stats, repeated_stats;
  const char* error = nullptr;
  Source ends{false}, repeats{true};
  ASSERT_TRUE(MovieEncode(held, Draw, &ends, &held_movie, &held_stats, &error)) << error;
  EXPECT_EQ(held_stats.pictures, kPictures);
  EXPECT_EQ(held_stats.held_frames, 75u - kPictures);  // 3 s at 25 frames a second
  EXPECT_EQ(held_stats.audio_dropped_frames, std::vector<uint64_t>{0});

  MovieEncodeOptions repeated = Options(GetParam());
  repeated.frames = 75;
  ASSERT_TRUE(MovieEncode(repeated, Draw, &repeats, &repeated_movie, &repeated_stats, &error)) << error;
  EXPECT_EQ(held_movie, repeated_movie);
  ASSERT_EQ(held_stats.frames.size(), repeated_stats.frames.size());
  for (size_t k = 0; k < held_stats.frames.size(); k++)
    EXPECT_EQ(held_stats.frames[k].key, repeated_stats.frames[k].key) << k;
}

// Key frames only at the start, every 7 frames (several inside the hold),
// every frame, and the default.
INSTANTIATE_TEST_SUITE_P(KeyIntervals, HeldPicture, testing::Values(0u, 7u, 1u, 300u));

TEST(HeldPicture, WithoutHoldingTheSoundPastThePicturesIsCountedAsDropped) {
  MovieEncodeOptions options = Options(300);
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  Source ends{false};
  ASSERT_TRUE(MovieEncode(options, Draw, &ends, &movie, &stats, &error)) << error;
  EXPECT_EQ(stats.frames.size(), kPictures);
  EXPECT_EQ(stats.held_frames, 0u);
  ASSERT_EQ(stats.audio_dropped_frames.size(), 1u);
  // Four frames and the 0.75 s lead-in carry about 0.9 s of the 3 s.
  EXPECT_GT(stats.audio_dropped_frames[0], 11025u * 2);
  EXPECT_LT(stats.audio_dropped_frames[0], 11025u * 23 / 10);
}

}  // namespace
