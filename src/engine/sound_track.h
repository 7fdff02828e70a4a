// The per-track sound record: a table of driver operations, the engine's ring
// of 16-bit PCM between the audio decoder and the driver, and room for the
// driver's own state; and the movie-level sound service on top of it. The
// drivers (src/sound, a layer above) fill the record's operations and see
// nothing of the movie but a SoundTrackContext; the engine reaches a driver
// only through the open function the player selects (SoundDriverSelect).
#pragma once
#include <cstdint>

struct AudioDecoder;
struct Movie;
struct PlatformMutex;
struct SoundTrack;

inline constexpr uint32_t SOUND_RING_ALIGN = 256;   // ring sizes are multiples of this
inline constexpr uint32_t SOUND_SPEED_NOMINAL = 0x10000;  // 16.16 speed factor 1.0
inline constexpr uint32_t SOUND_DRIVER_STATE_BYTES = 256;

struct SoundTrack {
  // Operation slots, filled by the driver's track open; absent ones stay null.
  int (*ready)(SoundTrack* track);
  int (*get_buffer)(SoundTrack* track, void** buffer, uint32_t* size);
  int (*submit_buffer)(SoundTrack* track, uint32_t bytes);
  void (*set_volume)(SoundTrack* track, int32_t volume);
  void (*set_pan)(SoundTrack* track, uint32_t pan);
  int (*pause)(SoundTrack* track, int on);
  int (*set_on)(SoundTrack* track, int on);
  void (*close)(SoundTrack* track);
  // Used only by the DirectSound driver, never by the engine: up to 8
  // speaker channels, and a level (0..32767) for each; stored, not applied.
  void (*set_channels)(SoundTrack* track, const uint32_t* channels, uint32_t count);
  void (*set_channel_levels)(SoundTrack* track, const uint32_t* channels, const uint32_t* levels,
                             uint32_t count);
  // Drops everything queued for the device, so none of it is heard, and goes
  // back to the state after open: nothing plays until the driver's start
  // amount is queued again. A paused track stays paused. Called by a seek,
  // under the movie's sound mutex. A driver without it is switched off and
  // on instead.
  void (*flush)(SoundTrack* track);

  // The engine's ring of 16-bit PCM.
  uint32_t ring_size;
  uint8_t* ring_start;
  uint8_t* ring_end;
  uint8_t* ring_write;
  uint8_t* ring_read;
  AudioDecoder* decoder;
  uint32_t ring_fill;
  uint32_t to_8bit;
  int32_t last_refill_frame;
  uint32_t preroll_bytes;
  // Decoded bytes still to be dropped before the ring takes more: after a
  // seek into a stretch where the track's sound runs behind the picture.
  uint32_t skip_bytes;

  // Filled by the driver.
  uint32_t min_feed_bytes;
  uint32_t feed_mask;
  uint32_t underrun;
  uint32_t device_on;
  uint32_t latency_ms;
  uint32_t speed_factor;  // engine; 16.16
  uint32_t rate;
  uint32_t bits;
  uint32_t channels;
  // The set_volume argument for full volume (the drivers' ranges differ).
  uint32_t volume_full;

  // Private to the driver (see SoundDriverState).
  alignas(16) uint8_t driver_state[SOUND_DRIVER_STATE_BYTES];
};

template <typename T>
T* SoundDriverState(SoundTrack* track) {
  static_assert(sizeof(T) <= SOUND_DRIVER_STATE_BYTES && alignof(T) <= 16);
  return reinterpret_cast<T*>(track->driver_state);
}

// What a driver's track open learns of the movie it plays for.
struct SoundTrackContext {
  // Where the movie's sound mutex is kept. The mutex is made after the
  // tracks open (with the service threads), so a driver reads it through
  // this address when it needs it: its pause takes the mutex itself.
  PlatformMutex* const* sound_mutex;
  // The movie's length (frames at rate_num/rate_den frames a second), from
  // which a driver sizes the sound it queues before starting.
  uint32_t frames;
  uint32_t rate_num, rate_den;
};

// track-open(record, played rate, bits 8/16, channels 1/2, movie-open flags,
// context, or null for none) -> nonzero on success. The driver zeroes the
// record first and keeps what it needs of the context, which lives only for
// the call.
using SoundTrackOpenFn = int (*)(SoundTrack* track, uint32_t rate, uint32_t bits,
                                 uint32_t channels, uint32_t flags,
                                 const SoundTrackContext* context);
// A driver entry returns its track-open function (or null) for a parameter.
using SoundDriverEntry = SoundTrackOpenFn (*)(uint32_t parameter);

// Chooses the process-wide driver. Fails for a null entry, or for a different
// entry once a track has been opened. Returns 1 when a track-open function
// is available afterwards.
int SoundDriverSelect(SoundDriverEntry entry, uint32_t parameter);
// Forgets the driver and the count of opened tracks (tests only).
void SoundDriverReset();
// Sound tracks opened so far in this process (never decreases).
uint32_t SoundTracksOpened();

// Opens the movie's selected tracks (movie->selected_tracks, selected_count)
// into movie->tracks: driver open, played rate, ring, decoder, preroll. A
// track that fails is dropped and the following ones move up. forced_num and
// forced_den are the forced playback rate, or 0 when the movie's own rate
// plays. Ring and decoder memory is booked in memory_used.
void SoundTracksOpen(Movie* movie, uint32_t forced_num, uint32_t forced_den);
// Closes every selected track and frees its decoder and ring.
void SoundTracksClose(Movie* movie);

// Appends decoded PCM to a track's ring; when it does not fit the oldest
// bytes are dropped first. The caller holds the movie's sound mutex.
void SoundRingAppend(SoundTrack* track, const uint8_t* pcm, uint32_t bytes);

// A seek's fresh start for every track: the driver's queue flushed, the
// ring emptied, the decoder reset (the cross-fade starts afresh), the
// underrun flag cleared. The caller holds the movie's sound mutex.
void SoundTracksFlush(Movie* movie);

// Sets every track's volume through its driver's set_volume: percent of the
// driver's full volume (0 silences, 100 or more is full), under the movie's
// sound mutex. Tracks without the operation keep their level.
void SoundSetVolume(Movie* movie, uint32_t percent);

// Moves PCM from the rings to the driver. Does nothing without tracks.
void SoundService(Movie* movie);
// Switches every track's device off (0) or on (1); 1 if a device is on.
int SoundOnOff(Movie* movie, int on);
