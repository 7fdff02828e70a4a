// The decoding library's C interface on arbitrary bytes: open (from memory
// or through read callbacks, the input's last byte chooses), step every
// frame taking planes, a copy and each track's sound, then seek to a few
// frames the input names and step from there.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "vorn/vorn.h"

namespace {

constexpr uint64_t kMaxPixels = 256 * 256;  // larger pictures only cost time
constexpr uint32_t kMaxFrames = 300;

struct Image {
  const uint8_t* data;
  size_t size;
  bool tell_size;
};

int64_t Read(void* user, uint64_t offset, void* dest, uint32_t size) {
  const auto* image = static_cast<const Image*>(user);
  if (offset >= image->size) return 0;
  const size_t n = image->size - offset < size ? image->size - offset : size;
  std::memcpy(dest, image->data + offset, n);
  return static_cast<int64_t>(n);
}
int64_t Size(void* user) {
  const auto* image = static_cast<const Image*>(user);
  return image->tell_size ? static_cast<int64_t>(image->size) : -1;
}

void TakeFrame(vorn_movie* movie, const vorn_info& info, std::vector<uint8_t>* pixels, uint32_t n) {
  vorn_planes planes;
  if (vorn_get_planes(movie, &planes) == VORN_OK) {
    volatile uint8_t sink = planes.y[planes.y_pitch * (planes.height - 1) + planes.width - 1];
    sink = planes.u[planes.uv_pitch * (planes.chroma_height - 1) + planes.chroma_width - 1];
    (void)sink;
  }
  const int format = 1 + static_cast<int>(n % 15);
  int32_t pitch = 0;
  pixels->assign(vorn_frame_buffer_size(movie, format, &pitch), 0);
  if (!pixels->empty()) vorn_copy_frame(movie, format, pixels->data(), pitch, n & 2 ? VORN_COPY_GREY : 0);
  for (uint32_t t = 0; t < info.track_count; t++) {
    const int16_t* pcm = nullptr;
    size_t bytes = 0;
    uint64_t first = 0;
    if (vorn_audio(movie, t, &pcm, &bytes, &first) == VORN_OK && bytes) {
      volatile int16_t last = pcm[bytes / 2 - 1];
      (void)last;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 45) return 0;
  const uint8_t mode = data[size - 1];
  Image image = {data, size, (mode & 2) != 0};
  const vorn_io io = {Read, Size, nullptr};
  vorn_movie* movie = nullptr;
  const int opened = mode & 1 ? vorn_open_callbacks(&io, &image, 0, &movie)
                              : vorn_open_memory(data, size, 0, &movie);
  if (opened != VORN_OK) return 0;
  vorn_info info;
  vorn_get_info(movie, &info);
  if (uint64_t{info.width} * info.height > kMaxPixels || info.frames > kMaxFrames) {
    vorn_close(movie);
    return 0;
  }
  std::vector<uint8_t> pixels;
  uint32_t n = 0;
  int result;
  while ((result = vorn_step(movie)) == VORN_OK || result == VORN_DAMAGED) TakeFrame(movie, info, &pixels, n++);
  // Seek targets from the header's bytes, exact and to key frames.
  for (uint32_t i = 0; i < 3; i++) {
    const uint32_t target = 1 + data[8 + i] % (info.frames + 1);
    if (vorn_seek(movie, target, i & 1 ? VORN_SEEK_KEY : VORN_SEEK_ACCURATE, nullptr) != VORN_OK) continue;
    for (uint32_t k = 0; k < 2 && vorn_step(movie) >= VORN_OK; k++) TakeFrame(movie, info, &pixels, n++);
  }
  vorn_close(movie);
  return 0;
}
