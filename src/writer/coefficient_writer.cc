#include "writer/coefficient_writer.h"

#include <algorithm>

#include "video/coeff_walk.h"
#include "video/video_tables.h"

namespace {

// Whether any coefficient an entry still stands for reaches `threshold`.
bool GroupReaches(const uint32_t magnitude[64], uint32_t k, uint32_t mode, uint32_t threshold) {
  uint32_t span = mode == LIST_GROUP20 ? 20 : mode == LIST_GROUP16 ? 16 : mode == LIST_GROUP4 ? 4 : 1;
  for (uint32_t j = k; j < k + span && j < 64; j++)
    if (magnitude[j] >= threshold) return true;
  return false;
}

struct DctWriteSource {
  BitWriter* writer;
  uint32_t magnitude[64];
  bool negative[64];

  bool EntryBit(uint32_t k, uint32_t mode, uint32_t plane) {
    bool bit = GroupReaches(magnitude, k, mode, 1u << plane);
    BitWriterPut(writer, bit, 1);
    return bit;
  }
  bool BelowBit(uint32_t j, uint32_t plane) {
    bool below = magnitude[j] < (1u << plane);
    BitWriterPut(writer, below, 1);
    return below;
  }
  bool Value(uint32_t j, uint32_t plane) {
    if (plane) BitWriterPut(writer, magnitude[j] - (1u << plane), plane);
    BitWriterPut(writer, negative[j], 1);
    return true;
  }
};

struct ResidueWriteSource {
  BitWriter* writer;
  uint32_t last_op;
  uint32_t ops = 0;
  uint32_t set_count = 0;
  uint8_t set[64];
  uint32_t magnitude[64];
  bool negative[64];
  int8_t rebuilt[64] = {};

  bool Operation() { return ++ops != last_op; }
  bool EntryBit(uint32_t k, uint32_t mode, uint32_t mask) {
    bool bit = GroupReaches(magnitude, k, mode, mask);
    BitWriterPut(writer, bit, 1);
    return bit;
  }
  bool BelowBit(uint32_t j, uint32_t mask) {
    bool below = magnitude[j] < mask;
    BitWriterPut(writer, below, 1);
    return below;
  }
  bool Value(uint32_t j, uint32_t mask) {
    BitWriterPut(writer, negative[j], 1);
    rebuilt[j] = static_cast<int8_t>(negative[j] ? 0u - mask : mask);
    set[set_count++] = static_cast<uint8_t>(j);
    return Operation();
  }
  bool Refine(uint32_t j, uint32_t mask) {
    bool bit = magnitude[j] & mask;
    BitWriterPut(writer, bit, 1);
    if (!bit) return true;
    rebuilt[j] = static_cast<int8_t>(rebuilt[j] >= 0 ? rebuilt[j] + mask : rebuilt[j] - mask);
    return Operation();
  }
};

}  // namespace

void WriteDctCoefficients(BitWriter* writer, const int16_t coeffs[64], uint32_t q) {
  DctWriteSource source;
  source.writer = writer;
  uint32_t largest = 0;
  source.magnitude[0] = 0;
  source.negative[0] = false;
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

void WriteResidue(BitWriter* writer, const int8_t residue[64], int8_t decoded[64]) {
  ResidueWriteSource source;
  uint32_t largest = 0;
  for (int i = 0; i < 64; i++) {
    int32_t r = residue[COEFF_SCAN[i]];
    source.magnitude[i] = Magnitude(r);
    source.negative[i] = r < 0;
    largest = std::max(largest, source.magnitude[i]);
  }
  uint32_t exponent = largest ? TopBitPlusOne(largest) - 1 : 0;
  // A dry run counts the operations the whole residue needs.
  BitWriter scratch;
  ResidueWriteSource dry = source;
  dry.writer = &scratch;
  dry.last_op = 0;  // never reached: counting starts at 1
  WalkResidue(dry, exponent);
  uint32_t n = dry.ops ? std::min<uint32_t>(dry.ops, 128) - 1 : 0;
  BitWriterPut(writer, n, 7);
  BitWriterPut(writer, exponent, 3);
  source.writer = writer;
  source.last_op = n + 1;
  WalkResidue(source, exponent);
  for (int i = 0; i < 64; i++) decoded[COEFF_SCAN[i]] = source.rebuilt[i];
}
