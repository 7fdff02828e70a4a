// Encoder speed: frames per second of camera-like 640x480 content at a few
// qualities, inter frames and key frames, the benchmark clips the decoder
// benchmark uses, and the encoder's kernels at each processor level.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>

#include "platform/cpu.h"
#include "synth/bench_clips.h"
#include "video/video_tables.h"
#include "writer/coefficient_writer.h"
#include "writer/encode_kernels.h"
#include "writer/walk_coefficient_writer.h"

namespace {

const std::vector<VideoPicture>& Pictures640() {
  static const std::vector<VideoPicture> pictures = [] {
    std::vector<VideoPicture> p;
    MakeBenchPictures(640, 480, 16, &p);
    return p;
  }();
  return pictures;
}

// Arguments: quality, key frames only (0/1).
void BM_Encode640x480(benchmark::State& state) {
  const std::vector<VideoPicture>& pictures = Pictures640();
  VideoEncoderOptions options;
  options.width = 640;
  options.height = 480;
  options.quality = static_cast<int>(state.range(0));
  options.keyint = state.range(1) ? 1 : 0;
  std::unique_ptr<VideoEncoder, void (*)(VideoEncoder*)> encoder(VideoEncoderCreate(options),
                                                                 VideoEncoderDestroy);
  std::vector<uint8_t> video;
  size_t frame = 0;
  uint64_t bytes = 0;
  for (auto _ : state) {
    video.clear();
    VideoEncoderEncode(encoder.get(), pictures[frame++ % pictures.size()], false, &video, nullptr);
    bytes += video.size();
  }
  state.SetItemsProcessed(state.iterations());  // items/s = frames per second
  state.counters["bytes_per_frame"] =
      benchmark::Counter(static_cast<double>(bytes) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_Encode640x480)
    ->Args({75, 0})
    ->Args({50, 0})
    ->Args({90, 0})
    ->Args({75, 1})
    ->Unit(benchmark::kMillisecond);

void BM_MakeBenchClip(benchmark::State& state) {
  BenchClipOptions options;
  options.width = static_cast<uint32_t>(state.range(0));
  options.height = static_cast<uint32_t>(state.range(1));
  options.frames = 4;
  for (auto _ : state) benchmark::DoNotOptimize(MakeBenchClip(options));
  state.SetItemsProcessed(state.iterations() * options.frames);
}
BENCHMARK(BM_MakeBenchClip)->Args({640, 480})->Args({1280, 720})->Unit(benchmark::kMillisecond)->Iterations(1);

// One transform block's round as the block decisions run it: forward
// transform, quantiser, bit count, inverse transform onto the prediction;
// over 256 blocks of differences, at the level given (0 sse2, 1 avx2,
// 2 avx512) and with the plain kernels in the same run. The counter
// `speedup` is the plain time over the level's.
void BM_EncodeKernelRound(benchmark::State& state) {
  static constexpr uint32_t kLevels[] = {CPU_LEVEL_SSE2, CPU_LEVEL_AVX2, CPU_LEVEL_AVX512};
  uint32_t flags = kLevels[state.range(0)];
  if ((CpuDetected() & flags) != flags) {
    state.SkipWithError("level not present");
    return;
  }
  EncodeKernels plain, level;
  EncodeKernelsInit(&plain, CPU_LEVEL_C);
  EncodeKernelsInit(&level, flags);
  constexpr int kBlocks = 256;
  std::vector<int16_t> differences(64 * kBlocks);
  std::vector<uint8_t> predictions(64 * kBlocks), out(64);
  std::mt19937 random(1);
  for (int16_t& d : differences) d = static_cast<int16_t>(static_cast<int>(random() % 41) - 20);
  for (uint8_t& p : predictions) p = static_cast<uint8_t>(random());
  float inverse[64];
  for (float& v : inverse) v = 1.0f / 24;
  uint64_t sink = 0;
  auto round = [&](const EncodeKernels& k) {
    float values[64];
    int16_t levels[64];
    for (int b = 0; b < kBlocks; b++) {
      k.forward_dct(&differences[64 * b], values);
      sink += static_cast<uint64_t>(k.quantise(values, inverse, 0.25f, levels));
      sink += k.coefficient_bits(levels);
      k.idct.add(levels, QUANT_INTER[6], &predictions[64 * b], out.data(), 8);
    }
  };
  using Clock = std::chrono::steady_clock;
  Clock::duration level_time{}, plain_time{};
  for (auto _ : state) {
    Clock::time_point t0 = Clock::now();
    round(level);
    Clock::time_point t1 = Clock::now();
    round(plain);
    plain_time += Clock::now() - t1;
    level_time += t1 - t0;
  }
  benchmark::DoNotOptimize(sink);
  state.SetItemsProcessed(state.iterations() * kBlocks * 2);
  state.counters["speedup"] = std::chrono::duration<double>(plain_time).count() /
                              std::chrono::duration<double>(level_time).count();
}
BENCHMARK(BM_EncodeKernelRound)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// Writing the chosen blocks' coefficients, over 1024 blocks shaped like
// quantised camera content: Arg 0 as at 6 Mbit/s on 640x480 (about 26 of
// 63 non-zero, 2 to 4 planes), 1 a low rate (a few small values), 2 key
// frames at a high quality (most non-zero, 6 to 9 planes). The counter
// `speedup` is the time of the shared walk driven bit by bit (the writer
// before the closed-form walk) over WriteDctCoefficients', same run.
void BM_WriteCoefficients(benchmark::State& state) {
  static constexpr double kScale[3] = {2.6, 0.35, 40};  // typical magnitude at the lowest frequencies
  double scale = kScale[state.range(0)];
  constexpr int kBlocks = 1024;
  std::vector<int16_t> blocks(64 * kBlocks);
  std::mt19937 random(2);
  std::exponential_distribution<double> spread(1.0);
  for (int b = 0; b < kBlocks; b++)
    for (int k = 1; k < 64; k++) {
      // Magnitudes fall off with frequency, roughly as quantised blocks do.
      double typical = scale * std::exp(-k / 24.0);
      int magnitude = std::min(static_cast<int>(spread(random) * typical), 32767);
      blocks[64 * b + COEFF_SCAN[k]] = static_cast<int16_t>(random() % 2 ? -magnitude : magnitude);
    }
  BitWriter fast, walked;
  uint64_t bits = 0;
  using Clock = std::chrono::steady_clock;
  Clock::duration fast_time{}, walk_time{};
  for (auto _ : state) {
    fast.words.clear();
    walked.words.clear();
    Clock::time_point t0 = Clock::now();
    for (int b = 0; b < kBlocks; b++) WriteDctCoefficients(&fast, &blocks[64 * b], 7);
    Clock::time_point t1 = Clock::now();
    for (int b = 0; b < kBlocks; b++) WriteThroughWalk(&walked, &blocks[64 * b], 7);
    walk_time += Clock::now() - t1;
    fast_time += t1 - t0;
    bits += BitWriterBitCount(&fast);
  }
  if (fast.words != walked.words) state.SkipWithError("the writers disagree");
  state.SetItemsProcessed(state.iterations() * kBlocks);
  state.counters["bits_per_block"] =
      benchmark::Counter(static_cast<double>(bits) / static_cast<double>(state.iterations() * kBlocks));
  state.counters["speedup"] = std::chrono::duration<double>(walk_time).count() /
                              std::chrono::duration<double>(fast_time).count();
}
BENCHMARK(BM_WriteCoefficients)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
