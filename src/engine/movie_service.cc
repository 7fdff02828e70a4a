#include "engine/movie_service.h"

#include <atomic>

#include "engine/movie.h"
#include "engine/sound_track.h"
#include "input/service_thread.h"
#include "platform/platform.h"

namespace {

IoReader* NodeReader(ServiceNode* node) { return static_cast<IoReader*>(node->owner); }
Movie* NodeMovie(ServiceNode* node) { return static_cast<Movie*>(node->owner); }

// Registers one node, creating its thread when needed. Without a thread (or
// without a mutex for the node) the node is left out; a thread created for it
// alone and left empty is stopped again.
void AttachNode(ServiceKind kind, ServiceNode* node, uint32_t (*poll)(ServiceNode*, uint32_t),
                void (*service)(ServiceNode*, uint32_t)) {
  if (ServiceThread* thread = ServiceThreadNeeded(kind)) {
    if (ServiceNodeAdd(thread, node, poll, service)) return;
    if (thread->node_count == 0) {
      ServiceThreadDestroy(thread);
      ServiceThreadsForget(kind == SERVICE_READING ? 1u : 2u);
    }
  }
  node->mutex = MutexCreate();
}

void CloseLeftMutex(ServiceNode* node) {
  if (!node->mutex) return;
  MutexDestroy(node->mutex);
  node->mutex = nullptr;
}

}  // namespace

// The emptier the read-ahead ring, the more urgent (serviced again and again
// within a pass while under half of its target); otherwise the longer since
// the last service, the more urgent, once per pass. A service that read
// nothing (end of file, read error, a custom reader with nothing to do)
// ends the urgency for the rest of the pass, which otherwise would never end.
uint32_t MovieReaderPoll(ServiceNode* node, uint32_t tick) {
  IoReader* io = NodeReader(node);
  const Movie* movie = static_cast<const Movie*>(io->owner);
  const uint64_t buffered = io->buffered.load(std::memory_order_relaxed);
  const uint64_t target =
      std::atomic_ref<uint32_t>(io->fill_target).load(std::memory_order_relaxed);
  const auto fill = static_cast<uint32_t>((buffered + 1) * 100 / (target + 1));
  if (fill < 50 && node->idle_tick != tick) return 0xFFFFFFFFu - fill;
  if (movie->reader_service_tick == tick) return 0;
  return 0x80000000u - movie->reader_service_tick;
}

void MovieReaderService(ServiceNode* node, uint32_t tick) {
  IoReader* io = NodeReader(node);
  auto* movie = static_cast<Movie*>(io->owner);
  if (!io->idle || io->idle(io) <= 0) node->idle_tick = tick;
  movie->reader_service_tick = tick;
}

uint32_t MovieSoundPoll(ServiceNode* node, uint32_t tick) {
  const Movie* movie = NodeMovie(node);
  if (movie->sound_service_tick == tick) return 0;
  return 0xFFFFFFFFu - movie->sound_service_tick;
}

void MovieSoundService(ServiceNode* node, uint32_t tick) {
  Movie* movie = NodeMovie(node);
  if (movie->selected_count) SoundService(movie);
  movie->sound_service_tick = tick;
}

void MovieServiceAttach(Movie* movie) {
  movie->sound_node.owner = movie;
  movie->io.service_node.owner = &movie->io;
  if (movie->selected_count) {
    movie->sound_on = 1;
    AttachNode(SERVICE_SOUND, &movie->sound_node, MovieSoundPoll, MovieSoundService);
  }
  if (!movie->preload && !(movie->flags & OPEN_NO_THREAD))
    AttachNode(SERVICE_READING, &movie->io.service_node, MovieReaderPoll, MovieReaderService);
}

void MovieServiceDetach(Movie* movie) {
  ServiceNode* reader = &movie->io.service_node;
  ServiceNode* sound = &movie->sound_node;
  const uint32_t destroyed =
      ServiceNodesRemove(reader->mutex ? ServiceThreadOf(SERVICE_READING) : nullptr,
                         sound->mutex ? ServiceThreadOf(SERVICE_SOUND) : nullptr,
                         reader->mutex ? reader : nullptr, sound->mutex ? sound : nullptr, true);
  ServiceThreadsForget(destroyed);
  // Nodes that never made it into a list still own a plain mutex.
  CloseLeftMutex(reader);
  CloseLeftMutex(sound);
}
