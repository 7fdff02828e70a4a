// Systems without a window system of their own: the memory back end.
#include "display/display_memory.h"

const DisplayBackend* DisplaySystemBackend() { return DisplayMemoryBackend(); }
