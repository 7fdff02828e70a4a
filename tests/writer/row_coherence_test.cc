// Row coherence of the plane encoder: when near-equal copies scatter a block
// row's offsets or types, the row is made uniform (one cheap fill), and the
// blocks it moves are rebuilt from their new offsets.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "video/video_tables.h"
#include "writer/encode_blocks.h"
#include "writer/encode_plane.h"
#include "support/machine_encode_kernels.h"

namespace {

constexpr uint32_t kWidth = 128, kHeight = 64;

const EncodeKernels* Kernels() { return MachineEncodeKernels(); }

// Smooth texture: noise blurred along both directions, so a half-sample
// displacement matches its two whole-sample neighbours about equally.
std::vector<uint8_t> Texture() {
  std::mt19937 random(5);
  std::vector<int> noise(kWidth * kHeight);
  for (int& v : noise) v = static_cast<int>(random() % 256);
  std::vector<uint8_t> out(kWidth * kHeight);
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) {
      int sum = 0;
      for (uint32_t k = 0; k < 4; k++)
        sum += noise[((y + k) % kHeight) * kWidth + x] + noise[y * kWidth + (x + k) % kWidth];
      out[y * kWidth + x] = static_cast<uint8_t>(128 + (sum / 8 - 128) / 8);
    }
  return out;
}

uint8_t At(const std::vector<uint8_t>& p, int x, int y) {
  x = std::clamp(x, 0, static_cast<int>(kWidth) - 1);
  y = std::clamp(y, 0, static_cast<int>(kHeight) - 1);
  return p[y * kWidth + x];
}

struct Coded {
  PlaneSyntax syntax;
  std::vector<uint8_t> recon;
};

// literal_bits: what each offset value costs in a row that is not a fill
// (0: not learnt yet).
Coded Encode(const std::vector<uint8_t>& prev, const std::vector<uint8_t>& source, bool coherent,
             float offset_bits = 3.0f, std::vector<BlockChoice>* choice_store = nullptr,
             float literal_bits = 0, bool common_offset = true,
             uint32_t allowed = (1u << BT_KEEP) | (1u << BT_MOTION),
             void (*adjust)(PlaneCostModel*) = nullptr) {
  PlaneCostModel model;
  std::fill(std::begin(model.x_offset_bits), std::end(model.x_offset_bits), offset_bits);
  std::fill(std::begin(model.y_offset_bits), std::end(model.y_offset_bits), offset_bits);
  model.offsets_learnt = true;
  if (literal_bits > 0) {
    std::fill(std::begin(model.x_literal_bits), std::end(model.x_literal_bits), literal_bits);
    std::fill(std::begin(model.y_literal_bits), std::end(model.y_literal_bits), literal_bits);
    model.literals_learnt = true;
  }
  if (adjust) adjust(&model);
  std::vector<MotionVector> vectors(size_t{kWidth / 8} * (kHeight / 8));
  Coded out;
  out.recon.assign(kWidth * kHeight, 0);
  PlaneEncodeArgs args{};
  args.source = source.data();
  args.prev = prev.data();
  args.recon = out.recon.data();
  args.width8 = kWidth;
  args.height8 = kHeight;
  args.pitch = kWidth;
  args.key = false;
  args.lambda = 40;
  args.base_q = 8;
  args.allowed_types = allowed;
  args.allowed_sub_types = 0;
  args.model = &model;
  args.vectors = &vectors;
  args.speed = SpeedPlanFor(5);
  args.speed.coherent_rows = coherent;
  args.speed.common_offset = common_offset;
  args.kernels = Kernels();
  args.choice_store = choice_store;
  PlaneEncodeResult result;
  EncodePlane(args, &out.syntax, &result);
  return out;
}

// Rebuilds every row made only of keeps and copies from the row's type and
// offset values, as the decoder would, and compares with the recon.
void ExpectCopiesRebuilt(const Coded& coded, const std::vector<uint8_t>& prev) {
  for (uint32_t by = 0; by < kHeight / 8; by++) {
    const PlaneRowSyntax& row = coded.syntax.rows[by];
    const std::vector<int32_t>& types = row.values[BUNDLE_BLOCK_TYPES];
    if (std::any_of(types.begin(), types.end(), [](int32_t t) { return t != BT_KEEP && t != BT_MOTION; }))
      continue;
    size_t offset = 0;
    for (uint32_t bx = 0; bx < types.size(); bx++) {
      int dx = 0, dy = 0;
      if (types[bx] == BT_MOTION) {
        dx = row.values[BUNDLE_X_OFFSET][offset];
        dy = row.values[BUNDLE_Y_OFFSET][offset++];
      }
      for (uint32_t y = 0; y < 8; y++)
        for (uint32_t x = 0; x < 8; x++) {
          uint32_t px = bx * 8 + x, py = by * 8 + y;
          ASSERT_EQ(coded.recon[py * kWidth + px], prev[(py + dy) * kWidth + px + dx])
              << "block " << bx << "," << by;
        }
    }
  }
}

uint32_t MixedRows(const Coded& coded, int bundle) {
  uint32_t mixed = 0;
  for (const PlaneRowSyntax& row : coded.syntax.rows) {
    const std::vector<int32_t>& v = row.values[bundle];
    mixed += std::adjacent_find(v.begin(), v.end(), std::not_equal_to<>()) != v.end();
  }
  return mixed;
}

TEST(RowCoherence, HalfSampleShiftGivesEachRowOneVerticalOffset) {
  // The picture moves 2 samples left and between 1.4 and 1.6 up, by block:
  // each block matches y 1 or y 2 a little better, so the search alone
  // scatters them.
  std::vector<uint8_t> prev = Texture(), source(kWidth * kHeight);
  std::mt19937 random(9);
  for (uint32_t by = 0; by < kHeight / 8; by++)
    for (uint32_t bx = 0; bx < kWidth / 8; bx++) {
      int weight = 4 + static_cast<int>(random() % 3);  // tenths of the lower row
      for (int y = by * 8; y < static_cast<int>(by * 8 + 8); y++)
        for (int x = bx * 8; x < static_cast<int>(bx * 8 + 8); x++)
          source[y * kWidth + x] = static_cast<uint8_t>(
              ((10 - weight) * At(prev, x, y + 1) + weight * At(prev, x, y + 2) + 5) / 10);
    }
  Coded scattered = Encode(prev, source, false);
  ASSERT_GT(MixedRows(scattered, BUNDLE_Y_OFFSET), 2u);
  Coded coherent = Encode(prev, source, true);
  EXPECT_EQ(MixedRows(coherent, BUNDLE_Y_OFFSET), 0u);
  ExpectCopiesRebuilt(coherent, prev);
}

// The half-sample shift of the test above, with offsets priced as a plane
// of fills prices them: the row's common value nearly free. A row that is
// not a fill pays each value's own code, so the fill is still worth taking.
std::vector<uint8_t> HalfSampleShift(const std::vector<uint8_t>& prev) {
  std::vector<uint8_t> source(kWidth * kHeight);
  std::mt19937 random(9);
  for (uint32_t by = 0; by < kHeight / 8; by++)
    for (uint32_t bx = 0; bx < kWidth / 8; bx++) {
      int weight = 4 + static_cast<int>(random() % 3);
      for (int y = by * 8; y < static_cast<int>(by * 8 + 8); y++)
        for (int x = bx * 8; x < static_cast<int>(bx * 8 + 8); x++)
          source[y * kWidth + x] = static_cast<uint8_t>(
              ((10 - weight) * At(prev, x, y + 1) + weight * At(prev, x, y + 2) + 5) / 10);
    }
  return source;
}

TEST(RowCoherence, RowPaysEachValueWhenNotAFill) {
  std::vector<uint8_t> prev = Texture(), source = HalfSampleShift(prev);
  Coded averaged = Encode(prev, source, true, 0.2f);
  ASSERT_GT(MixedRows(averaged, BUNDLE_Y_OFFSET), 2u);
  Coded literal = Encode(prev, source, true, 0.2f, nullptr, 3.0f);
  EXPECT_EQ(MixedRows(literal, BUNDLE_Y_OFFSET), 0u);
  ExpectCopiesRebuilt(literal, prev);
}

TEST(RowCoherence, RowOfKeepsWithAFewSlightMovesBecomesAllKeeps) {
  // A still picture where a few blocks of row 3 drift three quarters of a
  // sample: their copies beat a keep by a little error only.
  std::vector<uint8_t> prev = Texture(), source = prev;
  for (uint32_t bx : {2u, 7u, 11u})
    for (int y = 24; y < 32; y++)
      for (int x = bx * 8; x < static_cast<int>(bx * 8 + 8); x++)
        source[y * kWidth + x] = static_cast<uint8_t>((At(prev, x, y) + 3 * At(prev, x + 1, y) + 2) / 4);
  Coded scattered = Encode(prev, source, false);
  ASSERT_GT(scattered.syntax.rows[3].values[BUNDLE_X_OFFSET].size(), 0u);
  Coded coherent = Encode(prev, source, true);
  const std::vector<int32_t>& types = coherent.syntax.rows[3].values[BUNDLE_BLOCK_TYPES];
  EXPECT_TRUE(std::all_of(types.begin(), types.end(), [](int32_t t) { return t == BT_KEEP; }));
  EXPECT_EQ(MixedRows(coherent, BUNDLE_BLOCK_TYPES), 0u);
  ExpectCopiesRebuilt(coherent, prev);
}

uint32_t TypeChanges(const Coded& coded) {
  uint32_t changes = 0;
  for (const PlaneRowSyntax& row : coded.syntax.rows) {
    const std::vector<int32_t>& v = row.values[BUNDLE_BLOCK_TYPES];
    for (size_t i = 1; i < v.size(); i++) changes += v[i] != v[i - 1];
  }
  return changes;
}

TEST(RowCoherence, NearEqualKeepsAndMovesFormRunsOfOneType) {
  // Each block moved between 0.3 and 0.7 of a sample left: a keep and a
  // copy one sample over match it about equally, the better one varying
  // from block to block. A type that breaks the run of its neighbours costs
  // more than the little error it saves, so the types come in patches
  // (without the rows' own coherence pass, which would hide it).
  std::vector<uint8_t> prev = Texture(), source(kWidth * kHeight);
  std::mt19937 random(3);
  uint32_t best_changes = 0;
  for (uint32_t by = 0; by < kHeight / 8; by++) {
    bool last_moves = false;
    for (uint32_t bx = 0; bx < kWidth / 8; bx++) {
      int weight = 3 + static_cast<int>(random() % 5);  // tenths of the right neighbour
      bool moves = weight > 5 || (weight == 5 && random() % 2);
      if (bx > 0) best_changes += moves != last_moves;
      last_moves = moves;
      for (int y = by * 8; y < static_cast<int>(by * 8 + 8); y++)
        for (int x = bx * 8; x < static_cast<int>(bx * 8 + 8); x++)
          source[y * kWidth + x] = static_cast<uint8_t>(
              ((10 - weight) * At(prev, x, y) + weight * At(prev, x + 1, y) + 5) / 10);
    }
  }
  ASSERT_GT(best_changes, 40u);
  Coded coded = Encode(prev, source, false, 0.5f);
  EXPECT_LT(TypeChanges(coded), best_changes / 3);
  ExpectCopiesRebuilt(coded, prev);
}

// A smooth background rising to the right by one level per `slope` samples,
// with a textured band, and the same picture moved by (dx, dy) with noise
// of up to `noise` levels either way added.
struct ShakenPicture {
  std::vector<uint8_t> prev, source;
};

ShakenPicture Shake(uint32_t slope, int dx, int dy, int noise, uint32_t seed) {
  std::vector<uint8_t> texture = Texture();
  ShakenPicture out{std::vector<uint8_t>(kWidth * kHeight), std::vector<uint8_t>(kWidth * kHeight)};
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) {
      bool band = x >= 48 && x < 80;
      out.prev[y * kWidth + x] =
          static_cast<uint8_t>(band ? 2 * texture[y * kWidth + x] - 180 : 60 + x / slope + y / 4);
    }
  std::mt19937 random(seed);
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++)
      out.source[y * kWidth + x] = static_cast<uint8_t>(
          At(out.prev, static_cast<int>(x) + dx, static_cast<int>(y) + dy) +
          static_cast<int>(random() % (2 * noise + 1)) - noise);
  return out;
}

TEST(RowCoherence, ShakenPictureRowsCopyFromTheCommonOffset) {
  // A smooth background with a textured band, the whole picture moved by
  // (3, 2) and a little noise added: the background's blocks match a keep
  // nearly as well as the move, so each block alone keeps there and rows
  // mix keeps with moves. Moving every block of the row makes its types and
  // offsets fills. The last block row and column cannot reach the offset.
  ShakenPicture shaken = Shake(4, 3, 2, 1, 11);
  const std::vector<uint8_t>& prev = shaken.prev;
  const std::vector<uint8_t>& source = shaken.source;
  auto moved_rows = [](const Coded& coded) {
    uint32_t moved = 0;
    for (uint32_t by = 0; by + 1 < kHeight / 8; by++) {
      const PlaneRowSyntax& row = coded.syntax.rows[by];
      const std::vector<int32_t>& types = row.values[BUNDLE_BLOCK_TYPES];
      bool all = std::all_of(types.begin(), types.end() - 1, [](int32_t t) { return t == BT_MOTION; });
      for (size_t k = 0; all && k < row.values[BUNDLE_X_OFFSET].size(); k++)
        all = row.values[BUNDLE_X_OFFSET][k] == 3 && row.values[BUNDLE_Y_OFFSET][k] == 2;
      moved += all;
    }
    return moved;
  };
  Coded alone = Encode(prev, source, true, 3.0f, nullptr, 4.0f, false);
  ASSERT_EQ(moved_rows(alone), 0u);
  Coded common = Encode(prev, source, true, 3.0f, nullptr, 4.0f, true);
  EXPECT_EQ(moved_rows(common), kHeight / 8 - 1);
  ExpectCopiesRebuilt(common, prev);
}

TEST(RowCoherence, OffsetPricesFollowTheCommonOffset) {
  // The last plane's offsets were mostly (5, 0), so its prices make them
  // nearly free and every other value dear; this picture moved by (-3, 2).
  // Priced as last time, a copy of the smooth background costs more than a
  // fill of its mean (its noise is above what ends a decision at the copy);
  // priced around this plane's motion, the copies win.
  ShakenPicture shaken = Shake(2, -3, 2, 3, 12);
  const std::vector<uint8_t>& prev = shaken.prev;
  const std::vector<uint8_t>& source = shaken.source;
  auto last_plane = [](PlaneCostModel* model) {
    std::fill(std::begin(model->x_offset_bits), std::end(model->x_offset_bits), 8.0f);
    std::fill(std::begin(model->y_offset_bits), std::end(model->y_offset_bits), 8.0f);
    model->x_offset_bits[5 + 15] = 0.1f;
    model->y_offset_bits[0 + 15] = 0.1f;
  };
  // (The first block column and the last block row cannot reach (-3, 2).)
  auto fills = [](const Coded& coded) {
    uint32_t n = 0;
    for (uint32_t by = 0; by + 1 < kHeight / 8; by++) {
      const std::vector<int32_t>& types = coded.syntax.rows[by].values[BUNDLE_BLOCK_TYPES];
      n += static_cast<uint32_t>(std::count(types.begin() + 1, types.end(), BT_FILL));
    }
    return n;
  };
  uint32_t allowed = (1u << BT_MOTION) | (1u << BT_FILL);
  Coded alone = Encode(prev, source, true, 3.0f, nullptr, 4.0f, false, allowed, last_plane);
  ASSERT_GT(fills(alone), 20u);
  Coded common = Encode(prev, source, true, 3.0f, nullptr, 4.0f, true, allowed, last_plane);
  EXPECT_EQ(fills(common), 0u);
  ExpectCopiesRebuilt(common, prev);
}

// The encoder keeps one store of block choices for all its planes: what an
// earlier plane left there must not reach the next plane's coding.
TEST(RowCoherence, ReusedChoiceStoreCodesAsAFreshOne) {
  std::vector<uint8_t> prev = Texture(), source(kWidth * kHeight), other(kWidth * kHeight);
  for (uint32_t y = 0; y < kHeight; y++)
    for (uint32_t x = 0; x < kWidth; x++) {
      source[y * kWidth + x] = At(prev, static_cast<int>(x) + 2, static_cast<int>(y) + 1);
      other[y * kWidth + x] = static_cast<uint8_t>(255 - prev[y * kWidth + x]);
    }
  Coded fresh = Encode(prev, source, true);
  std::vector<BlockChoice> store;
  Encode(prev, other, true, 3.0f, &store);  // leaves other choices behind
  Coded reused = Encode(prev, source, true, 3.0f, &store);
  EXPECT_EQ(store.size(), size_t{kWidth / 8} * (kHeight / 8));
  EXPECT_EQ(reused.recon, fresh.recon);
  ASSERT_EQ(reused.syntax.rows.size(), fresh.syntax.rows.size());
  for (size_t r = 0; r < fresh.syntax.rows.size(); r++) {
    const PlaneRowSyntax &now = reused.syntax.rows[r], &expected = fresh.syntax.rows[r];
    for (int b = 0; b < BUNDLE_COUNT; b++) EXPECT_EQ(now.values[b], expected.values[b]) << "row " << r;
    EXPECT_EQ(now.fields.words, expected.fields.words) << "row " << r;
    EXPECT_EQ(now.fields.pending, expected.fields.pending) << "row " << r;
  }
}

}  // namespace
