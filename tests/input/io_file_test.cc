#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/movie.h"
#include "input/io_reader.h"
#include "platform/platform.h"
#include "support/movie_fixtures.h"

namespace {

uint8_t PatternByte(uint32_t i) { return static_cast<uint8_t>(i * 7 + (i >> 8) + (i >> 16)); }

std::string WritePatternFile(const char* name, uint32_t size, uint32_t pattern_offset = 0) {
  std::string path = FixtureTempPath(name);
  std::vector<uint8_t> bytes(size);
  for (uint32_t i = 0; i < size; i++) bytes[i] = PatternByte(i + pattern_offset);
  FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
  return path;
}

// Lock hooks that count, and a try_lock that can be made to fail.
struct LockLog {
  int locks = 0, unlocks = 0, tries = 0, yields = 0;
  bool busy = false;
};
LockLog g_locks;
void CountLock(IoReader*) { g_locks.locks++; }
void CountUnlock(IoReader*) { g_locks.unlocks++; }
int CountTryLock(IoReader*) {
  g_locks.tries++;
  if (g_locks.busy) return 0;
  g_locks.locks++;
  return 1;
}
void CountYield(IoReader*) { g_locks.yields++; }

// A hand-driven clock: time moves only when the throttle gives up the
// processor (1 ms each) or when a test scripts a jump at a given call.
struct FakeClock {
  uint32_t now = 1000;
  int calls = 0;
  int jump_at_call = -1;
  uint32_t jump_ms = 0;
  int sleeps = 0;
};
FakeClock g_clock;
uint32_t FakeNow() {
  if (++g_clock.calls == g_clock.jump_at_call) g_clock.now += g_clock.jump_ms;
  return g_clock.now;
}
void FakeSleep() {
  g_clock.sleeps++;
  g_clock.now++;
}

class IoFileTest : public testing::Test {
 protected:
  static constexpr uint32_t kChunk = IO_CHUNK_SIZE;

  void SetUp() override {
    g_locks = LockLog{};
    g_clock = FakeClock{};
    static const IoClock clock = {FakeNow, FakeSleep};
    IoSetClock(&clock);
  }
  void TearDown() override {
    if (opened_) io_.close(&io_);
    IoSetClock(nullptr);
  }

  // Opens a file of `size` pattern bytes with a ring of `ring` bytes.
  void Open(uint32_t size, uint32_t ring, uint32_t total = 0) {
    path_ = WritePatternFile("io_file_test.bin", size);
    ASSERT_EQ(IoFileOpen(&io_, path_.c_str(), 0), 1);
    opened_ = true;
    io_.lock = CountLock;
    io_.unlock = CountUnlock;
    io_.try_lock = CountTryLock;
    io_.yield = CountYield;
    ring_.assign(ring, 0xEE);
    io_.set_info(&io_, ring ? ring_.data() : nullptr, ring, total ? total : size, 0);
  }

  void Fill() {
    while (io_.idle(&io_) != 0) {
    }
  }

  void ExpectFrame(uint32_t offset, uint32_t size, int64_t ask = -2) {
    std::vector<uint8_t> out(size + 8, 0x5A);
    ASSERT_EQ(io_.read_frame(&io_, 0, ask == -2 ? int64_t{offset} : ask, out.data(), size), size);
    for (uint32_t i = 0; i < size; i++) ASSERT_EQ(out[i], PatternByte(offset + i)) << "byte " << i;
    for (uint32_t i = size; i < size + 8; i++) ASSERT_EQ(out[i], 0x5A);  // nothing written past
  }

  IoReader io_{};
  std::vector<uint8_t> ring_;
  std::string path_;
  bool opened_ = false;
};

TEST_F(IoFileTest, BufferSizesAreWholeChunks) {
  Open(1000, 20000);
  EXPECT_EQ(io_.get_buffer_size(&io_, 1), kChunk);
  EXPECT_EQ(io_.get_buffer_size(&io_, kChunk), kChunk);
  EXPECT_EQ(io_.get_buffer_size(&io_, kChunk + 1), 2 * kChunk);
  EXPECT_EQ(io_.get_buffer_size(&io_, 0), 0u);
  EXPECT_EQ(io_.get_buffer_size(&io_, 0xFFFFFFFFu) % kChunk, 0u);
  EXPECT_EQ(io_.buffer_size, kChunk);  // set_info with 20 000 uses 16 384
  EXPECT_EQ(io_.free_bytes.load(), kChunk);
  EXPECT_EQ(io_.buffer_end - io_.buffer_start, static_cast<ptrdiff_t>(kChunk));
}

TEST_F(IoFileTest, IdleFillsTheRingInChunksUpToTheTarget) {
  Open(10 * kChunk + 100, 3 * kChunk);
  EXPECT_EQ(io_.idle(&io_), static_cast<int32_t>(kChunk));
  EXPECT_EQ(io_.buffered.load(), kChunk);
  Fill();
  EXPECT_EQ(io_.buffered.load(), 3 * kChunk);
  EXPECT_EQ(io_.free_bytes.load(), 0u);
  EXPECT_EQ(io_.highest_buffered, 3 * kChunk);
  EXPECT_EQ(io_.total_bytes_read, 3 * kChunk);
  EXPECT_EQ(io_.fill_target, 3 * kChunk);  // full: target = what is there
  EXPECT_EQ(g_locks.locks, g_locks.unlocks);
  EXPECT_EQ(io_.idle_read_time_ms + io_.background_read_time_ms, io_.read_time_ms);
}

TEST_F(IoFileTest, SequentialFramesAcrossRingWrapsMatchTheFile) {
  const uint32_t size = 9 * kChunk + 777;
  Open(size, 2 * kChunk);
  uint32_t pos = 0;
  uint32_t step = 5000;
  while (pos < size) {
    const uint32_t n = std::min(step, size - pos);
    ExpectFrame(pos, n);
    io_.idle(&io_);
    pos += n;
    step = step * 3 % 20011 + 1;
  }
  EXPECT_EQ(io_.read_error, 0u);
  EXPECT_EQ(io_.total_bytes_read, size);  // every byte read from the file exactly once
  EXPECT_EQ(g_locks.locks, g_locks.unlocks);
}

TEST_F(IoFileTest, FastPathTakesNoLock) {
  Open(8 * kChunk, 4 * kChunk);
  Fill();
  const int locks = g_locks.locks;
  ExpectFrame(0, 1000);
  ExpectFrame(1000, 3 * kChunk);  // wraps nothing, all buffered
  EXPECT_EQ(g_locks.locks, locks);
}

TEST_F(IoFileTest, ForwardOffsetSkipsInsideTheRing) {
  Open(8 * kChunk, 4 * kChunk);
  Fill();
  ExpectFrame(0, 100);
  const uint32_t read_before = io_.total_bytes_read;
  ExpectFrame(100, 50);                  // offset equal to logical_pos: nothing extra
  ExpectFrame(150 + 3000, 200);          // skip 3000 bytes inside the ring
  ExpectFrame(4 * kChunk - 10, 10);      // skip to the very end of what was read
  EXPECT_EQ(io_.total_bytes_read, read_before);
  EXPECT_EQ(io_.buffered.load(), 0u);
  EXPECT_EQ(io_.free_bytes.load(), 4 * kChunk);
}

TEST_F(IoFileTest, BackwardOrFarOffsetDiscardsTheRing) {
  Open(8 * kChunk, 2 * kChunk);
  Fill();
  ExpectFrame(0, 5000);
  ExpectFrame(100, 10);  // backwards: discard, seek, read directly
  EXPECT_EQ(io_.buffered.load(), 0u);
  EXPECT_EQ(io_.free_bytes.load(), 2 * kChunk);
  EXPECT_EQ(io_.read_ptr, io_.buffer_start);
  EXPECT_EQ(io_.logical_pos, 110u);
  Fill();
  ExpectFrame(6 * kChunk, 100);  // beyond what was read: discard and seek
  EXPECT_EQ(io_.file_pos, 6 * kChunk + 100);
  Fill();
  ExpectFrame(6 * kChunk + 100, kChunk);
  EXPECT_EQ(io_.read_error, 0u);
}

TEST_F(IoFileTest, WithoutBufferEveryReadGoesToTheFile) {
  Open(3 * kChunk, 0);
  EXPECT_EQ(io_.buffer_size, 0u);
  EXPECT_EQ(io_.idle(&io_), 0);
  ExpectFrame(10, 100);
  ExpectFrame(110, 2 * kChunk);
  ExpectFrame(5, 5);
  EXPECT_EQ(io_.total_bytes_read, 100u + 2 * kChunk + 5);
  EXPECT_EQ(io_.buffered.load(), 0u);
  EXPECT_EQ(io_.fill_target, 0u);
}

TEST_F(IoFileTest, LastPartialChunkIsNeverReadAhead) {
  Open(2 * kChunk + 500, 4 * kChunk);
  Fill();
  EXPECT_EQ(io_.buffered.load(), 2 * kChunk);
  EXPECT_EQ(io_.idle(&io_), 0);
  EXPECT_EQ(io_.fill_target, 2 * kChunk);
  ExpectFrame(0, 2 * kChunk + 500);  // the tail comes straight from the file
  EXPECT_EQ(io_.read_error, 0u);
}

TEST_F(IoFileTest, FillTargetFollowsWhatIsLeft) {
  Open(20 * kChunk, 4 * kChunk);
  ExpectFrame(0, 10);
  EXPECT_EQ(io_.fill_target, 4 * kChunk);  // the ring is empty: it can take all of it
  Fill();
  ExpectFrame(10, 10);
  // 4 chunks minus 20 bytes buffered: within one chunk of the target counts as full.
  EXPECT_EQ(io_.fill_target, io_.buffered.load());
  ExpectFrame(20, 2 * kChunk);
  EXPECT_EQ(io_.fill_target, 4 * kChunk);
}

TEST_F(IoFileTest, ShortReadsAreStickyErrors) {
  Open(3 * kChunk, 2 * kChunk, 5 * kChunk);  // the movie claims more than the file has
  Fill();
  ExpectFrame(0, 2 * kChunk);
  std::vector<uint8_t> out(2 * kChunk);
  EXPECT_EQ(io_.read_frame(&io_, 0, -1, out.data(), 2 * kChunk), kChunk);  // what did arrive
  EXPECT_EQ(io_.read_error, 1u);
  EXPECT_EQ(io_.read_frame(&io_, 0, 0, out.data(), 10), 0u);
  EXPECT_EQ(io_.idle(&io_), 0);
}

TEST_F(IoFileTest, ShortChunkKeepsItsBytesAndTheFirstIncompleteFrameFails) {
  Open(kChunk + 100, 2 * kChunk, 4 * kChunk);  // the file stops 100 bytes into chunk 2
  EXPECT_EQ(io_.idle(&io_), static_cast<int32_t>(kChunk));
  EXPECT_EQ(io_.idle(&io_), 100);
  EXPECT_EQ(io_.read_error, 0u);  // what arrived is still whole frames' worth
  EXPECT_EQ(io_.idle(&io_), 0);   // and nothing more is read ahead
  EXPECT_EQ(io_.fill_target, io_.buffered.load());
  const uint32_t file_reads = io_.total_bytes_read;
  ExpectFrame(0, kChunk - 50);
  ExpectFrame(kChunk - 50, 150);  // the last whole frame ends at the file's end
  EXPECT_EQ(io_.read_error, 0u);
  EXPECT_EQ(io_.total_bytes_read, file_reads);  // all of it came from the ring
  std::vector<uint8_t> out(10);
  EXPECT_EQ(io_.read_frame(&io_, 0, -1, out.data(), 10), 0u);  // nothing left for this one
  EXPECT_EQ(io_.read_error, 1u);
  EXPECT_EQ(io_.read_frame(&io_, 0, 0, out.data(), 10), 0u);  // and the error is sticky
}

TEST_F(IoFileTest, AFrameCutByTheShortChunkDeliversWhatArrivedAndFails) {
  Open(kChunk + 100, 2 * kChunk, 4 * kChunk);
  Fill();
  ExpectFrame(0, kChunk);
  std::vector<uint8_t> out(300, 0x5A);
  EXPECT_EQ(io_.read_frame(&io_, 0, -1, out.data(), 300), 100u);
  for (uint32_t i = 0; i < 100; i++) ASSERT_EQ(out[i], PatternByte(kChunk + i));
  EXPECT_EQ(out[100], 0x5A);
  EXPECT_EQ(io_.read_error, 1u);
}

TEST_F(IoFileTest, SeekingBackAfterAShortChunkReadsAfresh) {
  Open(2 * kChunk + 100, 4 * kChunk, 6 * kChunk);
  Fill();
  EXPECT_EQ(io_.file_ended, 1u);
  ExpectFrame(10, 100);
  ExpectFrame(0, 100);  // backwards: the ring is discarded and refilled
  EXPECT_EQ(io_.file_ended, 0u);
  Fill();
  ExpectFrame(100, 2 * kChunk);
  EXPECT_EQ(io_.read_error, 0u);
}

TEST_F(IoFileTest, BusyLockYieldsAndChangesNothing) {
  Open(4 * kChunk, 2 * kChunk);
  g_locks.busy = true;
  EXPECT_EQ(io_.idle(&io_), -1);
  EXPECT_EQ(g_locks.yields, 1);
  EXPECT_EQ(io_.buffered.load(), 0u);
  EXPECT_EQ(io_.total_bytes_read, 0u);
  io_.try_lock = nullptr;  // no hook at all: the same
  EXPECT_EQ(io_.idle(&io_), -1);
}

TEST_F(IoFileTest, ThrottleHoldsTheSimulatedSpeed) {
  Open(4 * kChunk, 2 * kChunk);
  io_.set_info(&io_, ring_.data(), 2 * kChunk, 4 * kChunk, 100000);
  g_clock.calls = 0;
  g_clock.jump_at_call = 2;  // the chunk read itself takes 10 ms
  g_clock.jump_ms = 10;
  const uint32_t start = g_clock.now;
  EXPECT_EQ(io_.idle(&io_), static_cast<int32_t>(kChunk));
  EXPECT_EQ(g_clock.now - start, 163u);  // 16 384 * 1000 / 100 000
  EXPECT_EQ(io_.throttle_debt_ms, 0);
  EXPECT_EQ(io_.read_time_ms, 163u);
  EXPECT_EQ(io_.idle_read_time_ms, 163u);
}

TEST_F(IoFileTest, SlowReadLeavesCreditForTheNext) {
  Open(4 * kChunk, 2 * kChunk);
  io_.set_info(&io_, ring_.data(), 2 * kChunk, 4 * kChunk, 100000);
  g_clock.calls = 0;
  g_clock.jump_at_call = 2;  // a 200 ms read: 37 ms ahead of the simulated device
  g_clock.jump_ms = 200;
  io_.idle(&io_);
  EXPECT_EQ(io_.throttle_debt_ms, -37);
  EXPECT_EQ(g_clock.sleeps, 0);
  const uint32_t before = g_clock.now;
  io_.idle(&io_);  // an instant read owes 163 - 37
  EXPECT_EQ(g_clock.now - before, 126u);
  EXPECT_EQ(io_.throttle_debt_ms, 0);
}

TEST_F(IoFileTest, DirectReadsAreThrottledAndTimed) {
  Open(4 * kChunk, 0);
  io_.set_info(&io_, nullptr, 0, 4 * kChunk, 1000000);
  ExpectFrame(0, 50000);  // 50 ms at 1 MB/s
  EXPECT_EQ(io_.read_time_ms, 50u);
  EXPECT_EQ(io_.frame_read_time_ms, 50u);
  EXPECT_EQ(io_.throttle_debt_ms, 0);
}

TEST_F(IoFileTest, HeaderReadsAreNeverThrottled) {
  Open(4 * kChunk, 2 * kChunk);
  io_.set_info(&io_, ring_.data(), 2 * kChunk, 4 * kChunk, 10);
  std::vector<uint8_t> out(44);
  EXPECT_EQ(io_.read_header(&io_, 0, out.data(), 44), 44u);
  EXPECT_EQ(io_.read_header(&io_, -1, out.data(), 44), 44u);
  EXPECT_EQ(out[0], PatternByte(44));
  EXPECT_EQ(g_clock.sleeps, 0);
  EXPECT_EQ(io_.logical_pos, 88u);
}

TEST_F(IoFileTest, BusyForegroundBooksBackgroundTime) {
  Open(4 * kChunk, 2 * kChunk);
  io_.set_info(&io_, ring_.data(), 2 * kChunk, 4 * kChunk, 1000000);
  io_.foreground_busy = 1;
  io_.idle(&io_);
  EXPECT_EQ(io_.background_read_time_ms, 16u);
  EXPECT_EQ(io_.idle_read_time_ms, 0u);
  io_.foreground_busy = 0;
  io_.idle(&io_);
  EXPECT_EQ(io_.idle_read_time_ms, 16u);
}

TEST(IoFileOpenTest, GivenHandleIsAMovieInsideAnotherFile) {
  const std::string path = WritePatternFile("io_file_handle.bin", 3 * IO_CHUNK_SIZE);
  PlatformFile file = FileOpenRead(path.c_str(), false);
  ASSERT_NE(file, kInvalidFile);
  ASSERT_TRUE(FileSeek(file, 1000));
  IoReader io{};
  ASSERT_EQ(IoFileOpen(&io, IoHandleSource(file), OPEN_FILE_HANDLE), 1);
  EXPECT_EQ(io.base_offset, 1000u);
  EXPECT_EQ(io.handle_given, 1u);
  uint8_t header[4];
  ASSERT_EQ(io.read_header(&io, 0, header, 4), 4u);
  EXPECT_EQ(header[0], PatternByte(1000));
  ASSERT_EQ(io.read_header(&io, 7, header, 4), 4u);
  EXPECT_EQ(header[0], PatternByte(1007));
  io.close(&io);
  // The caller's handle is still open.
  ASSERT_TRUE(FileSeek(file, 0));
  EXPECT_EQ(FileRead(file, header, 4), 4u);
  EXPECT_EQ(header[0], PatternByte(0));
  FileClose(file);
}

TEST(IoFileOpenTest, MissingFileFails) {
  IoReader io{};
  const std::string path = FixtureTempPath("no_such_movie.vxn");
  EXPECT_EQ(IoFileOpen(&io, path.c_str(), 0), 0);
  EXPECT_EQ(IoFileOpen(&io, nullptr, 0), 0);
  EXPECT_EQ(IoFileOpen(&io, IoHandleSource(kInvalidFile), OPEN_FILE_HANDLE), 0);
}

}  // namespace
