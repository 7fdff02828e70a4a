// Moving around in the movie and its volume from the keyboard:
// Left/Right 5 s, Down/Up 60 s, Home, PageUp/PageDown between key frames,
// + - 0 9 for the volume in steps of 10 %, m to mute.
#include "player/seek_keys.h"

#include "convert/copy_to_buffer.h"
#include "engine/movie.h"
#include "player/frame_step.h"
#include "player/player_state.h"
#include "player/position_text.h"
#include "engine/sound_track.h"

namespace {

constexpr uint32_t kVolumeStep = 10;
constexpr int32_t kShortJumpSeconds = 5;
constexpr int32_t kLongJumpSeconds = 60;

bool CanSeek(const PlayerState& p) { return p.movie && p.display && !p.logo_mode && !p.quitting; }

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
  PlayerFrameStep(&p);
}

void JumpSeconds(PlayerState& p, int32_t seconds) {
  const Movie* m = p.movie;
  int64_t target = int64_t{PlayerFrameOnScreen(m)} + FramesIn(m, seconds);
  if (target < 1) target = 1;
  if (target > int64_t{m->frames}) target = m->frames;
  SeekAndShow(p, static_cast<uint32_t>(target), SEEK_EXACT);
}

void SetVolume(PlayerState& p, int32_t step) {
  int32_t v = static_cast<int32_t>(p.volume_percent) + step;
  v = v < 0 ? 0 : v > 100 ? 100 : v;
  p.volume_percent = static_cast<uint32_t>(v);
  p.muted = 0;  // a change of level is heard
  PlayerApplyVolume(&p);
}

}  // namespace

void PlayerOnKey(PlayerState* player, int key) {
  PlayerState& p = *player;
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
      return SeekAndShow(p, PreviousKeyFrame(p.movie, PlayerFrameOnScreen(p.movie)), 0);
    case PLAYER_KEY_PAGE_DOWN:
      if (uint32_t next = NextKeyFrame(p.movie, PlayerFrameOnScreen(p.movie))) SeekAndShow(p, next, 0);
      return;
    default:
      return;
  }
}

bool PlayerOnVolumeChar(PlayerState* player, int key) {
  PlayerState& p = *player;
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
      PlayerApplyVolume(&p);
      return true;
    default:
      return false;
  }
}

void PlayerApplyVolume(PlayerState* player) {
  PlayerState& p = *player;
  SoundSetVolume(p.movie, p.muted ? 0 : p.volume_percent);
}
