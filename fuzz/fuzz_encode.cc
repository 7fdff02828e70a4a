// The encoder as a whole on fuzzed inputs: option bits, a picture stream and
// an optional sound file (from the first "RIFF" on). Whatever the encoder
// accepts must be a movie the engine opens and decodes to the end without
// an error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "sound/sound_silent.h"
#include "vorntool/encode/wav.h"
#include "vorntool/encode/y4m.h"
#include "writer/encode_movie.h"

namespace {

// Small sizes keep each run short; the code paths are those of large ones.
constexpr uint64_t kMaxSamples = 64 * 64;
constexpr uint32_t kMaxFrames = 6;
constexpr size_t kMaxSoundSamples = 44100;

struct Pictures {
  Y4mReader video;
  Y4mReader alpha;
  bool has_alpha = false;
  std::string error;
};

int ReadPicture(void* user, uint32_t, VideoPicture* picture) {
  auto* in = static_cast<Pictures*>(user);
  const int got = Y4mReadPicture(&in->video, picture, &in->error);
  if (got <= 0 || !in->has_alpha) return got;
  VideoPicture alpha;
  if (Y4mReadPicture(&in->alpha, &alpha, &in->error) != 1) return -1;
  picture->a = std::move(alpha.y);
  return 1;
}

bool OpenPictures(std::vector<uint8_t>* bytes, Y4mReader* reader) {
  std::FILE* file = bytes->empty() ? nullptr : fmemopen(bytes->data(), bytes->size(), "rb");
  std::string error;
  return file && Y4mOpenStream(file, reader, &error);
}

// The movie the encoder made, opened from memory with every track and
// alpha, decoded frame by frame.
void PlayBack(std::vector<uint8_t>* movie_bytes) {
  static const uint32_t kTracks[] = {0, 1};
  MovieSetSoundTracks(2, kTracks);
  MovieSetMemorySize(static_cast<uint32_t>(movie_bytes->size()));
  Movie* movie = MovieOpen(movie_bytes->data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD | OPEN_TRACKS |
                                                    OPEN_ALPHA | OPEN_NO_SKIP);
  if (!movie) {
    std::fprintf(stderr, "encoded movie refused: %s\n", MovieGetError());
    std::abort();
  }
  for (uint32_t f = 1; f <= movie->frames; f++) {
    if (MovieDoFrame(movie) || movie->read_error) {
      std::fprintf(stderr, "encoded movie: frame %u fails\n", f);
      std::abort();
    }
    MovieNextFrame(movie);
  }
  MovieClose(movie);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool driver_selected = SoundDriverSelect(SoundSilentDriver, 0) != 0;
  (void)driver_selected;
  if (size < 2) return 0;
  const uint8_t option_bits = data[0];
  const int quality = 1 + data[1] % 100;
  const uint8_t* rest = data + 2;
  const size_t rest_size = size - 2;
  const uint8_t* riff = static_cast<const uint8_t*>(memmem(rest, rest_size, "RIFF", 4));
  const size_t video_size = riff ? static_cast<size_t>(riff - rest) : rest_size;
  std::vector<uint8_t> video_bytes(rest, rest + video_size);
  std::vector<uint8_t> alpha_bytes = video_bytes;

  Pictures in;
  if (!OpenPictures(&video_bytes, &in.video)) return 0;
  if (uint64_t{in.video.width} * in.video.height > kMaxSamples) {
    Y4mClose(&in.video);
    return 0;
  }
  MovieEncodeOptions options;
  options.video.width = in.video.width;
  options.video.height = in.video.height;
  options.video.version = static_cast<char>('f' + (option_bits & 3));
  options.video.grey = (option_bits & 4) != 0;
  options.video.alpha = (option_bits & 8) != 0;
  options.video.quality = quality;
  options.video.keyint = (option_bits >> 5) & 3;
  options.rate_num = in.video.rate_num ? in.video.rate_num : 30;
  options.rate_den = in.video.rate_num ? in.video.rate_den : 1;
  options.frames = kMaxFrames;
  if (options.video.alpha) in.has_alpha = OpenPictures(&alpha_bytes, &in.alpha);
  options.video.alpha = in.has_alpha;

  WavSound sound;
  std::string error;
  if (riff && WavReadMemory(riff, size - static_cast<size_t>(riff - data), &sound, &error)) {
    if (sound.samples.size() > kMaxSoundSamples) sound.samples.resize(kMaxSoundSamples);
    sound.samples.resize(sound.samples.size() - sound.samples.size() % sound.channels);
    MovieAudioInput track;
    track.samples = std::move(sound.samples);
    track.rate = sound.rate;
    track.channels = sound.channels;
    track.sixteen_bit = sound.bits == 16;
    track.use_dct = (option_bits & 16) == 0;
    track.quality = quality - 1;
    options.audio.push_back(std::move(track));
  }
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* encode_error = nullptr;
  const bool encoded = MovieEncode(options, ReadPicture, &in, &movie, &stats, &encode_error);
  Y4mClose(&in.video);
  Y4mClose(&in.alpha);
  if (!encoded) {
    if (!encode_error || !*encode_error) std::abort();  // a refusal says why
    return 0;
  }
  PlayBack(&movie);
  return 0;
}
