// The common drivers behind every family: the full copy, the changed-block
// copy and the planar copy of format 15.
#pragma once
#include <cstddef>
#include <cstdint>

#include "convert/families.h"

// The scratch lines of the line-doubled modes, kept between a movie's copies.
struct ConvertScratch {
  uint8_t* bytes;
  size_t size;
};
void ConvertScratchRelease(ConvertScratch* scratch);

// One copy's geometry, in decoded-frame coordinates for the source.
struct CopyArgs {
  uint8_t* dest;           // first byte of the destination buffer (line 0)
  int32_t dest_x, dest_y;  // destination pixel and line
  intptr_t pitch;          // signed distance between destination lines
  const uint8_t* frame;    // frame buffer: luma, then the first and second chroma plane
  const uint8_t* alpha;    // alpha plane with the luma pitch, or null
  uint32_t src_x, src_y, src_width, src_height;
  uint32_t plane_width, plane_height;  // luma pitch and rows of the frame buffer
  uint32_t flags;                      // copy flags
  ConvertScratch* scratch;             // null: line-doubled groups are converted twice
};

void FamilyFullCopy(const FamilyDescriptor& family, const CopyArgs& args);
// Converts only the 16x16 cells whose map entries are set, then the strip right
// of the last whole cell and the band below the last whole band in full.
void FamilyChangedCopy(const FamilyDescriptor& family, const CopyArgs& args,
                       const uint8_t* block_map, uint32_t blocks_per_row, uint32_t block_rows);
// Format 15: even-aligned luma rectangle plus the two quarter chroma
// rectangles laid below dest_height lines.
void PlanarCopy(const CopyArgs& args, uint32_t dest_height);

