// The changed-region rectangles: the changed-block map of a decoded frame
// turned into at most eight rectangles for the blit.
#pragma once
#include <cstdint>

#include "engine/movie.h"

// The tight bounding rectangle of the changed blocks inside region (pixels,
// multiples of 16). 1 and out filled, or 0 and out untouched when the region
// holds no change.
int BoundChanges(const uint8_t* map, MovieRect* out, uint32_t blocks_per_row,
                 const MovieRect& region);

// Splits a tight bounding rectangle into two tight halves, side by side or
// one above the other, whichever leaves out more unchanged area (side by
// side on a tie). Returns the area saved; the halves matter only when it is
// positive.
int64_t SplitRect(const MovieRect& rect, MovieRect* first, MovieRect* second,
                  const uint8_t* map, uint32_t blocks_per_row);
