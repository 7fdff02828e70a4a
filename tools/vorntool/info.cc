#include <cstdio>

#include "vorntool/commands.h"

int CmdInfo(int, char**) {
  std::fprintf(stderr, "vorntool info: not available yet\n");
  return 1;
}
