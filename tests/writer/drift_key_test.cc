// When predicted frames get a key frame of their own: a pan by fractions of
// a sample costs every copy about the same error, which a key frame removes
// for one frame only, so it must not bring one; error that copies of copies
// pile up still does.
#include <gtest/gtest.h>

#include <cmath>

#include "writer_test_util.h"

namespace {

constexpr uint32_t kWidth = 96, kHeight = 64;

// A smooth, detailed picture (sums of slanted waves) seen through a window
// that has moved `shift` samples to the right; `gain` scales its contrast.
void Render(double shift, double gain, VideoPicture* picture) {
  VideoPictureInit(picture, kWidth, kHeight, false);
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) {
      double u = x + shift;
      double v = 128 + gain * (40 * std::sin(u * 0.37 + y * 0.11) + 30 * std::sin(u * 0.13 - y * 0.29) +
                               20 * std::cos((u + y) * 0.61));
      picture->y[size_t{y} * kWidth + x] = static_cast<uint8_t>(std::lround(std::clamp(v, 0.0, 255.0)));
    }
  std::fill(picture->u.begin(), picture->u.end(), 128);
  std::fill(picture->v.begin(), picture->v.end(), 128);
}

struct Motion {
  const char* name;
  double step;        // samples the window moves per frame
  double gain_step;   // contrast change per frame
  int quality;
  bool expect_refresh;
};

class DriftKeys : public testing::TestWithParam<Motion> {};

TEST_P(DriftKeys, KeyFramesOnlyWhereCopiesPileUpError) {
  const Motion& m = GetParam();
  std::vector<bool> keys =
      KeyFramesOf(KeyDecisionOptions(m.quality, 5), 24, [&](uint32_t k, VideoPicture* picture) {
        Render(m.step * k, 1.0 + m.gain_step * k, picture);
      });
  uint32_t refreshes = 0;
  for (size_t k = 1; k < keys.size(); k++) refreshes += keys[k];
  if (m.expect_refresh)
    EXPECT_GT(refreshes, 0u);
  else
    EXPECT_EQ(refreshes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Motions, DriftKeys,
                         testing::Values(Motion{"FractionalPan", 0.45, 0, 70, false},
                                         Motion{"FadingContrast", 0, -0.03, 30, true}),
                         [](const testing::TestParamInfo<Motion>& info) { return info.param.name; });

}  // namespace
