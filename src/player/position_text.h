// Where the movie stands, as the title and the statistics strip show it.
#pragma once
#include <cstdint>

struct Movie;

// The frame on screen (frame 1 before anything was shown).
uint32_t PlayerFrameOnScreen(const Movie* movie);
// "01:23 / 05:00": the frame on screen and the length, in the movie's own
// time (h:mm:ss from an hour of length on).
void PlayerPositionText(const Movie* movie, char* text, uint32_t size);
