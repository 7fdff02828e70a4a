// The plane encoder: walks one plane in 8x8 blocks (16x16 for doubled
// ones), lets the block coder pick each block's coding, rebuilds the block
// into the reconstruction exactly as the decoder will, and gathers the
// bundle values and bit-stream fields of the plane's syntax.
#pragma once
#include <cstdint>
#include <vector>

#include "writer/encode_kernels.h"
#include "writer/video_encoder.h"
#include "writer/video_syntax.h"

// A motion offset; both parts -15..15.
struct MotionVector {
  int8_t x = 0, y = 0;
};

// Estimated bit costs the block decisions use for bundle values, learnt per
// plane kind from the last coded plane of that kind.
struct PlaneCostModel {
  float type_bits[kVideoBlockTypes] = {3, 5, 3, 6, 5, 4, 4, 4, 6, 7};
  float colour_bits = 6.5f;
  float offset_bits = 4.0f;   // average of one offset value
  // One offset value by value (index value + 15), x and y apart: a pan makes
  // one offset common and nearly free (often a whole refill in fill form).
  float x_offset_bits[31] = {}, y_offset_bits[31] = {};
  bool offsets_learnt = false;
  float run_bits = 3.0f;
  float pattern_bits = 7.0f;  // one pattern byte
  int base_q = 8;             // centre of the quantiser numbers tried
};

// How hard the block decisions work, from the encoder's speed setting
// (0 = best rate-distortion ... 9 = fastest).
struct SpeedPlan {
  // Motion search: 0 every offset of the range; 1 a coarse grid, every offset
  // near the best and steps; 2 predictors and steps, the grid only when they
  // match poorly; 3 predictors and steps.
  int search = 1;
  int quantiser_span = 3;      // quantiser numbers tried each way from the usual one
  bool residue = true;         // pixel residues tried
  bool two_colour = true;      // two-colour blocks tried (else only when nothing else fits)
  bool runs = true;            // run blocks tried (likewise)
  // A prediction with at most this squared error per sample, cheap enough,
  // ends the block's decision before the picture codings are tried.
  double good_prediction = 1.0;
};
SpeedPlan SpeedPlanFor(int speed);

struct PlaneEncodeArgs {
  const uint8_t* source;   // padded source plane, `pitch` apart, width8 x height8 valid
  const uint8_t* prev;     // previous reconstruction of the plane (decoder layout)
  uint8_t* recon;          // reconstruction of this frame's plane
  uint32_t width8, height8, pitch;
  bool key;                // only codings that do not read the previous frame
  bool old_colours;        // colour byte 0 cannot be coded
  double lambda;           // squared error per bit
  int base_q;              // centre of the quantiser numbers tried, 0..15
  uint32_t allowed_types, allowed_sub_types;
  PlaneCostModel* model;
  // Motion offsets of the plane's blocks from the previous frame, refreshed
  // with this frame's (one per block; sized by the caller).
  std::vector<MotionVector>* vectors;
  // Chroma planes: the luma plane's offsets of this frame (luma blocks
  // guide_cols to a row), halved into search candidates. Null otherwise.
  const std::vector<MotionVector>* guide = nullptr;
  uint32_t guide_cols = 0;
  SpeedPlan speed;
  uint32_t threads = 1;  // workers for the block decisions (the result does not depend on it)
  const EncodeKernels* kernels = nullptr;  // the encoder's (must be set)
};

struct PlaneEncodeResult {
  uint32_t block_types[kVideoBlockTypes] = {};
  uint32_t sub_types[kVideoBlockTypes] = {};
  uint32_t quantisers[16] = {};  // transform blocks by quantiser number
  uint32_t reading_blocks = 0;  // blocks that read the previous frame
  double sse = 0;               // squared error over the coded area
  double bits = 0;              // estimated bits of the blocks (plane overhead excluded)
  uint32_t blocks = 0;
};

// Fills *syntax (initialised here) with the plane's coding and writes the
// reconstruction.
void EncodePlane(const PlaneEncodeArgs& args, PlaneSyntax* syntax, PlaneEncodeResult* result);
