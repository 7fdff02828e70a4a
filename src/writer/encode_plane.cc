#include "writer/encode_plane.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "video/video_tables.h"
#include "writer/encode_blocks.h"
#include "writer/encode_motion.h"
#include "writer/encode_parallel.h"
#include "writer/encode_trees.h"

namespace {

constexpr uint32_t kReadingTypes =
    (1u << BT_KEEP) | (1u << BT_MOTION) | (1u << BT_RESIDUE) | (1u << BT_INTER);

constexpr double kNoCost = 1e299;  // below BlockChoice's "nothing chosen yet"

// The squared error of two 8x8 blocks `pitch` apart, or some value at or
// above `limit` once the lines so far reach it.
double SseBelow(const uint8_t* a, const uint8_t* b, uint32_t pitch, double limit) {
  int32_t sum = 0;
  for (uint32_t y = 0; y < 8; y++) {
    for (uint32_t x = 0; x < 8; x++) {
      int32_t d = int32_t{a[x]} - b[x];
      sum += d * d;
    }
    if (sum >= limit) break;
    a += pitch;
    b += pitch;
  }
  return sum;
}

// A block's offsets as the offset passes read them.
struct OffsetCarrier {
  MotionVector mv;
  uint8_t carries = 0;  // 1 carries offsets, 2 a plain move
};

struct PlaneWalk;
// A block's new coding, should its row take a common offset component.
struct RowMove {
  uint32_t bx;
  BlockChoice choice;
};

struct PlaneWalk {
  // The plane's arguments; args is them with the lambda of the block being
  // decided (AimAt) when the plane has lambda scales.
  const PlaneEncodeArgs* plane_args;
  const PlaneEncodeArgs* args;
  PlaneEncodeArgs block_args;
  uint32_t cols, rows;
  uint32_t allowed;
  // The offsets of the previous frame, read while this frame's are written.
  const std::vector<MotionVector>* prev_vectors;
  // The offset the plane as a whole seems to move by, when there is one.
  MotionVector common;
  bool has_common = false;
  BlockScratch scratch;
  std::vector<RowMove> moves, trial;  // scratch of the offset coherence pass
  std::vector<OffsetCarrier> carriers;  // scratch of the literal offset pass
  std::vector<uint8_t> mixed;
  std::vector<uint8_t> row_source;  // a block row's source blocks, 64 samples each

  const uint8_t* SourceAt(uint32_t bx, uint32_t by) const {
    return args->source + size_t{by} * 8 * args->pitch + bx * 8;
  }
  const uint8_t* PrevAt(uint32_t bx, uint32_t by, MotionVector mv) const {
    int64_t offset = (static_cast<int64_t>(by) * 8 + mv.y) * args->pitch +
                     static_cast<int64_t>(bx) * 8 + mv.x;
    return args->prev + offset;
  }
  MotionVector& VectorAt(uint32_t bx, uint32_t by) const {
    return (*args->vectors)[size_t{by} * cols + bx];
  }
  MotionVector PrevVectorAt(uint32_t bx, uint32_t by) const {
    return (*prev_vectors)[size_t{by} * cols + bx];
  }

  void AimAt(uint32_t bx, uint32_t by) {
    const PlaneEncodeArgs& p = *plane_args;
    args = plane_args;
    if (!p.area_scales) return;
    uint32_t ax = std::min(bx >> p.area_shift, p.area_cols - 1);
    uint32_t ay = std::min(by >> p.area_shift, p.area_rows - 1);
    block_args = p;
    block_args.lambda = p.lambda * p.area_scales[size_t{ay} * p.area_cols + ax];
    args = &block_args;
  }

  void Gather(const uint8_t* src, uint32_t pitch, uint32_t size, uint8_t* out) const {
    for (uint32_t y = 0; y < size; y++) std::memcpy(out + y * size, src + size_t{y} * pitch, size);
  }

  // Predictors for the motion search. This frame's offsets are read only
  // from blocks of the same pair of block rows, which one worker decides in
  // a fixed order; everything else comes from the previous frame, so the
  // choice never depends on how the rows were shared among workers.
  uint32_t Candidates(uint32_t bx, uint32_t by, MotionVector* out) const {
    uint32_t n = 0;
    out[n++] = PrevVectorAt(bx, by);
    size_t guide_index = size_t{by} * 2 * args->guide_cols + bx * 2;
    if (args->guide && guide_index < args->guide->size()) {
      MotionVector luma = (*args->guide)[guide_index];
      out[n++] = {static_cast<int8_t>(luma.x / 2), static_cast<int8_t>(luma.y / 2)};
    }
    if (bx > 0) out[n++] = VectorAt(bx - 1, by);
    if (by % 2 == 1) {
      out[n++] = VectorAt(bx, by - 1);
      if (bx + 1 < cols) out[n++] = VectorAt(bx + 1, by - 1);
    } else if (by > 0) {
      out[n++] = PrevVectorAt(bx, by - 1);
    }
    if (bx + 1 < cols) out[n++] = PrevVectorAt(bx + 1, by);
    if (by + 1 < rows) out[n++] = PrevVectorAt(bx, by + 1);
    return n;
  }

  // left_type: the type value coded just before the block, -1 unknown.
  BlockChoice Decide(uint32_t bx, uint32_t by, int left_type) {
    AimAt(bx, by);
    uint8_t source[64];
    Gather(SourceAt(bx, by), args->pitch, 8, source);
    BlockContext ctx{source, nullptr, args, false, left_type};
    BlockChoice best = DecideUntrimmed(ctx, bx, by);
    if (args->speed.trim_levels && (best.type == BT_INTER || best.type == BT_INTRA)) {
      uint8_t prediction[64];
      if (best.type == BT_INTER) Gather(PrevAt(bx, by, best.mv), args->pitch, 8, prediction);
      TrimChoice(ctx, prediction, &best);
    }
    return best;
  }

  BlockChoice DecideUntrimmed(BlockContext& ctx, uint32_t bx, uint32_t by) {
    BlockChoice best;
    const SpeedPlan& speed = args->speed;
    if (!args->key) {
      uint8_t prediction[64];
      Gather(PrevAt(bx, by, {}), args->pitch, 8, prediction);
      if (allowed & (1u << BT_KEEP)) {
        TryCopy(ctx, BT_KEEP, {}, prediction, &best);
        if (best.sse == 0) return best;  // nothing codes an unchanged block for less
      }
      MotionVector candidates[9];
      uint32_t n = Candidates(bx, by, candidates);
      if (has_common) candidates[n++] = common;
      MotionSearchArgs search{SourceAt(bx, by), args->pitch, args->prev, args->pitch,
                              bx * 8, by * 8, args->width8, args->height8, candidates, n,
                              speed.search};
      search.kernels = args->kernels;
      if (args->model->offsets_learnt) {
        // One bit is worth about sqrt(lambda) in SAD when lambda prices
        // squared error; the search charges less than that, because an
        // offset that matches worse leaves its error to every later frame
        // that copies the block, which the frame's own cost does not see.
        search.x_bits = args->model->x_offset_bits;
        search.y_bits = args->model->y_offset_bits;
        search.sad_per_bit = static_cast<float>(0.4 * std::sqrt(args->lambda));
      }
      uint32_t sad;
      MotionVector mv = MotionSearch(search, &sad);
      VectorAt(bx, by) = mv;
      Gather(PrevAt(bx, by, mv), args->pitch, 8, prediction);
      if ((allowed & (1u << BT_MOTION)) && (mv.x || mv.y || !(allowed & (1u << BT_KEEP))))
        TryCopy(ctx, BT_MOTION, mv, prediction, &best);
      // (Speed 9: a close copy is taken without pricing a transform on it.)
      if (best.cost < kNoCost && best.sse <= 64 * speed.good_copy) return best;
      if (allowed & (1u << BT_INTER)) TryInter(ctx, mv, prediction, &best);
      if ((allowed & (1u << BT_RESIDUE)) && speed.residue)
        TryResidue(ctx, mv, prediction, &scratch, &best);
      // A prediction this good leaves nothing for the picture codings to win.
      if (best.sse <= 64 * speed.good_prediction &&
          (speed.good_prediction_ends ? best.cost < kNoCost : best.cost < 40 * args->lambda))
        return best;
      // (Speed 9: the picture codings only where the prediction matches
      // worse than the block's own mean does.)
      if (speed.picture_when_poor && best.cost < kNoCost && sad < Activity(ctx.source)) return best;
    }
    TryPictureCodings(ctx, &best);
    if (best.cost >= kNoCost) {
      // Every allowed coding declined the block; take the best of them anyway.
      ctx.must = true;
      TryPictureCodings(ctx, &best);
      if (!args->key && (allowed & (1u << BT_RESIDUE))) {
        uint8_t prediction[64];
        Gather(PrevAt(bx, by, VectorAt(bx, by)), args->pitch, 8, prediction);
        TryResidue(ctx, VectorAt(bx, by), prediction, &scratch, &best);
      }
    }
    return best;
  }

  // The cheapest plain copy whose offset has `value` in one component
  // (0 x, 1 y), the other within one of `mv`'s; a zero offset is a keep.
  BlockChoice CopyWithPart(uint32_t bx, uint32_t by, MotionVector mv, int component, int value,
                           bool vary_other) {
    AimAt(bx, by);
    uint8_t source[64], prediction[64];
    Gather(SourceAt(bx, by), args->pitch, 8, source);
    BlockContext ctx{source, nullptr, args, false};
    BlockChoice best;
    int other = component ? mv.x : mv.y, spread = vary_other ? 1 : 0;
    for (int o = std::max(-15, other - spread); o <= std::min(15, other + spread); o++) {
      MotionVector c = component ? MotionVector{static_cast<int8_t>(o), static_cast<int8_t>(value)}
                                 : MotionVector{static_cast<int8_t>(value), static_cast<int8_t>(o)};
      if (!Reachable(bx, by, c)) continue;
      Gather(PrevAt(bx, by, c), args->pitch, 8, prediction);
      bool keep = c.x == 0 && c.y == 0 && (allowed & (1u << BT_KEEP));
      TryCopy(ctx, keep ? BT_KEEP : BT_MOTION, c, prediction, &best);
    }
    return best;
  }

  bool Reachable(uint32_t bx, uint32_t by, MotionVector mv) const {
    int64_t x = int64_t{bx} * 8 + mv.x, y = int64_t{by} * 8 + mv.y;
    return x >= 0 && y >= 0 && x + 8 <= args->width8 && y + 8 <= args->height8;
  }

  // Sum of absolute differences from the block's mean.
  static uint32_t Activity(const uint8_t source[64]) {
    uint32_t sum = 0;
    for (int i = 0; i < 64; i++) sum += source[i];
    int mean = static_cast<int>((sum + 32) / 64);
    uint32_t activity = 0;
    for (int i = 0; i < 64; i++) activity += static_cast<uint32_t>(std::abs(source[i] - mean));
    return activity;
  }

  void TryPictureCodings(const BlockContext& ctx, BlockChoice* best) {
    const SpeedPlan& speed = args->speed;
    if (allowed & (1u << BT_FILL)) TryFill(ctx, best);
    if (allowed & (1u << BT_INTRA)) TryIntra(ctx, best);
    if ((allowed & (1u << BT_PATTERN)) && (speed.two_colour || ctx.must)) TryPattern(ctx, best);
    if ((allowed & (1u << BT_RUNS)) && (speed.runs || ctx.must)) TryRuns(ctx, best);
    if (allowed & (1u << BT_RAW)) TryRaw(ctx, best);
  }

  BlockChoice DecideDoubled(uint32_t bx, uint32_t by) {
    AimAt(bx, by);
    uint8_t area[256], means[64];
    Gather(SourceAt(bx, by), args->pitch, 16, area);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) {
        const uint8_t* p = area + 32 * y + 2 * x;
        means[8 * y + x] = static_cast<uint8_t>((p[0] + p[1] + p[16] + p[17] + 2) / 4);
      }
    BlockContext ctx{means, area, args};
    BlockChoice best;
    TryDoubled(ctx, &best);
    if (best.cost >= kNoCost) {
      ctx.must = true;
      TryDoubled(ctx, &best);
    }
    if (args->speed.trim_levels) TrimChoice(ctx, nullptr, &best);
    return best;
  }

  void WriteRecon(uint32_t bx, uint32_t by, const BlockChoice& choice) {
    uint32_t size = choice.type == BT_DOUBLED ? 16 : 8;
    uint8_t* dest = args->recon + size_t{by} * 8 * args->pitch + bx * 8;
    for (uint32_t y = 0; y < size; y++)
      std::memcpy(dest + size_t{y} * args->pitch, choice.recon + y * size, size);
  }
};

// What was decided for each block of the plane.
enum BlockState : uint8_t {
  kUndecided = 0,
  kSingle,        // choice holds the block's own coding
  kDoubledTop,    // choice holds a doubled area starting here
  kDoubledLower,  // lower-left block of a doubled area: a bare type value
  kCovered,       // right-hand block of a doubled area: nothing
};

struct PlaneDecisions {
  const PlaneEncodeArgs* args;
  uint32_t cols, rows, allowed;
  bool try_doubled;
  std::vector<MotionVector> prev_vectors;
  std::vector<BlockChoice> choices;
  std::vector<uint8_t> states;
  std::vector<std::unique_ptr<PlaneWalk>> walks;  // one per worker

  size_t Index(uint32_t bx, uint32_t by) const { return size_t{by} * cols + bx; }

  // The type value coded just before block (bx, by) in its row, once the
  // block to its left is decided (always so in the order of DecidePair,
  // which one worker follows); -1 at the row's start.
  int LeftType(uint32_t bx, uint32_t by) const {
    if (bx == 0) return -1;
    size_t i = Index(bx - 1, by);
    switch (states[i]) {
      case kSingle: return choices[i].type;
      case kCovered:
      case kDoubledLower: return BT_DOUBLED;
      default: return -1;
    }
  }

  void Single(PlaneWalk* walk, uint32_t bx, uint32_t by) {
    size_t i = Index(bx, by);
    new (&choices[i]) BlockChoice(walk->Decide(bx, by, LeftType(bx, by)));  // no copy
    states[i] = kSingle;
    walk->WriteRecon(bx, by, choices[i]);
  }

  // Takes the doubled area at (bx, by) when it costs less than the four
  // blocks' `separate` cost. Every doubled coding pays at least its type
  // values' bits: when those alone cost as much, the area is not tried (its
  // decision reads nothing the four blocks' decisions change).
  bool TryDoubledArea(PlaneWalk* walk, uint32_t bx, uint32_t by, double separate) {
    double floor = args->lambda * DoubledTypeBits(*args->model);
    if (floor >= separate) return false;
    BlockChoice doubled = walk->DecideDoubled(bx, by);
    if (doubled.cost >= separate) return false;
    choices[Index(bx, by)] = doubled;
    states[Index(bx, by)] = kDoubledTop;
    states[Index(bx + 1, by)] = kCovered;
    states[Index(bx, by + 1)] = kDoubledLower;
    states[Index(bx + 1, by + 1)] = kCovered;
    walk->WriteRecon(bx, by, doubled);
    return true;
  }

  // One pair of block rows: doubled areas are decided against the four
  // blocks they would cover, which all lie in the pair.
  void DecidePair(PlaneWalk* walk, uint32_t by) {
    for (uint32_t bx = 0; bx < cols;) {
      bool pair = try_doubled && bx % 2 == 0 && bx + 1 < cols && by + 1 < rows;
      if (!pair) {
        Single(walk, bx, by);
        bx++;
        continue;
      }
      // The four blocks are decided in their places (a choice is large:
      // copying them was a tenth of the fastest speed's time); a doubled
      // area that wins overwrites the first.
      BlockChoice* singles[4] = {&choices[Index(bx, by)], &choices[Index(bx + 1, by)],
                                 &choices[Index(bx, by + 1)], &choices[Index(bx + 1, by + 1)]};
      new (singles[0]) BlockChoice(walk->Decide(bx, by, LeftType(bx, by)));
      new (singles[1]) BlockChoice(walk->Decide(bx + 1, by, singles[0]->type));
      new (singles[2]) BlockChoice(walk->Decide(bx, by + 1, LeftType(bx, by + 1)));
      new (singles[3]) BlockChoice(walk->Decide(bx + 1, by + 1, singles[2]->type));
      double separate = singles[0]->cost + singles[1]->cost + singles[2]->cost + singles[3]->cost;
      if (!TryDoubledArea(walk, bx, by, separate)) {
        for (uint32_t i = 0; i < 4; i++) {
          uint32_t x = bx + i % 2, y = by + i / 2;
          states[Index(x, y)] = kSingle;
          walk->WriteRecon(x, y, *singles[i]);
        }
      }
      bx += 2;
    }
    if (by + 1 < rows)
      for (uint32_t bx = 0; bx < cols; bx++)
        if (states[Index(bx, by + 1)] == kUndecided) Single(walk, bx, by + 1);
  }

  // Offsets are coded per refill, and a refill whose values are all equal
  // takes a handful of bits in all. After the row's decisions, each block
  // row is offered with one component of its offsets made the same for
  // every block (the row's most common value), the plain copies moving to
  // their best offset with that component; the row takes it when the bits
  // saved outweigh the added error. y goes first: in a zoom or tilt it
  // varies down the picture, not along a row. When the whole plane moves
  // (a hand-held camera, a pan), each row is first offered with all its
  // plain copies, keeps included, copying from one offset near that motion.
  void CohereRows(PlaneWalk* walk) {
    MotionVector last = walk->common;
    for (uint32_t by = 0; by < rows; by++) {
      if (walk->has_common && (allowed & (1u << BT_MOTION)) && CommonRow(walk, by, walk->common, &last))
        continue;
      KeepRow(walk, by);
      bool y_even = CohereRow(walk, by, 1, true);
      CohereRow(walk, by, 0, !y_even);
    }
    if (args->speed.refine_offsets) RefineLiterals(walk);
  }

  // The rows whose component stays mixed code each value on its own
  // through the plane's tree: the tree their values make now prices each
  // value, and the plain copies of those rows move one step in the
  // component when the bits saved outweigh the added error.
  void RefineLiterals(PlaneWalk* walk) {
    // What the pass reads of each block, gathered once (a choice is large).
    std::vector<OffsetCarrier>& copies = walk->carriers;
    copies.assign(size_t{cols} * rows, OffsetCarrier{});
    for (size_t i = 0; i < copies.size(); i++) {
      if (!CarriesOffsets(states[i], choices[i])) continue;
      copies[i].mv = choices[i].mv;
      copies[i].carries = choices[i].type == BT_MOTION ? 2 : 1;
    }
    for (int component = 1; component >= 0; component--) {
      auto part = [component](MotionVector mv) { return component ? mv.y : mv.x; };
      std::vector<uint8_t>& mixed = walk->mixed;
      mixed.assign(rows, 0);
      uint32_t histogram[16] = {};
      for (uint32_t by = 0; by < rows; by++) {
        const OffsetCarrier* row = &copies[size_t{by} * cols];
        int first = 99;
        for (uint32_t bx = 0; bx < cols && !mixed[by]; bx++) {
          if (!row[bx].carries) continue;
          if (first == 99) first = part(row[bx].mv);
          mixed[by] = part(row[bx].mv) != first;
        }
        if (!mixed[by]) continue;
        for (uint32_t bx = 0; bx < cols; bx++)
          if (row[bx].carries) histogram[Magnitude(part(row[bx].mv))]++;
      }
      uint64_t total_bits;
      CodeTree tree = ChooseCodeTree(histogram, &total_bits);
      float bits[31];
      for (int v = -15; v <= 15; v++)
        bits[v + 15] = static_cast<float>(TreeValueLength(tree, Magnitude(v)) + (v != 0));
      for (uint32_t by = 0; by < rows; by++) {
        if (!mixed[by]) continue;
        for (uint32_t bx = 0; bx < cols; bx++) {
          OffsetCarrier& copy = copies[Index(bx, by)];
          if (copy.carries != 2) continue;
          int v = part(copy.mv);
          // Only a cheaper value can pay for more error.
          int steps[2], count = 0;
          for (int d : {-1, 1})
            if (v + d >= -15 && v + d <= 15 && bits[v + d + 15] < bits[v + 15]) steps[count++] = v + d;
          if (!count) continue;
          BlockChoice& now = choices[Index(bx, by)];
          double best_change = 0;
          MotionVector best_mv = now.mv;
          for (int k = 0; k < count; k++) {
            int w = steps[k];
            MotionVector c = now.mv;
            (component ? c.y : c.x) = static_cast<int8_t>(w);
            if ((c.x == 0 && c.y == 0) || !walk->Reachable(bx, by, c)) continue;
            double rate = args->lambda * (bits[w + 15] - bits[v + 15]);
            // The move pays only below this error; most stop within a few lines.
            double limit = now.sse - rate + best_change;
            double sse = SseBelow(walk->PrevAt(bx, by, c), walk->SourceAt(bx, by), args->pitch, limit);
            double change = sse - now.sse + rate;
            if (change < best_change) {
              best_change = change;
              best_mv = c;
            }
          }
          if (best_mv.x == now.mv.x && best_mv.y == now.mv.y) continue;
          uint8_t source[64], prediction[64];
          walk->Gather(walk->SourceAt(bx, by), args->pitch, 8, source);
          walk->Gather(walk->PrevAt(bx, by, best_mv), args->pitch, 8, prediction);
          BlockContext ctx{source, nullptr, args, false, LeftType(bx, by)};
          BlockChoice moved;
          TryCopy(ctx, BT_MOTION, best_mv, prediction, &moved);
          now = moved;
          copy.mv = best_mv;
          walk->VectorAt(bx, by) = best_mv;
          walk->WriteRecon(bx, by, now);
        }
      }
    }
  }

  static bool PlainCopy(uint8_t state, const BlockChoice& c) {
    return state == kSingle && (c.type == BT_KEEP || c.type == BT_MOTION);
  }

  // Where block (bx, by) would copy from if its row moved to `target`:
  // a plain copy moves there, or, where that source would leave the plane,
  // becomes a keep (an offset of its own would break the row's fill).
  // False for the blocks that stay as they are.
  bool MovesTo(uint32_t bx, uint32_t by, const MotionVector& target, MotionVector* to) const {
    size_t i = Index(bx, by);
    if (!PlainCopy(states[i], choices[i])) return false;
    int64_t x = int64_t{bx} * 8 + target.x, y = int64_t{by} * 8 + target.y;
    if (x >= 0 && y >= 0 && x + 8 <= args->width8 && y + 8 <= args->height8) {
      *to = target;
      return true;
    }
    *to = {};
    return (allowed & (1u << BT_KEEP)) != 0;
  }

  // A run of `length` equal type values: the value, then repeat symbols
  // for 32, 12, 8 or 4 more (about 3 bits each), then single values.
  double TypeRunBits(int type, uint32_t length) const {
    double value = args->model->type_bits[type];
    uint32_t rest = length - 1;
    double bits = value;
    for (uint32_t repeat : {32u, 12u, 8u, 4u}) {
      bits += 3.0 * (rest / repeat);
      rest %= repeat;
    }
    return bits + value * rest;
  }

  // The side bits of a row: its types (by runs) and both offset components,
  // priced as fills where all values are equal; with `moved_to`, as if the
  // row's plain copies copied from there.
  double RowSideBits(uint32_t by, const MotionVector* moved_to) const {
    const PlaneCostModel& model = *args->model;
    const float* literal_x = model.literals_learnt ? model.x_literal_bits : model.x_offset_bits;
    const float* literal_y = model.literals_learnt ? model.y_literal_bits : model.y_offset_bits;
    double type_bits = 0, x_bits = 0, y_bits = 0;
    int run_type = -1, first_x = 99, first_y = 99;
    uint32_t run = 0, runs = 0;
    bool same_x = true, same_y = true;
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t i = Index(bx, by);
      if (states[i] == kCovered) continue;
      const BlockChoice& c = choices[i];
      MotionVector to;
      bool moved = moved_to && MovesTo(bx, by, *moved_to, &to);
      int type = states[i] != kSingle ? int{BT_DOUBLED}
                 : !moved             ? int{c.type}
                 : to.x || to.y       ? int{BT_MOTION}
                                      : int{BT_KEEP};
      if (type != run_type) {
        if (run) type_bits += TypeRunBits(run_type, run);
        run_type = type;
        run = 0;
        runs++;
      }
      run++;
      if (moved ? type == BT_KEEP : !CarriesOffsets(states[i], c)) continue;
      MotionVector mv = moved ? to : c.mv;
      if (first_x == 99) first_x = mv.x, first_y = mv.y;
      same_x &= mv.x == first_x;
      same_y &= mv.y == first_y;
      x_bits += literal_x[mv.x + 15];
      y_bits += literal_y[mv.y + 15];
    }
    type_bits = runs == 1 ? 5 : type_bits + TypeRunBits(run_type, run);
    if (first_x != 99) {
      if (same_x) x_bits = 5 + (first_x != 0);
      if (same_y) y_bits = 5 + (first_y != 0);
    }
    return type_bits + x_bits + y_bits;
  }

  // Offers the row with every plain copy, kept or moved, copying from one
  // offset (see MovesTo): its types and offsets then take fills, where the
  // blocks one by one had mostly kept the smooth parts (a keep matches them
  // nearly as well as the move) and scattered the offsets of the rest. The
  // offset is found by steps from `common` and from the row above's (a
  // slight turn of the camera moves the picture's edges a little more or
  // less than its middle). Returns whether the row took one.
  bool CommonRow(PlaneWalk* walk, uint32_t by, MotionVector common, MotionVector* last) {
    double now_error = 0;
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t i = Index(bx, by);
      if (PlainCopy(states[i], choices[i])) now_error += choices[i].sse;
    }
    double now_cost = now_error + args->lambda * RowSideBits(by, nullptr);
    walk->row_source.resize(size_t{cols} * 64);
    for (uint32_t bx = 0; bx < cols; bx++)
      walk->Gather(walk->SourceAt(bx, by), args->pitch, 8, &walk->row_source[size_t{bx} * 64]);
    uint32_t tried[31] = {};
    double best_cost = 1e300;
    MotionVector best = common;
    auto offer = [&](int x, int y) {
      if ((x == 0 && y == 0) || std::abs(x) > 15 || std::abs(y) > 15) return false;
      if (tried[y + 15] & (1u << (x + 15))) return false;
      tried[y + 15] |= 1u << (x + 15);
      MotionVector target{static_cast<int8_t>(x), static_cast<int8_t>(y)};
      double cost = CommonRowCost(walk, by, target, best_cost);
      if (cost >= best_cost) return false;
      best_cost = cost;
      best = target;
      return true;
    };
    offer(common.x, common.y);
    offer(last->x, last->y);
    for (int round = 0; round < args->speed.common_row_rounds; round++) {
      MotionVector c = best;
      bool moved = offer(c.x + 1, c.y) | offer(c.x - 1, c.y) | offer(c.x, c.y + 1) | offer(c.x, c.y - 1);
      if (!moved) break;
    }
    if (best_cost >= now_cost) return false;
    *last = best;
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t i = Index(bx, by);
      MotionVector to;
      if (!MovesTo(bx, by, best, &to)) continue;
      if (choices[i].mv.x == to.x && choices[i].mv.y == to.y) continue;
      choices[i] = walk->CopyWithPart(bx, by, to, 0, to.x, false);
      walk->VectorAt(bx, by) = to;
      walk->WriteRecon(bx, by, choices[i]);
    }
    return true;
  }

  // The row's error and side bits (times lambda) with its plain copies
  // moved to `target`, or some value at or above `limit` once the blocks so
  // far reach it. row_source holds the row's source blocks.
  double CommonRowCost(PlaneWalk* walk, uint32_t by, MotionVector target, double limit) {
    double cost = args->lambda * RowSideBits(by, &target);
    for (uint32_t bx = 0; bx < cols && cost < limit; bx++) {
      size_t i = Index(bx, by);
      MotionVector to;
      if (!MovesTo(bx, by, target, &to)) {
        if (PlainCopy(states[i], choices[i])) cost += choices[i].sse;
        continue;
      }
      uint8_t prediction[64];
      walk->Gather(walk->PrevAt(bx, by, to), args->pitch, 8, prediction);
      cost += args->kernels->sse(prediction, &walk->row_source[size_t{bx} * 64], 64);
    }
    return cost;
  }

  // A row of plain copies, mostly keeps, offered as keeps throughout: its
  // types then take one fill and its offsets nothing.
  void KeepRow(PlaneWalk* walk, uint32_t by) {
    if (!(allowed & (1u << BT_KEEP))) return;
    const PlaneCostModel& model = *args->model;
    uint32_t moving = 0;
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t i = Index(bx, by);
      if (states[i] != kSingle || (choices[i].type != BT_KEEP && choices[i].type != BT_MOTION)) return;
      moving += choices[i].type == BT_MOTION;
    }
    if (moving == 0 || 2 * moving > cols) return;
    double change = args->lambda * (5.0 - cols * model.type_bits[BT_KEEP]);
    std::vector<RowMove>& moves = walk->moves;
    moves.clear();
    for (uint32_t bx = 0; bx < cols && change < 0; bx++) {
      size_t i = Index(bx, by);
      if (choices[i].type != BT_MOTION) continue;
      BlockChoice keep = walk->CopyWithPart(bx, by, {}, 0, 0, false);
      change += keep.cost - choices[i].cost;
      moves.push_back({bx, keep});
    }
    if (change >= 0) return;
    for (const RowMove& move : moves) {
      choices[Index(move.bx, by)] = move.choice;
      walk->VectorAt(move.bx, by) = move.choice.mv;
      walk->WriteRecon(move.bx, by, move.choice);
    }
  }

  static bool CarriesOffsets(uint8_t state, const BlockChoice& c) {
    return state == kSingle && (c.type == BT_MOTION || c.type == BT_INTER || c.type == BT_RESIDUE);
  }

  // component: 0 x, 1 y. Returns whether the component is then the same
  // for the whole row.
  bool CohereRow(PlaneWalk* walk, uint32_t by, int component, bool vary_other) {
    auto part = [component](MotionVector mv) { return component ? mv.y : mv.x; };
    uint32_t counts[31] = {};
    uint32_t carriers = 0;
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t i = Index(bx, by);
      if (!CarriesOffsets(states[i], choices[i])) continue;
      counts[part(choices[i].mv) + 15]++;
      carriers++;
    }
    // The two most common values, and zero (copies may turn into keeps).
    int first = 0, second = 0;
    for (int v = -15; v <= 15; v++)
      if (counts[v + 15] > counts[first + 15]) first = v;
    if (counts[first + 15] == carriers) return true;
    if (carriers < 2) return false;
    for (int v = -15; v <= 15; v++)
      if (v != first && (second == first || counts[v + 15] > counts[second + 15])) second = v;
    int targets[3] = {first, second, 0};
    double best_change = 0;
    std::vector<RowMove>& moves = walk->moves;
    for (int t = 0; t < 3; t++) {
      if ((t == 1 && second == first) || (t == 2 && (first == 0 || second == 0))) continue;
      double change = RowChange(walk, by, component, targets[t], vary_other, &walk->trial);
      if (change < best_change) {
        best_change = change;
        moves.swap(walk->trial);
      }
    }
    if (best_change >= 0) return false;
    for (const RowMove& move : moves) {
      choices[Index(move.bx, by)] = move.choice;
      walk->VectorAt(move.bx, by) = move.choice.mv;
      walk->WriteRecon(move.bx, by, move.choice);
    }
    return true;
  }

  // What making the row's component equal to `target` changes in cost
  // (error plus lambda times bits), with the moved blocks' new codings in
  // *moves; 0 when it cannot be done or does not pay.
  double RowChange(PlaneWalk* walk, uint32_t by, int component, int target, bool vary_other,
                   std::vector<RowMove>* moves) {
    const PlaneCostModel& model = *args->model;
    const float* prices = component ? model.y_offset_bits : model.x_offset_bits;
    auto part = [component](MotionVector mv) { return component ? mv.y : mv.x; };
    moves->clear();
    // The values the row pays for now, each coded on its own (the row is
    // not a fill), against one fill: its flag, four bits of value and the
    // sign.
    const float* literal = !model.literals_learnt ? prices
                           : component            ? model.y_literal_bits
                                                  : model.x_literal_bits;
    double saved = -(5.0 + (target != 0));
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t i = Index(bx, by);
      if (!CarriesOffsets(states[i], choices[i])) continue;
      // Transform and residue blocks keep their offsets.
      if (choices[i].type != BT_MOTION && part(choices[i].mv) != target) return 0;
      saved += literal[part(choices[i].mv) + 15];
    }
    double change = -args->lambda * saved;
    auto own = [&](const BlockChoice& c) {
      return c.type == BT_KEEP ? 0.0 : args->lambda * prices[part(c.mv) + 15];
    };
    for (uint32_t bx = 0; bx < cols && change < 0; bx++) {
      size_t i = Index(bx, by);
      const BlockChoice& now = choices[i];
      if (!CarriesOffsets(states[i], now) || part(now.mv) == target) continue;
      BlockChoice moved = walk->CopyWithPart(bx, by, now.mv, component, target, vary_other);
      if (moved.cost >= kNoCost) return 0;
      change += (moved.cost - own(moved)) - (now.cost - own(now));
      moves->push_back({bx, moved});
    }
    return std::min(change, 0.0);
  }

  static void Job(void* context, uint32_t job, uint32_t worker) {
    auto* d = static_cast<PlaneDecisions*>(context);
    d->DecidePair(d->walks[worker].get(), job * 2);
  }
};

// The plane shrunk four times each way (4x4 means), for the global search.
std::vector<uint8_t> Shrunk(const EncodeKernels& kernels, const uint8_t* plane, uint32_t pitch,
                            uint32_t width, uint32_t height) {
  uint32_t w = width / 4, h = height / 4;
  std::vector<uint8_t> out(size_t{w} * h);
  for (uint32_t y = 0; y < h; y++)
    kernels.shrink4_row(plane + size_t{y} * 4 * pitch, pitch, w, &out[size_t{y} * w]);
  return out;
}

// The absolute differences of the source and the previous plane displaced
// by (ox, oy), summed over 8x8 blocks of the part of the picture that every
// offset within `margin` keeps inside, on every `row_step`-th block row.
uint64_t ShiftedDifference(const EncodeKernels& kernels, const uint8_t* source, const uint8_t* prev,
                           uint32_t pitch, uint32_t width, uint32_t height, int ox, int oy,
                           uint32_t margin, uint32_t row_step) {
  uint64_t sum = 0;
  for (uint32_t y = margin; y + 8 + margin <= height; y += 8 * row_step) {
    const uint8_t* s = source + size_t{y} * pitch;
    const uint8_t* p = prev + (static_cast<int64_t>(y) + oy) * pitch + ox;
    for (uint32_t x = margin; x + 8 + margin <= width; x += 8) sum += kernels.sad8x8(s + x, pitch, p + x, pitch);
  }
  return sum;
}

// The offset by which the whole plane matches its previous plane best:
// a search on the planes shrunk four times, refined on the full planes.
// None when that offset is zero or matches no better than zero.
bool EstimateCommonOffset(const PlaneEncodeArgs& args, MotionVector* out) {
  uint32_t width = args.width8, height = args.height8;
  if (width < 64 || height < 64) return false;
  const EncodeKernels& kernels = *args.kernels;
  std::vector<uint8_t> source = Shrunk(kernels, args.source, args.pitch, width, height);
  std::vector<uint8_t> prev = Shrunk(kernels, args.prev, args.pitch, width, height);
  uint32_t w = width / 4, h = height / 4;
  int best_x = 0, best_y = 0;
  uint64_t best = UINT64_MAX;
  for (int oy = -3; oy <= 3; oy++)
    for (int ox = -3; ox <= 3; ox++) {
      uint64_t d = ShiftedDifference(kernels, source.data(), prev.data(), w, w, h, ox, oy, 4, 1);
      if (d < best) best = d, best_x = ox, best_y = oy;
    }
  int cx = best_x * 4, cy = best_y * 4;
  best = UINT64_MAX;
  for (int oy = cy - 2; oy <= cy + 2; oy++)
    for (int ox = cx - 2; ox <= cx + 2; ox++) {
      if (std::abs(ox) > 15 || std::abs(oy) > 15) continue;
      uint64_t d = ShiftedDifference(kernels, args.source, args.prev, args.pitch, width, height, ox, oy, 16, 3);
      if (d < best) best = d, best_x = ox, best_y = oy;
    }
  uint64_t still = ShiftedDifference(kernels, args.source, args.prev, args.pitch, width, height, 0, 0, 16, 3);
  if ((best_x == 0 && best_y == 0) || best >= still) return false;
  *out = {static_cast<int8_t>(best_x), static_cast<int8_t>(best_y)};
  return true;
}

// Offset prices learnt from the last plane make its common values cheap;
// a camera that shakes moves the picture by another offset every frame, so
// the prices are moved to centre on this plane's common offset.
void CentreOffsetPrices(MotionVector common, PlaneCostModel* model) {
  auto centre = [](int target, float* prices) {
    int cheapest = 0;
    for (int v = -15; v <= 15; v++)
      if (prices[v + 15] < prices[cheapest + 15]) cheapest = v;
    int shift = target - cheapest;
    if (!shift) return;
    float old[31], dearest = 0;
    std::memcpy(old, prices, sizeof(old));
    for (float p : old) dearest = std::max(dearest, p);
    for (int v = -15; v <= 15; v++) {
      int from = v - shift;
      prices[v + 15] = from >= -15 && from <= 15 ? old[from + 15] : dearest;
    }
  };
  centre(common.x, model->x_offset_bits);
  centre(common.y, model->y_offset_bits);
}

void EmitContent(PlaneRowSyntax* row, uint8_t type, const BlockChoice& c) {
  switch (type) {
    case BT_MOTION: PutMotionContent(row, c.mv.x, c.mv.y); break;
    case BT_RUNS: PutRunContent(row, c.scan, c.pixels); break;
    case BT_RESIDUE: {
      int8_t decoded[64];
      PutResidueContent(row, c.mv.x, c.mv.y, c.residue, decoded);
      break;
    }
    case BT_INTRA: PutIntraContent(row, c.dc, c.coeffs, c.q); break;
    case BT_FILL: PutFillContent(row, c.colours[0]); break;
    case BT_INTER: PutInterContent(row, c.mv.x, c.mv.y, c.dc, c.coeffs, c.q); break;
    case BT_PATTERN: PutPatternContent(row, c.colours[0], c.colours[1], c.pattern); break;
    case BT_RAW: PutRawContent(row, c.pixels); break;
    default: break;
  }
}

void Emit(PlaneRowSyntax* row, const BlockChoice& c, PlaneEncodeResult* result) {
  result->sse += c.sse;
  result->bits += c.bits;
  PutBlockType(row, c.type);
  result->block_types[c.type]++;
  if (c.type == BT_DOUBLED) {
    PutSubBlockType(row, c.sub_type);
    if (c.sub_type == BT_INTRA) result->quantisers[c.q]++;
    result->sub_types[c.sub_type]++;
    EmitContent(row, c.sub_type, c);
    return;
  }
  if (kReadingTypes & (1u << c.type)) result->reading_blocks++;
  if (c.type == BT_INTRA || c.type == BT_INTER) result->quantisers[c.q]++;
  EmitContent(row, c.type, c);
}

// The quantiser numbers tried for the next plane of this kind.
void LearnQuantiser(const PlaneEncodeResult& result, PlaneCostModel* model) {
  // The quantiser numbers tried next centre on the median of those chosen.
  uint32_t coded = 0, seen = 0;
  for (uint32_t n : result.quantisers) coded += n;
  if (coded < 8) return;
  for (int q = 0; q < 16; q++) {
    seen += result.quantisers[q];
    if (2 * seen >= coded) {
      model->base_q = q;
      return;
    }
  }
}

}  // namespace

void EncodePlane(const PlaneEncodeArgs& args, PlaneSyntax* syntax, PlaneEncodeResult* result) {
  PlaneSyntaxInit(syntax, args.width8, args.height8, args.old_colours);
  auto d = std::make_unique<PlaneDecisions>();
  d->args = &args;
  d->cols = args.width8 / 8;
  d->rows = args.height8 / 8;
  d->allowed = args.allowed_types & (args.key ? ~kReadingTypes : kAllBlockTypes);
  if (!(d->allowed & ~(1u << BT_DOUBLED))) d->allowed |= 1u << BT_RAW;  // something must code a block
  d->try_doubled = (d->allowed & (1u << BT_DOUBLED)) && args.allowed_sub_types != 0;
  uint32_t cols = d->cols, rows = d->rows;
  size_t blocks = size_t{cols} * rows;
  args.vectors->resize(blocks);
  d->prev_vectors = *args.vectors;
  // Every choice is written before it is read (states guard the reads),
  // so a reused store is only grown, never cleared.
  if (args.choice_store) d->choices.swap(*args.choice_store);
  if (d->choices.size() < blocks) d->choices.resize(blocks);
  d->states.assign(blocks, kUndecided);
  uint32_t threads = std::max(1u, args.threads);
  MotionVector common;
  bool has_common = !args.key && args.speed.coherent_rows && args.speed.common_offset &&
                    args.model->offsets_learnt && EstimateCommonOffset(args, &common);
  // The plane's decisions read the offset prices centred on its motion;
  // what the plane learns still goes to the caller's model.
  PlaneCostModel moved_model;
  PlaneEncodeArgs moved_args;
  if (has_common) {
    moved_model = *args.model;
    CentreOffsetPrices(common, &moved_model);
    moved_args = args;
    moved_args.model = &moved_model;
    d->args = &moved_args;
  }
  for (uint32_t i = 0; i < threads; i++) {
    auto walk = std::make_unique<PlaneWalk>();
    walk->plane_args = walk->args = d->args;
    walk->cols = cols;
    walk->rows = rows;
    walk->allowed = d->allowed;
    walk->prev_vectors = &d->prev_vectors;
    walk->common = common;
    walk->has_common = has_common;
    d->walks.push_back(std::move(walk));
  }
  RunParallel(threads, (rows + 1) / 2, PlaneDecisions::Job, d.get());
  if (!args.key && args.speed.coherent_rows && args.model->offsets_learnt)
    d->CohereRows(d->walks[0].get());

  for (uint32_t by = 0; by < rows; by++) {
    PlaneRowSyntax* row = &syntax->rows[by];
    for (uint32_t bx = 0; bx < cols;) {
      size_t i = d->Index(bx, by);
      switch (d->states[i]) {
        case kDoubledLower:
          PutBlockType(row, BT_DOUBLED);
          result->block_types[BT_DOUBLED]++;
          bx += 2;
          break;
        case kDoubledTop:
          Emit(row, d->choices[i], result);
          bx += 2;
          break;
        default:
          Emit(row, d->choices[i], result);
          bx++;
          break;
      }
    }
  }
  result->blocks = cols * rows;
  if (args.block_types) {
    args.block_types->resize(blocks);
    for (size_t i = 0; i < blocks; i++)
      (*args.block_types)[i] = d->states[i] == kSingle ? d->choices[i].type : uint8_t{BT_DOUBLED};
  }
  LearnQuantiser(*result, args.model);
  if (args.choice_store) d->choices.swap(*args.choice_store);
}

SpeedPlan SpeedPlanFor(int speed, bool fastest_shortcuts) {
  SpeedPlan p;
  speed = std::clamp(speed, 0, 9);
  p.search = speed == 0 ? 0 : speed <= 4 ? 1 : speed <= 6 ? 2 : 3;
  p.quantiser_span = speed <= 2 ? 3 : speed <= 4 ? 2 : speed <= 7 ? 1 : 0;
  // Residues and runs rarely win on camera pictures; they pay on drawn ones
  // (flat areas, sharp edges), so the faster settings leave them.
  p.residue = speed <= 2;
  p.runs = speed <= 3;
  p.two_colour = speed <= 6;
  p.good_prediction = speed <= 4 ? 1.0 : speed <= 6 ? 2.0 : speed <= 8 ? 4.0 : 9.0;
  // Trimming the chosen blocks' levels gains a little at higher rates for
  // a third more time.
  p.trim_levels = speed <= 4;
  // Speed 9 also takes a close copy without pricing a transform on it
  // (at high rates about a quarter less time for under half a dB).
  p.good_prediction_ends = speed >= 9;
  p.good_copy = speed >= 9 ? 2.0 : 0;
  p.picture_when_poor = speed >= 9;
  // (A twentieth of the fastest speed's time for a few hundredths of a dB.)
  p.refine_offsets = speed <= 8;
  // One round finds most rows' offsets; the rest cost a turning picture a
  // tenth of the fastest speed's time for a few hundredths of a dB.
  p.common_row_rounds = speed >= 9 && fastest_shortcuts ? 1 : 8;
  return p;
}
