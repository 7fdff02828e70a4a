// Kept apart from movie_fixtures.cc: only suites that link the encoder use it.
#include <gtest/gtest.h>

#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"

namespace {

struct Shapes {
  uint32_t frames, width, height;
};

int DrawShapes(void* user, uint32_t frame, VideoPicture* picture) {
  const auto* shapes = static_cast<const Shapes*>(user);
  if (frame >= shapes->frames) return 0;
  SynthPicture(SynthScene::kShapes, frame, shapes->width, shapes->height, false, picture);
  return 1;
}

int DrawTwoTrackFrame(void* user, uint32_t frame, VideoPicture* picture) {
  const auto* o = static_cast<const FixtureTwoTrackOptions*>(user);
  if (frame >= o->frames) return 0;
  const bool cut = o->cut_at != 0 && frame >= o->cut_at;
  SynthPicture(cut ? SynthScene::kNoise : SynthScene::kShapes, frame, o->width, o->height,
               o->alpha, picture);
  return 1;
}

}  // namespace

std::vector<uint8_t> FixtureEncoded(uint32_t frame_count, uint32_t width, uint32_t height) {
  Shapes shapes{frame_count, width, height};
  MovieEncodeOptions options;
  options.video.width = width;
  options.video.height = height;
  std::vector<uint8_t> bytes;
  MovieEncodeStats stats;
  const char* error = nullptr;
  EXPECT_TRUE(MovieEncode(options, DrawShapes, &shapes, &bytes, &stats, &error))
      << (error ? error : "");
  return bytes;
}

std::vector<uint8_t> FixtureTwoTrack(const FixtureTwoTrackOptions& o) {
  MovieEncodeOptions options;
  options.video.width = o.width;
  options.video.height = o.height;
  options.video.version = o.version;
  options.video.alpha = o.alpha;
  options.video.grey = o.grey;
  options.video.keyint = o.keyint;
  options.rate_num = o.rate_num;
  options.audio.resize(2);
  SynthMelody(22050, 2, o.seconds, &options.audio[0].samples);
  options.audio[0].id = 0;
  SynthMelody(11025, 1, o.seconds, &options.audio[1].samples);
  options.audio[1].rate = 11025;
  options.audio[1].channels = 1;
  options.audio[1].use_dct = false;
  options.audio[1].id = 1;
  std::vector<uint8_t> bytes;
  MovieEncodeStats stats;
  const char* error = nullptr;
  FixtureTwoTrackOptions drawn = o;
  EXPECT_TRUE(MovieEncode(options, DrawTwoTrackFrame, &drawn, &bytes, &stats, &error))
      << (error ? error : "");
  return bytes;
}
