// vorntool: the project's command-line companion.
#include "vorntool/options.h"

int main(int argc, char** argv) { return VorntoolMain(argc, argv); }
