// Changed-region rectangles: a greedy split of the changed-block map's
// bounding rectangle into at most eight tight rectangles.
#include "engine/movie_rects.h"

namespace {

// The no-skip bit has the same place in the display's and the movie's flags.
constexpr uint32_t kNoSkip = OPEN_NO_SKIP;

constexpr uint32_t kBlock = 16;

bool RowHasChange(const uint8_t* map, uint32_t blocks_per_row, uint32_t row, uint32_t col,
                  uint32_t cols) {
  const uint8_t* p = map + static_cast<size_t>(row) * blocks_per_row + col;
  for (uint32_t i = 0; i < cols; ++i)
    if (p[i]) return true;
  return false;
}

bool ColumnHasChange(const uint8_t* map, uint32_t blocks_per_row, uint32_t col, uint32_t row,
                     uint32_t rows) {
  const uint8_t* p = map + static_cast<size_t>(row) * blocks_per_row + col;
  for (uint32_t i = 0; i < rows; ++i, p += blocks_per_row)
    if (*p) return true;
  return false;
}

int64_t Area(const MovieRect& r) { return static_cast<int64_t>(r.width) * r.height; }

// Where a side of n pixels is halved: (n / 2 + 15) rounded down to a multiple of 16,
// never more than n - 16 for n >= 32, so both halves hold part of a tight box.
int32_t HalfSize(int32_t n) { return (n / 2 + 15) & ~15; }

void ScaleRect(MovieRect* r, uint32_t mode) {
  switch (mode) {
    case 1:
    case 2:
      r->y *= 2;
      r->height *= 2;
      break;
    case 3:
      r->x *= 2;
      r->width *= 2;
      break;
    case 4:
    case 5:
      r->x *= 2;
      r->width *= 2;
      r->y *= 2;
      r->height *= 2;
      break;
    default:
      break;
  }
}

// A rectangle starting beyond the display (possible only when the copy's
// scaling disagrees with the movie's size) is clipped to nothing rather than
// to a negative extent.
void ClipRect(MovieRect* r, uint32_t width, uint32_t height) {
  int64_t w = width, h = height;
  if (static_cast<int64_t>(r->x) + r->width > w) r->width = static_cast<int32_t>(w - r->x);
  if (static_cast<int64_t>(r->y) + r->height > h) r->height = static_cast<int32_t>(h - r->y);
  if (r->width < 0) r->width = 0;
  if (r->height < 0) r->height = 0;
}

// Greedy split of rects[0] into at most MOVIE_RECT_COUNT work rectangles.
// Returns how many there are.
int SplitGreedy(const Movie* movie, MovieRect work[MOVIE_RECT_COUNT]) {
  int64_t saving[MOVIE_RECT_COUNT];
  MovieRect halves[MOVIE_RECT_COUNT][2];
  int count = 1;
  work[0] = movie->rects[0];
  saving[0] = SplitRect(work[0], &halves[0][0], &halves[0][1], movie->block_map,
                        movie->blocks_per_row);
  for (;;) {
    int best = -1;
    for (int i = 0; i < count; ++i)
      if (saving[i] > 0 && (best < 0 || saving[i] > saving[best])) best = i;
    if (best < 0) break;
    work[best] = halves[best][0];
    work[count] = halves[best][1];
    ++count;
    if (count == MOVIE_RECT_COUNT) break;
    for (int i : {best, count - 1})
      saving[i] = SplitRect(work[i], &halves[i][0], &halves[i][1], movie->block_map,
                            movie->blocks_per_row);
  }
  return count;
}

}  // namespace

int BoundChanges(const uint8_t* map, MovieRect* out, uint32_t blocks_per_row,
                 const MovieRect& region) {
  uint32_t bx = static_cast<uint32_t>(region.x) / kBlock;
  uint32_t by = static_cast<uint32_t>(region.y) / kBlock;
  uint32_t bw = static_cast<uint32_t>(region.width) / kBlock;
  uint32_t bh = static_cast<uint32_t>(region.height) / kBlock;

  uint32_t top = 0;
  while (top < bh && !RowHasChange(map, blocks_per_row, by + top, bx, bw)) ++top;
  if (top == bh) return 0;
  MovieRect r;
  r.y = region.y + static_cast<int32_t>(kBlock * top);
  r.height = region.height - static_cast<int32_t>(kBlock * top);
  uint32_t rows = bh - top;
  if (r.height > 1) {
    uint32_t bottom = 0;
    while (!RowHasChange(map, blocks_per_row, by + top + rows - 1 - bottom, bx, bw)) ++bottom;
    rows -= bottom;
    r.height -= static_cast<int32_t>(kBlock * bottom);
  }

  uint32_t left = 0;
  while (!ColumnHasChange(map, blocks_per_row, bx + left, by + top, rows)) ++left;
  r.x = region.x + static_cast<int32_t>(kBlock * left);
  r.width = region.width - static_cast<int32_t>(kBlock * left);
  if (r.width > 1) {
    uint32_t right = 0;
    while (!ColumnHasChange(map, blocks_per_row, bx + bw - 1 - right, by + top, rows)) ++right;
    r.width -= static_cast<int32_t>(kBlock * right);
  }
  *out = r;
  return 1;
}

int64_t SplitRect(const MovieRect& rect, MovieRect* first, MovieRect* second, const uint8_t* map,
                  uint32_t blocks_per_row) {
  // Halves that find no change keep zero size, so a caller handing in a
  // rectangle that is not tight still gets a well-defined answer.
  MovieRect a{}, b{};
  int64_t saving = 0;
  *first = MovieRect{};
  *second = MovieRect{};
  if (rect.width >= 32) {
    int32_t half = HalfSize(rect.width);
    BoundChanges(map, &a, blocks_per_row, {rect.x, rect.y, half, rect.height});
    BoundChanges(map, &b, blocks_per_row, {rect.x + half, rect.y, rect.width - half, rect.height});
    saving = Area(rect) - Area(a) - Area(b);
    *first = a;
    *second = b;
  }
  if (rect.height >= 32) {
    int32_t half = HalfSize(rect.height);
    a = MovieRect{};
    b = MovieRect{};
    BoundChanges(map, &a, blocks_per_row, {rect.x, rect.y, rect.width, half});
    BoundChanges(map, &b, blocks_per_row, {rect.x, rect.y + half, rect.width, rect.height - half});
    int64_t s = Area(rect) - Area(a) - Area(b);
    if (s > saving) {
      *first = a;
      *second = b;
      saving = s;
    }
  }
  return saving;
}

int MovieGetRects(Movie* movie, uint32_t display_flags) {
  if (display_flags & DISPLAY_DIRECT) return 0;
  if (movie->skip_blit && !((display_flags | movie->flags) & kNoSkip)) return 0;
  if (movie->rect_count != -1) return movie->rect_count;

  const MovieRect whole = {0, 0, static_cast<int32_t>(movie->plane_width),
                           static_cast<int32_t>(movie->plane_height)};
  movie->rect_count = BoundChanges(movie->block_map, &movie->rects[0], movie->blocks_per_row, whole);

  MovieRect work[MOVIE_RECT_COUNT];
  if ((display_flags & DISPLAY_SCALED) || movie->rect_count == 0)
    work[0] = whole;
  else
    movie->rect_count = SplitGreedy(movie, work);

  // Output top to bottom, then left to right.
  bool taken[MOVIE_RECT_COUNT] = {};
  uint32_t mode = (movie->copy_flags & OPEN_SCALE_MASK) >> OPEN_SCALE_SHIFT;
  for (int k = 0; k < movie->rect_count; ++k) {
    int pick = -1;
    uint32_t pick_key = 0;
    for (int i = 0; i < movie->rect_count; ++i) {
      if (taken[i]) continue;
      uint32_t key = static_cast<uint32_t>(work[i].y) * 65536u + static_cast<uint32_t>(work[i].x);
      if (pick < 0 || key < pick_key) {
        pick = i;
        pick_key = key;
      }
    }
    taken[pick] = true;
    MovieRect r = work[pick];
    ScaleRect(&r, mode);
    ClipRect(&r, movie->width, movie->height);
    movie->rects[k] = r;
  }
  return movie->rect_count;
}
