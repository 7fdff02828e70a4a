// The reader record behind which every movie byte arrives, and its file
// implementation with a circular read-ahead ring.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/platform.h"

struct IoReader;
struct PlatformMutex;

inline constexpr uint32_t IO_CHUNK_SIZE = 16384;

// A client of a background service thread: one per movie and thread
// (input/service_thread.h). next is read by the thread while the player's
// thread links and unlinks nodes, so both access it atomically.
struct ServiceNode {
  ServiceNode* next;
  PlatformMutex* mutex;  // the client's re-entrant mutex, guarding its data
  ServiceNode* sort_next;  // the thread's per-pass priority list
  uint32_t priority;       // last value returned by poll
  uint32_t (*poll)(ServiceNode* node, uint32_t tick);  // 0 = nothing to do
  void (*service)(ServiceNode* node, uint32_t tick);
  uint32_t idle_tick;  // pass in which the service last found nothing to do
  void* owner;  // the IoReader or the Movie the node serves
};

struct IoReader {
  // The six operations, filled by the open function.
  uint32_t (*read_header)(IoReader* io, int64_t offset, void* dest, uint32_t size);
  uint32_t (*read_frame)(IoReader* io, uint32_t frame, int64_t offset, void* dest, uint32_t size);
  uint32_t (*get_buffer_size)(IoReader* io, uint32_t wanted);
  void (*set_info)(IoReader* io, void* buffer, uint32_t buffer_size, uint32_t total_size,
                   uint32_t read_speed);
  int32_t (*idle)(IoReader* io);
  void (*close)(IoReader* io);

  void* owner;  // the Movie, set by the engine after open
  uint32_t read_error;
  uint32_t reading_now;
  uint32_t total_bytes_read;
  uint32_t foreground_busy;
  uint32_t read_time_ms;
  uint32_t frame_read_time_ms;
  uint32_t idle_read_time_ms;
  uint32_t background_read_time_ms;
  uint32_t buffer_size;
  uint32_t highest_buffered;
  uint32_t fill_target;
  std::atomic<uint32_t> buffered;  // changed only by atomic add
  PlatformFile file_handle;
  uint32_t file_pos;
  uint32_t logical_pos;
  uint8_t* read_ptr;
  std::atomic<uint32_t> free_bytes;  // changed only by atomic add
  uint8_t* buffer_start;
  uint8_t* buffer_end;
  uint8_t* write_ptr;
  uint32_t handle_given;
  uint64_t base_offset;
  uint32_t total_size;
  uint32_t read_speed;
  int32_t throttle_debt_ms;

  // Lock hooks filled by the engine; each may be null.
  void (*lock)(IoReader* io);
  int (*try_lock)(IoReader* io);
  void (*unlock)(IoReader* io);
  void (*yield)(IoReader* io);

  ServiceNode service_node;

  // A read-ahead chunk came back short: the file ends (or failed) before the
  // movie does. The bytes that arrived stay in the ring and are delivered;
  // nothing more is read ahead, and read_error is set by the first
  // read_frame that needs bytes beyond them. Cleared when the ring is
  // discarded for a seek.
  uint32_t file_ended;
};

// The millisecond clock behind the reader's timings and its throttling, and
// the "give up the processor" call of the throttle loop. Process-wide; tests
// inject a fake. Null restores the engine clock and a 0 ms sleep.
struct IoClock {
  uint32_t (*now_ms)();
  void (*sleep0)();
};
void IoSetClock(const IoClock* clock);

// Zeroes a reader record (it holds atomics, so it is not assigned whole).
void IoReaderReset(IoReader* io);

// Opens the file reader: source is a file name, or (OPEN_FILE_HANDLE in flags)
// a PlatformFile positioned at the movie's first byte, passed as
// IoHandleSource(file). 1 = opened. The reader never closes a given handle.
int IoFileOpen(IoReader* io, const void* source, uint32_t flags);

inline const void* IoHandleSource(PlatformFile file) {
  return reinterpret_cast<const void*>(file);
}
inline PlatformFile IoSourceHandle(const void* source) {
  return reinterpret_cast<PlatformFile>(source);
}
