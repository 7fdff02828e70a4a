// The encoder's distortion kernels: every processor level gives exactly the
// plain results on random blocks at odd offsets and pitches, and never
// touches its inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "platform/cpu.h"
#include "support/kernel_levels.h"
#include "writer/encode_kernels.h"

namespace {

EncodeKernels KernelsAt(uint32_t cpu_flags) {
  EncodeKernels k;
  EncodeKernelsInit(&k, cpu_flags);
  return k;
}

class EncodeLevels : public ::testing::TestWithParam<KernelLevel> {};

TEST_P(EncodeLevels, MatchPlain) {
  const EncodeKernels plain = KernelsAt(CPU_LEVEL_C);
  const EncodeKernels level = KernelsAt(GetParam().flags);
  std::mt19937 random(99);
  for (int round = 0; round < 500; round++) {
    uint32_t pitch_a = 8 + random() % 57, pitch_b = 8 + random() % 57;
    // Room for an 8x8 block or a 256-sample run at an offset up to 16.
    std::vector<uint8_t> a(std::max(pitch_a * 8, 256u) + 32), b(std::max(pitch_b * 8, 256u) + 32);
    // Extremes often: 0 and 255 are where widening and saturation go wrong.
    for (uint8_t& v : a) v = random() % 4 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
    for (uint8_t& v : b) v = random() % 4 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
    std::vector<uint8_t> a_copy = a, b_copy = b;
    uint32_t off_a = random() % 17, off_b = random() % 17;
    EXPECT_EQ(level.sad8x8(a.data() + off_a, pitch_a, b.data() + off_b, pitch_b),
              plain.sad8x8(a.data() + off_a, pitch_a, b.data() + off_b, pitch_b));
    uint32_t count = 16 * (1 + random() % 16);
    EXPECT_EQ(level.sse(a.data() + off_a, b.data() + off_b, count),
              plain.sse(a.data() + off_a, b.data() + off_b, count));
    EXPECT_EQ(a, a_copy);
    EXPECT_EQ(b, b_copy);
  }
}

INSTANTIATE_TEST_SUITE_P(Encode, EncodeLevels, ::testing::ValuesIn(VectorLevels()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EncodeKernels, LargestDifferencesDoNotOverflow) {
  std::vector<uint8_t> zeros(256, 0), full(256, 255);
  for (const KernelLevel& level : KernelLevels()) {
    const EncodeKernels k = KernelsAt(level.flags);
    EXPECT_EQ(k.sad8x8(zeros.data(), 8, full.data(), 8), 64u * 255) << level.name;
    EXPECT_EQ(k.sse(zeros.data(), full.data(), 256), 256u * 255 * 255) << level.name;
    EXPECT_EQ(k.sse(full.data(), zeros.data(), 256), 256u * 255 * 255) << level.name;
  }
}

}  // namespace
