#include <cstdio>

#include "vorntool/commands.h"

int CmdEncode(int, char**) {
  std::fprintf(stderr, "vorntool encode: not available yet\n");
  return 1;
}
