// The encoder's input files: Y4M pictures and WAV sound. Well-formed files
// read back what was written; every kind of damage gives a clear error and
// never a crash or a read past the data.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/test_folder.h"
#include "vorntool/commands.h"
#include "vorntool/encode/wav.h"
#include "vorntool/encode/y4m.h"

namespace {

std::string TempPath(const char* name) { return TestPath(name); }

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

std::string Y4mText(const std::string& header, uint32_t frames, size_t frame_bytes) {
  std::string s = header + "\n";
  for (uint32_t k = 0; k < frames; k++) s += "FRAME\n" + std::string(frame_bytes, static_cast<char>(40 + k));
  return s;
}

// Opens and reads all pictures; returns the error text ("" when clean).
std::string ReadAllY4m(const std::string& text, uint32_t* pictures = nullptr) {
  std::string path = TempPath("in.y4m");
  WriteBytes(path, text);
  Y4mReader reader;
  std::string error;
  if (!Y4mOpen(path.c_str(), &reader, &error)) return error;
  VideoPicture picture;
  int got;
  uint32_t n = 0;
  while ((got = Y4mReadPicture(&reader, &picture, &error)) == 1) n++;
  Y4mClose(&reader);
  if (pictures) *pictures = n;
  return got < 0 ? error : "";
}

TEST(Y4mInput, WrittenPicturesReadBack) {
  std::string path = TempPath("round.y4m");
  VideoPicture picture;
  VideoPictureInit(&picture, 5, 3, false);
  for (size_t i = 0; i < picture.y.size(); i++) picture.y[i] = static_cast<uint8_t>(i * 7);
  picture.u = {1, 2, 3, 4, 5, 6};
  picture.v = {9, 8, 7, 6, 5, 4};
  Y4mWriter writer;
  std::string error;
  ASSERT_TRUE(Y4mCreate(path.c_str(), 5, 3, 25, 2, &writer, &error));
  ASSERT_TRUE(Y4mWritePicture(&writer, picture));
  ASSERT_TRUE(Y4mWritePicture(&writer, picture));
  Y4mFinish(&writer);
  Y4mReader reader;
  ASSERT_TRUE(Y4mOpen(path.c_str(), &reader, &error)) << error;
  EXPECT_EQ(reader.width, 5u);
  EXPECT_EQ(reader.height, 3u);
  EXPECT_EQ(reader.rate_num, 25u);
  EXPECT_EQ(reader.rate_den, 2u);
  VideoPicture back;
  for (int k = 0; k < 2; k++) {
    ASSERT_EQ(Y4mReadPicture(&reader, &back, &error), 1) << error;
    EXPECT_EQ(back.y, picture.y);
    EXPECT_EQ(back.u, picture.u);
    EXPECT_EQ(back.v, picture.v);
  }
  EXPECT_EQ(Y4mReadPicture(&reader, &back, &error), 0);
  Y4mClose(&reader);
}

TEST(Y4mInput, FullChromaIsAveragedAndMonoIsGrey) {
  // 3x3 4:4:4: chroma becomes 2x2 means (edge squares average fewer samples).
  std::string header = "YUV4MPEG2 W3 H3 F30:1 C444";
  std::string frame(9, '\x10');
  frame += std::string("\x00\x04\x08\x00\x04\x08\x64\x64\x64", 9);  // U
  frame += std::string(9, '\x80');                                  // V
  WriteBytes(TempPath("444.y4m"), header + "\nFRAME\n" + frame);
  Y4mReader reader;
  std::string error;
  ASSERT_TRUE(Y4mOpen(TempPath("444.y4m").c_str(), &reader, &error)) << error;
  VideoPicture p;
  ASSERT_EQ(Y4mReadPicture(&reader, &p, &error), 1) << error;
  EXPECT_EQ(p.u, (std::vector<uint8_t>{2, 8, 100, 100}));
  Y4mClose(&reader);

  uint32_t n = 0;
  EXPECT_EQ(ReadAllY4m(Y4mText("YUV4MPEG2 W4 H2 Cmono", 2, 8), &n), "");
  EXPECT_EQ(n, 2u);
}

TEST(Y4mInput, DamagedStreamsGiveClearErrors) {
  struct Case {
    std::string text;
    const char* error_part;
  } cases[] = {
      {"", "no header"},
      {"RIFF nonsense\n", "not a YUV4MPEG2"},
      {"YUV4MPEG2 W16\n", "size missing"},
      {"YUV4MPEG2 W0 H16\n", "size missing"},
      {"YUV4MPEG2 Wabc H16\n", "bad width"},
      {"YUV4MPEG2 W16 H-3\n", "bad height"},
      {"YUV4MPEG2 W99999 H16\n", "larger than"},
      {"YUV4MPEG2 W16 H16 F30:0\n", "frame-rate"},
      {"YUV4MPEG2 W16 H16 C411\n", "unsupported chroma layout '411' (read: 420, 422, 444 or mono"},
      {"YUV4MPEG2 W16 H16 C420p7\n", "unsupported chroma"},
      {"YUV4MPEG2 W16 H16 C420p24\n", "unsupported chroma"},
      {"YUV4MPEG2 W16 H16 C444alpha\n", "unsupported chroma"},
      {"YUV4MPEG2 W4 H2" + std::string(8000, 'x'), "no header"},
      {"YUV4MPEG2 W4 H2\n" + std::string(8000, 'x'), "missing FRAME"},
      {Y4mText("YUV4MPEG2 W4 H2", 1, 13), "missing FRAME"},
      {Y4mText("YUV4MPEG2 W4 H2", 1, 9), "cut short"},
      {"YUV4MPEG2 W4 H2\nFRAME\n\x01\x02", "cut short"},
      {"YUV4MPEG2 W4 H2\nFROG\n", "missing FRAME"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    std::string error = ReadAllY4m(c.text);
    EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
  }
  EXPECT_EQ(ReadAllY4m(Y4mText("YUV4MPEG2 W4 H2", 3, 12)), "");
}

TEST(Y4mInput, RandomDamageNeverCrashes) {
  std::mt19937 random(11);
  std::string good = Y4mText("YUV4MPEG2 W6 H4 F30:1 C420jpeg", 3, 6 * 4 + 2 * 3 * 2);
  for (int round = 0; round < 200; round++) {
    std::string text = good;
    for (int i = 0; i < 3; i++) text[random() % text.size()] = static_cast<char>(random());
    text.resize(random() % (text.size() + 1));
    // Any outcome but a crash or a read outside the data (the sanitizer
    // build watches for those) is fine; a stream that reads cleanly must
    // still have whole pictures.
    uint32_t pictures = 0;
    std::string error = ReadAllY4m(text, &pictures);
    if (error.empty()) {
      EXPECT_LT(pictures, 100u);
    }
  }
}

std::string WavBytes(uint16_t format, uint16_t channels, uint32_t rate, uint16_t bits,
                     const std::string& data, bool data_first = false) {
  auto le = [](uint32_t v, int n) {
    std::string s;
    for (int i = 0; i < n; i++) s.push_back(static_cast<char>(v >> (8 * i)));
    return s;
  };
  std::string fmt = "fmt " + le(16, 4) + le(format, 2) + le(channels, 2) + le(rate, 4) +
                    le(rate * channels * bits / 8, 4) + le(channels * bits / 8, 2) + le(bits, 2);
  std::string chunk = "data" + le(static_cast<uint32_t>(data.size()), 4) + data;
  std::string body = "WAVE" + (data_first ? chunk + fmt : fmt + chunk);
  return "RIFF" + le(static_cast<uint32_t>(body.size()), 4) + body;
}

std::string ReadWav(const std::string& bytes, WavSound* sound) {
  std::string error;
  bool ok = WavReadMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), sound, &error);
  return ok ? "" : error;
}

TEST(WavInput, WrittenSoundReadsBack) {
  for (uint32_t bits : {8u, 16u}) {
    for (uint32_t channels : {1u, 2u}) {
      SCOPED_TRACE(testing::Message() << bits << " bits " << channels << " channels");
      WavSound sound;
      sound.rate = 22050;
      sound.channels = channels;
      sound.bits = bits;
      for (int i = 0; i < 100; i++) sound.samples.push_back(static_cast<int16_t>((i * 1234) & 0xFF00));
      std::string path = TempPath("round.wav"), error;
      ASSERT_TRUE(WavWrite(path.c_str(), sound, &error));
      WavSound back;
      ASSERT_TRUE(WavRead(path.c_str(), &back, &error)) << error;
      EXPECT_EQ(back.rate, 22050u);
      EXPECT_EQ(back.channels, channels);
      EXPECT_EQ(back.bits, bits);
      // 8-bit samples come back in the middle of their step, so that their
      // high byte (how they are written and played again) is the byte read.
      std::vector<int16_t> expected = sound.samples;
      if (bits == 8)
        for (int16_t& s : expected) s = static_cast<int16_t>(s + 128);
      EXPECT_EQ(back.samples, expected);
      WavSound again = back;
      ASSERT_TRUE(WavWrite(path.c_str(), again, &error));
      ASSERT_TRUE(WavRead(path.c_str(), &back, &error)) << error;
      EXPECT_EQ(back.samples, expected);
    }
  }
}

TEST(WavInput, DamagedOrUnsupportedFilesGiveClearErrors) {
  WavSound sound;
  std::string pcm(40, '\x01');
  struct Case {
    std::string bytes;
    const char* error_part;
  } cases[] = {
      {"", "not a RIFF"},
      {"RIFF\x04\x00\x00\x00WAVX", "not a RIFF"},
      {WavBytes(2, 2, 22050, 4, pcm), "not PCM (format 2)"},
      {WavBytes(1, 0, 22050, 16, pcm), "0 channels"},
      {WavBytes(1, 2, 22050, 12, pcm), "12-bit samples (8, 16, 24 or 32-bit integer"},
      {WavBytes(3, 2, 22050, 16, pcm), "16-bit float"},
      {WavBytes(1, 2, 999, 16, pcm), "sample rate 999 Hz outside 1000..65535"},
      {WavBytes(1, 2, 1000003, 16, pcm), "1000003 Hz outside the 1000..65535 Hz a track holds"},
      {WavBytes(1, 2, 0, 16, pcm), "sample rate 0"},
      {"RF64" + WavBytes(1, 2, 22050, 16, pcm).substr(4), "an RF64 file"},
      {std::string("FORM\x00\x00\x00\x20" "AIFFCOMM", 16), "an AIFF file"},
      {std::string("FORM\x00\x00\x00\x20" "AIFCFVER", 16), "an AIFF file"},
      {WavBytes(1, 2, 22050, 16, pcm, true), "before the format"},
      {WavBytes(1, 2, 22050, 16, pcm).substr(0, 30), "cut short"},
      {std::string("RIFF\x10\x00\x00\x00WAVEjunk\xff\xff\xff\xff", 20), "no format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error_part);
    std::string error = ReadWav(c.bytes, &sound);
    EXPECT_NE(error.find(c.error_part), std::string::npos) << error;
  }
  // A data length past the end of the file (a recording never finished) is
  // read up to the end, in whole sample frames (37 bytes: 9 stereo frames).
  std::string open_ended = WavBytes(1, 2, 22050, 16, pcm);
  open_ended[40] = '\xff';
  open_ended.resize(open_ended.size() - 3);
  EXPECT_EQ(ReadWav(open_ended, &sound), "");
  EXPECT_EQ(sound.samples.size(), 9u * 2);
}

TEST(WavInput, RandomDamageNeverCrashes) {
  std::mt19937 random(7);
  std::string good = WavBytes(1, 2, 22050, 16, std::string(64, '\x22'));
  for (int round = 0; round < 500; round++) {
    std::string bytes = good;
    for (int i = 0; i < 4; i++) bytes[random() % bytes.size()] = static_cast<char>(random());
    bytes.resize(random() % (bytes.size() + 1));
    WavSound sound;
    std::string error = ReadWav(bytes, &sound);
    if (error.empty()) {
      EXPECT_LE(sound.samples.size(), bytes.size());
    }
  }
}

// The command as a user runs it: bad inputs end with status 1, a good one
// writes a movie; sound longer than the pictures holds the last picture
// unless --shortest asks to cut the sound.
TEST(EncodeCommand, WritesAMovieAndRefusesBadInput) {
  std::string y4m = TempPath("cmd.y4m"), wav = TempPath("cmd.wav"), out = TempPath("cmd.vxn");
  WriteBytes(y4m, Y4mText("YUV4MPEG2 W16 H8 F10:1", 3, 16 * 8 + 2 * 8 * 4));
  WavSound sound;
  sound.rate = 11025;
  sound.channels = 1;
  sound.bits = 16;
  sound.samples.assign(11025, 1000);
  std::string error;
  ASSERT_TRUE(WavWrite(wav.c_str(), sound, &error));
  std::vector<std::string> args = {"encode", y4m, "--audio", wav, "--track-id", "7", "-o", out};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  ASSERT_EQ(CmdEncode(static_cast<int>(argv.size()), argv.data()), 0);
  std::FILE* f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  unsigned char header[56] = {};
  size_t got = std::fread(header, 1, sizeof header, f);
  std::fclose(f);
  ASSERT_EQ(got, sizeof header);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(header), 4), "VXNi");
  EXPECT_EQ(header[8], 10);  // 3 pictures, the last held until the 1 s of sound ends
  EXPECT_EQ(header[20], 16); // width
  EXPECT_EQ(header[28], 10); // rate
  EXPECT_EQ(header[40], 1);  // one track
  EXPECT_EQ(header[52], 7);  // its identifier

  args.push_back("--shortest");
  argv.clear();
  for (std::string& a : args) argv.push_back(a.data());
  testing::internal::CaptureStderr();
  ASSERT_EQ(CmdEncode(static_cast<int>(argv.size()), argv.data()), 0);
  const std::string warning = testing::internal::GetCapturedStderr();
  EXPECT_NE(warning.find("warning: 0.04 s of " + wav + "'s sound dropped"), std::string::npos) << warning;
  f = std::fopen(out.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fread(header, 1, sizeof header, f), sizeof header);
  std::fclose(f);
  EXPECT_EQ(header[8], 3);

  WriteBytes(y4m, "YUV4MPEG2 W16 H8\nFRAME\n\x01");
  EXPECT_EQ(CmdEncode(static_cast<int>(argv.size()), argv.data()), 1);
  std::vector<std::string> bad = {"encode", y4m, "--quality", "500", "-o", out};
  std::vector<char*> bad_argv;
  for (std::string& a : bad) bad_argv.push_back(a.data());
  EXPECT_EQ(CmdEncode(static_cast<int>(bad_argv.size()), bad_argv.data()), kExitUsage);
}

// Found by the sound-reader fuzzer: a float sample that is not a number
// was converted to 16 bits as it stood (undefined); it reads as silence.
TEST(WavReader, NotANumberReadsAsSilence) {
  const float samples[4] = {0.5f, std::nanf(""), -0.5f, -std::nanf("")};
  std::vector<uint8_t> file = {'R', 'I', 'F', 'F', 52, 0, 0, 0, 'W', 'A', 'V', 'E',
                               'f', 'm', 't', ' ', 16, 0, 0, 0, 3, 0, 1, 0,
                               0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 32, 0,
                               'd', 'a', 't', 'a', 16, 0, 0, 0};
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
  file.insert(file.end(), bytes, bytes + sizeof samples);
  WavSound sound;
  std::string error;
  ASSERT_TRUE(WavReadMemory(file.data(), file.size(), &sound, &error)) << error;
  ASSERT_EQ(sound.samples.size(), 4u);
  EXPECT_GT(sound.samples[0], 16000);
  EXPECT_LE(std::abs(sound.samples[1]), 1);
  EXPECT_LT(sound.samples[2], -16000);
  EXPECT_LE(std::abs(sound.samples[3]), 1);
}

}  // namespace
