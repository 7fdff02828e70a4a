// Runs a numbered set of independent jobs on worker threads. Jobs are taken
// in order from a shared counter, so which thread runs a job varies; callers
// keep every job's result independent of that (each job writes only its own
// outputs), which is what keeps the encoder's output the same for any
// thread count.
#pragma once
#include <cstdint>

using ParallelJob = void (*)(void* context, uint32_t job, uint32_t worker);

// Calls job(context, j, worker) for every j in 0..jobs-1 on up to `threads`
// threads (the calling thread is worker 0; workers are numbered below
// `threads`). Falls back to the calling thread alone when threads cannot be
// started. Returns when every job has finished.
void RunParallel(uint32_t threads, uint32_t jobs, ParallelJob job, void* context);
