// Copying a movie's current frame into a caller's buffer in one of fifteen
// destination formats. The copy itself (MovieCopyToBuffer) and
// CopyBytesPerPixel are public: vorn/movie.h declares them, and
// vorn/copy_flags.h holds the formats, copy flags and scaling modes.
#pragma once
#include <cstdint>

#include "vorn/copy_flags.h"
#include "vorn/movie.h"

// 1 when the movie's last copy used its vector converters, 0 when plain
// (COPY_NO_MMX, OPEN_NO_MMX, or a processor without them).
uint32_t ConvertUsedVector(const Movie* movie);
