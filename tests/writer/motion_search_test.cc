// Motion search: on textured pictures the sum of differences has a minimum
// at the true offset and no slope leading to it, so each search mode must
// find offsets that stepwise refinement from the predictors cannot reach.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "writer/encode_motion.h"
#include "support/machine_encode_kernels.h"

namespace {

constexpr uint32_t kSize = 64;

const EncodeKernels* Kernels() { return MachineEncodeKernels(); }

struct Planes {
  std::vector<uint8_t> prev, source;
};

// A noise picture and a source whose block at (24, 24) is the picture's
// block displaced by `shift`.
Planes Shifted(MotionVector shift) {
  Planes p;
  std::mt19937 random(11);
  p.prev.resize(kSize * kSize);
  for (uint8_t& v : p.prev) v = static_cast<uint8_t>(random());
  p.source.assign(kSize * kSize, 0);
  for (uint32_t y = 0; y < 8; y++)
    for (uint32_t x = 0; x < 8; x++)
      p.source[(24 + y) * kSize + 24 + x] = p.prev[(24 + y + shift.y) * kSize + 24 + x + shift.x];
  return p;
}

struct ModeReach {
  int mode;
  int reach;  // every offset this far from the predictor is found
};

class MotionSearchModes : public testing::TestWithParam<ModeReach> {};

TEST_P(MotionSearchModes, FindsTextureOffsetsWithoutASlope) {
  const ModeReach m = GetParam();
  for (int dy = -m.reach; dy <= m.reach; dy++)
    for (int dx = -m.reach; dx <= m.reach; dx++) {
      MotionVector shift{static_cast<int8_t>(dx), static_cast<int8_t>(dy)};
      Planes p = Shifted(shift);
      MotionSearchArgs args{p.source.data() + 24 * kSize + 24, kSize, p.prev.data(), kSize,
                            24, 24, kSize, kSize, nullptr, 0, m.mode};
      args.kernels = Kernels();
      uint32_t sad = 1;
      MotionVector found = MotionSearch(args, &sad);
      EXPECT_EQ(sad, 0u) << dx << "," << dy;
      EXPECT_EQ(found.x, dx);
      EXPECT_EQ(found.y, dy);
    }
}

// Full search reaches the whole range that keeps the block in the plane;
// the grid modes every offset near the best start; the predictor mode with
// its square two samples each way.
INSTANTIATE_TEST_SUITE_P(Modes, MotionSearchModes,
                         testing::Values(ModeReach{0, 15}, ModeReach{1, 3}, ModeReach{2, 2}));

TEST(MotionSearch, OffsetsKeepTheBlockInsideThePlane) {
  Planes p = Shifted({});
  // At the top-left corner no offset may reach above or left of the plane.
  MotionSearchArgs args{p.prev.data(), kSize, p.prev.data(), kSize, 0, 0, kSize, kSize,
                        nullptr, 0, 0};
  args.kernels = Kernels();
  uint32_t sad;
  MotionVector found = MotionSearch(args, &sad);
  EXPECT_GE(found.x, 0);
  EXPECT_GE(found.y, 0);
  EXPECT_EQ(sad, 0u);
}

}  // namespace
