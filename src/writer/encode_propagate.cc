#include "writer/encode_propagate.h"

#include <algorithm>
#include <cmath>

#include "video/video_tables.h"

namespace {

// A coded correction on a prediction removes much of the error the source
// handed on (more at lower lambdas, where it is coded finer); about this
// share stays.
constexpr float kCorrectedCarry = 0.3f;

}  // namespace

void BlockFlowsFromTypes(const uint8_t* types, const MotionVector* vectors, size_t blocks,
                         std::vector<BlockFlow>* flows) {
  flows->assign(blocks, BlockFlow{});
  for (size_t i = 0; i < blocks; i++) {
    BlockFlow& f = (*flows)[i];
    switch (types[i]) {
      case BT_KEEP: f.carried = 1; break;
      case BT_MOTION: f.carried = 1; f.mv = vectors[i]; break;
      case BT_INTER:
      case BT_RESIDUE: f.carried = kCorrectedCarry; f.mv = vectors[i]; break;
      default: break;
    }
  }
}

std::vector<std::vector<float>> PropagateFlows(const std::vector<std::vector<BlockFlow>>& frames,
                                               uint32_t cols, uint32_t rows) {
  const size_t blocks = size_t{cols} * rows;
  std::vector<std::vector<float>> inherited(frames.size(), std::vector<float>(blocks, 0.0f));
  // From the last frame back: a block passes to the frame before its own
  // error and what later blocks inherit from it, times the share it keeps,
  // spread over the blocks its source overlaps.
  for (size_t t = frames.size(); t-- > 1;) {
    const std::vector<BlockFlow>& flows = frames[t];
    std::vector<float>& before = inherited[t - 1];
    for (uint32_t by = 0; by < rows; by++) {
      for (uint32_t bx = 0; bx < cols; bx++) {
        size_t i = size_t{by} * cols + bx;
        const BlockFlow& f = flows[i];
        if (f.carried <= 0) continue;
        float amount = (1 + inherited[t][i]) * f.carried;
        int px = static_cast<int>(bx * 8) + f.mv.x, py = static_cast<int>(by * 8) + f.mv.y;
        int x0 = px >> 3, y0 = py >> 3;  // floor, also for negative positions
        int dx = px - x0 * 8, dy = py - y0 * 8;
        for (int j = 0; j < 4; j++) {
          int x = x0 + (j & 1), y = y0 + (j >> 1);
          int w = ((j & 1) ? dx : 8 - dx) * ((j >> 1) ? dy : 8 - dy);
          if (w == 0 || x < 0 || y < 0 || x >= static_cast<int>(cols) || y >= static_cast<int>(rows))
            continue;
          before[size_t(y) * cols + size_t(x)] += amount * static_cast<float>(w) / 64.0f;
        }
      }
    }
  }
  return inherited;
}

double FrameLambdaScale(const std::vector<float>& inherited, double strength) {
  if (inherited.empty()) return 1;
  double seen = 0;
  for (float v : inherited) seen += 1 + v;
  return std::pow(seen / static_cast<double>(inherited.size()), -strength);
}

void LimitScaleSteps(double* scales, size_t n, double step) {
  for (size_t t = 1; t < n; t++) scales[t] = std::min(scales[t], scales[t - 1] * step);
  for (size_t t = n; t-- > 1;) scales[t - 1] = std::min(scales[t - 1], scales[t] * step);
}

std::vector<float> AreaLambdaScales(const std::vector<float>& inherited, uint32_t cols,
                                    uint32_t rows, double strength) {
  const uint32_t area_cols = (cols + 1) / 2, area_rows = (rows + 1) / 2;
  std::vector<float> scales(size_t{area_cols} * area_rows, 1.0f);
  if (inherited.size() != size_t{cols} * rows || inherited.empty()) return scales;
  double frame_seen = 0;
  for (float v : inherited) frame_seen += 1 + v;
  frame_seen /= static_cast<double>(inherited.size());
  std::vector<double> seen(scales.size(), 0.0);
  std::vector<uint32_t> blocks(scales.size(), 0);
  for (uint32_t by = 0; by < rows; by++)
    for (uint32_t bx = 0; bx < cols; bx++) {
      size_t a = size_t{by / 2} * area_cols + bx / 2;
      seen[a] += 1 + inherited[size_t{by} * cols + bx];
      blocks[a]++;
    }
  for (size_t a = 0; a < scales.size(); a++)
    scales[a] = static_cast<float>(std::max(1.0, std::pow(seen[a] / blocks[a] / frame_seen, -strength)));
  return scales;
}
