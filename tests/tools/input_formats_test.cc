// The wider range of inputs the encoder accepts: 4:2:2, deep and full-range
// Y4M; 24/32-bit and float WAV, more than two channels, rates above what a
// track holds. Each conversion gives exact values and tells the user.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "vorntool/encode/wav.h"
#include "vorntool/encode/y4m.h"

namespace {

// Reads one picture of a Y4M text; the reader's notes come back in *notes.
VideoPicture ReadOne(const std::string& text, std::vector<std::string>* notes = nullptr) {
  const std::string path = FixtureWriteFile("in.y4m", std::vector<uint8_t>(text.begin(), text.end()));
  Y4mReader reader;
  std::string error;
  VideoPicture picture;
  EXPECT_TRUE(Y4mOpen(path.c_str(), &reader, &error)) << error;
  if (!reader.file) return picture;
  EXPECT_EQ(Y4mReadPicture(&reader, &picture, &error), 1) << error;
  if (notes) *notes = reader.notes;
  Y4mClose(&reader);
  return picture;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s.push_back(static_cast<char>(v));
  return s;
}

std::string Le16Samples(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += Bytes({v & 0xFF, v >> 8});
  return s;
}

bool HasNote(const std::vector<std::string>& notes, const std::string& part) {
  for (const std::string& n : notes)
    if (n.find(part) != std::string::npos) return true;
  return false;
}

TEST(Y4mFormats, HalfWidthChromaIsAveragedVertically) {
  // 2x3 picture, 4:2:2: chroma 1x3 per plane, pairs of rows averaged, the
  // odd last row alone.
  const VideoPicture p = ReadOne("YUV4MPEG2 W2 H3 C422\nFRAME\n" + Bytes({9, 9, 9, 9, 9, 9}) +
                                 Bytes({10, 13, 200}) + Bytes({0, 255, 7}));
  EXPECT_EQ(p.u, (std::vector<uint8_t>{12, 200}));  // (10 + 13 + 1) / 2 rounds half up
  EXPECT_EQ(p.v, (std::vector<uint8_t>{128, 7}));
}

struct DeepCase {
  const char* tag;
  uint32_t bits;
};
void PrintTo(const DeepCase& c, std::ostream* os) { *os << c.tag; }

class Y4mDeepSamples : public testing::TestWithParam<DeepCase> {};

TEST_P(Y4mDeepSamples, RoundToEightBits) {
  const uint32_t shift = GetParam().bits - 8, top = (1u << GetParam().bits) - 1;
  // Values just under and at each rounding edge, and the largest.
  const int luma[4] = {int((10u << shift) - 1), int((10u << shift) + (1u << shift) / 2 - 1),
                       int((10u << shift) + (1u << shift) / 2), int(top)};
  std::string text = std::string("YUV4MPEG2 W2 H2 ") + GetParam().tag + "\nFRAME\n" +
                     Le16Samples({luma[0], luma[1], luma[2], luma[3]});
  const bool mono = std::strncmp(GetParam().tag, "Cmono", 5) == 0;
  if (!mono) text += Le16Samples({int(128u << shift)}) + Le16Samples({int(64u << shift)});
  std::vector<std::string> notes;
  const VideoPicture p = ReadOne(text, &notes);
  EXPECT_EQ(p.y, (std::vector<uint8_t>{10, 10, 11, 255}));
  if (!mono) {
    EXPECT_EQ(p.u, (std::vector<uint8_t>{128}));
    EXPECT_EQ(p.v, (std::vector<uint8_t>{64}));
  }
  EXPECT_TRUE(HasNote(notes, "note: " + std::to_string(GetParam().bits) + "-bit samples rounded"));
}

INSTANTIATE_TEST_SUITE_P(Depths, Y4mDeepSamples,
                         testing::Values(DeepCase{"C420p10", 10}, DeepCase{"C420p12", 12},
                                         DeepCase{"C420p16", 16}, DeepCase{"Cmono16", 16},
                                         DeepCase{"C420p9", 9}),
                         [](const testing::TestParamInfo<DeepCase>& info) {
                           return std::string(info.param.tag + 1);
                         });

TEST(Y4mFormats, FullRangeIsScaledIntoTheStudioRange) {
  std::vector<std::string> notes;
  const VideoPicture p = ReadOne("YUV4MPEG2 W2 H2 C420jpeg XCOLORRANGE=FULL\nFRAME\n" +
                                     Bytes({0, 255, 128, 1}) + Bytes({0}) + Bytes({255}),
                                 &notes);
  EXPECT_EQ(p.y, (std::vector<uint8_t>{16, 235, 126, 17}));
  EXPECT_EQ(p.u, (std::vector<uint8_t>{16}));
  EXPECT_EQ(p.v, (std::vector<uint8_t>{240}));
  EXPECT_TRUE(HasNote(notes, "full-range"));
  // The studio range (said or not) is taken as it is.
  const VideoPicture limited = ReadOne("YUV4MPEG2 W2 H2 XCOLORRANGE=LIMITED\nFRAME\n" +
                                       Bytes({0, 255, 128, 1, 0, 255}));
  EXPECT_EQ(limited.y, (std::vector<uint8_t>{0, 255, 128, 1}));
}

TEST(Y4mFormats, InterlacedInputIsWarnedAbout) {
  const std::string frame = "\nFRAME\n" + std::string(6, '\x50');
  for (const char* tag : {"It", "Ib", "Im"}) {
    std::vector<std::string> notes;
    ReadOne(std::string("YUV4MPEG2 W2 H2 ") + tag + frame, &notes);
    EXPECT_TRUE(HasNote(notes, "warning: the pictures are interlaced")) << tag;
  }
  std::vector<std::string> notes;
  ReadOne("YUV4MPEG2 W2 H2 Ip" + frame, &notes);
  EXPECT_TRUE(notes.empty());
}

// ---- WAV ----------------------------------------------------------------------

std::string Le(uint32_t v, int n) {
  std::string s;
  for (int i = 0; i < n; i++) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}

// A WAV file; mask != 0 writes the extensible form with that speaker mask.
std::string Wav(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                const std::string& data, uint32_t mask = 0) {
  const uint16_t block = channels * bits / 8;
  std::string fmt = Le(mask ? 0xFFFE : format, 2) + Le(channels, 2) + Le(rate, 4) +
                    Le(rate * block, 4) + Le(block, 2) + Le(bits, 2);
  if (mask) fmt += Le(22, 2) + Le(bits, 2) + Le(mask, 4) + Le(format, 2) + std::string(14, '\0');
  const std::string body = "WAVEfmt " + Le(uint32_t(fmt.size()), 4) + fmt + "data" +
                           Le(uint32_t(data.size()), 4) + data;
  return "RIFF" + Le(uint32_t(body.size()), 4) + body;
}

WavSound Read(const std::string& bytes) {
  WavSound sound;
  std::string error;
  EXPECT_TRUE(WavReadMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &sound,
                            &error))
      << error;
  return sound;
}

std::string Float32(std::initializer_list<float> values) {
  std::string s;
  for (float f : values) {
    uint32_t word;
    std::memcpy(&word, &f, 4);
    s += Le(word, 4);
  }
  return s;
}

std::string Float64(std::initializer_list<double> values) {
  std::string s;
  for (double d : values) {
    uint64_t word;
    std::memcpy(&word, &d, 8);
    s += Le(uint32_t(word), 4) + Le(uint32_t(word >> 32), 4);
  }
  return s;
}

struct DeepWav {
  const char* name;
  uint16_t format, bits;
  std::string data;
};
void PrintTo(const DeepWav& c, std::ostream* os) { *os << c.name; }

class WavDeepSamples : public testing::TestWithParam<DeepWav> {};

// Each case holds, in its own encoding: 1000.75 and -1000.25 steps of 16-bit
// sound (rounded to the nearest), the largest and the smallest value.
TEST_P(WavDeepSamples, RoundToSixteenBitsWithoutDither) {
  const DeepWav& c = GetParam();
  const WavSound sound = Read(Wav(c.format, 2, 22050, c.bits, c.data));
  EXPECT_EQ(sound.samples, (std::vector<int16_t>{1001, -1000, 32767, -32768}));
  EXPECT_EQ(sound.channels, 2u);
  EXPECT_TRUE(HasNote(sound.notes, "rounded to 16 bits"));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, WavDeepSamples,
    testing::Values(
        DeepWav{"int24", 1, 24,
                Le(uint32_t(1000 * 256 + 192), 3) + Le(uint32_t(-1000 * 256 - 64), 3) +
                    Le(0x7FFFFF, 3) + Le(0x800000, 3)},
        DeepWav{"int32", 1, 32,
                Le(uint32_t(1000 * 65536 + 49152), 4) + Le(uint32_t(-1000 * 65536 - 16384), 4) +
                    Le(0x7FFFFFFF, 4) + Le(0x80000000u, 4)},
        // Floats beyond full scale (and infinities) clip instead of wrapping.
        DeepWav{"float32", 3, 32, Float32({1000.75f / 32768, -1000.25f / 32768, 1.5f, -INFINITY})},
        DeepWav{"float64", 3, 64, Float64({1000.75 / 32768, -1000.25 / 32768, 2.0, -1.0})}),
    [](const testing::TestParamInfo<DeepWav>& info) { return std::string(info.param.name); });

TEST(WavFormats, MoreChannelsMixDownToStereoBySpeakerPosition) {
  // 5.1 in the usual order FL FR FC LFE BL BR; one frame per speaker alone.
  const int kFull = 24000;
  std::string data;
  for (int speaker = 0; speaker < 6; speaker++)
    for (int c = 0; c < 6; c++) data += Le(uint32_t(c == speaker ? kFull : 0), 2);
  for (uint32_t mask : {0u, 0x3Fu}) {
    const WavSound sound = Read(Wav(1, 6, 48000, 16, data, mask));
    ASSERT_EQ(sound.channels, 2u);
    ASSERT_EQ(sound.samples.size(), 12u);
    // Each side: front 1, centre and its back channel 0.7071, scaled by 1/2.4142.
    const int front = int(std::lround(kFull / 2.41421356)), side = int(std::lround(kFull * 0.70710678 / 2.41421356));
    const std::vector<int16_t> expected = {int16_t(front), 0,     0,    int16_t(front),
                                           int16_t(side),  int16_t(side), 0, 0,
                                           int16_t(side),  0,     0,    int16_t(side)};
    for (size_t i = 0; i < expected.size(); i++) EXPECT_NEAR(sound.samples[i], expected[i], 1) << i;
    EXPECT_TRUE(HasNote(sound.notes, "6 channels mixed down to stereo"));
  }
  // Full scale on every channel still fits.
  std::string loud;
  for (int c = 0; c < 6; c++) loud += Le(0x7FFF, 2);
  for (int16_t s : Read(Wav(1, 6, 48000, 16, loud)).samples) EXPECT_LE(s, 32767);
}

// Amplitude of a tone at `hz` in the sound (one channel of interleaved PCM).
double ToneLevel(const std::vector<int16_t>& pcm, uint32_t channels, uint32_t rate, double hz) {
  double re = 0, im = 0;
  const size_t frames = pcm.size() / channels;
  for (size_t i = 0; i < frames; i++) {
    re += pcm[i * channels] * std::cos(2 * M_PI * hz * i / rate);
    im += pcm[i * channels] * std::sin(2 * M_PI * hz * i / rate);
  }
  return 2 * std::sqrt(re * re + im * im) / frames;
}

TEST(WavFormats, HighRatesAreResampledIntoTheTrackRange) {
  struct Case {
    uint32_t rate, expected;
  } cases[] = {{96000, 48000}, {192000, 48000}, {88200, 44100}, {100000, 50000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rate);
    // One second: 1 kHz at 10000, and a tone the new rate cannot hold.
    const double high = c.expected * 0.6;
    std::string data;
    for (uint32_t i = 0; i < c.rate; i++) {
      const double t = double(i) / c.rate;
      data += Le(uint32_t(int(std::lround(10000 * std::sin(2 * M_PI * 1000 * t) +
                                          8000 * std::sin(2 * M_PI * high * t)))),
                 2);
    }
    const WavSound sound = Read(Wav(1, 1, c.rate, 16, data));
    EXPECT_EQ(sound.rate, c.expected);
    EXPECT_NEAR(double(sound.samples.size()), c.expected, 1);
    EXPECT_NEAR(ToneLevel(sound.samples, 1, sound.rate, 1000), 10000, 100);
    // The tone above the new Nyquist frequency would fold down to
    // rate - high; it is filtered out instead.
    EXPECT_LT(ToneLevel(sound.samples, 1, sound.rate, c.expected - high), 80);
    EXPECT_TRUE(HasNote(sound.notes, "resampled from " + std::to_string(c.rate) + " Hz to " +
                                         std::to_string(c.expected) + " Hz"));
  }
}

TEST(WavFormats, DitherOnlyWhenAskedAndOnlyBetweenSteps) {
  // A 24-bit tone of 0.4 steps of 16-bit sound: plain rounding loses it all.
  std::string deep, plain;
  std::vector<double> tone;
  for (int i = 0; i < 22050; i++) {
    tone.push_back(0.4 * std::sin(2 * M_PI * 441 * i / 22050.0));
    deep += Le(uint32_t(int(std::lround(tone.back() * 256))), 3);
    plain += Le(uint32_t(int16_t(i * 37)), 2);
  }
  const std::string file = Wav(1, 1, 22050, 24, deep);
  WavSound rounded, dithered;
  std::string error;
  const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
  ASSERT_TRUE(WavReadMemory(bytes, file.size(), &rounded, &error)) << error;
  ASSERT_TRUE(WavReadMemory(bytes, file.size(), &dithered, &error, true)) << error;
  EXPECT_EQ(rounded.samples, std::vector<int16_t>(22050, 0));
  double error_sum = 0;
  for (size_t i = 0; i < tone.size(); i++) {
    EXPECT_LE(std::abs(dithered.samples[i] - tone[i]), 1.5) << i;
    error_sum += dithered.samples[i] - tone[i];
  }
  EXPECT_LT(std::abs(error_sum / tone.size()), 0.02);  // no offset
  EXPECT_NEAR(ToneLevel(dithered.samples, 1, 22050, 441), 0.4, 0.05);  // the tone survives
  EXPECT_TRUE(HasNote(dithered.notes, "rounded to 16 bits with dither"));
  // 16-bit sound needs no rounding and stays exact.
  WavSound exact;
  const std::string sixteen = Wav(1, 1, 22050, 16, plain);
  ASSERT_TRUE(WavReadMemory(reinterpret_cast<const uint8_t*>(sixteen.data()), sixteen.size(), &exact,
                            &error, true));
  for (int i = 0; i < 22050; i++) ASSERT_EQ(exact.samples[i], int16_t(i * 37)) << i;
}

TEST(WavFormats, PlainSoundIsReadWithoutNotes) {
  const WavSound sound = Read(Wav(1, 2, 44100, 16, Le(5, 2) + Le(uint32_t(-7), 2)));
  EXPECT_EQ(sound.samples, (std::vector<int16_t>{5, -7}));
  EXPECT_TRUE(sound.notes.empty());
}

}  // namespace
