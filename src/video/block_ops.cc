#include "video/block_ops.h"

#include <cstring>

#include "platform/cpu.h"

namespace {

// Rows move as 32-bit words (memcpy of 4 or 8 bytes compiles to word moves).
inline uint32_t LoadWord(const uint8_t* p) {
  uint32_t w;
  std::memcpy(&w, p, 4);
  return w;
}
inline void StoreWord(uint8_t* p, uint32_t w) { std::memcpy(p, &w, 4); }

// For each 4-bit half of a pattern byte: 0xFF in the bytes whose bit is set,
// bit 0 selecting the first byte in memory (both targets are little-endian).
constexpr uint32_t NibbleMask(uint32_t nibble) {
  uint8_t bytes[4] = {};
  for (int i = 0; i < 4; i++) bytes[i] = (nibble >> i) & 1 ? 0xFF : 0;
  return uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
         uint32_t{bytes[3]} << 24;
}
// For each 2-bit group: 0xFFFF over each doubled pixel whose bit is set.
constexpr uint32_t PairMask(uint32_t bits) {
  return ((bits & 1) ? 0x0000FFFFu : 0) | ((bits & 2) ? 0xFFFF0000u : 0);
}

struct PatternMasks {
  uint32_t nibble[16];
  uint32_t pair[4];
};

constexpr PatternMasks BuildMasks() {
  PatternMasks m{};
  for (uint32_t i = 0; i < 16; i++) m.nibble[i] = NibbleMask(i);
  for (uint32_t i = 0; i < 4; i++) m.pair[i] = PairMask(i);
  return m;
}

constexpr PatternMasks kMasks = BuildMasks();

inline uint32_t Select(uint32_t w0, uint32_t w1, uint32_t mask) {
  return (w1 & mask) | (w0 & ~mask);
}

// Two doubled bytes b b as a 16-bit pair, two pairs to the word.
inline uint32_t DoubledWord(uint8_t first, uint8_t second) {
  uint8_t bytes[4] = {first, first, second, second};
  uint32_t w;
  std::memcpy(&w, bytes, 4);
  return w;
}

}  // namespace

void CopyBlock(uint8_t* dest, const uint8_t* src, uint32_t pitch) {
  for (int y = 0; y < 8; y++, dest += pitch, src += pitch) {
    StoreWord(dest, LoadWord(src));
    StoreWord(dest + 4, LoadWord(src + 4));
  }
}

uint32_t MotionSource(uint32_t block_offset, int32_t x, int32_t y, uint32_t pitch,
                      uint32_t plane_bytes) {
  int64_t source = int64_t{block_offset} + int64_t{y} * pitch + x;
  int64_t last = int64_t{plane_bytes} - (int64_t{pitch} * 7 + 8);
  if (source > last) source = last;
  if (source < 0) source = 0;
  return static_cast<uint32_t>(source);
}

void PredictBlock(const uint8_t* src, uint32_t pitch, uint8_t prediction[64]) {
  for (int y = 0; y < 8; y++, src += pitch) std::memcpy(prediction + 8 * y, src, 8);
}

void FillBlock(uint8_t* dest, uint32_t pitch, uint8_t colour) {
  uint32_t w = colour * 0x01010101u;
  for (int y = 0; y < 8; y++, dest += pitch) {
    StoreWord(dest, w);
    StoreWord(dest + 4, w);
  }
}

void FillBlockDoubled(uint8_t* dest, uint32_t pitch, uint8_t colour) {
  uint32_t w = colour * 0x01010101u;
  for (int y = 0; y < 16; y++, dest += pitch)
    for (int x = 0; x < 16; x += 4) StoreWord(dest + x, w);
}

void PatternBlock(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1,
                  const uint8_t pattern[8]) {
  uint32_t w0 = c0 * 0x01010101u, w1 = c1 * 0x01010101u;
  for (int y = 0; y < 8; y++, dest += pitch) {
    StoreWord(dest, Select(w0, w1, kMasks.nibble[pattern[y] & 15]));
    StoreWord(dest + 4, Select(w0, w1, kMasks.nibble[pattern[y] >> 4]));
  }
}

void PatternBlockDoubled(uint8_t* dest, uint32_t pitch, uint8_t c0, uint8_t c1,
                         const uint8_t pattern[8]) {
  uint32_t w0 = c0 * 0x01010101u, w1 = c1 * 0x01010101u;
  for (int y = 0; y < 8; y++, dest += 2 * pitch) {
    for (int group = 0; group < 4; group++) {
      uint32_t bits = (pattern[y] >> (2 * group)) & 3;
      uint32_t w = Select(w0, w1, kMasks.pair[bits]);
      StoreWord(dest + 4 * group, w);
      StoreWord(dest + pitch + 4 * group, w);
    }
  }
}

void PatternSamples(uint8_t c0, uint8_t c1, const uint8_t pattern[8], uint8_t out[64]) {
  PatternBlock(out, 8, c0, c1, pattern);
}

void PutBlock(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]) {
  for (int y = 0; y < 8; y++, dest += pitch, samples += 8) {
    StoreWord(dest, LoadWord(samples));
    StoreWord(dest + 4, LoadWord(samples + 4));
  }
}

void PutBlockDoubled(uint8_t* dest, uint32_t pitch, const uint8_t samples[64]) {
  for (int y = 0; y < 8; y++, dest += 2 * pitch, samples += 8) {
    for (int x = 0; x < 8; x += 2) {
      uint32_t w = DoubledWord(samples[x], samples[x + 1]);
      StoreWord(dest + 2 * x, w);
      StoreWord(dest + pitch + 2 * x, w);
    }
  }
}

void BlockKernelsInit(BlockKernels* kernels, uint32_t cpu_flags) {
  *kernels = {CopyBlock, PredictBlock,      FillBlock,
              PatternBlock, PutBlock,       FillBlockDoubled,
              PatternBlockDoubled, PutBlockDoubled};
#if defined(VORN_X86)
  static constexpr CpuUpgrade<BlockKernels> kLevels[] = {{CPU_SSE2, BlockKernelsSse2}};
  CpuUpgradeTable(kernels, cpu_flags, kLevels);
#else
  (void)cpu_flags;
#endif
}
