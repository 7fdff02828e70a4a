// Random shapes of clips: picture sizes from 1 to 70 pixels each way, every
// version, alpha and grey, random subsets of the block types, all scenes.
// Whatever the mix, the decoder must rebuild the encoder's pictures.
#include <gtest/gtest.h>

#include <random>

#include "writer_test_util.h"

namespace {

TEST(EncoderRandomClips, DecoderAlwaysAgreesWithTheEncoder) {
  std::mt19937 random(20261207);
  constexpr SynthScene kScenes[] = {SynthScene::kDemo, SynthScene::kNatural, SynthScene::kGradient,
                                    SynthScene::kNoise, SynthScene::kShapes};
  for (int round = 0; round < 40; round++) {
    VideoEncoderOptions o;
    o.width = 1 + random() % 70;
    o.height = 1 + random() % 70;
    o.version = static_cast<char>('f' + random() % 4);
    o.alpha = random() % 3 == 0;
    o.grey = random() % 4 == 0;
    o.quality = 1 + static_cast<int>(random() % 100);
    o.keyint = random() % 3;
    // Half the rounds pick block types at random (an empty pick still codes).
    if (random() % 2) o.allowed_types = random() & kAllBlockTypes;
    if (random() % 2) o.allowed_sub_types = random() & 0x368;
    SynthScene scene = kScenes[random() % 5];
    SCOPED_TRACE(testing::Message() << "round " << round << ": " << o.width << "x" << o.height
                                    << " version " << o.version << " alpha " << o.alpha
                                    << " grey " << o.grey << " quality " << o.quality
                                    << " types 0x" << std::hex << o.allowed_types << " subs 0x"
                                    << o.allowed_sub_types);
    ClipResult r = EncodeClip(o, scene, 3, 2, kScenes[random() % 5]);
    ASSERT_EQ(r.frames.size(), 3u);
    EXPECT_EQ(r.mismatches, 0u);
    EXPECT_TRUE(r.frames[0].key);
  }
}

}  // namespace
