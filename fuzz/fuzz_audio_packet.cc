// One audio packet payload against each track kind: the first input byte
// picks the rate, channel count and transform variant; the rest is decoded
// block after block the way the engine consumes a packet.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/audio_decoder.h"
#include "platform/cpu.h"

namespace {

constexpr uint32_t kRates[] = {11025, 22050, 44100, 8000, 48000, 32000, 1, 65535};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t kind = data[0];
  const uint32_t rate = kRates[kind & 7];
  const uint32_t channels = (kind & 8) ? 2 : 1;
  const int use_dct = (kind & 16) ? 1 : 0;
  AudioDecoder* decoder = AudioDecoderOpen(rate, channels, use_dct, CpuFeatures());
  if (!decoder) return 0;
  std::vector<uint8_t> packet(data + 1, data + size);
  const uint8_t* in = packet.data();
  const uint8_t* end = in + packet.size();
  // A real packet ends when its decoded bytes are produced; here a bounded
  // number of blocks stands in for that, and every block must move forward.
  for (int block = 0; block < 64 && in < end; block++) {
    AudioBlockOutput out = AudioDecodeBlock(decoder, in, end);
    volatile int16_t sink = 0;
    for (uint32_t i = 0; i < out.bytes / 2; i++) sink = sink + out.pcm[i];
    if (out.next <= in) break;
    in = out.next;
  }
  AudioDecoderClose(decoder);
  return 0;
}
