// Copying a movie's current frame into a caller's buffer in one of fifteen
// destination formats (the flags and formats are those of vorn/copy_flags.h;
// vorn/movie.h declares the copy for programs outside the engine).
#pragma once
#include <cstdint>

#include "vorn/copy_flags.h"
#include "vorn/movie.h"

// Bytes of one destination pixel (luma bytes for YV12); 0 for format 0.
uint32_t CopyBytesPerPixel(uint32_t format);

// Process-wide: 1 when the last decode or copy chose the vector converters.
extern uint32_t UseMmx;

// Converts the movie's frame decoded last into dest. Source rectangle in the
// movie's display coordinates; dest_pitch negative for a bottom-up buffer.
// Returns 1 when playback is late (copy skipped, or forced by COPY_NO_SKIP),
// else 0. The caller must give a buffer large enough for the rectangle at the
// chosen scaling mode; format 15 also needs room for its two chroma planes
// below dest_height lines.
int32_t MovieCopyToBuffer(Movie* movie, void* dest, int32_t dest_pitch, uint32_t dest_height,
                          int32_t dest_x, int32_t dest_y, uint32_t src_x, uint32_t src_y,
                          uint32_t src_width, uint32_t src_height, uint32_t flags);
