// How far a block's error travels into later frames, and the lambdas that
// follow from it: chains of copies worked out by hand, the split of a moved
// block's source over the blocks it overlaps, and the scales' balance.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "video/video_tables.h"
#include "writer/encode_movie.h"
#include "writer/encode_propagate.h"
#include "writer/rate_control.h"
#include "synth/synth.h"

namespace {

std::vector<BlockFlow> Uniform(uint32_t blocks, float carried, MotionVector mv = {}) {
  BlockFlow f;
  f.carried = carried;
  f.mv = mv;
  return std::vector<BlockFlow>(blocks, f);
}

// A key frame followed by frames that all carry `carried` of their source
// in place: block errors of frame t are inherited by the same block of the
// n - 1 - t later frames, each time by that share again.
TEST(PropagateFlows, ChainOfCopiesCountsEveryLaterFrame) {
  for (float carried : {1.0f, 0.5f}) {
    const uint32_t n = 6;
    std::vector<std::vector<BlockFlow>> frames = {Uniform(4, 0)};
    for (uint32_t t = 1; t < n; t++) frames.push_back(Uniform(4, carried));
    std::vector<std::vector<float>> inherited = PropagateFlows(frames, 2, 2);
    ASSERT_EQ(inherited.size(), n);
    for (uint32_t t = 0; t < n; t++) {
      double expected = 0, share = 1;
      for (uint32_t later = t + 1; later < n; later++) expected += share *= carried;
      for (float v : inherited[t]) EXPECT_NEAR(v, expected, 1e-5) << "frame " << t;
    }
  }
}

// A block copied from half a block up and left takes a quarter from each of
// the four blocks its source overlaps; coded afresh, it takes nothing.
TEST(PropagateFlows, MovedSourceSplitsOverTheBlocksItOverlaps) {
  std::vector<std::vector<BlockFlow>> frames = {Uniform(9, 0), Uniform(9, 0)};
  frames[1][4] = {1.0f, {-4, -4}};  // centre block of 3x3
  frames[1][8] = {0.0f, {-8, -8}};  // coded afresh: its offset means nothing
  std::vector<std::vector<float>> inherited = PropagateFlows(frames, 3, 3);
  const float expected[9] = {0.25f, 0.25f, 0, 0.25f, 0.25f, 0, 0, 0, 0};
  for (int i = 0; i < 9; i++) EXPECT_FLOAT_EQ(inherited[0][i], expected[i]) << i;
  for (float v : inherited[1]) EXPECT_EQ(v, 0.0f);
}

// What a block inherits passes on through the chain: the last frame's copy
// of a moving block counts in the first frame where the block started.
TEST(PropagateFlows, InheritanceFollowsTheMotionBackwards) {
  // 4x1 blocks; a whole-block move to the right each frame.
  std::vector<std::vector<BlockFlow>> frames = {Uniform(4, 0)};
  for (int t = 1; t < 4; t++) {
    std::vector<BlockFlow> f = Uniform(4, 0);
    for (int bx = 1; bx < 4; bx++) f[bx] = {1.0f, {-8, 0}};
    frames.push_back(f);
  }
  std::vector<std::vector<float>> inherited = PropagateFlows(frames, 4, 1);
  // Block 0 of frame 0 lives on as block 1, 2, 3 of frames 1, 2, 3.
  EXPECT_FLOAT_EQ(inherited[0][0], 3);
  EXPECT_FLOAT_EQ(inherited[0][1], 2);
  EXPECT_FLOAT_EQ(inherited[0][3], 0);  // moved out of the picture
  EXPECT_FLOAT_EQ(inherited[2][2], 1);
}

TEST(BlockFlows, CopiesKeepAllCorrectionsPartPictureCodingsNothing) {
  const uint8_t types[] = {BT_KEEP, BT_MOTION, BT_INTER, BT_RESIDUE, BT_INTRA, BT_FILL, BT_DOUBLED};
  const MotionVector vectors[7] = {{3, 3}, {2, -1}, {1, 1}, {-1, 0}, {5, 5}, {5, 5}, {5, 5}};
  std::vector<BlockFlow> flows;
  BlockFlowsFromTypes(types, vectors, 7, &flows);
  ASSERT_EQ(flows.size(), 7u);
  EXPECT_EQ(flows[0].carried, 1.0f);
  EXPECT_EQ(flows[0].mv.x, 0);  // a keep reads the same place whatever was searched
  EXPECT_EQ(flows[1].carried, 1.0f);
  EXPECT_EQ(flows[1].mv.y, -1);
  for (int i : {2, 3}) {
    EXPECT_GT(flows[i].carried, 0.0f);
    EXPECT_LT(flows[i].carried, 1.0f);
  }
  for (int i : {4, 5, 6}) EXPECT_EQ(flows[i].carried, 0.0f);
}

// The frame's scale follows the average times its blocks' errors are seen.
TEST(FrameLambdaScale, FollowsTheAverageTimesSeen) {
  EXPECT_NEAR(FrameLambdaScale(std::vector<float>(8, 3.0f), 0.5), 0.5, 1e-9);  // seen 4 times
  EXPECT_NEAR(FrameLambdaScale({0, 0, 8, 8}, 0.5), std::pow(5.0, -0.5), 1e-9);
  EXPECT_EQ(FrameLambdaScale(std::vector<float>(4, 0.0f), 0.5), 1.0);  // nobody inherits
  EXPECT_EQ(FrameLambdaScale({}, 0.5), 1.0);
}

// Areas seen fewer times than the frame on average get a higher lambda by
// the ratio; the others keep the frame's. Odd block counts make edge areas
// of fewer blocks.
TEST(AreaLambdaScales, OnlyAreasSeenLessThanTheFrameAreRaised) {
  // 4x2 blocks, two areas: the left seen once, the right 9 times (frame: 5).
  std::vector<float> areas = AreaLambdaScales({0, 0, 8, 8, 0, 0, 8, 8}, 4, 2, 0.5);
  ASSERT_EQ(areas.size(), 2u);
  EXPECT_NEAR(areas[0], std::sqrt(5.0), 1e-5);
  EXPECT_EQ(areas[1], 1.0f);
  // 3x3 blocks: four areas of 4, 2, 2 and 1 blocks; only the corner block
  // is inherited, so the other three areas are raised alike.
  std::vector<float> inherited(9, 0.0f);
  inherited[8] = 17;  // frame: 26 / 9 times seen
  std::vector<float> odd = AreaLambdaScales(inherited, 3, 3, 1.0);
  ASSERT_EQ(odd.size(), 4u);
  for (int a = 0; a < 3; a++) EXPECT_NEAR(odd[a], 26.0 / 9, 1e-5) << a;
  EXPECT_EQ(odd[3], 1.0f);
  for (float s : AreaLambdaScales(std::vector<float>(9, 2.0f), 3, 3, 1.0)) EXPECT_EQ(s, 1.0f);
}

// Alternating scales settle on the lower; a gradual rise stays as it is,
// a steep one is held to the step from both sides.
TEST(LimitScaleSteps, NeighboursDifferByAtMostTheStep) {
  struct Case {
    std::vector<double> in, out;
  };
  const Case cases[] = {
      {{0.2, 1.0, 0.2, 1.0}, {0.2, 0.4, 0.2, 0.4}},
      {{0.5, 0.55, 0.6, 0.65}, {0.5, 0.55, 0.6, 0.65}},
      {{0.25, 0.25, 1.0}, {0.25, 0.25, 0.5}},
      {{1.0, 1.0, 0.25}, {1.0, 0.5, 0.25}},
  };
  for (const Case& c : cases) {
    std::vector<double> v = c.in;
    LimitScaleSteps(v.data(), v.size(), 2.0);
    for (size_t i = 0; i < v.size(); i++) EXPECT_NEAR(v[i], c.out[i], 1e-12) << i;
  }
}

// The plan's frame factors come back in the frames' lambdas, and a model
// encoder that follows the plan still lands on the rate.
TEST(RateControlPlanScales, FramesGetTheirFactorAndTheRateHolds) {
  const uint32_t n = 60;
  RateControlOptions o;
  o.bytes_per_second = 30000;
  o.total_frames = n;
  o.samples_per_frame = 64 * 64;
  RateControl rc;
  RateControlInit(&rc, o);
  const double c = 4000;  // video bytes at lambda 1
  RateControlSetPlan(&rc, std::vector<double>(n, c), std::vector<double>(n, 0));
  std::vector<double> scales(n);
  for (uint32_t k = 0; k < n; k++) scales[k] = k % 2 ? 1.0 : 0.5;
  RateControlSetPlanScales(&rc, scales);
  uint64_t total = 0;
  std::vector<double> lambdas;
  for (uint32_t k = 0; k < n; k++) {
    double lambda = RateControlLambda(&rc, 0);
    lambdas.push_back(lambda);
    uint64_t video = static_cast<uint64_t>(c * std::pow(lambda, -kRateExponent));
    total += video + (video & 1);
    RateControlDone(&rc, video + (video & 1), video, false, lambda);
  }
  for (uint32_t k = 10; k + 1 < n; k += 2) EXPECT_NEAR(lambdas[k] / lambdas[k + 1], 0.5, 0.01) << k;
  EXPECT_NEAR(static_cast<double>(total), 1000.0 * n, 0.02 * 1000 * n);
}

// A whole movie: a slow pan over one picture, measured first. With frame
// and area lambdas from the measuring pass the movie is the same for any
// number of workers. (Which frames end with lower lambdas is left to the
// rate control's unit tests above: on a movie this small its corrections
// outweigh the frames' scales.)
int Pan(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= 40) return 0;
  SynthPicture(SynthScene::kNatural, frame, 64, 48, false, picture);
  return 1;
}
bool Again(void*) { return true; }

TEST(MovieEncodePropagation, MeasuredMovieIsTheSameForAnyWorkerCount) {
  std::vector<uint8_t> movies[2];
  MovieEncodeStats stats;
  for (uint32_t threads : {1u, 3u}) {
    MovieEncodeOptions o;
    o.video.width = 64;
    o.video.height = 48;
    o.video.speed = 6;
    o.video.keyint = 0;
    o.video.scene_cuts = false;
    o.video.threads = threads;
    o.bitrate_kbps = 200;
    o.rewind = Again;
    const char* error = nullptr;
    ASSERT_TRUE(MovieEncode(o, Pan, nullptr, &movies[threads == 1 ? 0 : 1], &stats, &error))
        << error;
  }
  EXPECT_EQ(movies[0], movies[1]);
  ASSERT_EQ(stats.passes, 2);
  ASSERT_EQ(stats.lambdas.size(), 40u);
}

}  // namespace
