#include "writer/encode_plane.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "video/video_tables.h"
#include "writer/encode_blocks.h"
#include "writer/encode_motion.h"

namespace {

constexpr uint32_t kReadingTypes =
    (1u << BT_KEEP) | (1u << BT_MOTION) | (1u << BT_RESIDUE) | (1u << BT_INTER);

constexpr double kNoCost = 1e299;  // below BlockChoice's "nothing chosen yet"

struct PlaneWalk {
  const PlaneEncodeArgs* args;
  uint32_t cols, rows;
  uint32_t allowed;
  BlockScratch scratch;

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

  void Gather(const uint8_t* src, uint32_t pitch, uint32_t size, uint8_t* out) const {
    for (uint32_t y = 0; y < size; y++) std::memcpy(out + y * size, src + size_t{y} * pitch, size);
  }

  BlockChoice Decide(uint32_t bx, uint32_t by) {
    uint8_t source[64];
    Gather(SourceAt(bx, by), args->pitch, 8, source);
    BlockContext ctx{source, nullptr, args, false};
    BlockChoice best;
    if (!args->key) {
      uint8_t prediction[64];
      Gather(PrevAt(bx, by, {}), args->pitch, 8, prediction);
      if (allowed & (1u << BT_KEEP)) {
        TryCopy(ctx, BT_KEEP, {}, prediction, &best);
        if (best.sse == 0) return best;  // nothing codes an unchanged block for less
      }
      MotionVector candidates[5];
      uint32_t n = 0;
      candidates[n++] = VectorAt(bx, by);
      size_t guide_index = size_t{by} * 2 * args->guide_cols + bx * 2;
      if (args->guide && guide_index < args->guide->size()) {
        MotionVector luma = (*args->guide)[guide_index];
        candidates[n++] = {static_cast<int8_t>(luma.x / 2), static_cast<int8_t>(luma.y / 2)};
      }
      if (bx > 0) candidates[n++] = VectorAt(bx - 1, by);
      if (by > 0) candidates[n++] = VectorAt(bx, by - 1);
      if (bx + 1 < cols && by > 0) candidates[n++] = VectorAt(bx + 1, by - 1);
      MotionSearchArgs search{SourceAt(bx, by), args->pitch, args->prev, args->pitch,
                              bx * 8, by * 8, args->width8, args->height8, candidates, n};
      uint32_t sad;
      MotionVector mv = MotionSearch(search, &sad);
      VectorAt(bx, by) = mv;
      Gather(PrevAt(bx, by, mv), args->pitch, 8, prediction);
      if ((allowed & (1u << BT_MOTION)) && (mv.x || mv.y || !(allowed & (1u << BT_KEEP))))
        TryCopy(ctx, BT_MOTION, mv, prediction, &best);
      if (allowed & (1u << BT_RESIDUE)) TryResidue(ctx, mv, prediction, &scratch, &best);
      if (allowed & (1u << BT_INTER)) TryInter(ctx, mv, prediction, &scratch, &best);
      // A prediction this good leaves nothing for the picture codings to win.
      if (best.sse <= 64 && best.cost < 40 * args->lambda) return best;
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

  void TryPictureCodings(const BlockContext& ctx, BlockChoice* best) {
    if (allowed & (1u << BT_FILL)) TryFill(ctx, best);
    if (allowed & (1u << BT_PATTERN)) TryPattern(ctx, best);
    if (allowed & (1u << BT_INTRA)) TryIntra(ctx, &scratch, best);
    if (allowed & (1u << BT_RUNS)) TryRuns(ctx, best);
    if (allowed & (1u << BT_RAW)) TryRaw(ctx, best);
  }

  BlockChoice DecideDoubled(uint32_t bx, uint32_t by) {
    uint8_t area[256], means[64];
    Gather(SourceAt(bx, by), args->pitch, 16, area);
    for (int y = 0; y < 8; y++)
      for (int x = 0; x < 8; x++) {
        const uint8_t* p = area + 32 * y + 2 * x;
        means[8 * y + x] = static_cast<uint8_t>((p[0] + p[1] + p[16] + p[17] + 2) / 4);
      }
    BlockContext ctx{means, area, args};
    BlockChoice best;
    TryDoubled(ctx, &scratch, &best);
    if (best.cost >= kNoCost) {
      ctx.must = true;
      TryDoubled(ctx, &scratch, &best);
    }
    return best;
  }

  void WriteRecon(uint32_t bx, uint32_t by, const BlockChoice& choice) {
    uint32_t size = choice.type == BT_DOUBLED ? 16 : 8;
    uint8_t* dest = args->recon + size_t{by} * 8 * args->pitch + bx * 8;
    for (uint32_t y = 0; y < size; y++)
      std::memcpy(dest + size_t{y} * args->pitch, choice.recon + y * size, size);
  }
};

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
  auto walk = std::make_unique<PlaneWalk>();
  walk->args = &args;
  walk->cols = args.width8 / 8;
  walk->rows = args.height8 / 8;
  walk->allowed = args.allowed_types & (args.key ? ~kReadingTypes : kAllBlockTypes);
  if (!(walk->allowed & ~(1u << BT_DOUBLED))) walk->allowed |= 1u << BT_RAW;  // something must code a block
  bool try_doubled = (walk->allowed & (1u << BT_DOUBLED)) && args.allowed_sub_types != 0;
  uint32_t cols = walk->cols, rows = walk->rows;
  args.vectors->resize(size_t{cols} * rows);

  // Decisions made early for the lower half of a pair of block rows.
  std::vector<BlockChoice> lower(cols);
  std::vector<uint8_t> lower_state(cols, 0);  // 0 none, 1 decided, 2 doubled above
  for (uint32_t by = 0; by < rows; by++) {
    PlaneRowSyntax* row = &syntax->rows[by];
    std::vector<BlockChoice> next_lower(cols);
    std::vector<uint8_t> next_state(cols, 0);
    for (uint32_t bx = 0; bx < cols;) {
      if (lower_state[bx] == 2) {  // lower half of a doubled area: a bare type value
        PutBlockType(row, BT_DOUBLED);
        result->block_types[BT_DOUBLED]++;
        bx += 2;
        continue;
      }
      bool pair = try_doubled && by % 2 == 0 && bx % 2 == 0 && bx + 1 < cols && by + 1 < rows;
      if (!pair) {
        BlockChoice c = lower_state[bx] == 1 ? lower[bx] : walk->Decide(bx, by);
        walk->WriteRecon(bx, by, c);
        Emit(row, c, result);
        bx++;
        continue;
      }
      BlockChoice singles[4] = {walk->Decide(bx, by), walk->Decide(bx + 1, by),
                                walk->Decide(bx, by + 1), walk->Decide(bx + 1, by + 1)};
      double separate = singles[0].cost + singles[1].cost + singles[2].cost + singles[3].cost;
      BlockChoice doubled = walk->DecideDoubled(bx, by);
      if (doubled.cost < separate) {
        walk->WriteRecon(bx, by, doubled);
        Emit(row, doubled, result);
        next_state[bx] = 2;
      } else {
        for (int i = 0; i < 2; i++) {
          walk->WriteRecon(bx + i, by, singles[i]);
          Emit(row, singles[i], result);
          next_lower[bx + i] = singles[2 + i];
          next_state[bx + i] = 1;
        }
      }
      bx += 2;
    }
    lower.swap(next_lower);
    lower_state.swap(next_state);
  }
  result->blocks = cols * rows;
  LearnQuantiser(*result, args.model);
}
