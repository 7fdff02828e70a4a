// The audio transforms against FFTW's single-precision plans for the same
// transforms (a complex-to-real DFT for InverseRealDft, REDFT01 for
// InverseDct), at each vector level, and the real-time factor of decoding
// 44100 Hz stereo sound of both variants.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_transform.h"
#include "platform/cpu.h"
#include "writer/audio_encoder.h"

#if defined(VORN_HAVE_FFTW3F)
#include <fftw3.h>
#endif

namespace {

std::vector<float> RandomInput(uint32_t n) {
  std::mt19937 rng(n);
  std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
  std::vector<float> v(n);
  for (float& x : v) x = dist(rng);
  return v;
}

// range(1): 0 = plain kernels, 1 = SSE2, 2 = AVX2, 3 = AVX-512 (as far as
// the processor has them).
AudioFftKernels KernelsAt(int64_t level) {
  static constexpr uint32_t kLevels[] = {CPU_LEVEL_C, CPU_LEVEL_SSE2, CPU_LEVEL_AVX2,
                                         CPU_LEVEL_AVX512};
  AudioFftKernels kernels;
  AudioFftKernelsInit(&kernels, kLevels[level] & CpuDetected());
  return kernels;
}

template <bool kDct>
void BM_Vorn(benchmark::State& state) {
  const uint32_t n = uint32_t(state.range(0));
  const AudioFftKernels kernels = KernelsAt(state.range(1));
  const std::vector<float> input = RandomInput(n);
  std::vector<float> storage(n + AudioTransformTableFloats(n) + 16);
  float* data = reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(storage.data()) + 31) & ~uintptr_t{31});
  float* aligned = data + ((n + 7) & ~7u);
  uint32_t work[AUDIO_TRANSFORM_WORK_WORDS] = {0, 0};
  for (auto _ : state) {
    std::memcpy(data, input.data(), n * sizeof(float));
    if (kDct) {
      InverseDct(n, data, work, aligned, kernels);
    } else {
      InverseRealDft(n, data, work, aligned, kernels);
    }
    benchmark::DoNotOptimize(data);
    benchmark::ClobberMemory();
  }
}

#if defined(VORN_HAVE_FFTW3F)
template <bool kDct>
void BM_Fftw(benchmark::State& state) {
  const uint32_t n = uint32_t(state.range(0));
  const std::vector<float> input = RandomInput(n + 2);
  float* in = static_cast<float*>(fftwf_malloc((n + 2) * sizeof(float)));
  float* out = static_cast<float*>(fftwf_malloc(n * sizeof(float)));
  fftwf_plan plan = kDct ? fftwf_plan_r2r_1d(int(n), in, out, FFTW_REDFT01, FFTW_MEASURE)
                         : fftwf_plan_dft_c2r_1d(int(n), reinterpret_cast<fftwf_complex*>(in), out, FFTW_MEASURE);
  for (auto _ : state) {
    std::memcpy(in, input.data(), (n + 2) * sizeof(float));  // c2r overwrites its input
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  fftwf_destroy_plan(plan);
  fftwf_free(in);
  fftwf_free(out);
}
#endif

void Sizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {512, 1024, 2048, 4096}) {
    for (int64_t level : {0, 1, 2, 3}) b->Args({n, level});
  }
}
[[maybe_unused]] void FftwSizes(benchmark::internal::Benchmark* b) {
  for (int64_t n : {512, 1024, 2048, 4096}) b->Args({n});
}

BENCHMARK(BM_Vorn<false>)->Name("InverseRealDft")->Apply(Sizes);
BENCHMARK(BM_Vorn<true>)->Name("InverseDct")->Apply(Sizes);
#if defined(VORN_HAVE_FFTW3F)
BENCHMARK(BM_Fftw<false>)->Name("FftwComplexToReal")->Apply(FftwSizes);
BENCHMARK(BM_Fftw<true>)->Name("FftwRedft01")->Apply(FftwSizes);
#endif

// ---- Decoding speed ------------------------------------------------------------------

struct EncodedSound {
  std::vector<std::vector<uint8_t>> packets;
  double seconds = 0;
};

// Ten seconds of a tone plus a chirp plus noise, in packets of a 30 frames
// per second movie, coded at quality 75.
EncodedSound Encode(bool dct) {
  const uint32_t rate = 44100, frames = rate * 10;
  std::vector<int16_t> pcm(2 * frames);
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0, 300);
  for (uint32_t i = 0; i < frames; i++) {
    const double t = double(i) / rate;
    pcm[2 * i] = int16_t(std::lrint(8000 * std::sin(2 * M_PI * 440 * t) + noise(rng)));
    pcm[2 * i + 1] = int16_t(std::lrint(8000 * std::sin(2 * M_PI * (100 + 1000 * t) * t) + noise(rng)));
  }
  EncodedSound sound;
  AudioEncoder* enc = AudioEncoderOpen(rate, 2, dct, 75);
  uint32_t pos = 0;
  for (uint32_t k = 0; pos < frames; k++) {
    const uint32_t n = std::min(AudioEncoderFramesForVideoFrame(enc, k, 30, 1), frames - pos);
    sound.packets.push_back(AudioEncodePacket(enc, pcm.data() + 2 * pos, n, pcm.data() + 2 * (pos + n), frames - pos - n));
    pos += n;
  }
  AudioEncoderClose(enc);
  sound.seconds = double(frames) / rate;
  return sound;
}

void Discard(void*, const int16_t* pcm, uint32_t) { benchmark::DoNotOptimize(pcm); }

void BM_Decode44100Stereo(benchmark::State& state) {
  const bool dct = state.range(0) != 0;
  static const EncodedSound sounds[2] = {Encode(false), Encode(true)};
  const EncodedSound& sound = sounds[dct ? 1 : 0];
  AudioDecoder* decoder = AudioDecoderOpen(44100, 2, dct, CpuFeatures());
  for (auto _ : state) {
    for (const auto& p : sound.packets) {
      if (!p.empty()) AudioDecodePacket(decoder, p.data(), p.data() + p.size(), ~0u, Discard, nullptr);
    }
  }
  AudioDecoderClose(decoder);
  // Seconds of sound decoded per second of time.
  state.counters["realtime_factor"] =
      benchmark::Counter(sound.seconds * double(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Decode44100Stereo)->ArgName("dct")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
