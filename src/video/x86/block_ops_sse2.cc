// SSE2 block writes: a row of eight samples is one 8-byte move, and the
// doubled forms widen each row to 16 bytes with one unpack instead of
// assembling words byte by byte.
#include <emmintrin.h>

#include "video/block_ops.h"

namespace {

inline __m128i Load8(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline void Store8(uint8_t* p, __m128i v) { _mm_storel_epi64(reinterpret_cast<__m128i*>(p), v); }
inline void Store16(uint8_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// 0xFF in byte x of row y where bit x of pattern[y] is set, two rows per
// register (row 2i in the low half).
inline __m128i PatternMask(uint8_t first, uint8_t second) {
  const __m128i bits = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
  __m128i rows = _mm_unpacklo_epi64(_mm_set1_epi8(static_cast<char>(first)),
                            _mm_set1_epi8(static_cast<char>(second)));
  return _mm_cmpeq_epi8(_mm_and_si128(rows, bits), bits);
}

inline __m128i Select(__m128i c0, __m128i c1, __m128i mask) {
  return _mm_or_si128(_mm_and_si128(mask, c1), _mm_andnot_si128(mask, c0));
}

void PatternBlockSse2(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1,
                      const uint8_t pattern[8]) {
  const __m128i w0 = _mm_set1_epi8(static_cast<char>(c0)), w1 = _mm_set1_epi8(static_cast<char>(c1));
  for (int y = 0; y < 8; y += 2, dest += 2 * pitch) {
    __m128i rows = Select(w0, w1, PatternMask(pattern[y], pattern[y + 1]));
    Store8(dest, rows);
    Store8(dest + pitch, _mm_unpackhi_epi64(rows, rows));
  }
}

void PatternBlockDoubledSse2(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1,
                             const uint8_t pattern[8]) {
  const __m128i w0 = _mm_set1_epi8(static_cast<char>(c0)), w1 = _mm_set1_epi8(static_cast<char>(c1));
  for (int y = 0; y < 8; y += 2, dest += 4 * pitch) {
    __m128i rows = Select(w0, w1, PatternMask(pattern[y], pattern[y + 1]));
    __m128i first = _mm_unpacklo_epi8(rows, rows), second = _mm_unpackhi_epi8(rows, rows);
    Store16(dest, first);
    Store16(dest + pitch, first);
    Store16(dest + 2 * pitch, second);
    Store16(dest + 3 * pitch, second);
  }
}

void PutBlockDoubledSse2(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]) {
  for (int y = 0; y < 8; y++, dest += 2 * pitch, samples += 8) {
    __m128i row = Load8(samples);
    row = _mm_unpacklo_epi8(row, row);
    Store16(dest, row);
    Store16(dest + pitch, row);
  }
}

void FillBlockDoubledSse2(uint8_t* dest, uint32_t pitch, uint8_t colour) {
  const __m128i w = _mm_set1_epi8(static_cast<char>(colour));
  for (int y = 0; y < 16; y++, dest += pitch) Store16(dest, w);
}

}  // namespace

void BlockKernelsSse2(BlockKernels* kernels) {
  kernels->pattern = PatternBlockSse2;
  kernels->fill_doubled = FillBlockDoubledSse2;
  kernels->pattern_doubled = PatternBlockDoubledSse2;
  kernels->put_doubled = PutBlockDoubledSse2;
}
