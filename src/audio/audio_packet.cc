// Decoding one whole audio packet, shared by the engine's frame decoding and
// the tool that writes a track's sound to a file.
#include <cstring>

#include "audio/audio_decoder.h"
#include "audio/audio_decoder_record.h"

namespace {

// Hands `bytes` zero bytes to sink in pieces of the decoder's PCM buffer.
void SinkSilence(AudioDecoder* d, uint32_t bytes, AudioPcmSink sink, void* context) {
  std::memset(d->pcm, 0, d->block_bytes);
  while (bytes > 0) {
    const uint32_t piece = bytes < d->block_bytes ? bytes : d->block_bytes;
    sink(context, d->pcm, piece);
    bytes -= piece;
  }
}

}  // namespace

uint32_t AudioPacketDecodedBytes(const uint8_t* payload, const uint8_t* payload_end) {
  if (!payload || payload_end - payload < 4) return 0;
  return uint32_t{payload[0]} | uint32_t{payload[1]} << 8 | uint32_t{payload[2]} << 16 |
         uint32_t{payload[3]} << 24;
}

uint32_t AudioDecodePacket(AudioDecoder* d, const uint8_t* payload, const uint8_t* payload_end,
                           uint32_t silence_limit, AudioPcmSink sink, void* context) {
  const uint32_t wanted = AudioPacketDecodedBytes(payload, payload_end);
  if (wanted == 0) return 0;
  const uint8_t* in = payload + 4;
  uint32_t produced = 0;
  while (produced < wanted) {
    // A block that starts at the end reads only zero bits: all its
    // coefficients are 0, so it fades the held-back tail out and leaves a
    // silent tail behind. From then on every block is pure silence, which
    // needs no decoding and of which only silence_limit bytes matter.
    const bool exhausted = in >= payload_end;
    const AudioBlockOutput block = AudioDecodeBlock(d, in, payload_end);
    const uint32_t owed = wanted - produced;
    const uint32_t take = block.bytes < owed ? block.bytes : owed;
    sink(context, block.pcm, take);
    produced += take;
    in = block.next;
    if (exhausted && produced < wanted) {
      const uint32_t rest = wanted - produced;
      const uint32_t silence = rest < silence_limit ? rest : silence_limit;
      SinkSilence(d, silence, sink, context);
      return produced + silence;
    }
  }
  return produced;
}
