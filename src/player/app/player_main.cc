// Start-up without a window: the command text is built and read, and each
// named movie is opened through the engine and closed again. The window and
// the main loop take over from here once they exist.
#include "app/player_main.h"

#include <cstdio>

#include "engine/movie.h"
#include "player/command_line.h"
#include "player/help_text.h"
#include "player/names.h"

namespace {

constexpr const char* kErrorCaption = "Vorn Error";

int ShowError(const char* text) {
  MessageBoxShow(text, kErrorCaption, MESSAGE_ERROR);
  return 1;
}

// One pass over the list; each movie is opened and closed again.
int OpenEach(PlayerOptions* options, const char* names) {
  static NameList list;
  char name[kCommandTextSize];
  if (!NameListStart(&list, options, names, name)) return 0;
  do {
    Movie* movie;
    PlatformFile file;
    NamedOpenResult r = PlayerOpenNamed(options, name, &movie, &file);
    if (r == NAMED_UPDATE_CHOSEN) return 1;
    if (r == NAMED_FAILED) return ShowError(MovieGetError());
#ifndef _WIN32
    std::printf("%s: %ux%u, %u frames\n", name, movie->width, movie->height, movie->frames);
#endif
    MovieClose(movie);
    if (file != kInvalidFile) FileClose(file);
  } while (TakeNextName(list.text, name));
  return 0;
}

}  // namespace

int PlayerMain(const char* args) {
  static char text[kCommandTextSize];
  static PlayerOptions options;
  if (!CommandLineBuild(text, args)) return ShowError(kCommandTooLong);
  PlayerOptionsInit(&options);
  char error[256];
  switch (PlayerReadCommand(text, &options, error, sizeof(error))) {
    case START_ERROR:
      return ShowError(error);
    case START_HELP:
      MessageBoxShow(PlayerHelpText(), kHelpCaption, MESSAGE_INFO);
      return 1;
    case START_PLAY:
      break;
  }
  return OpenEach(&options, text);
}
