// Decodes coded audio blocks into signed 16-bit PCM.
#pragma once
#include <cstdint>

struct AudioDecoder;

// rate: the track's own sample rate; channels 1 or 2. Null when out of memory.
// The decoder is one EngineAlloc block; AudioDecoderClose frees it.
AudioDecoder* AudioDecoderOpen(uint32_t rate, uint32_t channels, int use_dct);
void AudioDecoderClose(AudioDecoder* decoder);

struct AudioBlockOutput {
  const int16_t* pcm;    // the decoder's buffer; valid until the next call
  uint32_t bytes;        // PCM bytes ready at pcm
  const uint8_t* next;   // input position after the block
};

// Decodes one block starting at input; never reads at or past input_end
// (missing bits read as zeros).
AudioBlockOutput AudioDecodeBlock(AudioDecoder* decoder, const uint8_t* input,
                                  const uint8_t* input_end);
