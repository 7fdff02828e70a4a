#include "player/posix_args.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "player/help_text.h"
#include "player/parse_switches.h"
#include "player/player_system.h"
#include "player/switch_readers.h"

namespace {

struct LongOption {
  const char* name;
  const char* switch_text;  // the switch it stands for, its value appended
  enum { NONE, OPTIONAL_VALUE, VALUE } value;
};

constexpr LongOption kLongOptions[] = {
    {"loop", "/L", LongOption::OPTIONAL_VALUE}, {"fps", "/F", LongOption::VALUE},
    {"fullscreen", "/W-1 /H-1", LongOption::NONE}, {"track", "/T", LongOption::VALUE},
    {"stats", "/Q", LongOption::NONE},          {"summary", "/S", LongOption::NONE},
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(const char* p) {
  if (!*p) return false;
  for (; *p; ++p)
    if (!IsDigit(*p)) return false;
  return true;
}

// A frame rate as /F reads it, and nothing after it.
bool IsRatio(const char* p) {
  if (!IsDigit(p[0]) && !(p[0] == '-' && IsDigit(p[1]))) return false;
  const char* end = nullptr;
  ParseRatio(p, &end);
  return end && *end == 0;
}

bool AddSwitch(PosixArgs* out, const char* text) {
  return (!out->switches[0] || CommandTextAppend(out->switches, " ")) &&
         CommandTextAppend(out->switches, text);
}

PosixArgsResult Fail(PosixArgs* out, const std::string& message) {
  std::snprintf(out->error, sizeof(out->error), "%s", message.c_str());
  return POSIX_ARGS_ERROR;
}

PosixArgsResult TooLong(PosixArgs* out) { return Fail(out, kCommandTooLong); }

// A name the player can open: an existing file, "file|offset" with an
// existing file, ":offset" (the player's own executable), or a name whose
// ".vxn" file exists. The name kept is the one to open.
bool OpenableName(const char* arg, std::string* name) {
  const auto exists = PlayerSystemHooks()->file_exists;
  if (!arg[0]) return false;
  if (exists(arg)) {
    *name = arg;
    return true;
  }
  if (const char* bar = std::strrchr(arg, '|')) {
    if (AllDigits(bar + 1) && exists(std::string(arg, bar).c_str())) {
      *name = arg;
      return true;
    }
  }
  if (arg[0] == ':' && AllDigits(arg + 1)) {
    *name = arg;
    return true;
  }
  const char* slash = std::strrchr(arg, '/');
  if (!std::strchr(slash ? slash + 1 : arg, '.') && exists((std::string(arg) + ".vxn").c_str())) {
    *name = std::string(arg) + ".vxn";
    return true;
  }
  return false;
}

// Reads one argument alone with the switch readers: true when every
// character of it was a switch.
bool WholeSwitches(const char* text, char* error, uint32_t error_size, bool* refused) {
  static char scratch[kCommandTextSize];
  std::snprintf(scratch, sizeof(scratch), "%s", text);
  PlayerOptions scratch_options;
  PlayerOptionsInit(&scratch_options);
  CancelSwitches(scratch);
  *refused = !ParseSwitches(scratch, &scratch_options, error, error_size);
  if (*refused) return false;
  TrimText(scratch);
  return scratch[0] == 0;
}

// --name, --name=value or --name value.
PosixArgsResult ReadLongOption(int argc, const char* const* argv, int* i, PosixArgs* out) {
  const char* arg = argv[*i] + 2;
  const char* equals = std::strchr(arg, '=');
  const std::string name = equals ? std::string(arg, equals) : std::string(arg);
  for (const LongOption& o : kLongOptions) {
    if (name != o.name) continue;
    std::string value = equals ? equals + 1 : "";
    if (o.value == LongOption::NONE && equals)
      return Fail(out, "option '--" + name + "' takes no value");
    if (o.value == LongOption::VALUE && !equals) {
      if (*i + 1 >= argc) return Fail(out, "option '--" + name + "' needs a value");
      value = argv[++*i];
    }
    const bool number_ok = o.value == LongOption::NONE || (!equals && value.empty()) ||
                           (name == "fps" ? IsRatio(value.c_str()) : AllDigits(value.c_str()));
    if (!number_ok) return Fail(out, "bad value '" + value + "' for option '--" + name + "'");
    return AddSwitch(out, (o.switch_text + value).c_str()) ? POSIX_ARGS_PLAY : TooLong(out);
  }
  return Fail(out, "unknown option '--" + name + "' (see 'vornplay --help')");
}

}  // namespace

PosixArgsResult PosixArgsRead(int argc, const char* const* argv, PosixArgs* out) {
  out->switches[0] = 0;
  out->names[0] = out->names[1] = 0;
  out->bad = nullptr;
  out->error[0] = 0;
  bool options_done = false;
  std::string name;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options_done) {
      if (!std::strcmp(arg, "--")) {
        options_done = true;
        continue;
      }
      if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) return POSIX_ARGS_HELP;
      if (!std::strcmp(arg, "--version")) return POSIX_ARGS_VERSION;
      if (arg[0] == '-' && arg[1] == '-') {
        const PosixArgsResult r = ReadLongOption(argc, argv, &i, out);
        if (r != POSIX_ARGS_PLAY) return r;
        continue;
      }
    }
    // An existing file is a name before it can be a switch.
    if (OpenableName(arg, &name)) {
      if (!ExactListAppend(out->names, name.c_str())) return TooLong(out);
      continue;
    }
    if (!options_done && (arg[0] == '-' || arg[0] == '/') && arg[1]) {
      std::string text = arg;
      text[0] = '/';
      bool refused = false;
      if (WholeSwitches(text.c_str(), out->error, sizeof(out->error), &refused)) {
        if (!AddSwitch(out, text.c_str())) return TooLong(out);
        continue;
      }
      if (refused) return POSIX_ARGS_ERROR;
    }
    out->bad = arg;
    return POSIX_ARGS_MISSING;
  }
  return POSIX_ARGS_PLAY;
}

bool PosixCommandRead(PosixArgs* args, const char* embedded, PlayerOptions* options,
                      char* names_out) {
  static char text[kCommandTextSize];
  std::string user = std::string(" ") + args->switches;
  if (!CommandLineCompose(text, embedded, user.c_str())) {
    std::snprintf(args->error, sizeof(args->error), "%s", kCommandTooLong);
    return false;
  }
  CancelSwitches(text);
  if (!ParseSwitches(text, options, args->error, sizeof(args->error))) return false;
  TrimText(text);
  // What is left came from the embedded part (its names), or is a switch
  // given a second time, which the readers leave behind.
  names_out[0] = names_out[1] = 0;
  static char name[kCommandTextSize];
  while (TakeNextName(text, name)) {
    if (std::strchr(name, '/') && !PlayerSystemHooks()->file_exists(name)) {
      std::snprintf(args->error, sizeof(args->error),
                    "switch '%s' given more than once or not understood", name);
      return false;
    }
    if (!ExactListAppend(names_out, name)) {
      std::snprintf(args->error, sizeof(args->error), "%s", kCommandTooLong);
      return false;
    }
  }
  for (const char* n = args->names; *n; n += std::strlen(n) + 1) {
    if (!ExactListAppend(names_out, n)) {
      std::snprintf(args->error, sizeof(args->error), "%s", kCommandTooLong);
      return false;
    }
  }
  return true;
}

const char* PosixOpenFailure(const char* name) {
  errno = 0;
  std::FILE* file = std::fopen(name, "rb");
  if (!file) return std::strerror(errno ? errno : ENOENT);
  std::fclose(file);
  // It opens but is no movie file: a folder, or the offset form of a name.
  return std::strerror(PlayerSystemHooks()->file_exists(name) ? EINVAL : EISDIR);
}

const char* PosixUsageText() {
  static std::string text;
  if (text.empty()) {
    text =
        "Usage: vornplay [OPTION]... MOVIE...\n"
        "Plays Vorn movies (.vxn) in a window, with sound.\n"
        "\n"
        "  -h, --help         show this help and exit\n"
        "      --version      show the version and exit\n"
        "      --loop[=N]     play N times (without N: endlessly), as /L\n"
        "      --fps=R        play at R frames per second (12.5, 30000;1001), as /F\n"
        "      --fullscreen   fill the whole screen, as /W-1 /H-1\n"
        "      --track=ID     play sound track ID, as /T\n"
        "      --stats        show the statistics line (in the title), as /Q\n"
        "      --summary      print the playback summary at the end, as /S\n"
        "      --             every argument after this is a movie name\n"
        "\n"
        "An argument naming an existing file is a movie, whatever it holds.\n"
        "Keys: Space pause, Enter single step, . next movie, Esc end (logo), q quit,\n"
        "f or double-click full screen. Drop a movie on the window to play it.\n"
        "Without a display, play with 'vorntool play --headless MOVIE'.\n"
        "\n"
        "The switches below are written with '/' or '-' (-L2 = /L2); /Z (waveOut\n"
        "instead of DirectSound) concerns Windows only: SDL_AUDIODRIVER picks the\n"
        "sound system here.\n"
        "\n";
    text += PlayerHelpText();
  }
  return text.c_str();
}
