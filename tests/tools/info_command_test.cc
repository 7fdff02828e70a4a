// vorntool info on small movies: the stable lines, the per-frame lines, JSON
// and the engine's refusal texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "support/movie_fixtures.h"
#include "tools/tool_run.h"
#include "vorntool/commands.h"

namespace {

ToolRun Info(std::vector<std::string> args) {
  args.insert(args.begin(), "info");
  return RunTool(CmdInfo, args);
}

std::string TwoTrackMovie() {
  FixtureMovie fixture = FixtureBasic(40, 320, 240, 501, 10);
  fixture.header.video_flags = VIDEO_FLAG_ALPHA | (2u << 28);
  FixtureAddTrack(&fixture, 0, 22050 | AUDIO_TRACK_DCT | AUDIO_TRACK_STEREO | AUDIO_TRACK_16BIT,
                  69120, 40, 3840, 2);
  FixtureAddTrack(&fixture, 9, 11025 | AUDIO_TRACK_RDFT, 2000, 24, 900, 1);
  return FixtureWriteFile("info_command.vxn", FixtureBuild(fixture));
}

TEST(InfoCommand, HeaderTracksAndRates) {
  const ToolRun run = Info({TwoTrackMovie()});
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* line :
       {"version: i\n", "width: 320\n", "height: 240\n", "frames: 40\n", "rate: 30/1\n",
        "video_flag_words: alpha scale-2\n", "tracks: 2\n", "track.0.id: 0\n",
        "track.0.rate: 22050\n", "track.0.channels: 2\n", "track.0.bits: 16\n",
        "track.0.variant: dct\n", "track.0.max_bytes: 69120\n", "track.1.id: 9\n",
        "track.1.channels: 1\n", "track.1.bits: 8\n", "track.1.variant: rdft\n",
        "key_frames: 4\n"})
    EXPECT_NE(run.out.find(line), std::string::npos) << line << run.out;
  EXPECT_EQ(run.out.find("frame.1:"), std::string::npos);
}

// The achieved data rate in kbit/s as encode --stats gives it: the average
// agrees with the byte rate, the busiest second is at least the average.
TEST(InfoCommand, RatesInKilobitsPerSecond) {
  const ToolRun run = Info({TwoTrackMovie()});
  ASSERT_EQ(run.code, 0) << run.err;
  auto value = [&](const char* key) {
    size_t at = run.out.find(key);
    EXPECT_NE(at, std::string::npos) << key;
    return at == std::string::npos ? 0.0 : std::stod(run.out.substr(at + std::strlen(key)));
  };
  const double bytes_per_second = value("average_rate: ");
  const double average = value("average_kbps: "), peak = value("peak_second_kbps: ");
  EXPECT_NEAR(average, bytes_per_second * 8 / 1000, 0.1);  // the byte rate is rounded down
  EXPECT_GE(peak, average - 0.05);
  EXPECT_NE(Info({TwoTrackMovie(), "--json"}).out.find("\"peak_second_kbps\": "), std::string::npos);
}

TEST(InfoCommand, FramesListAudioPacketsPerTrack) {
  const ToolRun run = Info({TwoTrackMovie(), "--frames"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("frame.1: offset=232 size="), std::string::npos) << run.out;
  EXPECT_NE(run.out.find(" key=1 audio=40,24\n"), std::string::npos);
  EXPECT_NE(run.out.find("frame.2: "), std::string::npos);
  EXPECT_NE(run.out.find(" key=0 audio=0,24\n"), std::string::npos);
  EXPECT_NE(run.out.find("frame.40: "), std::string::npos);
}

TEST(InfoCommand, JsonCarriesTheSameFacts) {
  const ToolRun run = Info({TwoTrackMovie(), "--json", "--frames"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out.front(), '{');
  EXPECT_NE(run.out.find("\"frames\": 40,"), std::string::npos);
  EXPECT_NE(run.out.find("\"variant\": \"rdft\""), std::string::npos);
  EXPECT_NE(run.out.find("\"number\": 40,"), std::string::npos);
  EXPECT_NE(run.out.find("\"audio\": [40, 24]"), std::string::npos);
}

TEST(InfoCommand, RefusalsUseTheEngineTexts) {
  std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(3));
  bytes[3] = 'j';
  ToolRun run = Info({FixtureWriteFile("info_bad.vxn", bytes)});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("Not a Vorn file."), std::string::npos);
  EXPECT_TRUE(run.out.empty());
  run = Info({FixtureTempPath("info_missing.vxn")});
  EXPECT_EQ(run.code, 1);
  EXPECT_NE(run.err.find("Error opening file."), std::string::npos);
  run = Info({});
  EXPECT_EQ(run.code, kExitUsage);
}

TEST(InfoCommand, TruncatedFramesAreMarked) {
  std::vector<uint8_t> bytes = FixtureBuild(FixtureBasic(6, 64, 48, 300));
  bytes.resize(bytes.size() - 400);
  const ToolRun run = Info({FixtureWriteFile("info_cut.vxn", bytes), "--frames"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_NE(run.out.find("frame.1: "), std::string::npos);
  EXPECT_NE(run.out.find("audio=unreadable"), std::string::npos);
}

TEST(InfoCommand, CheckDecodesTheWholeMovieAndExitsThreeWhenDamaged) {
  const std::vector<uint8_t> whole = FixtureEncoded(10, 32, 32);
  const ToolRun clean = Info({FixtureWriteFile("info_clean.vxn", whole), "--check"});
  EXPECT_EQ(clean.code, kExitOk) << clean.err;
  EXPECT_NE(clean.out.find("damaged_frames: 0\nfirst_damaged_frame: 0\n"), std::string::npos)
      << clean.out;
  const size_t cut = (FixtureIndexEntry(whole, 4) & ~1u) + 1;  // inside frame 5
  const std::string path =
      FixtureWriteFile("info_cut.vxn", std::vector<uint8_t>(whole.begin(), whole.begin() + cut));
  const ToolRun damaged = Info({path, "--check"});
  EXPECT_EQ(damaged.code, kExitDamaged);
  EXPECT_NE(damaged.out.find("damaged_frames: 6\nfirst_damaged_frame: 5\n"), std::string::npos)
      << damaged.out;
  EXPECT_NE(damaged.err.find(path + ": movie damaged: Damaged or missing frames: 6 (first at frame 5)"),
            std::string::npos)
      << damaged.err;
  const ToolRun json = Info({path, "--check", "--json", "--frames"});
  EXPECT_EQ(json.code, kExitDamaged);
  EXPECT_NE(json.out.find("\"damaged_frames\": 6,\n  \"first_damaged_frame\": 5,\n  \"frame_list\""),
            std::string::npos)
      << json.out;
  // Without --check nothing is decoded and the exit status stays 0.
  EXPECT_EQ(Info({path}).code, kExitOk);
}

}  // namespace
