// Opening the three name forms through the engine with the stored overrides.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "engine/movie_stats.h"
#include "platform/platform.h"
#include "player/fake_system.h"
#include "player/names.h"
#include "player/parse_switches.h"
#include "player/player_open.h"
#include "support/test_folder.h"
#include "writer/movie_writer.h"

namespace {

std::vector<uint8_t> SmallMovie() {
  MovieWriterHeader header;
  header.width = 64;
  header.height = 48;
  header.rate_num = 15;
  std::vector<MovieWriterFrame> frames(30);
  for (size_t f = 0; f < frames.size(); ++f) {
    frames[f].key = f == 0;
    frames[f].video.assign(2000, static_cast<uint8_t>(f));
  }
  return MovieWriterBuild(header, {}, frames);
}

class PlayerOpenTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = TestFolder();
    movie_bytes = SmallMovie();
    PlayerOptionsInit(&options);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::string path = (folder / name).string();
    PlatformFile f = FileOpenWrite(path.c_str());
    EXPECT_NE(f, kInvalidFile);
    EXPECT_EQ(FileWrite(f, bytes.data(), static_cast<uint32_t>(bytes.size())), bytes.size());
    FileClose(f);
    return path;
  }
  Movie* Open(const char* name) {
    MovieSource source;
    char error[1200];
    EXPECT_TRUE(MovieSourceFromName(name, &source, error, sizeof(error))) << error;
    return PlayerOpenMovie(&options, &source, &file);
  }
  void Close(Movie* movie) {
    if (movie) MovieClose(movie);
    if (file != kInvalidFile) FileClose(file);
    file = kInvalidFile;
  }
  std::filesystem::path folder;
  std::vector<uint8_t> movie_bytes;
  PlayerOptions options;
  PlatformFile file = kInvalidFile;
  FakeSystem fake;
  FakeSystemScope scope{&fake};
};

TEST_F(PlayerOpenTest, PlainNameGetsTheDefaultExtension) {
  std::string path = Write("movie.vxn", movie_bytes);
  std::string bare = path.substr(0, path.size() - 4);
  Movie* movie = Open(bare.c_str());
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(file, kInvalidFile);
  EXPECT_EQ(movie->frames, 30u);
  EXPECT_EQ(movie->rate_num, 15u);
  Close(movie);
}

TEST_F(PlayerOpenTest, MovieInsideAnotherFile) {
  std::vector<uint8_t> bytes(1024, 0xEE);
  bytes.insert(bytes.end(), movie_bytes.begin(), movie_bytes.end());
  std::string name = Write("film.dat", bytes) + "|1024";
  Movie* movie = Open(name.c_str());
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_NE(file, kInvalidFile);  // the player's handle, closed after the movie
  EXPECT_EQ(movie->width, 64u);
  EXPECT_EQ(movie->flags & OPEN_FILE_HANDLE, OPEN_FILE_HANDLE);
  Close(movie);

  movie = Open((Write("other.dat", bytes) + "|1000").c_str());
  EXPECT_EQ(movie, nullptr);  // no movie at that offset
  EXPECT_EQ(file, kInvalidFile);
  Close(movie);
}

TEST_F(PlayerOpenTest, MovieBehindTheOwnExecutable) {
  std::vector<uint8_t> bytes(777, 0x90);
  bytes.insert(bytes.end(), movie_bytes.begin(), movie_bytes.end());
  fake.module_path = Write("vornplay.exe", bytes);
  Movie* movie = Open(":777");
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(movie->frames, 30u);
  Close(movie);
}

TEST_F(PlayerOpenTest, OverridesReachTheEngine) {
  options.rate_num = 25;
  options.rate_den = 2;
  options.read_speed = 500000;
  options.io_buffer_size = 16384;
  options.open_flags = OPEN_FRAME_RATE | OPEN_READ_SPEED | OPEN_IO_SIZE;
  std::string path = Write("movie.vxn", movie_bytes);
  Movie* movie = Open(path.c_str());
  ASSERT_NE(movie, nullptr) << MovieGetError();
  EXPECT_EQ(movie->rate_num, 25u);
  EXPECT_EQ(movie->rate_den, 2u);
  EXPECT_EQ(movie->io.read_speed, 500000u);
  EXPECT_EQ(movie->io_buffer_size, 16384u);
  Close(movie);
  // Each override is consumed by its open; without the flags the file's rate holds.
  PlayerOptionsInit(&options);
  movie = Open(path.c_str());
  ASSERT_NE(movie, nullptr);
  EXPECT_EQ(movie->rate_num, 15u);
  Close(movie);
}

// The bare /F ("just /F for fast") and /F0 both play as fast as possible.
TEST_F(PlayerOpenTest, BareFrameRateSwitchPlaysAsFastAsPossible) {
  std::string path = Write("movie.vxn", movie_bytes);
  for (const char* switches : {"/F", "/F0"}) {
    PlayerOptionsInit(&options);
    char text[kCommandTextSize];
    std::snprintf(text, sizeof(text), "%s movie", switches);
    char error[256];
    ASSERT_TRUE(ParseSwitches(text, &options, error, sizeof(error))) << error;
    Movie* movie = Open(path.c_str());
    ASSERT_NE(movie, nullptr) << MovieGetError();
    EXPECT_EQ(movie->rate_num, 0u) << switches;
    EXPECT_EQ(movie->file_rate_num, 15u) << switches;
    MovieSummary summary;
    MovieGetSummary(movie, &summary);
    EXPECT_EQ(summary.rate_num, 0u) << switches;  // "As fast as possible"
    Close(movie);
  }
}

TEST_F(PlayerOpenTest, FilesThatCannotBeOpened) {
  fake.module_path = (folder / "missing.exe").string();
  EXPECT_EQ(Open(":100"), nullptr);
  EXPECT_STREQ(MovieGetError(), "Error opening EXE file.");
  std::string name = (folder / "missing.dat").string() + "|0";
  EXPECT_EQ(Open(name.c_str()), nullptr);
  EXPECT_STREQ(MovieGetError(), "Error opening file.");
  EXPECT_EQ(file, kInvalidFile);
}

TEST_F(PlayerOpenTest, UpdateCheckOnlyForNamedFiles) {
  fake.files.insert("C:\\Vorn\\dodozeruvur.exe");
  fake.today = {2004, 6, 1};
  fake.answer_yes = true;
  std::vector<uint8_t> bytes(10, 0);
  bytes.insert(bytes.end(), movie_bytes.begin(), movie_bytes.end());
  std::string exe = Write("vornplay.exe", bytes);
  Movie* movie;
  fake.module_path = "C:\\Vorn\\vornplay.exe";
  // The own-executable form never asks: it fails on the module path instead.
  EXPECT_EQ(PlayerOpenNamed(&options, ":10", &movie, &file), NAMED_FAILED);
  EXPECT_TRUE(fake.questions.empty());
  std::string named = Write("movie.vxn", movie_bytes);
  EXPECT_EQ(PlayerOpenNamed(&options, named.c_str(), &movie, &file), NAMED_UPDATE_CHOSEN);
  EXPECT_EQ(fake.questions.size(), 1u);
  EXPECT_EQ(movie, nullptr);
  // Asked today: the next open plays.
  EXPECT_EQ(PlayerOpenNamed(&options, named.c_str(), &movie, &file), NAMED_OPENED);
  Close(movie);
}

}  // namespace
