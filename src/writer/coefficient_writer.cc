#include "writer/coefficient_writer.h"

#include <algorithm>

#include "video/coeff_walk.h"
#include "video/video_tables.h"

namespace {

// The largest magnitude each entry of the walk stands for. Group entries
// always start at a multiple of four (groups of 20, 16 and 4 from 4 x g),
// so their maxima are known before the walk; a single entry is its own.
struct EntryMaxima {
  uint32_t group[3][16];  // by mode LIST_GROUP20, LIST_GROUP16, LIST_GROUP4

  void Prepare(const uint32_t magnitude[64]) {
    uint32_t four[16];
    for (int g = 0; g < 16; g++)
      four[g] = std::max(std::max(magnitude[4 * g], magnitude[4 * g + 1]),
                         std::max(magnitude[4 * g + 2], magnitude[4 * g + 3]));
    for (int g = 0; g < 16; g++) {
      uint32_t sixteen = 0, twenty = 0;
      for (int h = g; h < g + 5 && h < 16; h++) {
        if (h < g + 4) sixteen = std::max(sixteen, four[h]);
        twenty = std::max(twenty, four[h]);
      }
      group[LIST_GROUP20][g] = twenty;
      group[LIST_GROUP16][g] = sixteen;
      group[LIST_GROUP4][g] = four[g];
    }
  }
  // Whether any coefficient the entry still stands for reaches `threshold`.
  bool Reaches(const uint32_t magnitude[64], uint32_t k, uint32_t mode, uint32_t threshold) const {
    return (mode == LIST_SINGLE ? magnitude[k] : group[mode][k >> 2]) >= threshold;
  }
};

// Gathers a block's many short fields and hands the writer whole words.
struct WordGatherer {
  BitWriter* writer;
  uint64_t pending = 0;
  uint32_t count = 0;

  void Put(uint32_t value, uint32_t bits) {  // value < 2^bits, bits <= 16
    pending |= uint64_t{value} << count;
    count += bits;
    if (count >= 32) {
      BitWriterPut(writer, static_cast<uint32_t>(pending), 32);
      pending >>= 32;
      count -= 32;
    }
  }
  void Flush() { BitWriterPut(writer, static_cast<uint32_t>(pending), count); }
};

struct DctWriteSource {
  WordGatherer out;
  uint32_t magnitude[64];
  bool negative[64];
  EntryMaxima maxima;

  bool EntryBit(uint32_t k, uint32_t mode, uint32_t plane) {
    bool bit = maxima.Reaches(magnitude, k, mode, 1u << plane);
    out.Put(bit, 1);
    return bit;
  }
  bool BelowBit(uint32_t j, uint32_t plane) {
    bool below = magnitude[j] < (1u << plane);
    out.Put(below, 1);
    return below;
  }
  bool Value(uint32_t j, uint32_t plane) {
    // The value's bits below its top one, then its sign.
    out.Put((magnitude[j] - (1u << plane)) | (uint32_t{negative[j]} << plane), plane + 1);
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
  EntryMaxima maxima;

  bool Operation() { return ++ops != last_op; }
  bool EntryBit(uint32_t k, uint32_t mode, uint32_t mask) {
    bool bit = maxima.Reaches(magnitude, k, mode, mask);
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

// The walk's bits in closed form. An entry made (or first visited) in the
// pass of plane p whose longest member has bit length g sends a 0 in every
// pass until the one of plane g - 1, where it sends a 1: p - g + 2 bits, or
// p + 1 when it holds only zeros (a 0 in every pass down to plane 0). A
// coefficient whose group opens at plane p sends its "below" bit, then, as a
// single entry, a 0 per pass until its own plane and its value there (as
// many bits as its length): p + 2 bits in all when it is not 0, p + 1 when
// it is. The first three coefficients are single entries from the start,
// like coefficients of a group opened at plane `planes` without the "below"
// bit. So only each group of four's longest length and count of non-zero
// coefficients matter. Writing E(p, g) for an entry's bits (p - g + 2, or
// p + 1 for g = 0), an entry of 20 opened below the top plane P costs
// E(P - 1, L20) + 4 L20 (its first four, each a "below" bit and a 0 per
// pass from plane L20 - 1) + E(L20 - 1, L16) + the same for its four groups
// of four from L16 - 1: which adds up to P + 1 + 4 L20 + opened(L16) + the
// opened() of each group of four, with opened(l) = 3 l + 1 (0 for l = 0);
// an empty one costs P. DctBitsFromSquares sums these.

// Every group of four coded indices is a 2x2 square of natural positions:
// group s holds rows 2r, 2r + 1 and columns 2c, 2c + 1 for the square whose
// top-left is COEFF_SCAN[4 s].
struct SquareGroups {
  uint8_t group[16];  // by square 4 r + c
};

constexpr SquareGroups MakeSquareGroups() {
  SquareGroups squares{};
  for (int s = 0; s < 16; s++) {
    int top_left = COEFF_SCAN[4 * s];
    squares.group[4 * (top_left / 16) + (top_left % 8) / 2] = static_cast<uint8_t>(s);
  }
  return squares;
}
inline constexpr SquareGroups kSquareGroups = MakeSquareGroups();

// And the other way: the square of each group.
struct GroupSquares {
  uint8_t square[16];
};

constexpr GroupSquares MakeGroupSquares() {
  GroupSquares groups{};
  for (int square = 0; square < 16; square++)
    groups.square[kSquareGroups.group[square]] = static_cast<uint8_t>(square);
  return groups;
}
inline constexpr GroupSquares kGroupSquares = MakeGroupSquares();

uint32_t ClampedMagnitude(int16_t c) { return std::min<uint32_t>(Magnitude(c), 32767); }

}  // namespace

void WriteDctCoefficients(BitWriter* writer, const int16_t coeffs[64], uint32_t q) {
  DctWriteSource source;
  source.out.writer = writer;
  uint32_t largest = 0;
  source.magnitude[0] = 0;
  source.negative[0] = false;
  for (int i = 1; i < 64; i++) {
    int32_t c = coeffs[COEFF_SCAN[i]];
    source.magnitude[i] = std::min<uint32_t>(Magnitude(c), 32767);
    source.negative[i] = c < 0;
    largest = std::max(largest, source.magnitude[i]);
  }
  source.maxima.Prepare(source.magnitude);
  uint32_t planes = TopBitPlusOne(largest);
  source.out.Put(planes, 4);
  WalkDctCoefficients(source, planes);
  source.out.Put(q & 15, 4);
  source.out.Flush();
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
  source.maxima.Prepare(source.magnitude);
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

uint32_t DctCoefficientBits(const int16_t coeffs[64]) {
  int32_t lengths[16];
  uint32_t nonzero = 0;
  for (int r = 0; r < 4; r++)
    for (int c = 0; c < 4; c++) {
      const int16_t* top = coeffs + 16 * r + 2 * c;
      bool dc = r == 0 && c == 0;
      uint32_t a = dc ? 0 : ClampedMagnitude(top[0]), b = ClampedMagnitude(top[1]);
      uint32_t d = ClampedMagnitude(top[8]), e = ClampedMagnitude(top[9]);
      lengths[4 * r + c] = static_cast<int32_t>(TopBitPlusOne(std::max(std::max(a, b), std::max(d, e))));
      nonzero += (a != 0) + (b != 0) + (d != 0) + (e != 0);
    }
  return DctBitsFromSquares(lengths, nonzero);
}

uint32_t DctBitsFromSquares(const int32_t lengths[16], uint32_t nonzero) {
  auto opened = [](int32_t l) { return l ? 3 * l + 1 : 0; };
  auto longest = [&](int group) { return lengths[kGroupSquares.square[group]]; };
  // The plane count and quantiser number, a last bit (the sign) per
  // non-zero coefficient, 3 P for the first three and P for each entry of
  // 20; then what the entries of 20 that hold anything add (see above):
  // opened() for every group of four but group 0 and their first groups,
  // which are not sent as groups of four.
  int32_t planes = 0, all_opened = 0;
  for (int square = 0; square < 16; square++) {
    planes = std::max(planes, lengths[square]);
    all_opened += opened(lengths[square]);
  }
  int32_t bits = 8 + static_cast<int32_t>(nonzero) + 6 * planes + all_opened - opened(longest(0));
#pragma GCC unroll 3
  for (int first : {1, 6, 11}) {  // groups of the entries of 20 at indices 4, 24, 44
    int32_t longest16 = std::max(std::max(longest(first + 1), longest(first + 2)),
                                 std::max(longest(first + 3), longest(first + 4)));
    int32_t longest20 = std::max(longest16, longest(first));
    bits -= opened(longest(first));
    if (longest20) bits += 1 + 4 * longest20 + opened(longest16);
  }
  return static_cast<uint32_t>(bits);
}
