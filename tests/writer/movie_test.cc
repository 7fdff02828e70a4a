// Whole movies from MovieEncode, read back byte by byte the way a player
// reads them: header, track tables, index with key bits, per-track audio
// packets whose decoded byte counts follow the frame rate (with the
// lead-in on the first frame), and video data that decodes to the pictures.
#include <gtest/gtest.h>

#include <cmath>

#include "synth/bench_clips.h"
#include "writer/encode_movie.h"
#include "writer_test_util.h"

namespace {

uint32_t Word(const std::vector<uint8_t>& m, size_t pos) {
  return m[pos] | (m[pos + 1] << 8) | (m[pos + 2] << 16) | (uint32_t{m[pos + 3]} << 24);
}

struct SynthSource {
  uint32_t width, height;
  bool alpha;
};

int Draw(void* user, uint32_t frame, VideoPicture* picture) {
  auto* s = static_cast<SynthSource*>(user);
  SynthPicture(SynthScene::kDemo, frame, s->width, s->height, s->alpha, picture);
  return 1;
}

TEST(MovieEncode, ContainerAudioAndVideoReadBack) {
  constexpr uint32_t kFrames = 20, kWidth = 40, kHeight = 24;
  MovieEncodeOptions options;
  options.video.width = kWidth;
  options.video.height = kHeight;
  options.video.alpha = true;
  options.rate_num = 30;
  options.rate_den = 1;
  options.frames = kFrames;
  options.measure_audio = true;
  MovieAudioInput stereo;
  stereo.rate = 22050;
  stereo.channels = 2;
  stereo.id = 5;
  SynthMelody(stereo.rate, 2, 2.0, &stereo.samples);
  MovieAudioInput mono = stereo;
  mono.channels = 1;
  mono.rate = 11025;
  mono.id = 9;
  mono.use_dct = false;
  mono.sixteen_bit = false;
  SynthMelody(mono.rate, 1, 2.0, &mono.samples);
  options.audio = {stereo, mono};
  SynthSource source{kWidth, kHeight, true};
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  ASSERT_TRUE(MovieEncode(options, Draw, &source, &movie, &stats, &error)) << error;

  ASSERT_GE(movie.size(), 44u + 24 + 4 * (kFrames + 1));
  EXPECT_EQ(std::string(movie.begin(), movie.begin() + 4), "VXNi");
  EXPECT_EQ(Word(movie, 4), movie.size() - 8);
  EXPECT_EQ(Word(movie, 8), kFrames);
  EXPECT_EQ(Word(movie, 16), kFrames);
  EXPECT_EQ(Word(movie, 20), kWidth);
  EXPECT_EQ(Word(movie, 24), kHeight);
  EXPECT_EQ(Word(movie, 28), 30u);
  EXPECT_EQ(Word(movie, 32), 1u);
  EXPECT_EQ(Word(movie, 36), 0x100000u);  // alpha
  ASSERT_EQ(Word(movie, 40), 2u);
  uint32_t max_bytes[2] = {Word(movie, 44), Word(movie, 48)};
  EXPECT_EQ(Word(movie, 52), 22050u | 0x10000000u | 0x20000000u | 0x40000000u);
  EXPECT_EQ(Word(movie, 56), 11025u | 0x80000000u);
  EXPECT_EQ(Word(movie, 60), 5u);
  EXPECT_EQ(Word(movie, 64), 9u);

  DecoderHarness harness;
  HarnessInit(&harness, options.video);
  const size_t index = 68;
  EXPECT_EQ(Word(movie, index) & ~1u, index + 4 * (kFrames + 1));
  EXPECT_EQ(Word(movie, index + 4 * kFrames), movie.size());
  uint64_t decoded[2] = {};
  const uint32_t frame_bytes[2] = {4, 1 * 2};  // PCM bytes per sample frame
  const uint32_t rates[2] = {22050, 11025};
  for (uint32_t k = 0; k < kFrames; k++) {
    SCOPED_TRACE(k);
    uint32_t entry = Word(movie, index + 4 * k);
    uint32_t start = entry & ~1u, end = Word(movie, index + 4 * (k + 1)) & ~1u;
    EXPECT_EQ(start % 2, 0u);
    EXPECT_EQ((entry & 1) != 0, stats.frames[k].key);
    ASSERT_LE(start, end);
    ASSERT_LE(end, movie.size());
    size_t pos = start;
    for (int t = 0; t < 2; t++) {
      uint32_t packet = Word(movie, pos);
      if (packet) {
        uint32_t bytes = Word(movie, pos + 4);
        EXPECT_LE(bytes, max_bytes[t]);
        decoded[t] += bytes;
      }
      pos += 4 + packet;
    }
    // The sound leads the picture by at least 0.75 s, and by not much more
    // than that plus one block.
    for (int t = 0; t < 2; t++) {
      double seconds = static_cast<double>(decoded[t]) / (rates[t] * frame_bytes[t]);
      double picture = k / 30.0;  // when frame k is shown
      EXPECT_GE(seconds, std::min(2.0, picture + 0.75) - 0.001) << "track " << t;
      EXPECT_LE(seconds, picture + 0.75 + 1024.0 / rates[t] + 0.001) << "track " << t;
    }
    std::vector<uint8_t> video(movie.begin() + static_cast<long>(pos), movie.begin() + end);
    HarnessDecode(&harness, video, (entry & 1) != 0);
    VideoPicture picture;
    SynthPicture(SynthScene::kDemo, k, kWidth, kHeight, true, &picture);
    double sse = 0, alpha_sse = 0;
    for (uint32_t y = 0; y < kHeight; y++)
      for (uint32_t x = 0; x < kWidth; x++) {
        double d = static_cast<double>(picture.y[y * kWidth + x]) - HarnessFrame(harness)[y * harness.pitch + x];
        double a = static_cast<double>(picture.a[y * kWidth + x]) - HarnessAlpha(harness)[y * harness.pitch + x];
        sse += d * d;
        alpha_sse += a * a;
      }
    EXPECT_GT(VideoPsnr(sse, kWidth * kHeight), 30.0);
    EXPECT_GT(VideoPsnr(alpha_sse, kWidth * kHeight), 30.0);
  }
  ASSERT_EQ(stats.audio_snr.size(), 2u);
  EXPECT_GT(stats.audio_snr[0], 15.0);
  EXPECT_GT(stats.audio_snr[1], 15.0);
}

TEST(MovieEncode, RefusesWhatItCannotEncode) {
  MovieEncodeOptions options;
  options.video.width = 16;
  options.video.height = 16;
  SynthSource source{16, 16, false};
  std::vector<uint8_t> movie;
  const char* error = nullptr;
  options.rate_den = 0;
  EXPECT_FALSE(MovieEncode(options, Draw, &source, &movie, nullptr, &error));
  EXPECT_NE(error, nullptr);
  options.rate_den = 1;
  options.video.width = 5000;
  EXPECT_FALSE(MovieEncode(options, Draw, &source, &movie, nullptr, &error));
  options.video.width = 16;
  MovieAudioInput bad;
  bad.channels = 3;
  options.audio = {bad};
  options.frames = 2;
  EXPECT_FALSE(MovieEncode(options, Draw, &source, &movie, nullptr, &error));
  // A source that fails mid-way fails the encode.
  options.audio.clear();
  auto failing = [](void*, uint32_t frame, VideoPicture* p) {
    if (frame == 1) return -1;
    SynthPicture(SynthScene::kDemo, frame, 16, 16, false, p);
    return 1;
  };
  EXPECT_FALSE(MovieEncode(options, failing, nullptr, &movie, nullptr, &error));
  // A picture of the wrong size is refused, not coded.
  auto wrong = [](void*, uint32_t frame, VideoPicture* p) {
    SynthPicture(SynthScene::kDemo, frame, 8, 8, false, p);
    return 1;
  };
  EXPECT_FALSE(MovieEncode(options, wrong, nullptr, &movie, nullptr, &error));
}

}  // namespace

namespace {

// The decoder benchmark's clips: one key frame then inter frames, or key
// frames only, as the index says.
TEST(BenchClips, KeyFramesAsAsked) {
  for (bool all_key : {false, true}) {
    SCOPED_TRACE(all_key);
    BenchClipOptions options;
    options.width = 64;
    options.height = 48;
    options.frames = 3;
    options.all_key = all_key;
    std::vector<uint8_t> movie = MakeBenchClip(options);
    ASSERT_GT(movie.size(), 44u + 16);
    EXPECT_EQ(Word(movie, 8), 3u);
    EXPECT_EQ(Word(movie, 40), 0u);
    for (uint32_t k = 0; k < 3; k++) EXPECT_EQ(Word(movie, 44 + 4 * k) & 1, k == 0 || all_key ? 1u : 0u);
  }
}

}  // namespace
