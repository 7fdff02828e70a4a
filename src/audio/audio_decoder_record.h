// The audio decoder's record and the constants of the audio block syntax,
// shared by the decoder, the encoder (src/writer) and the tests.
#pragma once
#include <cstdint>

#include "audio/audio_transform.h"

inline constexpr uint32_t AUDIO_BAND_EDGE_COUNT = 25;
// Critical band edges in Hz.
inline constexpr uint32_t AUDIO_BAND_EDGES[AUDIO_BAND_EDGE_COUNT] = {
    0,    100,  200,  300,  400,  510,  630,  770,  920,  1080, 1270,  1480, 1720,
    2000, 2320, 2700, 3150, 3700, 4400, 5300, 6400, 7700, 9500, 12000, 15500};
// Run lengths in units of 8 coefficients, chosen by a 4-bit code.
inline constexpr uint32_t AUDIO_RUN_LENGTHS[16] = {2,  3,  4,  5,  6,  8,  9,  10,
                                                   11, 12, 13, 14, 15, 16, 32, 64};
inline constexpr uint32_t AUDIO_MAX_BANDS = 25;
inline constexpr uint32_t AUDIO_MAX_TRANSFORM = 4096;

struct AudioDecoder {
  uint32_t transform_len;   // N: coefficients per coded channel
  float output_scale;       // 2 / sqrt(N)
  uint32_t block_bytes;     // PCM bytes one block decodes to
  uint32_t overlap_bytes;   // block_bytes / 16: the cross-faded, held-back tail
  uint32_t overlap_shift;   // log2(overlap_bytes / 2): the cross-fade divisor
  uint32_t channels;        // of the track
  uint32_t coded_channels;  // channels for DCT, 1 for RDFT
  uint32_t use_dct;
  uint32_t first_block;     // 1 until the first block has been decoded
  uint32_t band_count;      // at most 25
  int16_t* pcm;             // block_bytes
  int16_t* prev_tail;       // overlap_bytes
  uint32_t* band_edges;     // band_count + 1 edges, in pairs of coefficients
  float* scale_table;       // the 256 band scales 10^(q * 0.0664)
  float* coefficients;      // coded_channels * N working values
  uint32_t* transform_work;
  float* transform_table;
  AudioFftKernels kernels;  // set up at open for the owner's processor flags
};

// Frame length L (sample frames per block) for a sample rate.
uint32_t AudioFrameLength(uint32_t rate);
// Band layout for a coded signal of n coefficients at band rate band_rate
// (the rate, times the channels for RDFT): fills edges[0..count] and returns
// count.
uint32_t AudioBandLayout(uint32_t n, uint32_t band_rate, uint32_t edges[AUDIO_MAX_BANDS + 1]);
// The band scale an 8-bit q selects: 10^(q * 0.0664f), the power taken in
// extended precision and rounded to float.
float AudioBandScale(uint32_t q);
