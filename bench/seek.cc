// Seek latency: the time from MovieSeek to the new frame being ready, on a
// 20 s movie of 640x480 with a 22050 Hz stereo track, with key frames every
// 2 s and every 10 s; exact seeks (decoding on from the key frame) and seeks
// to the key frame. The peer, measured in the same run on the same movie, is
// decoding one frame in ordinary play: "x_one_frame" is the seek's time in
// frame decodes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "sound/sound_silent.h"
#include "engine/sound_track.h"
#include "synth/bench_clips.h"
#include "synth/synth.h"
#include "writer/audio_encoder.h"
#include "writer/movie_writer.h"

namespace {

constexpr uint32_t kFrames = 600;  // 20 s at 30/1
constexpr uint32_t kClipFrames = 30;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The 20 s movie is made from a 1 s clip (one key frame, 29 inter frames and
// their sound): frame 1 and every key_every-th frame carry the clip's key
// frame, the others its inter frames in turn, so each frame costs what a
// real one costs to decode without encoding 600 pictures.
std::vector<uint8_t> MakeMovie(uint32_t key_every) {
  BenchClipOptions clip_options;
  clip_options.frames = kClipFrames;
  static const std::vector<uint8_t> clip = MakeBenchClip(clip_options);
  std::vector<std::vector<uint8_t>> video;
  for (uint32_t i = 0; i < kClipFrames; i++) {
    const uint32_t from = Le32(clip.data() + 44 + 4 * i) & ~1u;
    const uint32_t to = Le32(clip.data() + 44 + 4 * (i + 1)) & ~1u;
    video.emplace_back(clip.begin() + from, clip.begin() + to);
  }
  AudioEncoder* encoder = AudioEncoderOpen(22050, 2, true, 75);
  std::vector<int16_t> pcm;
  SynthMelody(22050, 2, 3.0, &pcm);
  std::vector<std::vector<uint8_t>> audio;
  MovieWriterTrack track;
  track.format = AudioEncoderTrackFormat(encoder, true);
  uint64_t position = 0;
  for (uint32_t k = 0; k < kClipFrames; k++) {
    const uint64_t total = pcm.size() / 2;
    const uint32_t n = std::min<uint32_t>(AudioEncoderFramesForVideoFrame(encoder, k, 30, 1),
                                          static_cast<uint32_t>(total - position));
    const int16_t* at = pcm.data() + position * 2;
    audio.push_back(AudioEncodePacket(encoder, at, n, at + size_t{n} * 2,
                                      static_cast<uint32_t>(total - position - n)));
    position += n;
    track.max_bytes = std::max(track.max_bytes, n * 4);
  }
  AudioEncoderClose(encoder);
  std::vector<MovieWriterFrame> frames(kFrames);
  for (uint32_t f = 0; f < kFrames; f++) {
    const uint32_t inter = 1 + (f - 1) % (kClipFrames - 1);
    frames[f].key = f % key_every == 0;
    frames[f].video = frames[f].key ? video[0] : video[inter];
    frames[f].audio.push_back(f == 0 ? audio[0] : audio[inter]);  // the lead-in first
  }
  MovieWriterHeader header;
  header.width = clip_options.width;
  header.height = clip_options.height;
  return MovieWriterBuild(header, {track}, frames);
}

const std::vector<uint8_t>& Movie_(uint32_t key_seconds) {
  static std::map<uint32_t, std::vector<uint8_t>> movies;
  std::vector<uint8_t>& m = movies[key_seconds];
  if (m.empty()) m = MakeMovie(key_seconds * 30);
  return m;
}

// From memory, or from a file through the read-ahead ring (a second of it).
Movie* Open(uint32_t key_seconds, bool from_file) {
  SoundDriverSelect(SoundSilentDriver, 0);  // the sound is decoded, not heard
  const std::vector<uint8_t>& bytes = Movie_(key_seconds);
  if (!from_file) {
    MovieSetMemorySize(static_cast<uint32_t>(bytes.size()));
    return MovieOpen(bytes.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  }
  static std::map<uint32_t, std::string> paths;
  std::string& path = paths[key_seconds];
  if (path.empty()) {
    path = (std::filesystem::temp_directory_path() / ("vorn_bench_seek_" + std::to_string(key_seconds) + ".vxn")).string();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return nullptr;
    std::fclose(f);
  }
  return MovieOpen(path.c_str(), OPEN_NO_THREAD);
}

using Clock = std::chrono::steady_clock;

// Seconds one frame takes in ordinary play (decode, move on), over 2 s.
double OneFrameSeconds(Movie* movie) {
  MovieSeek(movie, 301, SEEK_EXACT);
  const auto start = Clock::now();
  for (int i = 0; i < 60; i++) {
    MovieNextFrame(movie);
    MovieDoFrame(movie);
  }
  return std::chrono::duration<double>(Clock::now() - start).count() / 60;
}

void BM_PlayOneFrame(benchmark::State& state) {
  Movie* movie = Open(static_cast<uint32_t>(state.range(0)), state.range(1) != 0);
  if (!movie) return state.SkipWithError(MovieGetError());
  for (auto _ : state) {
    MovieNextFrame(movie);
    MovieDoFrame(movie);
  }
  state.SetItemsProcessed(state.iterations());
  MovieClose(movie);
}

void Seeks(benchmark::State& state, uint32_t flags) {
  Movie* movie = Open(static_cast<uint32_t>(state.range(0)), state.range(1) != 0);
  if (!movie) return state.SkipWithError(MovieGetError());
  const double frame_seconds = OneFrameSeconds(movie);
  uint32_t seed = 12345;
  double seek_seconds = 0;
  for (auto _ : state) {
    seed = seed * 1103515245 + 12345;
    const uint32_t target = 1 + (seed >> 8) % kFrames;
    const auto start = Clock::now();
    MovieSeek(movie, target, flags);
    seek_seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  const double per_seek = seek_seconds / static_cast<double>(state.iterations());
  state.counters["ms"] = benchmark::Counter(per_seek * 1000);
  state.counters["x_one_frame"] = benchmark::Counter(per_seek / frame_seconds);
  MovieClose(movie);
}

void BM_SeekExact(benchmark::State& state) { Seeks(state, SEEK_EXACT); }
void BM_SeekKeyFrame(benchmark::State& state) { Seeks(state, 0); }

// Arguments: key-frame spacing in seconds, then 0 = memory or 1 = file.
void Spacings(benchmark::internal::Benchmark* b) {
  b->ArgNames({"key_s", "file"});
  for (int key : {2, 10})
    for (int file : {0, 1}) b->Args({key, file});
  b->Unit(benchmark::kMillisecond);
}

}  // namespace

BENCHMARK(BM_PlayOneFrame)->Apply(Spacings);
BENCHMARK(BM_SeekExact)->Apply(Spacings);
BENCHMARK(BM_SeekKeyFrame)->Apply(Spacings);
BENCHMARK_MAIN();
