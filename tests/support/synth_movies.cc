#include "support/synth_movies.h"

#include <gtest/gtest.h>

#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

struct Source {
  uint32_t width, height, frames;
  bool alpha;
};

int DrawFrame(void* user, uint32_t frame, VideoPicture* picture) {
  const auto* source = static_cast<const Source*>(user);
  if (frame >= source->frames) return 0;
  SynthPicture(SynthScene::kDemo, frame, source->width, source->height, source->alpha, picture);
  return 1;
}

}  // namespace

std::vector<uint8_t> SynthMovie(const SynthMovieSpec& spec) {
  Source source = {spec.width, spec.height, spec.frames, spec.alpha};
  MovieEncodeOptions options;
  options.video.width = spec.width;
  options.video.height = spec.height;
  options.video.version = spec.version;
  options.video.alpha = spec.alpha;
  options.video.grey = spec.grey;
  options.video.keyint = spec.keyint;
  options.video.scene_cuts = false;  // key frames exactly where keyint puts them
  options.rate_num = spec.rate_num;
  options.rate_den = spec.rate_den;
  const double seconds = double(spec.frames) * spec.rate_den / spec.rate_num + 1.0;
  for (const SynthMovieSpec::Track& t : spec.tracks) {
    MovieAudioInput audio;
    audio.rate = t.rate;
    audio.channels = t.channels;
    audio.use_dct = t.use_dct;
    audio.id = t.id;
    SynthMelody(t.rate, t.channels, seconds, &audio.samples);
    options.audio.push_back(std::move(audio));
  }
  std::vector<uint8_t> movie;
  MovieEncodeStats stats;
  const char* error = nullptr;
  if (!MovieEncode(options, DrawFrame, &source, &movie, &stats, &error)) {
    ADD_FAILURE() << "encoding the test movie failed: " << (error ? error : "");
    movie.clear();
  }
  return movie;
}
