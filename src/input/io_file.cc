// The file reader: whole frames by movie offset, served from a circular
// read-ahead ring that idle() fills in IO_CHUNK_SIZE chunks.
//
// The ring has one producer (idle, always under the reader's lock) and one
// consumer (read_frame). The producer writes only into free space at
// write_ptr and publishes with atomic adds, free_bytes first, then buffered;
// the consumer reads only below buffered at read_ptr and releases with atomic
// adds. So read_frame may copy already-buffered bytes without the lock;
// everything that moves both ends or the file position takes the lock.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/engine_clock.h"
#include "input/io_reader.h"
#include "platform/platform.h"
#include "vorn/movie_flags.h"

namespace {

IoClock g_clock = {nullptr, nullptr};

uint32_t Now() { return g_clock.now_ms ? g_clock.now_ms() : MovieClockMs(); }

void GiveUpProcessor() {
  if (g_clock.sleep0)
    g_clock.sleep0();
  else
    SleepMs(0);
}

// Plain fields that the other thread may look at while they change.
uint32_t LoadShared(uint32_t& field) {
  return std::atomic_ref<uint32_t>(field).load(std::memory_order_relaxed);
}
void StoreShared(uint32_t& field, uint32_t value) {
  std::atomic_ref<uint32_t>(field).store(value, std::memory_order_relaxed);
}

void Lock(IoReader* io) {
  if (io->lock) io->lock(io);
}
void Unlock(IoReader* io) {
  if (io->unlock) io->unlock(io);
}

uint32_t BytesLeftAfter(const IoReader* io, uint32_t pos) {
  return pos < io->total_size ? io->total_size - pos : 0;
}

void DiscardRing(IoReader* io) {
  StoreShared(io->file_ended, 0);
  io->buffered.store(0, std::memory_order_relaxed);
  io->free_bytes.store(io->buffer_size, std::memory_order_release);
  io->read_ptr = io->buffer_start;
  io->write_ptr = io->buffer_start;
}

// A failed seek counts as a read error: reading on would deliver bytes from
// the wrong place.
bool SeekTo(IoReader* io, uint32_t offset) {
  if (!FileSeek(io->file_handle, io->base_offset + offset)) {
    StoreShared(io->read_error, 1);
    return false;
  }
  io->file_pos = offset;
  return true;
}

// Reads from the file at file_pos; a short read sets the sticky error.
uint32_t ReadFromFile(IoReader* io, void* dest, uint32_t size) {
  const uint32_t got = size ? FileRead(io->file_handle, dest, size) : 0;
  if (got < size) StoreShared(io->read_error, 1);
  io->file_pos += got;
  io->total_bytes_read += got;
  return got;
}

// One read-ahead chunk. A short one marks the end of the data rather than an
// error: the bytes before it may still hold whole frames.
uint32_t ReadAheadFromFile(IoReader* io, uint8_t* dest) {
  const uint32_t got = FileRead(io->file_handle, dest, IO_CHUNK_SIZE);
  if (got < IO_CHUNK_SIZE) StoreShared(io->file_ended, 1);
  io->file_pos += got;
  io->total_bytes_read += got;
  return got;
}

// Holds the reader to the simulated speed: the debt is the time the read
// should have taken minus the time it took, carried across reads (a slow real
// read leaves credit for later ones).
void Throttle(IoReader* io, uint32_t bytes, uint32_t started) {
  if (!io->read_speed) return;
  const auto should_take = static_cast<uint32_t>(uint64_t{bytes} * 1000 / io->read_speed);
  const uint32_t now = Now();
  int64_t debt = int64_t{io->throttle_debt_ms} + static_cast<int32_t>(started + should_take - now);
  if (debt > 0) {
    uint32_t elapsed;
    do {
      GiveUpProcessor();
      elapsed = Now() - now;
    } while (elapsed < debt);
    debt -= elapsed;
  }
  io->throttle_debt_ms = static_cast<int32_t>(std::clamp<int64_t>(debt, INT32_MIN, INT32_MAX));
}

void UpdateFillTarget(IoReader* io) {
  uint32_t target = std::min(BytesLeftAfter(io, io->logical_pos), io->buffer_size);
  const uint32_t buffered = io->buffered.load(std::memory_order_relaxed);
  if (uint64_t{buffered} + IO_CHUNK_SIZE > target) target = buffered;  // within a chunk = full
  StoreShared(io->fill_target, target);
}

// Copies n buffered bytes out of the ring (n <= buffered), in two pieces when
// the valid bytes wrap, releasing each piece to the producer.
void CopyFromRing(IoReader* io, uint8_t* out, uint32_t n) {
  io->logical_pos += n;
  while (n) {
    const auto contiguous = static_cast<uint32_t>(io->buffer_end - io->read_ptr);
    const uint32_t piece = std::min(n, contiguous);
    std::memcpy(out, io->read_ptr, piece);
    io->read_ptr += piece;
    if (io->read_ptr == io->buffer_end) io->read_ptr = io->buffer_start;
    io->buffered.fetch_sub(piece, std::memory_order_acq_rel);
    io->free_bytes.fetch_add(piece, std::memory_order_release);
    out += piece;
    n -= piece;
  }
}

// Moves the reader to a new movie offset (under the lock): forward within
// what was read skips inside the ring; anything else discards it and seeks.
void Reposition(IoReader* io, uint32_t offset) {
  if (io->logical_pos < offset && offset <= io->file_pos) {
    const uint32_t skip = offset - io->logical_pos;
    io->logical_pos = offset;
    io->buffered.fetch_sub(skip, std::memory_order_acq_rel);
    io->free_bytes.fetch_add(skip, std::memory_order_release);
    io->read_ptr += skip;
    if (io->read_ptr >= io->buffer_end) io->read_ptr -= io->buffer_size;
    return;
  }
  SeekTo(io, offset);
  io->logical_pos = offset;
  DiscardRing(io);
}

uint32_t IoFileReadHeader(IoReader* io, int64_t offset, void* dest, uint32_t size) {
  Lock(io);
  uint32_t got = 0;
  const bool valid = offset >= -1 && offset <= int64_t{UINT32_MAX};
  if (!valid) {
    StoreShared(io->read_error, 1);
  } else if (offset == -1 || offset == io->file_pos || SeekTo(io, static_cast<uint32_t>(offset))) {
    got = ReadFromFile(io, dest, size);
  }
  // Header reads bypass the ring; whatever it held no longer follows on.
  io->logical_pos = io->file_pos;
  DiscardRing(io);
  StoreShared(io->fill_target, std::min(BytesLeftAfter(io, io->logical_pos), io->buffer_size));
  Unlock(io);
  return got;
}

uint32_t IoFileReadFrame(IoReader* io, uint32_t, int64_t offset, void* dest, uint32_t size) {
  if (LoadShared(io->read_error)) return 0;
  if (offset < -1 || offset > int64_t{UINT32_MAX}) {
    StoreShared(io->read_error, 1);
    return 0;
  }
  const uint32_t start = Now();
  bool locked = false;
  if (offset != -1 && offset != io->logical_pos) {
    Lock(io);
    locked = true;
    Reposition(io, static_cast<uint32_t>(offset));
  }
  auto* out = static_cast<uint8_t*>(dest);
  uint32_t wanted = size;
  for (;;) {
    const uint32_t n = std::min(io->buffered.load(std::memory_order_acquire), wanted);
    if (n) {
      CopyFromRing(io, out, n);
      out += n;
      wanted -= n;
    }
    if (!wanted) break;
    if (!locked) {  // the background thread may have added bytes meanwhile
      Lock(io);
      locked = true;
      continue;
    }
    // The ring is empty and stays empty: the rest comes straight from the
    // file, unless read-ahead already met its end, so this frame is not whole.
    if (LoadShared(io->file_ended)) {
      StoreShared(io->read_error, 1);
    } else if (!LoadShared(io->read_error)) {
      const uint32_t read_start = Now();
      const uint32_t got = ReadFromFile(io, out, wanted);
      io->logical_pos += got;
      wanted -= got;
      Throttle(io, got, read_start);
      io->read_time_ms += Now() - read_start;
    }
    break;
  }
  io->frame_read_time_ms += Now() - start;
  UpdateFillTarget(io);
  if (locked) Unlock(io);
  return size - wanted;
}

uint32_t IoFileGetBufferSize(IoReader*, uint32_t wanted) {
  constexpr uint32_t kLargest = UINT32_MAX & ~(IO_CHUNK_SIZE - 1);
  if (wanted > kLargest) return kLargest;
  return (wanted + IO_CHUNK_SIZE - 1) & ~(IO_CHUNK_SIZE - 1);
}

void IoFileSetInfo(IoReader* io, void* buffer, uint32_t buffer_size, uint32_t total_size,
                   uint32_t read_speed) {
  Lock(io);
  const uint32_t usable = buffer ? buffer_size & ~(IO_CHUNK_SIZE - 1) : 0;
  io->buffer_start = static_cast<uint8_t*>(buffer);
  io->buffer_size = usable;
  io->buffer_end = io->buffer_start + usable;
  DiscardRing(io);
  io->total_size = total_size;
  io->read_speed = read_speed;
  Unlock(io);
}

int32_t IoFileIdle(IoReader* io) {
  const uint32_t busy_at_entry = LoadShared(io->foreground_busy);
  if (LoadShared(io->read_error)) return 0;
  if (!io->try_lock || !io->try_lock(io)) {
    if (io->yield) io->yield(io);
    return -1;
  }
  // The last partial chunk of a movie is never read ahead; read_frame reads it.
  if (LoadShared(io->read_error) || LoadShared(io->file_ended) ||
      io->free_bytes.load(std::memory_order_acquire) < IO_CHUNK_SIZE ||
      BytesLeftAfter(io, io->file_pos) < IO_CHUNK_SIZE) {
    StoreShared(io->fill_target, io->buffered.load(std::memory_order_relaxed));
    Unlock(io);
    return 0;
  }
  const uint32_t start = Now();
  StoreShared(io->reading_now, 1);
  const uint32_t got = ReadAheadFromFile(io, io->write_ptr);
  StoreShared(io->reading_now, 0);
  // After a short chunk write_ptr is off the chunk grid, but nothing is
  // written at it again before the ring is discarded.
  io->write_ptr += got;
  if (io->write_ptr == io->buffer_end) io->write_ptr = io->buffer_start;
  io->free_bytes.fetch_sub(got, std::memory_order_acq_rel);
  const uint32_t buffered = io->buffered.fetch_add(got, std::memory_order_release) + got;
  io->highest_buffered = std::max(io->highest_buffered, buffered);
  Throttle(io, got, start);
  const uint32_t elapsed = Now() - start;
  io->read_time_ms += elapsed;
  if (busy_at_entry || LoadShared(io->foreground_busy))
    io->background_read_time_ms += elapsed;
  else
    io->idle_read_time_ms += elapsed;
  Unlock(io);
  return static_cast<int32_t>(got);
}

void IoFileClose(IoReader* io) {
  Lock(io);
  if (!io->handle_given) FileClose(io->file_handle);
  io->file_handle = kInvalidFile;
  Unlock(io);
}

}  // namespace

void IoSetClock(const IoClock* clock) { g_clock = clock ? *clock : IoClock{nullptr, nullptr}; }

void IoReaderReset(IoReader* io) { std::memset(static_cast<void*>(io), 0, sizeof(*io)); }

int IoFileOpen(IoReader* io, const void* source, uint32_t flags) {
  IoReaderReset(io);
  io->file_handle = kInvalidFile;
  if (flags & OPEN_FILE_HANDLE) {
    const PlatformFile handle = IoSourceHandle(source);
    const int64_t position = FileTell(handle);
    if (handle == kInvalidFile || position < 0) return 0;
    io->file_handle = handle;
    io->handle_given = 1;
    io->base_offset = static_cast<uint64_t>(position);
  } else {
    const auto* name = static_cast<const char*>(source);
    if (!name) return 0;
    io->file_handle = FileOpenRead(name, false);
    if (io->file_handle == kInvalidFile) io->file_handle = FileOpenRead(name, true);
    if (io->file_handle == kInvalidFile) return 0;
  }
  io->read_header = IoFileReadHeader;
  io->read_frame = IoFileReadFrame;
  io->get_buffer_size = IoFileGetBufferSize;
  io->set_info = IoFileSetInfo;
  io->idle = IoFileIdle;
  io->close = IoFileClose;
  return 1;
}
