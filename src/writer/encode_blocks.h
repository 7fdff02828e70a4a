// The block coder: every coding of one 8x8 block (or the 8x8 image of a
// doubled 16x16 area) with its reconstruction, squared error and estimated
// bits. The reconstruction always comes from the decoder's own block
// operations.
#pragma once
#include <cstdint>

#include "writer/bit_writer.h"
#include "writer/encode_records.h"

struct BlockChoice {
  uint8_t type = 0;          // BT_*
  uint8_t sub_type = 0;      // doubled blocks
  MotionVector mv;
  uint8_t q = 0;
  uint8_t scan = 0;
  uint8_t colours[2] = {};   // fill (colours[0]) and pattern colours
  uint8_t pattern[8] = {};
  int16_t dc = 0;
  // Left unset until a coding fills what it uses (the coders try many
  // candidates per block; clearing them each time was a tenth of the time):
  // coeffs by transform blocks, residue by residue blocks, pixels by raw and
  // run blocks, and recon by every coding (64 bytes, 256 for doubled).
  int16_t coeffs[64];        // natural positions, [0] unused
  int8_t residue[64];
  uint8_t pixels[64];        // raw colours / run pixels (the 8x8 image for doubled)
  uint8_t recon[256];        // rows of 8 (16 for doubled)
  double sse = 0;
  double bits = 0;
  double cost = 1e300;
};

// What the coder needs to know about the block being coded.
struct BlockContext {
  const uint8_t* source;     // 64 source samples in rows (the 2x2 means for doubled)
  const uint8_t* source16;   // doubled: 256 source samples in rows; else null
  const PlaneEncodeArgs* args;
  // Set when no coding has been offered yet: the coders then skip the
  // shortcuts that leave a block to a cheaper coding.
  bool must = false;
  // The type value coded just before this block's in its row, -1 when not
  // known (the first block of a row, or not decided yet).
  int left_type = -1;
};

// Scratch for bit counting, reused across blocks.
struct BlockScratch {
  BitWriter writer;
};

// Bits of a doubled area's type values (the type on each of its two block
// rows and the sub-type): what every doubled coding pays at the least.
double DoubledTypeBits(const PlaneCostModel& model);

// count: 64 or 256.
double BlockSse(const EncodeKernels& kernels, const uint8_t* a, const uint8_t* b, uint32_t count);

// Each function fills *out when its coding beats out->cost. `prediction` is
// the 8x8 motion-compensated block of the previous plane.
void TryFill(const BlockContext& ctx, BlockChoice* out);
void TryPattern(const BlockContext& ctx, BlockChoice* out);
void TryRaw(const BlockContext& ctx, BlockChoice* out);
void TryRuns(const BlockContext& ctx, BlockChoice* out);
void TryIntra(const BlockContext& ctx, BlockChoice* out);
void TryCopy(const BlockContext& ctx, uint8_t type, MotionVector mv, const uint8_t prediction[64],
             BlockChoice* out);
void TryInter(const BlockContext& ctx, MotionVector mv, const uint8_t prediction[64],
              BlockChoice* out);
void TryResidue(const BlockContext& ctx, MotionVector mv, const uint8_t prediction[64],
                BlockScratch* scratch, BlockChoice* out);

// Lowers the levels of a chosen intra or inter block that do not pay for
// their bits (prediction: the inter block's, else unused), keeping the
// result when it costs less.
void TrimChoice(const BlockContext& ctx, const uint8_t prediction[64], BlockChoice* choice);

// Runs the 8x8 codings of a doubled sub-type on the area's 2x2 means and
// scores them against the 16x16 source; `out` gets type BT_DOUBLED.
void TryDoubled(const BlockContext& ctx, BlockChoice* out);
