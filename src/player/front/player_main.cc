// The player's start-up: the command text is built and read, the window
// class registered and the window created by the front end of this build,
// the sound system chosen, and the names played in the main loop.
#include "player/front/player_main.h"

#include <cstdio>

#include "display/display_buffer.h"
#include "player/command_line.h"
#include "player/front/help_box.h"
#include "player/front/system_os.h"
#include "player/front/window.h"
#include "player/help_text.h"
#include "player/player_state.h"
#include "player/player_system.h"
#include "player/posix_args.h"
#include "player/window_loop.h"
#include "sound/sound_drivers.h"

namespace {

constexpr const char* kErrorCaption = "Vorn Error";
constexpr const char* kProgram = "vornplay";
constexpr const char* kVersion = "VornPlay  V 1.5t";

int ShowError(const char* text) {
  MessageBoxShow(text, kErrorCaption, MESSAGE_ERROR);
  return 1;
}

// The sound system: waveOut with /Z, else DirectSound.
void SelectSound(PlayerState* player) {
#ifdef _WIN32
  SoundDriverSelect(player->options->use_wave_out ? SoundWaveOutDriver : SoundDirectSoundDriver, 0);
#else
  player->sound_note = PlayerSelectSoundPosix(kProgram);
#endif
}

// From the window's creation to the end of the last movie.
int PlayNames(PlayerOptions* options, const PlayerWindowOps* ops, const char* names, bool exact) {
  if (options->display_flags & kDisplayModeChangeFlag)
    DisplaySetModeRequest(static_cast<uint32_t>(options->mode_width),
                          static_cast<uint32_t>(options->mode_height),
                          static_cast<uint32_t>(options->mode_depth));
  // The player's state: the loop and the window's events share it.
  PlayerState player;
  PlayerStateInit(&player, options, ops);
  void* window = ops->create(&player);
  if (!window) {
    MessageBoxShow("Error creating window.", "Windows", MESSAGE_ERROR);
    return 1;
  }
  player.window = window;
  PlayerSystemHooks()->window = window;
  SelectSound(&player);
  int code = PlayerRun(&player, names, exact);
  PlayerSystemHooks()->window = nullptr;
  return code;
}

}  // namespace

int PlayerMain(const char* args) {
  static char text[kCommandTextSize];
  static PlayerOptions options;
  if (!CommandLineBuild(text, args)) return ShowError(kCommandTooLong);
  PlayerOptionsInit(&options);
  char error[256];
  StartResult start = PlayerReadCommand(text, &options, error, sizeof(error));
  if (start == START_ERROR) return ShowError(error);

  const PlayerWindowOps* ops = PlayerFrontEnd();
  if (!ops->register_class(&options)) return 1;
  if (start == START_HELP) {
    HelpBoxShow(PlayerHelpText(), kHelpCaption);
    return 1;
  }
  return PlayNames(&options, ops, text, false);
}

int PlayerMainPosix(int argc, char** argv) {
  static PosixArgs args;
  static char names[kCommandTextSize];
  static PlayerOptions options;
  switch (PosixArgsRead(argc, argv, &args)) {
    case POSIX_ARGS_HELP:
      std::fputs(PosixUsageText(), stdout);
      return 0;
    case POSIX_ARGS_VERSION:
      std::printf("%s\n", kVersion);
      return 0;
    case POSIX_ARGS_MISSING:
      std::fprintf(stderr, "%s: cannot open '%s': %s\n", kProgram, args.bad,
                   PosixOpenFailure(args.bad));
      return 1;
    case POSIX_ARGS_ERROR:
      std::fprintf(stderr, "%s: %s\n", kProgram, args.error);
      return 1;
    case POSIX_ARGS_PLAY:
      break;
  }
  char embedded[kEmbeddedLoadLimit];
  EmbeddedCommandLoad(nullptr, embedded, sizeof(embedded));
  PlayerOptionsInit(&options);
  if (!PosixCommandRead(&args, embedded, &options, names)) {
    std::fprintf(stderr, "%s: %s\n", kProgram, args.error);
    return 1;
  }
  if (!names[0]) {
    std::fprintf(stderr, "%s: no movie named\nTry '%s --help' for more.\n", kProgram, kProgram);
    return 1;
  }
  const PlayerWindowOps* ops = PlayerFrontEnd();
  if (!ops->register_class(&options)) return 1;
  // Full-screen sizes refer to the screen of the window system, which has
  // only now started; a /D screen size stays.
  if (!(options.display_flags & kDisplayModeChangeFlag)) {
    const ScreenSize screen = PlayerSystemHooks()->screen_size();
    options.screen_width = screen.width;
    options.screen_height = screen.height;
  }
  return PlayNames(&options, ops, names, true);
}
