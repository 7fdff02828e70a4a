// vorntool switches: the player's reading of a command text, without the
// embedded part and without opening anything.
#include <cstdio>
#include <cstring>

#include "player/command_line.h"
#include "player/help_text.h"
#include "player/names.h"
#include "player/posix_args.h"
#include "player/switch_readers.h"
#include "vorntool/commands.h"

namespace {

void PrintOptions(const PlayerOptions& o) {
  struct Field {
    const char* name;
    int32_t value;
  };
  const Field fields[] = {
      {"plays_left", o.plays_left},
      {"list_plays_left", o.list_plays_left},
      {"parent_window", o.parent_window},
      {"rate_num", o.rate_num},
      {"rate_den", o.rate_den},
      {"track_id", o.track_id},
      {"read_speed", o.read_speed},
      {"io_buffer_size", o.io_buffer_size},
      {"disabled_controls", o.disabled_controls},
      {"topmost", o.topmost},
      {"window_style", o.window_style},
      {"use_wave_out", o.use_wave_out},
      {"show_summary", o.show_summary},
      {"show_stats", o.show_stats},
      {"keep_playing_unfocused", o.keep_playing_unfocused},
      {"black_background", o.black_background},
      {"hide_cursor", o.hide_cursor},
  };
  for (const Field& f : fields) std::printf("%s: %d\n", f.name, f.value);
  std::printf("open_flags: 0x%08x\n", o.open_flags);
  std::printf("display_flags: 0x%08x\n", o.display_flags);
  const Field more[] = {
      {"x", o.x},
      {"y", o.y},
      {"width_num", o.width_num},
      {"width_den", o.width_den},
      {"height_num", o.height_num},
      {"height_den", o.height_den},
      {"screen_width", o.screen_width},
      {"screen_height", o.screen_height},
      {"mode_width", o.mode_width},
      {"mode_height", o.mode_height},
      {"mode_depth", o.mode_depth},
  };
  for (const Field& f : more) std::printf("%s: %d\n", f.name, f.value);
}

// A name as the player would open it: a file name with its default
// extension; the offset forms as given.
void PrintName(const char* name) {
  MovieSource source;
  char error[kCommandTextSize + 64];
  if (MovieSourceFromName(name, &source, error, sizeof(error)) && source.form == NAME_FILE)
    std::printf("name: %s\n", source.path);
  else
    std::printf("name: %s\n", name);
}

enum SwitchesOption { kOptHelpText, kOptPosix };
constexpr OptionSpec kSwitchesOptions[] = {
    {kOptHelpText, "--help-text", nullptr, "print the player's own help text"},
    {kOptPosix, "--posix", nullptr,
     "the rest are the Linux player's arguments, each one item (vornplay --help)"},
};

// --posix ARGS...: the Linux player's reading, each argument one item.
int PosixSwitches(int argc, char** argv) {
  static PosixArgs args;
  // argv[0] is "--posix", in the place of the program's name.
  switch (PosixArgsRead(argc, argv, &args)) {
    case POSIX_ARGS_HELP:
      std::fputs(PosixUsageText(), stdout);
      return kExitOk;
    case POSIX_ARGS_VERSION:
      return kExitOk;
    case POSIX_ARGS_MISSING:
      std::fprintf(stderr, "vorntool switches: cannot open '%s': %s\n", args.bad,
                   PosixOpenFailure(args.bad));
      return kExitFailed;
    case POSIX_ARGS_ERROR:
      std::fprintf(stderr, "vorntool switches: %s\n", args.error);
      return kExitUsage;
    case POSIX_ARGS_PLAY:
      break;
  }
  static PlayerOptions options;
  static char names[kCommandTextSize];
  PlayerOptionsInit(&options);
  if (!PosixCommandRead(&args, "", &options, names)) {
    std::fprintf(stderr, "vorntool switches: %s\n", args.error);
    return kExitUsage;
  }
  std::printf("switches: %s\n", args.switches);
  PrintOptions(options);
  for (const char* n = names; *n; n += std::strlen(n) + 1) std::printf("name: %s\n", n);
  return kExitOk;
}

}  // namespace

const CommandSpec kSwitchesCommand = {
    "switches", "TEXT...\n--posix ARGS...\n--help-text", "the player's reading of a command text (switches and names)",
    CmdSwitches, kSwitchesOptions, Complete::kMovie, /*dash_operands=*/true};

int CmdSwitches(int argc, char** argv) {
  // Everything after --posix is the player's, long options included.
  if (argc >= 2 && !std::strcmp(argv[1], "--posix")) return PosixSwitches(argc - 1, argv + 1);
  ParsedCommand parsed;
  if (int code = ParseCommand(kSwitchesCommand, argc, argv, &parsed)) return ParseExitCode(code);
  if (!parsed.options.empty()) {
    std::fputs(PlayerHelpText(), stdout);
    return kExitOk;
  }
  // The operands joined by blanks form the command text.
  static char text[kCommandTextSize];
  text[0] = 0;
  for (size_t i = 0; i < parsed.operands.size(); ++i) {
    if ((i > 0 && !CommandTextAppend(text, " ")) || !CommandTextAppend(text, parsed.operands[i])) {
      std::fprintf(stderr, "vorntool switches: %s\n", kCommandTooLong);
      return kExitUsage;
    }
  }
  static PlayerOptions options;
  PlayerOptionsInit(&options);
  char error[256];
  switch (PlayerReadCommand(text, &options, error, sizeof(error))) {
    case START_ERROR:
      std::fprintf(stderr, "vorntool switches: %s\n", error);
      return 1;
    case START_HELP:
      std::fputs(PlayerHelpText(), stdout);
      return 1;
    case START_PLAY:
      break;
  }
  static NameList list;
  char name[kCommandTextSize];
  bool more = NameListStart(&list, &options, text, name);
  PrintOptions(options);
  for (; more; more = TakeNextName(list.text, name)) PrintName(name);
  return 0;
}
