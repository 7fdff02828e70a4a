// vorntool's front door: the command list, the top-level help and --version.
#include <cstdio>
#include <cstring>

#include "vorntool/commands.h"

#ifndef VORNTOOL_VERSION
#define VORNTOOL_VERSION "unknown"
#endif

namespace {

constexpr const CommandSpec* kCommands[] = {
    &kInfoCommand,     &kDecodeCommand, &kEncodeCommand, &kDemoCommand,
    &kSwitchesCommand, &kBundleCommand, &kPlayCommand,   &kCompletionCommand,
};

void PrintToolHelp(std::FILE* out) {
  std::fprintf(out,
               "usage: vorntool COMMAND [options] ...\n"
               "       vorntool COMMAND --help | vorntool help COMMAND\n"
               "       vorntool --version\n"
               "Inspect, decode and make Vorn movies (.vxn).\n\ncommands:\n");
  for (const CommandSpec* command : kCommands)
    std::fprintf(out, "  %-10s  %s\n", command->name, command->summary);
  std::fprintf(out,
               "\nexit status: 0 done, 1 an input or output failed, 2 the command line was wrong\n");
}

int ToolUsageError(const char* format, const char* word) {
  std::fprintf(stderr, "vorntool: ");
  std::fprintf(stderr, format, word);
  std::fprintf(stderr, " (see vorntool --help)\n");
  return kExitUsage;
}

int Help(int argc, char** argv) {
  if (argc == 0) {
    PrintToolHelp(stdout);
    return kExitOk;
  }
  if (argc > 1) return ToolUsageError("help takes one command name, not '%s'", argv[1]);
  const CommandSpec* command = FindCommand(argv[0]);
  if (!command) return ToolUsageError("unknown command '%s'", argv[0]);
  PrintCommandHelp(*command, stdout);
  return kExitOk;
}

}  // namespace

std::span<const CommandSpec* const> VorntoolCommands() { return kCommands; }

const CommandSpec* FindCommand(const char* name) {
  for (const CommandSpec* command : kCommands)
    if (!std::strcmp(command->name, name)) return command;
  return nullptr;
}

int VorntoolMain(int argc, char** argv) {
  if (argc < 2) {
    PrintToolHelp(stderr);
    return kExitUsage;
  }
  const char* word = argv[1];
  if (!std::strcmp(word, "--help") || !std::strcmp(word, "-h")) return Help(0, nullptr);
  if (!std::strcmp(word, "help")) return Help(argc - 2, argv + 2);
  if (!std::strcmp(word, "--version")) {
    std::printf("vorntool %s\n", VORNTOOL_VERSION);
    return kExitOk;
  }
  if (word[0] == '-') return ToolUsageError("unknown option '%s'", word);
  const CommandSpec* command = FindCommand(word);
  if (!command) return ToolUsageError("unknown command '%s'", word);
  return command->run(argc - 1, argv + 1);
}
