// The stretch rule: presented sizes and the capabilities they need.
#include <gtest/gtest.h>

#include <cstdint>

#include "player/window_setup.h"

namespace {

TEST(StretchSize, FactorsSizesAndTheCapabilitiesTheyNeed) {
  uint32_t flags = 0;
  EXPECT_EQ(StretchSize(-2, 1, 0x10000000, 1024, 320, &flags), 640u);
  EXPECT_EQ(flags, 0x80000000u) << "integer stretch of the width";
  flags = 0;
  EXPECT_EQ(StretchSize(-1, 1, 0x10000000, 1024, 320, &flags), 1024u) << "full screen";
  EXPECT_EQ(flags, 0x40000000u);
  flags = 0;
  EXPECT_EQ(StretchSize(0, 0, 0x1000000, 768, 240, &flags), 240u);
  EXPECT_EQ(flags, 0u);
  EXPECT_EQ(StretchSize(120, 1, 0x1000000, 768, 240, &flags), 120u);
  EXPECT_EQ(flags, 0x2000000u) << "integer shrink of the height";
  flags = 0;
  EXPECT_EQ(StretchSize(25, 2, 0x1000000, 768, 240, &flags), 12u);  // 25/2 truncates
  EXPECT_EQ(flags, 0x2000000u) << "12 divides 240";
  flags = 0;
  EXPECT_EQ(StretchSize(-3, 2, 0x10000000, 1024, 320, &flags), 480u);
  EXPECT_EQ(flags, 0x40000000u);
  flags = 0;
  EXPECT_EQ(StretchSize(200, 1, 0x10000000, 1024, 320, &flags), 200u);
  EXPECT_EQ(flags, 0x10000000u) << "any shrink";
}

}  // namespace
