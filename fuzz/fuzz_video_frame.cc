// One or two video frames against a small fixed picture: the first input
// byte picks the size and the header flags, the rest is the frame data,
// decoded once as a key frame and again predicting from the first result.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/movie.h"
#include "platform/cpu.h"
#include "video/video_decoder.h"

namespace {

constexpr uint32_t kSizes[][2] = {{8, 8}, {16, 16}, {33, 17}, {64, 48}, {1, 1}, {130, 70}, {24, 200}, {200, 8}};

uint32_t RoundUp(uint32_t n, uint32_t m) { return (n + m - 1) / m * m; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const uint32_t width = kSizes[mode & 7][0], height = kSizes[mode & 7][1];
  uint32_t video_flags = 0, flags = 0;
  if (mode & 0x08) video_flags |= VIDEO_FLAG_ALPHA, flags |= OPEN_ALPHA;
  if (mode & 0x10) video_flags |= VIDEO_FLAG_GREY, flags |= OPEN_GRAYSCALE;
  if (mode & 0x20) flags |= OPEN_OLD_COLOURS;
  if (mode & 0x40) flags |= OPEN_NO_MMX;

  const uint32_t pitch = 2 * RoundUp((width + 1) / 2, 8);
  const uint32_t rows = 2 * RoundUp((height + 1) / 2, 8);
  const uint32_t chroma = RoundUp((width + 1) / 2, 8) * RoundUp((height + 1) / 2, 8);
  const size_t frame_size = size_t{pitch} * rows + 2 * chroma;
  std::vector<uint8_t> frames[2] = {std::vector<uint8_t>(frame_size, 0x55),
                                    std::vector<uint8_t>(frame_size, 0xAA)};
  std::vector<uint8_t> alpha[2] = {std::vector<uint8_t>(size_t{pitch} * rows, 1),
                                   std::vector<uint8_t>(size_t{pitch} * rows, 2)};
  std::vector<uint8_t> block_map(pitch / 16 * rows / 16 + 16);

  uint32_t sizes[BUNDLE_COUNT];
  BundleBuffersSize(pitch, sizes);
  std::vector<uint8_t> bundle_storage[BUNDLE_COUNT];
  uint8_t* bundles[BUNDLE_COUNT];
  for (int i = 0; i < BUNDLE_COUNT; i++) {
    bundle_storage[i].resize(sizes[i]);
    bundles[i] = bundle_storage[i].data();
  }
  // Copy the frame data so a read past its end is caught exactly.
  std::vector<uint8_t> frame_data(data + 1, data + size);
  const bool with_alpha = (flags & OPEN_ALPHA) != 0;
  VideoKernels kernels;
  VideoKernelsInit(&kernels, CpuKernelFlags((flags & OPEN_NO_MMX) != 0));
  for (int pass = 0; pass < 2; pass++) {
    VideoDecodeFrame(pitch, width, height, frames[pass].data(), frames[pass ^ 1].data(),
                     with_alpha ? alpha[pass].data() : nullptr,
                     with_alpha ? alpha[pass ^ 1].data() : nullptr, block_map.data(), rows,
                     frame_data.data(), static_cast<uint32_t>(frame_data.size()), pass == 0,
                     bundles, flags, video_flags, kernels);
  }
  return 0;
}
