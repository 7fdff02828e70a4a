// Encoder speed: frames per second of camera-like 640x480 content at a few
// qualities, inter frames and key frames, and the benchmark clips the
// decoder benchmark uses.
#include <benchmark/benchmark.h>

#include <memory>

#include "synth/bench_clips.h"

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

}  // namespace

BENCHMARK_MAIN();
