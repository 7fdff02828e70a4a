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
