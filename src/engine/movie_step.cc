// Frame stepping: the frame schedule against the engine clock, decoding of the
// loaded frame, moving to the next frame, pause, and the timing counters and
// history behind the statistics.
#include <atomic>
#include <cstring>

#include "engine/movie.h"
#include "engine/movie_audio.h"
#include "engine/movie_clock.h"
#include "engine/movie_frame.h"
#include "engine/sound_track.h"
#include "platform/platform.h"
#include "video/video_decoder.h"

namespace {

constexpr uint32_t kOffsetMask = ~1u;  // index entries carry the key-frame flag in bit 0

// Fields the service threads also touch are plain 32-bit words in the shared
// records; they are read and written here as relaxed atomics.
uint32_t LoadShared(uint32_t& word) {
  return std::atomic_ref<uint32_t>(word).load(std::memory_order_relaxed);
}
void StoreShared(uint32_t& word, uint32_t value) {
  std::atomic_ref<uint32_t>(word).store(value, std::memory_order_relaxed);
}

bool HasSound(const Movie* movie) { return movie->selected_count != 0; }

void ServiceSound(Movie* movie) {
  if (HasSound(movie)) SoundService(movie);
}

// Several time fields use 0 for "not set", yet the engine clock starts at 0
// with the first open: a time taken in that first millisecond is stored as 1
// so that it still counts as set.
uint32_t SetTime(uint32_t now) { return now ? now : 1; }

// Milliseconds from a time stored with SetTime to now: a time stored as 1
// and read back while the clock still says 0 is no time at all, not 4294967295.
uint32_t SinceSetTime(uint32_t now, uint32_t since) {
  return static_cast<int32_t>(now - since) < 0 ? 0 : now - since;
}

void StopClock(Movie* movie) {
  movie->clock_start = 0;
  movie->clock_adjust = 0;
}

// A new run of the schedule starts now: the next frame waited for falls due
// one frame time later.
void StartClockAt(Movie* movie, uint32_t now) {
  movie->clock_start = SetTime(now);
  movie->clock_start_frames = movie->frames_decoded - 1;
}

void SetForegroundBusy(Movie* movie, uint32_t busy) {
  StoreShared(movie->io.foreground_busy, busy);
}

// The reader's node mutex, taken only without waiting: decoding never waits
// for the background reading thread. A node without a mutex (no background
// reading) counts as taken.
bool TryLockReader(Movie* movie) {
  PlatformMutex* mutex = movie->io.service_node.mutex;
  return !mutex || MutexTryLock(mutex);
}

void UnlockReader(Movie* movie) {
  if (PlatformMutex* mutex = movie->io.service_node.mutex) MutexUnlock(mutex);
}

int32_t IdleRead(Movie* movie) { return movie->io.idle ? movie->io.idle(&movie->io) : 0; }

// (buffered + 1) x 100 / (fill_target + 1): how full the read-ahead ring is
// against what it can usefully hold now, in percent.
uint32_t FillPercent(Movie* movie) {
  uint64_t buffered = movie->io.buffered.load(std::memory_order_relaxed);
  uint64_t target = LoadShared(movie->io.fill_target);
  return static_cast<uint32_t>((buffered + 1) * 100 / (target + 1));
}

// Between a frame's sound and its picture: one chunk of read-ahead while the
// ring is under 75 % full, if the background thread is not using it.
void ReadAheadBetweenFrames(Movie* movie) {
  if (movie->preload || LoadShared(movie->io.reading_now) || FillPercent(movie) >= 75) return;
  if (TryLockReader(movie)) {
    IdleRead(movie);
    UnlockReader(movie);
  } else if (!(movie->flags & OPEN_NO_THREAD)) {
    SleepMs(0);
  }
}

// While waiting for a frame's time.
void ReadAheadWhileWaiting(Movie* movie) {
  if (movie->preload || !TryLockReader(movie)) return;
  IdleRead(movie);
  UnlockReader(movie);
}

void ShiftHistory(uint32_t* history, uint32_t len, uint32_t now_value) {
  if (len > 1) std::memmove(history + 1, history, (len - 1) * sizeof(uint32_t));
  history[0] = now_value;
}

void RecordHistory(Movie* movie) {
  const uint32_t len = movie->history_len;
  if (len == 0) return;
  const IoReader& io = movie->io;
  ShiftHistory(movie->history_time, len, movie->frame_start_time);
  ShiftHistory(movie->history_video, len, movie->video_ms);
  ShiftHistory(movie->history_audio, len, movie->audio_ms);
  ShiftHistory(movie->history_blit, len, movie->blit_ms);
  ShiftHistory(movie->history_read, len, io.frame_read_time_ms);
  ShiftHistory(movie->history_idle_read, len, io.idle_read_time_ms);
  ShiftHistory(movie->history_background_read, len, io.background_read_time_ms);
}

// The first decode: a fictitious frame one frame time earlier gives the
// run-time window its first interval; reading done during open is not counted.
void NoteFirstDecode(Movie* movie) {
  if (movie->history_len > 1) {
    uint32_t frame_ms = movie->file_rate_num
                            ? static_cast<uint32_t>(1000ull * movie->file_rate_den / movie->file_rate_num)
                            : 1000;
    movie->history_time[1] = movie->frame_start_time - frame_ms;
  }
  movie->io.idle_read_time_ms = 0;
  movie->io.background_read_time_ms = 0;
  movie->first_frame_time = SetTime(movie->frame_start_time);
}

// Counts the frame now stepped as damaged, once per step.
void NoteDamagedFrame(Movie* movie) {
  if (movie->last_damaged_step == movie->frame_num && movie->damaged_frames) return;
  movie->last_damaged_step = movie->frame_num;
  movie->damaged_frames += 1;
  if (movie->first_damaged_frame == 0 && movie->frame_num > 0)
    movie->first_damaged_frame = static_cast<uint32_t>(movie->frame_num);
}

// After a read error no frame is decoded, but the rest are still stepped at
// the movie's own rate from the first missing one on, so the movie takes its
// length and its end is not raced through. 1 = wait.
int WaitForMissingFrame(Movie* movie) {
  if (movie->paused) return 1;
  if (movie->missing_clock_start == 0) return 0;  // the first missing frame goes at once
  const uint32_t now = MovieClockMs();
  const uint32_t due = MovieDueMs(movie, movie->missing_steps);
  return static_cast<int32_t>(now - movie->missing_clock_start) >= static_cast<int32_t>(due) ? 0 : 1;
}

// Clears every track's underrun flag; true when one of them calls for a
// recovery (set while the frame is past 1 and not yet in the closing 0.75 s,
// where the ring is flushed and running dry is expected).
bool TakeUnderrun(Movie* movie) {
  bool recover = false;
  for (uint32_t j = 0; j < movie->selected_count; ++j) {
    SoundTrack& track = movie->tracks[j];
    if (!LoadShared(track.underrun)) continue;
    StoreShared(track.underrun, 0);
    if (movie->frame_num > 1 && movie->frame_num <= static_cast<int32_t>(track.last_refill_frame))
      recover = true;
  }
  return recover;
}

// Sound ran dry: with the reader and the sound held, switch the sound off,
// refill the read-ahead ring to 90 %, and restart sound and schedule afresh.
void RecoverFromUnderrun(Movie* movie) {
  movie->sound_skips += 1;
  PlatformMutex* reader = movie->io.service_node.mutex;
  PlatformMutex* sound = movie->sound_node.mutex;
  if (reader && sound)
    MutexLockBoth(reader, sound);
  else if (reader || sound)
    MutexLock(reader ? reader : sound);
  SoundOnOff(movie, 0);
  if (!movie->preload) {
    // idle returns 0 when the ring is full or the movie read; -1 cannot
    // happen with the mutex held, but would not end the loop, so it stops too.
    while (FillPercent(movie) < 90 && IdleRead(movie) > 0) {
    }
  }
  StopClock(movie);
  SoundOnOff(movie, 1);
  if (sound) MutexUnlock(sound);
  if (reader) MutexUnlock(reader);
}

}  // namespace

MoviePacket MovieLoadedPacket(const Movie* movie) {
  MoviePacket p{movie->frame_data, 0, false};
  if (!movie->frame_data || !movie->frame_index || movie->frame_num < 1 ||
      static_cast<uint32_t>(movie->frame_num) > movie->index_frames)
    return p;
  uint32_t i = static_cast<uint32_t>(movie->frame_num) - 1;
  uint32_t start = movie->frame_index[i] & kOffsetMask;
  uint32_t end = movie->frame_index[i + 1] & kOffsetMask;
  p.key_frame = movie->frame_index[i] & 1;
  if (end <= start) return p;
  uint32_t size = end - start;
  if (movie->preload) {
    // What the image really holds: a cut image ends before the header says.
    uint32_t first = movie->frame_index[0] & kOffsetMask;
    uint64_t offset = uint64_t{start} - first;
    uint64_t available = movie->preload_bytes > offset ? movie->preload_bytes - offset : 0;
    if (start < first) available = 0;
    if (size > available) size = static_cast<uint32_t>(available);
  } else if (size > movie->frame_data_size) {
    size = movie->frame_data_size;
  }
  p.size = size;
  return p;
}

void MovieDecodeVideo(Movie* movie, const uint8_t* data, uint32_t size, bool key_frame) {
  uint32_t cur = movie->cur_buffer & 1;
  const int whole = VideoDecodeFrame(
      movie->plane_width, movie->decoded_width, movie->decoded_height, movie->yuv_buffers[cur],
      movie->yuv_buffers[cur ^ 1], movie->alpha_buffers[cur], movie->alpha_buffers[cur ^ 1],
      movie->block_map, movie->plane_height, data, size, key_frame ? 1 : 0, movie->bundle_buffers,
      movie->flags, movie->video_flags, movie->video_kernels);
  movie->cur_buffer = cur ^ 1;
  if (!whole) NoteDamagedFrame(movie);
}

void MovieStartClock(Movie* movie) {
  if (movie->clock_start == 0) StartClockAt(movie, MovieClockMs());
}

void MovieBookBlitTime(Movie* movie, uint32_t now) {
  if (movie->frame_end_time == 0) return;
  movie->blit_ms += SinceSetTime(now, movie->frame_end_time);
  movie->frame_end_time = 0;
}

void MovieNoteFrameTime(Movie* movie, uint32_t now) {
  if (movie->slow_frame_start == 0) return;
  uint32_t d = SinceSetTime(now, movie->slow_frame_start);
  movie->slow_frame_start = 0;
  uint32_t frame = static_cast<uint32_t>(movie->frame_num);
  if (d > movie->slowest_ms) {
    movie->second_slowest_ms = movie->slowest_ms;
    movie->second_slowest_frame = movie->slowest_frame;
    movie->slowest_ms = d;
    movie->slowest_frame = frame;
  } else if (d > movie->second_slowest_ms) {
    movie->second_slowest_ms = d;
    movie->second_slowest_frame = frame;
  }
}

int MovieWait(Movie* movie) {
  if (!movie) return 0;
  // The first frame is never held back.
  if (movie->frames_decoded == 0 && !movie->paused && !movie->read_error) return 0;
  if (movie->read_error) return WaitForMissingFrame(movie);
  if (movie->clock_start == 0) StartClockAt(movie, MovieClockMs());
  ServiceSound(movie);
  uint32_t now = MovieClockMs();
  MovieBookBlitTime(movie, now);
  MovieNoteFrameTime(movie, now);

  bool hold = movie->paused || (HasSound(movie) && !movie->sound_on);
  if (!hold) {
    if (movie->rate_num == 0) return 0;
    uint32_t due = MovieDueMs(movie, movie->frames_decoded - movie->clock_start_frames);
    uint32_t elapsed = now - movie->clock_adjust - movie->clock_start;
    if (static_cast<int32_t>(elapsed) >= static_cast<int32_t>(due)) {
      uint32_t late = elapsed - due;
      if (late > movie->late_limit) {
        if (!HasSound(movie)) {
          StartClockAt(movie, now);  // slow down rather than hurry
        } else {
          // Forgive the lateness at once and charge it back over about a second.
          movie->clock_adjust = late;
          movie->clock_adjust_step =
              static_cast<uint32_t>(uint64_t{late} * movie->rate_den / movie->rate_num);
        }
      }
      if (movie->clock_adjust < movie->clock_adjust_step)
        movie->clock_adjust = 0;
      else
        movie->clock_adjust -= movie->clock_adjust_step;
      return 0;
    }
  }
  ReadAheadWhileWaiting(movie);
  return 1;
}

int MovieDoFrame(Movie* movie) {
  if (!movie) return 0;
  if (movie->last_decoded == movie->frame_num) return 0;
  if (movie->restart_sound) {
    // Five minutes after frame 1 was first read: cycle the sound so the
    // device's clock and ours cannot drift apart for ever.
    movie->restart_sound = 0;
    if (movie->sound_on) {
      SoundOnOff(movie, 0);
      SoundOnOff(movie, 1);
    }
    StopClock(movie);
  }

  SetForegroundBusy(movie, 1);
  movie->frame_start_time = MovieClockMs();
  RecordHistory(movie);
  if (movie->first_frame_time == 0)
    NoteFirstDecode(movie);
  else
    ServiceSound(movie);
  movie->slow_frame_start = SetTime(movie->frame_start_time);

  if (movie->io.read_error) movie->read_error = 1;
  if (movie->read_error) {
    if (movie->last_damaged_step != movie->frame_num || !movie->damaged_frames) {
      NoteDamagedFrame(movie);
      if (movie->missing_clock_start == 0) {
        const uint32_t now = MovieClockMs();
        movie->missing_clock_start = now ? now : 1;
      }
      movie->missing_steps += 1;
    }
    SetForegroundBusy(movie, 0);
    return 1;
  }

  MoviePacket packet = MovieLoadedPacket(movie);
  uint32_t video_at = MovieDecodeAudio(movie, packet.data, packet.size);
  uint32_t audio_end = MovieClockMs();
  if (movie->video_on) {
    // After a skipped copy the map keeps accumulating until a copy shows it.
    if (!movie->skip_blit) std::memset(movie->block_map, 0, movie->block_count);
    ReadAheadBetweenFrames(movie);
    MovieDecodeVideo(movie, packet.data + video_at, packet.size - video_at, packet.key_frame);
  }
  ServiceSound(movie);

  movie->frames_decoded += 1;
  movie->rect_count = -1;
  uint32_t end = MovieClockMs();
  if (movie->clock_start == 0) StartClockAt(movie, end);
  movie->frame_end_time = SetTime(end);
  movie->audio_ms += audio_end - movie->frame_start_time;
  movie->video_ms += end - audio_end;
  movie->last_decoded = movie->shown_frame_num = movie->frame_num;
  SetForegroundBusy(movie, 0);
  return 0;
}

void MovieNextFrame(Movie* movie) {
  if (!movie) return;
  if (HasSound(movie) && TakeUnderrun(movie)) RecoverFromUnderrun(movie);
  SetForegroundBusy(movie, 1);
  ServiceSound(movie);
  MovieBookBlitTime(movie, MovieClockMs());
  bool last = movie->frame_num < 0 || static_cast<uint32_t>(movie->frame_num) >= movie->frames;
  MovieLoadFrame(movie, last ? 1 : static_cast<uint32_t>(movie->frame_num) + 1);
  SetForegroundBusy(movie, 0);
}

int MovieSetPause(Movie* movie, int on) {
  if (!movie) return 0;
  uint32_t now = MovieClockMs();
  MovieBookBlitTime(movie, now);
  MovieNoteFrameTime(movie, now);
  // The schedule restarts with the next frame after a pause.
  if (!on && movie->paused) StopClock(movie);
  movie->paused = static_cast<uint32_t>(on);
  for (uint32_t j = 0; j < movie->selected_count; ++j) {
    SoundTrack& track = movie->tracks[j];
    if (track.pause) track.pause(&track, on);
  }
  if (movie->frames_decoded > 0) ServiceSound(movie);
  return static_cast<int>(movie->paused);
}
