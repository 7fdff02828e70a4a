// The SDL2 audio driver: each track opens its own SDL audio device in the
// track's format (SDL converts to what the device takes) and SDL's audio
// thread pulls the sound from a SoundQueue, which the sound service fills
// through the usual ready / get_buffer / submit_buffer slots. The device
// runs from the open on, playing silence until the queue starts; pausing
// pauses the device; switching off empties the queue and keeps the device.
#include "sound/sound_sdl.h"

#include <SDL.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

#include "base/engine_memory.h"
#include "engine/sound_track.h"
#include "platform/platform.h"
#include "sound/sound_driver_math.h"
#include "sound/sound_queue.h"

namespace {

struct SdlSoundState {
  PlatformMutex* const* sound_mutex;  // the movie's, which pause takes itself
  SDL_AudioDeviceID device;
  uint32_t volume;        // 0..32767
  uint32_t pan_position;  // 0..65536
  SoundQueue queue;
};

char g_last_error[256] = "";

SdlSoundState* State(SoundTrack* track) { return SoundDriverState<SdlSoundState>(track); }

void NoteError(const char* what) {
  std::snprintf(g_last_error, sizeof(g_last_error), "%s: %s", what, SDL_GetError());
}

void SDLCALL Pull(void* user, Uint8* stream, int len) {
  auto* s = static_cast<SdlSoundState*>(user);
  SoundQueuePull(&s->queue, stream, static_cast<uint32_t>(len));
}

// Device callbacks: about 1/40 s, a power of two of sample frames.
Uint16 CallbackFrames(uint32_t rate) {
  Uint16 frames = 256;
  while (frames < 4096 && frames * 40u < rate) frames = static_cast<Uint16>(frames * 2);
  return frames;
}

SDL_AudioDeviceID OpenDevice(uint32_t rate, uint32_t bits, uint32_t channels, void* user) {
  SDL_AudioSpec want, have;
  SDL_zero(want);
  want.freq = static_cast<int>(rate);
  want.format = bits == 16 ? AUDIO_S16SYS : AUDIO_U8;
  want.channels = static_cast<Uint8>(channels);
  want.samples = CallbackFrames(rate);
  want.callback = user ? Pull : nullptr;
  want.userdata = user;
  // No changes allowed: SDL converts the track's format to the device's.
  return SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
}

class DeviceLock {
 public:
  explicit DeviceLock(SDL_AudioDeviceID device) : device_(device) {
    if (device_) SDL_LockAudioDevice(device_);
  }
  ~DeviceLock() {
    if (device_) SDL_UnlockAudioDevice(device_);
  }

 private:
  SDL_AudioDeviceID device_;
};

int SdlReady(SoundTrack* track) {
  SdlSoundState* s = State(track);
  if (!track->device_on) return 0;
  DeviceLock lock(s->device);
  if (s->queue.underrun) {
    s->queue.underrun = 0;
    std::atomic_ref<uint32_t>(track->underrun).store(1, std::memory_order_relaxed);
  }
  return SoundQueueReady(&s->queue);
}

// The offered block is not played before it is submitted, so it is filled
// without the device lock.
int SdlGetBuffer(SoundTrack* track, void** buffer, uint32_t* size) {
  return SoundQueueGetBuffer(&State(track)->queue, buffer, size);
}

int SdlSubmit(SoundTrack* track, uint32_t bytes) {
  SdlSoundState* s = State(track);
  DeviceLock lock(s->device);
  return SoundQueueSubmit(&s->queue, bytes);
}

void ApplyLevels(SdlSoundState* s) {
  DeviceLock lock(s->device);
  SoundQueueSetLevels(&s->queue, s->volume, s->pan_position);
}

void SdlSetVolume(SoundTrack* track, int32_t volume) {
  SdlSoundState* s = State(track);
  s->volume = volume < 0 ? 0 : static_cast<uint32_t>(volume > 32767 ? 32767 : volume);
  ApplyLevels(s);
}

void SdlSetPan(SoundTrack* track, uint32_t pan) {
  SdlSoundState* s = State(track);
  s->pan_position = pan > 65536 ? 65536 : pan;
  ApplyLevels(s);
}

// The engine pauses without the sound mutex, while the sound thread may be
// feeding the same track: the driver takes the mutex itself.
int SdlPause(SoundTrack* track, int on) {
  SdlSoundState* s = State(track);
  PlatformMutex* mutex = s->sound_mutex ? *s->sound_mutex : nullptr;
  if (mutex) MutexLock(mutex);
  {
    DeviceLock lock(s->device);
    SoundQueuePause(&s->queue, on);
  }
  if (s->device) SDL_PauseAudioDevice(s->device, on ? 1 : 0);
  const int paused = static_cast<int>(s->queue.paused);
  if (mutex) MutexUnlock(mutex);
  return paused;
}

int SdlSetOn(SoundTrack* track, int on) {
  SdlSoundState* s = State(track);
  if ((on == 1 && !track->device_on) || (on == 0 && track->device_on)) {
    DeviceLock lock(s->device);
    SoundQueueRestart(&s->queue);
    s->queue.underrun = 0;
    track->device_on = on ? 1 : 0;
  }
  return static_cast<int>(track->device_on);
}

// A seek: nothing queued is heard, and playback waits for the start amount
// again; a paused track stays paused.
void SdlFlush(SoundTrack* track) {
  SdlSoundState* s = State(track);
  DeviceLock lock(s->device);
  SoundQueueRestart(&s->queue);
  s->queue.underrun = 0;
}

void SdlClose(SoundTrack* track) {
  SdlSoundState* s = State(track);
  // Closing waits for a running callback, so the memory goes afterwards.
  if (s->device) SDL_CloseAudioDevice(s->device);
  s->device = 0;
  if (s->queue.memory) EngineFree(s->queue.memory);
  s->queue.memory = nullptr;
  track->device_on = 0;
}

int SdlTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                 const SoundTrackContext* context) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || rate == 0) return 0;
  SdlSoundState* s = State(track);
  s->sound_mutex = context ? context->sound_mutex : nullptr;
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  const uint32_t frame = bits / 8 * channels;
  const uint32_t bps = sound_math::BytesPerSecond(rate, bits, channels);
  const uint32_t movie_bytes =
      context ? sound_math::MovieSoundBytes(context->frames, context->rate_num, context->rate_den,
                                            bps, bps)
              : bps;
  const uint32_t block = SoundQueueBlockBytes(bps, frame);
  auto* memory = static_cast<uint8_t*>(EngineAlloc(SOUND_QUEUE_BLOCKS * block));
  if (!memory) return 0;
  SoundQueueInit(&s->queue, memory, bits, channels, block,
                 SoundQueueStartBytes(bps, frame, movie_bytes));
  s->volume = 32767;
  s->pan_position = 32767;
  s->device = OpenDevice(rate, bits, channels, s);
  if (!s->device) {
    NoteError("SDL_OpenAudioDevice");
    EngineFree(memory);
    s->queue.memory = nullptr;
    return 0;
  }
  track->ready = SdlReady;
  track->get_buffer = SdlGetBuffer;
  track->submit_buffer = SdlSubmit;
  track->set_volume = SdlSetVolume;
  track->set_pan = SdlSetPan;
  track->pause = SdlPause;
  track->set_on = SdlSetOn;
  track->close = SdlClose;
  track->flush = SdlFlush;
  track->volume_full = 32767;
  // The engine counts 16-bit bytes: one block of the played format.
  track->min_feed_bytes = bits == 16 ? block : block * 2;
  // Whole frames of 16-bit samples, so no feed splits a frame.
  track->feed_mask = channels == 2 ? ~3u : ~1u;
  track->latency_ms = 0;
  track->device_on = 1;
  SDL_PauseAudioDevice(s->device, 0);
  return 1;
}

}  // namespace

// Sound libraries tried on the way to a device may print their own
// complaints; the player reports the outcome in one line of its own.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(2);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, 2);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    if (saved_ < 0) return;
    dup2(saved_, 2);
    close(saved_);
  }

 private:
  int saved_;
};

bool StartAudio() {
  QuietStderr quiet;
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    NoteError("SDL audio");
    return false;
  }
  // A device that opens now is one that plays: without one, say so once
  // at the start rather than losing every track silently.
  const SDL_AudioDeviceID probe = OpenDevice(48000, 16, 2, nullptr);
  if (!probe) {
    NoteError("no audio device");
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return false;
  }
  SDL_CloseAudioDevice(probe);
  return true;
}

SoundTrackOpenFn SoundSdlDriver(uint32_t) {
  static const bool started = StartAudio();
  return started ? SdlTrackOpen : nullptr;
}

const char* SoundSdlLastError() { return g_last_error; }

const char* SoundSdlBackendName() {
  const char* name = SDL_GetCurrentAudioDriver();
  return name ? name : "none";
}
