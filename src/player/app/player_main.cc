// The player's start-up: the command text is built and read, the window
// class registered and the window created by the front end of this build,
// the sound system chosen, and the names played in the main loop.
#include "app/player_main.h"

#include "display/display_buffer.h"
#include "player/command_line.h"
#include "player/help_box.h"
#include "player/help_text.h"
#include "player/window_loop.h"
#include "sound/sound_drivers.h"

namespace {

constexpr const char* kErrorCaption = "Vorn Error";

int ShowError(const char* text) {
  MessageBoxShow(text, kErrorCaption, MESSAGE_ERROR);
  return 1;
}

// The sound system: waveOut with /Z, else DirectSound (Windows only; other
// systems play movies silently).
void SelectSound(const PlayerOptions* options) {
#ifdef _WIN32
  SoundDriverSelect(options->use_wave_out ? SoundWaveOutDriver : SoundDirectSoundDriver, 0);
#else
  (void)options;
#endif
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
  if (options.display_flags & kDisplayModeChangeFlag)
    DisplaySetModeRequest(static_cast<uint32_t>(options.mode_width),
                          static_cast<uint32_t>(options.mode_height),
                          static_cast<uint32_t>(options.mode_depth));
  PlayerStateInit(&options, ops);
  void* window = ops->create(&options);
  if (!window) {
    MessageBoxShow("Error creating window.", "Windows", MESSAGE_ERROR);
    return 1;
  }
  Player()->window = window;
  PlayerSystemHooks()->window = window;
  SelectSound(&options);
  int code = PlayerRun(text);
  PlayerSystemHooks()->window = nullptr;
  return code;
}
