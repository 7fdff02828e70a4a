// The read-ahead ring shared by two threads: a background reader calls idle
// under the reader's mutex while the engine's thread takes whole frames,
// mostly through the lock-free fast path. Every delivered byte must be the
// file's byte at that offset. Built under ThreadSanitizer this proves the
// ring's counters are the only state the two threads share without the lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "input/io_reader.h"
#include "platform/platform.h"
#include "support/movie_fixtures.h"

namespace {

uint8_t FileByte(uint32_t i) { return static_cast<uint8_t>((i * 131) ^ (i >> 9)); }

std::string WriteFile(uint32_t size) {
  std::string path = FixtureTempPath("io_ring_threads.bin");
  std::vector<uint8_t> bytes(size);
  for (uint32_t i = 0; i < size; i++) bytes[i] = FileByte(i);
  FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

PlatformMutex* g_reader_mutex = nullptr;
void LockReader(IoReader*) { MutexLock(g_reader_mutex); }
int TryLockReader(IoReader*) { return MutexTryLock(g_reader_mutex) ? 1 : 0; }
void UnlockReader(IoReader*) { MutexUnlock(g_reader_mutex); }
void YieldReader(IoReader*) { SleepMs(0); }

struct Background {
  IoReader* io;
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> chunks{0};
};

uint32_t BackgroundPass(void* arg) {
  auto* bg = static_cast<Background*>(arg);
  while (!bg->stop.load()) {
    // Like the reading thread: take the node's mutex only without waiting.
    if (MutexTryLock(g_reader_mutex)) {
      if (bg->io->idle(bg->io) > 0) bg->chunks++;
      MutexUnlock(g_reader_mutex);
    }
    SleepMs(0);
  }
  return 0;
}

// Frame sizes that straddle chunk and ring boundaries in every way.
uint32_t FrameSize(uint32_t n) { return 1 + (n * 7919) % 40000; }

void PlayThrough(uint32_t ring_bytes, bool with_skips) {
  const uint32_t file_size = 3 * 1024 * 1024 + 12345;
  const std::string path = WriteFile(file_size);
  g_reader_mutex = MutexCreate();
  ASSERT_NE(g_reader_mutex, nullptr);

  IoReader io;
  IoReaderReset(&io);
  ASSERT_EQ(IoFileOpen(&io, path.c_str(), 0), 1);
  io.lock = LockReader;
  io.try_lock = TryLockReader;
  io.unlock = UnlockReader;
  io.yield = YieldReader;
  const uint32_t size = io.get_buffer_size(&io, ring_bytes);
  std::vector<uint8_t> ring(size);
  io.set_info(&io, size ? ring.data() : nullptr, size, file_size, 0);

  Background bg;
  bg.io = &io;
  PlatformThread* thread = ThreadCreateSuspended(BackgroundPass, &bg);
  ASSERT_NE(thread, nullptr);
  ThreadResume(thread);

  std::vector<uint8_t> frame(40000);
  uint32_t offset = 0, mismatches = 0;
  for (uint32_t n = 0; offset < file_size; n++) {
    uint32_t want = FrameSize(n);
    if (want > file_size - offset) want = file_size - offset;
    // Now and then jump ahead a little (inside the ring) or a lot (past it).
    if (with_skips && n % 17 == 5) offset += 100 + n % 3000;
    if (with_skips && n % 53 == 11) offset += 300000;
    if (offset >= file_size) break;
    if (want > file_size - offset) want = file_size - offset;
    const uint32_t got = io.read_frame(&io, n, offset, frame.data(), want);
    ASSERT_EQ(got, want) << "frame " << n << " at " << offset;
    for (uint32_t i = 0; i < got; i++) mismatches += frame[i] != FileByte(offset + i);
    offset += want;
  }
  bg.stop = true;
  ThreadJoin(thread);
  io.close(&io);
  MutexDestroy(g_reader_mutex);
  EXPECT_EQ(mismatches, 0u);
  EXPECT_EQ(io.read_error, 0u);
}

TEST(IoRingThreads, SequentialFramesWithBackgroundReadAhead) { PlayThrough(256 * 1024, false); }

TEST(IoRingThreads, SkipsInsideAndPastTheRing) { PlayThrough(128 * 1024, true); }

TEST(IoRingThreads, RingSmallerThanAFrame) { PlayThrough(IO_CHUNK_SIZE, true); }

}  // namespace
