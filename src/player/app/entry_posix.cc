#include "app/player_main.h"
#include "player/command_line.h"

int main(int argc, char** argv) {
  static char args[kCommandTextSize];
  if (!CommandArgsJoin(argc, argv, args, sizeof(args))) {
    MessageBoxShow(kCommandTooLong, "Vorn Error", MESSAGE_ERROR);
    return 1;
  }
  return PlayerMain(args);
}
