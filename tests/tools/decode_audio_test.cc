// vorntool's audio track extraction on movies built from encoded packets:
// track choice by identifier, exactly the PCM the engine's ring receives,
// and clear refusals of damaged movies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "audio/audio_decoder.h"
#include "vorntool/decode_audio.h"
#include "writer/audio_encoder.h"
#include "writer/movie_writer.h"
#include "platform/cpu.h"

namespace {

struct TwoTrackMovie {
  std::vector<uint8_t> bytes;
  std::vector<std::vector<uint8_t>> packets[2];  // per track, per frame
};

// Track id 5: 22050 Hz stereo DCT, 16-bit, whole-block packets; track id 9:
// 11025 Hz mono RDFT, 8-bit, a share of every frame.
TwoTrackMovie BuildMovie(uint32_t frame_count) {
  TwoTrackMovie movie;
  std::vector<int16_t> a(2 * 22050 * 2), b(11025 * 2);
  for (size_t i = 0; i < a.size() / 2; i++) {
    a[2 * i] = int16_t(8000 * std::sin(i * 0.05));
    a[2 * i + 1] = int16_t(5000 * std::sin(i * 0.013));
  }
  for (size_t i = 0; i < b.size(); i++) b[i] = int16_t(3000 * std::sin(i * 0.2));
  AudioEncoder* ea = AudioEncoderOpen(22050, 2, true, 90);
  AudioEncoder* eb = AudioEncoderOpen(11025, 1, false, 90);
  std::vector<MovieWriterFrame> frames;
  uint32_t pa = 0, pb = 0, max_a = 0, max_b = 0;
  const uint32_t total_a = uint32_t(a.size() / 2), total_b = uint32_t(b.size());
  for (uint32_t k = 0; k < frame_count; k++) {
    MovieWriterFrame f;
    f.key = k == 0;
    const uint32_t na = std::min(AudioEncoderFramesForVideoFrame(ea, k, 30, 1), total_a - pa);
    const uint32_t nb = std::min(11025u / 30 + (k % 3 == 0), total_b - pb);
    f.audio.push_back(AudioEncodePacket(ea, a.data() + 2 * pa, na, a.data() + 2 * (pa + na), total_a - pa - na));
    f.audio.push_back(AudioEncodePacket(eb, b.data() + pb, nb, b.data() + pb + nb, total_b - pb - nb));
    movie.packets[0].push_back(f.audio[0]);
    movie.packets[1].push_back(f.audio[1]);
    pa += na;
    pb += nb;
    max_a = std::max(max_a, na * 4);
    max_b = std::max(max_b, nb * 2);
    f.video = {1, 2, 3, 4};
    frames.push_back(f);
  }
  MovieWriterHeader header;
  header.width = 16;
  header.height = 16;
  const std::vector<MovieWriterTrack> tracks = {{max_a, AudioEncoderTrackFormat(ea, true), 5},
                                                {max_b, AudioEncoderTrackFormat(eb, false), 9}};
  movie.bytes = MovieWriterBuild(header, tracks, frames);
  AudioEncoderClose(ea);
  AudioEncoderClose(eb);
  return movie;
}

void Append(void* context, const int16_t* pcm, uint32_t bytes) {
  auto* out = static_cast<std::vector<int16_t>*>(context);
  out->insert(out->end(), pcm, pcm + bytes / 2);
}

std::vector<int16_t> DecodeDirectly(const std::vector<std::vector<uint8_t>>& packets, uint32_t rate,
                                    uint32_t channels, int dct) {
  AudioDecoder* d = AudioDecoderOpen(rate, channels, dct, CpuFeatures());
  std::vector<int16_t> out;
  for (const auto& p : packets) {
    if (!p.empty()) AudioDecodePacket(d, p.data(), p.data() + p.size(), ~0u, Append, &out);
  }
  AudioDecoderClose(d);
  return out;
}

TEST(DecodeAudio, ChoosesTracksByIdentifierAndYieldsTheRingPcm) {
  const TwoTrackMovie movie = BuildMovie(40);
  DecodedTrack first, second;
  std::string error;
  ASSERT_TRUE(DecodeAudioTrack(movie.bytes.data(), movie.bytes.size(), false, 0, &first, &error)) << error;
  EXPECT_EQ(first.rate, 22050u);
  EXPECT_EQ(first.channels, 2u);
  EXPECT_EQ(first.bits, 16u);
  EXPECT_EQ(first.pcm, DecodeDirectly(movie.packets[0], 22050, 2, 1));
  ASSERT_TRUE(DecodeAudioTrack(movie.bytes.data(), movie.bytes.size(), true, 9, &second, &error)) << error;
  EXPECT_EQ(second.rate, 11025u);
  EXPECT_EQ(second.channels, 1u);
  EXPECT_EQ(second.bits, 8u);
  EXPECT_EQ(second.pcm, DecodeDirectly(movie.packets[1], 11025, 1, 0));
  EXPECT_FALSE(DecodeAudioTrack(movie.bytes.data(), movie.bytes.size(), true, 7, &second, &error));
  EXPECT_EQ(error, "The movie has no audio track with identifier 7.");
}

TEST(DecodeAudio, DamagedMoviesAreRefusedWithAReason) {
  const TwoTrackMovie movie = BuildMovie(6);
  DecodedTrack track;
  std::string error;
  EXPECT_FALSE(DecodeAudioTrack(movie.bytes.data(), 20, false, 0, &track, &error));
  EXPECT_EQ(error, "Not a Vorn file.");
  // Cut inside the last frame: the frames before keep their sound, the cut
  // one is reported missing.
  DecodedTrack whole;
  ASSERT_TRUE(DecodeAudioTrack(movie.bytes.data(), movie.bytes.size(), false, 0, &whole, &error));
  EXPECT_EQ(whole.missing_frames, 0u);
  ASSERT_TRUE(DecodeAudioTrack(movie.bytes.data(), movie.bytes.size() - 10, false, 0, &track, &error))
      << error;
  EXPECT_EQ(track.missing_frames, 1u);
  EXPECT_EQ(track.first_missing_frame, 6u);
  EXPECT_LT(track.pcm.size(), whole.pcm.size());
  EXPECT_TRUE(std::equal(track.pcm.begin(), track.pcm.end(), whole.pcm.begin()));
  // A packet length that runs past its frame.
  std::vector<uint8_t> broken = movie.bytes;
  uint32_t first_frame = 0;
  std::memcpy(&first_frame, broken.data() + 68, 4);  // index entry 0, behind 2 x 3 table words
  first_frame &= ~1u;
  broken[first_frame + 3] = 0x7F;
  EXPECT_FALSE(DecodeAudioTrack(broken.data(), broken.size(), false, 0, &track, &error));
  EXPECT_NE(error.find("Frame 1"), std::string::npos) << error;
  // A track without a coding variant.
  broken = movie.bytes;
  broken[44 + 8 + 3] = 0x40;  // format of track 0: 16-bit only
  EXPECT_FALSE(DecodeAudioTrack(broken.data(), broken.size(), false, 0, &track, &error));
  EXPECT_NE(error.find("no coded sound"), std::string::npos) << error;
}

}  // namespace
