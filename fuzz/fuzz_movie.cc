// A whole movie from memory: open, then decode every frame (audio into the
// rings of a silent driver, video into the frame buffers) and convert each
// into a few destination formats and scaling modes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "sound/sound_silent.h"

namespace {

// Pictures larger than this are skipped: they only cost time, the code paths
// are the same as for small ones.
constexpr uint64_t kMaxPixels = 256 * 256;
constexpr uint32_t kMaxFrames = 300;

uint32_t ReadLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}

void CopyFrame(Movie* movie, std::vector<uint8_t>* out, uint32_t frame) {
  static constexpr uint32_t kFormats[] = {COPY_BGRX32, COPY_RGB565, COPY_YUY2, COPY_YV12,
                                          COPY_ARGB4444, COPY_BGR24};
  const uint32_t format = kFormats[frame % 6];
  const uint32_t scale = (frame / 6) % 8;
  const uint32_t pitch = movie->width * 4 + 16;
  const uint32_t lines = movie->height * 2 + 2;
  out->assign(size_t{pitch} * lines * 2, 0);
  uint32_t flags = format | (scale << COPY_SCALE_SHIFT) | COPY_NO_SKIP;
  if (frame & 1) flags |= COPY_ALL;
  MovieCopyToBuffer(movie, out->data(), static_cast<int32_t>(pitch), lines, 0, 0, 0, 0,
                    movie->width, movie->height, flags);
  MovieGetRects(movie, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool driver_selected = SoundDriverSelect(SoundSilentDriver, 0) != 0;
  (void)driver_selected;
  if (size >= 28 && uint64_t{ReadLe32(data + 20)} * ReadLe32(data + 24) > kMaxPixels) return 0;

  std::vector<uint8_t> image(data, data + size);
  static const uint32_t kTracks[] = {0, 1, 2, 3};
  MovieSetSoundTracks(4, kTracks);
  MovieSetFrameRate(0, 1);
  const uint32_t flags = OPEN_FROM_MEMORY | OPEN_NO_THREAD | OPEN_FRAME_RATE | OPEN_TRACKS |
                         OPEN_ALPHA | OPEN_NO_SKIP;
  MovieSetMemorySize(static_cast<uint32_t>(image.size()));
  Movie* movie = MovieOpen(image.data(), flags);
  if (!movie) return 0;
  std::vector<uint8_t> out;
  const uint32_t frames = movie->frames < kMaxFrames ? movie->frames : kMaxFrames;
  for (uint32_t f = 0; f < frames; f++) {
    if (MovieDoFrame(movie)) break;
    CopyFrame(movie, &out, f);
    MovieNextFrame(movie);
  }
  MovieClose(movie);
  return 0;
}
