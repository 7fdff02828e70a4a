// Background service threads: a periodic worker that polls a list of client
// nodes for a priority and services the most urgent client whose mutex it
// can take without waiting. Two exist per process, each created by the first
// movie that needs it and destroyed when its last node leaves: the reading
// thread (read-ahead for every open movie) and the sound thread (feeds the
// sound drivers).
//
// Locks: a thread's state_mutex is held by the thread for a whole pass, or by
// the player's thread to hold the thread off; node mutexes are taken by the
// thread only without waiting. The order is state_mutex, then node mutexes.
#pragma once
#include <atomic>
#include <cstdint>

#include "input/io_reader.h"

struct PlatformEvent;
struct PlatformMutex;
struct PlatformThread;

inline constexpr uint32_t SERVICE_READING_RATE = 5;  // passes a second
inline constexpr uint32_t SERVICE_SOUND_RATE = 20;
inline constexpr uint32_t SERVICE_PASS_NODES = 16;  // nodes tried at once in a pass

enum : uint32_t {
  SERVICE_CREATED = 0,   // exists, suspended
  SERVICE_RUNNING = 1,   // passes run every period_ms
  SERVICE_HELD = 2,      // the player's thread owns state_mutex
  SERVICE_STOPPING = 3,  // ends at its next look at the state or the event
  SERVICE_HOLDING = 4,   // a pass in progress must end early
};

struct ServiceThread {
  std::atomic<uint32_t> state;
  uint32_t period_ms;
  PlatformEvent* stop_event;  // auto-reset; set to end the sleep at once
  PlatformThread* thread;
  PlatformMutex* state_mutex;
  std::atomic<ServiceNode*> head;
  std::atomic<uint32_t> alive;  // set by the thread as it begins
  uint32_t tick;                // pass counter, only the thread itself touches it
  uint32_t node_count;          // only the player's thread touches it
};

// A suspended thread with `rate` passes a second, or null when the record,
// the thread, its mutex or its event cannot be had.
ServiceThread* ServiceThreadCreate(uint32_t rate);
// created -> running (resumes the thread, and returns once it runs, so that
// its start-up is not charged to the frames that follow), held -> running
// (releases state_mutex).
void ServiceThreadStart(ServiceThread* thread);
// Parks both threads (either may be null) outside any pass: the caller owns
// their state mutexes afterwards, until ServiceThreadStart.
void ServiceThreadHold(ServiceThread* a, ServiceThread* b);
// Stops the thread, waits for it to end and frees everything.
void ServiceThreadDestroy(ServiceThread* thread);
// One service pass as the thread runs it, on the calling thread: the caller
// owns state_mutex and the state is running (tests drive passes this way).
void ServiceThreadPass(ServiceThread* thread);

// Gives the node a new mutex and its functions and pushes it at the head of
// the thread's list. false (nothing registered) when no mutex can be made.
bool ServiceNodeAdd(ServiceThread* thread, ServiceNode* node,
                    uint32_t (*poll)(ServiceNode*, uint32_t),
                    void (*service)(ServiceNode*, uint32_t));
// Unlinks a movie's nodes (either thread or node may be null), makes sure no
// pass still uses them and closes their mutexes. With stop_when_empty a
// thread whose list became empty is destroyed. Result: bit 0 = the reading
// thread was destroyed, bit 1 = the sound thread. Nodes not found in their
// thread's list are left as they are (mutex included).
uint32_t ServiceNodesRemove(ServiceThread* reading, ServiceThread* sound, ServiceNode* reader_node,
                            ServiceNode* sound_node, bool stop_when_empty);
// 1 when the node's mutex was taken without waiting, or the node has none.
int ServiceNodeTryLock(ServiceNode* node);
void ServiceNodeUnlock(ServiceNode* node);

// ---- The process-wide pair -------------------------------------------------------
enum ServiceKind : uint32_t { SERVICE_READING = 0, SERVICE_SOUND = 1 };
// The thread of that kind, or null when none runs.
ServiceThread* ServiceThreadOf(ServiceKind kind);
// The thread of that kind, created and started when absent; null when it
// cannot be created (the caller then goes on without it).
ServiceThread* ServiceThreadNeeded(ServiceKind kind);
// Forgets the threads that ServiceNodesRemove reported destroyed.
void ServiceThreadsForget(uint32_t destroyed);
