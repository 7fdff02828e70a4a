// The service-thread mechanism: the thread body with its passes, holding and
// stopping, and the node list that the player's thread changes while the
// thread may be walking it.
//
// The list is changed only by the player's thread. Additions write the new
// node's next before publishing it as head; removals unlink (a removed node
// keeps its next, so a pass standing on it walks on correctly) and then hold
// the thread once, so that no pass can still refer to the node when its
// mutex is closed.
#include "input/service_thread.h"

#include <new>

#include "base/engine_memory.h"
#include "platform/platform.h"

namespace {

ServiceThread* g_threads[2] = {nullptr, nullptr};

ServiceNode* LoadNext(ServiceNode* node) {
  return std::atomic_ref<ServiceNode*>(node->next).load(std::memory_order_acquire);
}
void StoreNext(ServiceNode* node, ServiceNode* next) {
  std::atomic_ref<ServiceNode*>(node->next).store(next, std::memory_order_release);
}

bool Running(const ServiceThread* thread) {
  return thread->state.load(std::memory_order_acquire) == SERVICE_RUNNING;
}

// Descending priority; a node goes in front of every node of equal
// priority, so among equals the one polled last is tried first.
void InsertByPriority(ServiceNode** list, ServiceNode* node) {
  ServiceNode** at = list;
  while (*at && (*at)->priority > node->priority) at = &(*at)->sort_next;
  node->sort_next = *at;
  *at = node;
}

// Polls every node into the priority list; false when the thread is asked to
// leave its pass.
bool PollNodes(ServiceThread* thread, ServiceNode** list) {
  *list = nullptr;
  for (ServiceNode* node = thread->head.load(std::memory_order_acquire); node;
       node = LoadNext(node)) {
    if (!Running(thread)) return false;
    node->priority = node->poll ? node->poll(node, thread->tick) : 0;
    if (node->priority) InsertByPriority(list, node);
  }
  return true;
}

// The most urgent of the first SERVICE_PASS_NODES nodes whose mutex is free,
// taken; null when all are busy.
ServiceNode* TakeMostUrgent(ServiceNode* list) {
  uint32_t tried = 0;
  for (ServiceNode* node = list; node && tried < SERVICE_PASS_NODES;
       node = node->sort_next, ++tried)
    if (ServiceNodeTryLock(node)) return node;
  return nullptr;
}

}  // namespace

// Services nodes, most urgent first, until every poll says there is nothing
// to do. A node is serviced at most once per pass unless its poll keeps
// reporting urgency (a reader below half its target).
void ServiceThreadPass(ServiceThread* thread) {
  thread->tick += 1;
  for (;;) {
    ServiceNode* list;
    if (!PollNodes(thread, &list) || !list) return;
    if (ServiceNode* node = TakeMostUrgent(list)) {
      if (node->service) node->service(node, thread->tick);
      ServiceNodeUnlock(node);
    } else {
      // Every wanted mutex is held elsewhere: poll again at once, but let the
      // holder run first.
      SleepMs(0);
    }
  }
}

namespace {

uint32_t ServiceThreadBody(void* arg) {
  auto* thread = static_cast<ServiceThread*>(arg);
  thread->alive.store(1, std::memory_order_release);
  if (EventWait(thread->stop_event, thread->period_ms)) return 0;
  for (;;) {
    MutexLock(thread->state_mutex);
    const uint32_t state = thread->state.load(std::memory_order_acquire);
    if (state == SERVICE_STOPPING) {
      MutexUnlock(thread->state_mutex);
      return 0;
    }
    if (state == SERVICE_RUNNING && thread->head.load(std::memory_order_acquire))
      ServiceThreadPass(thread);
    MutexUnlock(thread->state_mutex);
    if (EventWait(thread->stop_event, thread->period_ms)) return 0;
  }
}

void FreeRecord(ServiceThread* thread) {
  if (thread->state_mutex) MutexDestroy(thread->state_mutex);
  if (thread->stop_event) EventDestroy(thread->stop_event);
  thread->~ServiceThread();
  EngineFree(thread);
}

// Removes node from the thread's list; false when it is not there.
bool Unlink(ServiceThread* thread, ServiceNode* node) {
  if (!thread || !node) return false;
  ServiceNode* at = thread->head.load(std::memory_order_relaxed);
  if (at == node) {
    thread->head.store(LoadNext(node), std::memory_order_release);
    return true;
  }
  for (; at; at = LoadNext(at)) {
    if (LoadNext(at) == node) {
      StoreNext(at, LoadNext(node));
      return true;
    }
  }
  return false;
}

// Waits until no pass of the thread is running, then lets it go on.
void WaitOutPass(ServiceThread* thread) {
  thread->state.store(SERVICE_HOLDING, std::memory_order_release);
  MutexLock(thread->state_mutex);
  thread->state.store(SERVICE_RUNNING, std::memory_order_release);
  MutexUnlock(thread->state_mutex);
}

void CloseNodeMutex(ServiceNode* node) {
  if (node->mutex) MutexDestroy(node->mutex);
  node->mutex = nullptr;
}

// One of a movie's nodes left its thread: the thread goes when empty,
// otherwise it is held once so no pass still refers to the node.
uint32_t RemoveOne(ServiceThread* thread, ServiceNode* node, bool stop_when_empty, uint32_t bit) {
  uint32_t destroyed = 0;
  thread->node_count -= 1;
  if (stop_when_empty && thread->node_count == 0) {
    ServiceThreadDestroy(thread);
    destroyed = bit;
  } else {
    WaitOutPass(thread);
  }
  CloseNodeMutex(node);
  return destroyed;
}

// Both nodes left: the threads are stopped or held together, so the player's
// thread never waits for one thread's pass while the other is parked.
uint32_t RemoveBoth(ServiceThread* reading, ServiceThread* sound, bool stop_when_empty) {
  reading->node_count -= 1;
  sound->node_count -= 1;
  const bool reading_empty = stop_when_empty && reading->node_count == 0;
  const bool sound_empty = stop_when_empty && sound->node_count == 0;
  uint32_t destroyed = 0;
  if (reading_empty && sound_empty) {
    ServiceThreadDestroy(reading);
    ServiceThreadDestroy(sound);
    destroyed = 3;
  } else if (reading_empty || sound_empty) {
    ServiceThread* going = reading_empty ? reading : sound;
    ServiceThread* staying = reading_empty ? sound : reading;
    staying->state.store(SERVICE_HOLDING, std::memory_order_release);
    ServiceThreadDestroy(going);
    MutexLock(staying->state_mutex);
    staying->state.store(SERVICE_HELD, std::memory_order_release);
    ServiceThreadStart(staying);
    destroyed = reading_empty ? 1 : 2;
  } else {
    ServiceThreadHold(reading, sound);
    ServiceThreadStart(reading);
    ServiceThreadStart(sound);
  }
  return destroyed;
}

}  // namespace

ServiceThread* ServiceThreadCreate(uint32_t rate) {
  void* block = EngineAlloc(sizeof(ServiceThread));
  if (!block) return nullptr;
  auto* thread = new (block) ServiceThread{};
  thread->state.store(SERVICE_CREATED, std::memory_order_relaxed);
  thread->period_ms = 1000 / (rate ? rate : 1);
  thread->tick = 1;
  thread->thread = ThreadCreateSuspended(ServiceThreadBody, thread);
  if (!thread->thread) {
    FreeRecord(thread);
    return nullptr;
  }
  thread->state_mutex = MutexCreate();
  thread->stop_event = EventCreate();
  if (!thread->state_mutex || !thread->stop_event) {
    ThreadJoin(thread->thread);  // never resumed: it ends without running
    FreeRecord(thread);
    return nullptr;
  }
  return thread;
}

void ServiceThreadStart(ServiceThread* thread) {
  if (!thread) return;
  const uint32_t was = thread->state.exchange(SERVICE_RUNNING, std::memory_order_acq_rel);
  if (was == SERVICE_CREATED) {
    ThreadResume(thread->thread);
    for (uint32_t spins = 0; !thread->alive.load(std::memory_order_acquire); spins++)
      SleepMs(spins < 64 ? 0 : 1);
  } else if (was == SERVICE_HELD) {
    MutexUnlock(thread->state_mutex);
  }
}

void ServiceThreadHold(ServiceThread* a, ServiceThread* b) {
  if (a) a->state.store(SERVICE_HOLDING, std::memory_order_release);
  if (b) b->state.store(SERVICE_HOLDING, std::memory_order_release);
  MutexLockBoth(a ? a->state_mutex : nullptr, b ? b->state_mutex : nullptr);
  if (a) a->state.store(SERVICE_HELD, std::memory_order_release);
  if (b) b->state.store(SERVICE_HELD, std::memory_order_release);
}

void ServiceThreadDestroy(ServiceThread* thread) {
  if (!thread) return;
  const uint32_t was = thread->state.exchange(SERVICE_STOPPING, std::memory_order_acq_rel);
  EventSet(thread->stop_event);
  if (was == SERVICE_CREATED)
    ThreadResume(thread->thread);
  else if (was == SERVICE_HELD)
    MutexUnlock(thread->state_mutex);
  ThreadJoin(thread->thread);
  FreeRecord(thread);
}

bool ServiceNodeAdd(ServiceThread* thread, ServiceNode* node,
                    uint32_t (*poll)(ServiceNode*, uint32_t),
                    void (*service)(ServiceNode*, uint32_t)) {
  if (!thread || !node) return false;
  node->poll = poll;
  node->service = service;
  node->sort_next = nullptr;
  node->priority = 0;
  node->mutex = MutexCreate();
  if (!node->mutex) return false;
  StoreNext(node, thread->head.load(std::memory_order_relaxed));
  thread->head.store(node, std::memory_order_release);
  thread->node_count += 1;
  return true;
}

uint32_t ServiceNodesRemove(ServiceThread* reading, ServiceThread* sound, ServiceNode* reader_node,
                            ServiceNode* sound_node, bool stop_when_empty) {
  const bool reader_found = Unlink(reading, reader_node);
  const bool sound_found = Unlink(sound, sound_node);
  if (reader_found && sound_found) {
    const uint32_t destroyed = RemoveBoth(reading, sound, stop_when_empty);
    CloseNodeMutex(reader_node);
    CloseNodeMutex(sound_node);
    return destroyed;
  }
  if (reader_found) return RemoveOne(reading, reader_node, stop_when_empty, 1);
  if (sound_found) return RemoveOne(sound, sound_node, stop_when_empty, 2);
  return 0;
}

int ServiceNodeTryLock(ServiceNode* node) {
  return !node->mutex || MutexTryLock(node->mutex) ? 1 : 0;
}

void ServiceNodeUnlock(ServiceNode* node) {
  if (node->mutex) MutexUnlock(node->mutex);
}

ServiceThread* ServiceThreadOf(ServiceKind kind) { return g_threads[kind & 1]; }

ServiceThread* ServiceThreadNeeded(ServiceKind kind) {
  ServiceThread*& slot = g_threads[kind & 1];
  if (slot) return slot;
  slot = ServiceThreadCreate(kind == SERVICE_SOUND ? SERVICE_SOUND_RATE : SERVICE_READING_RATE);
  ServiceThreadStart(slot);
  return slot;
}

void ServiceThreadsForget(uint32_t destroyed) {
  if (destroyed & 1) g_threads[SERVICE_READING] = nullptr;
  if (destroyed & 2) g_threads[SERVICE_SOUND] = nullptr;
}
