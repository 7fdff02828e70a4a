// Reading the whole command text's switches into the options record.
#pragma once
#include <cstdint>

#include "player/player_options.h"

// Reads every switch in the fixed order into options; the profile value of
// "/!" and the screen size come through PlayerSystemHooks(). Returns false
// with a message in error (size error_size) when the text cannot be
// accepted: the command text grows beyond its buffer, or a /D or /B value
// lies outside its table.
bool ParseSwitches(char* text, PlayerOptions* options, char* error, uint32_t error_size);
