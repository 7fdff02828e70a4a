// Every block type and doubled sub-type: forced one at a time (each must
// decode to the encoder's reconstruction), and all of them chosen freely by
// the rate-distortion search on the test clips.
#include <gtest/gtest.h>

#include "writer_test_util.h"

namespace {

constexpr const char* kNames[BLOCK_TYPE_COUNT] = {"keep",  "doubled", "motion", "runs",    "residue",
                                                  "intra", "fill",    "inter",  "pattern", "raw"};

// At every kind of speed setting: the faster ones end a block's decision
// early, which must never leave a block without an allowed coding.
class EncoderBlockTypesAtSpeed : public testing::TestWithParam<int> {};

TEST_P(EncoderBlockTypesAtSpeed, EachTypeAloneDecodesExactly) {
  for (int type = 0; type < BLOCK_TYPE_COUNT; type++) {
    SCOPED_TRACE(kNames[type]);
    VideoEncoderOptions o;
    o.width = 40;
    o.height = 32;
    o.quality = 60;
    o.speed = GetParam();
    o.allowed_types = 1u << type;
    o.scene_cuts = false;
    ClipResult r = EncodeClip(o, SynthScene::kDemo, 3);
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.mismatches, 0u);
    EXPECT_GT(r.types[type], 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Speeds, EncoderBlockTypesAtSpeed, testing::Values(0, 5, 9));

TEST(EncoderBlockTypes, EachDoubledSubTypeAloneDecodesExactly) {
  for (int sub : {3, 5, 6, 8, 9}) {
    SCOPED_TRACE(kNames[sub]);
    VideoEncoderOptions o;
    o.width = 48;
    o.height = 40;
    o.allowed_types = 1u << 1;
    o.allowed_sub_types = 1u << sub;
    ClipResult r = EncodeClip(o, SynthScene::kGradient, 2);
    EXPECT_EQ(r.mismatches, 0u);
    EXPECT_GT(r.sub_types[sub], 0u);
  }
}

// Old-format colours cannot express 0: forced colour codings on black must
// still decode to what the encoder reconstructed.
TEST(EncoderBlockTypes, OldColourFormatAvoidsColourZero) {
  for (int type : {3, 6, 8, 9}) {
    SCOPED_TRACE(kNames[type]);
    VideoEncoderOptions o;
    o.width = 32;
    o.height = 24;
    o.version = 'h';
    o.allowed_types = 1u << type;
    ClipResult r = EncodeClip(o, SynthScene::kNoise, 2);
    EXPECT_EQ(r.mismatches, 0u);
  }
}

TEST(EncoderBlockTypes, FreeChoiceUsesEveryType) {
  uint32_t types[BLOCK_TYPE_COUNT] = {}, subs[BLOCK_TYPE_COUNT] = {};
  struct Clip {
    SynthScene scene;
    int quality;
  } clips[] = {{SynthScene::kDemo, 90}, {SynthScene::kDemo, 50}, {SynthScene::kNatural, 75},
               {SynthScene::kShapes, 80}, {SynthScene::kNoise, 100}, {SynthScene::kGradient, 40}};
  for (const Clip& c : clips) {
    VideoEncoderOptions o;
    o.width = 96;
    o.height = 64;
    o.quality = c.quality;
    o.speed = 0;  // the most thorough choice: every coding is considered
    ClipResult r = EncodeClip(o, c.scene, 4);
    EXPECT_EQ(r.mismatches, 0u);
    for (int t = 0; t < BLOCK_TYPE_COUNT; t++) {
      types[t] += r.types[t];
      subs[t] += r.sub_types[t];
    }
  }
  for (int t = 0; t < BLOCK_TYPE_COUNT; t++) EXPECT_GT(types[t], 0u) << kNames[t];
  for (int s : {3, 5, 6, 8, 9}) EXPECT_GT(subs[s], 0u) << "doubled " << kNames[s];
}

}  // namespace

namespace {

// Wide planes full of raw or run blocks fill a refill to its limit: the
// grouping of block rows must never announce more values than a decoder's
// bundle buffer holds, or the decoder abandons the plane.
TEST(EncoderBlockTypes, WidePlanesStayWithinRefillLimits) {
  for (int type : {3, 9}) {
    SCOPED_TRACE(kNames[type]);
    VideoEncoderOptions o;
    o.width = 1000;
    o.height = 24;
    o.quality = 100;
    o.allowed_types = 1u << type;
    ClipResult r = EncodeClip(o, SynthScene::kNoise, 1);
    EXPECT_EQ(r.mismatches, 0u);
    EXPECT_GT(r.psnr_luma, 60.0);  // raw and run blocks are lossless
  }
}

}  // namespace
