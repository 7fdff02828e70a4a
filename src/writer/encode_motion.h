// Motion search: the offset (-15..15 each way) whose block of the previous
// plane best matches a source block. Every offset returned keeps the whole
// 8x8 source block inside the plane's decoded area, so the stream never
// relies on the decoder's handling of sources at or past the plane's edges.
#pragma once
#include <cstdint>

#include "writer/encode_records.h"

uint32_t BlockSad(const EncodeKernels& kernels, const uint8_t* a, uint32_t a_pitch,
                  const uint8_t* b, uint32_t b_pitch);

struct MotionSearchArgs {
  const uint8_t* source;  // the source block, `source_pitch` apart
  uint32_t source_pitch;
  const uint8_t* prev;    // previous plane, top-left sample
  uint32_t pitch;
  uint32_t x, y;          // block position in samples
  uint32_t width8, height8;
  const MotionVector* candidates;  // predictors worth trying first
  uint32_t candidate_count;
  // 0 every offset of the range; 1 every offset within 3 of the best
  // predictor, a coarse grid (and every offset near its best) and steps;
  // 2 every offset within 2 of the best predictor and steps, the grid only
  // when they match poorly; 3 predictors and steps.
  int mode = 1;
  // Prices of the offsets in bits (index value + 15) and what one bit is
  // worth in SAD; null prices charge a little per sample of displacement.
  const float* x_bits = nullptr;
  const float* y_bits = nullptr;
  float sad_per_bit = 0;
  const EncodeKernels* kernels = nullptr;  // the encoder's (must be set)
};

// The offset with the smallest SAD plus the price of its bits; *sad
// receives its SAD.
MotionVector MotionSearch(const MotionSearchArgs& args, uint32_t* sad);
