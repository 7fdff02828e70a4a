// Rate control: picks the encoder's lambda for each frame so that the
// movie's frame packets (video and sound together) come to a requested data
// rate on average, with any one-second stretch of frames below twice that.
//
// The model: a frame's video bytes are about c x lambda^-kExponent, with c
// (the picture's complexity) learnt from the frames coded so far. Bits are
// worth most when every frame is coded with the same lambda, so lambda
// follows the movie's average complexity (key frames included) rather than
// each frame's share: a key frame or a harder shot takes more bytes, and
// the difference is paid back slowly, over the frames left when the length
// is known (else over a few seconds). Only the one-second peak limit makes
// a single frame's lambda rise. Pictures simpler than the average (a still
// shot, a dark one) follow their own complexity down instead: they often
// cannot take their share at the movie's lambda, and the bytes they leave
// would not be made up later.
//
// With a plan (a first, faster pass over the whole movie that measured each
// frame's complexity and the sound's bytes), lambda is the one that makes
// the frames left fit the bytes left, the plan's complexities scaled by how
// this pass's frames have compared with them: the next seconds by the last
// seconds, frames further on by a longer memory. Hard passages near the
// end are then known in advance instead of squeezing the last frames; and
// since where this pass differs from the plan is known only as it comes,
// a little is kept back for the last seconds, which cannot pass on to
// anything after them what they take beyond their plan.
#pragma once
#include <cstdint>
#include <deque>
#include <vector>

struct RateControlOptions {
  double bytes_per_second = 0;  // target for the frame packets
  double frames_per_second = 30;
  uint32_t total_frames = 0;    // 0: not known
  uint64_t samples_per_frame = 0;  // luma samples (the first guess of complexity)
  // The measuring pass of a plan: lambda follows the movie's average
  // complexity without paying back what it is ahead or behind, so that
  // every frame is measured near the lambda the final pass will give it
  // (complexities measured far from that extrapolate poorly).
  bool measuring = false;
  // Without a plan: pictures simpler than the movie's average so far take
  // the lambda of the last second's complexity (see below).
  // Off for a measuring pass, whose lambdas should stay steady.
  bool follow_simpler = true;
};

struct RateControl {
  RateControlOptions options;
  uint64_t frames = 0;       // frames done
  uint64_t spent = 0;        // packet bytes of the frames done
  double log_c = 0;          // inter frames
  bool inter_seen = false;
  double average_c = 0;      // c of all frames, key frames included (recent mean)
  uint64_t averaged = 0;     // frames in average_c
  // c of the inter frames: their mean over the movie's memory and over the
  // last second.
  double inter_average_c = 0, inter_second_c = 0;
  uint64_t inters = 0;
  std::deque<uint64_t> recent;  // packet bytes of the last window - 1 frames
  uint64_t recent_sum = 0;
  uint32_t window = 30;      // frames in one second
  double last_lambda = 0;
  double last_target = 0;    // video bytes aimed at for the current frame
  double last_share = 0;     // without a plan: the average video bytes aimed at
  // The plan, when there is one: per frame the first pass's complexity
  // (video bytes x lambda^kRateExponent; 0 for a frame reused as it was)
  // and the bytes that do not depend on lambda (sound, reused video).
  std::vector<double> plan_c;
  std::vector<double> plan_fixed;
  // Per frame, a factor on the frame's lambda (1: none): frames whose
  // picture later frames take over are coded better. plan_c then holds the
  // complexity at the movie's lambda, the factor included.
  std::vector<double> plan_scale;
  double plan_c_left = 0, plan_fixed_left = 0;  // sums over the frames not yet done
  double plan_c_near = 0;    // sum over the next kPlanNearSeconds of frames
  double plan_c_total = 0;   // sum over the movie
  // What the plan predicted for the frames done at the lambdas they had,
  // and what they took: over the last few seconds (the frames ahead are
  // most like these) and over a longer memory (for frames further on).
  double planned_recent = 0, video_recent = 0;
  double planned_done = 0, video_done = 0;
  // Bytes kept back for the last frames (where this pass taking more than
  // planned can no longer be spread), handed out when they begin.
  double plan_reserve = 0;
  double plan_video_per_frame = 0;  // the movie's video bytes over its frames
  double last_planned = 0;   // the plan's lambda of the frame before
  // Seconds of the plan that would take more at the movie's lambda than the
  // one-second peak limit lets them: the limit holds their frames to about
  // its bytes whatever lambda says, so the frames left are planned without
  // them (else the bytes they cannot take come back only at the end, where
  // little may be able to use them). Per frame whether its second is such a
  // one and its share of the limit's bytes; marked again every second.
  std::vector<uint8_t> plan_peak_bound;
  std::vector<double> plan_peak_bytes;
  double bound_c_left = 0, bound_c_near = 0, bound_bytes_left = 0;
  uint64_t bound_marked_at = 0;  // frames done when they were last marked
};

void RateControlInit(RateControl* rc, const RateControlOptions& options);
// Hands the controller the first pass's measurements, one entry per frame
// of the movie (before the first RateControlLambda call).
void RateControlSetPlan(RateControl* rc, std::vector<double> complexity,
                        std::vector<double> fixed_bytes);
// Factors on the planned frames' lambdas, one per frame of the plan (after
// RateControlSetPlan); the lambdas returned include them.
void RateControlSetPlanScales(RateControl* rc, std::vector<double> scales);
// The first pass's record of a frame coded with `lambda` (0: reused as it
// was, so all its bytes are fixed).
double RateControlComplexity(uint64_t video_bytes, double lambda);
// The lambda for the next frame, whose sound takes audio_bytes of its packet.
double RateControlLambda(RateControl* rc, uint64_t audio_bytes);
// After coding a frame with `lambda`: 0 when its video bytes are
// acceptable, else the lambda to code it again with. A frame is refused when
// it would push a one-second stretch above twice the average, or when it
// overshoots its share badly (an inter frame four times its aim, a key
// frame more than half a second's worth), which happens when the pictures
// are far from what the model expected (the first frames, a cut).
double RateControlRetry(RateControl* rc, uint64_t video_bytes, bool key, double lambda,
                        uint64_t audio_bytes);
// Books the frame just coded: its whole packet and its video bytes, coded
// with `lambda` (0 for a frame reused without coding: only its bytes count).
void RateControlDone(RateControl* rc, uint64_t packet_bytes, uint64_t video_bytes, bool key,
                     double lambda);

inline constexpr double kRateExponent = 0.45;
// What a one-second stretch of frame packets is let take, in average
// seconds' bytes (twice the average, less a margin for the model's error).
inline constexpr double kRatePeakRoom = 1.8;
// The finest and the coarsest lambda the controller gives.
inline constexpr double kRateLeastLambda = 0.02, kRateMostLambda = 200000;
