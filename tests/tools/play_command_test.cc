// vorntool play --headless: the movie is stepped through the engine the way
// the player's loop steps it, and the playback summary is printed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/movie_fixtures.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"

namespace {

ToolRun Play(std::vector<std::string> args) {
  args.insert(args.begin(), "play");
  return RunTool(CmdPlay, args);
}

std::string SmallMovie(uint32_t frames) {
  return FixtureWriteFile("play_command_" + std::to_string(frames) + ".vxn",
                          FixtureEncoded(frames, 64, 48));
}

TEST(PlayCommand, ACutMovieIsPlayedAsFarAsItGoesThenExitsThree) {
  const std::vector<uint8_t> whole = FixtureEncoded(12, 64, 48);
  const size_t cut = (FixtureIndexEntry(whole, 8) & ~1u) + 1;  // inside frame 9
  const std::string path =
      FixtureWriteFile("play_cut.vxn", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
  const ToolRun run = Play({"--headless", path, "/F0"});
  EXPECT_EQ(run.code, kExitDamaged) << run.err;
  EXPECT_NE(run.out.find("Total frames played: 8\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Damaged or missing frames: 4 (first at frame 9)\n"), std::string::npos);
  EXPECT_NE(run.err.find(path + ": movie damaged: Damaged or missing frames: 4 (first at frame 9)"),
            std::string::npos)
      << run.err;
}

TEST(PlayCommand, StopsAfterTheRequestedFrames) {
  const ToolRun run = Play({"--headless", SmallMovie(20), "/F0", "--frames", "5"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Video: 64 x 48 at 30.0 frames/sec\nTotal frames: 20\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Total frames played: 5\n"), std::string::npos);
  EXPECT_NE(run.out.find("Frame rate played: As fast as possible\n"), std::string::npos);
  EXPECT_NE(run.out.find("Blitting style: "), std::string::npos);
}

TEST(PlayCommand, LoopSwitchPlaysTheMovieAgain) {
  const ToolRun run = Play({"--headless", SmallMovie(4), "/F0", "/L2"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Total frames played: 8\n"), std::string::npos) << run.out;
}

TEST(PlayCommand, PlaysAtTheMovieRateByDefault) {
  const ToolRun run = Play({"--headless", SmallMovie(3)});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("Total frames played: 3\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Frame rate played: 30.0 frames/sec\n"), std::string::npos);
}

TEST(PlayCommand, RefusesWhatItCannotPlay) {
  EXPECT_EQ(Play({SmallMovie(3)}).code, kExitUsage);  // only headless playback exists
  const ToolRun missing = Play({"--headless", FixtureTempPath("no_such_movie.vxn")});
  EXPECT_EQ(missing.code, 1);
  EXPECT_NE(missing.err.find("Error opening file."), std::string::npos) << missing.err;
}

}  // namespace
