// The DirectSound driver: each track plays through its own looping secondary
// buffer of 0.6 s, written ahead of the play cursor in chunks of 50 ms.
// DirectSound is loaded at run time, so the player starts (silently) where
// it is missing. When the play cursor comes within 10 % of the buffer of the
// written data, or nobody looked at the cursors for 540 ms, silence is
// written ahead of the write cursor and an underrun is reported.
#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstring>
#include <new>

#include "engine/sound_track.h"
#include "platform/platform.h"
#include "sound/sound_devices_win32.h"
#include "sound/sound_driver_math.h"
#include "sound/sound_drivers.h"

namespace {

namespace sm = sound_math;

using DirectSoundCreateFn = HRESULT(WINAPI*)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);

constexpr uint32_t kMaxChannels = 8;
constexpr int kLostRetries = 100;       // 10 ms apart: a buffer lost for a second is given up
constexpr int kCursorReadings = 16;     // stable-cursor attempts before the last one is taken
constexpr uint32_t kStartWaitMs = 250;  // longest wait for a started buffer to begin at its head
constexpr uint32_t kReplayMs = 50;

// Process-wide: the object, who owns it, the library, and the users.
struct DirectSoundGlobal {
  IDirectSound* object = nullptr;
  bool owned = true;  // created here (false: supplied by the host)
  HMODULE library = nullptr;
  DirectSoundCreateFn create = nullptr;
  uint32_t users = 0;
  bool primary_pending = false;  // priority level granted: set the primary format once
  IDirectSoundBuffer* primary = nullptr;
  HWND window = nullptr;
};
DirectSoundGlobal g_ds;
uint32_t (*g_timer)() = TimerMs;
uint32_t Now() { return g_timer(); }

struct DsState {
  PlatformMutex* const* sound_mutex;  // the movie's, which pause takes itself
  IDirectSoundBuffer* sound_buffer;
  uint32_t buffer_bytes;
  uint32_t chunk_bytes;
  WAVEFORMATEX format;
  uint32_t volume;        // 0..32767
  uint32_t pan_position;  // 0..65536
  uint32_t playing;
  uint32_t paused;
  uint32_t write_offset;
  uint32_t writable;
  uint32_t prestart_bytes;
  uint32_t last_write_cursor, last_play_cursor;
  uint32_t underrun_bytes;
  uint32_t last_check_ms;
  uint32_t stale_ms;
  void* lock_ptr[2];
  DWORD lock_len[2];
  bool locked;
  uint32_t channel_count;
  uint32_t channels[kMaxChannels];
  int32_t channel_levels[kMaxChannels];
};

DsState* State(SoundTrack* track) { return SoundDriverState<DsState>(track); }

uint8_t SilenceByte(const DsState* s) { return s->format.wBitsPerSample == 16 ? 0 : 128; }

// ---- The player's window, for the cooperative level -----------------------------

struct WindowSearch {
  DWORD process;
  HINSTANCE instance;
  HWND module_window;
  HWND first_window;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search->process) return TRUE;
  const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
  if (instance == search->instance && !(GetWindowLongA(window, GWL_STYLE) & WS_CHILD))
    search->module_window = window;  // the last such window wins
  else if (!search->first_window)
    search->first_window = window;
  return TRUE;
}

// Cached once found. A process without any window yet (a console check, a
// host that opens sound first) uses the desktop window rather than none.
HWND PlayerWindow() {
  if (g_ds.window) return g_ds.window;
  WindowSearch search{GetCurrentProcessId(), GetModuleHandleA(nullptr), nullptr, nullptr};
  EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&search));
  HWND window = search.module_window ? search.module_window : search.first_window;
  if (!window) window = GetActiveWindow();
  if (window) {
    g_ds.window = window;
    return window;
  }
  return GetDesktopWindow();
}

// ---- The object -------------------------------------------------------------------------

bool Acquire() {
  if (g_ds.users++ > 0) return true;
  if (!g_ds.owned) return g_ds.object != nullptr;
  if (!g_ds.create) {
    g_ds.users = 0;
    return false;
  }
  if (FAILED(g_ds.create(nullptr, &g_ds.object, nullptr)) || !g_ds.object) {
    g_ds.users--;
    g_ds.object = nullptr;
    return false;
  }
  g_ds.primary_pending =
      SUCCEEDED(g_ds.object->SetCooperativeLevel(PlayerWindow(), DSSCL_PRIORITY));
  return true;
}

void Release() {
  if (g_ds.users == 0 || --g_ds.users > 0 || !g_ds.owned) return;
  if (g_ds.primary) {
    g_ds.primary->Release();
    g_ds.primary = nullptr;
  }
  if (g_ds.object) g_ds.object->Release();
  g_ds.object = nullptr;
}

// Once per object: the primary buffer takes the first track's format and
// plays on, so the device is not reprogrammed for every track.
void SetPrimaryFormat(WAVEFORMATEX* format) {
  if (!g_ds.primary_pending) return;
  g_ds.primary_pending = false;
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* primary = nullptr;
  if (FAILED(g_ds.object->CreateSoundBuffer(&desc, &primary, nullptr)) || !primary) return;
  primary->SetFormat(format);
  primary->Play(0, 0, DSBPLAY_LOOPING);
  g_ds.primary = primary;
}

// ---- Buffer access ----------------------------------------------------------------------

// A lost buffer is restored and the call repeated, for a bounded time.
template <typename Call>
HRESULT RetryLost(IDirectSoundBuffer* buffer, Call call) {
  HRESULT hr = call();
  for (int i = 0; hr == DSERR_BUFFERLOST && i < kLostRetries; i++) {
    Sleep(10);
    buffer->Restore();
    hr = call();
  }
  return hr;
}

void Unlock(DsState* s) {
  if (!s->locked) return;
  s->sound_buffer->Unlock(s->lock_ptr[0], s->lock_len[0], s->lock_ptr[1], s->lock_len[1]);
  s->locked = false;
}

bool Lock(DsState* s, uint32_t offset, uint32_t bytes) {
  Unlock(s);  // a region the engine took but never handed back
  if (!bytes) return false;
  s->lock_ptr[0] = s->lock_ptr[1] = nullptr;
  s->lock_len[0] = s->lock_len[1] = 0;
  const HRESULT hr = RetryLost(s->sound_buffer, [&] {
    return s->sound_buffer->Lock(offset, bytes, &s->lock_ptr[0], &s->lock_len[0], &s->lock_ptr[1],
                                 &s->lock_len[1], 0);
  });
  s->locked = SUCCEEDED(hr);
  return s->locked;
}

void WriteSilence(DsState* s, uint32_t offset, uint32_t bytes) {
  if (!Lock(s, offset % s->buffer_bytes, bytes)) return;
  for (int i = 0; i < 2; i++)
    if (s->lock_ptr[i]) std::memset(s->lock_ptr[i], SilenceByte(s), s->lock_len[i]);
  Unlock(s);
}

void ReadCursors(DsState* s, uint32_t* play, uint32_t* write) {
  DWORD p = 0, w = 0;
  if (FAILED(s->sound_buffer->GetCurrentPosition(&p, &w))) p = w = 0;
  *play = static_cast<uint32_t>(p) % s->buffer_bytes;
  *write = static_cast<uint32_t>(w) % s->buffer_bytes;
}

// Three readings; the third counts when neither cursor moved 1024 bytes or
// more since the first (a reading taken across a wrap or a glitch is redone).
void StableCursors(DsState* s, uint32_t* play, uint32_t* write) {
  for (int attempt = 0; attempt < kCursorReadings; attempt++) {
    uint32_t p0, w0, p1, w1;
    ReadCursors(s, &p0, &w0);
    ReadCursors(s, &p1, &w1);
    ReadCursors(s, play, write);
    if (*play - p0 < sm::DSOUND_MIN_GAP && *write - w0 < sm::DSOUND_MIN_GAP) return;
  }
}

void ApplyFrequencyPanVolume(DsState* s) {
  s->sound_buffer->SetFrequency(s->format.nSamplesPerSec);
  s->sound_buffer->SetPan(sm::DsPan(s->pan_position));
  s->sound_buffer->SetVolume(sm::DsAttenuation(s->volume));
}

// Plays the buffer in a loop. From the head (the pre-fill is complete) it
// waits until the device really plays, asking again when the cursor does not
// move within 50 ms, but never longer than kStartWaitMs; a resume from a
// pause plays on from where the cursor stopped, without waiting for the
// cursor to come round to the head (up to 0.6 s of stale sound).
void Start(DsState* s, bool from_head) {
  s->playing = 1;
  RetryLost(s->sound_buffer, [&] { return s->sound_buffer->Play(0, 0, DSBPLAY_LOOPING); });
  s->paused = 0;
  if (from_head) {
    const uint32_t begin = Now();
    uint32_t asked = begin;
    uint32_t first_play = 0, play = 0, write = 0;
    ReadCursors(s, &first_play, &write);
    for (;;) {
      ReadCursors(s, &play, &write);
      if (play != first_play && play <= s->chunk_bytes) break;  // running from the head
      const uint32_t now = Now();
      if (now - begin >= kStartWaitMs) break;
      if (play == first_play && now - asked >= kReplayMs) {
        s->sound_buffer->Play(0, 0, DSBPLAY_LOOPING);
        asked = now;
      }
      Sleep(1);
    }
  }
  // The next check measures from here, not from cursors of before a stop.
  StableCursors(s, &s->last_play_cursor, &s->last_write_cursor);
  s->last_check_ms = Now();
}

void StopAndWait(DsState* s) {
  s->sound_buffer->Stop();
  for (int i = 0; i < 100; i++) {
    DWORD status = 0;
    if (FAILED(s->sound_buffer->GetStatus(&status)) || !(status & DSBSTATUS_PLAYING)) break;
    Sleep(1);
  }
}

// ---- Operations ------------------------------------------------------------------------

int DsReady(SoundTrack* track) {
  DsState* s = State(track);
  if (s->paused || !track->device_on || !s->sound_buffer) return 0;
  if (!s->playing) return 1;  // pre-filling
  const uint32_t B = s->buffer_bytes;
  bool underrun = false;
  const uint32_t now = Now();
  if (now - s->last_check_ms > sm::DSOUND_CHECK_MS) {
    uint32_t play, write;
    StableCursors(s, &play, &write);
    const uint32_t play_moved = sm::DsMoved(play, s->last_play_cursor, B);
    const uint32_t write_moved = sm::DsMoved(write, s->last_write_cursor, B);
    const uint32_t differ =
        play_moved > write_moved ? play_moved - write_moved : write_moved - play_moved;
    if (differ > B / 2) return 0;  // an unreliable reading
    underrun = now - s->last_check_ms >= s->stale_ms;
    s->last_play_cursor = play;
    s->last_write_cursor = write;
    s->last_check_ms = now;
  }
  bool silenced = false;
  for (;;) {
    const uint32_t free_bytes = sm::DsFreeBytes(s->last_play_cursor, s->write_offset, B);
    if ((free_bytes >= s->underrun_bytes || underrun) && !silenced) {
      // Nearly everything written has been played: write silence ahead of
      // the device and go on from behind it.
      std::atomic_ref<uint32_t>(track->underrun).store(1, std::memory_order_relaxed);
      const uint32_t at = s->last_write_cursor & ~3u;
      WriteSilence(s, at, 2 * s->chunk_bytes);
      s->write_offset = (at + 2 * s->chunk_bytes) % B;
      underrun = false;
      silenced = true;  // once per call, whatever the cursors claim
      continue;
    }
    if (free_bytes < s->chunk_bytes && (s->writable == 0 || free_bytes == 0)) return 0;
    s->writable = free_bytes;
    return s->writable ? 1 : 0;
  }
}

int DsGetBuffer(SoundTrack* track, void** buffer, uint32_t* size) {
  DsState* s = State(track);
  if (!s->sound_buffer || !Lock(s, s->write_offset % s->buffer_bytes, s->writable)) return 0;
  // Only the part up to the buffer's end: the rest comes after the next ready.
  *buffer = s->lock_ptr[0];
  *size = static_cast<uint32_t>(s->lock_len[0]);
  return s->lock_ptr[0] && s->lock_len[0] ? 1 : 0;
}

int DsSubmit(SoundTrack* track, uint32_t bytes) {
  DsState* s = State(track);
  if (!s->locked) return 0;
  if (bytes > s->lock_len[0]) bytes = static_cast<uint32_t>(s->lock_len[0]);
  s->write_offset = (s->write_offset + bytes) % s->buffer_bytes;
  s->writable = bytes < s->writable ? s->writable - bytes : 0;
  Unlock(s);
  if (!s->playing && s->writable == 0 && !s->paused) Start(s, true);
  return 1;
}

void DsSetVolume(SoundTrack* track, int32_t volume) {
  DsState* s = State(track);
  s->volume = volume < 0 ? 0u : volume > 32767 ? 32767u : static_cast<uint32_t>(volume);
  if (s->sound_buffer) ApplyFrequencyPanVolume(s);
}

void DsSetPan(SoundTrack* track, uint32_t pan) {
  DsState* s = State(track);
  s->pan_position = pan > 65536 ? 65536 : pan;
  if (s->sound_buffer) ApplyFrequencyPanVolume(s);
}

// The engine pauses without the sound mutex, while the sound thread may be
// feeding the same track: the driver takes the mutex itself.
int DsPause(SoundTrack* track, int on) {
  DsState* s = State(track);
  PlatformMutex* mutex = s->sound_mutex ? *s->sound_mutex : nullptr;
  if (mutex) MutexLock(mutex);
  int result = 0;
  if (on) {
    if (s->playing && s->sound_buffer) s->sound_buffer->Stop();
    s->paused = 1;
    result = 1;
  } else {
    if (s->sound_buffer && s->playing)
      Start(s, false);
    else if (s->sound_buffer && s->writable == 0)
      Start(s, true);
    s->paused = 0;
  }
  if (mutex) MutexUnlock(mutex);
  return result;
}

int DsSetOn(SoundTrack* track, int on) {
  DsState* s = State(track);
  if (on) {
    if (!track->device_on) {
      s->playing = 0;
      s->write_offset = 0;
      s->writable = s->prestart_bytes;
      track->device_on = 1;
    }
  } else if (track->device_on) {
    if (s->sound_buffer) {
      StopAndWait(s);
      s->sound_buffer->SetCurrentPosition(0);
      WriteSilence(s, 0, s->buffer_bytes);
    }
    s->playing = 0;
    track->device_on = 0;
  }
  return static_cast<int>(track->device_on);
}

// Stops the buffer, silences all of it and goes back to pre-filling from its
// head, as after open; a paused track stays paused.
void DsFlush(SoundTrack* track) {
  DsState* s = State(track);
  if (!s->sound_buffer) return;
  Unlock(s);
  if (s->playing) StopAndWait(s);
  s->sound_buffer->SetCurrentPosition(0);
  WriteSilence(s, 0, s->buffer_bytes);
  s->playing = 0;
  s->write_offset = 0;
  s->writable = s->prestart_bytes;
}

void DsClose(SoundTrack* track) {
  DsState* s = State(track);
  if (s->sound_buffer) {
    Unlock(s);
    s->sound_buffer->Stop();
    s->paused = 1;
    s->sound_buffer->Release();
    s->sound_buffer = nullptr;
    Release();
  }
  track->device_on = 0;
}

void DsSetChannels(SoundTrack* track, const uint32_t* channels, uint32_t count) {
  DsState* s = State(track);
  s->channel_count = channels ? (count < kMaxChannels ? count : kMaxChannels) : 0;
  for (uint32_t i = 0; i < s->channel_count; i++) s->channels[i] = channels[i];
}

void DsSetChannelLevels(SoundTrack* track, const uint32_t* channels, const uint32_t* levels,
                        uint32_t count) {
  DsSetChannels(track, levels ? channels : nullptr, count);
  DsState* s = State(track);
  for (uint32_t i = 0; i < s->channel_count; i++)
    s->channel_levels[i] = sm::DsAttenuation(levels[i]);
}

bool CreateSecondary(DsState* s) {
  DSBUFFERDESC desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY |
                 DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2;
  desc.dwBufferBytes = s->buffer_bytes;
  desc.lpwfxFormat = &s->format;
  return SUCCEEDED(g_ds.object->CreateSoundBuffer(&desc, &s->sound_buffer, nullptr)) &&
         s->sound_buffer;
}

int DsTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                const SoundTrackContext* context) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  if (!rate || (bits != 8 && bits != 16) || (channels != 1 && channels != 2)) return 0;
  DsState* s = new (track->driver_state) DsState{};
  if (!Acquire()) return 0;
  s->sound_mutex = context ? context->sound_mutex : nullptr;
  s->format.wFormatTag = WAVE_FORMAT_PCM;
  s->format.nChannels = static_cast<WORD>(channels);
  s->format.nSamplesPerSec = rate;
  s->format.wBitsPerSample = static_cast<WORD>(bits);
  s->format.nBlockAlign = static_cast<WORD>(bits / 8 * channels);
  s->format.nAvgBytesPerSec = rate * s->format.nBlockAlign;
  const uint32_t bps = sm::BytesPerSecond(rate, bits, channels);
  s->buffer_bytes = sm::DsBufferBytes(bps);
  s->chunk_bytes = sm::DsChunkBytes(bps);
  s->underrun_bytes = sm::DsUnderrunBytes(s->buffer_bytes);
  const uint32_t movie_sound_bytes =
      context ? sm::MovieSoundBytes(context->frames, context->rate_num, context->rate_den, bps,
                                    s->chunk_bytes)
              : s->chunk_bytes;
  // Whole sample frames, so that the pre-fill never splits one.
  const uint32_t prestart =
      movie_sound_bytes < s->buffer_bytes ? movie_sound_bytes : s->buffer_bytes;
  s->prestart_bytes = prestart - prestart % s->format.nBlockAlign;
  if (!s->prestart_bytes) s->prestart_bytes = s->format.nBlockAlign;
  s->stale_ms = sm::DSOUND_STALE_MS;
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  SetPrimaryFormat(&s->format);
  if (!CreateSecondary(s)) {
    s->sound_buffer = nullptr;
    Release();  // the object taken above goes back with the failed track
    return 0;
  }
  track->min_feed_bytes = s->chunk_bytes * (bits == 16 ? 1 : 2);
  track->volume_full = 32767;
  s->volume = s->pan_position = 32767;
  ApplyFrequencyPanVolume(s);
  WriteSilence(s, 0, s->buffer_bytes);
  s->playing = 0;
  s->paused = 0;
  s->write_offset = 0;
  s->writable = s->prestart_bytes;
  track->device_on = 1;
  track->ready = DsReady;
  track->get_buffer = DsGetBuffer;
  track->submit_buffer = DsSubmit;
  track->set_volume = DsSetVolume;
  track->set_pan = DsSetPan;
  track->pause = DsPause;
  track->set_on = DsSetOn;
  track->close = DsClose;
  track->set_channels = DsSetChannels;
  track->set_channel_levels = DsSetChannelLevels;
  track->flush = DsFlush;
  return 1;
}

bool LoadLibraryOnce() {
  if (g_ds.create) return true;
  // No "insert a disk" or missing-file boxes while probing for the library.
  const UINT old_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  g_ds.library = LoadLibraryA("DSOUND.DLL");
  SetErrorMode(old_mode);
  if (!g_ds.library) return false;
  g_ds.create = reinterpret_cast<DirectSoundCreateFn>(
      reinterpret_cast<void*>(GetProcAddress(g_ds.library, "DirectSoundCreate")));
  if (!g_ds.create) {
    FreeLibrary(g_ds.library);
    g_ds.library = nullptr;
  }
  return g_ds.create != nullptr;
}

}  // namespace

SoundTrackOpenFn SoundDirectSoundDriver(uint32_t parameter) {
  auto* supplied = reinterpret_cast<IDirectSound*>(static_cast<uintptr_t>(parameter));
  if (g_ds.users && supplied != (g_ds.owned ? nullptr : g_ds.object)) return nullptr;
  if (!g_ds.users) {
    g_ds.owned = supplied == nullptr;
    g_ds.object = supplied;
  }
  if (g_ds.owned && !LoadLibraryOnce()) return nullptr;
  if (!Acquire()) return nullptr;
  Release();
  return DsTrackOpen;
}

void SoundDirectSoundSetTimer(uint32_t (*timer)()) { g_timer = timer ? timer : TimerMs; }

void SoundDirectSoundUnload() {
  if (g_ds.users) return;
  if (g_ds.library) FreeLibrary(g_ds.library);
  g_ds.library = nullptr;
  g_ds.create = nullptr;
}

#endif  // _WIN32
