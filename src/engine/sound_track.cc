#include "engine/sound_track.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "audio/audio_decoder.h"
#include "audio/audio_decoder_record.h"
#include "base/engine_memory.h"
#include "engine/movie.h"
#include "platform/platform.h"

namespace {

SoundDriverEntry g_driver_entry = nullptr;
SoundTrackOpenFn g_track_open = nullptr;
uint32_t g_tracks_opened = 0;

bool TrackHasCodec(uint32_t format) { return format & (AUDIO_TRACK_DCT | AUDIO_TRACK_RDFT); }

// The track's rate scaled by forced rate / movie rate, rounded to nearest.
// The product can reach 80 bits, so it is formed in floating point; 0 means
// the rate cannot be played.
uint32_t PlayedRate(const Movie* movie, uint32_t rate, uint32_t forced_num, uint32_t forced_den) {
  if (!forced_num || !forced_den) return rate;
  const long double scaled = static_cast<long double>(rate) * movie->file_rate_den * forced_num /
                             (static_cast<long double>(movie->file_rate_num) * forced_den);
  if (!(scaled < 4294967295.0L)) return 0;
  return static_cast<uint32_t>(std::floor(scaled + 0.5L));
}

// 16-bit bytes for (750 - latency) ms of sound, whole stereo frames, at most
// the ring.
uint32_t PrerollBytes(const SoundTrack* track, uint32_t rate) {
  if (track->latency_ms >= 750) return 0;
  const uint64_t bytes =
      uint64_t{track->channels} * rate * 2 * (750 - track->latency_ms) / 1000 & ~uint64_t{3};
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, track->ring_size));
}

void ResetRecord(SoundTrack* track) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  track->speed_factor = SOUND_SPEED_NOMINAL;
}

// The ring holds the track's largest frame of PCM, but never more than
// kMaxRingSeconds of it: a header may claim gigabytes, and a frame that
// really decodes to more simply loses its oldest audio, as any overflow does.
constexpr uint32_t kMaxRingSeconds = 16;

// Beyond the largest packet the ring holds one audio block and one frame
// time of sound more. A seek fills the ring with the sound from the new
// position up to the end of the new frame's packet before the device may
// take any (it may be paused); with a lead-in that is the lead-in plus up to
// one block of rounding and the frame's own share.
uint32_t SeekHeadroom(const Movie* movie, uint32_t rate, uint32_t channels) {
  const uint64_t block = uint64_t{AudioFrameLength(rate)} * channels * 2;
  const uint64_t frame = movie->file_rate_num
                             ? uint64_t{rate} * channels * 2 * movie->file_rate_den / movie->file_rate_num
                             : 0;
  return static_cast<uint32_t>(std::min<uint64_t>(block + frame, UINT32_MAX / 2));
}

uint32_t RingSize(uint32_t max_bytes, uint32_t headroom, uint32_t rate, uint32_t channels) {
  const uint32_t cap = rate * channels * 2 * kMaxRingSeconds;  // at most 4 MiB
  const uint32_t bytes = std::min(max_bytes, cap - std::min(cap, headroom)) + headroom;
  return (std::min(bytes, cap) + SOUND_RING_ALIGN - 1) & ~(SOUND_RING_ALIGN - 1);
}

// Opens file track `file_track` into `track`; false drops the track.
bool OpenOneTrack(Movie* movie, SoundTrack* track, uint32_t file_track, uint32_t forced_num,
                  uint32_t forced_den) {
  const uint32_t format = movie->track_formats[file_track];
  const uint32_t max_bytes = movie->track_max_bytes[file_track];
  const uint32_t rate = format & AUDIO_TRACK_RATE_MASK;
  if (!TrackHasCodec(format) || !g_track_open || rate == 0) return false;
  if (max_bytes == 0 || max_bytes > UINT32_MAX - SOUND_RING_ALIGN) return false;
  const uint32_t played_rate = PlayedRate(movie, rate, forced_num, forced_den);
  if (!played_rate) return false;
  const uint32_t channels = format & AUDIO_TRACK_STEREO ? 2 : 1;
  const SoundTrackContext context = {&movie->sound_node.mutex, movie->frames, movie->rate_num,
                                     movie->rate_den};
  if (!g_track_open(track, played_rate, format & AUDIO_TRACK_16BIT ? 16 : 8, channels,
                    movie->flags, &context))
    return false;

  if (track->feed_mask == 0) track->feed_mask = UINT32_MAX;
  track->ring_size = RingSize(max_bytes, SeekHeadroom(movie, rate, channels), rate, channels);
  track->ring_start = static_cast<uint8_t*>(EngineAlloc(track->ring_size));
  if (!track->ring_start) {
    if (track->close) track->close(track);
    return false;
  }
  // The decoder works at the track's own rate; only the device plays faster.
  const int use_dct = !(format & AUDIO_TRACK_RDFT);
  track->decoder = AudioDecoderOpen(rate, channels, use_dct, movie->cpu_flags);
  if (!track->decoder) {
    if (track->close) track->close(track);
    EngineFree(track->ring_start);
    return false;
  }
  g_tracks_opened++;
  movie->memory_used += track->ring_size + AudioDecoderMemorySize(rate, channels, use_dct);
  track->to_8bit = format & AUDIO_TRACK_16BIT ? 0 : 1;
  track->ring_end = track->ring_start + track->ring_size;
  track->ring_write = track->ring_read = track->ring_start;
  track->ring_fill = 0;
  track->preroll_bytes = PrerollBytes(track, played_rate);
  // The last 0.75 s of the movie at its own rate: there the rings are flushed.
  const uint64_t tail = uint64_t{movie->file_rate_num} * 3 / (uint64_t{movie->file_rate_den} * 4);
  track->last_refill_frame = static_cast<int32_t>(
      std::max<int64_t>(int64_t{movie->frames} - static_cast<int64_t>(tail), INT32_MIN));
  if (track->speed_factor == 0) track->speed_factor = SOUND_SPEED_NOMINAL;
  return true;
}

// Copies amount 16-bit bytes out of the ring into a driver buffer, turning
// each sample into unsigned 8-bit (its high byte plus 128) for 8-bit tracks.
void CopyOutOfRing(SoundTrack* track, uint8_t* out, uint32_t amount) {
  while (amount) {
    const uint32_t piece = std::min(amount, static_cast<uint32_t>(track->ring_end - track->ring_read));
    if (track->to_8bit) {
      for (uint32_t i = 0; i + 1 < piece; i += 2)
        *out++ = static_cast<uint8_t>(track->ring_read[i + 1] + 128);
    } else {
      std::memcpy(out, track->ring_read, piece);
      out += piece;
    }
    track->ring_read += piece;
    if (track->ring_read == track->ring_end) track->ring_read = track->ring_start;
    amount -= piece;
  }
}

void FeedTrack(const Movie* movie, SoundTrack* track) {
  while (track->ready && track->ready(track)) {
    // The player's thread moves frame_num while the sound thread feeds.
    const int32_t frame = std::atomic_ref<int32_t>(const_cast<int32_t&>(movie->frame_num))
                              .load(std::memory_order_relaxed);
    const bool flushing = frame > track->last_refill_frame;
    if (track->ring_fill <= track->min_feed_bytes && !(flushing && track->ring_fill > 0)) return;
    void* buffer = nullptr;
    uint32_t size = 0;
    if (!track->get_buffer || !track->get_buffer(track, &buffer, &size) || !buffer) return;
    uint32_t amount = std::min(uint64_t{size} << track->to_8bit, uint64_t{track->ring_fill});
    if (!flushing) amount &= track->feed_mask << track->to_8bit;
    amount &= ~uint32_t{track->to_8bit};  // whole 16-bit samples for the 8-bit conversion
    if (!amount) return;  // nothing whole to hand over: never spin on a ready device
    track->ring_fill -= amount;
    CopyOutOfRing(track, static_cast<uint8_t*>(buffer), amount);
    if (track->submit_buffer) track->submit_buffer(track, amount >> track->to_8bit);
  }
}

// Empties the ring and, unless frame 1 is loaded but not yet played, puts the
// preroll's worth of silence in front so the device restarts with a cushion.
void RestartRing(const Movie* movie, SoundTrack* track) {
  track->ring_write = track->ring_read = track->ring_start;
  track->ring_fill = 0;
  if (movie->frame_num == 1 && movie->last_decoded != 1) return;
  const uint32_t n = track->preroll_bytes;  // the ring is empty: the whole preroll
  if (!n || !track->ring_start) return;
  const auto back = static_cast<uint32_t>(track->ring_read - track->ring_start);
  track->ring_read = back >= n ? track->ring_read - n : track->ring_end - (n - back);
  uint32_t left = n;
  uint8_t* at = track->ring_read;
  while (left) {
    const uint32_t piece = std::min(left, static_cast<uint32_t>(track->ring_end - at));
    std::memset(at, 0, piece);
    at = at + piece == track->ring_end ? track->ring_start : at + piece;
    left -= piece;
  }
  track->ring_fill = n;
}

}  // namespace

int SoundDriverSelect(SoundDriverEntry entry, uint32_t parameter) {
  if (!entry) return 0;
  if (g_tracks_opened && g_driver_entry && entry != g_driver_entry) return 0;
  g_driver_entry = entry;
  if (SoundTrackOpenFn open = entry(parameter)) g_track_open = open;
  return g_track_open ? 1 : 0;
}

void SoundDriverReset() {
  g_driver_entry = nullptr;
  g_track_open = nullptr;
  g_tracks_opened = 0;
}

uint32_t SoundTracksOpened() { return g_tracks_opened; }

void SoundTracksOpen(Movie* movie, uint32_t forced_num, uint32_t forced_den) {
  // Decoders come from the engine's allocator like the rest of the movie.
  AudioSetMemoryFunctions(EngineAlloc, EngineFree);
  uint32_t kept = 0;
  for (uint32_t i = 0; i < movie->selected_count; i++) {
    const uint32_t file_track = movie->selected_tracks[i];
    SoundTrack* track = &movie->tracks[kept];
    if (file_track < movie->track_count &&
        OpenOneTrack(movie, track, file_track, forced_num, forced_den)) {
      movie->selected_tracks[kept++] = file_track;
    } else {
      ResetRecord(track);  // the frame clock still reads the first record
    }
  }
  movie->selected_count = kept;
}

void SoundTracksClose(Movie* movie) {
  for (uint32_t i = 0; i < movie->selected_count; i++) {
    SoundTrack* track = &movie->tracks[i];
    if (track->close) track->close(track);
    AudioDecoderClose(track->decoder);
    EngineFree(track->ring_start);
    track->decoder = nullptr;
    track->ring_start = track->ring_end = track->ring_read = track->ring_write = nullptr;
  }
  movie->selected_count = 0;
}

void SoundRingAppend(SoundTrack* track, const uint8_t* pcm, uint32_t bytes) {
  if (!track->ring_size || !bytes) return;
  if (bytes >= track->ring_size) {  // only the newest ring_size bytes survive
    pcm += bytes - track->ring_size;
    bytes = track->ring_size;
  }
  const uint32_t space = track->ring_size - track->ring_fill;
  if (bytes > space) {  // drop the oldest bytes first
    const uint32_t excess = bytes - space;
    const auto ahead = static_cast<uint32_t>(track->ring_end - track->ring_read);
    track->ring_read = excess < ahead ? track->ring_read + excess : track->ring_start + (excess - ahead);
    track->ring_fill -= excess;
  }
  while (bytes) {
    const uint32_t piece = std::min(bytes, static_cast<uint32_t>(track->ring_end - track->ring_write));
    std::memcpy(track->ring_write, pcm, piece);
    track->ring_write += piece;
    if (track->ring_write == track->ring_end) track->ring_write = track->ring_start;
    pcm += piece;
    bytes -= piece;
    track->ring_fill += piece;
  }
}

void SoundTracksFlush(Movie* movie) {
  for (uint32_t i = 0; i < movie->selected_count; i++) {
    SoundTrack* track = &movie->tracks[i];
    if (track->flush) {
      track->flush(track);
    } else if (track->set_on && track->device_on) {
      track->set_on(track, 0);
      track->set_on(track, 1);
    }
    track->ring_write = track->ring_read = track->ring_start;
    track->ring_fill = 0;
    track->skip_bytes = 0;
    AudioDecoderReset(track->decoder);
    std::atomic_ref<uint32_t>(track->underrun).store(0, std::memory_order_relaxed);
  }
}

void SoundSetVolume(Movie* movie, uint32_t percent) {
  if (!movie || !movie->selected_count) return;
  PlatformMutex* mutex = movie->sound_node.mutex;
  if (mutex) MutexLock(mutex);
  for (uint32_t i = 0; i < movie->selected_count; i++) {
    SoundTrack* track = &movie->tracks[i];
    if (!track->set_volume) continue;
    const uint64_t full = track->volume_full ? track->volume_full : 32767;
    const uint64_t level = full * std::min<uint32_t>(percent, 100) / 100;
    track->set_volume(track, static_cast<int32_t>(std::min<uint64_t>(level, INT32_MAX)));
  }
  if (mutex) MutexUnlock(mutex);
}

void SoundService(Movie* movie) {
  if (!movie || !movie->selected_count) return;
  PlatformMutex* mutex = movie->sound_node.mutex;
  if (mutex && !MutexTryLock(mutex)) return;  // another thread is at the rings
  for (uint32_t i = 0; i < movie->selected_count; i++) FeedTrack(movie, &movie->tracks[i]);
  if (mutex) MutexUnlock(mutex);
}

int SoundOnOff(Movie* movie, int on) {
  if (!movie) return 0;
  PlatformMutex* mutex = movie->sound_node.mutex;
  bool locked = false;
  int result = 0;
  // Every track sees the state the call started from, so that switching
  // several tracks off restarts each of their rings, not just the first.
  const bool was_on = movie->sound_on != 0;
  for (uint32_t i = 0; i < movie->selected_count; i++) {
    SoundTrack* track = &movie->tracks[i];
    if (!track->set_on) continue;
    if (!locked && mutex) MutexLock(mutex);
    locked = true;
    if (track->set_on(track, on)) {
      result = 1;
      if (!movie->sound_on) {
        movie->sound_on = 1;
        movie->clock_start = 0;  // the frame clock restarts with the next frame
        movie->clock_adjust = 0;
      }
    } else if (was_on) {
      RestartRing(movie, track);
      movie->sound_on = 0;
    }
  }
  if (locked && mutex) MutexUnlock(mutex);
  return result;
}
