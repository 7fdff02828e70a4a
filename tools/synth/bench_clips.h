// Benchmark clips: complete movies of camera-like content (a panned
// fractal landscape with objects moving across it) for measuring the
// decoder, made by the encoder so that no sample movies are needed.
#pragma once
#include <cstdint>
#include <vector>

#include "writer/video_encoder.h"

struct BenchClipOptions {
  uint32_t width = 640, height = 480;
  uint32_t frames = 30;
  bool all_key = false;   // every frame a key frame (else only the first)
  int quality = 75;
  uint32_t rate_num = 30, rate_den = 1;
};

// The pictures of a clip, drawn once so that encoder timings exclude them.
void MakeBenchPictures(uint32_t width, uint32_t height, uint32_t frames,
                       std::vector<VideoPicture>* pictures);

// A whole movie without sound: version i, one key frame followed by inter
// frames (or all key frames).
std::vector<uint8_t> MakeBenchClip(const BenchClipOptions& options);
