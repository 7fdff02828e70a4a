// The state logic of the two Windows sound drivers against stand-in devices:
// done flags (waveOut) and play/write cursors and a clock (DirectSound) that
// move only when the test moves them.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "sound/sound_devices_win32.h"
#include "sound/sound_driver_math.h"
#include "sound/sound_drivers.h"
#include "engine/sound_track.h"

#include <dsound.h>

namespace {

// What the drivers learn of a movie: its frame count and rate (no mutex).
std::unique_ptr<SoundTrackContext> MovieOf(uint32_t frames, uint32_t rate_num) {
  auto movie = std::make_unique<SoundTrackContext>();
  movie->frames = frames;
  movie->rate_num = rate_num;
  movie->rate_den = 1;
  return movie;
}

// ---- waveOut ---------------------------------------------------------------------------
struct FakeWaveOut {
  bool fail_open = false;
  WAVEFORMATEX format{};
  int opens = 0, closes = 0, resets = 0, pauses = 0, restarts = 0;
  int prepared = 0;                 // headers prepared and not unprepared
  std::vector<WAVEHDR*> headers;    // as prepared, in order
  std::vector<std::pair<int, DWORD>> writes;  // (header index, length)
  int Index(const WAVEHDR* h) const {
    for (size_t i = 0; i < headers.size(); i++)
      if (headers[i] == h) return static_cast<int>(i);
    return -1;
  }
  // The device finished playing header i.
  void Finish(int i) { headers[static_cast<size_t>(i)]->dwFlags |= WHDR_DONE; }
};
FakeWaveOut* g_wave;
HWAVEOUT const kHandle = reinterpret_cast<HWAVEOUT>(uintptr_t{0x5150});

MMRESULT WINAPI WaveOpen(HWAVEOUT* out, UINT, const WAVEFORMATEX* format, DWORD_PTR, DWORD_PTR,
                         DWORD) {
  if (g_wave->fail_open) return MMSYSERR_ALLOCATED;
  g_wave->format = *format;
  g_wave->opens++;
  g_wave->headers.clear();
  *out = kHandle;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI WavePrepare(HWAVEOUT, WAVEHDR* h, UINT) {
  g_wave->headers.push_back(h);
  g_wave->prepared++;
  h->dwFlags |= WHDR_PREPARED;
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI WaveUnprepare(HWAVEOUT, WAVEHDR* h, UINT) {
  g_wave->prepared--;
  h->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI WaveWrite(HWAVEOUT, WAVEHDR* h, UINT) {
  EXPECT_FALSE(h->dwFlags & WHDR_DONE) << "a header written with its done flag set";
  g_wave->writes.push_back({g_wave->Index(h), h->dwBufferLength});
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI WavePause(HWAVEOUT) { return g_wave->pauses++, MMSYSERR_NOERROR; }
MMRESULT WINAPI WaveRestart(HWAVEOUT) { return g_wave->restarts++, MMSYSERR_NOERROR; }
MMRESULT WINAPI WaveReset(HWAVEOUT) {
  g_wave->resets++;
  for (WAVEHDR* h : g_wave->headers) h->dwFlags |= WHDR_DONE;  // everything given back
  return MMSYSERR_NOERROR;
}
MMRESULT WINAPI WaveClose(HWAVEOUT) { return g_wave->closes++, MMSYSERR_NOERROR; }
MMRESULT WINAPI WaveVolume(HWAVEOUT, DWORD) { return MMSYSERR_NOERROR; }
constexpr WaveOutDevice kFakeWaveOut = {WaveOpen,  WavePrepare, WaveUnprepare, WaveWrite, WavePause,
                                        WaveRestart, WaveReset, WaveClose,     WaveVolume};

class WaveOutStates : public ::testing::Test {
 protected:
  void SetUp() override {
    g_wave = &device;
    SoundWaveOutSetDevice(&kFakeWaveOut);
    open = SoundWaveOutDriver(0);
  }
  void TearDown() override {
    if (track.close) track.close(&track);
    SoundWaveOutSetDevice(nullptr);
    g_wave = nullptr;
  }
  // One buffer handed over the way SoundService does: ready, get, fill, submit.
  int Feed(uint32_t bytes = 0) {
    if (!track.ready(&track)) return -1;
    void* buffer = nullptr;
    uint32_t size = 0;
    if (!track.get_buffer(&track, &buffer, &size)) return -2;
    std::memset(buffer, 0x22, size);
    EXPECT_TRUE(track.submit_buffer(&track, bytes ? bytes : size));
    return static_cast<int>(size);
  }
  std::vector<int> Written() const {
    std::vector<int> order;
    for (auto& w : device.writes) order.push_back(w.first);
    return order;
  }

  FakeWaveOut device;
  SoundTrack track{};
  SoundTrackOpenFn open = nullptr;
  std::unique_ptr<SoundTrackContext> movie = MovieOf(300, 30);  // 10 s of sound
};

TEST_F(WaveOutStates, OpensSixteenSilentBuffersFreeForUse) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  EXPECT_EQ(device.format.nSamplesPerSec, 22050u);
  EXPECT_EQ(device.format.nBlockAlign, 4);
  EXPECT_EQ(device.format.nAvgBytesPerSec, 88200u);
  ASSERT_EQ(device.headers.size(), 16u);
  for (WAVEHDR* h : device.headers) {
    EXPECT_TRUE(h->dwFlags & WHDR_DONE);
    EXPECT_EQ(h->dwBufferLength, 5536u);
    EXPECT_EQ(static_cast<uint8_t>(h->lpData[100]), 0);
  }
  EXPECT_EQ(track.min_feed_bytes, 5536u);
  EXPECT_EQ(track.device_on, 1u);
  SoundTrack eight{};
  ASSERT_TRUE(open(&eight, 11025, 8, 1, 0, movie.get()));
  EXPECT_EQ(eight.min_feed_bytes, 1408u) << "counted in 16-bit bytes";
  EXPECT_EQ(static_cast<uint8_t>(device.headers[3]->lpData[0]), 128) << "8-bit silence";
  eight.close(&eight);
}

TEST_F(WaveOutStates, QueuesHalfASecondThenWritesInOrderAndEachLaterBufferAtOnce) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  for (int i = 0; i < 7; i++) ASSERT_EQ(Feed(), 5536);
  EXPECT_TRUE(device.writes.empty()) << "7 buffers are less than half a second";
  ASSERT_EQ(Feed(), 5536);  // 8 x 5536 >= 44128
  EXPECT_EQ(Written(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  for (auto& w : device.writes) EXPECT_EQ(w.second, 5536u);
  ASSERT_EQ(Feed(3000), 5536);
  EXPECT_EQ(device.writes.back(), (std::pair<int, DWORD>{8, 3000})) << "a short buffer plays short";
  for (int i = 9; i < 16; i++) ASSERT_EQ(Feed(), 5536);
  // Every buffer is with the device: nothing to offer until one comes back.
  EXPECT_EQ(track.ready(&track), 0);
  device.Finish(2);
  ASSERT_EQ(Feed(), 5536);
  EXPECT_EQ(device.writes.back().first, 2) << "the lowest free buffer when the next is busy";
  device.Finish(0);
  ASSERT_EQ(Feed(), 5536);
  EXPECT_EQ(device.writes.back().first, 0);
  EXPECT_EQ(track.underrun, 0u);
}

TEST_F(WaveOutStates, AllBuffersDrainedIsAnUnderrunAndAFreshQueue) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  for (int i = 0; i < 8; i++) Feed();
  ASSERT_EQ(device.writes.size(), 8u);
  for (int i = 0; i < 16; i++) device.Finish(i);
  ASSERT_EQ(Feed(), 5536);
  EXPECT_EQ(track.underrun, 1u);
  EXPECT_EQ(device.writes.size(), 8u) << "queuing again: nothing written yet";
  for (int i = 0; i < 7; i++) Feed();
  EXPECT_EQ(Written(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2, 3, 4, 5, 6, 7}))
      << "the fresh queue starts at buffer 0";
}

TEST_F(WaveOutStates, ShortMovieStartsOnceAllItsSoundIsQueued) {
  movie = MovieOf(10, 30);  // 1/3 s: 29 400 bytes
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  for (int i = 0; i < 5; i++) Feed();
  EXPECT_TRUE(device.writes.empty());
  Feed();
  EXPECT_EQ(device.writes.size(), 6u);
}

TEST_F(WaveOutStates, PauseHoldsTheDeviceAndOffersNothing) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  EXPECT_EQ(track.pause(&track, 1), 1);
  EXPECT_EQ(device.pauses, 1);
  EXPECT_EQ(track.ready(&track), 0);
  EXPECT_EQ(track.pause(&track, 0), 0);
  EXPECT_EQ(device.restarts, 1);
  EXPECT_EQ(track.ready(&track), 1);
}

TEST_F(WaveOutStates, SwitchingOffClosesTheDeviceAndOnOpensItAgain) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  for (int i = 0; i < 9; i++) Feed();
  EXPECT_EQ(track.set_on(&track, 0), 0);
  EXPECT_EQ(device.resets, 1);
  EXPECT_EQ(device.closes, 1);
  EXPECT_EQ(device.prepared, 0) << "every header unprepared";
  EXPECT_EQ(track.ready(&track), 0);
  void* buffer = nullptr;
  uint32_t size = 0;
  EXPECT_EQ(track.get_buffer(&track, &buffer, &size), 0) << "no buffer of a closed device";
  EXPECT_EQ(track.set_on(&track, 0), 0);
  EXPECT_EQ(device.closes, 1) << "off twice changes nothing";
  EXPECT_EQ(track.set_on(&track, 1), 1);
  EXPECT_EQ(track.set_on(&track, 1), 1);
  EXPECT_EQ(device.opens, 2) << "on twice opens once";
  device.writes.clear();
  for (int i = 0; i < 8; i++) Feed();
  EXPECT_EQ(Written(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
  // A device that cannot be opened again keeps the track silent.
  EXPECT_EQ(track.set_on(&track, 0), 0);
  device.fail_open = true;
  EXPECT_EQ(track.set_on(&track, 1), 0);
  EXPECT_EQ(track.ready(&track), 0);
}

TEST_F(WaveOutStates, FlushTakesEverythingBackAndQueuesAfresh) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  for (int i = 0; i < 10; i++) Feed();
  track.pause(&track, 1);
  track.flush(&track);
  EXPECT_EQ(device.resets, 1);
  EXPECT_EQ(device.pauses, 2) << "a paused track stays paused after the reset";
  EXPECT_TRUE(device.headers[9]->lpData[0] == 0) << "the buffers hold silence again";
  track.pause(&track, 0);
  device.writes.clear();
  for (int i = 0; i < 8; i++) Feed();
  EXPECT_EQ(Written(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7})) << "held back, from buffer 0";
  EXPECT_EQ(track.underrun, 0u);
}

TEST_F(WaveOutStates, DeviceThatCannotOpenFailsTheTrack) {
  device.fail_open = true;
  EXPECT_EQ(open(&track, 22050, 16, 2, 0, movie.get()), 0);
  EXPECT_EQ(device.prepared, 0);
  track.close = nullptr;  // nothing to close
}

TEST_F(WaveOutStates, CloseGivesEverythingBack) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  for (int i = 0; i < 10; i++) Feed();
  track.close(&track);
  track.close = nullptr;
  EXPECT_EQ(device.resets, 1);
  EXPECT_EQ(device.prepared, 0);
  EXPECT_EQ(device.closes, 1);
}

// ---- DirectSound -------------------------------------------------------------------------
uint32_t g_now = 1000;
uint32_t FakeNow() { return g_now; }

// A looping buffer whose play cursor moves by hand; the write cursor runs
// write_gap bytes ahead of it. Once started, the device has moved 4 bytes by
// its second position reading (a started buffer is seen to run).
class FakeBuffer : public IDirectSoundBuffer {
 public:
  explicit FakeBuffer(DWORD bytes) : memory(bytes, 0x55) {}
  std::vector<uint8_t> memory;
  ULONG refs = 1;
  bool playing = false;
  DWORD play = 0, write_gap = 2048;
  int reads_since_play = 0, plays = 0, stops = 0, restores = 0, lose_next_locks = 0;
  LONG volume = 1, pan = 1;
  DWORD frequency = 0;
  bool locked = false;

  STDMETHOD_(HRESULT, QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHOD_(ULONG, AddRef)() override { return ++refs; }
  STDMETHOD_(ULONG, Release)() override { return --refs; }
  STDMETHOD(GetCaps)(LPDSBCAPS) override { return E_NOTIMPL; }
  STDMETHOD(GetCurrentPosition)(LPDWORD p, LPDWORD w) override {
    if (playing && ++reads_since_play == 2) play = (play + 4) % Size();
    if (p) *p = play;
    if (w) *w = (play + write_gap) % Size();
    return DS_OK;
  }
  STDMETHOD(GetFormat)(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
  STDMETHOD(GetVolume)(LPLONG v) override { return *v = volume, DS_OK; }
  STDMETHOD(GetPan)(LPLONG p) override { return *p = pan, DS_OK; }
  STDMETHOD(GetFrequency)(LPDWORD f) override { return *f = frequency, DS_OK; }
  STDMETHOD(GetStatus)(LPDWORD status) override {
    *status = playing ? DSBSTATUS_PLAYING | DSBSTATUS_LOOPING : 0;
    return DS_OK;
  }
  STDMETHOD(Initialize)(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return DSERR_ALREADYINITIALIZED; }
  STDMETHOD(Lock)(DWORD offset, DWORD bytes, LPVOID* p1, LPDWORD n1, LPVOID* p2, LPDWORD n2,
                  DWORD) override {
    if (lose_next_locks > 0) return lose_next_locks--, DSERR_BUFFERLOST;
    EXPECT_FALSE(locked) << "locked twice";
    if (offset >= Size() || bytes > Size()) return DSERR_INVALIDPARAM;
    locked = true;
    const DWORD first = bytes < Size() - offset ? bytes : Size() - offset;
    *p1 = memory.data() + offset;
    *n1 = first;
    if (p2) *p2 = bytes > first ? memory.data() : nullptr;
    if (n2) *n2 = bytes - first;
    return DS_OK;
  }
  STDMETHOD(Play)(DWORD, DWORD, DWORD) override {
    if (!playing) reads_since_play = 0;
    playing = true;
    plays++;
    return DS_OK;
  }
  STDMETHOD(SetCurrentPosition)(DWORD at) override { return play = at, DS_OK; }
  STDMETHOD(SetFormat)(LPCWAVEFORMATEX) override { return DSERR_INVALIDCALL; }
  STDMETHOD(SetVolume)(LONG v) override { return volume = v, DS_OK; }
  STDMETHOD(SetPan)(LONG p) override { return pan = p, DS_OK; }
  STDMETHOD(SetFrequency)(DWORD f) override { return frequency = f, DS_OK; }
  STDMETHOD(Stop)() override { return playing = false, stops++, DS_OK; }
  STDMETHOD(Unlock)(LPVOID, DWORD, LPVOID, DWORD) override { return locked = false, DS_OK; }
  STDMETHOD(Restore)() override { return restores++, DS_OK; }

  DWORD Size() const { return static_cast<DWORD>(memory.size()); }
  // Moves the device on by bytes (wrapping), as playing would.
  void Advance(DWORD bytes) { play = (play + bytes) % Size(); }
  bool AllOf(DWORD from, DWORD bytes, uint8_t value) const {
    for (DWORD i = 0; i < bytes; i++)
      if (memory[(from + i) % Size()] != value) return false;
    return true;
  }
};

class FakeDirectSound : public IDirectSound {
 public:
  std::unique_ptr<FakeBuffer> buffer;
  DSBUFFERDESC desc{};
  WAVEFORMATEX format{};
  bool fail_create = false;

  STDMETHOD_(HRESULT, QueryInterface)(REFIID, void**) override { return E_NOINTERFACE; }
  STDMETHOD_(ULONG, AddRef)() override { return 2; }
  STDMETHOD_(ULONG, Release)() override { return 1; }
  STDMETHOD(CreateSoundBuffer)(LPCDSBUFFERDESC d, LPDIRECTSOUNDBUFFER* out, IUnknown*) override {
    if (fail_create || (d->dwFlags & DSBCAPS_PRIMARYBUFFER)) return DSERR_INVALIDPARAM;
    desc = *d;
    format = *d->lpwfxFormat;
    buffer = std::make_unique<FakeBuffer>(d->dwBufferBytes);
    *out = buffer.get();
    return DS_OK;
  }
  STDMETHOD(GetCaps)(LPDSCAPS) override { return E_NOTIMPL; }
  STDMETHOD(DuplicateSoundBuffer)(LPDIRECTSOUNDBUFFER, LPDIRECTSOUNDBUFFER*) override {
    return E_NOTIMPL;
  }
  STDMETHOD(SetCooperativeLevel)(HWND, DWORD) override { return DS_OK; }
  STDMETHOD(Compact)() override { return DS_OK; }
  STDMETHOD(GetSpeakerConfig)(LPDWORD) override { return E_NOTIMPL; }
  STDMETHOD(SetSpeakerConfig)(DWORD) override { return E_NOTIMPL; }
  STDMETHOD(Initialize)(LPCGUID) override { return DSERR_ALREADYINITIALIZED; }
};

// 22050 Hz stereo 16-bit: a buffer of 53 248 bytes, chunks of 4608, an
// underrun when 47 923 bytes lie free.
constexpr uint32_t kBuffer = 53248, kChunk = 4608;

class DirectSoundStates : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now = 1000;
    SoundDirectSoundSetTimer(FakeNow);
    open = SoundDirectSoundDriver(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(
        static_cast<IDirectSound*>(&ds))));
    ASSERT_NE(open, nullptr);
  }
  void TearDown() override {
    if (track.close) track.close(&track);
    SoundDirectSoundSetTimer(nullptr);
  }
  FakeBuffer& Buffer() { return *ds.buffer; }
  // ready, get, fill with 0x22, submit all: the bytes handed over, or -1 when not ready.
  int Feed() {
    if (!track.ready(&track)) return -1;
    void* buffer = nullptr;
    uint32_t size = 0;
    if (!track.get_buffer(&track, &buffer, &size)) return -2;
    std::memset(buffer, 0x22, size);
    EXPECT_TRUE(track.submit_buffer(&track, size));
    return static_cast<int>(size);
  }
  // Opens and pre-fills the whole buffer, which starts it.
  void OpenAndStart() {
    ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
    ASSERT_EQ(Feed(), static_cast<int>(kBuffer));
    ASSERT_TRUE(Buffer().playing);
  }
  // Time passes and the device plays on by bytes.
  void Play(uint32_t ms, DWORD bytes) {
    g_now += ms;
    Buffer().Advance(bytes);
  }

  FakeDirectSound ds;
  SoundTrack track{};
  SoundTrackOpenFn open = nullptr;
  std::unique_ptr<SoundTrackContext> movie = MovieOf(300, 30);
};

TEST_F(DirectSoundStates, OpensASilentLoopingBufferOfSixTenthsOfASecond) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  EXPECT_EQ(ds.desc.dwBufferBytes, kBuffer);
  EXPECT_TRUE(ds.desc.dwFlags & DSBCAPS_GETCURRENTPOSITION2);
  EXPECT_TRUE(ds.desc.dwFlags & DSBCAPS_GLOBALFOCUS);
  EXPECT_EQ(ds.format.nAvgBytesPerSec, 88200u);
  EXPECT_TRUE(Buffer().AllOf(0, kBuffer, 0)) << "filled with silence";
  EXPECT_EQ(Buffer().frequency, 22050u);
  EXPECT_EQ(Buffer().volume, 0);
  EXPECT_EQ(Buffer().pan, 0);
  EXPECT_EQ(track.min_feed_bytes, kChunk);
  EXPECT_FALSE(Buffer().playing);
  track.close(&track);
  SoundTrack eight{};
  ASSERT_TRUE(open(&eight, 11025, 8, 1, 0, movie.get()));
  EXPECT_TRUE(Buffer().AllOf(0, Buffer().Size(), 128)) << "8-bit silence";
  EXPECT_EQ(eight.min_feed_bytes, 2 * sound_math::DsChunkBytes(11025));
  eight.close(&eight);
  track.close = nullptr;
}

TEST_F(DirectSoundStates, PreFillsThenStartsFromTheHead) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  EXPECT_EQ(track.ready(&track), 1) << "pre-filling";
  ASSERT_EQ(Feed(), static_cast<int>(kBuffer)) << "the whole buffer is offered first";
  EXPECT_TRUE(Buffer().playing);
  EXPECT_EQ(Buffer().plays, 1);
  EXPECT_TRUE(Buffer().AllOf(0, kBuffer, 0x22));
}

TEST_F(DirectSoundStates, WritesBehindThePlayCursorKeepingAGap) {
  OpenAndStart();
  EXPECT_EQ(track.ready(&track), 0) << "no time has passed: nothing is free";
  Play(20, 8192);  // the cursor stands at 8196
  ASSERT_EQ(Feed(), 8196 - 1024);
  Play(20, 1000);  // 1000 more bytes free: less than a chunk
  EXPECT_EQ(track.ready(&track), 0);
  Play(5, 4000);  // within 12 ms of the last check: the cursors are not read
  EXPECT_EQ(track.ready(&track), 0);
  g_now += 10;
  EXPECT_EQ(Feed(), 5000);
  EXPECT_EQ(track.underrun, 0u);
  EXPECT_TRUE(Buffer().AllOf(0, 12172, 0x22));
}

TEST_F(DirectSoundStates, CursorFarAheadIsAnUnderrunWithSilenceAhead) {
  OpenAndStart();
  Play(20, 8192);
  ASSERT_EQ(Feed(), 7172);  // written up to 7172
  Play(400, 49000);         // the device has played past almost all of it
  const DWORD write_cursor = (Buffer().play + Buffer().write_gap) % kBuffer;
  EXPECT_EQ(track.ready(&track), 1);
  EXPECT_EQ(track.underrun, 1u);
  EXPECT_TRUE(Buffer().AllOf(write_cursor, 2 * kChunk, 0)) << "silence ahead of the device";
  void* buffer = nullptr;
  uint32_t size = 0;
  ASSERT_TRUE(track.get_buffer(&track, &buffer, &size));
  EXPECT_EQ(static_cast<uint8_t*>(buffer) - Buffer().memory.data(),
            static_cast<ptrdiff_t>((write_cursor + 2 * kChunk) % kBuffer))
      << "writing goes on behind the silence";
  track.submit_buffer(&track, 0);
}

TEST_F(DirectSoundStates, NobodyLookingForMoreThan540MsIsAnUnderrun) {
  OpenAndStart();
  Play(539, 4);
  track.ready(&track);
  EXPECT_EQ(track.underrun, 0u);
  Play(540, 4);
  track.ready(&track);
  EXPECT_EQ(track.underrun, 1u);
}

TEST_F(DirectSoundStates, InconsistentCursorsAreNotTrusted) {
  OpenAndStart();
  Play(20, 1000);
  Buffer().write_gap += 30000;  // the write cursor jumps, the play cursor does not
  EXPECT_EQ(track.ready(&track), 0);
  EXPECT_EQ(track.underrun, 0u);
}

TEST_F(DirectSoundStates, PauseStopsAndResumesWhereItStood) {
  OpenAndStart();
  EXPECT_EQ(track.pause(&track, 1), 1);
  EXPECT_FALSE(Buffer().playing);
  EXPECT_EQ(track.ready(&track), 0);
  Buffer().play = 20000;
  EXPECT_EQ(track.pause(&track, 0), 0);
  EXPECT_TRUE(Buffer().playing);
  EXPECT_GE(Buffer().play, 20000u) << "no rewind to the head";
  EXPECT_LT(Buffer().play, 20000u + kChunk);
  // Paused during the pre-fill, resuming does not start a half-filled buffer.
  track.close(&track);
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  track.pause(&track, 1);
  track.pause(&track, 0);
  EXPECT_FALSE(Buffer().playing);
}

TEST_F(DirectSoundStates, OffSilencesAndRewindsOnPreFillsAgain) {
  OpenAndStart();
  Play(20, 8192);
  Feed();
  EXPECT_EQ(track.set_on(&track, 0), 0);
  EXPECT_FALSE(Buffer().playing);
  EXPECT_EQ(Buffer().play, 0u);
  EXPECT_TRUE(Buffer().AllOf(0, kBuffer, 0));
  EXPECT_EQ(track.ready(&track), 0);
  EXPECT_EQ(track.set_on(&track, 1), 1);
  EXPECT_EQ(Feed(), static_cast<int>(kBuffer)) << "the pre-fill again, from the head";
  EXPECT_TRUE(Buffer().playing);
  EXPECT_EQ(Buffer().plays, 2);
}

TEST_F(DirectSoundStates, FlushRewindsSilencesAndPreFillsAgain) {
  OpenAndStart();
  Play(20, 8192);
  Feed();
  track.flush(&track);
  EXPECT_FALSE(Buffer().playing);
  EXPECT_EQ(Buffer().play, 0u);
  EXPECT_TRUE(Buffer().AllOf(0, kBuffer, 0));
  EXPECT_EQ(track.device_on, 1u);
  EXPECT_EQ(Feed(), static_cast<int>(kBuffer));
  EXPECT_TRUE(Buffer().playing);
}

TEST_F(DirectSoundStates, LostBufferIsRestoredAndTheLockRetried) {
  ASSERT_TRUE(open(&track, 22050, 16, 2, 0, movie.get()));
  Buffer().lose_next_locks = 2;
  EXPECT_EQ(Feed(), static_cast<int>(kBuffer));
  EXPECT_EQ(Buffer().restores, 2);
}

TEST_F(DirectSoundStates, BufferThatCannotBeMadeFailsTheTrack) {
  ds.fail_create = true;
  EXPECT_EQ(open(&track, 22050, 16, 2, 0, movie.get()), 0);
  track.close = nullptr;
  // The object's user count went back: another supplied object is accepted.
  FakeDirectSound other;
  EXPECT_NE(SoundDirectSoundDriver(static_cast<uint32_t>(
                reinterpret_cast<uintptr_t>(static_cast<IDirectSound*>(&other)))),
            nullptr);
}

TEST_F(DirectSoundStates, CloseStopsAndReleasesTheBuffer) {
  OpenAndStart();
  track.close(&track);
  track.close = nullptr;
  EXPECT_FALSE(Buffer().playing);
  EXPECT_EQ(Buffer().refs, 0u);
  EXPECT_EQ(track.device_on, 0u);
}

}  // namespace
#endif  // _WIN32
