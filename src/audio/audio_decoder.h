// Decodes coded audio blocks into signed 16-bit PCM.
#pragma once
#include <cstdint>

struct AudioDecoder;

// rate: the track's own sample rate (1..65535); channels 1 or 2. Null when
// out of memory or for anything else (no track can be played with it).
// The decoder is one block of the memory functions below; AudioDecoderClose
// frees it.
// cpu_flags: the processor features its kernels may use (CpuKernelFlags).
AudioDecoder* AudioDecoderOpen(uint32_t rate, uint32_t channels, int use_dct, uint32_t cpu_flags);
void AudioDecoderClose(AudioDecoder* decoder);
// Forgets the previous block: the next block is output without cross-fade,
// as the first block after open is (a seek starts the sound afresh).
void AudioDecoderReset(AudioDecoder* decoder);

struct AudioBlockOutput {
  const int16_t* pcm;    // the decoder's buffer; valid until the next call
  uint32_t bytes;        // PCM bytes ready at pcm
  const uint8_t* next;   // input position after the block
};

// Decodes one block starting at input; never reads at or past input_end
// (missing bits read as zeros). A block that runs past input_end reports
// next = input_end (next = input when input is already at the end).
// Allocates nothing.
AudioBlockOutput AudioDecodeBlock(AudioDecoder* decoder, const uint8_t* input,
                                  const uint8_t* input_end);

// ---- Whole packets -------------------------------------------------------------
// Receives each decoded block's PCM in order; bytes is never 0 and is even
// except for the last piece of a packet whose decoded_bytes is odd.
using AudioPcmSink = void (*)(void* context, const int16_t* pcm, uint32_t bytes);

// Decodes one audio packet payload (the decoded_bytes word, then blocks) the
// way the engine consumes it: blocks one after another until decoded_bytes
// bytes went to sink, the last block cut to the bytes still owed. Returns the
// bytes handed to sink. A payload shorter than 4 bytes decodes to nothing.
//
// Once the coded blocks are used up every further block decodes to silence;
// only the last silence_limit bytes of such a run are produced (the engine
// passes its ring size: more silence could not change what the ring holds).
// Returns decoded_bytes, or less when that limit cut the silence.
uint32_t AudioDecodePacket(AudioDecoder* decoder, const uint8_t* payload,
                           const uint8_t* payload_end, uint32_t silence_limit,
                           AudioPcmSink sink, void* context);
// The decoded_bytes word of a payload (0 when shorter than 4 bytes).
uint32_t AudioPacketDecodedBytes(const uint8_t* payload, const uint8_t* payload_end);

// ---- Memory ------------------------------------------------------------------------
// The decoder is one block from these functions: by default a 32-byte-aligned
// block of the C heap; the engine installs EngineAlloc/EngineFree at start-up
// so decoders are counted with the rest of a movie's memory.
using AudioAllocFunction = void* (*)(uint32_t size);
using AudioFreeFunction = void (*)(void* block);
void AudioSetMemoryFunctions(AudioAllocFunction alloc, AudioFreeFunction free);
// Bytes AudioDecoderOpen asks for with these arguments (0 = unsupported).
uint32_t AudioDecoderMemorySize(uint32_t rate, uint32_t channels, int use_dct);
