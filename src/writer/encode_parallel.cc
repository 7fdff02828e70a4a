#include "writer/encode_parallel.h"

#include <atomic>
#include <vector>

#include "platform/platform.h"

namespace {

struct Pool {
  ParallelJob job;
  void* context;
  uint32_t jobs;
  std::atomic<uint32_t> next{0};
};

struct Worker {
  Pool* pool;
  uint32_t index;
};

void Drain(Pool* pool, uint32_t worker) {
  for (;;) {
    uint32_t j = pool->next.fetch_add(1, std::memory_order_relaxed);
    if (j >= pool->jobs) return;
    pool->job(pool->context, j, worker);
  }
}

uint32_t WorkerMain(void* arg) {
  auto* w = static_cast<Worker*>(arg);
  Drain(w->pool, w->index);
  return 0;
}

}  // namespace

void RunParallel(uint32_t threads, uint32_t jobs, ParallelJob job, void* context) {
  Pool pool;
  pool.job = job;
  pool.context = context;
  pool.jobs = jobs;
  if (threads > jobs) threads = jobs;
  std::vector<Worker> workers;
  std::vector<PlatformThread*> started;
  workers.reserve(threads);
  for (uint32_t i = 1; i < threads; i++) {
    workers.push_back({&pool, i});
    PlatformThread* t = ThreadCreateSuspended(WorkerMain, &workers.back());
    if (!t) break;  // fewer helpers: the jobs still all run
    ThreadResume(t);
    started.push_back(t);
  }
  Drain(&pool, 0);
  for (PlatformThread* t : started) ThreadJoin(t);
}
