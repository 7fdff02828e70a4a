// The encoder's distortion kernels: every processor path gives exactly the
// plain results on random blocks at odd offsets and pitches, and never
// touches its inputs.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "platform/cpu.h"
#include "writer/encode_kernels.h"

namespace {

std::vector<const EncodeKernels*> VectorPaths() {
  std::vector<const EncodeKernels*> paths;
#if defined(VORN_X86)
  if (CpuFeatures() & CPU_SSE2) paths.push_back(EncodeKernelsSse2());
#endif
  return paths;
}

TEST(EncodeKernels, VectorPathsMatchPlain) {
  const EncodeKernels* plain = EncodeKernelsPlain();
  std::mt19937 random(99);
  for (const EncodeKernels* path : VectorPaths()) {
    for (int round = 0; round < 500; round++) {
      uint32_t pitch_a = 8 + random() % 57, pitch_b = 8 + random() % 57;
      // Room for an 8x8 block or a 256-sample run at an offset up to 16.
      std::vector<uint8_t> a(std::max(pitch_a * 8, 256u) + 32), b(std::max(pitch_b * 8, 256u) + 32);
      // Extremes often: 0 and 255 are where widening and saturation go wrong.
      for (uint8_t& v : a) v = random() % 4 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
      for (uint8_t& v : b) v = random() % 4 == 0 ? (random() % 2) * 255 : static_cast<uint8_t>(random());
      std::vector<uint8_t> a_copy = a, b_copy = b;
      uint32_t off_a = random() % 17, off_b = random() % 17;
      EXPECT_EQ(path->sad8x8(a.data() + off_a, pitch_a, b.data() + off_b, pitch_b),
                plain->sad8x8(a.data() + off_a, pitch_a, b.data() + off_b, pitch_b));
      uint32_t count = 16 * (1 + random() % 16);
      EXPECT_EQ(path->sse(a.data() + off_a, b.data() + off_b, count),
                plain->sse(a.data() + off_a, b.data() + off_b, count));
      EXPECT_EQ(a, a_copy);
      EXPECT_EQ(b, b_copy);
    }
  }
}

TEST(EncodeKernels, LargestDifferencesDoNotOverflow) {
  std::vector<uint8_t> zeros(256, 0), full(256, 255);
  for (const EncodeKernels* k : {EncodeKernelsPlain(), EncodeKernelsBest()}) {
    EXPECT_EQ(k->sad8x8(zeros.data(), 8, full.data(), 8), 64u * 255);
    EXPECT_EQ(k->sse(zeros.data(), full.data(), 256), 256u * 255 * 255);
    EXPECT_EQ(k->sse(full.data(), zeros.data(), 256), 256u * 255 * 255);
  }
}

TEST(EncodeKernels, MaskSelectsThePlainPath) {
  uint32_t old = CpuSetMask(0);
  EXPECT_EQ(EncodeKernelsBest(), EncodeKernelsPlain());
  CpuSetMask(old);
}

}  // namespace
