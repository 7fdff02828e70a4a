// A whole movie from memory with engine allocations refused as the input
// chooses: the first 8 bytes are a mask (bit i refuses allocation i + 1),
// the rest is the movie. Open, play every frame with two tracks and alpha,
// seek, close: a refused open must say why, and nothing may stay allocated.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/engine_faults.h"
#include "engine/movie.h"
#include "sound/sound_silent.h"

namespace {

constexpr uint64_t kMaxPixels = 256 * 256;
constexpr uint32_t kMaxFrames = 120;

uint32_t ReadLe32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool driver_selected = SoundDriverSelect(SoundSilentDriver, 0) != 0;
  (void)driver_selected;
  if (size < 8) return 0;
  uint64_t mask = 0;
  for (int i = 0; i < 8; i++) mask |= uint64_t{data[i]} << (8 * i);
  data += 8;
  size -= 8;
  if (size >= 28 && uint64_t{ReadLe32(data + 20)} * ReadLe32(data + 24) > kMaxPixels) return 0;

  std::vector<uint8_t> image(data, data + size);
  static const uint32_t kTracks[] = {0, 1};
  MovieSetSoundTracks(2, kTracks);
  MovieSetMemorySize(static_cast<uint32_t>(image.size()));
  EngineFaultsInstall(0, mask);
  Movie* movie = MovieOpen(image.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD | OPEN_TRACKS |
                                             OPEN_ALPHA | OPEN_NO_SKIP);
  if (!movie) {
    if (!MovieGetError()[0]) std::abort();  // a refusal says why
  } else {
    const uint32_t frames = movie->frames < kMaxFrames ? movie->frames : kMaxFrames;
    for (uint32_t f = 0; f < frames; f++) {
      MovieDoFrame(movie);
      MovieNextFrame(movie);
    }
    MovieSeek(movie, frames / 2 + 1, (mask & 1) ? SEEK_EXACT : 0);
    MovieDoFrame(movie);
    MovieClose(movie);
  }
  const uint32_t left = EngineFaultsLive();
  EngineFaultsRemove();
  if (left) {
    std::fprintf(stderr, "%u engine blocks left behind\n", left);
    std::abort();
  }
  return 0;
}
