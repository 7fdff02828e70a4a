// The fastest speed codes pictures that nothing predicts (grain, noise) as
// key frames for a few frames without trying the inter coding first; such
// a run must end once the pictures can be predicted again.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>

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

// Noise over most of the picture; in the rest a detailed texture moving by
// fractions of a sample.
void Mixed(uint32_t k, VideoPicture* picture, uint32_t texture_columns, double speed,
           int noise_level) {
  VideoPictureInit(picture, kWidth, kHeight, false);
  std::mt19937 random(k);
  std::uniform_int_distribution<int> sample(0, 255);
  std::uniform_int_distribution<int> noise(-noise_level, noise_level);
  const double shift = speed * k;
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) {
      double u = x + shift, v = y + 0.37 * shift;
      double value =
          128 + 60 * std::sin(u * 0.9) * std::cos(v * 0.7) + 40 * std::sin((u + v) * 0.31);
      int s = x < texture_columns ? std::clamp<int>(int(value) + noise(random), 0, 255)
                                  : sample(random);
      picture->y[size_t{y} * kWidth + x] = uint8_t(s);
    }
  for (uint8_t& s : picture->u) s = static_cast<uint8_t>(sample(random));
  for (uint8_t& s : picture->v) s = static_cast<uint8_t>(sample(random));
}

// Coding a frame both ways costs twice the time. After the key coding has
// won twice in a row, the next frames go straight to it, also where it won
// only by the error it keeps out of later frames and not by its bits (a
// picture mostly of noise, the rest a texture whose copies lose detail).
TEST(KeyRuns, TwoKeyWinsInARowStartARunWhateverWonThem) {
  for (uint32_t texture_columns : {16u, 32u})
    for (int noise_level : {0, 8}) {
      std::vector<VideoFrameStats> frames =
          FrameStatsOf(KeyDecisionOptions(60, 9), 20, [&](uint32_t k, VideoPicture* picture) {
            Mixed(k, picture, texture_columns, 1.3, noise_level);
          });
      ASSERT_EQ(frames.size(), 20u);
      uint32_t wins_in_a_row = 0, twice = 0;
      for (size_t k = 0; k < frames.size(); k++) {
        twice += frames[k].coded_twice;
        EXPECT_FALSE(wins_in_a_row >= 2 && frames[k].coded_twice)
            << "frame " << k << " tried again after two key wins (texture " << texture_columns
            << " columns, noise " << noise_level << ")";
        wins_in_a_row = frames[k].coded_twice && frames[k].key ? wins_in_a_row + 1 : 0;
      }
      EXPECT_LE(twice, 8u) << "a third of the frames at most";
    }
}

}  // namespace
