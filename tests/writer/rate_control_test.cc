// Rate control: the controller alone against model encoders that it does not
// know, and whole movies from MovieEncode asked for a data rate or a size.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "synth/synth.h"
#include "writer/encode_movie.h"
#include "writer/rate_control.h"

namespace {

struct ModelEncoder {
  double complexity;      // bytes at lambda 1
  double exponent;        // how fast bytes fall with lambda
  uint32_t key_every;     // a key frame this often costs key_factor times more
  double key_factor;
  uint32_t cut_at = 0;    // from here on the pictures are this much harder
  double cut_factor = 1;
};

// Runs the controller over `frames` frames of a model and returns the packet sizes.
std::vector<uint32_t> Simulate(const ModelEncoder& m, double bytes_per_second, uint32_t frames,
                               bool length_known, uint64_t audio_per_frame) {
  RateControlOptions o;
  o.bytes_per_second = bytes_per_second;
  o.frames_per_second = 30;
  o.total_frames = length_known ? frames : 0;
  o.samples_per_frame = 320 * 240;
  RateControl rc;
  RateControlInit(&rc, o);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> jitter(0.8, 1.25);
  std::vector<uint32_t> packets;
  for (uint32_t k = 0; k < frames; k++) {
    double lambda = RateControlLambda(&rc, audio_per_frame);
    bool key = k % m.key_every == 0;
    double c = m.complexity * (m.cut_at && k >= m.cut_at ? m.cut_factor : 1) * jitter(random);
    auto code = [&] {
      double video = c * std::pow(lambda, -m.exponent) * (key ? m.key_factor : 1);
      return static_cast<uint64_t>(std::max(video, 20.0));
    };
    uint64_t v = code();
    for (int retry = 0; retry < 2; retry++) {
      double again = RateControlRetry(&rc, v, key, lambda, audio_per_frame);
      if (again == 0) break;
      EXPECT_GT(again, lambda);
      lambda = again;
      v = code();
    }
    packets.push_back(static_cast<uint32_t>(v + audio_per_frame));
    RateControlDone(&rc, v + audio_per_frame, v, key, lambda);
  }
  return packets;
}

TEST(RateControl, ReachesTheRateOfModelsItDoesNotKnow) {
  const ModelEncoder models[] = {
      {20000, 0.45, 150, 6},       // as assumed
      {300000, 0.8, 90, 10},       // steeper and harder than assumed
      {12000, 0.3, 300, 4},        // flatter
      {20000, 0.45, 150, 6, 200, 3},  // a harder scene from frame 200
  };
  for (const ModelEncoder& m : models) {
    for (double kbps : {200.0, 1000.0, 6000.0}) {
      for (bool known : {true, false}) {
        SCOPED_TRACE(testing::Message() << "complexity " << m.complexity << " exponent "
                                        << m.exponent << " kbit/s " << kbps << " known " << known);
        std::vector<uint32_t> packets = Simulate(m, kbps * 125, 300, known, 300);
        MovieRates rates = MovieRatesOf(packets, 30, 1);
        EXPECT_NEAR(rates.average_kbps, kbps, kbps * 0.05);
        EXPECT_LE(rates.peak_kbps, 2 * rates.average_kbps);
      }
    }
  }
}

// Bits are spent best when every frame has the same lambda: a key frame's
// extra bytes are paid back slowly, not by starving the second after it.
TEST(RateControl, KeyFramesDoNotStarveTheFramesAfterThem) {
  RateControlOptions o;
  o.bytes_per_second = 1000 * 125;
  o.frames_per_second = 30;
  o.total_frames = 300;
  o.samples_per_frame = 320 * 240;
  RateControl rc;
  RateControlInit(&rc, o);
  std::vector<double> lambdas;
  uint64_t total = 0;
  for (uint32_t k = 0; k < o.total_frames; k++) {
    double lambda = RateControlLambda(&rc, 0);
    bool key = k % 45 == 0;
    auto code = [&] { return static_cast<uint64_t>(20000 * std::pow(lambda, -0.45) * (key ? 8 : 1)); };
    uint64_t v = code();
    // Only the very first frame, coded before anything is known, may be refused.
    if (double again = RateControlRetry(&rc, v, key, lambda, 0); again > 0 && k == 0) {
      lambda = again;
      v = code();
    }
    ASSERT_EQ(RateControlRetry(&rc, v, key, lambda, 0), 0.0) << k;
    lambdas.push_back(lambda);
    total += v;
    RateControlDone(&rc, v, v, key, lambda);
  }
  // Once the first key frames have been seen, the frame after a key frame
  // gets nearly the lambda of the frame before it (until the last two
  // seconds, which pay back what is left).
  for (uint32_t k = 90; k + 60 < o.total_frames; k += 45)
    EXPECT_LT(lambdas[k + 1] / lambdas[k - 1], 1.3) << k;
  EXPECT_NEAR(static_cast<double>(total), 125000.0 * 10, 125000.0 * 10 * 0.05);
}

TEST(MovieRates, AverageAndOneSecondPeak) {
  std::vector<uint32_t> even(60, 1000);
  MovieRates r = MovieRatesOf(even, 30, 1);
  EXPECT_DOUBLE_EQ(r.average_kbps, 240.0);
  EXPECT_DOUBLE_EQ(r.peak_kbps, 240.0);
  std::vector<uint32_t> burst = even;
  burst[40] = 31000;  // one second holds 29 x 1000 + 31000 = 60000 bytes
  r = MovieRatesOf(burst, 30, 1);
  EXPECT_DOUBLE_EQ(r.peak_kbps, 480.0);
  // A movie shorter than a second: its peak is its own rate.
  r = MovieRatesOf(std::vector<uint32_t>(10, 500), 30000, 1001);
  EXPECT_NEAR(r.peak_kbps, r.average_kbps, 1e-9);
  EXPECT_EQ(MovieRatesOf({}, 30, 1).average_kbps, 0.0);
}

int Natural(void*, uint32_t frame, VideoPicture* picture) {
  // A cut every 60 frames between camera-like motion and shapes.
  SynthScene scene = frame / 60 % 2 ? SynthScene::kShapes : SynthScene::kNatural;
  SynthPicture(scene, frame, 96, 64, false, picture);
  return 1;
}

MovieEncodeOptions MovieOptions() {
  MovieEncodeOptions o;
  o.video.width = 96;
  o.video.height = 64;
  o.video.speed = 9;
  o.video.keyint = 90;
  o.frames = 180;  // 6 s
  MovieAudioInput track;
  track.rate = 11025;
  track.channels = 1;
  SynthMelody(track.rate, 1, 6.0, &track.samples);
  o.audio.push_back(track);
  return o;
}

class MovieEncodeBitrate : public testing::TestWithParam<double> {};

TEST_P(MovieEncodeBitrate, AverageWithinFivePerCentAndPeakAtMostTwice) {
  const double kbps = GetParam();
  MovieEncodeOptions o = MovieOptions();
  o.bitrate_kbps = kbps;
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  ASSERT_TRUE(MovieEncode(o, Natural, nullptr, &movie, &stats, &error)) << error;
  MovieRates rates = MovieRatesOf(stats.packet_bytes, o.rate_num, o.rate_den);
  EXPECT_NEAR(rates.average_kbps, kbps, kbps * 0.05);
  EXPECT_LE(rates.peak_kbps, 2 * rates.average_kbps);
  EXPECT_DOUBLE_EQ(stats.target_kbps, kbps);
  uint64_t packets = 0;
  for (uint32_t b : stats.packet_bytes) packets += b;
  EXPECT_EQ(packets + 44 + 12 + 4 * 181, movie.size());
}

INSTANTIATE_TEST_SUITE_P(Kbps, MovieEncodeBitrate, testing::Values(100.0, 160.0, 260.0),
                         [](const testing::TestParamInfo<double>& info) {
                           return std::to_string(static_cast<int>(info.param));
                         });

class MovieEncodeSize : public testing::TestWithParam<uint64_t> {};

TEST_P(MovieEncodeSize, WithinFivePerCent) {
  const uint64_t size = GetParam();
  MovieEncodeOptions o = MovieOptions();
  o.target_bytes = size;
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  ASSERT_TRUE(MovieEncode(o, Natural, nullptr, &movie, &stats, &error)) << error;
  EXPECT_NEAR(static_cast<double>(movie.size()), static_cast<double>(size), size * 0.05);
}

INSTANTIATE_TEST_SUITE_P(Bytes, MovieEncodeSize, testing::Values(80000u, 180000u),
                         [](const testing::TestParamInfo<uint64_t>& info) {
                           return std::to_string(info.param);
                         });

TEST(MovieEncodeRate, SizeNeedsAFrameCountAndRoomForTheContainer) {
  MovieEncodeOptions o = MovieOptions();
  o.frames = 0;
  o.target_bytes = 100000;
  std::vector<uint8_t> movie;
  const char* error = nullptr;
  EXPECT_FALSE(MovieEncode(o, Natural, nullptr, &movie, nullptr, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_NE(std::string(error).find("number of frames"), std::string::npos);
  o.frames = 180;
  o.target_bytes = 800;  // less than the header and index
  EXPECT_FALSE(MovieEncode(o, Natural, nullptr, &movie, nullptr, &error));
  EXPECT_NE(std::string(error).find("too small"), std::string::npos);
}

}  // namespace
