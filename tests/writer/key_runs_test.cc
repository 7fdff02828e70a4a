// The fastest speed codes pictures that nothing predicts (grain, noise) as
// key frames for a few frames without trying the inter coding first; such
// a run must end once the pictures can be predicted again.
#include <gtest/gtest.h>

#include <random>

#include "writer_test_util.h"

namespace {

constexpr uint32_t kWidth = 96, kHeight = 64;

void Noise(std::mt19937* random, VideoPicture* picture) {
  VideoPictureInit(picture, kWidth, kHeight, false);
  std::uniform_int_distribution<int> sample(0, 255);
  for (uint8_t& s : picture->y) s = static_cast<uint8_t>(sample(*random));
  for (uint8_t& s : picture->u) s = static_cast<uint8_t>(sample(*random));
  for (uint8_t& s : picture->v) s = static_cast<uint8_t>(sample(*random));
}

void Still(VideoPicture* picture) {
  VideoPictureInit(picture, kWidth, kHeight, false);
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) picture->y[size_t{y} * kWidth + x] = uint8_t(40 + x + y);
  std::fill(picture->u.begin(), picture->u.end(), 100);
  std::fill(picture->v.begin(), picture->v.end(), 150);
}

TEST(KeyRuns, NoiseIsCodedAsKeyFramesAndTheRunEndsOnAStillPicture) {
  std::mt19937 random(5);
  std::vector<bool> keys =
      KeyFramesOf(KeyDecisionOptions(60, 9), 24, [&](uint32_t k, VideoPicture* picture) {
        if (k < 10)
          Noise(&random, picture);
        else
          Still(picture);
      });
  ASSERT_EQ(keys.size(), 24u);
  uint32_t noise_keys = 0;
  for (uint32_t k = 0; k < 10; k++) noise_keys += keys[k];
  EXPECT_GE(noise_keys, 8u) << "noise predicts nothing";
  EXPECT_TRUE(keys[10]) << "the cut to the still picture";
  // At most the trusted run carries on into the still picture.
  for (uint32_t k = 14; k < 24; k++) EXPECT_FALSE(keys[k]) << "still frame " << k;
}

}  // namespace
