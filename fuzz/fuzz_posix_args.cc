// The POSIX player's argument reader on any argument vector (the input split
// at NUL bytes; an argument ending in ".vxn" counts as an existing file):
// switches and names are read, then the switch text with an embedded
// command line (the first argument when it starts with "@"). Every refusal
// must say what was wrong; the texts stay terminated inside their buffers.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/player_options.h"
#include "player/player_system.h"
#include "player/posix_args.h"

namespace {

bool EndsInVxn(const char* name) {
  const size_t n = std::strlen(name);
  return n >= 4 && std::strcmp(name + n - 4, ".vxn") == 0;
}

bool Terminated(const char* text, size_t size) { return std::memchr(text, 0, size) != nullptr; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PlayerSystemHooks()->file_exists = EndsInVxn;
  std::vector<std::string> args = {"vornplay"};
  std::string current;
  for (size_t i = 0; i < size && args.size() < 64; i++) {
    if (data[i] == 0) {
      args.push_back(current);
      current.clear();
    } else {
      current += static_cast<char>(data[i]);
    }
  }
  if (!current.empty()) args.push_back(current);
  std::string embedded;
  if (args.size() > 1 && !args[1].empty() && args[1][0] == '@') {
    embedded = args[1].substr(1);
    args.erase(args.begin() + 1);
  }
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  static PosixArgs read;
  const PosixArgsResult result = PosixArgsRead(static_cast<int>(args.size()), argv.data(), &read);
  if (!Terminated(read.switches, sizeof read.switches) || !Terminated(read.names, sizeof read.names))
    std::abort();
  if (result == POSIX_ARGS_ERROR && (!Terminated(read.error, sizeof read.error) || !read.error[0]))
    std::abort();
  if (result == POSIX_ARGS_MISSING && !read.bad) std::abort();
  if (result != POSIX_ARGS_PLAY) return 0;

  PlayerOptions options;
  PlayerOptionsInit(&options);
  static char names[kCommandTextSize];
  if (!PosixCommandRead(&read, embedded.c_str(), &options, names)) {
    if (!Terminated(read.error, sizeof read.error) || !read.error[0]) std::abort();
    return 0;
  }
  if (!Terminated(names, sizeof names)) std::abort();
  return 0;
}
