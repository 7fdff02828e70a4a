#include "video/coefficients.h"

#include <cstring>

#include "video/coeff_walk.h"
#include "video/video_tables.h"

namespace {

// The sources hold the reader by value for the length of one block, so its
// fields stay in registers; the caller's copy is updated at the end.
struct DctReadSource {
  BitReader reader;
  int16_t coded[64];

  bool EntryBit(uint32_t, uint32_t, uint32_t) { return ReadBit(&reader); }
  bool BelowBit(uint32_t, uint32_t) { return ReadBit(&reader); }
  bool Value(uint32_t index, uint32_t plane) {
    int32_t v = 1;
    if (plane) v = static_cast<int32_t>(ReadBits(&reader, plane) + (1u << plane));
    coded[index] = static_cast<int16_t>(ReadBit(&reader) ? -v : v);
    return true;
  }
};

struct ResidueReadSource {
  BitReader reader;
  uint32_t last_op;  // the residue ends after this operation
  uint32_t ops;
  uint32_t set_count;
  uint16_t set[64];
  int16_t coded[64];  // 8-bit values, kept wrapped to -128..127

  bool Operation() { return ++ops != last_op; }
  bool EntryBit(uint32_t, uint32_t, uint32_t) { return ReadBit(&reader); }
  bool BelowBit(uint32_t, uint32_t) { return ReadBit(&reader); }
  bool Value(uint32_t index, uint32_t mask) {
    // Residues are 8-bit: a mask of 128 stores as -128 either way.
    coded[index] = static_cast<int8_t>(ReadBit(&reader) ? 0u - mask : mask);
    set[set_count++] = static_cast<uint16_t>(index);
    return Operation();
  }
  bool Refine(uint32_t index, uint32_t mask) {
    if (!ReadBit(&reader)) return true;
    int32_t c = coded[index];
    coded[index] = static_cast<int8_t>(c >= 0 ? c + mask : c - mask);
    return Operation();
  }
};

}  // namespace

uint32_t ReadDctCoefficients(BitReader* reader, int16_t block[64]) {
  DctReadSource source;
  source.reader = *reader;
  std::memset(source.coded, 0, sizeof(source.coded));
  WalkDctCoefficients(source, ReadBits(&source.reader, 4));
  uint32_t q = ReadBits(&source.reader, 4);
  *reader = source.reader;
  for (int i = 1; i < 64; i++) block[COEFF_SCAN[i]] = source.coded[i];
  return q;
}

void ReadResidue(BitReader* reader, uint32_t n, int8_t block[64]) {
  ResidueReadSource source;
  source.reader = *reader;
  source.last_op = n + 1;
  source.ops = 0;
  source.set_count = 0;
  std::memset(source.coded, 0, sizeof(source.coded));
  WalkResidue(source, ReadBits(&source.reader, 3));
  *reader = source.reader;
  for (int i = 0; i < 64; i++) block[COEFF_SCAN[i]] = static_cast<int8_t>(source.coded[i]);
}
