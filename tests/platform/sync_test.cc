// Re-entrant mutexes, waiting for two, and auto-reset events: the
// coordination between the player's thread and the service threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"

namespace {

// Runs fn on another thread and waits for it: mutex ownership is per thread,
// so "is it free?" must be asked from a thread other than the owner.
template <typename Fn>
auto FromOtherThread(Fn fn) {
  decltype(fn()) result{};
  std::thread other([&] { result = fn(); });
  other.join();
  return result;
}

bool TryLockElsewhere(PlatformMutex* mutex) {
  return FromOtherThread([mutex] {
    bool taken = MutexTryLock(mutex);
    if (taken) MutexUnlock(mutex);
    return taken;
  });
}

TEST(PlatformMutex, IsReentrantAndFreedByTheLastUnlock) {
  PlatformMutex* mutex = MutexCreate();
  ASSERT_NE(mutex, nullptr);
  MutexLock(mutex);
  EXPECT_TRUE(MutexTryLock(mutex));  // the owner takes it again at once
  MutexLock(mutex);
  MutexUnlock(mutex);
  MutexUnlock(mutex);
  EXPECT_FALSE(TryLockElsewhere(mutex)) << "still held once";
  MutexUnlock(mutex);
  EXPECT_TRUE(TryLockElsewhere(mutex));
  MutexDestroy(mutex);
}

TEST(PlatformMutex, TryLockFromAnotherThreadFailsWhileHeld) {
  PlatformMutex* mutex = MutexCreate();
  ASSERT_NE(mutex, nullptr);
  EXPECT_TRUE(TryLockElsewhere(mutex));
  ASSERT_TRUE(MutexTryLock(mutex));
  EXPECT_FALSE(TryLockElsewhere(mutex));
  MutexUnlock(mutex);
  EXPECT_TRUE(TryLockElsewhere(mutex));
  MutexDestroy(mutex);
}

TEST(PlatformMutex, UnlockByANonOwnerChangesNothing) {
  PlatformMutex* mutex = MutexCreate();
  ASSERT_NE(mutex, nullptr);
  MutexLock(mutex);
  FromOtherThread([mutex] {
    MutexUnlock(mutex);
    return 0;
  });
  EXPECT_FALSE(TryLockElsewhere(mutex));
  MutexUnlock(mutex);
  MutexDestroy(mutex);
}

TEST(PlatformMutex, LockWaitsForTheOwnerToRelease) {
  PlatformMutex* mutex = MutexCreate();
  ASSERT_NE(mutex, nullptr);
  int guarded = 0;
  std::atomic<bool> waiting{false};
  MutexLock(mutex);
  std::thread other([&] {
    waiting = true;
    MutexLock(mutex);
    guarded += 1;  // only after the owner's write below
    MutexUnlock(mutex);
  });
  while (!waiting) SleepMs(1);
  SleepMs(20);
  guarded = 10;
  MutexUnlock(mutex);
  other.join();
  EXPECT_EQ(guarded, 11);
  MutexDestroy(mutex);
}

// The player's thread waits for both of a movie's mutexes while a service
// thread holds one: it takes the free one first and then waits for the other.
TEST(PlatformMutex, LockBothTakesTheFreeOneFirstThenTheOther) {
  PlatformMutex* reader = MutexCreate();
  PlatformMutex* sound = MutexCreate();
  ASSERT_NE(reader, nullptr);
  ASSERT_NE(sound, nullptr);
  PlatformEvent* release_reader = EventCreate();
  std::atomic<bool> reader_held{false};
  std::thread service([&] {
    MutexLock(reader);
    reader_held = true;
    EventWait(release_reader, kWaitForever);
    MutexUnlock(reader);
  });
  while (!reader_held) SleepMs(1);

  std::atomic<bool> owns_both{false};
  std::thread player([&] {
    MutexLockBoth(reader, sound);
    owns_both = true;
    MutexUnlock(sound);
    MutexUnlock(reader);
  });
  // The sound mutex is taken by the waiting player before the reader is free.
  while (TryLockElsewhere(sound)) SleepMs(1);
  EXPECT_FALSE(owns_both);
  EXPECT_FALSE(TryLockElsewhere(reader));

  EventSet(release_reader);
  player.join();
  service.join();
  EXPECT_TRUE(owns_both);
  EXPECT_TRUE(TryLockElsewhere(reader));
  EXPECT_TRUE(TryLockElsewhere(sound));
  EventDestroy(release_reader);
  MutexDestroy(sound);
  MutexDestroy(reader);
}

TEST(PlatformMutex, LockBothReentersMutexesAlreadyOwned) {
  PlatformMutex* a = MutexCreate();
  PlatformMutex* b = MutexCreate();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  MutexLock(b);
  MutexLockBoth(a, b);
  MutexUnlock(a);
  MutexUnlock(b);
  EXPECT_FALSE(TryLockElsewhere(b)) << "the first lock of b is still held";
  MutexUnlock(b);
  EXPECT_TRUE(TryLockElsewhere(a));
  EXPECT_TRUE(TryLockElsewhere(b));

  MutexLockBoth(a, a);  // the same mutex twice is taken twice
  MutexUnlock(a);
  EXPECT_FALSE(TryLockElsewhere(a));
  MutexUnlock(a);
  MutexLockBoth(nullptr, b);  // a missing mutex is skipped
  EXPECT_FALSE(TryLockElsewhere(b));
  MutexUnlock(b);
  MutexDestroy(b);
  MutexDestroy(a);
}

// The real pattern: one thread (the player's) waits for both, the others
// (service threads, and the player for single mutexes) take one at a time.
TEST(PlatformMutex, CountsStayExactUnderContention) {
  PlatformMutex* a = MutexCreate();
  PlatformMutex* b = MutexCreate();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  uint32_t count_a = 0, count_b = 0;
  auto both = [&] {
    for (int i = 0; i < 2000; ++i) {
      MutexLockBoth(b, a);
      ++count_a;
      ++count_b;
      MutexUnlock(a);
      MutexUnlock(b);
    }
  };
  auto single = [&](bool try_first) {
    for (int i = 0; i < 2000; ++i) {
      if (try_first && MutexTryLock(a)) {
        ++count_a;
        MutexUnlock(a);
      } else {
        PlatformMutex* mutex = i & 1 ? a : b;
        MutexLock(mutex);
        ++(mutex == a ? count_a : count_b);
        MutexUnlock(mutex);
      }
    }
  };
  std::thread t1(both), t2(single, true), t3(single, false);
  t1.join();
  t2.join();
  t3.join();
  EXPECT_EQ(count_a + count_b, 2000u * 2 + 2000u * 2);
  MutexDestroy(b);
  MutexDestroy(a);
}

TEST(PlatformEvent, ResetsItselfAfterOneWait) {
  PlatformEvent* event = EventCreate();
  ASSERT_NE(event, nullptr);
  EXPECT_FALSE(EventWait(event, 0)) << "created clear";
  EventSet(event);
  EventSet(event);  // signals do not add up
  EXPECT_TRUE(EventWait(event, 0));
  EXPECT_FALSE(EventWait(event, 0));
  EXPECT_FALSE(EventWait(event, 5)) << "a timed wait on a clear event times out";
  EventDestroy(event);
}

TEST(PlatformEvent, WakesAWaitingThread) {
  PlatformEvent* event = EventCreate();
  ASSERT_NE(event, nullptr);
  std::atomic<int> woken{0};
  std::thread waiter([&] {
    if (EventWait(event, kWaitForever)) ++woken;
  });
  SleepMs(10);
  EventSet(event);
  waiter.join();
  EXPECT_EQ(woken, 1);
  EXPECT_FALSE(EventWait(event, 0)) << "the waiter consumed the signal";
  EventDestroy(event);
}

}  // namespace
