// Moving around in the movie and its volume from the keyboard and the mouse:
// Left/Right 5 s, Down/Up 60 s, Home, PageUp/PageDown between key frames,
// + - 0 9 for the volume in steps of 10 %, m to mute; the position text.
#include <cstdio>

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "player/window_loop.h"
#include "engine/sound_track.h"

namespace {

constexpr uint32_t kVolumeStep = 10;
constexpr int32_t kShortJumpSeconds = 5;
constexpr int32_t kLongJumpSeconds = 60;

bool CanSeek(const PlayerState& p) { return p.movie && p.display && !p.logo_mode && !p.quitting; }

// The frame on screen (frame 1 before anything was shown).
uint32_t FrameOnScreen(const Movie* m) {
  return m->shown_frame_num >= 1 ? static_cast<uint32_t>(m->shown_frame_num) : 1;
}

// Frames in `seconds` of the movie's own time, rounded to the nearest.
int64_t FramesIn(const Movie* m, int32_t seconds) {
  if (!m->file_rate_den) return 0;
  const int64_t scaled = int64_t{seconds} * m->file_rate_num;
  const int64_t half = m->file_rate_den / 2;
  return (scaled + (scaled < 0 ? -half : half)) / int64_t{m->file_rate_den};
}

uint32_t NextKeyFrame(const Movie* m, uint32_t after) {
  for (uint32_t k = after + 1; k <= m->frames; ++k)
    if (m->frame_index[k - 1] & 1) return k;
  return 0;
}

uint32_t PreviousKeyFrame(const Movie* m, uint32_t before) {
  for (uint32_t k = before; k > 1; --k)
    if (m->frame_index[k - 2] & 1) return k - 1;
  return 1;
}

// The new frame is decoded by the seek; the frame step shows it at once
// (also while paused) and loads the next one.
void SeekAndShow(PlayerState& p, uint32_t frame, uint32_t flags) {
  if (!MovieSeek(p.movie, frame, flags)) return;
  p.force_full_copy = COPY_ALL;
  PlayerFrameStep();
}

void JumpSeconds(PlayerState& p, int32_t seconds) {
  const Movie* m = p.movie;
  int64_t target = int64_t{FrameOnScreen(m)} + FramesIn(m, seconds);
  if (target < 1) target = 1;
  if (target > int64_t{m->frames}) target = m->frames;
  SeekAndShow(p, static_cast<uint32_t>(target), SEEK_EXACT);
}

void SetVolume(PlayerState& p, int32_t step) {
  int32_t v = static_cast<int32_t>(p.volume_percent) + step;
  v = v < 0 ? 0 : v > 100 ? 100 : v;
  p.volume_percent = static_cast<uint32_t>(v);
  p.muted = 0;  // a change of level is heard
  PlayerApplyVolume();
}

// Minutes and seconds, or hours, minutes and seconds.
int TimeText(uint64_t seconds, bool hours, char* text, uint32_t size) {
  if (hours)
    return std::snprintf(text, size, "%u:%02u:%02u", static_cast<unsigned>(seconds / 3600),
                         static_cast<unsigned>(seconds / 60 % 60), static_cast<unsigned>(seconds % 60));
  return std::snprintf(text, size, "%02u:%02u", static_cast<unsigned>(seconds / 60),
                       static_cast<unsigned>(seconds % 60));
}

}  // namespace

void PlayerOnKey(int key) {
  PlayerState& p = *Player();
  if (!CanSeek(p)) return;
  switch (key) {
    case PLAYER_KEY_LEFT:
      return JumpSeconds(p, -kShortJumpSeconds);
    case PLAYER_KEY_RIGHT:
      return JumpSeconds(p, kShortJumpSeconds);
    case PLAYER_KEY_DOWN:
      return JumpSeconds(p, -kLongJumpSeconds);
    case PLAYER_KEY_UP:
      return JumpSeconds(p, kLongJumpSeconds);
    case PLAYER_KEY_HOME:
      return SeekAndShow(p, 1, SEEK_EXACT);
    case PLAYER_KEY_PAGE_UP:
      return SeekAndShow(p, PreviousKeyFrame(p.movie, FrameOnScreen(p.movie)), 0);
    case PLAYER_KEY_PAGE_DOWN:
      if (uint32_t next = NextKeyFrame(p.movie, FrameOnScreen(p.movie))) SeekAndShow(p, next, 0);
      return;
    default:
      return;
  }
}

bool PlayerOnVolumeChar(int key) {
  PlayerState& p = *Player();
  switch (key) {
    case '+':
    case '0':
      SetVolume(p, static_cast<int32_t>(kVolumeStep));
      return true;
    case '-':
    case '9':
      SetVolume(p, -static_cast<int32_t>(kVolumeStep));
      return true;
    case 'm':
    case 'M':
      p.muted = !p.muted;
      PlayerApplyVolume();
      return true;
    default:
      return false;
  }
}

void PlayerApplyVolume() {
  PlayerState& p = *Player();
  SoundSetVolume(p.movie, p.muted ? 0 : p.volume_percent);
}

void PlayerOnPictureClick() {
  PlayerState& p = *Player();
  if (p.logo_mode) return PlayerOnClick();
  PlayerOnChar(' ');  // with its /U1 mask
}

void PlayerPositionText(const Movie* m, char* text, uint32_t size) {
  if (!size) return;
  text[0] = 0;
  if (!m || !m->file_rate_num) return;
  const uint64_t den = m->file_rate_den, num = m->file_rate_num;
  const uint64_t at = (uint64_t{FrameOnScreen(m)} - 1) * den / num;
  const uint64_t length = uint64_t{m->frames} * den / num;
  const bool hours = length >= 3600;
  const int used = TimeText(at, hours, text, size);
  if (used < 0 || static_cast<uint32_t>(used) >= size) return;
  const int more = std::snprintf(text + used, size - used, " / ");
  if (more < 0 || static_cast<uint32_t>(used + more) >= size) return;
  TimeText(length, hours, text + used + more, size - used - more);
}
