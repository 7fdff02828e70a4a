#include "writer/video_syntax.h"

#include <algorithm>
#include <cstring>

#include "video/coeff_walk.h"

namespace {

uint32_t TopBitPlusOne(uint32_t v) {
  uint32_t bits = 0;
  while (v >> bits) bits++;
  return bits;
}

uint32_t Magnitude(int32_t v) { return static_cast<uint32_t>(v < 0 ? -v : v); }

void AppendBits(BitWriter* out, const BitWriter& in) {
  for (uint32_t w : in.words) BitWriterPut(out, w, 32);
  BitWriterPut(out, static_cast<uint32_t>(in.pending), in.pending_bits);
}

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

uint32_t PositionOf(const CodeTree& tree, uint32_t value) {
  for (uint32_t p = 0; p < 16; p++)
    if (tree.symbols[p] == value) return p;
  return 0;
}

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
  const PrefixCode& code = PREFIX_CODES[tree.table & 15][PositionOf(tree, value & 15)];
  BitWriterPutCode(writer, code.bits, code.length);
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
  static constexpr uint32_t kRunLengths[4] = {32, 12, 8, 4};  // symbols 15, 14, 13, 12
  uint32_t last = 0;
  for (uint32_t i = 0; i < count;) {
    if (mode == BUNDLE_MODE_AUTO) {
      uint32_t same = 0;
      while (i + same < count && values[i + same] == last) same++;
      int symbol = -1;
      for (int r = 0; r < 4 && symbol < 0; r++)
        if (same >= kRunLengths[r]) symbol = 15 - r;
      if (symbol >= 0) {
        WriteTreeValue(writer, tree, static_cast<uint32_t>(symbol));
        i += kRunLengths[15 - symbol];
        continue;
      }
    }
    if (values[i] >= 12) return false;  // 12..15 only exist as fills
    WriteTreeValue(writer, tree, values[i]);
    last = values[i++];
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
  for (uint32_t i = 0; i < count; i++) {
    WriteTreeValue(writer, tree, values[i] & 15);
    WriteTreeValue(writer, tree, values[i] >> 4);
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
  for (uint32_t i = 0; i < count; i++) {
    WriteTreeValue(writer, tree, Magnitude(values[i]));
    if (values[i]) BitWriterPut(writer, values[i] < 0, 1);
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
  for (uint32_t i = 0; i < count; i++) WriteTreeValue(writer, tree, values[i]);
  return true;
}

// ---- Coefficients and residues ------------------------------------------------

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

// ---- Planes -------------------------------------------------------------------

void PlaneSyntaxInit(PlaneSyntax* plane, uint32_t width8, uint32_t height8, bool old_colours) {
  plane->width8 = width8;
  plane->height8 = height8;
  plane->old_colours = old_colours;
  for (int b = 0; b < BUNDLE_COUNT; b++) {
    plane->trees[b] = CodeTreeIdentity(0);
    plane->modes[b] = BUNDLE_MODE_AUTO;
  }
  for (int i = 0; i < 16; i++) plane->colour_high[i] = CodeTreeIdentity(0);
  plane->rows.assign(height8 / 8, PlaneRowSyntax{});
}

void PlaneSyntaxChooseTrees(PlaneSyntax* plane) {
  uint32_t counts[BUNDLE_COUNT][16] = {};
  uint32_t high[16][16] = {};
  uint32_t context = 0;
  for (const PlaneRowSyntax& row : plane->rows) {
    for (int b : {BUNDLE_BLOCK_TYPES, BUNDLE_SUB_BLOCK_TYPES, BUNDLE_RUNS})
      for (int32_t v : row.values[b]) counts[b][v & 15]++;
    for (int b : {BUNDLE_X_OFFSET, BUNDLE_Y_OFFSET})
      for (int32_t v : row.values[b]) counts[b][Magnitude(v) & 15]++;
    for (int32_t v : row.values[BUNDLE_PATTERN]) {
      counts[BUNDLE_PATTERN][v & 15]++;
      counts[BUNDLE_PATTERN][(v >> 4) & 15]++;
    }
    for (int32_t v : row.values[BUNDLE_COLOURS]) {
      uint32_t coded = ColourCodeValue(static_cast<uint8_t>(v), plane->old_colours);
      counts[BUNDLE_COLOURS][coded & 15]++;
      high[context][coded >> 4]++;
      context = coded >> 4;
    }
  }
  for (int b = 0; b < BUNDLE_COUNT; b++)
    if (b != BUNDLE_INTRA_DC && b != BUNDLE_INTER_DC) plane->trees[b] = CodeTreeForHistogram(counts[b]);
  for (int c = 0; c < 16; c++) plane->colour_high[c] = CodeTreeForHistogram(high[c]);
}

namespace {

bool WriteRefill(const PlaneSyntax& plane, int b, const std::vector<int32_t>& values,
                 ColourCoder* coder, BitWriter* out) {
  uint32_t count = static_cast<uint32_t>(values.size());
  WriteBundleCount(out, BundleCountBits(b, plane.width8), count);
  if (count == 0) return true;
  std::vector<uint8_t> bytes(count);
  for (uint32_t i = 0; i < count; i++) bytes[i] = static_cast<uint8_t>(values[i]);
  BundleMode mode = plane.modes[b];
  switch (b) {
    case BUNDLE_BLOCK_TYPES:
    case BUNDLE_SUB_BLOCK_TYPES:
      return WriteTypeBundle(out, plane.trees[b], bytes.data(), count, mode);
    case BUNDLE_COLOURS:
      return WriteColourBundle(out, coder, bytes.data(), count, mode);
    case BUNDLE_PATTERN:
      WritePatternBundle(out, plane.trees[b], bytes.data(), count);
      return true;
    case BUNDLE_X_OFFSET:
    case BUNDLE_Y_OFFSET:
      for (int32_t v : values)
        if (v < -15 || v > 15) return false;
      return WriteOffsetBundle(out, plane.trees[b], reinterpret_cast<const int8_t*>(bytes.data()),
                               count, mode);
    case BUNDLE_INTRA_DC:
    case BUNDLE_INTER_DC: {
      std::vector<int16_t> dc(values.begin(), values.end());
      return WriteDcBundle(out, dc.data(), count, b == BUNDLE_INTER_DC);
    }
    default:
      return WriteRunBundle(out, plane.trees[b], bytes.data(), count, mode);
  }
}

}  // namespace

bool WritePlane(const PlaneSyntax& plane, BitWriter* out) {
  bool ok = WriteCodeTree(out, plane.trees[BUNDLE_BLOCK_TYPES]) &&
            WriteCodeTree(out, plane.trees[BUNDLE_SUB_BLOCK_TYPES]);
  for (int c = 0; c < 16; c++) ok = ok && WriteCodeTree(out, plane.colour_high[c]);
  for (int b : {BUNDLE_COLOURS, BUNDLE_PATTERN, BUNDLE_X_OFFSET, BUNDLE_Y_OFFSET, BUNDLE_RUNS})
    ok = ok && WriteCodeTree(out, plane.trees[b]);
  ColourCoder coder;
  std::memcpy(coder.high, plane.colour_high, sizeof(coder.high));
  coder.low = plane.trees[BUNDLE_COLOURS];
  coder.old_colours = plane.old_colours;
  // Per bundle: values written but not yet taken, and whether a 0 count ended it.
  size_t pending[BUNDLE_COUNT] = {};
  bool ended[BUNDLE_COUNT] = {};
  size_t rows = plane.rows.size();
  for (size_t r = 0; r < rows && ok; r++) {
    for (int b = 0; b < BUNDLE_COUNT && ok; b++) {
      if (ended[b] || pending[b]) continue;
      // The decoder refills now: with this row's values, or else those of the
      // next row that has any (they wait as leftovers); a count of 0 only
      // when no later row needs the bundle.
      size_t k = r;
      while (k < rows && plane.rows[k].values[b].empty()) k++;
      if (k == rows) {
        WriteBundleCount(out, BundleCountBits(b, plane.width8), 0);
        ended[b] = true;
        continue;
      }
      ok = WriteRefill(plane, b, plane.rows[k].values[b], &coder, out);
      pending[b] = plane.rows[k].values[b].size();
    }
    for (int b = 0; b < BUNDLE_COUNT; b++) {
      size_t used = plane.rows[r].values[b].size();
      if (used > pending[b]) ok = false;  // values nothing wrote (cannot happen)
      pending[b] -= std::min(used, pending[b]);
    }
    AppendBits(out, plane.rows[r].fields);
  }
  BitWriterAlign(out);
  return ok;
}

bool WritePlaneBytes(const PlaneSyntax& plane, std::vector<uint8_t>* out) {
  BitWriter writer;
  bool ok = WritePlane(plane, &writer);
  BitWriterAppendBytes(&writer, out);
  return ok;
}

void PutBlockType(PlaneRowSyntax* row, uint32_t type) {
  row->values[BUNDLE_BLOCK_TYPES].push_back(static_cast<int32_t>(type));
}

void PutSubBlockType(PlaneRowSyntax* row, uint32_t sub_type) {
  row->values[BUNDLE_SUB_BLOCK_TYPES].push_back(static_cast<int32_t>(sub_type));
}

void PutMotionContent(PlaneRowSyntax* row, int32_t x, int32_t y) {
  row->values[BUNDLE_X_OFFSET].push_back(x);
  row->values[BUNDLE_Y_OFFSET].push_back(y);
}

void PutFillContent(PlaneRowSyntax* row, uint8_t colour) {
  row->values[BUNDLE_COLOURS].push_back(colour);
}

void PutPatternContent(PlaneRowSyntax* row, uint8_t c0, uint8_t c1, const uint8_t pattern[8]) {
  row->values[BUNDLE_COLOURS].push_back(c0);
  row->values[BUNDLE_COLOURS].push_back(c1);
  for (int i = 0; i < 8; i++) row->values[BUNDLE_PATTERN].push_back(pattern[i]);
}

void PutRawContent(PlaneRowSyntax* row, const uint8_t colours[64]) {
  for (int i = 0; i < 64; i++) row->values[BUNDLE_COLOURS].push_back(colours[i]);
}

void PutRunContent(PlaneRowSyntax* row, uint32_t scan, const uint8_t pixels[64]) {
  BitWriterPut(&row->fields, scan, 4);
  uint8_t seq[64];
  for (int i = 0; i < 64; i++) seq[i] = pixels[RUN_SCANS[scan & 15][i]];
  std::vector<int32_t>& colours = row->values[BUNDLE_COLOURS];
  uint32_t i = 0;
  while (i < 63) {
    uint32_t same = 1;
    while (i + same < 64 && same < 16 && seq[i + same] == seq[i]) same++;
    if (same >= 2) {
      BitWriterPut(&row->fields, 1, 1);
      row->values[BUNDLE_RUNS].push_back(static_cast<int32_t>(same - 1));
      colours.push_back(seq[i]);
      i += same;
      continue;
    }
    // A literal stretch up to where two equal colours begin a fill run.
    uint32_t n = 1;
    while (i + n < 64 && n < 16 && !(i + n + 1 < 64 && seq[i + n] == seq[i + n + 1])) n++;
    BitWriterPut(&row->fields, 0, 1);
    row->values[BUNDLE_RUNS].push_back(static_cast<int32_t>(n - 1));
    for (uint32_t k = 0; k < n; k++) colours.push_back(seq[i + k]);
    i += n;
  }
  if (i == 63) colours.push_back(seq[63]);
}

void PutIntraContent(PlaneRowSyntax* row, int16_t dc, const int16_t coeffs[64], uint32_t q) {
  row->values[BUNDLE_INTRA_DC].push_back(dc);
  WriteDctCoefficients(&row->fields, coeffs, q);
}

void PutInterContent(PlaneRowSyntax* row, int32_t x, int32_t y, int16_t dc,
                     const int16_t coeffs[64], uint32_t q) {
  PutMotionContent(row, x, y);
  row->values[BUNDLE_INTER_DC].push_back(dc);
  WriteDctCoefficients(&row->fields, coeffs, q);
}

void PutResidueContent(PlaneRowSyntax* row, int32_t x, int32_t y, const int8_t residue[64],
                       int8_t decoded[64]) {
  PutMotionContent(row, x, y);
  WriteResidue(&row->fields, residue, decoded);
}

// ---- Frames -------------------------------------------------------------------

namespace {

void PutLe32(std::vector<uint8_t>* out, uint32_t v) {
  for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

std::vector<uint8_t> AssembleVideoFrame(const std::vector<uint8_t>& luma,
                                        const std::vector<uint8_t>* chroma_first,
                                        const std::vector<uint8_t>* chroma_second,
                                        const std::vector<uint8_t>* alpha, bool luma_size_word) {
  std::vector<uint8_t> out;
  if (alpha) {
    PutLe32(&out, static_cast<uint32_t>(4 + alpha->size()));
    out.insert(out.end(), alpha->begin(), alpha->end());
  }
  if (luma_size_word) PutLe32(&out, static_cast<uint32_t>(4 + luma.size()));
  out.insert(out.end(), luma.begin(), luma.end());
  if (chroma_first) out.insert(out.end(), chroma_first->begin(), chroma_first->end());
  if (chroma_second) out.insert(out.end(), chroma_second->begin(), chroma_second->end());
  return out;
}
