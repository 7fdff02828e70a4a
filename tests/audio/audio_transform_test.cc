// The inverse transforms against a double-precision evaluation of their
// definitions, the identities of single spectral lines, table reuse, and the
// vector kernels against the plain ones.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "audio/audio_transform.h"
#include "platform/cpu.h"
#include "support/kernel_levels.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct TransformArea {
  explicit TransformArea(uint32_t n) : table(AudioTransformTableFloats(n)), work(AUDIO_TRANSFORM_WORK_WORDS, 0) {}
  std::vector<float> table;
  std::vector<uint32_t> work;
};

std::vector<double> DirectRealDft(const std::vector<float>& in) {
  const size_t n = in.size();
  std::vector<double> out(n);
  for (size_t t = 0; t < n; t++) {
    double sum = (double(in[0]) + double(in[1]) * ((t & 1) ? -1.0 : 1.0)) / 2;
    for (size_t k = 1; k < n / 2; k++) {
      const double angle = 2 * kPi * double((k * t) % n) / double(n);
      sum += in[2 * k] * std::cos(angle) + in[2 * k + 1] * std::sin(angle);
    }
    out[t] = sum;
  }
  return out;
}

std::vector<double> DirectDct(const std::vector<float>& in) {
  const size_t n = in.size();
  std::vector<double> out(n);
  for (size_t t = 0; t < n; t++) {
    double sum = 0;
    // cos(pi k (2t + 1) / (2n)), the angle reduced modulo 4n exactly.
    for (size_t k = 0; k < n; k++) sum += in[k] * std::cos(kPi * double((k * (2 * t + 1)) % (4 * n)) / double(2 * n));
    out[t] = sum;
  }
  return out;
}

std::vector<float> RandomValues(size_t n, uint32_t seed, float range) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-range, range);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

// Largest error relative to the root-mean-square size of the exact result.
double RelativeError(const std::vector<float>& got, const std::vector<double>& want) {
  double err = 0, power = 0;
  for (size_t i = 0; i < got.size(); i++) {
    err = std::max(err, std::fabs(double(got[i]) - want[i]));
    power += want[i] * want[i];
  }
  return err / std::sqrt(power / double(got.size()) + 1e-30);
}

class TransformSizes : public ::testing::TestWithParam<uint32_t> {};

AudioFftKernels KernelsAt(uint32_t cpu_flags) {
  AudioFftKernels k;
  AudioFftKernelsInit(&k, cpu_flags);
  return k;
}

// Each inverse transform against its definition, at every level and size.
struct Transform {
  const char* name;
  void (*inverse)(uint32_t n, float* data, uint32_t* work, float* table,
                  const AudioFftKernels& kernels);
  std::vector<double> (*direct)(const std::vector<float>& in);
  uint32_t seed_offset;  // of the random input, seeded n + this
};
void PrintTo(const Transform& t, std::ostream* os) { *os << t.name; }

const Transform kTransforms[] = {
    {"RealDft", InverseRealDft, DirectRealDft, 0},
    {"Dct", InverseDct, DirectDct, 1},
};

class TransformDefinitions
    : public ::testing::TestWithParam<std::tuple<Transform, uint32_t>> {};

TEST_P(TransformDefinitions, InverseMatchesDefinition) {
  const auto& [transform, n] = GetParam();
  const std::vector<float> input = RandomValues(n, n + transform.seed_offset, 1000.0f);
  const std::vector<double> want = transform.direct(input);
  for (const KernelLevel& level : KernelLevels()) {
    const AudioFftKernels kernels = KernelsAt(level.flags);
    TransformArea area(n);
    std::vector<float> data = input;
    transform.inverse(n, data.data(), area.work.data(), area.table.data(), kernels);
    EXPECT_LT(RelativeError(data, want), 2e-6 * std::log2(double(n))) << level.name;
  }
}

TEST_P(TransformSizes, SingleLinesGiveTheirWaves) {
  const uint32_t n = GetParam();
  TransformArea area(n);
  std::vector<float> data(n, 0.0f);
  data[0] = 2.0f;  // R(0) alone: 1 everywhere
  InverseRealDft(n, data.data(), area.work.data(), area.table.data(), AudioFftKernelsPlain());
  for (uint32_t t = 0; t < n; t++) ASSERT_NEAR(data[t], 1.0f, 1e-5) << t;

  std::fill(data.begin(), data.end(), 0.0f);
  data[1] = 2.0f;  // R(N/2) alone: +1, -1, ...
  InverseRealDft(n, data.data(), area.work.data(), area.table.data(), AudioFftKernelsPlain());
  for (uint32_t t = 0; t < n; t++) ASSERT_NEAR(data[t], (t & 1) ? -1.0f : 1.0f, 1e-5) << t;

  TransformArea dct_area(n);
  std::fill(data.begin(), data.end(), 0.0f);
  data[0] = 1.0f;  // X(0) alone, weight 1: 1 everywhere
  InverseDct(n, data.data(), dct_area.work.data(), dct_area.table.data(), AudioFftKernelsPlain());
  for (uint32_t t = 0; t < n; t++) ASSERT_NEAR(data[t], 1.0f, 1e-5) << t;

  std::fill(data.begin(), data.end(), 0.0f);
  data[1] = 1.0f;  // X(1) alone: cos(pi (t + 1/2) / N)
  InverseDct(n, data.data(), dct_area.work.data(), dct_area.table.data(), AudioFftKernelsPlain());
  for (uint32_t t = 0; t < n; t++) ASSERT_NEAR(data[t], std::cos(kPi * (t + 0.5) / n), 1e-5) << t;
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, TransformSizes,
                         ::testing::Values(4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u));

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, TransformDefinitions,
                         ::testing::Combine(::testing::ValuesIn(kTransforms), ::testing::Values(4u, 8u, 16u, 32u, 64u, 128u, 256u, 512u, 1024u, 2048u, 4096u)),
                         [](const ::testing::TestParamInfo<std::tuple<Transform, uint32_t>>& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  std::to_string(std::get<1>(info.param));
                         });

TEST(TransformTables, BuiltOnceAndReused) {
  for (int dct = 0; dct < 2; dct++) {
    TransformArea area(1024);
    std::vector<float> data = RandomValues(1024, 7, 1.0f);
    EXPECT_EQ(area.work[0], 0u);
    for (int call = 0; call < 3; call++) {
      if (dct) {
        InverseDct(1024, data.data(), area.work.data(), area.table.data(), AudioFftKernelsPlain());
      } else {
        InverseRealDft(1024, data.data(), area.work.data(), area.table.data(), AudioFftKernelsPlain());
      }
    }
    EXPECT_EQ(area.work[1], 1u) << "tables rebuilt, dct=" << dct;
    EXPECT_EQ(area.work[0], AudioTransformTableFloats(1024));
  }
}

// ---- Vector kernels against the plain ones ----------------------------------------

class AudioLevels : public ::testing::TestWithParam<KernelLevel> {};

TEST_P(AudioLevels, Radix4PassesMatchPlain) {
  {
    const KernelLevel& level = GetParam();
    const AudioFftKernels vec = KernelsAt(level.flags);
    const AudioFftKernels& plain = AudioFftKernelsPlain();
    for (uint32_t m : {4u, 8u, 16u, 64u, 256u, 1024u, 2048u}) {
      for (uint32_t len = m, s = 1; len >= 4; len /= 4, s *= 4) {
        const std::vector<float> x = RandomValues(2 * m + 1, m + len, 10.0f);  // +1: odd offset
        const std::vector<float> tw = RandomValues(6 * (len / 4) + 1, len, 1.0f);
        std::vector<float> y1(2 * m + 16, 7.0f), y2(2 * m + 16, 7.0f);
        plain.radix4(x.data() + 1, y1.data() + 8, len, s, tw.data() + 1);
        vec.radix4(x.data() + 1, y2.data() + 8, len, s, tw.data() + 1);
        // Same operations in the same order: equal to the last bit, which
        // keeps decoded sound identical on every processor.
        ASSERT_EQ(y1, y2) << level.name << " m=" << m << " len=" << len;
      }
      if (m >= 2) {
        const std::vector<float> x = RandomValues(2 * m + 1, m, 10.0f);
        std::vector<float> y1(2 * m + 16, 7.0f), y2(2 * m + 16, 7.0f);
        plain.radix2(x.data() + 1, y1.data() + 8, m / 2);
        vec.radix2(x.data() + 1, y2.data() + 8, m / 2);
        EXPECT_EQ(y1, y2) << level.name << " radix2 m=" << m;
      }
    }
  }
}

TEST_P(AudioLevels, UnfoldMatchesPlainExactlyInAndOutOfPlace) {
  {
    const KernelLevel& level = GetParam();
    const AudioFftKernels vec = KernelsAt(level.flags);
    for (uint32_t m : {2u, 4u, 8u, 16u, 21u, 32u, 64u, 100u, 256u, 2048u}) {
      const std::vector<float> src = RandomValues(2 * m + 1, m, 100.0f);
      const std::vector<float> u = RandomValues(2 * (m / 2 + 1) + 1, m + 1, 1.0f);
      std::vector<float> d1(2 * m + 16, 7.0f), d2(2 * m + 16, 7.0f);
      AudioFftKernelsPlain().unfold(src.data() + 1, d1.data() + 8, m, u.data() + 1, 1);
      vec.unfold(src.data() + 1, d2.data() + 8, m, u.data() + 1, 1);
      ASSERT_EQ(d1, d2) << level.name << " m=" << m;
      std::vector<float> in_place(src);
      vec.unfold(in_place.data() + 1, in_place.data() + 1, m, u.data() + 1, 1);
      // Entries 0 and 1 are not the kernel's; everything else must match.
      for (uint32_t i = 2; i < 2 * m; i++) ASSERT_EQ(in_place[1 + i], d1[8 + i]) << level.name << " m=" << m;
    }
  }
}

TEST_P(AudioLevels, DctWrappingMatchesPlainExactly) {
  {
    const KernelLevel& level = GetParam();
    const AudioFftKernels vec = KernelsAt(level.flags);
    for (uint32_t n : {4u, 8u, 16u, 32u, 42u, 64u, 100u, 512u, 4096u}) {
      const uint32_t m = n / 2;
      const std::vector<float> x = RandomValues(n + 1, n, 100.0f);
      const std::vector<float> u = RandomValues(2 * (m / 2 + 1) + 1, n + 1, 1.0f);
      const std::vector<float> r = RandomValues(2 * m + 1, n + 2, 1.0f);
      std::vector<float> d1(n + 16, 7.0f), d2(n + 16, 7.0f);
      AudioFftKernelsPlain().dct_unfold(x.data() + 1, d1.data() + 8, n, u.data() + 1, r.data() + 1, 1);
      vec.dct_unfold(x.data() + 1, d2.data() + 8, n, u.data() + 1, r.data() + 1, 1);
      ASSERT_EQ(d1, d2) << level.name << " unfold n=" << n;
      std::vector<float> o1(n + 16, 7.0f), o2(n + 16, 7.0f);
      AudioFftKernelsPlain().dct_reorder(x.data() + 1, o1.data() + 8, n, 0);
      vec.dct_reorder(x.data() + 1, o2.data() + 8, n, 0);
      ASSERT_EQ(o1, o2) << level.name << " reorder n=" << n;
    }
  }
}

TEST_P(AudioLevels, PcmConversionMatchesPlainExactly) {
  {
    const KernelLevel& level = GetParam();
    const AudioFftKernels vec = KernelsAt(level.flags);
    for (uint32_t count : {1u, 3u, 7u, 8u, 13u, 512u, 1029u}) {
      std::vector<float> a = RandomValues(count + 1, count, 50000.0f);
      std::vector<float> b = RandomValues(count + 1, count * 3, 50000.0f);
      // Exact halves and the clamp limits must agree too.
      for (uint32_t i = 0; i < count; i += 5) a[i + 1] = float(int(i) - 20) + 0.5f;
      a[1] = 32767.5f;
      for (int interleave = 0; interleave < 2; interleave++) {
        std::vector<int16_t> o1(2 * count + 16, 0x5555), o2(2 * count + 16, 0x5555);
        const float* bb = interleave ? b.data() + 1 : nullptr;
        AudioFftKernelsPlain().to_pcm(a.data() + 1, bb, o1.data() + 8, count, 1.0f);
        vec.to_pcm(a.data() + 1, bb, o2.data() + 8, count, 1.0f);
        EXPECT_EQ(o1, o2) << level.name << " count=" << count << " interleave=" << interleave;
      }
    }
  }
}
INSTANTIATE_TEST_SUITE_P(Audio, AudioLevels, ::testing::ValuesIn(VectorLevels()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AudioKernels, PcmRoundsHalvesToEvenAndClamps) {
  const float in[] = {0.5f, 1.5f, 2.5f, -0.5f, -1.5f, 40000.0f, -40000.0f, 32767.4f, -32768.6f};
  const int16_t want[] = {0, 2, 2, 0, -2, 32767, -32768, 32767, -32768};
  int16_t out[9];
  for (const KernelLevel& level : KernelLevels()) {
    KernelsAt(level.flags).to_pcm(in, nullptr, out, 9, 1.0f);
    for (int i = 0; i < 9; i++) EXPECT_EQ(out[i], want[i]) << level.name << " " << i;
  }
  AudioFftKernelsPlain().to_pcm(in, nullptr, out, 9, 1.0f);
  for (int i = 0; i < 9; i++) EXPECT_EQ(out[i], want[i]) << i;
}

}  // namespace
