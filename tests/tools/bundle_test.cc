// A player with its command line written in and a movie appended: the
// patched executable reads back its own command line through the same
// loader the player uses (string resource on Windows, marked array here).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#ifdef _WIN32
#include <process.h>
#endif
#include <string>
#include <vector>

#include "platform/platform.h"
#include "player/command_line.h"
#include "player/names.h"
#include "vorntool/embedded_patch.h"
#include "writer/movie_writer.h"

namespace {

std::string Folder(const std::string& path) {
  size_t cut = path.find_last_of("\\/");
  return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

// The player executable of this build, beside the test's own folder.
std::string PlayerPath() {
  char module[1024];
  uint32_t n = ModulePath(module, sizeof(module));
  if (n == 0 || n >= sizeof(module)) return "";
#ifdef _WIN32
  return Folder(std::string(module, n)) + "../src/player/vornplay.exe";
#else
  return Folder(std::string(module, n)) + "../src/player/vornplay";
#endif
}

bool ReadWhole(const std::string& path, std::vector<uint8_t>* bytes) {
  PlatformFile f = FileOpenRead(path.c_str(), false);
  if (f == kInvalidFile) return false;
  int64_t size = FileSize(f);
  bytes->resize(size > 0 ? static_cast<size_t>(size) : 0);
  bool ok = size > 0 && FileRead(f, bytes->data(), static_cast<uint32_t>(size)) == size;
  FileClose(f);
  return ok;
}

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
  PlatformFile f = FileOpenWrite(path.c_str());
  if (f == kInvalidFile) return false;
  bool ok = FileWrite(f, bytes.data(), static_cast<uint32_t>(bytes.size())) == bytes.size();
  FileClose(f);
  return ok;
}

std::vector<uint8_t> SmallMovie() {
  MovieWriterHeader header;
  header.width = 64;
  header.height = 48;
  std::vector<MovieWriterFrame> frames(12);
  for (size_t f = 0; f < frames.size(); ++f) {
    frames[f].key = f == 0;
    frames[f].video.assign(300, static_cast<uint8_t>(f));
  }
  return MovieWriterBuild(header, {}, frames);
}

TEST(Bundle, PatchedPlayerReadsItsOwnCommandLine) {
  std::vector<uint8_t> player;
  std::string path = PlayerPath();
  if (!ReadWhole(path, &player)) GTEST_SKIP() << "player not built at " << path;

  // The unpatched player carries an empty embedded command line.
  char text[kCommandTextSize];
  ASSERT_TRUE(CommandLineBuildFrom(path.c_str(), text, "movie"));
  EXPECT_STREQ(text, "movie");

  const std::vector<uint8_t> movie = SmallMovie();
  std::string command = ":" + std::to_string(player.size()) + " /l /c /a4 ";
  char error[256];
  ASSERT_TRUE(EmbeddedCommandPatch(player.data(), player.size(), command.c_str(), error,
                                   sizeof(error)))
      << error;
  player.insert(player.end(), movie.begin(), movie.end());
  std::string out = Folder(PlayerPath()) + "bundle_test_out" + (path.size() > 4 && path.substr(path.size() - 4) == ".exe" ? ".exe" : "");
  ASSERT_TRUE(WriteWhole(out, player));

  ASSERT_TRUE(CommandLineBuildFrom(out.c_str(), text, "/s"));
  EXPECT_EQ(std::string(text), command + "/s");

  PlayerOptions options;
  PlayerOptionsInit(&options);
  ASSERT_EQ(PlayerReadCommand(text, &options, error, sizeof(error)), START_PLAY);
  EXPECT_EQ(options.plays_left, 0);
  EXPECT_EQ(options.hide_cursor, 1);
  EXPECT_EQ(options.show_summary, 1);
  MovieSource source;
  ASSERT_TRUE(MovieSourceFromName(text, &source, error, sizeof(error)));
  ASSERT_EQ(source.form, NAME_OWN_EXE);

  // The offset names the first byte of the appended movie.
  std::vector<uint8_t> written;
  ASSERT_TRUE(ReadWhole(out, &written));
  ASSERT_EQ(written.size(), source.offset + movie.size());
  EXPECT_TRUE(std::equal(movie.begin(), movie.end(), written.begin() + static_cast<ptrdiff_t>(source.offset)));

#ifdef _WIN32
  // The bundled player finds and opens its own movie: exit code 0 (a failed
  // open shows an error box and ends with 1).
  // "/-L /F" ends the embedded endless loop and plays once as fast as
  // possible; no message box may wait for an answer.
  _putenv("VORN_ANSWER=no");
  EXPECT_EQ(_spawnl(_P_WAIT, out.c_str(), out.c_str(), "/-L", "/F", nullptr), 0);
#else
  // The bundled player finds and opens its own movie (it reports what it opened).
  std::filesystem::permissions(out, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
  // "/-L /F" ends the embedded endless loop and plays once as fast as
  // possible; the summary (/S) tells what was played.
  FILE* run = popen(("SDL_VIDEODRIVER=dummy \"" + out + "\" /-L /F /S 2>&1").c_str(), "r");
  ASSERT_NE(run, nullptr);
  std::string output;
  char line[256];
  while (std::fgets(line, sizeof(line), run)) output += line;
  EXPECT_EQ(pclose(run), 0) << output;
  // Scaling mode 4 (/a4) doubles both directions of the 64x48 movie.
  EXPECT_NE(output.find("Video: 128 x 96 at 30.0 frames/sec\nTotal frames: 12\n"), std::string::npos)
      << output;
#endif
}

}  // namespace
