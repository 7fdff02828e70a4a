// A whole movie from memory: open, then decode every frame (audio into the
// rings of a silent driver, video into the frame buffers) and convert each
// into a few destination formats and scaling modes.
#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "sound/sound_track.h"

namespace {

// Pictures larger than this are skipped: they only cost time, the code paths
// are the same as for small ones.
constexpr uint64_t kMaxPixels = 256 * 256;
constexpr uint32_t kMaxFrames = 300;

// A driver that accepts every track and never plays: the engine still decodes
// each packet into the track's ring.
int SilentReady(SoundTrack*) { return 0; }
int SilentOnOff(SoundTrack*, int on) { return on; }
int SilentPause(SoundTrack*, int on) { return on; }
void SilentClose(SoundTrack*) {}
int SilentTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels,
                    uint32_t, Movie*) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  track->ready = SilentReady;
  track->set_on = SilentOnOff;
  track->pause = SilentPause;
  track->close = SilentClose;
  track->device_on = 1;
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  return 1;
}
SoundTrackOpenFn SilentDriver(uint32_t) { return SilentTrackOpen; }

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
  static bool driver_selected = SoundDriverSelect(SilentDriver, 0) != 0;
  (void)driver_selected;
  if (size >= 28 && uint64_t{ReadLe32(data + 20)} * ReadLe32(data + 24) > kMaxPixels) return 0;

  std::vector<uint8_t> image(data, data + size);
  static const uint32_t kTracks[] = {0, 1, 2, 3};
  MovieSetSoundTracks(4, kTracks);
  MovieSetFrameRate(0, 1);
  const uint32_t flags = OPEN_FROM_MEMORY | OPEN_NO_THREAD | OPEN_FRAME_RATE | OPEN_TRACKS |
                         OPEN_ALPHA | OPEN_NO_SKIP;
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
