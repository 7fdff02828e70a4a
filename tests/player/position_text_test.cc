// The position text of the title and the strip.
#include <gtest/gtest.h>

#include "engine/movie.h"
#include "player/position_text.h"

namespace {

TEST(PlayerPosition, MinutesAndSecondsOfTheFrameOnScreenAndTheLength) {
  Movie m{};
  m.frames = 9000;
  m.file_rate_num = 30, m.file_rate_den = 1;
  m.shown_frame_num = 2491;  // 2490 / 30 = 83 s
  char text[40];
  PlayerPositionText(&m, text, sizeof text);
  EXPECT_STREQ(text, "01:23 / 05:00");
  m.shown_frame_num = -1;  // nothing shown yet: the start
  PlayerPositionText(&m, text, sizeof text);
  EXPECT_STREQ(text, "00:00 / 05:00");
  m.frames = 2 * 3600 * 30 + 15;
  m.shown_frame_num = 3601 * 30 + 1;
  PlayerPositionText(&m, text, sizeof text);
  EXPECT_STREQ(text, "1:00:01 / 2:00:00");
  m.frames = 1800, m.file_rate_num = 30000, m.file_rate_den = 1001;  // 60.06 s
  m.shown_frame_num = 1800;
  PlayerPositionText(&m, text, sizeof text);
  EXPECT_STREQ(text, "01:00 / 01:00");
  PlayerPositionText(&m, text, 6);  // cut, never overrun
  EXPECT_STREQ(text, "01:00");
}

}  // namespace
