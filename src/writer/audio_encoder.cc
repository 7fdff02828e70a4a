#include "writer/audio_encoder.h"

// Interface first; the coding lands in the next commit.
struct AudioEncoder {
  uint32_t rate, channels;
  bool use_dct;
  int quality;
};

AudioEncoder* AudioEncoderOpen(uint32_t rate, uint32_t channels, bool use_dct, int quality) {
  if (rate == 0 || rate > 65535 || channels < 1 || channels > 2) return nullptr;
  return new AudioEncoder{rate, channels, use_dct, quality};
}
void AudioEncoderClose(AudioEncoder* encoder) { delete encoder; }
uint32_t AudioEncoderBlockFrames(const AudioEncoder*) { return 0; }
uint32_t AudioEncoderFramesForVideoFrame(const AudioEncoder*, uint32_t, uint32_t, uint32_t) { return 0; }
uint32_t AudioEncoderTrackFormat(const AudioEncoder*, bool) { return 0; }
std::vector<uint8_t> AudioEncodePacket(AudioEncoder*, const int16_t*, uint32_t, const int16_t*, uint32_t) {
  return {};
}
