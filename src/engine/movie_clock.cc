// The frame schedule, measured against the engine clock.
#include "engine/movie_clock.h"

#include "engine/movie.h"
#include "engine/sound_track.h"

uint32_t MovieLateLimit(uint32_t rate_num, uint32_t rate_den) {
  if (rate_num == 0) return 2000;
  return static_cast<uint32_t>(2000ull * rate_den / rate_num);
}

uint32_t MovieDueMs(const Movie* movie, uint32_t f) {
  if (movie->rate_num == 0) return 0;
  uint64_t due = uint64_t{f * 1000u} * movie->rate_den / movie->rate_num;
  // The first track's record always exists and carries the speed factor the
  // schedule follows, even when no track plays; a factor not yet set counts
  // as nominal rather than making every frame due at once.
  uint32_t speed = movie->tracks ? movie->tracks[0].speed_factor : 0;
  if (speed == 0) speed = SOUND_SPEED_NOMINAL;
  return static_cast<uint32_t>(due * speed >> 16);
}
