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

#if defined(VORN_X86)
namespace {

constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuard = 0x5C;

struct VectorSet {
  const char* name;
  uint32_t needs;
  void (*fill)(FamilyKernels out[FAMILY_COUNT]);
};
const VectorSet kVectorSets[] = {{"sse2", CPU_SSE2, Sse2Kernels}, {"avx2", CPU_AVX2, Avx2Kernels}};

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
  FamilyKernels plain[FAMILY_COUNT];
  PlainKernels(plain);
  std::mt19937 rng(42);
  for (const VectorSet& set : kVectorSets) {
    if ((CpuFeatures() & set.needs) != set.needs) continue;
    FamilyKernels vec[FAMILY_COUNT] = {};
    set.fill(vec);
    for (int family = 0; family < FAMILY_COUNT; ++family) {
      for (uint32_t format : FormatsFor(family)) {
        ConvertPrepareTables(int32_t(format));
        for (int variant = 0; variant < 4; ++variant) {
          RowsConverter v = (&vec[family].colour)[variant];
          RowsConverter ref = (&plain[family].colour)[variant];
          if (!v) continue;
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
  FamilyKernels plain[FAMILY_COUNT];
  PlainKernels(plain);
  ConvertPrepareTables(COPY_RGB565);
  for (const VectorSet& set : kVectorSets) {
    if ((CpuFeatures() & set.needs) != set.needs) continue;
    FamilyKernels vec[FAMILY_COUNT] = {};
    set.fill(vec);
    for (int family : {FAMILY_32, FAMILY_16}) {
      if (!vec[family].colour) continue;
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
          auto want = RunKernel(plain[family].colour, p, 0, 2, 512, bytes);
          auto got = RunKernel(vec[family].colour, p, 0, 2, 512, bytes);
          ASSERT_EQ(got, want) << set.name << " family " << family << " v " << v;
        }
      }
    }
    // Grey over every luma value.
    if (!vec[FAMILY_32].grey) continue;
    std::mt19937 rng(8);
    Planes p(rng, 256);
    for (int i = 0; i < 256; ++i) p.luma[0][i] = p.luma[1][i] = uint8_t(i);
    auto want = RunKernel(plain[FAMILY_32].grey, p, 0, 2, 256, 4);
    auto got = RunKernel(vec[FAMILY_32].grey, p, 0, 2, 256, 4);
    EXPECT_EQ(got, want) << set.name;
  }
}

}  // namespace
#endif
