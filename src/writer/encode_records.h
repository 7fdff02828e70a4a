// The records the encoder's parts share: the input picture, the encoder's
// options and per-frame figures, motion offsets, the learnt bit costs, the
// speed plan, and what the plane encoder takes and gives back. The block
// coder, the motion search, the refill planner and the tree chooser work on
// these without reaching up to the plane or frame encoders.
#pragma once
#include <cstdint>
#include <vector>

#include "video/video_tables.h"
#include "writer/encode_kernels.h"

struct BlockChoice;

// One input picture, planar, tightly packed: luma width x height, the two
// chroma planes ((width + 1) / 2) x ((height + 1) / 2), alpha (when the movie
// has alpha) width x height.
struct VideoPicture {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> y, u, v, a;
};

// Bits of VideoEncoderOptions::allowed_types, one per block type value
// (BT_* of the decoder's tables).
inline constexpr uint32_t kAllBlockTypes = (1u << BLOCK_TYPE_COUNT) - 1;

struct VideoEncoderOptions {
  uint32_t width = 0, height = 0;
  char version = 'i';            // 'f', 'g', 'h' or 'i'
  bool grey = false;             // luma only
  bool alpha = false;            // an alpha plane per frame
  int quality = 75;              // 1 (smallest) .. 100 (best)
  uint32_t keyint = 300;         // a key frame at least every keyint frames (0: only the first)
  bool scene_cuts = true;        // a key frame where prediction stops paying
  int speed = 5;                 // 0 (best rate-distortion) .. 9 (fastest)
  // The fastest speed's shortcuts that would make a measuring pass differ
  // from the slower speed it stands for: pictures that keep coding cheaper
  // as key frames (grain, noise) are coded as key frames for a few frames
  // without trying the inter coding, and a row's own offset is searched
  // for one round of steps. Off for a measuring pass whose frames stand
  // for a slower speed's.
  bool fastest_shortcuts = true;
  uint32_t threads = 1;          // workers; the coded movie is the same for any count
  // Block types the encoder may choose from (bit t = type t); key frames
  // never use the ones that read the previous frame. Tests narrow it to
  // exercise one coding at a time.
  uint32_t allowed_types = kAllBlockTypes;
  // Doubled sub-types allowed (bit t = sub-type t of 3, 5, 6, 8, 9).
  uint32_t allowed_sub_types = (1u << 3) | (1u << 5) | (1u << 6) | (1u << 8) | (1u << 9);
};

// What one frame cost and how good it is. Planes: 0 luma, 1 U, 2 V, 3 alpha.
struct VideoFrameStats {
  bool key = false;
  // The frame was coded both ways, inter and key, to keep the cheaper one.
  bool coded_twice = false;
  // Block-type values coded, all planes together (a doubled area counts on
  // both of its block rows).
  uint32_t block_types[BLOCK_TYPE_COUNT] = {};
  uint32_t sub_types[BLOCK_TYPE_COUNT] = {};  // doubled blocks by sub-type
  uint64_t plane_bits[4] = {};
  double sse[4] = {};           // squared error over the visible picture
  uint64_t samples[4] = {};
};

// A motion offset; both parts -15..15.
struct MotionVector {
  int8_t x = 0, y = 0;
};

// Estimated bit costs the block decisions use for bundle values, learnt per
// plane kind from the last coded plane of that kind.
struct PlaneCostModel {
  float type_bits[BLOCK_TYPE_COUNT] = {3, 5, 3, 6, 5, 4, 4, 4, 6, 7};
  float colour_bits = 6.5f;
  float offset_bits = 4.0f;   // average of one offset value
  // One offset value by value (index value + 15), x and y apart: a pan makes
  // one offset common and nearly free (often a whole refill in fill form).
  float x_offset_bits[31] = {}, y_offset_bits[31] = {};
  bool offsets_learnt = false;
  // One offset value in a refill that is not a fill (its code under the
  // last plane's tree, and the sign): what a row pays per value when its
  // offsets are not all equal. Set once a plane has been coded.
  float x_literal_bits[31] = {}, y_literal_bits[31] = {};
  bool literals_learnt = false;
  float run_bits = 3.0f;
  float pattern_bits = 7.0f;  // one pattern byte
  int base_q = 8;             // centre of the quantiser numbers tried
};

// How hard the block decisions work, from the encoder's speed setting
// (0 = best rate-distortion ... 9 = fastest).
struct SpeedPlan {
  // Motion search (MotionSearchArgs::mode): 0 every offset of the range;
  // 1 every offset near the best predictor, a coarse grid and steps;
  // 2 every offset near the best predictor and steps, the grid only when
  // they match poorly; 3 predictors and steps.
  int search = 1;
  int quantiser_span = 3;      // quantiser numbers tried each way from the usual one
  bool residue = true;         // pixel residues tried
  bool two_colour = true;      // two-colour blocks tried (else only when nothing else fits)
  bool runs = true;            // run blocks tried (likewise)
  // A prediction with at most this squared error per sample, cheap enough,
  // ends the block's decision before the picture codings are tried.
  double good_prediction = 1.0;
  // The fastest settings take such a prediction whatever its bits.
  bool good_prediction_ends = false;
  // A plain copy (kept or moved) with at most this squared error per sample
  // ends the decision before any transform is tried (0: never).
  double good_copy = 0;
  // After a prediction, the picture codings only when its SAD is above the
  // block's activity (absolute differences from its mean).
  bool picture_when_poor = false;
  bool trim_levels = true;     // chosen transform blocks' levels trimmed for rate
  bool coherent_rows = true;   // rows of copies offered one offset component, or all keeps
  bool refine_offsets = true;  // copies in rows of mixed offsets moved to cheaper values
  // The plane's common motion searched first and offered to the motion
  // search and to each row of copies as one offset for all (hand-held
  // pictures, pans).
  bool common_offset = true;
  // Rounds of steps that search a row's own offset from the common one
  // (a row of a turning picture moves a little more or less).
  int common_row_rounds = 8;
};
// fastest_shortcuts: VideoEncoderOptions::fastest_shortcuts.
SpeedPlan SpeedPlanFor(int speed, bool fastest_shortcuts = true);

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
  // The block choices' storage, kept by the caller from plane to plane (a
  // choice is large: allocating and clearing a plane's worth each time was
  // a twentieth of the fastest speed's time). Null: the plane uses its own.
  std::vector<BlockChoice>* choice_store = nullptr;
  // Lambda scales per 16x16 luma area (area_cols to a row; a block's area
  // is its block coordinates shifted right by area_shift: 1 for luma, 0 for
  // chroma): where later frames copy much of a block, its errors cost more.
  // Null: every block takes `lambda`.
  const float* area_scales = nullptr;
  uint32_t area_cols = 0, area_rows = 0, area_shift = 0;
  // When set, receives every block's type value (BT_DOUBLED for each of a
  // doubled area's four blocks), cols to a row.
  std::vector<uint8_t>* block_types = nullptr;
};

struct PlaneEncodeResult {
  uint32_t block_types[BLOCK_TYPE_COUNT] = {};
  uint32_t sub_types[BLOCK_TYPE_COUNT] = {};
  uint32_t quantisers[16] = {};  // transform blocks by quantiser number
  uint32_t reading_blocks = 0;  // blocks that read the previous frame
  double sse = 0;               // squared error over the coded area
  double bits = 0;              // estimated bits of the blocks (plane overhead excluded)
  uint32_t blocks = 0;
};
