// Code trees and the nine value bundles of a plane decode. Bundles are
// refilled at the start of every block row and then consumed value by value
// by the block loop. Every count is checked against its buffer and every take
// against what was filled: a stream that breaks either sets `fault`, which
// the block loop turns into abandoning the plane.
#pragma once
#include <cstdint>
#include <cstring>

#include "video/bit_reader.h"
#include "video/video_tables.h"

// One of the sixteen prefix codes with a permutation: a decoded code's
// position p gives the value symbols[p].
struct CodeTree {
  uint8_t table;        // 0..15
  uint8_t symbols[16];  // a permutation of 0..15
};

CodeTree ReadCodeTree(BitReader* reader);

// The prefix decoding table: for each table, indexed by the next 7 bits in
// reading order, (code length << 4) | position. A code read in stream order
// is its written bits reversed, so every index whose low `length` bits equal
// the reversed code maps to that position.
struct PrefixLookup {
  uint8_t entry[PREFIX_TABLE_COUNT][128];
};

constexpr PrefixLookup BuildPrefixLookup() {
  PrefixLookup lookup{};
  for (int t = 0; t < PREFIX_TABLE_COUNT; t++) {
    for (int p = 0; p < 16; p++) {
      uint32_t length = PREFIX_CODES[t][p].length;
      uint32_t reversed = 0;
      for (uint32_t i = 0; i < length; i++)
        reversed |= ((PREFIX_CODES[t][p].bits >> (length - 1 - i)) & 1u) << i;
      for (uint32_t rest = 0; rest < (128u >> length); rest++)
        lookup.entry[t][reversed | (rest << length)] = static_cast<uint8_t>(length << 4 | p);
    }
  }
  return lookup;
}

inline constexpr PrefixLookup PREFIX_LOOKUP = BuildPrefixLookup();

inline uint32_t DecodeValue(BitReader* reader, const CodeTree* tree) {
  uint32_t entry = PREFIX_LOOKUP.entry[tree->table & 15][BitReaderPeek(reader, 7)];
  BitReaderSkip(reader, entry >> 4);
  return tree->symbols[entry & 15];
}

struct Bundle {
  uint8_t* buffer;
  uint32_t capacity;    // elements the buffer holds (bytes, or 16-bit values for DC)
  uint32_t read, end;   // next element to take; one past the last filled
  uint32_t count_bits;  // width of the count field
  uint32_t ended;       // a count of 0 was read: no more values in this plane
  uint32_t* fault;      // shared flag set by an impossible take or count
  CodeTree tree;
};

struct BundleSet {
  Bundle bundles[BUNDLE_COUNT];
  CodeTree colour_high[16];  // high-nibble trees by colour context
  uint32_t colour_context;   // high nibble of the last colour decoded
  uint32_t old_colours;      // colours are sign-and-magnitude around 128
  uint32_t fault;
};

// Count-field width of a bundle for a plane of (decoded) width w8.
uint32_t BundleCountBits(int bundle, uint32_t w8);

// Sets up the nine empty bundles over the movie's buffers, sized for a luma
// plane w16 wide, with count fields for a plane w8 wide.
void BundleSetInit(BundleSet* set, uint8_t* const buffers[BUNDLE_COUNT], uint32_t w16,
                   uint32_t w8, uint32_t old_colours);
// Reads the plane's code trees in stream order; the colour context starts at 0.
void BundleSetReadTrees(BundleSet* set, BitReader* reader);
// The start-of-row refill of all nine bundles, in bundle order.
void BundleSetRefill(BundleSet* set, BitReader* reader);

// The six readers, each one refill (count field and values) of one bundle.
void BundleRefillTypes(Bundle* bundle, BitReader* reader);
void BundleRefillColours(BundleSet* set, BitReader* reader);
void BundleRefillPattern(Bundle* bundle, BitReader* reader);
void BundleRefillOffsets(Bundle* bundle, BitReader* reader);
void BundleRefillDc(Bundle* bundle, BitReader* reader, bool signed_start);
void BundleRefillRuns(Bundle* bundle, BitReader* reader);

inline uint32_t BundleTake(Bundle* bundle) {
  if (bundle->read >= bundle->end) {
    *bundle->fault = 1;
    return 0;
  }
  return bundle->buffer[bundle->read++];
}

inline int32_t BundleTakeSigned(Bundle* bundle) {
  return static_cast<int8_t>(BundleTake(bundle));
}

inline int32_t BundleTakeDc(Bundle* bundle) {
  if (bundle->read >= bundle->end) {
    *bundle->fault = 1;
    return 0;
  }
  int16_t v;
  std::memcpy(&v, bundle->buffer + 2 * bundle->read++, 2);
  return v;
}
