#include <cstdio>

#include "vorntool/commands.h"

int CmdSwitches(int, char**) {
  std::fprintf(stderr, "vorntool switches: not available yet\n");
  return 1;
}
