#include "sound/sound_silent.h"

#include <cstring>

namespace {

int SilentReady(SoundTrack*) { return 0; }
int SilentPause(SoundTrack*, int on) { return on; }
int SilentSetOn(SoundTrack* track, int on) {
  track->device_on = on ? 1 : 0;
  return track->device_on;
}
void SilentClose(SoundTrack* track) { track->device_on = 0; }
void SilentFlush(SoundTrack*) {}  // nothing is ever queued

int SilentTrackOpen(SoundTrack* track, uint32_t rate, uint32_t bits, uint32_t channels, uint32_t,
                    const SoundTrackContext*) {
  std::memset(static_cast<void*>(track), 0, sizeof(*track));
  track->ready = SilentReady;
  track->pause = SilentPause;
  track->set_on = SilentSetOn;
  track->close = SilentClose;
  track->flush = SilentFlush;
  track->device_on = 1;
  track->rate = rate;
  track->bits = bits;
  track->channels = channels;
  return 1;
}

}  // namespace

SoundTrackOpenFn SoundSilentDriver(uint32_t) { return SilentTrackOpen; }
