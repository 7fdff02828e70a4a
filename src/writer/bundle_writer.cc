#include "writer/bundle_writer.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The symbols a merged-order header with `passes` passes yields when every
// merge takes the value that comes first in `target`; bits receives the
// choices (1 = second run).
void MergeTowards(const uint8_t target[16], uint32_t passes, uint8_t result[16],
                  std::vector<uint8_t>* bits) {
  uint8_t rank[16];
  for (int p = 0; p < 16; p++) rank[target[p]] = static_cast<uint8_t>(p);
  for (int i = 0; i < 16; i++) result[i] = static_cast<uint8_t>(i);
  uint8_t merged[16];
  for (uint32_t size = 1, pass = 0; pass < passes; pass++, size *= 2) {
    for (uint32_t start = 0; start < 16; start += 2 * size) {
      const uint8_t* a = result + start;
      const uint8_t* b = a + size;
      uint32_t ia = 0, ib = 0, out = start;
      while (ia < size && ib < size) {
        bool take_b = rank[b[ib]] < rank[a[ia]];
        bits->push_back(take_b);
        merged[out++] = take_b ? b[ib++] : a[ia++];
      }
      while (ia < size) merged[out++] = a[ia++];
      while (ib < size) merged[out++] = b[ib++];
    }
    std::memcpy(result, merged, 16);
  }
}

// Shortest explicit list whose remainder, in increasing order, completes symbols.
uint32_t ExplicitListLength(const uint8_t symbols[16]) {
  uint32_t c = 15;
  while (c > 0 && symbols[c - 1] < symbols[c]) c--;
  return c == 0 ? 1 : c;
}

// The first position holding value (0 if none), without a branch per
// position: each half of the symbols is tested as one word, a byte at a
// time. The flag of a byte above a matching one may be wrong, never the
// lowest flag.
uint32_t PositionOf(const CodeTree& tree, uint32_t value) {
  constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
  uint64_t halves[2];
  std::memcpy(halves, tree.symbols, sizeof(halves));
  uint64_t found[2];
  for (int h = 0; h < 2; h++) {
    uint64_t x = halves[h] ^ (kOnes * value);  // 0 bytes where the value is
    found[h] = (x - kOnes) & ~x & kHighs;
  }
  if (found[0]) return static_cast<uint32_t>(std::countr_zero(found[0])) / 8;
  if (found[1]) return 8 + static_cast<uint32_t>(std::countr_zero(found[1])) / 8;
  return 0;
}

// The codes as the stream takes them: first bit lowest.
struct StreamCodes {
  uint8_t bits[PREFIX_TABLE_COUNT][16];
};

constexpr StreamCodes MakeStreamCodes() {
  StreamCodes codes{};
  for (int t = 0; t < PREFIX_TABLE_COUNT; t++)
    for (int p = 0; p < 16; p++) {
      const PrefixCode& code = PREFIX_CODES[t][p];
      uint32_t reversed = 0;
      for (uint32_t i = 0; i < code.length; i++) reversed |= ((code.bits >> (code.length - 1 - i)) & 1u) << i;
      codes.bits[t][p] = static_cast<uint8_t>(reversed);
    }
  return codes;
}
inline constexpr StreamCodes kStreamCodes = MakeStreamCodes();

// A tree's code for each value, for the bundles that write many values
// with one tree.
struct TreeCodeTable {
  uint8_t bits[16];
  uint8_t length[16];

  explicit TreeCodeTable(const CodeTree& tree) {
    uint32_t table = tree.table & 15;
    for (uint32_t v = 0; v < 16; v++) {
      uint32_t position = PositionOf(tree, v);
      bits[v] = kStreamCodes.bits[table][position];
      length[v] = PREFIX_CODES[table][position].length;
    }
  }
  void Put(BitWriter* writer, uint32_t value) const { BitWriterPut(writer, bits[value & 15], length[value & 15]); }
};

bool AllEqual(const uint8_t* values, uint32_t count) {
  for (uint32_t i = 1; i < count; i++)
    if (values[i] != values[0]) return false;
  return true;
}

void WriteColour(BitWriter* writer, ColourCoder* coder, uint8_t byte) {
  uint32_t v = ColourCodeValue(byte, coder->old_colours);
  WriteTreeValue(writer, coder->high[coder->context], v >> 4);
  coder->context = v >> 4;
  WriteTreeValue(writer, coder->low, v & 15);
}

}  // namespace

// ---- Code trees -------------------------------------------------------------

CodeTree CodeTreeIdentity(uint32_t table) {
  CodeTree tree;
  tree.table = static_cast<uint8_t>(table);
  for (int i = 0; i < 16; i++) tree.symbols[i] = static_cast<uint8_t>(i);
  return tree;
}

void WriteCodeTreeTable0(BitWriter* writer) { BitWriterPut(writer, 0, 4); }

void WriteCodeTreeExplicit(BitWriter* writer, uint32_t table, const uint8_t* list,
                           uint32_t count) {
  BitWriterPut(writer, table, 4);
  BitWriterPut(writer, 1, 1);
  BitWriterPut(writer, count - 1, 3);
  for (uint32_t i = 0; i < count; i++) BitWriterPut(writer, list[i], 4);
}

bool WriteCodeTreeMerged(BitWriter* writer, uint32_t table, uint32_t passes,
                         const uint8_t symbols[16]) {
  uint8_t result[16];
  std::vector<uint8_t> bits;
  MergeTowards(symbols, passes, result, &bits);
  if (std::memcmp(result, symbols, 16) != 0) return false;
  BitWriterPut(writer, table, 4);
  BitWriterPut(writer, 0, 1);
  BitWriterPut(writer, passes - 1, 2);
  for (uint8_t bit : bits) BitWriterPut(writer, bit, 1);
  return true;
}

bool WriteCodeTree(BitWriter* writer, const CodeTree& tree) {
  bool identity = true;
  for (int i = 0; i < 16; i++) identity = identity && tree.symbols[i] == i;
  if (tree.table == 0) {
    if (!identity) return false;
    WriteCodeTreeTable0(writer);
    return true;
  }
  // The cheapest of an explicit list and the merged orders that reach the symbols.
  uint32_t list = ExplicitListLength(tree.symbols);
  uint32_t best_cost = list <= 8 ? 8 + 4 * list : ~0u;
  uint32_t best_passes = 0;
  for (uint32_t passes = 1; passes <= 4; passes++) {
    uint8_t result[16];
    std::vector<uint8_t> bits;
    MergeTowards(tree.symbols, passes, result, &bits);
    if (std::memcmp(result, tree.symbols, 16) == 0 && 7 + bits.size() < best_cost) {
      best_cost = 7 + static_cast<uint32_t>(bits.size());
      best_passes = passes;
    }
  }
  if (best_passes) return WriteCodeTreeMerged(writer, tree.table, best_passes, tree.symbols);
  WriteCodeTreeExplicit(writer, tree.table, tree.symbols, list);
  return true;
}

CodeTree CodeTreeForHistogram(const uint32_t counts[16]) {
  uint8_t by_count[16];
  for (int i = 0; i < 16; i++) by_count[i] = static_cast<uint8_t>(i);
  std::stable_sort(by_count, by_count + 16,
                   [&](uint8_t a, uint8_t b) { return counts[a] > counts[b]; });
  uint64_t total = 0;
  for (int i = 0; i < 16; i++) total += counts[i];
  CodeTree best = CodeTreeIdentity(0);
  uint64_t best_cost = 4 * total;
  for (uint32_t t = 1; t < PREFIX_TABLE_COUNT; t++) {
    uint8_t positions[16];
    for (int i = 0; i < 16; i++) positions[i] = static_cast<uint8_t>(i);
    std::stable_sort(positions, positions + 16, [&](uint8_t a, uint8_t b) {
      return PREFIX_CODES[t][a].length < PREFIX_CODES[t][b].length;
    });
    CodeTree tree;
    tree.table = static_cast<uint8_t>(t);
    uint64_t cost = 49;  // at most a full merged-order header
    for (int i = 0; i < 16; i++) {
      tree.symbols[positions[i]] = by_count[i];
      cost += uint64_t{counts[by_count[i]]} * PREFIX_CODES[t][positions[i]].length;
    }
    if (cost < best_cost) {
      best_cost = cost;
      best = tree;
    }
  }
  return best;
}

void WriteTreeValue(BitWriter* writer, const CodeTree& tree, uint32_t value) {
  uint32_t table = tree.table & 15, position = PositionOf(tree, value & 15);
  BitWriterPut(writer, kStreamCodes.bits[table][position], PREFIX_CODES[table][position].length);
}

uint32_t TreeValueLength(const CodeTree& tree, uint32_t value) {
  return PREFIX_CODES[tree.table & 15][PositionOf(tree, value & 15)].length;
}

// ---- Bundle contents ----------------------------------------------------------

uint32_t ColourCodeValue(uint8_t byte, bool old_colours) {
  if (!old_colours) return byte;
  if (byte >= 128) return byte - 128u;
  if (byte == 0) return 0xFF;  // 128 - 127 = 1, the nearest the old format has
  return 0x80u | (128u - byte);
}

void WriteBundleCount(BitWriter* writer, uint32_t count_bits, uint32_t count) {
  BitWriterPut(writer, count, count_bits);
}

bool WriteTypeBundle(BitWriter* writer, const CodeTree& tree, const uint8_t* values,
                     uint32_t count, BundleMode mode) {
  bool equal = AllEqual(values, count);
  if (mode == BUNDLE_MODE_FILL || (mode == BUNDLE_MODE_AUTO && equal && values[0] < 16)) {
    if (!equal || values[0] > 15) return false;
    BitWriterPut(writer, 1, 1);
    BitWriterPut(writer, values[0], 4);
    return true;
  }
  BitWriterPut(writer, 0, 1);
  if (mode == BUNDLE_MODE_AUTO) {
    uint8_t lengths[16];
    TreeLengths(tree, lengths);
    std::vector<uint8_t> symbols;
    if (!ParseTypeSymbols(values, count, lengths, &symbols)) return false;
    TreeCodeTable codes(tree);
    for (uint8_t s : symbols) codes.Put(writer, s);
    return true;
  }
  TreeCodeTable codes(tree);
  for (uint32_t i = 0; i < count; i++) {
    if (values[i] >= 12) return false;  // 12..15 only exist as fills
    codes.Put(writer, values[i]);
  }
  return true;
}

void TreeLengths(const CodeTree& tree, uint8_t lengths[16]) {
  for (uint32_t p = 0; p < 16; p++)
    lengths[tree.symbols[p] & 15] = static_cast<uint8_t>(PREFIX_CODES[tree.table & 15][p].length);
}

namespace {

constexpr uint32_t kRepeats[4] = {4, 8, 12, 32};  // what symbols 12..15 repeat

// The cheapest covers of m equal values by pieces of 1 (a literal of
// `literal` bits) and 4, 8, 12 or 32 (the repeat symbols' bits), for every
// m up to what was asked so far: cost[m] and the last piece's size.
struct RunCovers {
  uint8_t key[5] = {};
  std::vector<uint32_t> cost{0};
  std::vector<uint8_t> piece{0};

  void Extend(uint32_t m) {
    for (uint32_t n = static_cast<uint32_t>(cost.size()); n <= m; n++) {
      uint32_t best = cost[n - 1] + key[0];
      uint8_t taken = 1;
      for (uint32_t r = 0; r < 4; r++)
        if (kRepeats[r] <= n && cost[n - kRepeats[r]] + key[r + 1] < best) {
          best = cost[n - kRepeats[r]] + key[r + 1];
          taken = static_cast<uint8_t>(kRepeats[r]);
        }
      cost.push_back(best);
      piece.push_back(taken);
    }
  }
};

// The covers for one set of code lengths, kept per thread: a plane's
// refills share their tree, so the tables are built once for it.
RunCovers& CoversFor(uint8_t literal, const uint8_t lengths[16]) {
  thread_local std::vector<RunCovers> cache;
  uint8_t key[5] = {literal, lengths[12], lengths[13], lengths[14], lengths[15]};
  for (RunCovers& c : cache)
    if (std::memcmp(c.key, key, 5) == 0) return c;
  if (cache.size() >= 32) cache.clear();
  cache.emplace_back();
  std::memcpy(cache.back().key, key, 5);
  return cache.back();
}

}  // namespace

// A repeat symbol copies the last value, so it only ever covers values
// inside a run of equal values, and a run after a different value must
// start with a literal (a run of 0 at the very start need not: the last
// value starts as 0). Runs are therefore parsed on their own: the first
// value as a literal where needed, the rest by the cheapest cover.
bool ParseTypeSymbols(const uint8_t* values, uint32_t count, const uint8_t lengths[16],
                      std::vector<uint8_t>* symbols) {
  for (uint32_t start = 0; start < count;) {
    uint8_t v = values[start];
    uint32_t end = start + 1;
    while (end < count && values[end] == v) end++;
    if (v >= 12) return false;  // 12..15 only exist as fills
    uint32_t rest = end - start;
    if (!(start == 0 && v == 0)) {
      symbols->push_back(v);
      rest--;
    }
    if (rest < kRepeats[0]) {  // too short for a repeat: literals, no table needed
      symbols->insert(symbols->end(), rest, v);
      start = end;
      continue;
    }
    RunCovers& covers = CoversFor(lengths[v], lengths);
    covers.Extend(rest);
    for (uint32_t m = rest; m > 0; m -= covers.piece[m]) {
      uint8_t piece = covers.piece[m];
      uint8_t symbol = v;
      for (uint32_t r = 0; r < 4; r++)
        if (piece == kRepeats[r]) symbol = static_cast<uint8_t>(12 + r);
      symbols->push_back(symbol);
    }
    start = end;
  }
  return true;
}

bool WriteColourBundle(BitWriter* writer, ColourCoder* coder, const uint8_t* values,
                       uint32_t count, BundleMode mode) {
  bool equal = AllEqual(values, count);
  if (mode == BUNDLE_MODE_FILL || (mode == BUNDLE_MODE_AUTO && equal)) {
    if (!equal) return false;
    BitWriterPut(writer, 1, 1);
    WriteColour(writer, coder, values[0]);
    return true;
  }
  BitWriterPut(writer, 0, 1);
  for (uint32_t i = 0; i < count; i++) WriteColour(writer, coder, values[i]);
  return true;
}

void WritePatternBundle(BitWriter* writer, const CodeTree& tree, const uint8_t* values,
                        uint32_t count) {
  TreeCodeTable codes(tree);
  for (uint32_t i = 0; i < count; i++) {
    codes.Put(writer, values[i] & 15);
    codes.Put(writer, values[i] >> 4);
  }
}

bool WriteOffsetBundle(BitWriter* writer, const CodeTree& tree, const int8_t* values,
                       uint32_t count, BundleMode mode) {
  for (uint32_t i = 0; i < count; i++)
    if (values[i] < -15 || values[i] > 15) return false;
  bool equal = AllEqual(reinterpret_cast<const uint8_t*>(values), count);
  if (mode == BUNDLE_MODE_FILL || (mode == BUNDLE_MODE_AUTO && equal)) {
    if (!equal) return false;
    BitWriterPut(writer, 1, 1);
    BitWriterPut(writer, Magnitude(values[0]), 4);
    if (values[0]) BitWriterPut(writer, values[0] < 0, 1);
    return true;
  }
  BitWriterPut(writer, 0, 1);
  TreeCodeTable codes(tree);
  for (uint32_t i = 0; i < count; i++) {
    // The sign, when there is one, follows the magnitude's code.
    uint32_t magnitude = Magnitude(values[i]), length = codes.length[magnitude];
    uint32_t signed_bit = magnitude != 0, negative = values[i] < 0;
    BitWriterPut(writer, codes.bits[magnitude] | negative << length, length + signed_bit);
  }
  return true;
}

bool WriteDcBundle(BitWriter* writer, const int16_t* values, uint32_t count, bool signed_start) {
  if (signed_start) {
    if (values[0] < -1023 || values[0] > 1023) return false;
    BitWriterPut(writer, Magnitude(values[0]), 10);
    if (values[0]) BitWriterPut(writer, values[0] < 0, 1);
  } else {
    if (values[0] < 0 || values[0] > 2047) return false;
    BitWriterPut(writer, static_cast<uint32_t>(values[0]), 11);
  }
  for (uint32_t start = 1; start < count; start += 8) {
    uint32_t end = std::min(count, start + 8);
    int32_t diffs[8];
    uint32_t length = 0;
    for (uint32_t i = start; i < end; i++) {
      // Differences wrap at 16 bits like the decoder's sums.
      diffs[i - start] = static_cast<int16_t>(static_cast<uint16_t>(values[i] - values[i - 1]));
      length = std::max(length, TopBitPlusOne(Magnitude(diffs[i - start])));
    }
    if (length > 15) return false;
    BitWriterPut(writer, length, 4);
    if (!length) continue;
    for (uint32_t i = start; i < end; i++) {
      BitWriterPut(writer, Magnitude(diffs[i - start]), length);
      if (diffs[i - start]) BitWriterPut(writer, diffs[i - start] < 0, 1);
    }
  }
  return true;
}

bool WriteRunBundle(BitWriter* writer, const CodeTree& tree, const uint8_t* values,
                    uint32_t count, BundleMode mode) {
  for (uint32_t i = 0; i < count; i++)
    if (values[i] > 15) return false;
  bool equal = AllEqual(values, count);
  if (mode == BUNDLE_MODE_FILL || (mode == BUNDLE_MODE_AUTO && equal)) {
    if (!equal) return false;
    BitWriterPut(writer, 1, 1);
    BitWriterPut(writer, values[0], 4);
    return true;
  }
  BitWriterPut(writer, 0, 1);
  TreeCodeTable codes(tree);
  for (uint32_t i = 0; i < count; i++) codes.Put(writer, values[i]);
  return true;
}
