// Starting and jumping from the command line: decode --start gives the same
// pictures and sound as the tail of a decode from the start; play --seek
// jumps in command-line order with --frames; the time words they read.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <filesystem>
#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"

namespace {

ToolRun Command(int (*command)(int, char**), std::vector<std::string> args) {
  return RunTool(command, args);
}

// A 3 s demo movie with sound (64 x 48 at 30/1, 22050 Hz stereo), made once.
// Made in the running test's own folder, which goes with the test.
const std::string& Demo() {
  static std::string path;
  path = FixtureTempPath("seek_demo.vxn");
  if (!std::filesystem::exists(path)) {
    const ToolRun r = Command(CmdDemo, {"demo", "-o", path, "--size", "64x48", "--seconds", "3"});
    EXPECT_EQ(r.code, 0) << r.err;
  }
  return path;
}

// The frames of a Y4M file (64 x 48, 4:2:0), without their FRAME lines.
std::vector<std::vector<uint8_t>> Y4mFrames(const std::vector<uint8_t>& bytes) {
  std::vector<std::vector<uint8_t>> frames;
  size_t pos = 0;
  while (pos < bytes.size() && bytes[pos] != '\n') pos++;
  pos++;
  const size_t size = 64 * 48 * 3 / 2;
  while (pos + 6 + size <= bytes.size()) {
    frames.emplace_back(bytes.begin() + pos + 6, bytes.begin() + pos + 6 + size);
    pos += 6 + size;
  }
  EXPECT_EQ(pos, bytes.size());
  return frames;
}

TEST(DecodeStart, PicturesAreTheTailOfTheFullDecode) {
  const std::string all = FixtureTempPath("start_all.y4m");
  const std::string part = FixtureTempPath("start_part.y4m");
  ASSERT_EQ(Command(CmdDecode, {"decode", Demo(), "--video", all}).code, 0);
  const ToolRun r = Command(CmdDecode, {"decode", Demo(), "--video", part, "--start", "1.5", "--frames", "10"});
  ASSERT_EQ(r.code, 0) << r.err;
  const auto full = Y4mFrames(ReadAll(all));
  const auto tail = Y4mFrames(ReadAll(part));
  ASSERT_EQ(full.size(), 90u);
  ASSERT_EQ(tail.size(), 10u);
  for (size_t i = 0; i < tail.size(); ++i)
    EXPECT_TRUE(tail[i] == full[45 + i]) << "frame " << 46 + i;  // 1.5 s shows frame 46
  // Without --frames, on to the last frame.
  ASSERT_EQ(Command(CmdDecode, {"decode", Demo(), "--video", part, "--start", "2.99"}).code, 0);
  const auto last = Y4mFrames(ReadAll(part));
  ASSERT_EQ(last.size(), 1u);
  EXPECT_TRUE(last[0] == full[89]);
}

TEST(DecodeStart, SoundStartsAtTheStartFramesTime) {
  const std::string all = FixtureTempPath("start_all.raw");
  const std::string part = FixtureTempPath("start_part.raw");
  ASSERT_EQ(Command(CmdDecode, {"decode", Demo(), "--audio", all, "--raw"}).code, 0);
  ASSERT_EQ(Command(CmdDecode, {"decode", Demo(), "--audio", part, "--raw", "--start", "1.5"}).code, 0);
  const std::vector<uint8_t> full = ReadAll(all), tail = ReadAll(part);
  const size_t skipped = 45 * 735 * 4;  // 45 frame times of 22050 Hz stereo 16-bit
  ASSERT_EQ(full.size(), tail.size() + skipped);
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), full.begin() + skipped));
}

TEST(DecodeStart, RefusesTimesPastTheEndOrMisspelt) {
  const std::string out = FixtureTempPath("start_bad.y4m");
  EXPECT_EQ(Command(CmdDecode, {"decode", Demo(), "--video", out, "--start", "3"}).code, kExitFailed);
  EXPECT_EQ(Command(CmdDecode, {"decode", Demo(), "--audio", out, "--start", "3"}).code, kExitFailed);
  for (const char* bad : {"-1", "1.", "1.2345", "", "1e3", "abc", "20000000"})
    EXPECT_EQ(Command(CmdDecode, {"decode", Demo(), "--video", out, "--start", bad}).code, kExitUsage)
        << bad;
}

TEST(PlaySeek, JumpsInOrderWithTheFrameCounts) {
  const ToolRun r = Command(CmdPlay, {"play", "--headless", Demo(), "/F0", "--frames", "5", "--seek", "1",
                                  "--frames", "3", "--seek", "0.25", "--frames", "4"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.err.find("seek to 1.000 s (frame 31) ready in"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("seek to 0.250 s (frame 8) ready in"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("Total frames played: 12\n"), std::string::npos) << r.out;
}

TEST(PlaySeek, AfterTheLastSeekThePlaybackRunsToTheEnd) {
  const ToolRun r = Command(CmdPlay, {"play", "--headless", Demo(), "/F0", "--frames", "2", "--seek", "2"});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find("Total frames played: 32\n"), std::string::npos) << r.out;  // 2 + 61..90
}

TEST(PlaySeek, PastTheEndFailsAndMisspeltIsAUsageError) {
  const ToolRun past = Command(CmdPlay, {"play", "--headless", Demo(), "/F0", "--seek", "4"});
  EXPECT_EQ(past.code, kExitFailed);
  EXPECT_NE(past.err.find("--seek 4.000: past the end of the movie"), std::string::npos) << past.err;
  EXPECT_EQ(Command(CmdPlay, {"play", "--headless", Demo(), "--seek", "soon"}).code, kExitUsage);
}

TEST(TimeWords, SecondsAndTheFrameOnScreen) {
  uint64_t ms = 0;
  ASSERT_TRUE(ParseSeconds("12", &ms));
  EXPECT_EQ(ms, 12000u);
  ASSERT_TRUE(ParseSeconds("83.5", &ms));
  EXPECT_EQ(ms, 83500u);
  ASSERT_TRUE(ParseSeconds("0.125", &ms));
  EXPECT_EQ(ms, 125u);
  EXPECT_EQ(FrameAtMs(0, 30, 1), 1u);
  EXPECT_EQ(FrameAtMs(999, 30, 1), 30u);
  EXPECT_EQ(FrameAtMs(1000, 30, 1), 31u);
  EXPECT_EQ(FrameAtMs(1001, 30000, 1001), 31u);  // 30 frames of 1001/30000 s each
  EXPECT_EQ(FrameAtMs(1000, 0, 1), 1u);
  EXPECT_EQ(FrameAtMs(10000000000ull, 4000000000u, 1), 40000000000000001ull);  // no overflow
}

}  // namespace
