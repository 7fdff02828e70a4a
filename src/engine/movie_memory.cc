// Engine memory booked to a movie: the allocator itself sits below the
// engine (base/), where the reader and the service threads use it too.
#include "base/engine_memory.h"
#include "engine/movie.h"

void* MovieAlloc(Movie* movie, uint32_t size) {
  movie->memory_used += EnginePendingState().total + size;
  return EngineAllocWithPending(size);
}
