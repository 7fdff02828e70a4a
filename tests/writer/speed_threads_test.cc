// Speed settings and worker threads: every speed must still produce movies
// the decoder rebuilds exactly, and the coded bytes must not depend on how
// many threads decided the blocks.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "writer/encode_parallel.h"
#include "writer_test_util.h"

namespace {

VideoEncoderOptions Options(int speed, uint32_t threads) {
  VideoEncoderOptions o;
  o.width = 72;  // odd block counts in both directions: partial pairs at the edges
  o.height = 40;
  o.quality = 60;
  o.speed = speed;
  o.threads = threads;
  return o;
}

class EverySpeed : public testing::TestWithParam<int> {};

TEST_P(EverySpeed, DecoderMatchesAndThreadCountChangesNothing) {
  int speed = GetParam();
  ClipResult one = EncodeClip(Options(speed, 1), SynthScene::kNatural, 5, 3, SynthScene::kDemo);
  ASSERT_EQ(one.frames.size(), 5u);
  EXPECT_EQ(one.mismatches, 0u);
  EXPECT_GT(one.psnr_luma, 28.0);
  for (uint32_t threads : {2u, 3u, 8u}) {
    SCOPED_TRACE(threads);
    ClipResult many =
        EncodeClip(Options(speed, threads), SynthScene::kNatural, 5, 3, SynthScene::kDemo);
    EXPECT_EQ(many.mismatches, 0u);
    EXPECT_TRUE(many.video == one.video);
  }
}

INSTANTIATE_TEST_SUITE_P(Speeds, EverySpeed, testing::Range(0, 10));

TEST(EncoderSpeed, OutOfRangeSpeedIsRefused) {
  VideoEncoderOptions o = Options(10, 1);
  EXPECT_EQ(VideoEncoderCreate(o), nullptr);
  o.speed = -1;
  EXPECT_EQ(VideoEncoderCreate(o), nullptr);
}

// Faster settings may cost bits or error but must stay in the same league:
// the fastest keeps within 3 dB of the best at about the same size.
TEST(EncoderSpeed, FastestStaysCloseToBest) {
  ClipResult best = EncodeClip(Options(0, 1), SynthScene::kNatural, 6);
  ClipResult fastest = EncodeClip(Options(9, 1), SynthScene::kNatural, 6);
  EXPECT_GT(fastest.psnr_luma, best.psnr_luma - 3.0);
  EXPECT_LT(fastest.bytes, best.bytes * 3 / 2);
}

struct Tally {
  std::vector<std::atomic<int>> runs;
  std::atomic<int> bad_worker{0};
  uint32_t threads;
  explicit Tally(size_t n, uint32_t t) : runs(n), threads(t) {}
};

TEST(RunParallel, EveryJobRunsOnceOnAWorkerBelowTheCount) {
  for (uint32_t threads : {1u, 2u, 5u, 40u}) {
    for (uint32_t jobs : {0u, 1u, 7u, 33u}) {
      SCOPED_TRACE(testing::Message() << threads << " threads, " << jobs << " jobs");
      Tally tally(jobs, threads);
      RunParallel(threads, jobs,
                  [](void* context, uint32_t job, uint32_t worker) {
                    auto* t = static_cast<Tally*>(context);
                    t->runs[job]++;
                    if (worker >= t->threads) t->bad_worker++;
                  },
                  &tally);
      for (uint32_t j = 0; j < jobs; j++) EXPECT_EQ(tally.runs[j].load(), 1) << j;
      EXPECT_EQ(tally.bad_worker.load(), 0);
    }
  }
}

}  // namespace
