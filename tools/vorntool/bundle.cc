// vorntool bundle: a player that plays its own movie. The player is copied
// with ":OFFSET SWITCHES" written into its reserved command line, and the
// movie is appended at OFFSET.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "player/command_line.h"
#include "vorntool/commands.h"
#include "vorntool/embedded_patch.h"

namespace {

constexpr int64_t kPlayerSizeMax = 256 << 20;
constexpr uint32_t kCopyChunk = 1 << 20;

int Fail(const char* what) {
  std::fprintf(stderr, "vorntool bundle: %s\n", what);
  return 1;
}

bool ReadPlayer(const char* path, std::vector<uint8_t>* bytes) {
  PlatformFile f = FileOpenRead(path, false);
  if (f == kInvalidFile) return false;
  int64_t size = FileSize(f);
  bool ok = size > 0 && size <= kPlayerSizeMax;
  if (ok) {
    bytes->resize(static_cast<size_t>(size));
    ok = FileRead(f, bytes->data(), static_cast<uint32_t>(size)) == static_cast<uint64_t>(size);
  }
  FileClose(f);
  return ok;
}

// Streams the movie behind the player; the movie must start with its signature.
bool AppendMovie(PlatformFile out, const char* movie_path, std::string* error) {
  PlatformFile in = FileOpenRead(movie_path, false);
  if (in == kInvalidFile) {
    *error = std::string("cannot open ") + movie_path;
    return false;
  }
  std::vector<uint8_t> chunk(kCopyChunk);
  bool ok = true, first = true;
  for (uint32_t got; ok && (got = FileRead(in, chunk.data(), kCopyChunk)) > 0; first = false) {
    if (first && (got < 4 || std::memcmp(chunk.data(), "VXN", 3))) {
      *error = std::string(movie_path) + " is not a Vorn movie (no VXN signature)";
      ok = false;
    } else if (FileWrite(out, chunk.data(), got) != got) {
      *error = "cannot write the output";
      ok = false;
    }
  }
  if (ok && first) {
    *error = std::string(movie_path) + " is empty";
    ok = false;
  }
  FileClose(in);
  return ok;
}

enum BundleOption { kOptOut, kOptSwitches };
constexpr OptionSpec kBundleOptions[] = {
    {kOptOut, "-o", "OUT.exe", "the player with its movie to write (required)", Complete::kExe},
    {kOptSwitches, "--switches", "TEXT", "switches the bundled player starts with (e.g. \"/L /C\")"},
};

}  // namespace

const CommandSpec kBundleCommand = {
    "bundle", "PLAYER.exe MOVIE.vxn -o OUT.exe [--switches TEXT]",
    "a player that plays its own movie (the movie appended, its offset embedded)", CmdBundle,
    kBundleOptions, Complete::kFile};

int CmdBundle(int argc, char** argv) {
  const char *out_path = nullptr, *switches = "";
  ParsedCommand parsed;
  if (int code = ParseCommand(kBundleCommand, argc, argv, &parsed)) return ParseExitCode(code);
  for (const ParsedOption& option : parsed.options)
    (option.spec->id == kOptOut ? out_path : switches) = option.value;
  if (parsed.operands.size() != 2)
    return UsageError(kBundleCommand, "wants a player and a movie, got %u names",
                      static_cast<unsigned>(parsed.operands.size()));
  if (!out_path) return UsageError(kBundleCommand, "no output named (-o OUT.exe)");
  const char* player_path = parsed.operands[0];
  const char* movie_path = parsed.operands[1];

  std::vector<uint8_t> player;
  if (!ReadPlayer(player_path, &player)) return Fail("cannot read the player executable");
  // A trailing blank keeps the user's own arguments apart from the last switch.
  std::string command = ":" + std::to_string(player.size());
  if (*switches) command += std::string(" ") + switches;
  command += " ";
  char error[256];
  if (!EmbeddedCommandPatch(player.data(), player.size(), command.c_str(), error, sizeof(error)))
    return Fail(error);

  PlatformFile out = FileOpenWrite(out_path);
  if (out == kInvalidFile) return Fail("cannot create the output");
  std::string append_error;
  bool ok = FileWrite(out, player.data(), static_cast<uint32_t>(player.size())) == player.size() &&
            AppendMovie(out, movie_path, &append_error);
  FileClose(out);
  if (!ok) return Fail(append_error.empty() ? "cannot write the output" : append_error.c_str());
  std::printf("%s: %s (movie at byte %zu)\n", out_path, command.c_str(), player.size());
  return 0;
}
