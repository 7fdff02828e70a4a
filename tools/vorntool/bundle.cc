#include <cstdio>

#include "vorntool/commands.h"

int CmdBundle(int, char**) {
  std::fprintf(stderr, "vorntool bundle: not available yet\n");
  return 1;
}
