// Files through `vorntool encode` and back out of `vorntool decode`: 8-bit
// sound comes back byte for byte, 4:2:2 and 10-bit pictures as well as
// their 8-bit 4:2:0 twin, sound longer than the pictures is kept whole.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "synth/synth.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"
#include "vorntool/decode_audio.h"
#include "vorntool/encode/y4m.h"

namespace {

int RunCommand(int (*command)(int, char**), std::vector<std::string> args) {
  return RunToolOk(command, args);
}

std::string Le(uint32_t v, int n) {
  std::string s;
  for (int i = 0; i < n; i++) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}

std::string WavFile(uint16_t channels, uint32_t rate, uint16_t bits, const std::string& data) {
  const uint16_t block = channels * bits / 8;
  const std::string body = "WAVEfmt " + Le(16, 4) + Le(1, 2) + Le(channels, 2) + Le(rate, 4) +
                           Le(rate * block, 4) + Le(block, 2) + Le(bits, 2) + "data" +
                           Le(uint32_t(data.size()), 4) + data;
  return "RIFF" + Le(uint32_t(body.size()), 4) + body;
}

std::string Write(const std::string& name, const std::string& bytes) {
  return FixtureWriteFile(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// A small grey Y4M of `frames` pictures at 10 frames a second.
std::string GreyClip(const std::string& name, uint32_t frames) {
  std::string text = "YUV4MPEG2 W32 H16 F10:1 Ip C420jpeg\n";
  for (uint32_t k = 0; k < frames; k++) text += "FRAME\n" + std::string(32 * 16 + 2 * 16 * 8, '\x70');
  return Write(name, text);
}

// Speech-like 8-bit sound: a few voiced harmonics under a syllable envelope,
// with a little noise, well inside the byte range.
std::string SpeechBytes(uint32_t rate, uint32_t channels, double seconds) {
  std::mt19937 random(5);
  std::string bytes;
  const uint32_t frames = uint32_t(rate * seconds);
  for (uint32_t i = 0; i < frames; i++) {
    const double t = double(i) / rate;
    const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3 * t);
    double v = 0;
    for (int h = 1; h <= 4; h++) v += std::sin(2 * M_PI * 140 * h * t + h) / h;
    for (uint32_t c = 0; c < channels; c++) {
      const double noise = double(int(random() % 9) - 4);
      bytes.push_back(static_cast<char>(128 + int(std::lround(40 * envelope * v + noise)) + int(c)));
    }
  }
  return bytes;
}

struct SoundCase {
  int quality;
  uint32_t rate, channels;
  const char* variant;
};
void PrintTo(const SoundCase& c, std::ostream* os) {
  *os << "quality " << c.quality << ", " << c.rate << " Hz, " << c.channels << " ch, " << c.variant;
}

class EightBitSound : public testing::TestWithParam<SoundCase> {};

// Where the 16-bit decode stays inside each input sample's 256-value step,
// the 8-bit output (its high byte) must be the input byte itself.
TEST_P(EightBitSound, ComesBackByteForByte) {
  const SoundCase c = GetParam();
  const std::string input = SpeechBytes(c.rate, c.channels, 1.5);
  const std::string wav = Write("u8.wav", WavFile(uint16_t(c.channels), c.rate, 8, input));
  const std::string movie = FixtureTempPath("u8.vxn"), back = FixtureTempPath("u8_back.wav");
  ASSERT_EQ(RunCommand(CmdEncode, {"encode", GreyClip("u8.y4m", 2), "--audio", wav, "-o", movie,
                                   "--audio-quality", std::to_string(c.quality),
                                   "--audio-variant", c.variant}),
            0);
  ASSERT_EQ(RunCommand(CmdDecode, {"decode", movie, "--audio", back}), 0);
  const std::vector<uint8_t> out = ReadAll(back);
  const std::string expected = WavFile(uint16_t(c.channels), c.rate, 8, input);
  ASSERT_EQ(out.size(), expected.size());

  DecodedTrack track;
  std::string error;
  const std::vector<uint8_t> bytes = ReadAll(movie);
  ASSERT_TRUE(DecodeAudioTrack(bytes.data(), bytes.size(), false, 0, &track, &error)) << error;
  ASSERT_EQ(track.bits, 8u);
  ASSERT_EQ(track.pcm.size(), input.size());
  bool within_steps = true;
  size_t differing = 0;
  for (size_t i = 0; i < input.size(); i++) {
    const int step_low = (uint8_t(input[i]) - 128) * 256;
    within_steps = within_steps && track.pcm[i] >= step_low && track.pcm[i] < step_low + 256;
    differing += out[44 + i] != uint8_t(input[i]);
  }
  if (c.quality >= 90) EXPECT_TRUE(within_steps) << "the 16-bit decode left a step";
  if (within_steps) EXPECT_EQ(differing, 0u);
}

INSTANTIATE_TEST_SUITE_P(Qualities, EightBitSound,
                         testing::Values(SoundCase{100, 8000, 1, "dct"},
                                         SoundCase{100, 22050, 2, "dct"},
                                         SoundCase{95, 11025, 2, "rdft"},
                                         SoundCase{90, 22050, 1, "rdft"},
                                         SoundCase{75, 22050, 2, "dct"}),
                         [](const testing::TestParamInfo<SoundCase>& info) {
                           return "q" + std::to_string(info.param.quality) + "_" +
                                  std::to_string(info.param.rate) + "_" +
                                  std::to_string(info.param.channels) + "ch_" + info.param.variant;
                         });

// ---- Pictures in other layouts -------------------------------------------------------

constexpr uint32_t kW = 64, kH = 48, kFrames = 3;

std::vector<VideoPicture> NaturalPictures() {
  std::vector<VideoPicture> pictures(kFrames);
  for (uint32_t k = 0; k < kFrames; k++) SynthPicture(SynthScene::kNatural, k, kW, kH, false, &pictures[k]);
  return pictures;
}

std::string Samples(const std::vector<uint8_t>& plane, uint32_t bits, uint32_t salt) {
  std::string s;
  for (size_t i = 0; i < plane.size(); i++) {
    if (bits == 8) {
      s.push_back(static_cast<char>(plane[i]));
    } else {
      // Each 8-bit value spread over its 10-bit step, as a deeper source has it.
      const uint32_t v = std::min<uint32_t>(1023, plane[i] * 4u + ((i + salt) % 3));
      s += Le(v, 2);
    }
  }
  return s;
}

// 4:2:2 chroma whose row pairs average to the 4:2:0 plane.
std::vector<uint8_t> Rows422(const std::vector<uint8_t>& plane) {
  const uint32_t cw = kW / 2;
  std::vector<uint8_t> rows;
  for (uint32_t y = 0; y < kH / 2; y++) {
    for (int half = 0; half < 2; half++) {
      for (uint32_t x = 0; x < cw; x++) {
        const int v = plane[y * cw + x], d = (v > 0 && v < 255) ? ((x & 1) ? 1 : -1) : 0;
        rows.push_back(static_cast<uint8_t>(half ? v - d : v + d));
      }
    }
  }
  return rows;
}

std::string ClipText(const std::vector<VideoPicture>& pictures, const char* layout) {
  const std::string tag = layout;
  const uint32_t bits = tag.find("p10") != std::string::npos ? 10 : 8;
  std::string text = "YUV4MPEG2 W" + std::to_string(kW) + " H" + std::to_string(kH) + " F30:1 Ip C" + tag + "\n";
  for (const VideoPicture& p : pictures) {
    text += "FRAME\n" + Samples(p.y, bits, 0);
    const bool half_height = tag.rfind("422", 0) == 0;
    text += Samples(half_height ? Rows422(p.u) : p.u, bits, 1);
    text += Samples(half_height ? Rows422(p.v) : p.v, bits, 2);
  }
  return text;
}

// PSNR of the decoded movie against the 8-bit 4:2:0 pictures, all planes.
double DecodedPsnr(const std::string& movie, const std::vector<VideoPicture>& source) {
  const std::string y4m = FixtureTempPath("decoded.y4m");
  if (RunCommand(CmdDecode, {"decode", movie, "--video", y4m}) != 0) return 0;
  Y4mReader reader;
  std::string error;
  if (!Y4mOpen(y4m.c_str(), &reader, &error)) return 0;
  double sse = 0;
  uint64_t samples = 0;
  VideoPicture decoded;
  for (const VideoPicture& p : source) {
    if (Y4mReadPicture(&reader, &decoded, &error) != 1) break;
    for (auto [a, b] : {std::pair{&p.y, &decoded.y}, {&p.u, &decoded.u}, {&p.v, &decoded.v}}) {
      for (size_t i = 0; i < a->size(); i++) sse += std::pow(double((*a)[i]) - (*b)[i], 2);
      samples += a->size();
    }
  }
  Y4mClose(&reader);
  return samples ? 10 * std::log10(255.0 * 255.0 * samples / std::max(sse, 1e-9)) : 0;
}

TEST(PictureLayouts, HalfChromaAndDeepSamplesEncodeAsWellAsTheirEightBitTwin) {
  const std::vector<VideoPicture> pictures = NaturalPictures();
  double psnr[4] = {};
  const char* layouts[4] = {"420jpeg", "422", "420p10", "422p10"};
  for (int i = 0; i < 4; i++) {
    const std::string name = std::string("layout_") + layouts[i];
    const std::string in = Write(name + ".y4m", ClipText(pictures, layouts[i]));
    const std::string movie = FixtureTempPath(name + ".vxn");
    ASSERT_EQ(RunCommand(CmdEncode, {"encode", in, "-o", movie}), 0) << layouts[i];
    psnr[i] = DecodedPsnr(movie, pictures);
  }
  EXPECT_GT(psnr[0], 30.0);
  for (int i = 1; i < 4; i++) EXPECT_GT(psnr[i], psnr[0] - 0.5) << layouts[i];
}

// The video part of frame k + 1 (one audio track ahead of it).
uint32_t VideoBytes(const std::vector<uint8_t>& movie, uint32_t k) {
  const uint32_t start = FixtureIndexEntry(movie, k) & ~1u, end = FixtureIndexEntry(movie, k + 1) & ~1u;
  return end - start - 4 - FixtureWord(movie, start);
}

TEST(SoundLength, LongerSoundHoldsTheLastPictureUntilItEnds) {
  // 3 pictures at 30 per second with 2.5 s of sound: 75 frames, every
  // sample stored; the held pictures cost almost nothing.
  const std::string sound = std::string(11025 * 5 / 2 * 2, '\0');
  const std::string wav = Write("long.wav", WavFile(1, 11025, 16, sound));
  const std::string movie = FixtureTempPath("long.vxn");
  const std::string clip = Write("short.y4m", ClipText(NaturalPictures(), "420jpeg"));
  ASSERT_EQ(RunCommand(CmdEncode, {"encode", clip, "--audio", wav, "-o", movie}), 0);
  std::vector<uint8_t> bytes = ReadAll(movie);
  ASSERT_GT(bytes.size(), 56u);
  EXPECT_EQ(FixtureWord(bytes, 8), 75u);
  DecodedTrack track;
  std::string error;
  ASSERT_TRUE(DecodeAudioTrack(bytes.data(), bytes.size(), false, 0, &track, &error)) << error;
  EXPECT_EQ(track.pcm.size(), sound.size() / 2);
  // Frames 4 to 75 repeat picture 3: after at most two touch-ups (the
  // first may leave a row's small fixes for one cheap fill of keeps) their
  // video is all kept blocks, the same few bytes every frame (the bundle
  // headers of a 64x48 picture).
  for (uint32_t k = 6; k < 75; k++) {
    EXPECT_EQ(VideoBytes(bytes, k), VideoBytes(bytes, 5)) << k;
    EXPECT_LT(VideoBytes(bytes, k), 100u) << k;
  }

  ASSERT_EQ(RunCommand(CmdEncode, {"encode", clip, "--audio", wav, "-o", movie, "--shortest"}),
            0);
  bytes = ReadAll(movie);
  EXPECT_EQ(FixtureWord(bytes, 8), 3u);
  track = DecodedTrack{};
  ASSERT_TRUE(DecodeAudioTrack(bytes.data(), bytes.size(), false, 0, &track, &error)) << error;
  EXPECT_LT(track.pcm.size(), sound.size() / 2);
}

}  // namespace
