// How many later frames see a block's error. A block that the next frame
// copies (keeps or moves) hands its error on unchanged, and that frame's
// copy hands it on again, until a block that codes its picture afresh ends
// the chain: an error left in the first frames of a shot is seen in many
// frames, one in the frame before a cut only once. The measuring pass
// records for every 8x8 luma block of every frame where its prediction came
// from and how much of the error there it keeps; walking a run of frames
// backwards from its last frame then gives each block the number of later
// frames' blocks that inherit its error, and from that a lambda for the
// frame: lower where more of its picture lives on.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "writer/encode_records.h"

// One 8x8 luma block of a frame as the measuring pass coded it.
struct BlockFlow {
  float carried = 0;  // share of its source's error the block keeps (0: not predicted)
  MotionVector mv;    // where its prediction lay in the frame before
};

// A plane's flows from its block types (BT_* per block) and offsets.
// Copies keep the whole error of their source; predictions with a coded
// correction (transform or residue) keep a part; the rest keep nothing.
void BlockFlowsFromTypes(const uint8_t* types, const MotionVector* vectors, size_t blocks,
                         std::vector<BlockFlow>* flows);

// frames[t] holds the flows of frame t of a run whose first frame predicts
// from nothing before the run (a key frame). Returns, per frame and block,
// how many later blocks of the run inherit the block's error (each counted
// by the share of the block it covers and the share of error it keeps).
std::vector<std::vector<float>> PropagateFlows(const std::vector<std::vector<BlockFlow>>& frames,
                                               uint32_t cols, uint32_t rows);

// The factor on a frame's lambda: its blocks' errors are seen w times on
// average (1 + what later blocks inherit), and the frame is worth
// w^-strength of the movie's lambda.
double FrameLambdaScale(const std::vector<float>& inherited, double strength);

// Each 16x16 luma area's factor on the frame's lambda (area_cols =
// (cols + 1) / 2 to a row): an area whose blocks are seen fewer times than
// the frame's on average gets (its w / the frame's w)^-strength, the others
// keep the frame's lambda. (Lowering lambda below the frame's where more
// is inherited would be as right, but near the lambda where camera noise
// starts to be coded it tips such areas into coding the noise, and the
// frame's bytes far over what the rate control planned.)
std::vector<float> AreaLambdaScales(const std::vector<float>& inherited, uint32_t cols,
                                    uint32_t rows, double strength);

// Near the lambda where camera noise starts to be coded, the measuring
// pass can alternate between frames that keep the picture and frames that
// code the noise afresh, and so their scales between low and high; the
// final pass would then swing across that lambda and miss its plan by far.
// Holds each of a run's n scales to at most `step` times its neighbours'
// (the lower one wins): such a stretch takes its lowest scale throughout.
void LimitScaleSteps(double* scales, size_t n, double step);
