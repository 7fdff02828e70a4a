// Changed-region rectangles from the changed-block map.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "display/display_buffer.h"
#include "engine/movie.h"
#include "engine/movie_rects.h"

// Found by argument lookup, so they live beside MovieRect (file-local).
static bool operator==(const MovieRect& a, const MovieRect& b) {
  return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
}
static void PrintTo(const MovieRect& r, std::ostream* os) {
  *os << "(" << r.x << "," << r.y << "," << r.width << "," << r.height << ")";
}

namespace {

// A movie record with just what the rectangles read: sizes and the map.
struct MapMovie {
  Movie movie{};
  std::vector<uint8_t> map;

  MapMovie(uint32_t width, uint32_t height) {
    movie.width = movie.decoded_width = width;
    movie.height = movie.decoded_height = height;
    movie.plane_width = (width + 15) & ~15u;
    movie.plane_height = (height + 15) & ~15u;
    movie.blocks_per_row = movie.plane_width / 16;
    movie.block_count = movie.blocks_per_row * (movie.plane_height / 16);
    map.assign(movie.block_count + 1, 0);
    movie.block_map = map.data();
    movie.rect_count = -1;
  }
  void Mark(uint32_t col, uint32_t row) { map[row * movie.blocks_per_row + col] = 1; }
  int Rects(uint32_t display_flags = 0) { return MovieGetRects(&movie, display_flags); }
  std::vector<MovieRect> Out() const {
    return {movie.rects, movie.rects + (movie.rect_count > 0 ? movie.rect_count : 0)};
  }
};

TEST(MovieRects, NoChangeGivesNoRectangle) {
  MapMovie m(320, 240);
  EXPECT_EQ(m.Rects(), 0);
  EXPECT_EQ(m.movie.rect_count, 0);
  EXPECT_EQ(m.Rects(DISPLAY_SCALED), 0);
}

// One changed block gives one rectangle: its own, scaled as the last copy
// scaled, clipped to the display, or the whole frame for a scaled display.
struct OneBlockCase {
  const char* name;
  uint32_t width, height;        // the display size
  uint32_t shown_w, shown_h;     // the movie's size after the copy's scaling
  uint32_t scale_mode;           // of the last copy
  uint32_t display_flags;
  uint32_t col, row;             // the changed block
  MovieRect expected;
};
void PrintTo(const OneBlockCase& c, std::ostream* os) { *os << c.name; }

const OneBlockCase kOneBlockCases[] = {
    {"Plain", 320, 240, 320, 240, 0, 0, 3, 2, {48, 32, 16, 16}},
    {"ScaledDisplayGetsTheWholeFrame", 312, 236, 312, 236, 0, DISPLAY_SCALED, 3, 2, {0, 0, 312, 236}},
    {"ModeThreeDoublesTheWidth", 320, 240, 640, 240, 3, 0, 1, 0, {32, 0, 32, 16}},
    {"ModeFiveDoublesBoth", 320, 240, 640, 480, 5, 0, 2, 1, {64, 32, 32, 32}},
    {"ModeTwoDoublesTheRows", 320, 240, 320, 480, 2, 0, 2, 1, {32, 32, 16, 32}},
    {"RightAndBottomEdgesAreClipped", 310, 230, 310, 230, 0, 0, 19, 14, {304, 224, 6, 6}},
};

class MovieRectsOneBlock : public testing::TestWithParam<OneBlockCase> {};

TEST_P(MovieRectsOneBlock, GivesOneRectangle) {
  const OneBlockCase& c = GetParam();
  MapMovie m(c.width, c.height);  // planes rounded up to whole blocks
  m.movie.width = c.shown_w;
  m.movie.height = c.shown_h;
  m.movie.copy_flags = c.scale_mode << OPEN_SCALE_SHIFT;
  m.Mark(c.col, c.row);
  ASSERT_EQ(m.Rects(c.display_flags), 1);
  EXPECT_EQ(m.Out()[0], c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, MovieRectsOneBlock, testing::ValuesIn(kOneBlockCases),
                         [](const testing::TestParamInfo<OneBlockCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(MovieRects, OppositeCornersGiveTwoSmallRectanglesTopLeftFirst) {
  MapMovie m(320, 240);
  m.Mark(19, 14);
  m.Mark(0, 0);
  ASSERT_EQ(m.Rects(), 2);
  EXPECT_EQ(m.Out()[0], (MovieRect{0, 0, 16, 16}));
  EXPECT_EQ(m.Out()[1], (MovieRect{304, 224, 16, 16}));
}

TEST(MovieRects, ResultIsKeptUntilTheNextDecode) {
  MapMovie m(320, 240);
  m.Mark(3, 2);
  ASSERT_EQ(m.Rects(), 1);
  m.Mark(10, 10);  // the map changes, but no decode happened
  EXPECT_EQ(m.Rects(), 1);
  EXPECT_EQ(m.Out()[0], (MovieRect{48, 32, 16, 16}));
  m.movie.rect_count = -1;  // what a decode does
  EXPECT_EQ(m.Rects(), 2);
}

TEST(MovieRects, DirectAndSkippedCopiesPresentNothing) {
  MapMovie m(320, 240);
  m.Mark(3, 2);
  EXPECT_EQ(m.Rects(DISPLAY_DIRECT), 0);
  EXPECT_EQ(m.movie.rect_count, -1);  // not computed

  m.movie.skip_blit = 1;
  EXPECT_EQ(m.Rects(), 0);
  EXPECT_EQ(m.Rects(OPEN_NO_SKIP), 1);  // no-skip in the display flags
  m.movie.rect_count = -1;
  m.movie.flags = OPEN_NO_SKIP;          // or in the movie's flags
  EXPECT_EQ(m.Rects(), 1);
}

TEST(MovieRects, SplitPrefersSideBySideOnATie) {
  // An L of three blocks: both splits save one block.
  MapMovie m(64, 64);
  m.Mark(0, 0);
  m.Mark(1, 0);
  m.Mark(0, 1);
  MovieRect a, b;
  EXPECT_EQ(SplitRect({0, 0, 32, 32}, &a, &b, m.map.data(), m.movie.blocks_per_row), 256);
  EXPECT_EQ(a, (MovieRect{0, 0, 16, 32}));
  EXPECT_EQ(b, (MovieRect{16, 0, 16, 16}));
}

TEST(MovieRects, SplitTakesTopAndBottomWhenThatSavesMore) {
  // Two horizontal bars three blocks wide: halving a 48-wide box gives 32 + 16
  // and saves nothing; halving it across saves the empty middle row.
  MapMovie m(64, 64);
  for (uint32_t c = 0; c < 3; ++c) {
    m.Mark(c, 0);
    m.Mark(c, 2);
  }
  MovieRect a, b;
  EXPECT_EQ(SplitRect({0, 0, 48, 48}, &a, &b, m.map.data(), m.movie.blocks_per_row), 768);
  EXPECT_EQ(a, (MovieRect{0, 0, 48, 16}));
  EXPECT_EQ(b, (MovieRect{0, 32, 48, 16}));

  ASSERT_EQ(m.Rects(), 2);
  EXPECT_EQ(m.Out()[0], (MovieRect{0, 0, 48, 16}));
  EXPECT_EQ(m.Out()[1], (MovieRect{0, 32, 48, 16}));
}

TEST(MovieRects, BoundChangesLooksOnlyInsideTheRegion) {
  MapMovie m(128, 128);
  m.Mark(0, 0);
  m.Mark(5, 6);
  m.Mark(6, 3);
  MovieRect out{1, 2, 3, 4};
  EXPECT_EQ(BoundChanges(m.map.data(), &out, m.movie.blocks_per_row, {16, 16, 32, 32}), 0);
  EXPECT_EQ(out, (MovieRect{1, 2, 3, 4}));  // untouched
  ASSERT_EQ(BoundChanges(m.map.data(), &out, m.movie.blocks_per_row, {16, 16, 112, 112}), 1);
  EXPECT_EQ(out, (MovieRect{80, 48, 32, 64}));
}

// Random maps: the rectangles always cover every changed block, stay inside
// the plane, number at most eight and come out in top-to-bottom order.
TEST(MovieRects, RandomMapsAreCoveredInOrder) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    uint32_t w = 16 + rng() % 400, h = 16 + rng() % 300;
    MapMovie m(w, h);
    int density = 1 + rng() % 30;
    for (uint32_t i = 0; i < m.movie.block_count; ++i) m.map[i] = (rng() % 100) < density;
    int n = m.Rects();
    ASSERT_GE(n, 0);
    ASSERT_LE(n, MOVIE_RECT_COUNT);
    auto rects = m.Out();
    for (int i = 1; i < n; ++i) {
      uint32_t prev = rects[i - 1].y * 65536u + rects[i - 1].x;
      ASSERT_LE(prev, rects[i].y * 65536u + rects[i].x);
    }
    for (const MovieRect& r : rects) {
      ASSERT_GE(r.x, 0);
      ASSERT_GE(r.y, 0);
      ASSERT_GT(r.width, 0);
      ASSERT_GT(r.height, 0);
      ASSERT_LE(r.x + r.width, static_cast<int32_t>(w));
      ASSERT_LE(r.y + r.height, static_cast<int32_t>(h));
    }
    for (uint32_t i = 0; i < m.movie.block_count; ++i) {
      if (!m.map[i]) continue;
      int32_t x = (i % m.movie.blocks_per_row) * 16, y = (i / m.movie.blocks_per_row) * 16;
      bool covered = false;
      for (const MovieRect& r : rects)
        covered |= x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
      ASSERT_TRUE(covered) << "block " << x << "," << y << " in " << w << "x" << h;
    }
  }
}

}  // namespace
