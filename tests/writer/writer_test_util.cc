#include "writer_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/cpu.h"
#include "video/video_decoder.h"

namespace {

constexpr uint32_t kOldColours = 0x8000, kUvOrder = 0x10000, kGrey = 0x20000, kAlpha = 0x100000;

uint32_t RoundUp(uint32_t v, uint32_t m) { return (v + m - 1) / m * m; }

}  // namespace

void HarnessInit(DecoderHarness* h, const VideoEncoderOptions& o) {
  h->width = o.width;
  h->height = o.height;
  h->pitch = RoundUp(o.width, 16);
  h->rows = RoundUp(o.height, 16);
  h->flags = (o.version != 'i' ? kOldColours : 0) | (o.version <= 'g' ? kUvOrder : 0) |
             (o.grey ? kGrey : 0) | (o.alpha ? kAlpha : 0);
  h->video_flags = (o.grey ? kGrey : 0) | (o.alpha ? kAlpha : 0);
  size_t frame = size_t{h->pitch} * h->rows * 3 / 2;
  // Unlike the engine, fill the buffers with a pattern: a stream that reads
  // the previous frame where it must not shows up as a mismatch.
  for (auto& f : h->frames) f.assign(frame, 0xA5);
  for (auto& a : h->alphas) a.assign(size_t{h->pitch} * h->rows, 0x5A);
  h->map.assign(size_t{h->pitch / 16} * (h->rows / 16), 0);
  uint32_t sizes[BUNDLE_COUNT];
  BundleBuffersSize(h->pitch, sizes);
  h->bundles.clear();
  for (uint32_t s : sizes) h->bundles.emplace_back(s, 0);
}

void HarnessDecode(DecoderHarness* h, const std::vector<uint8_t>& video, bool key) {
  uint8_t* buffers[BUNDLE_COUNT];
  for (int b = 0; b < BUNDLE_COUNT; b++) buffers[b] = h->bundles[static_cast<size_t>(b)].data();
  uint32_t next = h->current ^ 1;
  std::fill(h->map.begin(), h->map.end(), 0);
  VideoKernels kernels;
  VideoKernelsInit(&kernels, CpuFeatures());
  VideoDecodeFrame(h->pitch, h->width, h->height, h->frames[next].data(),
                   h->frames[h->current].data(), h->alphas[next].data(),
                   h->alphas[h->current].data(), h->map.data(), h->rows, video.data(),
                   static_cast<uint32_t>(video.size()), key ? 1 : 0, buffers, h->flags,
                   h->video_flags, kernels);
  h->current = next;
}

const uint8_t* HarnessFrame(const DecoderHarness& h) { return h.frames[h.current].data(); }
const uint8_t* HarnessAlpha(const DecoderHarness& h) { return h.alphas[h.current].data(); }

bool HarnessMatchesRecon(const DecoderHarness& h, const VideoEncoder* encoder,
                         const VideoEncoderOptions& o) {
  VideoReconView recon = VideoEncoderRecon(encoder);
  auto same = [](const uint8_t* a, const uint8_t* b, uint32_t pitch, uint32_t w8, uint32_t h8) {
    for (uint32_t y = 0; y < h8; y++)
      if (std::memcmp(a + size_t{y} * pitch, b + size_t{y} * pitch, w8) != 0) return false;
    return true;
  };
  uint32_t w8 = RoundUp(o.width, 8), h8 = RoundUp(o.height, 8);
  if (!same(recon.frame, HarnessFrame(h), h.pitch, w8, h8)) return false;
  if (!o.grey) {
    uint32_t cw8 = RoundUp((o.width + 1) / 2, 8), ch8 = RoundUp((o.height + 1) / 2, 8);
    size_t luma = size_t{h.pitch} * h.rows, chroma = size_t{h.pitch / 2} * (h.rows / 2);
    if (!same(recon.frame + luma, HarnessFrame(h) + luma, h.pitch / 2, cw8, ch8)) return false;
    if (!same(recon.frame + luma + chroma, HarnessFrame(h) + luma + chroma, h.pitch / 2, cw8, ch8))
      return false;
  }
  if (o.alpha && !same(recon.alpha, HarnessAlpha(h), h.pitch, w8, h8)) return false;
  return true;
}

ClipResult EncodeClip(const VideoEncoderOptions& options, SynthScene scene, uint32_t count,
                      uint32_t cut_at, SynthScene after_cut) {
  ClipResult result;
  VideoEncoder* encoder = VideoEncoderCreate(options);
  if (!encoder) return result;
  DecoderHarness harness;
  HarnessInit(&harness, options);
  double sse[4] = {}, samples[4] = {};
  VideoPicture picture;
  for (uint32_t k = 0; k < count; k++) {
    SynthScene s = cut_at && k >= cut_at ? after_cut : scene;
    SynthPicture(s, k, options.width, options.height, options.alpha, &picture);
    std::vector<uint8_t> video;
    VideoFrameStats stats;
    VideoEncoderEncode(encoder, picture, false, &video, &stats);
    HarnessDecode(&harness, video, stats.key);
    if (!HarnessMatchesRecon(harness, encoder, options)) result.mismatches++;
    result.bytes += video.size();
    result.video.insert(result.video.end(), video.begin(), video.end());
    result.key_frames += stats.key;
    for (int p = 0; p < 4; p++) {
      sse[p] += stats.sse[p];
      samples[p] += static_cast<double>(stats.samples[p]);
    }
    for (int t = 0; t < BLOCK_TYPE_COUNT; t++) {
      result.types[t] += stats.block_types[t];
      result.sub_types[t] += stats.sub_types[t];
    }
    result.frames.push_back(stats);
  }
  VideoEncoderDestroy(encoder);
  result.psnr_luma = VideoPsnr(sse[0], static_cast<uint64_t>(samples[0]));
  result.psnr_chroma = VideoPsnr(sse[1] + sse[2], static_cast<uint64_t>(samples[1] + samples[2]));
  result.psnr_alpha = VideoPsnr(sse[3], static_cast<uint64_t>(samples[3]));
  return result;
}

VideoEncoderOptions KeyDecisionOptions(int quality, int speed) {
  VideoEncoderOptions o;
  o.width = 96;
  o.height = 64;
  o.quality = quality;
  o.speed = speed;
  o.keyint = 0;
  return o;
}

std::vector<bool> KeyFramesOf(const VideoEncoderOptions& options, uint32_t count,
                              const std::function<void(uint32_t, VideoPicture*)>& render) {
  std::vector<bool> keys;
  for (const VideoFrameStats& stats : FrameStatsOf(options, count, render))
    keys.push_back(stats.key);
  return keys;
}

std::vector<VideoFrameStats> FrameStatsOf(
    const VideoEncoderOptions& options, uint32_t count,
    const std::function<void(uint32_t, VideoPicture*)>& render) {
  std::vector<VideoFrameStats> frames;
  VideoEncoder* encoder = VideoEncoderCreate(options);
  EXPECT_NE(encoder, nullptr);
  if (!encoder) return frames;
  DecoderHarness harness;
  HarnessInit(&harness, options);
  VideoPicture picture;
  for (uint32_t k = 0; k < count; k++) {
    render(k, &picture);
    std::vector<uint8_t> video;
    VideoFrameStats stats;
    if (!VideoEncoderEncode(encoder, picture, false, &video, &stats)) {
      ADD_FAILURE() << "frame " << k << " was not encoded";
      break;
    }
    HarnessDecode(&harness, video, stats.key);
    EXPECT_TRUE(HarnessMatchesRecon(harness, encoder, options)) << "frame " << k;
    frames.push_back(stats);
  }
  VideoEncoderDestroy(encoder);
  return frames;
}
