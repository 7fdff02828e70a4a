#include <cstdio>

#include "vorntool/commands.h"

int CmdPlay(int, char**) {
  std::fprintf(stderr, "vorntool play: not available yet\n");
  return 1;
}
