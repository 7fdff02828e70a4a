// The writer's side of the video decoder's bundles (video/bundles.cc):
// code-tree headers, tree-coded values and what follows a refill's count for
// each bundle kind.
#pragma once
#include <cstdint>

#include "video/bundles.h"
#include "video/video_tables.h"
#include "writer/bit_writer.h"

// ---- Code trees -------------------------------------------------------------
CodeTree CodeTreeIdentity(uint32_t table);
// Table 0 header (identity symbols).
void WriteCodeTreeTable0(BitWriter* writer);
// Explicit list of count (1..8) distinct values; the rest follow in order.
void WriteCodeTreeExplicit(BitWriter* writer, uint32_t table, const uint8_t* list,
                           uint32_t count);
// Merged order with `passes` (1..4) merge passes aiming at symbols; returns
// false (writing nothing) when that many passes cannot produce it.
bool WriteCodeTreeMerged(BitWriter* writer, uint32_t table, uint32_t passes,
                         const uint8_t symbols[16]);
// The cheapest header giving tree (table 0 requires the identity); false if
// none can.
bool WriteCodeTree(BitWriter* writer, const CodeTree& tree);
// A tree whose shortest codes go to the most frequent values.
CodeTree CodeTreeForHistogram(const uint32_t counts[16]);
void WriteTreeValue(BitWriter* writer, const CodeTree& tree, uint32_t value);
uint32_t TreeValueLength(const CodeTree& tree, uint32_t value);

// ---- Bundle contents ----------------------------------------------------------
enum BundleMode : uint8_t {
  BUNDLE_MODE_AUTO,   // fill when all values agree (and fit); type runs where they pay
  BUNDLE_MODE_PLAIN,  // no fill bit set, every value through the tree, no type runs
  BUNDLE_MODE_FILL,   // fill (all values must be equal)
};

// Colour coding state, carried across refills of one plane.
struct ColourCoder {
  CodeTree high[16];
  CodeTree low;
  uint32_t context = 0;
  bool old_colours = false;
};
// The 8-bit coded value whose decoding stores byte (old format: 0 is not
// representable and is coded as 1).
uint32_t ColourCodeValue(uint8_t byte, bool old_colours);

// The type reader's symbols for values[0, count) that cost the fewest bits
// when symbol s takes lengths[s] bits: each value either as itself (0..11)
// or inside a repeat symbol (12..15: 4, 8, 12 or 32 more of the last value,
// which starts as 0). Appends them to *symbols; false if a value above 11
// has no repeat to carry it.
bool ParseTypeSymbols(const uint8_t* values, uint32_t count, const uint8_t lengths[16],
                      std::vector<uint8_t>* symbols);
// Code lengths of the sixteen values under a tree.
void TreeLengths(const CodeTree& tree, uint8_t lengths[16]);

// Count field of a refill; count 0 ends the bundle for the rest of the plane.
void WriteBundleCount(BitWriter* writer, uint32_t count_bits, uint32_t count);
// What follows a non-zero count for each reader kind. Return false when the
// values cannot be coded in that mode (nothing sensible is written then).
bool WriteTypeBundle(BitWriter* writer, const CodeTree& tree, const uint8_t* values,
                     uint32_t count, BundleMode mode);
bool WriteColourBundle(BitWriter* writer, ColourCoder* coder, const uint8_t* values,
                       uint32_t count, BundleMode mode);
void WritePatternBundle(BitWriter* writer, const CodeTree& tree, const uint8_t* values,
                        uint32_t count);
bool WriteOffsetBundle(BitWriter* writer, const CodeTree& tree, const int8_t* values,
                       uint32_t count, BundleMode mode);
// Intra (signed_start false: first value 0..2047) or inter (-1023..1023).
bool WriteDcBundle(BitWriter* writer, const int16_t* values, uint32_t count, bool signed_start);
bool WriteRunBundle(BitWriter* writer, const CodeTree& tree, const uint8_t* values,
                    uint32_t count, BundleMode mode);
