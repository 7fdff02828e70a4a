// The block queue between the sound service and a pulling audio device (the
// SDL driver's callback): sixteen blocks of 1/16 s filled in order by the
// service thread and played in order by the device's own thread. Playback
// is held back until half a second (or the movie's whole sound) is queued;
// when the device finds the queue empty while playing, it plays silence,
// notes the underrun and the queue starts filling afresh. Volume and pan are
// applied while the device copies. No system calls: the caller serialises
// the device side against the others (SDL_LockAudioDevice), and tests drive
// it with a fake device clock.
#pragma once
#include <cstdint>

inline constexpr uint32_t SOUND_QUEUE_BLOCKS = 16;

struct SoundQueue {
  uint8_t* memory;       // SOUND_QUEUE_BLOCKS * block_bytes
  uint32_t block_bytes;  // 1/16 s, whole sample frames
  uint32_t start_bytes;  // queued before playback starts
  uint32_t frame_bytes;  // bytes of one sample frame (all channels)
  uint32_t bits;         // 8 (unsigned) or 16 (signed, native order)
  uint32_t channels;
  uint32_t lengths[SOUND_QUEUE_BLOCKS];
  uint32_t head;         // block playing or next to play
  uint32_t count;        // blocks queued, the one playing included
  uint32_t head_offset;  // bytes of the head block already played
  int32_t offered;       // block ready() chose, -1 = none
  uint32_t queued_bytes; // submitted since the queue (re)started
  uint32_t playing;      // the device takes queued sound
  uint32_t paused;       // nothing offered, nothing played
  uint32_t underrun;     // the device ran dry while playing (cleared by ready)
  uint64_t played_bytes; // queued sound the device has taken
  uint32_t left_level, right_level;  // 0..32767; both 32767 = unchanged
};

// Block size for a byte rate: 1/16 s rounded down to whole frames (at least one).
uint32_t SoundQueueBlockBytes(uint32_t bytes_per_second, uint32_t frame_bytes);
// Bytes held back before playback: 1/2 s in whole frames, at most the
// movie's whole sound (but at least one frame).
uint32_t SoundQueueStartBytes(uint32_t bytes_per_second, uint32_t frame_bytes,
                              uint32_t movie_sound_bytes);

// memory holds SOUND_QUEUE_BLOCKS * block_bytes bytes.
void SoundQueueInit(SoundQueue* q, uint8_t* memory, uint32_t bits, uint32_t channels,
                    uint32_t block_bytes, uint32_t start_bytes);
// Empties the queue; playback waits for start_bytes again.
void SoundQueueRestart(SoundQueue* q);
// The service side: 1 when a block is free (remembered for get/submit).
int SoundQueueReady(SoundQueue* q);
int SoundQueueGetBuffer(SoundQueue* q, void** buffer, uint32_t* size);
// bytes (at most block_bytes, cut to whole frames) of the offered block.
int SoundQueueSubmit(SoundQueue* q, uint32_t bytes);
// Bytes queued and not yet played.
uint32_t SoundQueueBytes(const SoundQueue* q);
// The device side: fills out with the next len bytes, silence where there
// is nothing to play.
void SoundQueuePull(SoundQueue* q, uint8_t* out, uint32_t len);
// Pauses (1) or resumes (0); the queue keeps what it holds.
void SoundQueuePause(SoundQueue* q, int on);
// Levels from a volume (0..32767) and a pan (0..65536, centre 32768).
void SoundQueueSetLevels(SoundQueue* q, uint32_t volume, uint32_t pan);
