// The plane encoder: walks one plane in 8x8 blocks (16x16 for doubled
// ones), lets the block coder pick each block's coding, rebuilds the block
// into the reconstruction exactly as the decoder will, and gathers the
// bundle values and bit-stream fields of the plane's syntax.
#pragma once
#include "writer/encode_records.h"
#include "writer/plane_syntax.h"

// Fills *syntax (initialised here) with the plane's coding and writes the
// reconstruction.
void EncodePlane(const PlaneEncodeArgs& args, PlaneSyntax* syntax, PlaneEncodeResult* result);
