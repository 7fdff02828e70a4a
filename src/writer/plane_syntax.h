// A plane's syntax as the decoder reads it (video/plane_decoder.cc): the
// bundle values and bit-stream fields of every block row, and the writer
// that interleaves bundle refills with the rows' fields; also the frame
// around the coded planes.
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
#include "writer/bundle_writer.h"

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
