#include "base/engine_memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/movie.h"

namespace {

// Counts what passes through the allocation hooks.
struct HookLog {
  int allocs = 0;
  int frees = 0;
  bool refuse = false;
  bool fall_through = false;
  std::vector<void*> live;
};
HookLog g_log;

void* CountingAlloc(uint32_t size) {
  if (g_log.refuse) return ENGINE_HOOK_REFUSE;
  if (g_log.fall_through) return nullptr;
  g_log.allocs++;
  void* p = std::malloc(size);
  g_log.live.push_back(p);
  return p;
}

void CountingFree(void* raw) {
  g_log.frees++;
  std::erase(g_log.live, raw);
  std::free(raw);
}

class EngineMemoryTest : public testing::Test {
 protected:
  void SetUp() override {
    g_log = HookLog{};
    EngineSetHooks(CountingAlloc, CountingFree);
    EngineAllocWithPending(0);  // start every case with an empty list
    EngineFree(nullptr);
  }
  void TearDown() override {
    EngineSetHooks(nullptr, nullptr);
  }
};

TEST_F(EngineMemoryTest, BlocksAreAlignedWithHeaderRoomAndGoBack) {
  for (uint32_t size : {1u, 3u, 32u, 1000u, 65537u}) {
    auto* block = static_cast<uint8_t*>(EngineAlloc(size));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u);
    EXPECT_GE(block[-1], 33);
    EXPECT_LE(block[-1], 64);
    EXPECT_EQ(block[-2], ENGINE_MARK_HOOK);
    ASSERT_EQ(g_log.live.size(), 1u);
    EXPECT_EQ(block - block[-1], g_log.live[0]);
    block[size - 1] = 0xAA;  // the whole size is usable
    EngineFree(block);
    EXPECT_TRUE(g_log.live.empty());
  }
}

TEST_F(EngineMemoryTest, StandardAllocatorWhenHookFallsThrough) {
  g_log.fall_through = true;
  auto* block = static_cast<uint8_t*>(EngineAlloc(1));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[-2], ENGINE_MARK_STANDARD);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 32, 0u);
  EngineFree(block);
  EXPECT_EQ(g_log.frees, 0);
}

TEST_F(EngineMemoryTest, RefusedAndImpossibleSizes) {
  EXPECT_EQ(EngineAlloc(0), nullptr);
  EXPECT_EQ(EngineAlloc(0xFFFFFFFFu), nullptr);
  EXPECT_EQ(EngineAlloc(0xFFFFFFC0u), nullptr);  // size + header would wrap
  g_log.refuse = true;
  EXPECT_EQ(EngineAlloc(16), nullptr);
  EXPECT_EQ(g_log.allocs, 0);
}

TEST_F(EngineMemoryTest, BlockRemembersTheFreeHookOfItsTime) {
  void* block = EngineAlloc(10);
  EngineSetHooks(nullptr, nullptr);  // later hooks do not matter to this block
  EngineFree(block);
  EXPECT_EQ(g_log.frees, 1);
}

TEST_F(EngineMemoryTest, PendingListGrowsWithoutFreeingStaticStorage) {
  std::vector<uint8_t*> slots(129, nullptr);
  for (int i = 0; i < 32; i++) ASSERT_TRUE(EngineDefer(&slots[i], 8));
  EXPECT_EQ(EnginePendingState().capacity, 32u);
  EXPECT_EQ(g_log.allocs, 0);
  ASSERT_TRUE(EngineDefer(&slots[32], 8));  // 33rd: 64 entries, static arrays kept
  EXPECT_EQ(EnginePendingState().capacity, 64u);
  EXPECT_EQ(g_log.allocs, 1);
  EXPECT_EQ(g_log.frees, 0);
  for (int i = 33; i < 65; i++) ASSERT_TRUE(EngineDefer(&slots[i], 8));
  EXPECT_EQ(EnginePendingState().capacity, 128u);  // the 64-entry block is freed
  EXPECT_EQ(g_log.allocs, 2);
  EXPECT_EQ(g_log.frees, 1);
  EXPECT_EQ(EnginePendingState().count, 65u);

  void* main_block = EngineAllocWithPending(40);
  ASSERT_NE(main_block, nullptr);
  // Every slot lies inside the one block, in registration order.
  uint8_t* previous = static_cast<uint8_t*>(main_block);
  for (int i = 0; i < 65; i++) {
    ASSERT_NE(slots[i], nullptr);
    EXPECT_GT(slots[i], previous);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(slots[i]) % 32, 0u);
    previous = slots[i];
  }
  EXPECT_EQ(EnginePendingState().count, 0u);
  EngineFree(main_block);
}

TEST_F(EngineMemoryTest, StaggerOfTheDocumentedExample) {
  uint8_t* a = nullptr;
  uint32_t* b = nullptr;
  ASSERT_TRUE(EngineDefer(&a, 100));
  ASSERT_TRUE(EngineDefer(&b, 40));
  EXPECT_EQ(EnginePendingPadded(0), 1056u);  // 128 + 29 lines
  EXPECT_EQ(EnginePendingPadded(1), 64u);    // (33 - 2 + 1) mod 32 = 0 lines
  EXPECT_EQ(EnginePendingState().total, 1120u);
  auto* main_block = static_cast<uint8_t*>(EngineAllocWithPending(1));
  ASSERT_NE(main_block, nullptr);
  EXPECT_EQ(a, main_block + 32);  // main block rounded up to 32
  EXPECT_EQ(reinterpret_cast<uint8_t*>(b), a + 1056);
  EngineFree(main_block);
}

TEST_F(EngineMemoryTest, FailedAllocationWritesNoSlotAndEmptiesTheList) {
  uint8_t* a = reinterpret_cast<uint8_t*>(0x1234);
  uint8_t* b = reinterpret_cast<uint8_t*>(0x5678);
  ASSERT_TRUE(EngineDefer(&a, 64));
  ASSERT_TRUE(EngineDefer(&b, 64));
  g_log.refuse = true;
  EXPECT_EQ(EngineAllocWithPending(100), nullptr);
  EXPECT_EQ(a, reinterpret_cast<uint8_t*>(0x1234));
  EXPECT_EQ(b, reinterpret_cast<uint8_t*>(0x5678));
  EXPECT_EQ(EnginePendingState().count, 0u);
  EXPECT_EQ(EnginePendingState().total, 0u);
}

TEST_F(EngineMemoryTest, OverflowingTotalFailsTheNextAllocation) {
  uint8_t* a = nullptr;
  uint8_t* b = nullptr;
  ASSERT_TRUE(EngineDefer(&a, 0x80000000u));
  EXPECT_FALSE(EngineDefer(&b, 0x80000000u));
  EXPECT_TRUE(EnginePendingState().failed);
  EXPECT_EQ(EngineAllocWithPending(32), nullptr);
  EXPECT_EQ(a, nullptr);
  EXPECT_FALSE(EnginePendingState().failed);  // the next collection starts clean
  uint8_t* c = nullptr;
  ASSERT_TRUE(EngineDefer(&c, 32));
  void* block = EngineAllocWithPending(32);
  ASSERT_NE(block, nullptr);
  EXPECT_NE(c, nullptr);
  EngineFree(block);
}

TEST_F(EngineMemoryTest, MovieAllocBooksPendingAndMainSize) {
  Movie movie{};
  movie.memory_used = 10;
  uint8_t* a = nullptr;
  ASSERT_TRUE(EngineDefer(&a, 100));
  void* block = MovieAlloc(&movie, 50);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(movie.memory_used, 10u + 1056u + 50u);
  EngineFree(block);
}

}  // namespace
