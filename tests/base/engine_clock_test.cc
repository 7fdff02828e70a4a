// The engine clock driven by hand-made counter and timer sources.
#include <gtest/gtest.h>

#include "base/engine_clock.h"

namespace {

// Hand-driven sources: a 1 MHz counter (or none) and a millisecond timer.
struct FakeSources {
  static inline bool has_counter = true;
  static inline uint64_t counter = 0;
  static inline uint32_t timer = 0;
  static bool Frequency(uint64_t* f) {
    *f = 1000000;
    return has_counter;
  }
  static uint64_t Counter() { return counter; }
  static uint32_t Timer() { return timer; }
  // Advances both sources together by ms milliseconds.
  static void Advance(uint32_t ms) {
    counter += uint64_t{ms} * 1000;
    timer += ms;
  }
};

// A 10 GHz counter that never disagrees with its timer.
struct FastSources {
  static bool Frequency(uint64_t* f) {
    *f = 10000000000ull;
    return true;
  }
  static uint64_t Counter() { return value; }
  static uint32_t Timer() { return static_cast<uint32_t>(value / 10000000ull); }
  static inline uint64_t value = 0;
};

class EngineClock : public ::testing::Test {
 protected:
  void SetUp() override {
    FakeSources::has_counter = true;
    FakeSources::counter = 5000000000ull;  // the counter's origin does not matter
    FakeSources::timer = 777;
    static constexpr MovieClockSources sources = {FakeSources::Frequency, FakeSources::Counter,
                                                  FakeSources::Timer};
    MovieClockSetSources(&sources);
  }
  void TearDown() override { MovieClockSetSources(nullptr); }
};

TEST_F(EngineClock, StartsAtZeroAndFollowsTheCounter) {
  EXPECT_EQ(MovieClockMs(), 0u);
  FakeSources::Advance(40);
  EXPECT_EQ(MovieClockMs(), 40u);
  FakeSources::counter += 1500;  // 1.5 ms: truncated
  EXPECT_EQ(MovieClockMs(), 41u);
  FakeSources::Advance(100);
  EXPECT_EQ(MovieClockMs(), 141u);
}

TEST_F(EngineClock, WithoutCounterTheTimerIsTheClock) {
  FakeSources::has_counter = false;
  EXPECT_EQ(MovieClockMs(), 777u);
  FakeSources::timer += 25;
  EXPECT_EQ(MovieClockMs(), 802u);
}

TEST_F(EngineClock, SmallDisagreementIsNotCorrected) {
  MovieClockMs();
  FakeSources::counter += 300000;  // counter says 300 ms
  FakeSources::timer += 150;       // timer says 150 ms: 150 ms apart, within 200
  EXPECT_EQ(MovieClockMs(), 300u);
}

TEST_F(EngineClock, CounterJumpFollowsTheTimer) {
  MovieClockMs();
  FakeSources::Advance(10);
  EXPECT_EQ(MovieClockMs(), 10u);
  FakeSources::counter += 5000000;  // counter leaps 5 s ...
  FakeSources::timer += 20;         // ... while the timer moved 20 ms
  EXPECT_EQ(MovieClockMs(), 30u);
  // The correction is kept: the clock goes on from there at the counter's pace.
  FakeSources::Advance(7);
  EXPECT_EQ(MovieClockMs(), 37u);
}

TEST_F(EngineClock, CounterRunningBackwardsNeverTurnsTheClockBack) {
  MovieClockMs();
  FakeSources::Advance(500);
  EXPECT_EQ(MovieClockMs(), 500u);
  FakeSources::counter -= 50000;  // 50 ms back, timer unchanged: too small to correct
  EXPECT_EQ(MovieClockMs(), 500u);
  FakeSources::counter -= 1000000;  // a whole second back: the timer is followed
  FakeSources::timer += 5;
  uint32_t t = MovieClockMs();
  EXPECT_GE(t, 500u);
  EXPECT_LE(t, 505u);
  // Far below its starting value the counter still gives no backwards step.
  FakeSources::counter = 0;
  FakeSources::timer += 1;
  EXPECT_GE(MovieClockMs(), t);
}

TEST_F(EngineClock, LongRunningHighFrequencyCounterDoesNotOverflow) {
  // 10 GHz for 30 days: (counter - base) x 1000 would overflow 64 bits.
  static constexpr MovieClockSources sources = {FastSources::Frequency, FastSources::Counter, FastSources::Timer};
  MovieClockSetSources(&sources);
  FastSources::value = 0;
  EXPECT_EQ(MovieClockMs(), 0u);
  const uint64_t ms = 30ull * 24 * 3600 * 1000;
  for (uint64_t t = 0; t <= ms; t += 100000) {  // the timer never disagrees
    FastSources::value = t * 10000000ull;
    ASSERT_EQ(MovieClockMs(), static_cast<uint32_t>(t));
  }
}

}  // namespace
