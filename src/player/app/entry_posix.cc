#include "app/player_main.h"

int main(int argc, char** argv) { return PlayerMainPosix(argc, argv); }
