// The plain writer of a transform block's coefficients: the shared
// bit-plane walk driven one decision at a time, each group's maximum found
// by looking at its members. WriteDctCoefficients must write exactly its
// bits; the tests compare them and the encoder benchmark times both.
#pragma once
#include <algorithm>
#include <cstdint>

#include "video/coeff_walk.h"
#include "video/video_tables.h"
#include "writer/bit_writer.h"

struct WalkCoefficientSource {
  BitWriter* writer;
  uint32_t magnitude[64] = {};
  bool negative[64] = {};

  bool EntryBit(uint32_t k, uint32_t mode, uint32_t plane) {
    static constexpr uint32_t kMembers[4] = {20, 16, 4, 1};
    uint32_t largest = 0;
    for (uint32_t j = k; j < std::min<uint32_t>(k + kMembers[mode], 64); j++)
      largest = std::max(largest, magnitude[j]);
    bool bit = largest >= (1u << plane);
    BitWriterPut(writer, bit, 1);
    return bit;
  }
  bool BelowBit(uint32_t j, uint32_t plane) {
    bool below = magnitude[j] < (1u << plane);
    BitWriterPut(writer, below, 1);
    return below;
  }
  bool Value(uint32_t j, uint32_t plane) {
    BitWriterPut(writer, magnitude[j] - (1u << plane), plane);
    BitWriterPut(writer, negative[j], 1);
    return true;
  }
};

inline void WriteThroughWalk(BitWriter* writer, const int16_t coeffs[64], uint32_t q) {
  WalkCoefficientSource source{writer};
  uint32_t largest = 0;
  for (int i = 1; i < 64; i++) {
    int32_t c = coeffs[COEFF_SCAN[i]];
    source.magnitude[i] = std::min<uint32_t>(Magnitude(c), 32767);
    source.negative[i] = c < 0;
    largest = std::max(largest, source.magnitude[i]);
  }
  uint32_t planes = TopBitPlusOne(largest);
  BitWriterPut(writer, planes, 4);
  WalkDctCoefficients(source, planes);
  BitWriterPut(writer, q, 4);
}

