// Sizing and placing the window and display for each movie.
#pragma once
#include <cstdint>

struct PlayerState;

// Presented size in one direction; sets capability bits (bit = 0x10000000
// for the width, 0x1000000 for the height) in *display_flags.
uint32_t StretchSize(int32_t num, int32_t den, uint32_t bit, uint32_t screen, uint32_t movie,
                     uint32_t* display_flags);
// Sizes and places the window and display for the player's open movie;
// false after the display could not be opened (error shown, window
// destroyed).
bool PlayerSetUpMovie(PlayerState* player);
// Adds the statistics strip (with show_stats), moves and sizes the window.
void PlayerLayoutWindow(PlayerState* player, int32_t width, int32_t height, int32_t x, int32_t y);
