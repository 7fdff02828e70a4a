// MovieCopyToBuffer on a 1280x720 frame in megapixels per second: plain,
// SSE2, AVX2 and AVX-512 paths, full and changed-block, beside libyuv's
// converters for the same layouts and a memcpy of the output size.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "platform/cpu.h"

#if defined(VORN_HAVE_LIBYUV)
#include <libyuv.h>
#endif

namespace {

constexpr uint32_t kWidth = 1280, kHeight = 720;

// A movie record around one random 1280x720 frame, as the decoder leaves it.
struct BenchFrame {
  Movie movie{};
  std::vector<uint8_t> frame, map;
  BenchFrame() {
    Movie& m = movie;
    m.width = m.decoded_width = kWidth;
    m.height = m.decoded_height = kHeight;
    m.plane_width = kWidth;
    m.plane_height = kHeight;
    m.blocks_per_row = kWidth / 16;
    m.block_count = m.blocks_per_row * (kHeight / 16);
    frame.resize(size_t{kWidth} * kHeight * 3 / 2);
    std::mt19937 rng(1);
    for (auto& b : frame) b = uint8_t(rng());
    m.yuv_buffers[0] = m.yuv_buffers[1] = frame.data();
    m.preload = frame.data();
    map.assign(m.block_count + 1, 1);
    map.back() = 0;
    m.block_map = map.data();
  }
  const uint8_t* Y() const { return frame.data(); }
  const uint8_t* V() const { return Y() + size_t{kWidth} * kHeight; }
  const uint8_t* U() const { return V() + size_t{kWidth} * kHeight / 4; }
};

// Destination memory as a display surface gives it: 64-byte aligned.
struct Surface {
  explicit Surface(size_t bytes) : bytes_(bytes + 64) {}
  uint8_t* data() {
    uintptr_t p = reinterpret_cast<uintptr_t>(bytes_.data());
    return bytes_.data() + ((64 - (p & 63)) & 63);
  }
  std::vector<uint8_t> bytes_;
};

BenchFrame& Frame() {
  static BenchFrame frame;
  return frame;
}

// With --benchmark_repetitions, the "best" row gives the highest MP/s seen:
// the figure least disturbed by other work on a shared machine.
double Best(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void SetPixels(benchmark::State& state) {
  state.counters["MP/s"] = benchmark::Counter(double(kWidth) * kHeight * state.iterations() / 1e6,
                                              benchmark::Counter::kIsRate);
}

// The movie's kernels for a path: 0 plain, 1 SSE2, 2 AVX2, 3 AVX-512 (as far
// as the processor has them); the copy sets its tables up afresh.
void UsePath(Movie& m, uint32_t path) {
  static constexpr uint32_t kLevels[] = {CPU_LEVEL_C, CPU_LEVEL_SSE2, CPU_LEVEL_AVX2,
                                         CPU_LEVEL_AVX512};
  if (m.convert_release) m.convert_release(m.convert_state);
  m.convert_state = nullptr;
  m.convert_release = nullptr;
  m.cpu_flags = kLevels[path] & CpuDetected();
}

// range(0): format; range(1): path as above; range(2): 1 = changed-block path
// (every block but one changed).
void BM_Vorn(benchmark::State& state) {
  uint32_t format = uint32_t(state.range(0));
  uint32_t path = uint32_t(state.range(1));
  bool changed = state.range(2) != 0;
  BenchFrame& f = Frame();
  f.map[0] = changed ? 0 : 1;
  UsePath(f.movie, path);
  uint32_t bpp = CopyBytesPerPixel(format);
  int32_t pitch = int32_t(kWidth * bpp);
  Surface dest(size_t(pitch) * kHeight * (format == COPY_YV12 ? 2 : 1));
  uint32_t flags = format | (changed ? 0 : COPY_ALL);
  for (auto _ : state) {
    MovieCopyToBuffer(&f.movie, dest.data(), pitch, kHeight, 0, 0, 0, 0, kWidth, kHeight, flags);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  f.map[0] = 1;
  SetPixels(state);
}

void VornArgs(benchmark::internal::Benchmark* b) {
  for (int format : {3, 10, 8, 7, 1, 13, 14, 15})
    for (int path : {0, 1, 2, 3})
      for (int changed : {0, 1}) b->Args({format, path, changed});
  b->ArgNames({"format", "path", "changed"});
  b->ComputeStatistics("best", Best);
}
BENCHMARK(BM_Vorn)->Apply(VornArgs);

// memcpy of the bytes one frame writes (range: bytes per pixel x 2).
void BM_Memcpy(benchmark::State& state) {
  size_t bytes = size_t{kWidth} * kHeight * size_t(state.range(0)) / 2;
  std::vector<uint8_t> src(bytes, 1);
  Surface dest(bytes);
  for (auto _ : state) {
    std::memcpy(dest.data(), src.data(), bytes);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  SetPixels(state);
}
BENCHMARK(BM_Memcpy)
    ->Arg(8)
    ->Arg(6)
    ->Arg(4)
    ->Arg(3)
    ->ArgName("bytes_x2")
    ->ComputeStatistics("best", Best);

#if defined(VORN_HAVE_LIBYUV)
using LibyuvConvert = int (*)(const uint8_t*, int, const uint8_t*, int, const uint8_t*, int,
                              uint8_t*, int, int, int);

template <LibyuvConvert kConvert, int kBytes>
void BM_Libyuv(benchmark::State& state) {
  BenchFrame& f = Frame();
  Surface dest(size_t{kWidth} * kHeight * kBytes);
  for (auto _ : state) {
    kConvert(f.Y(), kWidth, f.U(), kWidth / 2, f.V(), kWidth / 2, dest.data(), kWidth * kBytes,
             kWidth, kHeight);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  SetPixels(state);
}
BENCHMARK(BM_Libyuv<libyuv::I420ToARGB, 4>)
    ->Name("BM_Libyuv/I420ToARGB")
    ->ComputeStatistics("best", Best);
BENCHMARK(BM_Libyuv<libyuv::I420ToRGB565, 2>)
    ->Name("BM_Libyuv/I420ToRGB565")
    ->ComputeStatistics("best", Best);
BENCHMARK(BM_Libyuv<libyuv::I420ToARGB1555, 2>)
    ->Name("BM_Libyuv/I420ToARGB1555")
    ->ComputeStatistics("best", Best);
BENCHMARK(BM_Libyuv<libyuv::I420ToARGB4444, 2>)
    ->Name("BM_Libyuv/I420ToARGB4444")
    ->ComputeStatistics("best", Best);
BENCHMARK(BM_Libyuv<libyuv::I420ToRGB24, 3>)
    ->Name("BM_Libyuv/I420ToRGB24")
    ->ComputeStatistics("best", Best);
BENCHMARK(BM_Libyuv<libyuv::I420ToYUY2, 2>)
    ->Name("BM_Libyuv/I420ToYUY2")
    ->ComputeStatistics("best", Best);
BENCHMARK(BM_Libyuv<libyuv::I420ToUYVY, 2>)
    ->Name("BM_Libyuv/I420ToUYVY")
    ->ComputeStatistics("best", Best);

void BM_LibyuvI420Copy(benchmark::State& state) {
  BenchFrame& f = Frame();
  Surface dest(size_t{kWidth} * kHeight * 3 / 2);
  uint8_t* y = dest.data();
  uint8_t* v = y + size_t{kWidth} * kHeight;
  uint8_t* u = v + size_t{kWidth} * kHeight / 4;
  for (auto _ : state) {
    libyuv::I420Copy(f.Y(), kWidth, f.U(), kWidth / 2, f.V(), kWidth / 2, y, kWidth, u, kWidth / 2,
                     v, kWidth / 2, kWidth, kHeight);
    benchmark::DoNotOptimize(dest.data());
    benchmark::ClobberMemory();
  }
  SetPixels(state);
}
BENCHMARK(BM_LibyuvI420Copy)->Name("BM_Libyuv/I420Copy")->ComputeStatistics("best", Best);
#endif

}  // namespace

BENCHMARK_MAIN();
