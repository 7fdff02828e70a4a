#include "video/bundles.h"

namespace {

// Values of a bundle per block row of a plane w8 wide: the N whose width,
// plus 511, sizes the bundle's count field.
uint32_t BundleRowValues(int bundle, uint32_t w8) {
  uint32_t blocks = w8 / 8;
  switch (bundle) {
    case BUNDLE_SUB_BLOCK_TYPES: return w8 / 16;
    case BUNDLE_COLOURS: return 64 * blocks;
    case BUNDLE_PATTERN: return w8;
    case BUNDLE_RUNS: return 48 * blocks;
    default: return blocks;
  }
}

void StoreDc(uint8_t* buffer, uint32_t index, uint16_t value) {
  std::memcpy(buffer + 2 * index, &value, 2);
}

// The common start of every refill. Returns the count of values to read, 0
// when nothing is to be read (leftovers, ended, or a count that ends it).
uint32_t BundleRefillStart(Bundle* bundle, BitReader* reader) {
  if (bundle->ended || bundle->read < bundle->end) return 0;
  uint32_t count = ReadBits(reader, bundle->count_bits);
  bundle->read = bundle->end = 0;
  if (count == 0) {
    bundle->ended = 1;
    return 0;
  }
  if (count > bundle->capacity) {  // the stream promised more than a buffer holds
    *bundle->fault = 1;
    bundle->ended = 1;
    return 0;
  }
  bundle->end = count;
  return count;
}

// The reader copied into a local for the length of one refill: the byte
// stores into a bundle buffer may alias anything, and would otherwise force
// the reader's fields through memory on every value.
struct LocalReader {
  BitReader* shared;
  BitReader r;
  explicit LocalReader(BitReader* reader) : shared(reader), r(*reader) {}
  ~LocalReader() { *shared = r; }
};

void FillBytes(uint8_t* dest, uint8_t value, uint32_t count) { std::memset(dest, value, count); }

uint8_t DecodeColour(BundleSet* set, BitReader* reader) {
  uint32_t hi = DecodeValue(reader, &set->colour_high[set->colour_context]);
  set->colour_context = hi;
  uint32_t lo = DecodeValue(reader, &set->bundles[BUNDLE_COLOURS].tree);
  uint32_t v = hi * 16 + lo;
  if (!set->old_colours) return static_cast<uint8_t>(v);
  return static_cast<uint8_t>((v & 0x80) ? 128 - (v & 127) : 128 + (v & 127));
}

}  // namespace

uint32_t BundleCountBits(int bundle, uint32_t w8) {
  uint32_t n = BundleRowValues(bundle, w8) + 511;
  uint32_t bits = 0;
  while (n >> bits) bits++;
  return bits < 15 ? bits : 15;
}

void BundleBuffersSize(uint32_t w16, uint32_t sizes[BUNDLE_COUNT]) {
  uint32_t k = w16 / 8;
  sizes[BUNDLE_BLOCK_TYPES] = (k + 515) & ~3u;
  sizes[BUNDLE_SUB_BLOCK_TYPES] = (w16 / 16 + 515) & ~3u;
  sizes[BUNDLE_COLOURS] = 64 * k + 512;
  sizes[BUNDLE_PATTERN] = 8 * k + 512;
  sizes[BUNDLE_X_OFFSET] = (k + 515) & ~3u;
  sizes[BUNDLE_Y_OFFSET] = (k + 515) & ~3u;
  sizes[BUNDLE_INTRA_DC] = (2 * k + 1027) & ~3u;
  sizes[BUNDLE_INTER_DC] = (2 * k + 1027) & ~3u;
  sizes[BUNDLE_RUNS] = 48 * k + 512;
}

CodeTree ReadCodeTree(BitReader* reader) {
  CodeTree tree;
  tree.table = static_cast<uint8_t>(ReadBits(reader, 4));
  for (int i = 0; i < 16; i++) tree.symbols[i] = static_cast<uint8_t>(i);
  if (tree.table == 0) return tree;
  if (ReadBit(reader)) {
    // Explicit list, then the values it did not name in increasing order. A
    // list naming a value twice would leave the table short of a value; the
    // repeat is dropped so the symbols stay a permutation.
    uint32_t listed = ReadBits(reader, 3) + 1;
    bool used[16] = {};
    uint32_t n = 0;
    for (uint32_t i = 0; i < listed; i++) {
      uint32_t v = ReadBits(reader, 4);
      if (!used[v]) {
        used[v] = true;
        tree.symbols[n++] = static_cast<uint8_t>(v);
      }
    }
    for (uint32_t v = 0; v < 16; v++)
      if (!used[v]) tree.symbols[n++] = static_cast<uint8_t>(v);
    return tree;
  }
  uint32_t passes = ReadBits(reader, 2) + 1;
  uint8_t merged[16];
  for (uint32_t size = 1, pass = 0; pass < passes; pass++, size *= 2) {
    for (uint32_t start = 0; start < 16; start += 2 * size) {
      const uint8_t* a = tree.symbols + start;
      const uint8_t* b = a + size;
      uint32_t ia = 0, ib = 0, out = start;
      while (ia < size && ib < size) merged[out++] = ReadBit(reader) ? b[ib++] : a[ia++];
      while (ia < size) merged[out++] = a[ia++];
      while (ib < size) merged[out++] = b[ib++];
    }
    std::memcpy(tree.symbols, merged, 16);
  }
  return tree;
}

void BundleSetInit(BundleSet* set, uint8_t* const buffers[BUNDLE_COUNT], uint32_t w16,
                   uint32_t w8, uint32_t old_colours) {
  uint32_t sizes[BUNDLE_COUNT];
  BundleBuffersSize(w16, sizes);
  set->fault = 0;
  set->colour_context = 0;
  set->old_colours = old_colours;
  for (int b = 0; b < BUNDLE_COUNT; b++) {
    Bundle* bundle = &set->bundles[b];
    bundle->buffer = buffers[b];
    bool dc = b == BUNDLE_INTRA_DC || b == BUNDLE_INTER_DC;
    bundle->capacity = dc ? sizes[b] / 2 : sizes[b];
    bundle->read = bundle->end = 0;
    bundle->count_bits = BundleCountBits(b, w8);
    bundle->ended = 0;
    bundle->fault = &set->fault;
    bundle->tree = CodeTree{0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
  }
}

void BundleSetReadTrees(BundleSet* set, BitReader* reader) {
  set->bundles[BUNDLE_BLOCK_TYPES].tree = ReadCodeTree(reader);
  set->bundles[BUNDLE_SUB_BLOCK_TYPES].tree = ReadCodeTree(reader);
  for (int i = 0; i < 16; i++) set->colour_high[i] = ReadCodeTree(reader);
  set->bundles[BUNDLE_COLOURS].tree = ReadCodeTree(reader);
  set->bundles[BUNDLE_PATTERN].tree = ReadCodeTree(reader);
  set->bundles[BUNDLE_X_OFFSET].tree = ReadCodeTree(reader);
  set->bundles[BUNDLE_Y_OFFSET].tree = ReadCodeTree(reader);
  set->bundles[BUNDLE_RUNS].tree = ReadCodeTree(reader);
  set->colour_context = 0;
}

void BundleRefillTypes(Bundle* bundle, BitReader* reader) {
  uint32_t count = BundleRefillStart(bundle, reader);
  if (count == 0) return;
  LocalReader local(reader);
  BitReader* in = &local.r;
  const CodeTree tree = bundle->tree;
  uint8_t* const out = bundle->buffer;
  if (ReadBit(in)) {
    FillBytes(out, static_cast<uint8_t>(ReadBits(in, 4)), count);
    return;
  }
  static constexpr uint32_t kRunLengths[4] = {4, 8, 12, 32};
  uint32_t last = 0;
  uint32_t n = 0;
  while (n < count) {
    uint32_t s = DecodeValue(in, &tree);
    if (s < 12) {
      out[n++] = static_cast<uint8_t>(s);
      last = s;
    } else {
      uint32_t run = kRunLengths[s - 12];
      if (run > count - n) run = count - n;  // a run past the count is cut there
      FillBytes(out + n, static_cast<uint8_t>(last), run);
      n += run;
    }
  }
}

void BundleRefillColours(BundleSet* set, BitReader* reader) {
  Bundle* bundle = &set->bundles[BUNDLE_COLOURS];
  uint32_t count = BundleRefillStart(bundle, reader);
  if (count == 0) return;
  LocalReader local(reader);
  BitReader* in = &local.r;
  uint8_t* const out = bundle->buffer;
  if (ReadBit(in)) {
    FillBytes(out, DecodeColour(set, in), count);
    return;
  }
  for (uint32_t n = 0; n < count; n++) out[n] = DecodeColour(set, in);
}

void BundleRefillPattern(Bundle* bundle, BitReader* reader) {
  uint32_t count = BundleRefillStart(bundle, reader);
  LocalReader local(reader);
  BitReader* in = &local.r;
  const CodeTree tree = bundle->tree;
  uint8_t* const out = bundle->buffer;
  for (uint32_t n = 0; n < count; n++) {
    uint32_t lo = DecodeValue(in, &tree);
    uint32_t hi = DecodeValue(in, &tree);
    out[n] = static_cast<uint8_t>(hi << 4 | lo);
  }
}

void BundleRefillOffsets(Bundle* bundle, BitReader* reader) {
  uint32_t count = BundleRefillStart(bundle, reader);
  if (count == 0) return;
  LocalReader local(reader);
  BitReader* in = &local.r;
  const CodeTree tree = bundle->tree;
  uint8_t* const out = bundle->buffer;
  if (ReadBit(in)) {
    int32_t v = static_cast<int32_t>(ReadBits(in, 4));
    if (v && ReadBit(in)) v = -v;
    FillBytes(out, static_cast<uint8_t>(v), count);
    return;
  }
  for (uint32_t n = 0; n < count; n++) {
    int32_t v = static_cast<int32_t>(DecodeValue(in, &tree));
    if (v && ReadBit(in)) v = -v;
    out[n] = static_cast<uint8_t>(v);
  }
}

void BundleRefillDc(Bundle* bundle, BitReader* reader, bool signed_start) {
  uint32_t count = BundleRefillStart(bundle, reader);
  if (count == 0) return;
  LocalReader local(reader);
  BitReader* in = &local.r;
  uint8_t* const out = bundle->buffer;
  uint32_t value;  // 16-bit two's complement, sums wrap
  if (signed_start) {
    value = ReadBits(in, 10);
    if (value && ReadBit(in)) value = 0u - value;
  } else {
    value = ReadBits(in, 11);
  }
  StoreDc(out, 0, static_cast<uint16_t>(value));
  for (uint32_t n = 1; n < count;) {
    uint32_t group_end = n + 8 < count ? n + 8 : count;
    uint32_t length = ReadBits(in, 4);
    for (; n < group_end; n++) {
      if (length) {
        uint32_t d = ReadBits(in, length);
        if (d && ReadBit(in)) d = 0u - d;
        value += d;
      }
      StoreDc(out, n, static_cast<uint16_t>(value));
    }
  }
}

void BundleRefillRuns(Bundle* bundle, BitReader* reader) {
  uint32_t count = BundleRefillStart(bundle, reader);
  if (count == 0) return;
  LocalReader local(reader);
  BitReader* in = &local.r;
  const CodeTree tree = bundle->tree;
  uint8_t* const out = bundle->buffer;
  if (ReadBit(in)) {
    FillBytes(out, static_cast<uint8_t>(ReadBits(in, 4)), count);
    return;
  }
  for (uint32_t n = 0; n < count; n++)
    out[n] = static_cast<uint8_t>(DecodeValue(in, &tree));
}

void BundleSetRefill(BundleSet* set, BitReader* reader) {
  Bundle* b = set->bundles;
  BundleRefillTypes(&b[BUNDLE_BLOCK_TYPES], reader);
  BundleRefillTypes(&b[BUNDLE_SUB_BLOCK_TYPES], reader);
  BundleRefillColours(set, reader);
  BundleRefillPattern(&b[BUNDLE_PATTERN], reader);
  BundleRefillOffsets(&b[BUNDLE_X_OFFSET], reader);
  BundleRefillOffsets(&b[BUNDLE_Y_OFFSET], reader);
  BundleRefillDc(&b[BUNDLE_INTRA_DC], reader, false);
  BundleRefillDc(&b[BUNDLE_INTER_DC], reader, true);
  BundleRefillRuns(&b[BUNDLE_RUNS], reader);
}
