// Test helpers for the encoder: a decoder harness that plays the engine's
// part (two alternating frame buffers, bundle buffers, the changed-block map)
// around VideoDecodeFrame, and clip encoding with per-frame checks.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "synth/synth.h"
#include "writer/video_encoder.h"

struct DecoderHarness {
  uint32_t width, height, pitch, rows;
  uint32_t flags, video_flags;
  std::vector<uint8_t> frames[2], alphas[2], map;
  std::vector<std::vector<uint8_t>> bundles;
  uint32_t current = 0;  // the buffer holding the last decoded frame
};

// Flags as the engine would derive them from the version and the options.
void HarnessInit(DecoderHarness* h, const VideoEncoderOptions& options);
// Decodes one frame's video data into the next buffer and flips.
void HarnessDecode(DecoderHarness* h, const std::vector<uint8_t>& video, bool key);
const uint8_t* HarnessFrame(const DecoderHarness& h);
const uint8_t* HarnessAlpha(const DecoderHarness& h);

// True when the decoder's picture equals the encoder's reconstruction in
// every decoded sample of every coded plane.
bool HarnessMatchesRecon(const DecoderHarness& h, const VideoEncoder* encoder,
                         const VideoEncoderOptions& options);

struct ClipResult {
  std::vector<VideoFrameStats> frames;
  double psnr_luma = 0, psnr_chroma = 0, psnr_alpha = 0;  // over the whole clip
  uint64_t bytes = 0;
  uint32_t mismatches = 0;  // frames where decoder and encoder disagreed
  uint32_t types[BLOCK_TYPE_COUNT] = {};
  uint32_t sub_types[BLOCK_TYPE_COUNT] = {};
  uint32_t key_frames = 0;
  std::vector<uint8_t> video;  // every frame's video data, one after another
};

// Encodes `count` frames of a scene (frame numbers from `first`; a vector of
// scenes switches scene at the given frame) and decodes each one.
ClipResult EncodeClip(const VideoEncoderOptions& options, SynthScene scene, uint32_t count,
                      uint32_t cut_at = 0, SynthScene after_cut = SynthScene::kNoise);

// A 96x64 picture size for the key-frame decisions: no key frames by
// count, the given quality and speed.
VideoEncoderOptions KeyDecisionOptions(int quality, int speed);

// Encodes `count` pictures that `render` draws (frame number, picture),
// decodes each one and checks it against the encoder's reconstruction
// (a failed check is a test failure); returns whether each was a key frame.
std::vector<bool> KeyFramesOf(const VideoEncoderOptions& options, uint32_t count,
                              const std::function<void(uint32_t, VideoPicture*)>& render);
// The same, with each frame's whole statistics.
std::vector<VideoFrameStats> FrameStatsOf(
    const VideoEncoderOptions& options, uint32_t count,
    const std::function<void(uint32_t, VideoPicture*)>& render);
