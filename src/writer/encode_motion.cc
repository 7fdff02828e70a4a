#include "writer/encode_motion.h"

#include <cstdlib>

#include "writer/encode_kernels.h"

namespace {

struct Search {
  const MotionSearchArgs* args;
  int32_t min_x, max_x, min_y, max_y;
  MotionVector best;
  uint32_t best_cost = 0xFFFFFFFFu;
  uint32_t best_sad = 0xFFFFFFFFu;
  // Offsets already tried (bit x + 15 of row y + 15): trying one again could
  // only give its cost again, which never beats the best since then, so the
  // predictors' repeats and the steps' way back are skipped.
  uint32_t tried[31] = {};

  // What the offset costs to code, in SAD units; without prices a larger
  // offset is taken to cost more, and a little charge keeps ties at home.
  uint32_t Charge(int32_t x, int32_t y) const {
    if (!args->x_bits) return 2u * static_cast<uint32_t>(std::abs(x) + std::abs(y));
    float bits = args->x_bits[x + 15] + args->y_bits[y + 15];
    return static_cast<uint32_t>(bits * args->sad_per_bit + 0.5f);
  }

  bool Try(int32_t x, int32_t y) {
    if (x < min_x || x > max_x || y < min_y || y > max_y) return false;
    uint32_t bit = 1u << (x + 15);
    if (tried[y + 15] & bit) return false;
    tried[y + 15] |= bit;
    const MotionSearchArgs& a = *args;
    const uint8_t* ref = a.prev + static_cast<int64_t>(static_cast<int32_t>(a.y) + y) * a.pitch +
                         static_cast<int32_t>(a.x) + x;
    uint32_t sad = BlockSad(*a.kernels, a.source, a.source_pitch, ref, a.pitch);
    uint32_t cost = sad + Charge(x, y);
    if (cost >= best_cost) return false;
    best_cost = cost;
    best_sad = sad;
    best.x = static_cast<int8_t>(x);
    best.y = static_cast<int8_t>(y);
    return true;
  }

  // Every offset within `radius` of the best: textured pictures have many
  // local minima that stepwise refinement would stop in.
  void Square(int32_t radius) {
    int32_t cx = best.x, cy = best.y;
    for (int32_t dy = -radius; dy <= radius; dy++)
      for (int32_t dx = -radius; dx <= radius; dx++) Try(cx + dx, cy + dy);
  }

  // Small diamond steps around the best offset until nothing improves.
  void Refine(int32_t step) {
    for (int round = 0; round < 16; round++) {
      int32_t cx = best.x, cy = best.y;
      bool moved = Try(cx + step, cy) | Try(cx - step, cy) | Try(cx, cy + step) | Try(cx, cy - step);
      if (!moved) return;
    }
  }
};

}  // namespace

uint32_t BlockSad(const EncodeKernels& kernels, const uint8_t* a, uint32_t a_pitch,
                  const uint8_t* b, uint32_t b_pitch) {
  return kernels.sad8x8(a, a_pitch, b, b_pitch);
}

MotionVector MotionSearch(const MotionSearchArgs& args, uint32_t* sad) {
  Search s;
  s.args = &args;
  int32_t x = static_cast<int32_t>(args.x), y = static_cast<int32_t>(args.y);
  s.min_x = -x < -15 ? -15 : -x;
  s.min_y = -y < -15 ? -15 : -y;
  int32_t room_x = static_cast<int32_t>(args.width8) - 8 - x;
  int32_t room_y = static_cast<int32_t>(args.height8) - 8 - y;
  s.max_x = room_x > 15 ? 15 : room_x;
  s.max_y = room_y > 15 ? 15 : room_y;
  s.Try(0, 0);
  for (uint32_t i = 0; i < args.candidate_count; i++)
    s.Try(args.candidates[i].x, args.candidates[i].y);
  if (s.best_sad == 0) {
    *sad = 0;
    return s.best;
  }
  switch (args.mode) {
    case 0:
      for (int32_t dy = s.min_y; dy <= s.max_y; dy++)
        for (int32_t dx = s.min_x; dx <= s.max_x; dx++) s.Try(dx, dy);
      break;
    case 1: {
      s.Square(3);
      // A coarse grid finds motion the predictors did not see.
      MotionVector near = s.best;
      for (int32_t gy = -12; gy <= 12; gy += 4)
        for (int32_t gx = -12; gx <= 12; gx += 4) s.Try(gx, gy);
      if (s.best.x != near.x || s.best.y != near.y) s.Square(3);
      s.Refine(1);
      break;
    }
    default:
      if (args.mode == 2)
        s.Square(2);
      else
        s.Refine(2);
      s.Refine(1);
      // Predictors that match poorly (about 6 per sample) may have missed
      // the motion altogether.
      if (args.mode == 2 && s.best_sad > 6 * 64) {
        for (int32_t gy = -12; gy <= 12; gy += 6)
          for (int32_t gx = -12; gx <= 12; gx += 6) s.Try(gx, gy);
        s.Refine(2);
        s.Refine(1);
      }
      break;
  }
  *sad = s.best_sad;
  return s.best;
}
