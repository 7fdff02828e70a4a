// A sound driver without a device: it accepts every track and never asks for
// data, so the engine still decodes each frame's audio into the track rings
// (the oldest bytes giving way). Used where sound must be decoded but not
// heard: headless checks, fuzzing, tests.
#pragma once
#include <cstdint>

#include "engine/sound_track.h"

SoundTrackOpenFn SoundSilentDriver(uint32_t parameter);
