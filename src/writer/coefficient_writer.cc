#include "writer/coefficient_writer.h"

#include <algorithm>
#include <bit>

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
// At most 31 bits wait between calls.
struct WordGatherer {
  BitWriter* writer;
  uint64_t pending = 0;
  uint32_t count = 0;

  void Flush32() {
    BitWriterPut(writer, static_cast<uint32_t>(pending), 32);
    pending >>= 32;
    count -= 32;
  }
  void Put(uint32_t value, uint32_t bits) {  // value < 2^bits, bits <= 32
    pending |= uint64_t{value} << count;
    count += bits;
    if (count >= 32) Flush32();
  }
  // n zero bits: only the count moves, the pending bits above it are 0.
  void Zeros(uint32_t n) {
    count += n;
    while (count >= 32) Flush32();
  }
  void Flush() { BitWriterPut(writer, static_cast<uint32_t>(pending), count); }
};

// Bits set in v. Plain code has no population count instruction to rely on
// (and the library's fallback is a call); the walk asks a few per pass.
inline uint32_t CountBits64(uint64_t v) {
  v -= (v >> 1) & 0x5555555555555555u;
  v = (v & 0x3333333333333333u) + ((v >> 2) & 0x3333333333333333u);
  v = (v + (v >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
  return static_cast<uint32_t>((v * 0x0101010101010101u) >> 56);
}

// Bit length of m (0..32767) without the branch std::bit_width adds for 0.
inline uint32_t LengthOf(uint32_t m) { return 31 - static_cast<uint32_t>(__builtin_clz(2 * m | 1)); }

inline uint64_t BitsBelow(uint32_t position) {  // position < 64
  return (uint64_t{1} << position) - 1;
}

// WalkDctCoefficients' bits, produced knowing every magnitude up front.
//
// An entry the walk visits in the pass of plane p never stands for a
// magnitude of bit length above p + 1 (else an earlier pass would have
// opened it), so it sends a 1 exactly when its longest length is p + 1 and a
// 0 otherwise. Entries are therefore kept by their longest length, and a
// pass sends the 0s of the entries between two that open as one count,
// found with bit masks over list positions, instead of visiting each.
//
// The list has two parts, as in the walk: the single coefficients a group
// of four deferred (prepended: positions below 64, newest first, only ever
// opened as themselves) and the entries that were there from the start or
// were appended (at most 6 + 9, here positions 0..15 of their own masks).
//
// The arrays hold 16-bit values: unlike byte stores, their stores cannot
// alias the other fields, which the compiler then keeps in registers.
struct DctWriteWalk {
  WordGatherer out;
  int16_t coded[64];         // the coefficients in coded order, [0] = 0
  uint16_t magnitude[64];    // and their magnitudes, clamped to 32767
  // Longest length of each entry of 20, 16 and 4 by its first group of
  // four (only those the walk makes are filled in).
  uint16_t group_length[3][16];

  // Deferred singles, at positions start..63.
  uint32_t start = 64;
  uint64_t singles = 0;  // positions holding one
  uint64_t singles_of_length[16];  // 0..planes cleared
  uint16_t single_index[64];

  // The other entries, at positions 0..end - 1.
  uint32_t end = 0;
  uint32_t entries = 0;  // positions holding one
  uint32_t entries_of_length[16];  // 0..planes cleared
  uint16_t entry_index[16], entry_mode[16];

  // The value of coefficient j, whose length is `open`, behind a 0 or 1:
  // its bits below the top one, then the sign where the top one was.
  uint32_t ValueAfter(uint32_t j, uint32_t open, uint32_t bit) const {
    uint32_t positive = coded[j] > 0;
    return ((uint32_t{magnitude[j]} << 1) ^ (positive << open)) | bit;
  }
  uint32_t Longest(uint32_t k, uint32_t mode) const {
    return mode == LIST_SINGLE ? LengthOf(magnitude[k]) : group_length[mode][k >> 2];
  }
  void Append(uint32_t k, uint32_t mode) {
    uint32_t at = end++;
    entry_index[at] = static_cast<uint16_t>(k);
    entry_mode[at] = static_cast<uint16_t>(mode);
    entries |= 1u << at;
    entries_of_length[Longest(k, mode)] |= 1u << at;
  }

  // Indices k..k + 3 in the pass where lengths `open` open: each has its
  // value now (a 0, then the value) or is deferred (a 1).
  void CodeFour(uint32_t k, uint32_t open) {
    for (uint32_t j = k; j < k + 4; j++) {
      // Which ones are coded now is anyone's guess: no branches on it.
      uint32_t now = magnitude[j] >> (open - 1) == 1, later = now ^ 1;
      uint32_t now_mask = 0u - now;
      out.Put((ValueAfter(j, open, 0) & now_mask) | later, 1 + (open & now_mask));
      uint64_t deferred = uint64_t{later} << (start - 1);  // start > 4: never below 0
      single_index[start - 1] = static_cast<uint16_t>(j);
      singles |= deferred;
      singles_of_length[LengthOf(magnitude[j])] |= deferred;
      start -= later;
    }
  }

  // The deferred singles of one pass: all of them come before the other
  // entries, and none is added while they are visited.
  void SinglesPass(uint32_t open) {
    uint64_t opening = singles_of_length[open];
    singles_of_length[open] = 0;
    uint64_t waiting = singles & ~opening;
    uint32_t zeros_sent = 0;
    for (; opening; opening &= opening - 1) {
      uint32_t at = static_cast<uint32_t>(std::countr_zero(opening));
      uint32_t zeros_before = CountBits64(waiting & BitsBelow(at));
      out.Zeros(zeros_before - zeros_sent);
      zeros_sent = zeros_before;
      out.Put(ValueAfter(single_index[at], open, 1), open + 1);
    }
    out.Zeros(CountBits64(waiting) - zeros_sent);
    singles = waiting;
  }

  // An entry that opens, and what it turns into, examined again in the same
  // pass as the walk does.
  void Open(uint32_t at, uint32_t open) {
    uint32_t k = entry_index[at], mode = entry_mode[at];
    entries_of_length[open] &= ~(1u << at);
    for (;;) {
      if (mode == LIST_SINGLE) {
        out.Put(ValueAfter(k, open, 1), open + 1);
        break;
      }
      out.Put(1, 1);
      if (mode == LIST_GROUP4) {
        CodeFour(k, open);
        break;
      }
      if (mode == LIST_GROUP20) {
        CodeFour(k, open);
        k += 4;
        mode = LIST_GROUP16;
      } else {
        Append(k + 4, LIST_GROUP4);
        Append(k + 8, LIST_GROUP4);
        Append(k + 12, LIST_GROUP4);
        mode = LIST_GROUP4;
      }
      uint32_t longest = Longest(k, mode);
      if (longest != open) {  // stays, with a 0 now
        out.Put(0, 1);
        entry_index[at] = static_cast<uint16_t>(k);
        entry_mode[at] = static_cast<uint16_t>(mode);
        entries_of_length[longest] |= 1u << at;
        return;
      }
    }
    entries &= ~(1u << at);
  }

  void EntriesPass(uint32_t open) {
    uint32_t done = 0;  // positions visited
    for (;;) {
      // Entries appended by an opening one are visited in this pass too.
      uint32_t opening = entries_of_length[open] & ~done;
      if (!opening) break;
      uint32_t at = static_cast<uint32_t>(std::countr_zero(opening));
      uint32_t below = (1u << at) - 1;
      out.Zeros(CountBits64(entries & below & ~done));
      Open(at, open);
      done = below << 1 | 1;
    }
    out.Zeros(CountBits64(entries & ~done));
  }

  // Magnitudes in coded order; returns their OR. No step branches on a
  // coefficient's value: the processor could not guess those branches.
  uint32_t Prepare(const int16_t coeffs[64]) {
    coded[0] = 0;  // the DC is not coded here
    for (int i = 1; i < 64; i++) coded[i] = coeffs[COEFF_SCAN[i]];
    for (int i = 0; i < 64; i++) {
      int32_t c = coded[i];
      magnitude[i] = static_cast<uint16_t>(std::min(c < 0 ? -c : c, 32767));
    }
    // The longest length of a group is the length of its magnitudes' OR.
    uint32_t four[16];
    for (int g = 0; g < 16; g++)
      four[g] = uint32_t{magnitude[4 * g]} | magnitude[4 * g + 1] | magnitude[4 * g + 2] |
                magnitude[4 * g + 3];
    for (int g = 1; g < 16; g++) group_length[LIST_GROUP4][g] = static_cast<uint16_t>(LengthOf(four[g]));
    for (int g : {1, 6, 11}) {
      uint32_t sixteen = four[g + 1] | four[g + 2] | four[g + 3] | four[g + 4];
      group_length[LIST_GROUP16][g + 1] = static_cast<uint16_t>(LengthOf(sixteen));
      group_length[LIST_GROUP20][g] = static_cast<uint16_t>(LengthOf(sixteen | four[g]));
    }
    uint32_t largest = 0;
    for (uint32_t f : four) largest |= f;
    return largest;
  }

  void Write(uint32_t planes) {
    // No length goes above the plane count: clearing the rest would cost
    // more than many small blocks' whole walk.
    for (uint32_t length = 0; length <= planes; length++) {
      singles_of_length[length] = 0;
      entries_of_length[length] = 0;
    }
    Append(4, LIST_GROUP20);
    Append(24, LIST_GROUP20);
    Append(44, LIST_GROUP20);
    Append(1, LIST_SINGLE);
    Append(2, LIST_SINGLE);
    Append(3, LIST_SINGLE);
    for (uint32_t open = planes; open > 0; open--) {
      SinglesPass(open);
      EntriesPass(open);
    }
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
  if (writer->counting) {
    writer->counted += DctCoefficientBits(coeffs);
    return;
  }
  DctWriteWalk walk;
  walk.out.writer = writer;
  uint32_t largest = walk.Prepare(coeffs);
  uint32_t planes = TopBitPlusOne(largest);
  walk.out.Put(planes, 4);
  walk.Write(planes);
  walk.out.Put(q & 15, 4);
  walk.out.Flush();
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
