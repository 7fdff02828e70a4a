// vorntool: the project's command-line companion.
#include <cstdio>
#include <cstring>

#include "vorntool/commands.h"

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
  const char* summary;
};

constexpr Command kCommands[] = {
    {"info", CmdInfo, "FILE [--frames] [--json]      header, tracks and index of a movie"},
    {"decode", CmdDecode, "FILE [--video OUT.y4m] [--audio OUT.wav] [--pixels FMT -o OUT] ..."},
    {"encode", CmdEncode, "IN.y4m [--audio IN.wav]... -o OUT.vxn [...]   write a movie"},
    {"demo", CmdDemo, "-o demo.vxn [--size WxH] [--seconds S]   procedural demo movie"},
    {"switches", CmdSwitches, "TEXT | --posix ARGS... | --help-text   how the player reads its command"},
    {"bundle", CmdBundle, "PLAYER.exe MOVIE.vxn -o OUT.exe [--switches TEXT]"},
    {"play", CmdPlay, "--headless FILE [--frames N] [/switches]   real-time playback, no window"},
};

void Usage() {
  std::fprintf(stderr, "usage: vorntool COMMAND ...\n");
  for (const Command& c : kCommands) std::fprintf(stderr, "  %-9s %s\n", c.name, c.summary);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    Usage();
    return 1;
  }
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 1, argv + 1);
  std::fprintf(stderr, "vorntool: unknown command '%s'\n", argv[1]);
  Usage();
  return 1;
}
