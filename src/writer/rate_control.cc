#include "writer/rate_control.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kMinLambda = kRateLeastLambda, kMaxLambda = kRateMostLambda;
// Seconds over which an unknown-length movie pays back what it is ahead or
// behind, and that the average complexity remembers.
constexpr uint64_t kUnknownHorizon = 1;
constexpr uint64_t kMemorySeconds = 2;

double PerFrame(const RateControl* rc) {
  return rc->options.bytes_per_second / rc->options.frames_per_second;
}

// The most a planned lambda changes from one frame to the next.
constexpr double kPlanStep = 1.15;

// How this pass compares with the plan: the frames of the next
// kPlanNearSeconds follow the last kRecentSeconds (a shot this pass codes
// dearer than the measuring pass did tells at once), frames further on a
// memory of kLongSeconds (a passage that differs for a while does not set
// the lambda of the whole movie).
constexpr double kPlanNearSeconds = 2, kRecentSeconds = 0.5, kLongSeconds = 10;
// Below this many times the finest lambda the next frames follow the
// longer memory too, and nothing is kept back for the end (see
// NearPlanRatio).
constexpr double kNearFinest = 100;
// The last kReserveSeconds keep back kReserveShare of their bytes until
// they begin (at most kReserveMost of the movie's): a final pass that costs
// half as much again as planned over its last seconds then takes lambda up
// there about twice rather than five times; when the plan was right they
// are coded a little finer than the rest.
constexpr double kReserveSeconds = 2, kReserveShare = 0.3, kReserveMost = 0.05;

bool Planned(const RateControl* rc) { return rc->frames < rc->plan_c.size(); }

bool NearFinest(const RateControl* rc) {
  return rc->last_planned > 0 && rc->last_planned < kNearFinest * kMinLambda;
}

uint64_t FramesOf(const RateControl* rc, double seconds) {
  return static_cast<uint64_t>(std::max(1.0, std::round(seconds * rc->window)));
}

// This pass's video bytes over the plan's prediction at the lambdas used
// for the frames further on, starting from a second's worth of frames at 1.
double PlanRatio(const RateControl* rc) {
  double prior = PerFrame(rc) * rc->window;
  return (rc->video_done + prior) / (rc->planned_done + prior);
}

// The same for the next frames: the last frames', starting from the
// longer memory's ratio with a weight of a second's frames (at their even
// share of what is left) that shrinks to a tenth of that over the first
// second (the first frames, a key frame among them, say little yet).
double PlannedShare(const RateControl* rc);

double NearPlanRatio(const RateControl* rc) {
  double frames = std::max(0.1 * rc->window, static_cast<double>(rc->window) -
                                                 static_cast<double>(rc->frames));
  double prior = frames * PlannedShare(rc);
  // Near the finest lambda, where pictures are coded almost losslessly,
  // bytes follow the plan's model poorly (a frame takes several times the
  // one before at about the same lambda): the next frames follow the longer
  // memory there, or lambda chases each jump and the bytes saved cannot be
  // spent at the end.
  if (NearFinest(rc)) return PlanRatio(rc);
  return (rc->video_recent + prior * PlanRatio(rc)) / (rc->planned_recent + prior);
}

uint64_t FramesLeft(const RateControl* rc) { return rc->plan_c.size() - rc->frames; }

// The video bytes the frames left (this one included) may take.
double PlannedVideoLeft(const RateControl* rc) {
  double per_frame = PerFrame(rc);
  double frames_left = static_cast<double>(FramesLeft(rc));
  double budget = per_frame * static_cast<double>(rc->plan_c.size());
  // Packets start at even offsets: half a byte each on average.
  double video_left = budget - static_cast<double>(rc->spent) - rc->plan_fixed_left -
                      0.5 * frames_left;
  // (No reserve near the finest lambda: the last frames could not use it.)
  if (FramesLeft(rc) > FramesOf(rc, kReserveSeconds) && !NearFinest(rc))
    video_left -= rc->plan_reserve;
  return std::max(video_left, 0.1 * per_frame * frames_left);
}

// An even share of the video bytes left for each frame left.
double PlannedShare(const RateControl* rc) {
  return PlannedVideoLeft(rc) / static_cast<double>(FramesLeft(rc));
}

// The lambda that makes the frames left take the bytes left. In the last
// second the frames left are counted as a whole second's, the missing ones
// as the movie's average frame with its even share of the video bytes:
// what the last few frames take beyond their plan is then not made up by
// the very last ones alone (a lambda many times the rest's, a frozen
// picture for a few bytes), at the cost of a movie a fraction of a
// second's bytes over.
double PlannedLambda(RateControl* rc) {
  // (Seconds the peak limit holds take its bytes, not the lambda's.)
  double near = std::max(rc->plan_c_near - rc->bound_c_near, 0.0);
  double far = std::max(rc->plan_c_left - rc->plan_c_near - (rc->bound_c_left - rc->bound_c_near), 0.0);
  double needed = std::max(NearPlanRatio(rc) * near + PlanRatio(rc) * far, 1.0);
  double video_left = std::max(PlannedVideoLeft(rc) - rc->bound_bytes_left,
                               0.1 * PerFrame(rc) * static_cast<double>(FramesLeft(rc)));
  double lambda = std::pow(needed / video_left, 1 / kRateExponent);
  const double frames_left = static_cast<double>(FramesLeft(rc));
  const double second = static_cast<double>(rc->window);
  if (frames_left < second && !NearFinest(rc)) {
    // (Only ever lowering lambda: bytes left over are still spent. Not near
    // the finest lambda, where frames jump several-fold at about one
    // lambda and the count would only let the movie end over.)
    const double average_c = rc->plan_c_total / static_cast<double>(rc->plan_c.size());
    needed += (second - frames_left) * NearPlanRatio(rc) * average_c;
    video_left += (second - frames_left) * rc->plan_video_per_frame;
    lambda = std::min(lambda, std::pow(needed / video_left, 1 / kRateExponent));
  }
  return lambda;
}

// The sums over the frames left, the next ones and all, after the plan changed.
void CountPlanLeft(RateControl* rc) {
  rc->plan_c_left = rc->plan_c_near = rc->plan_c_total = 0;
  for (double c : rc->plan_c) rc->plan_c_total += c;
  const size_t near_end = std::min<size_t>(rc->plan_c.size(), rc->frames + FramesOf(rc, kPlanNearSeconds));
  for (size_t k = rc->frames; k < rc->plan_c.size(); k++) {
    rc->plan_c_left += rc->plan_c[k];
    if (k < near_end) rc->plan_c_near += rc->plan_c[k];
  }
}

// One second of the frames left, as the peak limit sees it.
struct PlanSecond {
  size_t first, end;  // frames
  double c;           // the plan's complexity, scaled as this pass compares
  double room;        // video bytes the peak limit lets the second take
  double bound;       // below this lambda the second would take more than room
};

// Marks the seconds of the frames left that the peak limit will hold at the
// movie's lambda (see plan_peak_bound). The lambda is the one that makes
// the other seconds take the bytes the held ones leave: seconds are held
// in the order of the lambda below which each would pass its limit, each
// one held lowering the lambda of the rest, until the next would fit.
void MarkPeakBoundSeconds(RateControl* rc) {
  const size_t frames = rc->plan_c.size();
  rc->plan_peak_bound.assign(frames, 0);
  rc->plan_peak_bytes.assign(frames, 0);
  rc->bound_c_left = rc->bound_c_near = rc->bound_bytes_left = 0;
  rc->bound_marked_at = rc->frames;
  if (rc->frames >= frames) return;
  const double near_ratio = NearPlanRatio(rc), far_ratio = PlanRatio(rc);
  const size_t near_end = rc->frames + FramesOf(rc, kPlanNearSeconds);
  std::vector<PlanSecond> seconds;
  double c_left = 0;
  for (size_t first = rc->frames; first < frames; first += rc->window) {
    PlanSecond s{first, std::min<size_t>(first + rc->window, frames), 0, 0, 0};
    double fixed = 0;
    for (size_t k = s.first; k < s.end; k++) {
      s.c += (k < near_end ? near_ratio : far_ratio) * rc->plan_c[k];
      fixed += rc->plan_fixed[k];
    }
    s.room = std::max(kRatePeakRoom * PerFrame(rc) * static_cast<double>(s.end - s.first) - fixed, 0.0);
    s.bound = s.room > 0 ? std::pow(s.c / s.room, 1 / kRateExponent) : kMaxLambda;
    c_left += s.c;
    seconds.push_back(s);
  }
  std::sort(seconds.begin(), seconds.end(),
            [](const PlanSecond& a, const PlanSecond& b) { return a.bound > b.bound; });
  const double video_left = PlannedVideoLeft(rc);
  double bound_c = 0, bound_bytes = 0;
  for (const PlanSecond& s : seconds) {
    double free_bytes = video_left - bound_bytes;
    if (free_bytes <= 0 || c_left - bound_c <= 0) break;
    double lambda = std::pow((c_left - bound_c) / free_bytes, 1 / kRateExponent);
    if (s.bound <= lambda) break;  // fits under its limit at the lambda of the rest
    bound_c += s.c;
    bound_bytes += s.room;
    for (size_t k = s.first; k < s.end; k++) {
      rc->plan_peak_bound[k] = 1;
      rc->plan_peak_bytes[k] = s.room / static_cast<double>(s.end - s.first);
      rc->bound_c_left += rc->plan_c[k];
      if (k < near_end) rc->bound_c_near += rc->plan_c[k];
      rc->bound_bytes_left += rc->plan_peak_bytes[k];
    }
  }
}

// Books the plan's prediction and this pass's bytes of a frame.
void CompareWithPlan(RateControl* rc, double predicted, double video) {
  const double recent_keeps = 1 - 1.0 / static_cast<double>(FramesOf(rc, kRecentSeconds));
  const double long_keeps = 1 - 1.0 / static_cast<double>(FramesOf(rc, kLongSeconds));
  rc->planned_recent = recent_keeps * rc->planned_recent + predicted;
  rc->video_recent = recent_keeps * rc->video_recent + video;
  rc->planned_done = long_keeps * rc->planned_done + predicted;
  rc->video_done = long_keeps * rc->video_done + video;
}

}  // namespace

double RateControlComplexity(uint64_t video_bytes, double lambda) {
  if (lambda <= 0) return 0;
  return std::max<double>(static_cast<double>(video_bytes), 1.0) * std::pow(lambda, kRateExponent);
}

void RateControlSetPlan(RateControl* rc, std::vector<double> complexity,
                        std::vector<double> fixed_bytes) {
  fixed_bytes.resize(complexity.size());
  rc->plan_c = std::move(complexity);
  rc->plan_fixed = std::move(fixed_bytes);
  rc->plan_fixed_left = 0;
  for (double fixed : rc->plan_fixed) rc->plan_fixed_left += fixed;
  CountPlanLeft(rc);
  rc->options.total_frames = static_cast<uint32_t>(rc->plan_c.size());
  // The reserve, for a movie long enough that its last seconds are a small
  // part of it.
  const uint64_t tail = FramesOf(rc, kReserveSeconds);
  const double frames = static_cast<double>(rc->plan_c.size());
  const double video = std::max(PerFrame(rc) * frames - rc->plan_fixed_left, 0.0);
  rc->plan_video_per_frame = frames > 0 ? video / frames : 0;
  rc->plan_reserve = rc->plan_c.size() > 3 * tail
                         ? std::min(kReserveShare * static_cast<double>(tail) * video / frames,
                                    kReserveMost * video)
                         : 0;
  MarkPeakBoundSeconds(rc);
}

void RateControlSetPlanScales(RateControl* rc, std::vector<double> scales) {
  scales.resize(rc->plan_c.size(), 1.0);
  for (size_t k = 0; k < rc->plan_c.size(); k++) {
    if (!(scales[k] > 0)) scales[k] = 1;
    rc->plan_c[k] *= std::pow(scales[k], -kRateExponent);
  }
  CountPlanLeft(rc);
  rc->plan_scale = std::move(scales);
  MarkPeakBoundSeconds(rc);
}

namespace {

double PlanScale(const RateControl* rc) {
  return rc->frames < rc->plan_scale.size() ? rc->plan_scale[rc->frames] : 1.0;
}

}  // namespace

namespace {

// What the one-second stretch ending with this frame already holds, with
// what the frames still to come in the movie's first second will add to
// it: until a second has passed no frame leaves the stretch, so each later
// one adds what a frame takes at the least: its sound and a picture kept as
// it was, counted as the sound and a tenth of an average frame's bytes, or
// the smallest packet so far when that is less (not more: the first
// packets, a key frame among them, say nothing of how small the later ones
// can be). A key frame that took much of the first second otherwise let
// the small frames after it push that second over the limit.
double PeakHeld(const RateControl* rc, uint64_t audio_bytes) {
  double held = static_cast<double>(rc->recent_sum);
  const size_t slots = rc->window - 1;
  if (rc->recent.size() >= slots) return held;
  double least = static_cast<double>(audio_bytes) + 0.1 * PerFrame(rc);
  if (!rc->recent.empty())
    least = std::min(least, static_cast<double>(*std::min_element(rc->recent.begin(), rc->recent.end())));
  return held + static_cast<double>(slots - rc->recent.size()) * least;
}

}  // namespace

void RateControlInit(RateControl* rc, const RateControlOptions& options) {
  *rc = RateControl{};
  rc->options = options;
  if (rc->options.frames_per_second <= 0) rc->options.frames_per_second = 30;
  rc->window = static_cast<uint32_t>(std::max(1.0, std::round(rc->options.frames_per_second)));
  // Camera-like pictures take about 0.08 bytes per sample at lambda 1 and
  // fall with lambda^-kRateExponent; the first frames correct it.
  double samples = static_cast<double>(std::max<uint64_t>(options.samples_per_frame, 64));
  rc->log_c = std::log(0.08 * samples);
}

double RateControlLambda(RateControl* rc, uint64_t audio_bytes) {
  double per_frame = PerFrame(rc);
  double audio = static_cast<double>(audio_bytes);
  double room = kRatePeakRoom * per_frame * rc->window - PeakHeld(rc, audio_bytes) - audio;
  room = std::max(room, 0.25 * per_frame);
  if (Planned(rc)) {
    if (rc->frames >= rc->bound_marked_at + rc->window) MarkPeakBoundSeconds(rc);
    // The plan knows this frame's complexity, a key frame's included.
    // (The larger of the two ratios: a frame is refused for taking more
    // than it was expected to, and one shot cheaper than planned must not
    // make its neighbours look too dear.)
    double c = std::max(NearPlanRatio(rc), PlanRatio(rc)) * rc->plan_c[rc->frames];
    double lambda = PlannedLambda(rc);
    // Lambda moves only gradually from frame to frame: near a threshold
    // where bytes jump (camera noise coded or kept) the sum over many frames
    // finds the level instead of alternating between the two sides.
    if (rc->last_planned > 0)
      lambda = std::clamp(lambda, rc->last_planned / kPlanStep, rc->last_planned * kPlanStep);
    rc->last_planned = lambda;
    if (c > 0) lambda = std::max(lambda, std::pow(c / room, 1 / kRateExponent));
    rc->last_target = c > 0 ? std::max(c * std::pow(lambda, -kRateExponent), 16.0) : per_frame;
    lambda = std::clamp(lambda * PlanScale(rc), kMinLambda, kMaxLambda);
    rc->last_lambda = lambda;
    return lambda;
  }
  uint64_t left = rc->options.total_frames > rc->frames ? rc->options.total_frames - rc->frames
                                                        : kUnknownHorizon * rc->window;
  double spread = static_cast<double>(std::max<uint64_t>(left, rc->window / 4 + 1));
  double behind = rc->options.measuring
                      ? 0
                      : static_cast<double>(rc->spent) - per_frame * static_cast<double>(rc->frames);
  double average_target =
      std::clamp(per_frame - audio - behind / spread, 0.2 * per_frame, 3.0 * per_frame);
  double average_c = rc->averaged ? rc->average_c : std::exp(rc->log_c);
  // Inter frames of the last second simpler than the average's take the
  // lambda of their own complexity: still or nearly still pictures keep
  // their blocks at the average's lambda, and what they leave would not be
  // made up later (the frames after them may not take more either, and the
  // peak limit holds those that could), which left movies of varied shots
  // well below their rate. Harder pictures keep the average's lambda.
  if (rc->options.follow_simpler && rc->inters > 0 && rc->inter_second_c < rc->inter_average_c)
    average_c *= rc->inter_second_c / rc->inter_average_c;
  double lambda = std::pow(average_c / std::max(average_target, 16.0), 1 / kRateExponent);
  // Keep every second of frames below twice the average (with a margin for
  // the model's error): an inter frame is expected to take c x lambda^-k.
  double inter_c = std::exp(rc->log_c);
  lambda = std::max(lambda, std::pow(inter_c / room, 1 / kRateExponent));
  lambda = std::clamp(lambda, kMinLambda, kMaxLambda);
  rc->last_lambda = lambda;
  rc->last_target = std::max(inter_c * std::pow(lambda, -kRateExponent), 16.0);
  rc->last_share = average_target;
  return lambda;
}

double RateControlRetry(RateControl* rc, uint64_t video_bytes, bool key, double lambda,
                        uint64_t audio_bytes) {
  double per_frame = PerFrame(rc);
  double bytes = static_cast<double>(video_bytes);
  double peak_room = 1.9 * per_frame * rc->window - PeakHeld(rc, audio_bytes) -
                     static_cast<double>(audio_bytes);
  // Without a plan a key frame's size is not foreseen: anything up to half
  // a second's bytes is let through. After the first second any frame
  // (without a plan: any inter frame) is also let through while it takes at
  // most half a second's even share of what is left. Where the model
  // foresaw almost nothing (blocks kept, such as a still noisy shot, or
  // pictures already coded almost losslessly) the bytes jump from next to
  // nothing to several frames' worth at one lambda, and refusing the larger
  // side every time would leave the movie far below its rate; lambda
  // follows what such frames took instead, and the peak limit still holds.
  // In the first second the frames come down to the edge from above.
  const bool settled = rc->frames >= rc->window;
  const double share = Planned(rc) ? PlannedShare(rc) : rc->last_share;
  double limit = !Planned(rc) && key ? 0.5 * per_frame * rc->window
                 : !Planned(rc)      ? 4 * rc->last_target
                                     : 3 * rc->last_target;
  if (settled && (Planned(rc) || !key)) limit = std::max(limit, 0.5 * rc->window * share);
  limit = std::max(std::min(limit, peak_room), 0.25 * per_frame);
  if (bytes <= limit || lambda >= kMaxLambda) return 0;
  // Aim well inside the limit: the model's slope is only an estimate.
  double aim = 0.7 * limit;
  double scale = std::exp(std::log(bytes / aim) / kRateExponent);
  return std::min(lambda * std::max(scale, 1.5), kMaxLambda);
}

void RateControlDone(RateControl* rc, uint64_t packet_bytes, uint64_t video_bytes, bool key,
                     double lambda) {
  if (Planned(rc)) {
    double c = rc->plan_c[rc->frames];
    if (lambda > 0 && c > 0)
      CompareWithPlan(rc, c * std::pow(lambda / PlanScale(rc), -kRateExponent),
                      static_cast<double>(video_bytes));
    rc->plan_c_left -= c;
    rc->plan_c_near -= c;
    const size_t near_end = rc->frames + FramesOf(rc, kPlanNearSeconds);
    if (near_end < rc->plan_c.size()) rc->plan_c_near += rc->plan_c[near_end];
    if (rc->plan_peak_bound[rc->frames]) {
      rc->bound_c_left -= c;
      rc->bound_c_near -= c;
      rc->bound_bytes_left -= rc->plan_peak_bytes[rc->frames];
    }
    if (near_end < rc->plan_c.size() && rc->plan_peak_bound[near_end])
      rc->bound_c_near += rc->plan_c[near_end];
    rc->plan_fixed_left -= rc->plan_fixed[rc->frames];
    // An inter frame coded again at a higher lambda showed that the plan's
    // was too low: the next frames start halfway (in the logarithm) towards
    // it rather than try the plan's lambda again and be refused each time.
    // (A lambda raised only to keep the second below its peak says nothing
    // about the pictures.)
    if (!key && lambda > rc->last_lambda && lambda > rc->last_planned)
      rc->last_planned = std::sqrt(rc->last_planned * lambda);
  }
  rc->frames++;
  rc->spent += packet_bytes;
  rc->recent.push_back(packet_bytes);
  rc->recent_sum += packet_bytes;
  while (rc->recent.size() >= rc->window) {
    rc->recent_sum -= rc->recent.front();
    rc->recent.pop_front();
  }
  if (lambda <= 0) return;  // a frame reused as it was: its bytes only
  double observed = std::log(std::max<double>(static_cast<double>(video_bytes), 1.0)) +
                    kRateExponent * std::log(lambda);
  // The first key frame alone would say far too much about the frames
  // after it (an inter frame of such pictures takes about a quarter of its
  // bytes); later key frames count as they come.
  double c = std::exp(observed) / (key && rc->averaged == 0 ? 4.0 : 1.0);
  rc->averaged++;
  uint64_t memory = rc->options.total_frames ? rc->options.total_frames : kMemorySeconds * rc->window;
  double weight = 1.0 / static_cast<double>(std::min(rc->averaged, memory));
  rc->average_c += weight * (c - rc->average_c);
  if (key) {
    // Key frames cost more at the same lambda; before any inter frame they
    // are the only hint (an inter frame of such pictures takes about a
    // quarter of a key frame's bytes).
    if (!rc->inter_seen) rc->log_c = observed - std::log(4.0);
    return;
  }
  rc->log_c = rc->inter_seen ? 0.5 * rc->log_c + 0.5 * observed : observed;
  rc->inters++;
  double inter_c = std::exp(observed);
  rc->inter_average_c += (inter_c - rc->inter_average_c) /
                         static_cast<double>(std::min(rc->inters, memory));
  rc->inter_second_c += (inter_c - rc->inter_second_c) /
                        static_cast<double>(std::min<uint64_t>(rc->inters, rc->window));
  rc->inter_seen = true;
}
