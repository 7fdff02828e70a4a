// The embedded closing logo: a valid one-frame movie of the required shape
// whose picture decodes to (close to) the procedural logo it was made from.
#include <gtest/gtest.h>

#include <cstring>

#include "logo/logo_movie.h"
#include "synth/logo.h"
#include "writer_test_util.h"

namespace {

uint32_t Word(const unsigned char* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24);
}

TEST(ClosingLogo, IsAOneFrameSilentMovieOfTheLogoSize) {
  ASSERT_GE(kLogoMovieSize, 56u);
  EXPECT_EQ(std::memcmp(kLogoMovie, "VXNi", 4), 0);
  EXPECT_EQ(Word(kLogoMovie + 4), kLogoMovieSize - 8);  // size_less_8
  EXPECT_EQ(Word(kLogoMovie + 8), 1u);                  // frames
  EXPECT_EQ(Word(kLogoMovie + 16), 1u);                 // index_frames
  EXPECT_EQ(Word(kLogoMovie + 20), 224u);
  EXPECT_EQ(Word(kLogoMovie + 24), 252u);
  EXPECT_EQ(Word(kLogoMovie + 28) / Word(kLogoMovie + 32), 10u);
  EXPECT_EQ(Word(kLogoMovie + 40), 0u);                 // no sound tracks
  EXPECT_EQ(Word(kLogoMovie + 44), 52u | 1u);           // first packet, a key frame
  EXPECT_EQ(Word(kLogoMovie + 48), kLogoMovieSize);
}

TEST(ClosingLogo, DecodesToTheLogoPicture) {
  ASSERT_GT(kLogoMovieSize, 52u);
  VideoEncoderOptions o;
  o.width = kLogoWidth;
  o.height = kLogoHeight;
  DecoderHarness h;
  HarnessInit(&h, o);
  std::vector<uint8_t> video(kLogoMovie + 52, kLogoMovie + kLogoMovieSize);
  HarnessDecode(&h, video, true);
  VideoPicture logo;
  LogoPicture(&logo);
  double sse = 0;
  for (uint32_t y = 0; y < kLogoHeight; y++)
    for (uint32_t x = 0; x < kLogoWidth; x++) {
      double d = static_cast<double>(logo.y[y * kLogoWidth + x]) - HarnessFrame(h)[y * h.pitch + x];
      sse += d * d;
    }
  EXPECT_GT(VideoPsnr(sse, uint64_t{kLogoWidth} * kLogoHeight), 38.0);
}

}  // namespace
