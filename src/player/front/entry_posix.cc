#include "player/front/player_main.h"

int main(int argc, char** argv) { return PlayerMainPosix(argc, argv); }
