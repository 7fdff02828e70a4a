// Encoder round trips: every clip is decoded frame by frame with the
// project's video decoder, which must rebuild exactly the encoder's own
// reconstruction (otherwise prediction drifts), and the pictures must stay
// close to what went in.
#include <gtest/gtest.h>

#include "writer_test_util.h"

namespace {

VideoEncoderOptions Options(uint32_t w, uint32_t h, char version = 'i', int quality = 75) {
  VideoEncoderOptions o;
  o.width = w;
  o.height = h;
  o.version = version;
  o.quality = quality;
  return o;
}

TEST(EncoderRoundTrip, DecoderRebuildsTheEncodersPicturesInEveryVersion) {
  for (char version : {'f', 'g', 'h', 'i'}) {
    SCOPED_TRACE(version);
    ClipResult r = EncodeClip(Options(48, 32, version), SynthScene::kDemo, 4);
    ASSERT_EQ(r.frames.size(), 4u);
    EXPECT_EQ(r.mismatches, 0u);
    EXPECT_GT(r.psnr_luma, 32.0);
    EXPECT_GT(r.psnr_chroma, 32.0);
    EXPECT_TRUE(r.frames[0].key);
  }
}

// Sizes that are not multiples of 8 or 16 leave partial blocks, spare
// columns and lines in the frame buffer, and odd block counts where doubled
// areas must not start.
TEST(EncoderRoundTrip, OddSizesAlphaAndGrey) {
  struct Case {
    uint32_t w, h;
    bool alpha, grey;
    char version;
  } cases[] = {{1, 1, false, false, 'i'},  {17, 9, false, false, 'i'}, {33, 31, true, false, 'i'},
               {40, 24, true, false, 'h'}, {23, 41, false, true, 'i'}, {24, 24, true, true, 'f'},
               {72, 8, false, false, 'g'}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " alpha " << c.alpha << " grey "
                                    << c.grey << " version " << c.version);
    VideoEncoderOptions o = Options(c.w, c.h, c.version);
    o.alpha = c.alpha;
    o.grey = c.grey;
    ClipResult r = EncodeClip(o, SynthScene::kNatural, 3);
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.mismatches, 0u);
    EXPECT_GT(r.psnr_luma, 30.0);
    if (c.alpha) {
      EXPECT_GT(r.psnr_alpha, 30.0);
    }
    if (c.grey) {
      EXPECT_EQ(r.frames[0].plane_bits[1], 0u);
    }
  }
}

// More quality must buy a better picture for more bytes, on content that
// needs transform coding (natural) and content that does not (shapes).
TEST(EncoderRoundTrip, PsnrAndSizeRiseWithQuality) {
  for (SynthScene scene : {SynthScene::kNatural, SynthScene::kDemo}) {
    double last_psnr = 0;
    uint64_t last_bytes = 0;
    for (int quality : {30, 60, 90}) {
      SCOPED_TRACE(quality);
      ClipResult r = EncodeClip(Options(64, 48, 'i', quality), scene, 4);
      EXPECT_EQ(r.mismatches, 0u);
      EXPECT_GT(r.psnr_luma, last_psnr);
      EXPECT_GE(r.bytes, last_bytes);
      last_psnr = r.psnr_luma;
      last_bytes = r.bytes;
    }
  }
}

// Floors: at the default quality the luma error stays below what the eye
// notices on moving pictures (about 35 dB); at quality 100 the coding is
// near lossless.
TEST(EncoderRoundTrip, QualityFloors) {
  ClipResult normal = EncodeClip(Options(64, 48, 'i', 75), SynthScene::kNatural, 4);
  EXPECT_GT(normal.psnr_luma, 35.0);
  EXPECT_GT(normal.psnr_chroma, 35.0);
  ClipResult best = EncodeClip(Options(64, 48, 'i', 100), SynthScene::kNatural, 4);
  EXPECT_GT(best.psnr_luma, 45.0);
}

TEST(EncoderRoundTrip, KeyFramesAtIntervalsAndSceneCuts) {
  VideoEncoderOptions o = Options(48, 32);
  o.keyint = 3;
  ClipResult r = EncodeClip(o, SynthScene::kNatural, 7);
  ASSERT_EQ(r.frames.size(), 7u);
  for (size_t k = 0; k < r.frames.size(); k++) {
    SCOPED_TRACE(k);
    if (k % 3 == 0) {
      EXPECT_TRUE(r.frames[k].key);
    }
  }
  EXPECT_EQ(r.mismatches, 0u);

  // Slow motion, then a cut to unrelated noise: the frame at the cut is a
  // key frame although the interval is long.
  o.keyint = 100;
  ClipResult cut = EncodeClip(o, SynthScene::kNatural, 6, 3, SynthScene::kDemo);
  ASSERT_EQ(cut.frames.size(), 6u);
  EXPECT_FALSE(cut.frames[1].key);
  EXPECT_TRUE(cut.frames[3].key);
  EXPECT_EQ(cut.mismatches, 0u);
}

// A key frame must not depend on the previous frame buffer: the harness
// fills it with a pattern, so any block that read it would show up as a
// mismatch or as a bad picture.
TEST(EncoderRoundTrip, KeyFramesReadNothingOfThePreviousFrame) {
  VideoEncoderOptions o = Options(40, 40);
  o.keyint = 1;
  ClipResult r = EncodeClip(o, SynthScene::kShapes, 3);
  for (const VideoFrameStats& f : r.frames) {
    EXPECT_TRUE(f.key);
    EXPECT_EQ(f.block_types[0] + f.block_types[2] + f.block_types[4] + f.block_types[7], 0u);
  }
  EXPECT_EQ(r.mismatches, 0u);
}

}  // namespace
