// The waveOut driver: one device per track, sixteen equal buffers of 1/16 s
// whose done flags are polled (no callback, no thread of its own). Playback
// is held back until half a second is queued; when every buffer has drained
// while playing, the next ready() reports an underrun and starts a fresh
// queue from buffer 0.
#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstring>
#include <new>

#include "base/engine_memory.h"
#include "engine/sound_track.h"
#include "platform/platform.h"
#include "sound/sound_devices_win32.h"
#include "sound/sound_driver_math.h"
#include "sound/sound_drivers.h"

namespace {

using sound_math::WAVEOUT_BUFFERS;

struct WaveOutState {
  PlatformMutex* const* sound_mutex;  // the movie's, which pause takes itself
  uint32_t volume;        // 0..32767
  uint32_t pan_position;  // 0..65536
  uint32_t playing;
  uint32_t paused;
  int32_t offered;      // buffer ready() chose, -1 = none
  int32_t last_filled;  // most recently submitted buffer, -1 = none
  uint32_t queued_bytes;
  uint32_t start_bytes;
  uint32_t movie_sound_bytes;
  uint32_t buffer_bytes;
  HWAVEOUT wave_out;
  WAVEHDR** headers;
  uint8_t* memory;  // the buffers, then the header pointers, then the headers
};

WaveOutState* State(SoundTrack* track) { return SoundDriverState<WaveOutState>(track); }

MMRESULT WINAPI SystemOpen(HWAVEOUT* out, UINT id, const WAVEFORMATEX* format, DWORD_PTR callback,
                           DWORD_PTR instance, DWORD flags) {
  return waveOutOpen(out, id, format, callback, instance, flags);
}
const WaveOutDevice kSystemDevice = {SystemOpen,     waveOutPrepareHeader, waveOutUnprepareHeader,
                                     waveOutWrite,   waveOutPause,         waveOutRestart,
                                     waveOutReset,   waveOutClose,         waveOutSetVolume};
const WaveOutDevice* g_device = &kSystemDevice;

// The device sets the done flag from its own thread.
bool Done(const WAVEHDR* header) {
  return (reinterpret_cast<const volatile WAVEHDR*>(header)->dwFlags & WHDR_DONE) != 0;
}
void SetDone(WAVEHDR* header) { header->dwFlags |= WHDR_DONE; }

void SetUnderrun(SoundTrack* track) {
  std::atomic_ref<uint32_t>(track->underrun).store(1, std::memory_order_relaxed);
}

void ApplyVolume(WaveOutState* s) {
  if (s->wave_out)
    g_device->set_volume(s->wave_out, sound_math::WaveOutVolumeWord(s->volume, s->pan_position));
}

void CloseDevice(WaveOutState* s) {
  if (s->wave_out) {
    g_device->reset(s->wave_out);
    for (uint32_t i = 0; i < WAVEOUT_BUFFERS; i++) {
      WAVEHDR* h = s->headers[i];
      h->dwBufferLength = s->buffer_bytes;
      g_device->unprepare(s->wave_out, h, sizeof(WAVEHDR));
      SetDone(h);
    }
    g_device->close(s->wave_out);
    s->wave_out = nullptr;
  }
  if (s->memory) EngineFree(s->memory);
  s->memory = nullptr;
  s->headers = nullptr;
}

bool OpenDevice(SoundTrack* track, WaveOutState* s) {
  const uint32_t bps = sound_math::BytesPerSecond(track->rate, track->bits, track->channels);
  s->buffer_bytes = sound_math::WaveOutBufferBytes(bps);
  s->start_bytes = sound_math::WaveOutStartBytes(bps, s->movie_sound_bytes);
  s->offered = s->last_filled = -1;
  s->playing = 0;
  s->queued_bytes = 0;
  if (!s->buffer_bytes) return false;

  const uint64_t total = uint64_t{WAVEOUT_BUFFERS} * s->buffer_bytes +
                         WAVEOUT_BUFFERS * (sizeof(WAVEHDR*) + sizeof(WAVEHDR));
  if (total > UINT32_MAX) return false;
  s->memory = static_cast<uint8_t*>(EngineAlloc(static_cast<uint32_t>(total)));
  if (!s->memory) return false;
  uint8_t* data = s->memory;
  s->headers = reinterpret_cast<WAVEHDR**>(data + WAVEOUT_BUFFERS * s->buffer_bytes);
  auto* header_block = reinterpret_cast<WAVEHDR*>(s->headers + WAVEOUT_BUFFERS);
  for (uint32_t i = 0; i < WAVEOUT_BUFFERS; i++) {
    s->headers[i] = &header_block[i];
    std::memset(s->headers[i], 0, sizeof(WAVEHDR));
    s->headers[i]->lpData = reinterpret_cast<LPSTR>(data + i * s->buffer_bytes);
  }
  std::memset(data, track->bits == 16 ? 0 : 128, WAVEOUT_BUFFERS * s->buffer_bytes);

  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(track->channels);
  format.nSamplesPerSec = track->rate;
  format.wBitsPerSample = static_cast<WORD>(track->bits);
  format.nBlockAlign = static_cast<WORD>(track->bits / 8 * track->channels);
  format.nAvgBytesPerSec = track->bits / 8 * track->channels * track->rate;
  if (g_device->open(&s->wave_out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
    s->wave_out = nullptr;
    EngineFree(s->memory);
    s->memory = nullptr;
    s->headers = nullptr;
    return false;
  }
  for (uint32_t i = 0; i < WAVEOUT_BUFFERS; i++) {
    WAVEHDR* h = s->headers[i];
    h->dwBufferLength = s->buffer_bytes;
    g_device->prepare(s->wave_out, h, sizeof(WAVEHDR));
    SetDone(h);
  }
  return true;
}

int WaveOutReady(SoundTrack* track) {
  WaveOutState* s = State(track);
  if (s->paused || !track->device_on || !s->headers) return 0;
  if (s->playing) {
    bool drained = true;
    for (uint32_t i = 0; i < WAVEOUT_BUFFERS && drained; i++) drained = Done(s->headers[i]);
    if (drained) {
      SetUnderrun(track);
      s->playing = 0;
      s->queued_bytes = 0;
      s->offered = s->last_filled = -1;
    }
  }
  const auto candidate =
      static_cast<int32_t>((s->last_filled + 1) % static_cast<int32_t>(WAVEOUT_BUFFERS));
  if (Done(s->headers[candidate])) {
    s->offered = candidate;
    return 1;
  }
  // While queuing, buffers go strictly in order: a buffer queued but not yet
  // written also carries the done flag and must not be handed out again.
  if (!s->playing) return 0;
  for (uint32_t i = 0; i < WAVEOUT_BUFFERS; i++) {
    if (Done(s->headers[i])) {
      s->offered = static_cast<int32_t>(i);
      return 1;
    }
  }
  return 0;
}

int WaveOutGetBuffer(SoundTrack* track, void** buffer, uint32_t* size) {
  WaveOutState* s = State(track);
  if (s->offered < 0 || !s->memory) return 0;
  *buffer = s->memory + static_cast<uint32_t>(s->offered) * s->buffer_bytes;
  *size = s->buffer_bytes;
  return 1;
}

void Write(WaveOutState* s, WAVEHDR* h) {
  h->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
  g_device->write(s->wave_out, h, sizeof(WAVEHDR));
}

int WaveOutSubmit(SoundTrack* track, uint32_t bytes) {
  WaveOutState* s = State(track);
  if (s->offered < 0 || !s->wave_out) return 0;
  if (bytes > s->buffer_bytes) bytes = s->buffer_bytes;
  WAVEHDR* h = s->headers[s->offered];
  h->dwBufferLength = bytes;  // a short last buffer plays only what it holds
  s->last_filled = s->offered;
  s->offered = -1;
  s->queued_bytes += bytes;
  if (s->playing) {
    Write(s, h);
  } else if (s->queued_bytes >= s->start_bytes ||
             s->last_filled == static_cast<int32_t>(WAVEOUT_BUFFERS) - 1) {
    // Half a second is queued (or every buffer is): start in index order.
    s->playing = 1;
    for (int32_t i = 0; i <= s->last_filled; i++) Write(s, s->headers[i]);
  }
  return 1;
}

void WaveOutSetVolume(SoundTrack* track, int32_t volume) {
  WaveOutState* s = State(track);
  s->volume = sound_math::WaveOutVolume(volume < 0 ? 0u : static_cast<uint32_t>(volume));
  ApplyVolume(s);
}

void WaveOutSetPan(SoundTrack* track, uint32_t pan) {
  WaveOutState* s = State(track);
  s->pan_position = pan > 65536 ? 65536 : pan;
  ApplyVolume(s);
}

// The engine pauses without the sound mutex, while the sound thread may be
// feeding the same track: the driver takes the mutex itself.
int WaveOutPause(SoundTrack* track, int on) {
  WaveOutState* s = State(track);
  PlatformMutex* mutex = s->sound_mutex ? *s->sound_mutex : nullptr;
  if (mutex) MutexLock(mutex);
  if (on) {
    if (s->wave_out) g_device->pause(s->wave_out);
    s->paused = 1;
  } else {
    if (s->wave_out) g_device->restart(s->wave_out);
    s->paused = 0;
  }
  const int paused = static_cast<int>(s->paused);
  if (mutex) MutexUnlock(mutex);
  return paused;
}

int WaveOutSetOn(SoundTrack* track, int on) {
  WaveOutState* s = State(track);
  if (on == 1 && !track->device_on) {
    if (OpenDevice(track, s)) track->device_on = 1;
  } else if (on == 0 && track->device_on) {
    CloseDevice(s);
    track->device_on = 0;
  }
  return static_cast<int>(track->device_on);
}

// Every queued buffer comes back unplayed and the queue starts again from
// buffer 0, held back until the start amount is queued, as after open.
void WaveOutFlush(SoundTrack* track) {
  WaveOutState* s = State(track);
  if (!s->wave_out || !s->headers) return;
  g_device->reset(s->wave_out);
  // A reset device plays the next buffer written at once: a paused track
  // must stay paused.
  if (s->paused) g_device->pause(s->wave_out);
  for (uint32_t i = 0; i < WAVEOUT_BUFFERS; i++) {
    s->headers[i]->dwBufferLength = s->buffer_bytes;
    SetDone(s->headers[i]);
  }
  std::memset(s->memory, track->bits == 16 ? 0 : 128, WAVEOUT_BUFFERS * s->buffer_bytes);
  s->playing = 0;
  s->queued_bytes = 0;
  s->offered = s->last_filled = -1;
}

void WaveOutClose(SoundTrack* track) {
  CloseDevice(State(track));
  track->device_on = 0;
}

int WaveOutTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                     const SoundTrackContext* context) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  if (!rate || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  WaveOutState* s = new (track->driver_state) WaveOutState{};
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  const uint32_t bps = sound_math::BytesPerSecond(rate, bits, channels);
  s->sound_mutex = context ? context->sound_mutex : nullptr;
  s->movie_sound_bytes =
      context ? sound_math::MovieSoundBytes(context->frames, context->rate_num, context->rate_den,
                                            bps, bps)
              : bps;
  s->volume = s->pan_position = 32767;
  s->paused = 0;
  track->device_on = 1;
  track->ready = WaveOutReady;
  track->get_buffer = WaveOutGetBuffer;
  track->submit_buffer = WaveOutSubmit;
  track->set_volume = WaveOutSetVolume;
  track->set_pan = WaveOutSetPan;
  track->pause = WaveOutPause;
  track->set_on = WaveOutSetOn;
  track->close = WaveOutClose;
  track->flush = WaveOutFlush;
  if (!OpenDevice(track, s)) {
    track->device_on = 0;
    return 0;
  }
  track->min_feed_bytes = s->buffer_bytes * (bits == 16 ? 1 : 2);
  track->latency_ms = 0;
  track->volume_full = 65535;
  return 1;
}

}  // namespace

SoundTrackOpenFn SoundWaveOutDriver(uint32_t) { return WaveOutTrackOpen; }

void SoundWaveOutSetDevice(const WaveOutDevice* device) {
  g_device = device ? device : &kSystemDevice;
}

#endif  // _WIN32
