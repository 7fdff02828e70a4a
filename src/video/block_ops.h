// Block writes and copies of the plane decoder. Every function writes exactly
// the 8x8 block (16x16 for the doubled forms) at dest, row by row `pitch`
// bytes apart; sources are read from the previous plane only.
#pragma once
#include <cstdint>

// 8 rows of 8 samples from src.
void CopyBlock(uint8_t* dest, const uint8_t* src, uint32_t pitch);
// The offset in a plane of `plane_bytes` of the block at block_offset moved by
// x samples and y lines. Moving past a line's end continues on the
// neighbouring line, as the stream expects; a source reaching above the first
// or below the last line of the plane is clamped to the nearest offset whose
// 8x8 block lies within it.
uint32_t MotionSource(uint32_t block_offset, int32_t x, int32_t y, uint32_t pitch,
                      uint32_t plane_bytes);
// The 8x8 samples at src as 64 bytes in rows.
void PredictBlock(const uint8_t* src, uint32_t pitch, uint8_t prediction[64]);

void FillBlock(uint8_t* dest, uint32_t pitch, uint8_t colour);
// Sample (y, x) is c1 where bit x of pattern[y] is set, else c0.
void PatternBlock(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1, const uint8_t pattern[8]);
// 64 samples in rows; RawBlock is the same write for a raw block's colours.
void PutBlock(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]);
inline void RawBlock(uint8_t* dest, uint32_t pitch, const uint8_t colours[64]) {
  PutBlock(dest, pitch, colours);
}

// Doubled forms: sample (i, j) of the 8x8 result covers rows 2i, 2i+1 and
// columns 2j, 2j+1 of the 16x16 area at dest.
void FillBlockDoubled(uint8_t* dest, uint32_t pitch, uint8_t colour);
void PatternBlockDoubled(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1,
                         const uint8_t pattern[8]);
void PutBlockDoubled(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]);
inline void RawBlockDoubled(uint8_t* dest, uint32_t pitch, const uint8_t colours[64]) {
  PutBlockDoubled(dest, pitch, colours);
}

// 8x8 result of a pattern block as 64 bytes in rows (for doubled blocks that
// must be clipped at a plane's edge).
void PatternSamples(uint8_t c0, uint8_t c1, const uint8_t pattern[8], uint8_t out[64]);

// The block writes the plane decoder calls per block, as a kernel family
// (see platform/cpu.h): the functions above, upgraded per processor by
// BlockKernelsInit. Every level writes the same bytes.
struct BlockKernels {
  void (*copy)(uint8_t* dest, const uint8_t* src, uint32_t pitch);
  void (*predict)(const uint8_t* src, uint32_t pitch, uint8_t prediction[64]);
  void (*fill)(uint8_t* dest, uint32_t pitch, uint8_t colour);
  void (*pattern)(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1, const uint8_t pattern[8]);
  void (*put)(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]);
  void (*fill_doubled)(uint8_t* dest, uint32_t pitch, uint8_t colour);
  void (*pattern_doubled)(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1,
                          const uint8_t pattern[8]);
  void (*put_doubled)(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]);
};
void BlockKernelsInit(BlockKernels* kernels, uint32_t cpu_flags);
#if defined(VORN_X86)
void BlockKernelsSse2(BlockKernels* kernels);  // x86/block_ops_sse2.cc
#endif
