#include <windows.h>

#include "player/front/player_main.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR command_line, int) {
  return PlayerMain(command_line ? command_line : "");
}
