// Single-thread video decoding in frames and megapixels per second, at
// 640x480 and 1280x720, on the encoder's camera-like benchmark clips (one key
// frame then inter frames, and all key frames), at the plain and the best
// vector level; beside libjpeg-turbo decoding a quality-75 4:2:0 JPEG of the
// clip's first picture to planar YUV.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <tuple>
#include <vector>

#include "platform/cpu.h"
#include "synth/bench_clips.h"
#include "video/video_decoder.h"

#if defined(VORN_HAVE_TURBOJPEG)
#include <turbojpeg.h>
#endif

namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

struct Clip {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> movie;
  std::vector<uint32_t> offsets;  // frame packet starts, then the end
  uint64_t video_bytes = 0;
};

// The clips have no tracks: the index follows the 44-byte header and each
// packet is video data only.
const Clip& GetClip(uint32_t width, uint32_t height, bool all_key) {
  static std::map<std::tuple<uint32_t, uint32_t, bool>, Clip> clips;
  Clip& clip = clips[{width, height, all_key}];
  if (!clip.movie.empty()) return clip;
  BenchClipOptions options;
  options.width = width;
  options.height = height;
  options.frames = 30;
  options.all_key = all_key;
  clip.width = width;
  clip.height = height;
  clip.movie = MakeBenchClip(options);
  uint32_t frames = Le32(clip.movie.data() + 8);
  for (uint32_t i = 0; i <= frames; i++) clip.offsets.push_back(Le32(clip.movie.data() + 44 + 4 * i) & ~1u);
  clip.video_bytes = clip.offsets.back() - clip.offsets.front();
  return clip;
}

// Two frame buffers, the bundle buffers and the map, as a movie holds them.
struct Decoder {
  uint32_t pitch, rows;
  std::vector<uint8_t> frames[2], map, bundles[BUNDLE_COUNT];
  uint8_t* bundle_ptrs[BUNDLE_COUNT];
  uint32_t cur = 0;
  VideoKernels kernels;
  Decoder(uint32_t width, uint32_t height, uint32_t cpu_flags)
      : pitch((width + 15) & ~15u), rows((height + 15) & ~15u) {
    VideoKernelsInit(&kernels, cpu_flags);
    size_t bytes = size_t{pitch} * rows + 2 * size_t{pitch / 2} * (rows / 2);
    frames[0].assign(bytes, 0);
    frames[1].assign(bytes, 0);
    map.assign(size_t{pitch / 16} * (rows / 16) + 16, 0);
    uint32_t sizes[BUNDLE_COUNT];
    BundleBuffersSize(pitch, sizes);
    for (int b = 0; b < BUNDLE_COUNT; b++) {
      bundles[b].assign(sizes[b], 0);
      bundle_ptrs[b] = bundles[b].data();
    }
  }
  void Decode(const Clip& clip, size_t frame) {
    const uint8_t* data = clip.movie.data() + clip.offsets[frame];
    uint32_t size = clip.offsets[frame + 1] - clip.offsets[frame];
    std::memset(map.data(), 0, map.size());
    VideoDecodeFrame(pitch, clip.width, clip.height, frames[cur].data(), frames[cur ^ 1].data(),
                     nullptr, nullptr, map.data(), rows, data, size, frame == 0, bundle_ptrs, 0, 0,
                     kernels);
    cur ^= 1;
  }
};

// Arguments: width, height, all key frames (0/1), vector paths (0 = plain).
void BM_VideoDecode(benchmark::State& state) {
  uint32_t width = static_cast<uint32_t>(state.range(0));
  uint32_t height = static_cast<uint32_t>(state.range(1));
  const Clip& clip = GetClip(width, height, state.range(2) != 0);
  Decoder decoder(width, height, state.range(3) ? CpuFeatures() : 0u);
  size_t frames = clip.offsets.size() - 1;
  size_t frame = 0;
  for (auto _ : state) {
    decoder.Decode(clip, frame);
    frame = (frame + 1) % frames;  // back to the key frame after the last
    benchmark::ClobberMemory();
  }
  double pixels = static_cast<double>(width) * height;
  state.SetItemsProcessed(state.iterations());  // items/s = frames per second
  state.counters["MP/s"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
  state.counters["kB/frame"] = benchmark::Counter(static_cast<double>(clip.video_bytes) / frames / 1000);
}
BENCHMARK(BM_VideoDecode)
    ->ArgNames({"w", "h", "key", "vec"})
    ->Args({640, 480, 0, 0})
    ->Args({640, 480, 0, 1})
    ->Args({640, 480, 1, 0})
    ->Args({640, 480, 1, 1})
    ->Args({1280, 720, 0, 0})
    ->Args({1280, 720, 0, 1})
    ->Args({1280, 720, 1, 0})
    ->Args({1280, 720, 1, 1})
    ->Unit(benchmark::kMillisecond);

#if defined(VORN_HAVE_TURBOJPEG)
// The clip's first picture as a quality-75 4:2:0 JPEG, decoded to planar YUV.
void BM_TurboJpegDecode(benchmark::State& state) {
  uint32_t width = static_cast<uint32_t>(state.range(0));
  uint32_t height = static_cast<uint32_t>(state.range(1));
  std::vector<VideoPicture> pictures;
  MakeBenchPictures(width, height, 1, &pictures);
  const VideoPicture& p = pictures[0];
  tjhandle compressor = tjInitCompress();
  const unsigned char* planes[3] = {p.y.data(), p.u.data(), p.v.data()};
  int cw = static_cast<int>((width + 1) / 2);
  int strides[3] = {static_cast<int>(width), cw, cw};
  unsigned char* jpeg = nullptr;
  unsigned long jpeg_size = 0;
  int failed = tjCompressFromYUVPlanes(compressor, planes, static_cast<int>(width), strides,
                                       static_cast<int>(height), TJSAMP_420, &jpeg, &jpeg_size, 75, 0);
  tjDestroy(compressor);
  if (failed) {
    state.SkipWithError("JPEG compression failed");
    return;
  }
  std::vector<uint8_t> y(size_t{width} * height), u(size_t(cw) * ((height + 1) / 2)), v(u.size());
  unsigned char* out[3] = {y.data(), u.data(), v.data()};
  tjhandle decompressor = tjInitDecompress();
  for (auto _ : state) {
    tjDecompressToYUVPlanes(decompressor, jpeg, jpeg_size, out, static_cast<int>(width), strides,
                            static_cast<int>(height), 0);
    benchmark::ClobberMemory();
  }
  tjDestroy(decompressor);
  tjFree(jpeg);
  double pixels = static_cast<double>(width) * height;
  state.SetItemsProcessed(state.iterations());
  state.counters["MP/s"] = benchmark::Counter(pixels * static_cast<double>(state.iterations()) / 1e6,
                                              benchmark::Counter::kIsRate);
  state.counters["kB/frame"] = benchmark::Counter(static_cast<double>(jpeg_size) / 1000);
}
BENCHMARK(BM_TurboJpegDecode)
    ->ArgNames({"w", "h"})
    ->Args({640, 480})
    ->Args({1280, 720})
    ->Unit(benchmark::kMillisecond);
#endif

}  // namespace

BENCHMARK_MAIN();
