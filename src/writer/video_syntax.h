// The writer-side mirror of the video decoder's readers: code-tree headers,
// tree-coded values, the contents of each bundle kind, coefficients,
// residues, and a plane assembler that interleaves bundle refills with the
// blocks' own bit-stream fields exactly as the decoder reads them.
//
// Building a plane: PlaneSyntaxInit, then for every block in decode order its
// type (PutBlockType) and content (Put...Content) into the row it belongs
// to; a doubled block on an even row is PutBlockType(BT_DOUBLED),
// PutSubBlockType(sub) and the sub-type's content, and the row below carries
// a bare PutBlockType(BT_DOUBLED) for each of its two columns' pair. Then
// optionally PlaneSyntaxChooseTrees and finally WritePlane.
#pragma once
#include <cstdint>
#include <vector>

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

// ---- Bit-stream fields of blocks ----------------------------------------------
// Coefficients 1..63 of coeffs (natural positions; coeffs[0] is ignored,
// magnitudes above 32767 are clamped) and the 4-bit quantiser number.
void WriteDctCoefficients(BitWriter* writer, const int16_t coeffs[64], uint32_t q);
// The 7-bit count field and the residue (natural positions). A residue
// needing more than 128 operations is cut after the 128th; decoded receives
// what the decoder will rebuild (natural positions).
void WriteResidue(BitWriter* writer, const int8_t residue[64], int8_t decoded[64]);

// ---- Planes -------------------------------------------------------------------
struct PlaneRowSyntax {
  std::vector<int32_t> values[BUNDLE_COUNT];  // taken in this order by the row's blocks
  BitWriter fields;                           // the blocks' own bit-stream fields
};

struct PlaneSyntax {
  uint32_t width8 = 0, height8 = 0;  // decoded size, multiples of 8
  bool old_colours = false;
  CodeTree trees[BUNDLE_COUNT];      // entries for the DC bundles are unused
  CodeTree colour_high[16];
  BundleMode modes[BUNDLE_COUNT];
  std::vector<PlaneRowSyntax> rows;  // height8 / 8
};

void PlaneSyntaxInit(PlaneSyntax* plane, uint32_t width8, uint32_t height8, bool old_colours);
// Picks every tree from the values gathered so far.
void PlaneSyntaxChooseTrees(PlaneSyntax* plane);
// Appends the plane: trees, then per row the refills and the row's fields;
// ends word-aligned. False if some bundle content could not be coded.
bool WritePlane(const PlaneSyntax& plane, BitWriter* out);
// The same, as bytes.
bool WritePlaneBytes(const PlaneSyntax& plane, std::vector<uint8_t>* out);

void PutBlockType(PlaneRowSyntax* row, uint32_t type);
void PutSubBlockType(PlaneRowSyntax* row, uint32_t sub_type);
void PutMotionContent(PlaneRowSyntax* row, int32_t x, int32_t y);
void PutFillContent(PlaneRowSyntax* row, uint8_t colour);
void PutPatternContent(PlaneRowSyntax* row, uint8_t c0, uint8_t c1, const uint8_t pattern[8]);
void PutRawContent(PlaneRowSyntax* row, const uint8_t colours[64]);
// pixels in rows; runs of equal colours along the scan become fill runs.
void PutRunContent(PlaneRowSyntax* row, uint32_t scan, const uint8_t pixels[64]);
void PutIntraContent(PlaneRowSyntax* row, int16_t dc, const int16_t coeffs[64], uint32_t q);
void PutInterContent(PlaneRowSyntax* row, int32_t x, int32_t y, int16_t dc,
                     const int16_t coeffs[64], uint32_t q);
void PutResidueContent(PlaneRowSyntax* row, int32_t x, int32_t y, const int8_t residue[64],
                       int8_t decoded[64]);

// ---- Frames -------------------------------------------------------------------
// One frame's video data: alpha section (size word and plane) when alpha is
// given, the luma-size word when luma_size_word (version i), luma, and the
// chroma planes when given.
std::vector<uint8_t> AssembleVideoFrame(const std::vector<uint8_t>& luma,
                                        const std::vector<uint8_t>* chroma_first,
                                        const std::vector<uint8_t>* chroma_second,
                                        const std::vector<uint8_t>* alpha, bool luma_size_word);
