#include <cstdio>

#include "vorntool/commands.h"

int CmdDemo(int, char**) {
  std::fprintf(stderr, "vorntool demo: not available yet\n");
  return 1;
}
