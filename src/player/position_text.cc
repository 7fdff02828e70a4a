// The position text: the time of the frame on screen and the movie's length.
#include "player/position_text.h"

#include <cstdio>

#include "engine/movie.h"

namespace {

// Minutes and seconds, or hours, minutes and seconds.
int TimeText(uint64_t seconds, bool hours, char* text, uint32_t size) {
  if (hours)
    return std::snprintf(text, size, "%u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                         static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  return std::snprintf(text, size, "%02u:%02u", static_cast<unsigned>(seconds / 60),
                       static_cast<unsigned>(seconds % 60));
}

}  // namespace

uint32_t PlayerFrameOnScreen(const Movie* m) {
  return m->shown_frame_num >= 1 ? static_cast<uint32_t>(m->shown_frame_num) : 1;
}

void PlayerPositionText(const Movie* m, char* text, uint32_t size) {
  if (!size) return;
  text[0] = 0;
  if (!m || !m->file_rate_num) return;
  const uint64_t den = m->file_rate_den, num = m->file_rate_num;
  const uint64_t at = (uint64_t{PlayerFrameOnScreen(m)} - 1) * den / num;
  const uint64_t length = uint64_t{m->frames} * den / num;
  const bool hours = length >= 3600;
  const int used = TimeText(at, hours, text, size);
  if (used < 0 || static_cast<uint32_t>(used) >= size) return;
  const int more = std::snprintf(text + used, size - used, " / ");
  if (more < 0 || static_cast<uint32_t>(used + more) >= size) return;
  TimeText(length, hours, text + used + more, size - used - more);
}
