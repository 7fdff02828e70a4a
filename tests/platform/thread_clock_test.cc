// Threads created suspended, the two clock sources and the local date.
#include <gtest/gtest.h>

#include <atomic>

#include "platform/platform.h"

namespace {

struct Probe {
  std::atomic<int> runs{0};
  PlatformEvent* done = nullptr;
};

uint32_t CountRun(void* arg) {
  auto* probe = static_cast<Probe*>(arg);
  probe->runs.fetch_add(1);
  if (probe->done) EventSet(probe->done);
  return 7;
}

TEST(PlatformThread, DoesNotRunBeforeResume) {
  Probe probe;
  probe.done = EventCreate();
  PlatformThread* thread = ThreadCreateSuspended(CountRun, &probe);
  ASSERT_NE(thread, nullptr);
  // Give a wrongly started thread every chance to show itself.
  EXPECT_FALSE(EventWait(probe.done, 50));
  EXPECT_EQ(probe.runs, 0);
  ThreadResume(thread);
  EXPECT_TRUE(EventWait(probe.done, kWaitForever));
  ThreadJoin(thread);
  EXPECT_EQ(probe.runs, 1);
  EventDestroy(probe.done);
}

TEST(PlatformThread, JoinWithoutResumeNeverRunsTheFunction) {
  Probe probe;
  PlatformThread* thread = ThreadCreateSuspended(CountRun, &probe);
  ASSERT_NE(thread, nullptr);
  SleepMs(10);
  ThreadJoin(thread);
  EXPECT_EQ(probe.runs, 0);
}

struct SlowWork {
  PlatformEvent* stop = nullptr;
  std::atomic<bool> finished{false};
};

uint32_t WaitForStop(void* arg) {
  auto* work = static_cast<SlowWork*>(arg);
  EventWait(work->stop, kWaitForever);
  SleepMs(20);
  work->finished = true;
  return 0;
}

TEST(PlatformThread, JoinWaitsForTheFunctionToEnd) {
  // The shape of a service thread: it sleeps on its stop event, the owner
  // sets the event and joins.
  SlowWork work;
  work.stop = EventCreate();
  PlatformThread* thread = ThreadCreateSuspended(WaitForStop, &work);
  ASSERT_NE(thread, nullptr);
  ThreadResume(thread);
  ThreadResume(thread);  // a second resume is harmless
  EventSet(work.stop);
  ThreadJoin(thread);
  EXPECT_TRUE(work.finished);
  EventDestroy(work.stop);
}

TEST(PlatformThread, RefusesANullFunction) { EXPECT_EQ(ThreadCreateSuspended(nullptr, nullptr), nullptr); }

TEST(PlatformClock, CounterIsMonotonicAndFollowsSleeps) {
  uint64_t frequency = 0;
  ASSERT_TRUE(HighResFrequency(&frequency));
  ASSERT_GT(frequency, 1000u);
  uint64_t previous = HighResCounter();
  for (int i = 0; i < 10000; ++i) {
    uint64_t now = HighResCounter();
    ASSERT_GE(now, previous);
    previous = now;
  }
  uint64_t start = HighResCounter();
  uint32_t timer_start = TimerMs();
  SleepMs(30);
  uint64_t elapsed_ms = (HighResCounter() - start) * 1000 / frequency;
  uint32_t timer_elapsed = TimerMs() - timer_start;  // modular: survives a wrap
  // Lower bounds only: a loaded machine may sleep much longer. The timer may
  // tick coarsely (10-16 ms on Windows), hence the margin.
  EXPECT_GE(elapsed_ms, 20u);
  EXPECT_GE(timer_elapsed, 15u);
  EXPECT_LT(timer_elapsed, 0x80000000u) << "the timer went backwards";
}

TEST(PlatformClock, LocalDateIsACalendarDate) {
  LocalDate today = LocalDateToday();
  EXPECT_GE(today.year, 2000);
  EXPECT_GE(today.month, 1);
  EXPECT_LE(today.month, 12);
  EXPECT_GE(today.day, 1);
  EXPECT_LE(today.day, 31);
}

}  // namespace
