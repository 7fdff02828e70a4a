#include "writer/encode_blocks.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "video/block_ops.h"
#include "video/idct.h"
#include "video/video_tables.h"
#include "writer/coefficient_writer.h"
#include "writer/encode_dct.h"
#include "writer/encode_kernels.h"
#include "writer/encode_quantise.h"

namespace {

bool Doubled(const BlockContext& ctx) { return ctx.source16 != nullptr; }

uint8_t CodableColour(const BlockContext& ctx, int value) {
  value = std::clamp(value, 0, 255);
  // The old colour coding cannot express 0.
  if (ctx.args->old_colours && value == 0) value = 1;
  return static_cast<uint8_t>(value);
}

// Bits of the block-type values: a doubled area carries one on each of its
// two block rows plus its sub-type, all shared by four blocks.
//
// A plain copy (keep or motion) priced against the type before it: the type
// bundle codes repeats of the last value 4 to 32 at a time, so a copy that
// continues a run of its kind costs a fraction of a value, while one that
// breaks the run costs a literal and shortens the repeats on both sides.
// The factors are measured: a keep/motion field in larger patches gains
// about 0.2 dB at 0.6 Mbit/s and 0.1 dB at 1.2 Mbit/s at equal rate, and
// the result holds for a change factor of 2.5 - 4 (at 5 the fields grow
// too coarse and lose half a dB). Other types keep their plain price, as
// at high rates the choice among codings must not lean on its neighbour.
double TypeBits(const BlockContext& ctx, uint8_t type) {
  const PlaneCostModel& m = *ctx.args->model;
  if (Doubled(ctx)) return DoubledTypeBits(m);
  constexpr double kContinues = 0.3, kBreaks = 3.0;
  bool copy = type == BT_KEEP || type == BT_MOTION;
  if (copy && ctx.left_type >= 0)
    return m.type_bits[type] * (ctx.left_type == type ? kContinues : kBreaks);
  return m.type_bits[type];
}

// Bits of a block's two offsets as this plane kind has been paying for them.
double OffsetBits(const BlockContext& ctx, MotionVector mv) {
  const PlaneCostModel& m = *ctx.args->model;
  if (!m.offsets_learnt) return 2 * m.offset_bits;
  return m.x_offset_bits[mv.x + 15] + m.y_offset_bits[mv.y + 15];
}

// Scores a finished candidate whose recon already holds its result and
// keeps it when it is the cheapest so far.
void Offer(const BlockContext& ctx, BlockChoice* candidate, BlockChoice* out) {
  uint32_t n = Doubled(ctx) ? 256 : 64;
  const uint8_t* reference = Doubled(ctx) ? ctx.source16 : ctx.source;
  candidate->sse = BlockSse(*ctx.args->kernels, candidate->recon, reference, n);
  candidate->cost = candidate->sse + ctx.args->lambda * candidate->bits;
  if (candidate->cost >= out->cost) return;
  if (Doubled(ctx)) {
    candidate->sub_type = candidate->type;
    candidate->type = BT_DOUBLED;
  }
  *out = *candidate;
}

void RenderSamples(const BlockContext& ctx, const uint8_t samples[64], uint8_t* recon) {
  if (Doubled(ctx))
    PutBlockDoubled(recon, 16, samples);
  else
    PutBlock(recon, 8, samples);
}

uint64_t CountBits(BitWriter* writer) { return BitWriterBitCount(writer); }

void ResetWriter(BitWriter* writer) {
  writer->words.clear();
  writer->pending = 0;
  writer->pending_bits = 0;
  writer->counting = true;  // only the price is wanted here
  writer->counted = 0;
}

// Reciprocal quantiser steps of every table, intra then inter.
struct StepTables {
  float inverse[2][16][64];
};

const StepTables& Steps() {
  static const StepTables tables = [] {
    StepTables t;
    for (int q = 0; q < 16; q++) {
      float steps[64];
      ForwardDctSteps(QUANT_INTRA[q], steps);
      for (int k = 0; k < 64; k++) t.inverse[0][q][k] = 1.0f / steps[k];
      ForwardDctSteps(QUANT_INTER[q], steps);
      for (int k = 0; k < 64; k++) t.inverse[1][q][k] = 1.0f / steps[k];
    }
    return t;
  }();
  return tables;
}

double DcBits(int32_t dc) {
  int32_t mag = std::abs(dc);
  int bits = 0;
  while (mag >> bits) bits++;
  return 2.0 + bits;
}

// Tries quantiser numbers outward from the plane's usual one while the cost
// keeps falling (it is close to convex in q): usually two or three trials
// instead of a fixed range. cost(q, bound) codes the block with q, offers it
// and returns its cost; a trial whose cost cannot fall below `bound` (the
// walk stops there whatever it is) may return any value at or above it.
template <typename Cost>
void WalkQuantisers(const BlockContext& ctx, Cost cost) {
  constexpr double kAny = -1e300;  // no later trial depends on the result
  constexpr double kExact = 1e300;
  int base = ctx.args->base_q;
  int span = ctx.args->speed.quantiser_span;
  double best = cost(base, span ? kExact : kAny);
  bool rose = false;
  for (int q = base + 1; q <= std::min(15, base + span); q++) {
    double c = cost(q, best);
    if (c >= best) break;
    best = c;
    rose = true;
  }
  if (rose) return;
  for (int q = base - 1; q >= std::max(0, base - span); q--) {
    double c = cost(q, best);
    if (c >= best) break;
    best = c;
  }
}

// A coding whose bits alone cost `bits_cost` (lambda x bits) can neither be
// offered nor change the quantiser walk when that is already at or above
// both the best offer and the walk's bound: its reconstruction and error
// are then not worth computing.
bool BeatenOnBits(double bits_cost, double bound, const BlockChoice* out) {
  return bits_cost >= out->cost && bits_cost >= bound;
}

// True when a coding that needs at least `bits` cannot beat the best so far
// even without any error: it is then not worth building.
bool Hopeless(const BlockContext& ctx, double bits, const BlockChoice* out) {
  return !ctx.must && ctx.args->lambda * bits >= out->cost;
}

// Whether sample value v lies nearer c1 than c0, in the doubles the
// two-colour split has always used.
bool NearerSecond(int v, double c0, double c1) { return std::fabs(v - c1) < std::fabs(v - c0); }

// The smallest value from lo to hi nearer c1 than c0 (hi + 1 when none is).
// For c0 <= c1 nearness only grows with the value, in doubles too: below c0
// the two distances round in order, above c1 they stay far more than a
// rounding step apart (means of at most 64 samples differ by at least
// 1/1024), and between them one distance rounds up and the other down
// monotonically. So the split is a threshold, found by bisection.
int SplitThreshold(int lo, int hi, double c0, double c1) {
  int first = lo, last = hi + 1;
  while (first < last) {
    int middle = (first + last) / 2;
    if (NearerSecond(middle, c0, c1))
      last = middle;
    else
      first = middle + 1;
  }
  return first;
}

}  // namespace

double DoubledTypeBits(const PlaneCostModel& model) {
  return 2 * model.type_bits[BT_DOUBLED] + 2.5;
}

double BlockSse(const EncodeKernels& kernels, const uint8_t* a, const uint8_t* b, uint32_t count) {
  return kernels.sse(a, b, count);
}

void TryFill(const BlockContext& ctx, BlockChoice* out) {
  uint32_t sum = 0;
  for (int i = 0; i < 64; i++) sum += ctx.source[i];
  BlockChoice c;
  c.type = BT_FILL;
  c.colours[0] = CodableColour(ctx, static_cast<int>((sum + 32) / 64));
  if (Doubled(ctx))
    FillBlockDoubled(c.recon, 16, c.colours[0]);
  else
    FillBlock(c.recon, 8, c.colours[0]);
  c.bits = TypeBits(ctx, BT_FILL) + ctx.args->model->colour_bits;
  Offer(ctx, &c, out);
}

void TryPattern(const BlockContext& ctx, BlockChoice* out) {
  const PlaneCostModel& model = *ctx.args->model;
  if (Hopeless(ctx, TypeBits(ctx, BT_PATTERN) + 2 * model.colour_bits + 8 * model.pattern_bits, out))
    return;
  const uint8_t* v = ctx.source;
  int lo = 255, hi = 0;
  for (int i = 0; i < 64; i++) {
    lo = std::min<int>(lo, v[i]);
    hi = std::max<int>(hi, v[i]);
  }
  if (hi - lo < 2 && !ctx.must) return;  // a fill does as well for less
  int total = 0;
  for (int i = 0; i < 64; i++) total += v[i];
  double c0 = lo, c1 = hi;
  // The samples nearer c1 are those from a threshold up (SplitThreshold),
  // so each round is a search over values and one pass of integer sums.
  int upper_from = lo;
  int previous_upper = -1;  // no split yet
  for (int iteration = 0; iteration < 4; iteration++) {
    upper_from = SplitThreshold(lo, hi, c0, c1);
    int s1 = 0, n1 = 0;
    for (int i = 0; i < 64; i++) {
      bool upper = v[i] >= upper_from;
      s1 += upper ? v[i] : 0;
      n1 += upper;
    }
    int s0 = total - s1, n0 = 64 - n1;
    if (!n0 || !n1) {
      if (!ctx.must) return;
      c0 = c1 = static_cast<double>(total) / 64;  // a flat block as a pattern
      upper_from = 256;
      break;
    }
    // Splits are nested, so the same count is the same split, and the same
    // split gives the same means: later rounds would change nothing.
    if (n1 == previous_upper) break;
    previous_upper = n1;
    c0 = static_cast<double>(s0) / n0;
    c1 = static_cast<double>(s1) / n1;
  }
  BlockChoice c;
  c.type = BT_PATTERN;
  c.colours[0] = CodableColour(ctx, static_cast<int>(std::lround(c0)));
  c.colours[1] = CodableColour(ctx, static_cast<int>(std::lround(c1)));
  for (int y = 0; y < 8; y++) {
    uint8_t byte = 0;
    for (int x = 0; x < 8; x++) byte |= static_cast<uint8_t>((v[8 * y + x] >= upper_from) << x);
    c.pattern[y] = byte;
  }
  if (Doubled(ctx))
    PatternBlockDoubled(c.recon, 16, c.colours[0], c.colours[1], c.pattern);
  else
    PatternBlock(c.recon, 8, c.colours[0], c.colours[1], c.pattern);
  const PlaneCostModel& m = *ctx.args->model;
  c.bits = TypeBits(ctx, BT_PATTERN) + 2 * m.colour_bits + 8 * m.pattern_bits;
  Offer(ctx, &c, out);
}

void TryRaw(const BlockContext& ctx, BlockChoice* out) {
  if (Hopeless(ctx, TypeBits(ctx, BT_RAW) + 64 * ctx.args->model->colour_bits, out)) return;
  BlockChoice c;
  c.type = BT_RAW;
  for (int i = 0; i < 64; i++) c.pixels[i] = CodableColour(ctx, ctx.source[i]);
  RenderSamples(ctx, c.pixels, c.recon);
  c.bits = TypeBits(ctx, BT_RAW) + 64 * ctx.args->model->colour_bits;
  Offer(ctx, &c, out);
}

void TryRuns(const BlockContext& ctx, BlockChoice* out) {
  // Even one run of 64 costs its scan number, a flag, a run and a colour.
  const PlaneCostModel& model = *ctx.args->model;
  if (Hopeless(ctx, TypeBits(ctx, BT_RUNS) + 5 + model.run_bits + model.colour_bits, out)) return;
  // Runs pay only where neighbours repeat; without many equal neighbours no
  // scan can find long runs, so the 16 scans are not worth walking.
  const uint8_t* v = ctx.source;
  int equal_neighbours = 0;
  for (int y = 0; y < 8; y++)
    for (int x = 0; x < 8; x++) {
      if (x < 7) equal_neighbours += v[8 * y + x] == v[8 * y + x + 1];
      if (y < 7) equal_neighbours += v[8 * y + x] == v[8 * y + x + 8];
    }
  if (equal_neighbours < 56 && !ctx.must) return;
  uint8_t pixels[64];
  for (int i = 0; i < 64; i++) pixels[i] = CodableColour(ctx, ctx.source[i]);
  const PlaneCostModel& m = *ctx.args->model;
  double best_bits = 1e300;
  int best_scan = 0;
  for (int s = 0; s < 16; s++) {
    const uint8_t* scan = RUN_SCANS[s];
    double bits = 4;
    int i = 0;
    while (i < 63) {
      int run = 1;
      while (i + run < 64 && run < 16 && pixels[scan[i + run]] == pixels[scan[i]]) run++;
      if (run >= 2) {
        bits += 1 + m.run_bits + m.colour_bits;
        i += run;
        continue;
      }
      int literal = 1;  // singles gathered into one run of separate colours
      while (i + literal < 64 && literal < 16 &&
             !(i + literal + 1 < 64 &&
               pixels[scan[i + literal]] == pixels[scan[i + literal + 1]]))
        literal++;
      bits += 1 + m.run_bits + literal * m.colour_bits;
      i += literal;
    }
    if (i == 63) bits += m.colour_bits;
    if (bits < best_bits) {
      best_bits = bits;
      best_scan = s;
    }
  }
  if (best_bits >= 64 * m.colour_bits && !ctx.must) return;  // a raw block is no dearer
  BlockChoice c;
  c.type = BT_RUNS;
  c.scan = static_cast<uint8_t>(best_scan);
  std::memcpy(c.pixels, pixels, 64);
  RenderSamples(ctx, c.pixels, c.recon);
  c.bits = TypeBits(ctx, BT_RUNS) + best_bits;
  Offer(ctx, &c, out);
}

void TryIntra(const BlockContext& ctx, BlockChoice* out) {
  // DC, bit-plane count and quantiser number at the least.
  if (Hopeless(ctx, TypeBits(ctx, BT_INTRA) + 6 + 8, out)) return;
  int16_t samples[64];
  for (int i = 0; i < 64; i++) samples[i] = ctx.source[i];
  float values[64];
  ctx.args->kernels->forward_dct(samples, values);
  WalkQuantisers(ctx, [&](int q, double bound) {
    BlockChoice c;
    c.type = BT_INTRA;
    c.q = static_cast<uint8_t>(q);
    const float* inverse = Steps().inverse[0][q];
    ctx.args->kernels->quantise(values, inverse, 0.18f, c.coeffs);
    c.dc = static_cast<int16_t>(std::clamp<long>(std::lround(values[0] * inverse[0]), 0, 2047));
    c.coeffs[0] = c.dc;
    c.bits = TypeBits(ctx, BT_INTRA) + ctx.args->kernels->coefficient_bits(c.coeffs) + 6;
    double bits_cost = ctx.args->lambda * c.bits;
    if (!ctx.must && BeatenOnBits(bits_cost, bound, out)) return bits_cost;
    if (Doubled(ctx))
      IdctPutDoubled(ctx.args->kernels->idct, c.coeffs, QUANT_INTRA[q], c.recon, 16);
    else
      ctx.args->kernels->idct.put(c.coeffs, QUANT_INTRA[q], c.recon, 8);
    Offer(ctx, &c, out);
    return c.cost;
  });
}

void TryCopy(const BlockContext& ctx, uint8_t type, MotionVector mv, const uint8_t prediction[64],
             BlockChoice* out) {
  BlockChoice c;
  c.type = type;
  c.mv = mv;
  std::memcpy(c.recon, prediction, 64);
  c.bits = TypeBits(ctx, type);
  if (type == BT_MOTION) c.bits += OffsetBits(ctx, mv);
  Offer(ctx, &c, out);
}

void TryInter(const BlockContext& ctx, MotionVector mv, const uint8_t prediction[64],
              BlockChoice* out) {
  if (Hopeless(ctx, TypeBits(ctx, BT_INTER) + OffsetBits(ctx, mv) + 8 + 2, out))
    return;
  int16_t diff[64];
  for (int i = 0; i < 64; i++) diff[i] = static_cast<int16_t>(ctx.source[i] - prediction[i]);
  float values[64];
  ctx.args->kernels->forward_dct(diff, values);
  WalkQuantisers(ctx, [&](int q, double bound) {
    BlockChoice c;
    c.type = BT_INTER;
    c.mv = mv;
    c.q = static_cast<uint8_t>(q);
    const float* inverse = Steps().inverse[1][q];
    ctx.args->kernels->quantise(values, inverse, 0.25f, c.coeffs);
    c.dc = static_cast<int16_t>(std::clamp<long>(std::lround(values[0] * inverse[0]), -1023, 1023));
    c.coeffs[0] = c.dc;
    c.bits = TypeBits(ctx, BT_INTER) + OffsetBits(ctx, mv) + ctx.args->kernels->coefficient_bits(c.coeffs) +
             DcBits(c.dc);
    double bits_cost = ctx.args->lambda * c.bits;
    if (!ctx.must && BeatenOnBits(bits_cost, bound, out)) return bits_cost;
    ctx.args->kernels->idct.add(c.coeffs, QUANT_INTER[q], prediction, c.recon, 8);
    Offer(ctx, &c, out);
    return c.cost;
  });
}

void TryResidue(const BlockContext& ctx, MotionVector mv, const uint8_t prediction[64],
                BlockScratch* scratch, BlockChoice* out) {
  int diff[64];
  int largest = 0;
  for (int i = 0; i < 64; i++) {
    // Additions wrap at 8 bits, so the difference modulo 256 is exact.
    diff[i] = static_cast<int8_t>(static_cast<uint8_t>(ctx.source[i] - prediction[i]));
    largest = std::max(largest, std::abs(diff[i]));
  }
  if (largest > 32 && !ctx.must) return;  // a transform codes large differences better
  // Dropping low bits of the residue trades error for bits; the steps worth
  // trying grow with lambda (the squared error one bit is worth).
  int first = 0;
  while (first < 3 && (4 << (2 * first)) < ctx.args->lambda) first++;
  for (int shift = first; shift <= first; shift++) {
    BlockChoice c;
    c.type = BT_RESIDUE;
    c.mv = mv;
    int8_t natural[64];
    for (int i = 0; i < 64; i++) {
      int mag = std::abs(diff[i]);
      if (shift) mag = ((mag + (1 << (shift - 1))) >> shift) << shift;
      mag = std::min(mag, 127);
      natural[i] = static_cast<int8_t>(diff[i] < 0 ? -mag : mag);
    }
    std::memcpy(c.residue, natural, 64);
    int8_t decoded[64];
    ResetWriter(&scratch->writer);
    WriteResidue(&scratch->writer, natural, decoded);
    ResidueAdd(decoded, prediction, c.recon, 8);
    c.bits = TypeBits(ctx, BT_RESIDUE) + OffsetBits(ctx, mv) +
             static_cast<double>(CountBits(&scratch->writer));
    Offer(ctx, &c, out);
  }
}

void TryDoubled(const BlockContext& ctx, BlockChoice* out) {
  uint32_t allowed = ctx.args->allowed_sub_types;
  const SpeedPlan& speed = ctx.args->speed;
  if (allowed & (1u << BT_FILL)) TryFill(ctx, out);
  if (allowed & (1u << BT_INTRA)) TryIntra(ctx, out);
  if ((allowed & (1u << BT_PATTERN)) && (speed.two_colour || ctx.must)) TryPattern(ctx, out);
  if ((allowed & (1u << BT_RUNS)) && (speed.runs || ctx.must)) TryRuns(ctx, out);
  if (allowed & (1u << BT_RAW)) TryRaw(ctx, out);
}

void TrimChoice(const BlockContext& ctx, const uint8_t prediction[64], BlockChoice* choice) {
  bool intra = choice->type == BT_INTRA || (choice->type == BT_DOUBLED && choice->sub_type == BT_INTRA);
  if (!intra && choice->type != BT_INTER) return;
  int16_t samples[64];
  for (int i = 0; i < 64; i++)
    samples[i] = static_cast<int16_t>(intra ? ctx.source[i] : ctx.source[i] - prediction[i]);
  float values[64];
  ctx.args->kernels->forward_dct(samples, values);
  BlockChoice c = *choice;
  const float* inverse = Steps().inverse[intra ? 0 : 1][c.q];
  // Trimming proposes with half the lambda: the error it adds stays in
  // the frames that copy the block, which the frame's own cost does not
  // see (the proposal must still lower that cost to be kept). A doubled
  // block's samples each cover four.
  double lambda = 0.5 * (Doubled(ctx) ? ctx.args->lambda / 4 : ctx.args->lambda);
  double before = ctx.args->kernels->coefficient_bits(c.coeffs);
  double after = TrimCoefficients(values, inverse, lambda, ctx.args->kernels->coefficient_bits, c.coeffs);
  if (after >= before) return;
  const IdctKernels& idct = ctx.args->kernels->idct;
  if (Doubled(ctx))
    IdctPutDoubled(idct, c.coeffs, QUANT_INTRA[c.q], c.recon, 16);
  else if (intra)
    idct.put(c.coeffs, QUANT_INTRA[c.q], c.recon, 8);
  else
    idct.add(c.coeffs, QUANT_INTER[c.q], prediction, c.recon, 8);
  c.bits -= before - after;
  c.sse = BlockSse(*ctx.args->kernels, c.recon, Doubled(ctx) ? ctx.source16 : ctx.source, Doubled(ctx) ? 256 : 64);
  c.cost = c.sse + ctx.args->lambda * c.bits;
  if (c.cost < choice->cost) *choice = c;
}
