// The sound drivers that reach a real device. Hand one of the entries to
// SoundDriverSelect once at start (parameter 0): the waveOut driver with the
// player's /Z switch, the DirectSound driver otherwise. Both exist only in the
// Windows build; elsewhere movies play with SoundSilentDriver or none.
#pragma once
#include <cstdint>

#include "engine/sound_track.h"

#ifdef _WIN32
// Ignores its parameter; returns WaveOutTrackOpen.
SoundTrackOpenFn SoundWaveOutDriver(uint32_t parameter);
// parameter: an IDirectSound* supplied by a host, or 0 for the driver's own
// object (loaded from DSOUND.DLL). Null when DirectSound is not available.
SoundTrackOpenFn SoundDirectSoundDriver(uint32_t parameter);
// Releases the library once no track uses DirectSound any more (process end).
void SoundDirectSoundUnload();
#endif
