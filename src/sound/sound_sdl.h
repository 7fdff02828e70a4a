// The SDL2 audio driver (POSIX builds with SDL2): one audio device per
// track, pulled by SDL's own thread through a SoundQueue.
#pragma once
#include "engine/sound_track.h"

// Ignores its parameter. Starts SDL's audio and checks that a device opens;
// null (with the reason in SoundSdlLastError) when there is none.
SoundTrackOpenFn SoundSdlDriver(uint32_t parameter);
// Why the driver or the last track open failed.
const char* SoundSdlLastError();
// SDL's audio back end in use ("pulseaudio", "pipewire", ...), or "none".
const char* SoundSdlBackendName();
