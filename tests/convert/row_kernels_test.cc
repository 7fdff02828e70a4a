// Every vector row kernel against its plain twin: random planes, odd sizes
// and starts, one and two rows, guard bytes around each destination line.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "convert/colour_tables.h"
#include "convert/copy_to_buffer.h"
#include "convert/families.h"
#include "platform/cpu.h"
#include "support/kernel_levels.h"

#if defined(VORN_X86)
namespace {

constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuard = 0x5C;

// The group converters of one level as the copy drivers see them: colour,
// doubled colour, grey, doubled grey.
struct LevelSet {
  const char* name;
  RowKernels kernels;
  RowsConverter Get(int family, int variant) const {
    static constexpr GroupKind kKinds[4] = {GROUP_COLOUR_EVEN, GROUP_X2_EVEN, GROUP_GREY,
                                            GROUP_X2_GREY};
    return kernels.families[family].groups[kKinds[variant]].convert;
  }
};

LevelSet SetFor(const KernelLevel& level) {
  LevelSet set{level.name, {}};
  RowKernelsInit(&set.kernels, level.flags);
  return set;
}

uint32_t FamilyBytes(int family) {
  switch (family) {
    case FAMILY_32:
    case FAMILY_32A:
    case FAMILY_32R:
    case FAMILY_32RA:
      return 4;
    case FAMILY_24:
    case FAMILY_24R:
      return 3;
    default:
      return 2;
  }
}

// The 16-bit format whose tables a family is checked with.
std::vector<uint32_t> FormatsFor(int family) {
  if (family == FAMILY_16) return {7, 8, 9, 10, 11, 12};
  if (family == FAMILY_4444) return {7};
  if (family == FAMILY_5551) return {8};
  return {3};
}

struct Planes {
  std::vector<uint8_t> luma[2], alpha[2], u, v;
  explicit Planes(std::mt19937& rng, size_t width) {
    auto fill = [&](std::vector<uint8_t>& p, size_t n) {
      p.resize(n);
      for (auto& b : p) b = uint8_t(rng());
    };
    for (int r = 0; r < 2; ++r) fill(luma[r], width), fill(alpha[r], width);
    fill(u, width / 2 + 1);
    fill(v, width / 2 + 1);
  }
};

// Runs one kernel into fresh guarded lines; returns both lines with guards.
std::vector<uint8_t> RunKernel(RowsConverter kernel, const Planes& p, uint32_t start, uint32_t rows,
                               uint32_t count, uint32_t out_bytes) {
  size_t line = kGuardBytes * 2 + size_t{count} * out_bytes;
  std::vector<uint8_t> out(2 * line, kGuard);
  RowPairContext c = {};
  for (int r = 0; r < 2; ++r) {
    c.dest[r] = out.data() + r * line + kGuardBytes;
    c.luma[r] = p.luma[r].data() + start;
    c.alpha[r] = p.alpha[r].data() + start;
  }
  c.u = p.u.data() + start / 2;
  c.v = p.v.data() + start / 2;
  kernel(c, rows, start & 1, count);
  return out;
}

TEST(ConvertRowKernels, VectorKernelsEqualPlainOnRandomRows) {
  const LevelSet plain = SetFor(KernelLevels()[0]);
  std::mt19937 rng(42);
  for (const KernelLevel& level : VectorLevels()) {
    const LevelSet set = SetFor(level);
    for (int family = 0; family < FAMILY_COUNT; ++family) {
      for (uint32_t format : FormatsFor(family)) {
        ConvertPrepareTables(int32_t(format));
        for (int variant = 0; variant < 4; ++variant) {
          RowsConverter v = set.Get(family, variant);
          RowsConverter ref = plain.Get(family, variant);
          uint32_t out_bytes = FamilyBytes(family) * (variant & 1 ? 2 : 1);
          for (int trial = 0; trial < 60; ++trial) {
            uint32_t count = trial < 40 ? uint32_t(rng() % 70) : uint32_t(rng() % 300);
            uint32_t start = uint32_t(rng() % 9);
            uint32_t rows = 1 + rng() % 2;
            Planes planes(rng, start + count + 1);
            Planes before = planes;
            auto want = RunKernel(ref, planes, start, rows, count, out_bytes);
            auto got = RunKernel(v, planes, start, rows, count, out_bytes);
            ASSERT_EQ(got, want) << set.name << " family " << family << " format " << format
                                 << " variant " << variant << " count " << count << " start "
                                 << start << " rows " << rows;
            ASSERT_EQ(planes.luma[0], before.luma[0]);
            ASSERT_EQ(planes.u, before.u);
          }
        }
      }
    }
  }
}

// Every luma value under every chroma pair: the vector colour arithmetic is
// the table path's, with no exception above luma 235.
TEST(ConvertRowKernels, VectorColourIsExactForEveryInput) {
  const LevelSet plain = SetFor(KernelLevels()[0]);
  ConvertPrepareTables(COPY_RGB565);
  for (const KernelLevel& level : VectorLevels()) {
    const LevelSet set = SetFor(level);
    for (int family : {FAMILY_32, FAMILY_16}) {
      std::mt19937 rng(7);
      Planes p(rng, 512);
      for (int i = 0; i < 256; ++i) p.u[i] = uint8_t(i);
      for (uint32_t v = 0; v < 256; ++v) {
        std::fill(p.v.begin(), p.v.end(), uint8_t(v));
        for (uint32_t shift = 0; shift < 128; shift += 1) {
          for (int i = 0; i < 512; ++i) {
            p.luma[0][i] = uint8_t(i + 2 * shift);
            p.luma[1][i] = uint8_t(i + 2 * shift + 1);
          }
          uint32_t bytes = FamilyBytes(family);
          auto want = RunKernel(plain.Get(family, 0), p, 0, 2, 512, bytes);
          auto got = RunKernel(set.Get(family, 0), p, 0, 2, 512, bytes);
          ASSERT_EQ(got, want) << set.name << " family " << family << " v " << v;
        }
      }
    }
    // Grey over every luma value.
    std::mt19937 rng(8);
    Planes p(rng, 256);
    for (int i = 0; i < 256; ++i) p.luma[0][i] = p.luma[1][i] = uint8_t(i);
    auto want = RunKernel(plain.Get(FAMILY_32, 2), p, 0, 2, 256, 4);
    auto got = RunKernel(set.Get(FAMILY_32, 2), p, 0, 2, 256, 4);
    EXPECT_EQ(got, want) << set.name;
  }
}

}  // namespace
#endif
