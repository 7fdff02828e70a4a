// Rate control: the controller alone against model encoders that it does not
// know, and whole movies from MovieEncode asked for a data rate or a size.
#include <gtest/gtest.h>

#include <algorithm>
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

// A pass of the controller over `frames` frames: code(k, lambda) gives a
// frame's video bytes, key(k) whether it is a key frame; a refused frame is
// coded again up to `retries` times; every packet carries `audio` bytes.
// With a plan (`plan` not empty) the pass follows it.
struct PlannedRun {
  std::vector<uint32_t> packets;
  std::vector<double> lambdas;
};

template <typename Code, typename Key>
PlannedRun RunController(const RateControlOptions& o, uint32_t frames,
                         const std::vector<double>& plan, const std::vector<double>& fixed,
                         uint64_t audio, int retries, Code code, Key key) {
  RateControl rc;
  RateControlInit(&rc, o);
  if (!plan.empty()) RateControlSetPlan(&rc, plan, fixed);
  PlannedRun run;
  for (uint32_t k = 0; k < frames; k++) {
    double lambda = RateControlLambda(&rc, audio);
    uint64_t v = code(k, lambda);
    for (int retry = 0; retry < retries; retry++) {
      double again = RateControlRetry(&rc, v, key(k), lambda, audio);
      if (again == 0) break;
      lambda = again;
      v = code(k, lambda);
    }
    run.lambdas.push_back(lambda);
    run.packets.push_back(static_cast<uint32_t>(v + audio));
    RateControlDone(&rc, v + audio, v, key(k), lambda);
  }
  return run;
}

RateControlOptions OptionsAt(double kbps, uint32_t total_frames, uint64_t samples) {
  RateControlOptions o;
  o.bytes_per_second = kbps * 125;
  o.frames_per_second = 30;
  o.total_frames = total_frames;
  o.samples_per_frame = samples;
  return o;
}

// A planned pass at kbps.
template <typename Code, typename Key>
PlannedRun RunPlanned(double kbps, const std::vector<double>& plan,
                      const std::vector<double>& fixed, uint64_t audio, int retries, Code code,
                      Key key) {
  return RunController(OptionsAt(kbps, 0, 320 * 240), static_cast<uint32_t>(plan.size()), plan,
                       fixed, audio, retries, code, key);
}

// The run's average within 5 % of kbps, no second above twice the average.
void ExpectRateHeld(const PlannedRun& run, double kbps) {
  MovieRates rates = MovieRatesOf(run.packets, 30, 1);
  EXPECT_NEAR(rates.average_kbps, kbps, kbps * 0.05);
  EXPECT_LE(rates.peak_kbps, 2 * rates.average_kbps);
}

// The median lambda of frames [from, to).
double MedianLambda(const PlannedRun& run, size_t from, size_t to) {
  std::vector<double> part(run.lambdas.begin() + from, run.lambdas.begin() + to);
  std::sort(part.begin(), part.end());
  return part[part.size() / 2];
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
// A movie of varied shots whose still stretches take next to nothing at
// the moving shots' lambda (their blocks are kept) and more only at a much
// lower one (the camera noise coded), the last one at the very end: the
// still shots must take their part as they come, or the movie ends well
// below its rate.
TEST(RateControl, StillShotsDoNotLeaveTheMovieBelowItsRate) {
  const bool still[] = {false, true, false, false, true, false, false, false, true};
  const uint32_t stretch = 150, frames = stretch * 9;  // 45 s
  for (double kbps : {300.0, 1200.0}) {
    SCOPED_TRACE(testing::Message() << "kbit/s " << kbps);
    std::mt19937 random(11);
    std::uniform_real_distribution<double> jitter(0.8, 1.25);
    uint32_t jittered = UINT32_MAX;
    double j = 1;
    auto code = [&](uint32_t k, double lambda) {
      if (k != jittered) j = jitter(random), jittered = k;  // once a frame
      const bool key = k % 300 == 0;
      double video = still[k / stretch]
                         ? (150 * std::pow(lambda, -0.12) + 20000 * std::pow(lambda, -0.9)) * j
                         : 60000 * std::pow(lambda, -0.45) * j * (key ? 5 : 1);
      return static_cast<uint64_t>(std::max(video, 20.0));
    };
    PlannedRun run = RunController(OptionsAt(kbps, frames, 640 * 480), frames, {}, {}, 200, 2,
                                   code, [](uint32_t k) { return k % 300 == 0; });
    MovieRates rates = MovieRatesOf(run.packets, 30, 1);
    EXPECT_NEAR(rates.average_kbps, kbps, kbps * 0.03);
    EXPECT_LE(rates.peak_kbps, 2 * rates.average_kbps);
  }
}

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

// Two passes: the plan comes from a faster model; the second pass's bytes
// differ from it by a constant factor, per-frame noise and a somewhat
// different slope. The frames of the last second get about the lambda of
// the middle.
TEST(RateControl, APlanHoldsOneLambdaToTheEnd) {
  struct Case {
    double factor, exponent;  // second pass against the plan
  };
  for (Case c : {Case{1.0, 0.45}, Case{1.3, 0.45}, Case{0.7, 0.55}, Case{1.2, 0.5}}) {
    for (double kbps : {600.0, 3000.0}) {
      SCOPED_TRACE(testing::Message() << "factor " << c.factor << " exponent " << c.exponent
                                      << " kbit/s " << kbps);
      const uint32_t frames = 300;
      std::mt19937 random(11);
      std::uniform_real_distribution<double> jitter(0.8, 1.25);
      // Harder pictures in the last third, key frames every 60.
      auto hardness = [](uint32_t k) { return (k >= 200 ? 1.6 : 1.0) * (k % 60 == 0 ? 5.0 : 1.0); };
      std::vector<double> plan, fixed(frames, 400);
      const double plan_lambda = 30;
      for (uint32_t k = 0; k < frames; k++) {
        double bytes = 40000 * hardness(k) * std::pow(plan_lambda, -kRateExponent) * jitter(random);
        plan.push_back(RateControlComplexity(static_cast<uint64_t>(bytes), plan_lambda));
      }
      auto code = [&](uint32_t k, double lambda) {
        return static_cast<uint64_t>(std::max(
            20.0, c.factor * 40000 * hardness(k) * std::pow(lambda, -c.exponent) * jitter(random)));
      };
      PlannedRun run =
          RunPlanned(kbps, plan, fixed, 400, 3, code, [](uint32_t k) { return k % 60 == 0; });
      ExpectRateHeld(run, kbps);
      const double middle = MedianLambda(run, 100, 200);
      for (uint32_t k = frames - 30; k < frames; k++) EXPECT_LT(run.lambdas[k] / middle, 1.5) << k;
    }
  }
}

// The second pass costing more than the plan toward the end (as where its
// own choices, key frames taken for drift among them, differ from the
// measuring pass's): the plan's ratio learnt over the whole movie lags, and
// the last frames would have to starve to meet the total. They keep about
// the lambda of the middle instead, and the rate still holds.
struct LateCost {
  const char* name;
  double from;     // share of the movie after which the real pass costs more
  double factor;   // how much more, reached at the end
  bool ramp;       // rising gradually (else at once)
  double floor;    // bytes a frame takes at any lambda
};

class RateControlLateCost : public testing::TestWithParam<LateCost> {};

TEST_P(RateControlLateCost, TheLastSecondIsNotSqueezed) {
  const LateCost c = GetParam();
  const uint32_t frames = 300;
  const double kbps = 600;
  std::vector<double> plan, fixed(frames, 200), scales(frames, 1.0);
  std::mt19937 random(3);
  std::uniform_real_distribution<double> jitter(0.85, 1.18);
  for (uint32_t k = 0; k < frames; k++)
    plan.push_back(RateControlComplexity(static_cast<uint64_t>(2000 * jitter(random)), 30));
  auto extra = [&](uint32_t k) {
    double start = c.from * frames;
    if (k < start) return 1.0;
    double reached = c.ramp ? (k - start + 1) / (frames - start) : 1.0;
    return 1 + (c.factor - 1) * reached;
  };
  auto code = [&](uint32_t k, double lambda) {
    double planned = plan[k] * std::pow(lambda, -kRateExponent);
    return static_cast<uint64_t>(std::max(c.floor, planned * extra(k) * jitter(random)));
  };
  PlannedRun run = RunPlanned(kbps, plan, fixed, 200, 2, code, [](uint32_t) { return false; });
  ExpectRateHeld(run, kbps);
  double last = 0;
  for (uint32_t k = frames - 30; k < frames; k++) last += std::log(run.lambdas[k]) / 30;
  // (Before the recent frames' ratio and the reserve: 4.8, 5.5 and 7.4.)
  EXPECT_LT(std::exp(last) / MedianLambda(run, 60, 180), 3.0);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, RateControlLateCost,
    testing::Values(LateCost{"last_third_rising", 0.67, 1.6, true, 0},
                    LateCost{"last_two_seconds", 0.8, 1.5, false, 0},
                    LateCost{"last_third_with_a_floor", 0.67, 1.8, true, 500}),
    [](const testing::TestParamInfo<LateCost>& info) { return std::string(info.param.name); });

// A still shot whose key frame is dear and whose other frames cannot go
// below their sound and a picture kept as it was: in the first second no
// frame leaves the one-second stretch yet, so every frame after the key
// frame must leave room for those still to come.
TEST(RateControl, TheFirstSecondLeavesRoomForTheSmallFramesAfterItsKeyFrame) {
  const uint32_t frames = 300;
  const double kbps = 300;
  const uint64_t audio = 150;
  std::mt19937 random(9);
  std::uniform_real_distribution<double> jitter(0.7, 1.4);
  auto bytes_at = [&](uint32_t k, double lambda) {
    double c = k == 0 ? 600000 : (k % 10 == 0 ? 60000 : 2000);
    return std::max(250.0, c * std::pow(lambda, -kRateExponent) * jitter(random));
  };
  std::vector<double> plan, fixed(frames, audio);
  for (uint32_t k = 0; k < frames; k++)
    plan.push_back(RateControlComplexity(static_cast<uint64_t>(bytes_at(k, 400)), 400));
  auto code = [&](uint32_t k, double lambda) { return static_cast<uint64_t>(bytes_at(k, lambda)); };
  PlannedRun run = RunPlanned(kbps, plan, fixed, audio, 2, code, [](uint32_t k) { return k == 0; });
  // (Counting only the frames so far, the first second came to 2.04 times
  // the average.)
  ExpectRateHeld(run, kbps);
}

// A passage that would take several times the average at the movie's
// lambda is held to the one-second peak limit; what it cannot take goes to
// the frames before it, not to the end, whose pictures (still credits at
// the finest quality) take the same few bytes at any lambda.
TEST(RateControl, BytesAPeakHoldsBackAreSpentBeforeIt) {
  const uint32_t frames = 600;
  const double kbps = 1200;
  std::mt19937 random(5);
  std::uniform_real_distribution<double> jitter(0.9, 1.1);
  auto hardness = [](uint32_t k) { return k >= 300 && k < 420 ? 8.0 : 1.0; };
  auto still = [](uint32_t k) { return k >= 420; };
  const double plan_lambda = 20, still_bytes = 300;
  std::vector<double> plan, fixed(frames, 300);
  for (uint32_t k = 0; k < frames; k++) {
    double bytes = still(k) ? still_bytes : 30000 * hardness(k) * std::pow(plan_lambda, -kRateExponent);
    plan.push_back(RateControlComplexity(static_cast<uint64_t>(bytes * jitter(random)), plan_lambda));
  }
  auto code = [&](uint32_t k, double lambda) {
    double bytes = still(k) ? still_bytes : 30000 * hardness(k) * std::pow(lambda, -kRateExponent);
    return static_cast<uint64_t>(bytes * jitter(random));
  };
  PlannedRun run = RunPlanned(kbps, plan, fixed, 300, 2, code, [](uint32_t k) { return k % 150 == 0; });
  // (Without planning for the limit: -36 %, the peak limit then broken too.)
  ExpectRateHeld(run, kbps);
}

// Camera noise is coded below some lambda and kept above it: bytes jump
// several- to fortyfold across a narrow band. The plan (taken at one lambda
// above the edge) cannot show that; the rate is still met, and lambda
// settles near the edge instead of swinging across it from frame to frame.
struct Edge {
  double kept, coded;    // video bytes of a frame above and below the edge
  double per_frame;      // the rate's bytes per frame, between the two
  double sharpness;      // how narrow the band is (all blocks alike: sharp)
};

class RateControlEdge : public testing::TestWithParam<Edge> {};

// Runs the controller over a movie whose frames take bytes_at(lambda)
// (with a plan measured at lambda 30, or none with the length known) and
// returns the packets and the planned lambdas.
template <typename BytesAt>
std::vector<uint32_t> RunEdge(const Edge& e, bool with_plan, BytesAt bytes_at,
                              std::vector<double>* planned) {
  const uint32_t frames = 300;
  std::vector<double> plan, fixed(frames, 300);
  for (uint32_t k = 0; k < frames; k++)
    plan.push_back(RateControlComplexity(static_cast<uint64_t>(bytes_at(30)), 30));
  RateControlOptions o;
  o.bytes_per_second = (e.per_frame + 300) * 30;
  o.frames_per_second = 30;
  o.samples_per_frame = 640 * 480;
  o.total_frames = frames;
  RateControl rc;
  RateControlInit(&rc, o);
  if (with_plan) RateControlSetPlan(&rc, plan, fixed);
  std::vector<uint32_t> packets;
  for (uint32_t k = 0; k < frames; k++) {
    double lambda = RateControlLambda(&rc, 300);
    planned->push_back(rc.last_planned);  // before the one-second limit
    uint64_t v = static_cast<uint64_t>(bytes_at(lambda));
    for (int retry = 0; retry < 2; retry++) {
      double again = RateControlRetry(&rc, v, k == 0, lambda, 300);
      if (again == 0) break;
      lambda = again;
      v = static_cast<uint64_t>(bytes_at(lambda));
    }
    packets.push_back(static_cast<uint32_t>(v + 300));
    RateControlDone(&rc, v + 300, v, k == 0, lambda);
  }
  return packets;
}

TEST_P(RateControlEdge, BytesThatJumpAtALambdaAreStillMet) {
  const Edge e = GetParam();
  for (bool with_plan : {true, false}) {
    SCOPED_TRACE(with_plan ? "with a plan" : "without a plan");
    std::mt19937 random(5);
    std::uniform_real_distribution<double> edge(6.5, 9.5);
    auto bytes_at = [&](double lambda) {
      double coded = 1 / (1 + std::pow(lambda / edge(random), e.sharpness));  // below about 8
      return e.kept + (e.coded - e.kept) * coded;
    };
    std::vector<double> planned;
    std::vector<uint32_t> packets = RunEdge(e, with_plan, bytes_at, &planned);
    MovieRates rates = MovieRatesOf(packets, 30, 1);
    const double kbps = (e.per_frame + 300) * 30 * 8 / 1000;
    EXPECT_NEAR(rates.average_kbps, kbps, kbps * 0.05);
    EXPECT_LE(rates.peak_kbps, 2 * rates.average_kbps);
    if (!with_plan) continue;
    // Only a frame refused on the coded side moves the next one's lambda by
    // more than a step: never every other frame, even where a coded frame
    // takes twelve frames' worth.
    uint32_t jumps = 0;
    for (size_t k = 150; k + 1 < planned.size(); k++)
      jumps += std::max(planned[k + 1] / planned[k], planned[k] / planned[k + 1]) > 1.2;
    EXPECT_LE(jumps, 50u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sides, RateControlEdge,
    testing::Values(Edge{1500, 31500, 8000, 12},   // a pan over camera noise
                    Edge{150, 6000, 1000, 40},     // a still noisy shot at a low rate
                    Edge{150, 30000, 2500, 40}));  // a still shot the fast pass had coded finely

// A movie off its request says why, from the lambdas its frames had.
TEST(MovieRates, AMissNamesItsReason) {
  struct Case {
    double lambda;
    bool under;
    const char* words;
  };
  for (Case c : {Case{kRateLeastLambda, true, "finest quality"},
                 Case{40, true, "less than the rate control planned"},
                 Case{kRateMostLambda, false, "coarsest quality"},
                 Case{40, false, "more than the rate control planned"}}) {
    MovieEncodeStats stats;
    stats.lambdas.assign(30, c.lambda);
    stats.lambdas[0] = 0;  // a reused frame counts for nothing
    std::string reason = MovieRateMissReason(stats, c.under);
    EXPECT_NE(reason.find(c.words), std::string::npos) << reason;
    EXPECT_EQ(reason.find("not padded") != std::string::npos, c.under) << reason;
  }
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

// Content kinds that a camera and an editor make, small and short.
enum class Content { kNoisyPan, kStatic, kFades, kCuts, kDark };

struct ContentSource {
  Content kind;
  uint32_t width = 112, height = 80;
};

// Camera-like noise of about `sigma` from a hash of frame and sample.
void AddNoise(VideoPicture* p, uint32_t frame, int sigma) {
  uint32_t state = frame * 2654435761u + 1;
  for (uint8_t& y : p->y) {
    state = state * 1664525u + 1013904223u;
    int n = static_cast<int>((state >> 24) % (4 * sigma + 1)) - 2 * sigma;
    y = static_cast<uint8_t>(std::clamp(y + n, 0, 255));
  }
}

// Brings a picture toward black by `gain` (0 black .. 1 as it was).
void Dim(VideoPicture* p, double gain) {
  for (uint8_t& y : p->y) y = static_cast<uint8_t>(16 + (y - 16) * gain);
  for (auto* plane : {&p->u, &p->v})
    for (uint8_t& c : *plane) c = static_cast<uint8_t>(128 + (c - 128) * gain);
}

int DrawContent(void* user, uint32_t frame, VideoPicture* p) {
  const auto* source = static_cast<const ContentSource*>(user);
  const uint32_t w = source->width, h = source->height;
  switch (source->kind) {
    case Content::kNoisyPan:
      SynthPicture(SynthScene::kNatural, frame, w, h, false, p);
      AddNoise(p, frame, 3);
      break;
    case Content::kStatic:
      SynthPicture(SynthScene::kNatural, 0, w, h, false, p);
      AddNoise(p, frame, 2);
      break;
    case Content::kFades:  // in from black and out again every two seconds
      SynthPicture(SynthScene::kNatural, frame, w, h, false, p);
      Dim(p, std::min(1.0, std::abs(static_cast<int>(frame % 60) - 30) / 15.0));
      break;
    case Content::kCuts: {  // a new shot every 1 to 2 seconds
      uint32_t shot = 0, start = 0;
      while (start + 30 + shot * 13 % 30 <= frame) start += 30 + shot++ * 13 % 30;
      const SynthScene scenes[] = {SynthScene::kNatural, SynthScene::kShapes, SynthScene::kGradient};
      SynthPicture(scenes[shot % 3], frame + shot * 50, w, h, false, p);
      AddNoise(p, frame, 2);
      break;
    }
    case Content::kDark: {  // a small lit window drifting over black
      VideoPicture lit;
      SynthPicture(SynthScene::kNatural, frame, w, h, false, &lit);
      SynthPicture(SynthScene::kNatural, frame, w, h, false, p);
      Dim(p, 0);
      AddNoise(p, frame, 1);
      uint32_t x0 = frame * 2 % (w - 24), y0 = frame % (h - 24);
      for (uint32_t y = y0; y < y0 + 24; y++)
        for (uint32_t x = x0; x < x0 + 24; x++) p->y[y * w + x] = lit.y[y * w + x];
      break;
    }
  }
  return 1;
}

bool Rewind(void*) { return true; }

struct ContentCase {
  Content kind;
  const char* name;
  double kbps;
  int speed = 8;  // below 9 two passes; the fastest speed codes in one
};

class MovieEncodeContent : public testing::TestWithParam<ContentCase> {};

// The pictures can be read again, so two passes (one at the fastest speed):
// the rate within 5 %, every second within twice the average, and the last
// second coded with about the lambda of the middle rather than squeezed.
TEST_P(MovieEncodeContent, RateHeldWithOneLambdaToTheEnd) {
  const ContentCase c = GetParam();
  ContentSource source{c.kind};
  MovieEncodeOptions o = MovieOptions();
  o.video.width = source.width;
  o.video.height = source.height;
  o.audio[0].quality_from_rate = true;
  o.bitrate_kbps = c.kbps;
  o.rewind = Rewind;
  o.video.speed = c.speed;
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  ASSERT_TRUE(MovieEncode(o, DrawContent, &source, &movie, &stats, &error)) << error;
  EXPECT_EQ(stats.passes, c.speed < kMovieAnalysisSpeed ? 2 : 1);
  MovieRates rates = MovieRatesOf(stats.packet_bytes, o.rate_num, o.rate_den);
  EXPECT_NEAR(rates.average_kbps, c.kbps, c.kbps * 0.05);
  EXPECT_LE(rates.peak_kbps, 2 * rates.average_kbps);
  auto median = [&](size_t from, size_t to) {
    std::vector<double> part;
    for (size_t k = from; k < to; k++)
      if (stats.lambdas[k] > 0) part.push_back(stats.lambdas[k]);
    std::sort(part.begin(), part.end());
    return part.empty() ? 0.0 : part[part.size() / 2];
  };
  ASSERT_EQ(stats.lambdas.size(), 180u);
  EXPECT_LT(median(150, 180), 2 * median(30, 150));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, MovieEncodeContent,
    testing::Values(ContentCase{Content::kNoisyPan, "noisy_pan", 150},
                    ContentCase{Content::kNoisyPan, "noisy_pan", 600},
                    ContentCase{Content::kStatic, "static", 150},
                    ContentCase{Content::kStatic, "static", 600},
                    ContentCase{Content::kFades, "fades", 150},
                    ContentCase{Content::kFades, "fades", 600},
                    ContentCase{Content::kCuts, "cuts", 150},
                    ContentCase{Content::kCuts, "cuts", 600},
                    ContentCase{Content::kDark, "dark", 100},
                    ContentCase{Content::kDark, "dark", 300},
                    ContentCase{Content::kNoisyPan, "noisy_pan", 600, 9},
                    ContentCase{Content::kFades, "fades", 150, 9},
                    ContentCase{Content::kCuts, "cuts", 600, 9},
                    ContentCase{Content::kDark, "dark", 100, 9}),
    [](const testing::TestParamInfo<ContentCase>& info) {
      return std::string(info.param.name) + "_" + std::to_string(static_cast<int>(info.param.kbps)) +
             "_speed" + std::to_string(info.param.speed);
    });

// With two passes a size needs no frame count in advance.
TEST(MovieEncodeRate, SizeFromTwoPassesWithoutAFrameCount) {
  ContentSource source{Content::kCuts};
  MovieEncodeOptions o = MovieOptions();
  o.video.width = source.width;
  o.video.height = source.height;
  o.rewind = Rewind;
  o.target_bytes = 120000;
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  ASSERT_TRUE(MovieEncode(o, DrawContent, &source, &movie, &stats, &error)) << error;
  EXPECT_NEAR(static_cast<double>(movie.size()), 120000.0, 120000 * 0.05);
}

// A rate the sound alone exceeds is refused with both figures; a sound
// whose quality is left to the encoder is brought down to fit instead.
TEST(MovieEncodeRate, SoundAboveTheRateIsNamedOrLowered) {
  MovieEncodeOptions o = MovieOptions();
  o.audio[0].quality = 100;
  o.bitrate_kbps = 8;
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  EXPECT_FALSE(MovieEncode(o, Natural, nullptr, &movie, &stats, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_NE(std::string(error).find("sound alone"), std::string::npos) << error;
  EXPECT_NE(std::string(error).find("8 kbit/s"), std::string::npos) << error;
  o.audio[0].quality_from_rate = true;
  o.bitrate_kbps = 60;
  ASSERT_TRUE(MovieEncode(o, Natural, nullptr, &movie, &stats, &error)) << error;
  ASSERT_EQ(stats.audio_quality.size(), 1u);
  EXPECT_LT(stats.audio_quality[0], 100);
  EXPECT_LE(static_cast<double>(stats.audio_bytes[0]) * 8 / 6 / 1000, 0.2 * 60 * 1.05);
  MovieRates rates = MovieRatesOf(stats.packet_bytes, o.rate_num, o.rate_den);
  EXPECT_NEAR(rates.average_kbps, 60, 3);
}

int OneSecondOfPictures(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= 30) return 0;
  SynthPicture(SynthScene::kNatural, frame, 96, 64, false, picture);
  return 1;
}

// Sound that outlasts the pictures holds the last one: the frames it adds
// share the rate, so the sound is measured over them, not over the
// pictures alone (which made such a request look impossible).
TEST(MovieEncodeRate, HeldPicturesCountTowardsTheSoundsShare) {
  MovieEncodeOptions o = MovieOptions();
  o.frames = 0;
  o.frames_expected = 30;
  o.hold_last_picture = true;
  MovieEncodeStats stats;
  std::vector<uint8_t> movie;
  const char* error = nullptr;
  ASSERT_TRUE(MovieEncode(o, OneSecondOfPictures, nullptr, &movie, &stats, &error)) << error;
  const double sound_kbps = static_cast<double>(stats.audio_bytes[0]) * 8 / 6 / 1000;
  // Over the pictures alone the sound (with its lead-in) would seem to take
  // more than this.
  o.bitrate_kbps = 1.5 * sound_kbps;
  ASSERT_TRUE(MovieEncode(o, OneSecondOfPictures, nullptr, &movie, &stats, &error)) << error;
  EXPECT_EQ(stats.held_frames + stats.pictures, stats.packet_bytes.size());
  EXPECT_GT(stats.held_frames, 100u);
}

}  // namespace
