// Loading one frame's packet: from the preload block, or through the reader
// into the frame-data buffer.
#include <algorithm>
#include <atomic>

#include "engine/movie.h"
#include "engine/movie_frame.h"
#include "engine/movie_header.h"
#include "engine/sound_track.h"

namespace {

constexpr uint32_t kSoundRestartMs = 300000;  // five minutes

}  // namespace

void MovieReadPacket(Movie* movie, uint32_t k) {
  const uint32_t offset = MovieFrameOffset(movie, k);
  const uint32_t size = MovieFrameSize(movie, k);
  if (movie->preload) {
    const uint32_t from_first = offset - MovieFrameOffset(movie, 1);
    movie->frame_data = movie->preload + from_first;
    if (uint64_t{from_first} + size > movie->preload_bytes) movie->read_error = 1;
    return;
  }
  IoReader* io = &movie->io;
  io->read_frame(io, k - 1, offset, movie->frame_data, std::min(size, movie->frame_data_size));
  if (size > movie->frame_data_size) movie->read_error = 1;  // reaches past the file
}

void MovieLoadFrame(Movie* movie, uint32_t frame) {
  if (!movie) return;
  const uint32_t k = frame == 0 ? 1 : frame;
  if (k > movie->frames) return;  // no such frame: the loaded packet stays
  const bool sound = movie->selected_count != 0;
  if (sound) SoundService(movie);
  movie->shown_frame_num = movie->frame_num;
  if (k == 1) {
    // Coming back to frame 1 long after the last time: the sound devices
    // are cycled at the next decode, which bounds their drift.
    const uint32_t now = MovieClockMs();
    // 0 means "not yet", so a first load in the clock's first millisecond
    // is noted as 1.
    const uint32_t noted = now ? now : 1;
    if (movie->restart_time == 0) movie->restart_time = noted;
    if (static_cast<int32_t>(now - movie->restart_time) > static_cast<int32_t>(kSoundRestartMs)) {
      movie->restart_time = noted;
      movie->restart_sound = 1;
    }
  }
  MovieReadPacket(movie, k);
  if (sound) SoundService(movie);
  // The sound thread reads frame_num while it feeds (the closing flush).
  std::atomic_ref<int32_t>(movie->frame_num).store(static_cast<int32_t>(k), std::memory_order_relaxed);
}
