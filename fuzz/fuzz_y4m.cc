// The encoder's picture reader on any bytes: the header and every picture
// are read; what was read is written out again and read back, which must
// give the same pictures (the writer's stream is always plain 4:2:0).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "vorntool/encode/y4m.h"

namespace {

// Pictures beyond this many samples only cost time: the same code reads them.
constexpr uint64_t kMaxSamples = 512 * 512;
constexpr int kMaxPictures = 16;

bool SamePicture(const VideoPicture& a, const VideoPicture& b) {
  return a.width == b.width && a.height == b.height && a.y == b.y && a.u == b.u && a.v == b.v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::vector<uint8_t> bytes(data, data + size);
  std::FILE* in = fmemopen(bytes.data(), bytes.size(), "rb");
  if (!in) return 0;
  Y4mReader reader;
  std::string error;
  if (!Y4mOpenStream(in, &reader, &error)) {
    if (error.empty()) std::abort();  // every refusal says why
    return 0;
  }
  if (uint64_t{reader.width} * reader.height > kMaxSamples) {
    Y4mClose(&reader);
    return 0;
  }
  char* written = nullptr;
  size_t written_size = 0;
  std::FILE* out = open_memstream(&written, &written_size);
  Y4mWriter writer;
  Y4mCreateStream(out, reader.width, reader.height, reader.rate_num ? reader.rate_num : 30,
                  reader.rate_den ? reader.rate_den : 1, &writer);
  std::vector<VideoPicture> pictures;
  VideoPicture picture;
  int result = 0;
  while (pictures.size() < kMaxPictures && (result = Y4mReadPicture(&reader, &picture, &error)) == 1) {
    if (!Y4mWritePicture(&writer, picture)) std::abort();
    pictures.push_back(picture);
  }
  if (result < 0 && error.empty()) std::abort();
  Y4mClose(&reader);
  Y4mFinish(&writer);
  std::fclose(out);

  std::FILE* again = fmemopen(written, written_size, "rb");
  Y4mReader second;
  if (!again || !Y4mOpenStream(again, &second, &error)) std::abort();
  if (second.width != reader.width || second.height != reader.height) std::abort();
  for (const VideoPicture& expected : pictures) {
    if (Y4mReadPicture(&second, &picture, &error) != 1 || !SamePicture(expected, picture))
      std::abort();
  }
  if (Y4mReadPicture(&second, &picture, &error) != 0) std::abort();
  Y4mClose(&second);
  std::free(written);
  return 0;
}
