// Round trips through the audio encoder and decoder: both variants, mono and
// stereo, three rates, whole-block packets and packets cut anywhere.
//
// The floors follow from the quantiser: a step of s on the coefficients puts
// about s / sqrt(6) of noise on each output sample (N coefficients with
// uniform error of variance s^2 / 12 through an orthogonal transform scaled
// by 2 / sqrt(N)), plus 1 / sqrt(12) from rounding to 16 bits. Quality 100
// asks for s = 1, but magnitudes have 15 bits, so a band holding a peak P
// needs s >= P / 32767: a 9000-amplitude tone reaches P = 9000 sqrt(N) / 2,
// s = 9 at N = 4096, about 3.7 LSB of noise in that band, 74 dB below the
// 6400-LSB (rms) test signal. Quality 50 uses s = 10^(30 * 0.0664) = 98:
// about 40 LSB, 41 dB below the 4500-LSB mono mix. The floors sit 2 dB and
// 1 dB under those figures.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/audio_decoder.h"
#include "audio/audio_decoder_record.h"
#include "audio/audio_transform.h"
#include "engine/movie.h"
#include "platform/cpu.h"
#include "writer/audio_encoder.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Left: a 440 Hz tone; right (or mono mixed in): a chirp over the whole band.
std::vector<int16_t> TestSignal(uint32_t rate, uint32_t channels, uint32_t frames) {
  std::vector<int16_t> pcm(size_t{frames} * channels);
  const double top = 0.45 * rate, seconds = double(frames) / rate;
  for (uint32_t i = 0; i < frames; i++) {
    const double t = double(i) / rate;
    const double tone = 9000 * std::sin(2 * kPi * 440 * t);
    const double chirp = 9000 * std::sin(2 * kPi * (50 * t + (top - 50) * t * t / (2 * seconds)));
    if (channels == 1) {
      pcm[i] = int16_t(std::lrint(0.5 * (tone + chirp)));
    } else {
      pcm[2 * i] = int16_t(std::lrint(tone));
      pcm[2 * i + 1] = int16_t(std::lrint(chirp));
    }
  }
  return pcm;
}

double SnrDb(const std::vector<int16_t>& want, const std::vector<int16_t>& got) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < want.size(); i++) {
    signal += double(want[i]) * want[i];
    const double d = double(want[i]) - got[i];
    noise += d * d;
  }
  return 10 * std::log10(signal / (noise + 1e-9));
}

void Append(void* context, const int16_t* pcm, uint32_t bytes) {
  auto* out = static_cast<std::vector<int16_t>*>(context);
  out->insert(out->end(), pcm, pcm + bytes / 2);
}

struct Case {
  uint32_t rate, channels;
  bool dct;
};

// Encodes with the given per-packet frame counts, decodes packet by packet
// and checks every packet yields exactly its bytes.
std::vector<int16_t> RoundTrip(const Case& c, int quality, const std::vector<int16_t>& pcm,
                               const std::vector<uint32_t>& packet_frames) {
  AudioEncoder* enc = AudioEncoderOpen(c.rate, c.channels, c.dct, quality);
  EXPECT_TRUE(enc);
  AudioDecoder* dec = AudioDecoderOpen(c.rate, c.channels, c.dct, CpuFeatures());
  std::vector<int16_t> out;
  const uint32_t total = uint32_t(pcm.size() / c.channels);
  uint32_t pos = 0;
  for (uint32_t frames : packet_frames) {
    frames = std::min(frames, total - pos);
    const std::vector<uint8_t> payload =
        AudioEncodePacket(enc, pcm.data() + pos * c.channels, frames, pcm.data() + (pos + frames) * c.channels,
                          total - pos - frames);
    if (frames == 0) {
      EXPECT_TRUE(payload.empty());
      continue;
    }
    const size_t before = out.size();
    const uint32_t made =
        AudioDecodePacket(dec, payload.data(), payload.data() + payload.size(), ~0u, Append, &out);
    EXPECT_EQ(made, frames * c.channels * 2);
    EXPECT_EQ(out.size() - before, size_t{frames} * c.channels);
    pos += frames;
  }
  AudioDecoderClose(dec);
  AudioEncoderClose(enc);
  return out;
}

class AudioRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(AudioRoundTrip, WholeBlockPacketsAtTwoQualities) {
  const Case c = GetParam();
  AudioEncoder* enc = AudioEncoderOpen(c.rate, c.channels, c.dct, 100);
  std::vector<uint32_t> plan;
  uint32_t planned = 0;
  for (uint32_t k = 0; k < 30; k++) {
    plan.push_back(AudioEncoderFramesForVideoFrame(enc, k, 30, 1));
    planned += plan.back();
  }
  AudioEncoderClose(enc);
  const std::vector<int16_t> pcm = TestSignal(c.rate, c.channels, planned);
  const std::vector<int16_t> best = RoundTrip(c, 100, pcm, plan);
  ASSERT_EQ(best.size(), pcm.size());
  EXPECT_GT(SnrDb(pcm, best), 72.0);
  const std::vector<int16_t> mid = RoundTrip(c, 50, pcm, plan);
  ASSERT_EQ(mid.size(), pcm.size());
  EXPECT_GT(SnrDb(pcm, mid), 40.0);
}

TEST_P(AudioRoundTrip, PacketsCutAnywhereStillJoinUp) {
  const Case c = GetParam();
  // Shares of a 30 frames per second movie, plus odd sizes that cut blocks
  // near their start and end.
  std::vector<uint32_t> plan = {c.rate * 3 / 4, 1, 7, c.rate / 30, c.rate / 30 + 1, 0, c.rate / 10, 3, 1000};
  uint32_t planned = 0;
  for (uint32_t f : plan) planned += f;
  const std::vector<int16_t> pcm = TestSignal(c.rate, c.channels, planned);
  const std::vector<int16_t> out = RoundTrip(c, 100, pcm, plan);
  ASSERT_EQ(out.size(), pcm.size());
  EXPECT_GT(SnrDb(pcm, out), 72.0);
}

INSTANTIATE_TEST_SUITE_P(Tracks, AudioRoundTrip,
                         ::testing::Values(Case{11025, 1, true}, Case{11025, 2, true}, Case{11025, 1, false},
                                           Case{11025, 2, false}, Case{22050, 1, true}, Case{22050, 2, true},
                                           Case{22050, 1, false}, Case{22050, 2, false}, Case{44100, 1, true},
                                           Case{44100, 2, true}, Case{44100, 1, false}, Case{44100, 2, false}),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           return std::to_string(info.param.rate) + (info.param.channels == 2 ? "Stereo" : "Mono") +
                                  (info.param.dct ? "Dct" : "Rdft");
                         });

TEST(AudioEncoderPlan, LeadInThenWholeBlocksKeepingAhead) {
  AudioEncoder* enc = AudioEncoderOpen(22050, 2, true, 75);
  EXPECT_EQ(AudioEncoderBlockFrames(enc), 960u);
  // 0.75 s = 16537.5 frames: 18 blocks, as movies of this kind carry.
  EXPECT_EQ(AudioEncoderFramesForVideoFrame(enc, 0, 30, 1) * 4, 69120u);
  uint64_t total = AudioEncoderFramesForVideoFrame(enc, 0, 30, 1);
  for (uint32_t k = 1; k < 300; k++) {
    const uint32_t f = AudioEncoderFramesForVideoFrame(enc, k, 30, 1);
    EXPECT_TRUE(f == 0 || f == 960) << k;
    total += f;
    EXPECT_GE(total * 30, 22050ull * 3 / 4 * 30 + 22050ull * k);  // always 0.75 s ahead
    EXPECT_LT(total * 30, 22050ull * 3 / 4 * 30 + 22050ull * k + 960 * 30 + 30);
  }
  EXPECT_EQ(AudioEncoderTrackFormat(enc, true), 22050u | AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO | AUDIO_TRACK_16BIT);
  AudioEncoderClose(enc);
  AudioEncoder* rdft = AudioEncoderOpen(44100, 1, false, 75);
  EXPECT_EQ(AudioEncoderTrackFormat(rdft, false), 44100u | AUDIO_TRACK_RDFT);
  AudioEncoderClose(rdft);
  EXPECT_EQ(AudioEncoderOpen(0, 1, true, 50), nullptr);
  EXPECT_EQ(AudioEncoderOpen(22050, 3, true, 50), nullptr);
}

TEST(AudioEncoderPlan, FullScaleSquareAndNoiseSurviveTheRoundTrip) {
  // Peaks at the 16-bit limits: band scales must grow to keep magnitudes in
  // 15 bits, and the overshoot of the decoded edges must clamp, not wrap.
  for (const Case& c : {Case{44100, 2, false}, Case{22050, 1, true}}) {
    const uint32_t frames = c.rate;
    std::vector<int16_t> pcm(size_t{frames} * c.channels);
    uint32_t noise = 1;
    for (size_t i = 0; i < pcm.size(); i++) {
      noise = noise * 1664525u + 1013904223u;
      pcm[i] = (i / c.channels) % 200 < 100 ? 32767 : -32768;
      if (c.channels == 2 && i % 2) pcm[i] = int16_t(noise >> 16);
    }
    const std::vector<int16_t> out = RoundTrip(c, 100, pcm, {frames / 2, frames - frames / 2});
    ASSERT_EQ(out.size(), pcm.size());
    // Full-scale peaks force steps up to sqrt(N) / 2 (32 at N = 4096): about
    // 13 LSB of noise against a 23000-LSB signal, 65 dB.
    EXPECT_GT(SnrDb(pcm, out), 65.0) << c.rate;
  }
}

TEST(AudioRoundTripLevels, EveryVectorLevelDecodesTheSameSamples) {
  // The vector kernels repeat the plain ones' operations in the same order,
  // so the player sounds the same on every processor.
  for (const Case& c : {Case{44100, 2, false}, Case{44100, 2, true}, Case{11025, 1, true}}) {
    const std::vector<int16_t> pcm = TestSignal(c.rate, c.channels, c.rate / 2);
    std::vector<std::vector<int16_t>> outputs;
    for (uint32_t mask : {0u, uint32_t{CPU_SSE2}, ~0u}) {
      // The decoder sets its kernels up from CpuFeatures() when it opens.
      const uint32_t old = CpuSetMask(mask);
      outputs.push_back(RoundTrip(c, 80, pcm, {c.rate / 4, 1001, c.rate / 2 - c.rate / 4 - 1001}));
      CpuSetMask(old);
    }
    EXPECT_EQ(outputs[0], outputs[1]) << c.rate << (c.dct ? " dct" : " rdft");
    EXPECT_EQ(outputs[0], outputs[2]) << c.rate << (c.dct ? " dct" : " rdft");
  }
}

TEST(AudioEncoderPlan, SilenceCostsLittleAndDecodesToSilence) {
  const Case c = {44100, 2, false};
  std::vector<int16_t> pcm(2 * 7680, 0);
  AudioEncoder* enc = AudioEncoderOpen(c.rate, c.channels, c.dct, 100);
  const std::vector<uint8_t> payload = AudioEncodePacket(enc, pcm.data(), 7680, nullptr, 0);
  AudioEncoderClose(enc);
  // Four blocks of 1920 frames, each: leading values, 25 band scales and 8
  // runs of 512 coefficients.
  EXPECT_EQ(payload.size(), 4u + 4 * 4 * ((58 + 200 + 8 * 9 + 31) / 32));
  const std::vector<int16_t> out = RoundTrip(c, 100, pcm, {7680});
  EXPECT_EQ(out, pcm);
}

}  // namespace
