// vorntool encode's rate, speed and progress options: the progress line
// (its text, its pace, and that it appears only on a terminal), the frame
// count it is measured against, and the refusal of conflicting options.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include "tools/tool_run.h"
#include "vorntool/commands.h"
#include "vorntool/encode/progress.h"
#include "vorntool/encode/y4m.h"
#include "vorntool/options.h"

namespace {

std::string TempPath(const char* name) {
  return testing::TempDir() + "vorn_encode_cmd_" +
         std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" + name;
}

void WriteY4m(const std::string& path, uint32_t frames, const char* frame_line = "FRAME") {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fprintf(f, "YUV4MPEG2 W32 H16 F30:1\n");
  for (uint32_t k = 0; k < frames; k++) {
    std::fprintf(f, "%s\n", frame_line);
    std::vector<uint8_t> picture(32 * 16 + 2 * 16 * 8, static_cast<uint8_t>(60 + 7 * k));
    std::fwrite(picture.data(), 1, picture.size(), f);
  }
  std::fclose(f);
}

int RunEncode(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  return CmdEncode(static_cast<int>(argv.size()), argv.data());
}

std::string ReadAll(std::FILE* f) {
  std::string text;
  std::rewind(f);
  int c;
  while ((c = std::fgetc(f)) != EOF) text.push_back(static_cast<char>(c));
  return text;
}

TEST(Y4mFrameCount, CountsWhatIsLeftAndGivesUpOnNothing) {
  std::string path = TempPath("count.y4m");
  for (const char* marker : {"FRAME", "FRAME Ixyz"}) {
    SCOPED_TRACE(marker);
    WriteY4m(path, 5, marker);
    Y4mReader reader;
    std::string error;
    ASSERT_TRUE(Y4mOpen(path.c_str(), &reader, &error)) << error;
    EXPECT_EQ(Y4mFrameCount(&reader), 5u);
    VideoPicture picture;
    ASSERT_EQ(Y4mReadPicture(&reader, &picture, &error), 1);
    EXPECT_EQ(Y4mFrameCount(&reader), 4u);  // and the reading goes on where it was
    ASSERT_EQ(Y4mReadPicture(&reader, &picture, &error), 1);
    EXPECT_EQ(picture.y[0], 67);
    Y4mClose(&reader);
  }
  WriteY4m(path, 0);
  Y4mReader empty;
  std::string error;
  ASSERT_TRUE(Y4mOpen(path.c_str(), &empty, &error));
  EXPECT_EQ(Y4mFrameCount(&empty), 0u);
  Y4mClose(&empty);
}

// The second pass of rate control reads the pictures again from the start;
// a stream that changed its size in between is refused.
TEST(Y4mRewind, ReadsAgainFromTheFirstPicture) {
  std::string path = TempPath("rewind.y4m");
  WriteY4m(path, 3);
  Y4mReader reader;
  std::string error;
  ASSERT_TRUE(Y4mOpen(path.c_str(), &reader, &error)) << error;
  VideoPicture picture;
  while (Y4mReadPicture(&reader, &picture, &error) == 1) {
  }
  ASSERT_TRUE(Y4mRewind(&reader, &error)) << error;
  ASSERT_EQ(Y4mReadPicture(&reader, &picture, &error), 1);
  EXPECT_EQ(picture.y[0], 60);
  EXPECT_EQ(reader.frames_read, 1u);
  reader.width = 64;  // as if the file had been replaced by another
  EXPECT_FALSE(Y4mRewind(&reader, &error));
  EXPECT_NE(error.find("size"), std::string::npos);
  Y4mClose(&reader);
}

TEST(ProgressLine, TextShowsFramesSpeedTimesAndRate) {
  MovieEncodeProgress p;
  p.frames_done = 30;
  p.frames_total = 300;
  p.packet_bytes = 12500;  // in one second of movie: 100 kbit/s
  p.seconds_done = 1.0;
  EXPECT_EQ(ProgressText(p, 2000), "frame 30/300  15.0 fps  0:02 elapsed  0:18 left  100 kbit/s");
  p.frames_total = 0;  // a pipe: no total, no time left
  EXPECT_EQ(ProgressText(p, 3700 * 1000), "frame 30  0.0 fps  1:01:40 elapsed  ? left  100 kbit/s");
  p.analysing = true;  // the measuring pass of rate control
  EXPECT_EQ(ProgressText(p, 2000).rfind("measuring: frame 30 ", 0), 0u);
}

TEST(ProgressLine, RedrawsAtMostTenTimesASecondButAlwaysTheLastFrame) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  ProgressLine line;
  ProgressStart(&line, out, 1000);
  MovieEncodeProgress p;
  p.frames_total = 5;
  p.seconds_done = 0.1;
  for (uint64_t t : {1000u, 1050u, 1099u, 1100u, 1150u}) {
    p.frames_done++;
    ProgressUpdate(&line, p, t);
  }
  ProgressEnd(&line);
  std::string text = ReadAll(out);
  std::fclose(out);
  // Drawn at 1000 ms, 1100 ms and for the last frame; ended by a newline.
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 3);
  EXPECT_NE(text.find("frame 1/5"), std::string::npos);
  EXPECT_EQ(text.find("frame 2/5"), std::string::npos);
  EXPECT_NE(text.find("frame 4/5"), std::string::npos);
  EXPECT_NE(text.find("frame 5/5"), std::string::npos);
  EXPECT_EQ(text.back(), '\n');

  ProgressLine off;
  ProgressStart(&off, nullptr, 0);
  ProgressUpdate(&off, p, 500);
  ProgressEnd(&off);  // nothing to write to, nothing breaks
}

TEST(EncodeCommand, ConflictingOrOutOfRangeRateOptionsAreUsageErrors) {
  std::string in = TempPath("opts.y4m"), out = TempPath("opts.vxn");
  WriteY4m(in, 2);
  const std::vector<std::vector<std::string>> bad = {
      {"--bitrate", "300", "--quality", "50"}, {"--bitrate", "300", "--size", "9000"},
      {"--speed", "10"},                         {"--threads", "0"},
      {"--bitrate", "0"},                        {"--size", "-4"},
      {"--passes", "3"},
  };
  for (const std::vector<std::string>& extra : bad) {
    std::vector<std::string> args = {"encode", in, "-o", out};
    args.insert(args.end(), extra.begin(), extra.end());
    SCOPED_TRACE(extra[0] + " " + extra[1 % extra.size()]);
    EXPECT_EQ(RunEncode(args), kExitUsage);
  }
  EXPECT_EQ(RunEncode({"encode", in, "-o", out, "--bitrate", "200", "--speed", "9", "--threads", "3"}), 0);
  // A size too small even for the header and index is refused, not ignored.
  EXPECT_EQ(RunEncode({"encode", in, "-o", out, "--size", "20"}), 1);
}

// Under a rate the speeds below 9 measure the movie first; speed 9 codes it
// in one pass unless told otherwise.
TEST(EncodeCommand, FastestSpeedCodesARateInOnePassUnlessAsked) {
  std::string in = TempPath("passes.y4m"), out = TempPath("passes.vxn");
  WriteY4m(in, 3);
  auto stats = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = {"encode", in, "-o", out, "--bitrate", "200", "--stats", "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunTool(CmdEncode, args).out;
  };
  EXPECT_NE(stats({"--speed", "5"}).find(", 2 passes"), std::string::npos);
  EXPECT_NE(stats({"--speed", "9"}).find(", 1 pass"), std::string::npos);
  EXPECT_NE(stats({"--speed", "9", "--passes", "2"}).find(", 2 passes"), std::string::npos);
  EXPECT_NE(stats({"--speed", "5", "--passes", "1"}).find(", 1 pass"), std::string::npos);
}

// One second of loud noise, 22050 Hz mono 16-bit.
void WriteNoiseWav(const std::string& path) {
  const uint32_t samples = 22050, bytes = samples * 2;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  auto word = [&](uint32_t v, int n) {
    for (int i = 0; i < n; i++) std::fputc(static_cast<int>(v >> (8 * i) & 255), f);
  };
  std::fwrite("RIFF", 1, 4, f);
  word(36 + bytes, 4);
  std::fwrite("WAVEfmt ", 1, 8, f);
  word(16, 4), word(1, 2), word(1, 2), word(22050, 4), word(44100, 4), word(2, 2), word(16, 2);
  std::fwrite("data", 1, 4, f);
  word(bytes, 4);
  uint32_t state = 1;
  for (uint32_t k = 0; k < samples; k++) {
    state = state * 1664525u + 1013904223u;
    word(state >> 16, 2);
  }
  std::fclose(f);
}

// A rate below what the sound alone takes fails naming it when the sound's
// quality was given; left to the encoder, the quality comes down instead.
TEST(EncodeCommand, RateBelowTheSoundFailsOnlyWhenItsQualityIsFixed) {
  std::string in = TempPath("sound.y4m"), wav = TempPath("sound.wav"), out = TempPath("sound.vxn");
  WriteY4m(in, 30);
  WriteNoiseWav(wav);
  EXPECT_EQ(RunEncode({"encode", in, "--audio", wav, "-o", out, "--bitrate", "200", "--audio-quality",
                       "100"}),
            1);
  EXPECT_EQ(RunEncode({"encode", in, "--audio", wav, "-o", out, "--bitrate", "200"}), 0);
}

#if !defined(_WIN32)
// Runs the command with its standard error on `fd` and returns what a
// terminal (the pseudo-terminal's master side) received, if any.
std::string RunWithStderr(int fd, int master, std::vector<std::string> args) {
  std::fflush(stderr);
  int saved = dup(2);
  dup2(fd, 2);
  int code = RunEncode(std::move(args));
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  EXPECT_EQ(code, 0);
  std::string text;
  if (master < 0) return text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(master, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

TEST(EncodeCommand, ProgressOnlyOnATerminalAndNotWhenQuiet) {
  std::string in = TempPath("tty.y4m"), out = TempPath("tty.vxn"), log = TempPath("tty.log");
  WriteY4m(in, 3);
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(terminal, 0);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  std::string shown = RunWithStderr(terminal, master, {"encode", in, "-o", out});
  EXPECT_NE(shown.find("frame 3/3"), std::string::npos) << shown;
  EXPECT_NE(shown.find("kbit/s"), std::string::npos);

  std::string quiet = RunWithStderr(terminal, master, {"encode", in, "-o", out, "--quiet"});
  EXPECT_EQ(quiet, "");

  int file = open(log.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(file, 0);
  RunWithStderr(file, -1, {"encode", in, "-o", out});
  EXPECT_EQ(lseek(file, 0, SEEK_END), 0);  // nothing written to a file
  close(file);
  close(terminal);
  close(master);
}
#endif

}  // namespace
