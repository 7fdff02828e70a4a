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
    EXPECT_GT(r.psnr_luma, 30.0);
    EXPECT_GT(r.psnr_chroma, 30.0);
    EXPECT_EQ(r.key_frames >= 1, true);
    EXPECT_TRUE(r.frames[0].key);
  }
}

}  // namespace
