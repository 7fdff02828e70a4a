#include <cstdio>

#include "vorntool/commands.h"

int CmdDecode(int, char**) {
  std::fprintf(stderr, "vorntool decode: not available yet\n");
  return 1;
}
