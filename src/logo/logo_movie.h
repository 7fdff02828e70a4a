// The closing logo movie, held in the program's data and opened from memory
// after the last movie (library vorn_logo, made by tools/logo).
#pragma once

extern const unsigned char kLogoMovie[];
extern const unsigned int kLogoMovieSize;
