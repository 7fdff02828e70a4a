// The encoder with its large allocations refused one at a time: each
// refusal ends the encode with "Out of memory." (and, under ASan, nothing
// leaked), never with a crash or a movie that is not whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/movie.h"
#include "synth/synth.h"
#include "writer/encode_movie.h"
#include "writer/writer_memory.h"

namespace {

uint32_t g_asked = 0, g_fail_at = 0;
bool CountingHook(size_t) { return ++g_asked != g_fail_at; }

int Shapes(void*, uint32_t frame, VideoPicture* picture) {
  if (frame >= 4) return 0;
  SynthPicture(SynthScene::kShapes, frame, 40, 24, true, picture);
  return 1;
}

bool Encode(std::vector<uint8_t>* movie, const char** error) {
  MovieEncodeOptions options;
  options.video.width = 40;
  options.video.height = 24;
  options.video.alpha = true;
  options.audio.resize(2);
  SynthMelody(22050, 2, 0.3, &options.audio[0].samples);
  SynthMelody(11025, 1, 0.3, &options.audio[1].samples);
  options.audio[1].rate = 11025;
  options.audio[1].channels = 1;
  options.audio[1].id = 1;
  MovieEncodeStats stats;
  return MovieEncode(options, Shapes, nullptr, movie, &stats, error);
}

TEST(WriterMemory, EachRefusedAllocationFailsTheEncodeWithOutOfMemory) {
  WriterSetAllocHook(CountingHook);
  g_asked = 0;
  g_fail_at = 0;
  std::vector<uint8_t> whole;
  const char* error = nullptr;
  ASSERT_TRUE(Encode(&whole, &error)) << error;
  const uint32_t total = g_asked;
  ASSERT_GE(total, 3u);  // the video encoder and one per track
  for (uint32_t n = 1; n <= total; n++) {
    g_asked = 0;
    g_fail_at = n;
    std::vector<uint8_t> movie;
    error = nullptr;
    EXPECT_FALSE(Encode(&movie, &error)) << "allocation " << n;
    EXPECT_STREQ(error, "Out of memory.") << "allocation " << n;
  }
  // Without the hook the same encode works again: no refusal note lingers.
  WriterSetAllocHook(nullptr);
  std::vector<uint8_t> again;
  ASSERT_TRUE(Encode(&again, &error)) << error;
  EXPECT_EQ(again, whole);
  EXPECT_FALSE(WriterTakeRefusal());
}

}  // namespace
