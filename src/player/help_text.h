// The help text shown when the command text names nothing to play or holds a
// switch the player did not read.
#pragma once

inline constexpr const char* kHelpCaption = "Vorn Video Player Help";

// The whole help text, built once; lines end with a line feed.
const char* PlayerHelpText();
