// The copy behind the engine's frame cursor: encoded movies opened from
// memory, each frame decoded and copied as the player does.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "synth/synth.h"
#include "writer/movie_writer.h"
#include "writer/video_encoder.h"

namespace {

struct EncodedMovie {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> recon;  // the encoder's picture of each frame
  uint32_t pitch = 0, rows = 0;
};

EncodedMovie Encode(uint32_t width, uint32_t height, uint32_t frames) {
  EncodedMovie m;
  VideoEncoderOptions options;
  options.width = width;
  options.height = height;
  options.keyint = 4;
  VideoEncoder* encoder = VideoEncoderCreate(options);
  std::vector<MovieWriterFrame> out(frames);
  VideoPicture picture;
  for (uint32_t k = 0; k < frames; ++k) {
    SynthPicture(SynthScene::kShapes, k, width, height, false, &picture);
    VideoFrameStats stats;
    VideoEncoderEncode(encoder, picture, k == 0, &out[k].video, &stats);
    out[k].key = stats.key;
    VideoReconView view = VideoEncoderRecon(encoder);
    m.pitch = view.pitch;
    m.rows = view.rows;
    m.recon.emplace_back(view.frame, view.frame + size_t{view.pitch} * view.rows * 3 / 2);
  }
  MovieWriterHeader header;
  header.width = width;
  header.height = height;
  m.bytes = MovieWriterBuild(header, {}, out);
  VideoEncoderDestroy(encoder);
  return m;
}

TEST(ConvertWithEngine, PlanarCopyShowsTheFrameDecodedLast) {
  const uint32_t W = 48, H = 32, kFrames = 6;
  EncodedMovie encoded = Encode(W, H, kFrames);
  Movie* movie = MovieOpen(encoded.bytes.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  std::vector<uint8_t> dest(W * H * 3 / 2);
  for (uint32_t k = 0; k < kFrames; ++k) {
    ASSERT_EQ(MovieDoFrame(movie), 0);
    MovieCopyToBuffer(movie, dest.data(), W, H, 0, 0, 0, 0, W, H, COPY_YV12 | COPY_NO_SKIP);
    const std::vector<uint8_t>& recon = encoded.recon[k];
    for (uint32_t y = 0; y < H; ++y)
      ASSERT_EQ(std::memcmp(&dest[y * W], &recon[y * encoded.pitch], W), 0) << k << " " << y;
    const uint8_t* first = recon.data() + size_t{encoded.pitch} * encoded.rows;
    const uint8_t* second = first + size_t{encoded.pitch / 2} * (encoded.rows / 2);
    for (uint32_t y = 0; y < H / 2; ++y) {
      ASSERT_EQ(std::memcmp(&dest[W * H + y * (W / 2)], first + y * (encoded.pitch / 2), W / 2), 0);
      ASSERT_EQ(std::memcmp(&dest[W * H + (W / 2) * (H / 2) + y * (W / 2)],
                            second + y * (encoded.pitch / 2), W / 2),
                0);
    }
    MovieNextFrame(movie);
  }
  MovieClose(movie);
}

// A buffer that only ever receives the changed blocks stays equal to a full
// conversion of every frame.
TEST(ConvertWithEngine, ChangedBlocksKeepABufferCurrent) {
  const uint32_t W = 72, H = 40, kFrames = 10;
  EncodedMovie encoded = Encode(W, H, kFrames);
  Movie* movie = MovieOpen(encoded.bytes.data(), OPEN_FROM_MEMORY | OPEN_NO_THREAD);
  ASSERT_NE(movie, nullptr) << MovieGetError();
  std::vector<uint8_t> kept(W * H * 4, 0), full(W * H * 4, 0);
  bool some_partial = false;
  for (uint32_t k = 0; k < kFrames; ++k) {
    ASSERT_EQ(MovieDoFrame(movie), 0);
    some_partial |= std::memchr(movie->block_map, 0, movie->block_count) != nullptr;
    MovieCopyToBuffer(movie, kept.data(), W * 4, H, 0, 0, 0, 0, W, H, COPY_BGRX32 | COPY_NO_SKIP);
    MovieCopyToBuffer(movie, full.data(), W * 4, H, 0, 0, 0, 0, W, H,
                      COPY_BGRX32 | COPY_ALL | COPY_NO_SKIP);
    ASSERT_EQ(kept, full) << "frame " << k;
    MovieNextFrame(movie);
  }
  EXPECT_TRUE(some_partial);
  MovieClose(movie);
}

}  // namespace
