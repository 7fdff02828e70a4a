// The device calls of the two Windows sound drivers, replaceable so that the
// drivers' state logic can be driven against stand-in devices whose done
// flags, cursors and clock move by hand. Null restores the system's.
#pragma once
#ifdef _WIN32
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

struct WaveOutDevice {
  MMRESULT(WINAPI* open)(HWAVEOUT*, UINT, const WAVEFORMATEX*, DWORD_PTR, DWORD_PTR, DWORD);
  MMRESULT(WINAPI* prepare)(HWAVEOUT, WAVEHDR*, UINT);
  MMRESULT(WINAPI* unprepare)(HWAVEOUT, WAVEHDR*, UINT);
  MMRESULT(WINAPI* write)(HWAVEOUT, WAVEHDR*, UINT);
  MMRESULT(WINAPI* pause)(HWAVEOUT);
  MMRESULT(WINAPI* restart)(HWAVEOUT);
  MMRESULT(WINAPI* reset)(HWAVEOUT);
  MMRESULT(WINAPI* close)(HWAVEOUT);
  MMRESULT(WINAPI* set_volume)(HWAVEOUT, DWORD);
};
void SoundWaveOutSetDevice(const WaveOutDevice* device);

// The DirectSound driver's millisecond timer (cursor checks, stale time,
// start-up wait). The device itself is replaced by handing the driver entry
// an object of the caller's (its parameter).
void SoundDirectSoundSetTimer(uint32_t (*timer)());
#endif
