// The window's title (front ends with set_title): the movie's file name, its
// position and the pause state.
#pragma once
#include <cstdint>

struct PlayerState;

// Sets the title from the movie's file name, its position and the pause
// state: "film.vxn 01:23 / 05:00 (paused) - Vorn Video Player". The frame
// step calls it when the position's text changes.
void PlayerUpdateTitle(PlayerState* player);
// The title text for a file name, a position text (may be empty) and the
// pause state.
void PlayerTitleText(const char* name, const char* position, bool paused, char* title,
                     uint32_t size);
