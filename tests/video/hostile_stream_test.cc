// Random and damaged frame data: the decoder must stay inside its buffers and
// finish, whatever the bytes say. Run under the address sanitizer too.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "video/video_tables.h"
#include "video/video_test_util.h"

namespace {

// A frame using every block type, doubled sub-types and coefficient data.
std::vector<uint8_t> RichFrame(uint32_t w, uint32_t h, std::mt19937& rng) {
  auto plane_of = [&](uint32_t w8, uint32_t h8) {
    PlaneSyntax plane;
    PlaneSyntaxInit(&plane, w8, h8, false);
    uint32_t cols = w8 / 8;
    for (uint32_t r = 0; r < h8 / 8; r++) {
      PlaneRowSyntax* row = &plane.rows[r];
      for (uint32_t c = 0; c < cols;) {
        uint32_t type = rng() % 10;
        if (type == BT_DOUBLED && (r % 2 || c + 1 >= cols || r + 1 >= h8 / 8)) type = BT_FILL;
        PutBlockType(row, type);
        uint8_t colours[64];
        for (uint8_t& v : colours) v = static_cast<uint8_t>(rng() % 4 * 60);
        int16_t coeffs[64] = {};
        for (int i = 0; i < 6; i++) coeffs[rng() % 64] = static_cast<int16_t>(rng() % 41) - 20;
        int8_t residue[64] = {}, rebuilt[64];
        residue[rng() % 64] = static_cast<int8_t>(rng() % 40);
        int32_t x = static_cast<int32_t>(rng() % 7) - 3, y = 0;
        switch (type) {
          case BT_DOUBLED:
            PutSubBlockType(row, BT_RAW);
            PutRawContent(row, colours);  // the row below overwrites its lower half
            break;
          case BT_MOTION: PutMotionContent(row, x, y); break;
          case BT_RUNS: PutRunContent(row, rng() % 16, colours); break;
          case BT_RESIDUE: PutResidueContent(row, x, y, residue, rebuilt); break;
          case BT_INTRA: PutIntraContent(row, static_cast<int16_t>(rng() % 2048), coeffs, rng() % 16); break;
          case BT_FILL: PutFillContent(row, colours[0]); break;
          case BT_INTER: PutInterContent(row, x, y, static_cast<int16_t>(rng() % 200) - 100, coeffs, rng() % 16); break;
          case BT_PATTERN: PutPatternContent(row, colours[0], colours[1], colours + 8); break;
          case BT_RAW: PutRawContent(row, colours); break;
          default: break;
        }
        c += type == BT_DOUBLED ? 2 : 1;
      }
    }
    PlaneSyntaxChooseTrees(&plane);
    return PlaneBytes(plane);
  };
  uint32_t w8 = (w + 7) & ~7u, h8 = (h + 7) & ~7u;
  uint32_t cw8 = ((w + 1) / 2 + 7) & ~7u, ch8 = ((h + 1) / 2 + 7) & ~7u;
  std::vector<uint8_t> luma = plane_of(w8, h8), c1 = plane_of(cw8, ch8), c2 = plane_of(cw8, ch8);
  std::vector<uint8_t> alpha = plane_of(w8, h8);
  return AssembleVideoFrame(luma, &c1, &c2, &alpha, true);
}

TEST(HostileStreams, RandomBytesStayInsideTheBuffers) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 1500; round++) {
    uint32_t w = 1 + rng() % 90, h = 1 + rng() % 70;
    TestFrame f(w, h, 1, 2);
    std::vector<uint8_t> data(rng() % 3000);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    // Mostly small tree tables and counts, so decoding gets deep into planes.
    if (round % 2 && data.size() > 8) {
      data[0] = static_cast<uint8_t>(rng() % 64);
      data[1] = data[2] = data[3] = 0;
    }
    uint32_t flags = (rng() % 2 ? kOldColours : 0) | (rng() % 4 == 0 ? kGrey : 0) |
                     (rng() % 2 ? kAlpha : 0);
    uint32_t video_flags = rng() % 3 == 0 ? kAlpha : 0;
    f.Decode(data, flags, video_flags, true);
    ASSERT_TRUE(f.GuardsIntact()) << "round " << round;
  }
}

TEST(HostileStreams, DamagedRealFramesStayInsideTheBuffers) {
  std::mt19937 rng(777);
  for (int round = 0; round < 300; round++) {
    uint32_t w = 8 + rng() % 72, h = 8 + rng() % 56;
    std::vector<uint8_t> good = RichFrame(w, h, rng);
    for (int damage = 0; damage < 6; damage++) {
      std::vector<uint8_t> data = good;
      switch (damage % 3) {
        case 0: data.resize(rng() % data.size()); break;
        case 1:
          for (int i = 0; i < 1 + static_cast<int>(rng() % 8); i++)
            data[rng() % data.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
          break;
        default:
          for (size_t i = rng() % data.size(); i < data.size(); i += 1 + rng() % 9)
            data[i] = static_cast<uint8_t>(rng());
          break;
      }
      TestFrame f(w, h, 1, 2);
      f.Decode(data, kAlpha, kAlpha, true);
      ASSERT_TRUE(f.GuardsIntact()) << "round " << round << " damage " << damage;
    }
    // Undamaged, the same frame decodes into a single shared buffer as an
    // all-key-frame movie does, and motion then reads what it writes.
    TestFrame shared(w, h, 1, 1);
    uint8_t* buffers[BUNDLE_COUNT];
    for (int b = 0; b < BUNDLE_COUNT; b++) buffers[b] = shared.bundles[b].data();
    VideoKernels kernels;
    VideoKernelsInit(&kernels, CpuFeatures());
    VideoDecodeFrame(shared.pitch, w, h, shared.cur.data(), shared.cur.data(), nullptr, nullptr,
                     shared.map.data(), shared.rows, good.data(), static_cast<uint32_t>(good.size()),
                     1, buffers, 0, kAlpha, kernels);
    ASSERT_TRUE(shared.GuardsIntact());
  }
}

TEST(HostileStreams, InconsistentGeometryIsRefused) {
  TestFrame f(32, 32, 1, 2);
  uint8_t* buffers[BUNDLE_COUNT];
  for (int b = 0; b < BUNDLE_COUNT; b++) buffers[b] = f.bundles[b].data();
  std::vector<uint8_t> data(400, 0x11);
  VideoKernels k;
  VideoKernelsInit(&k, CpuFeatures());
  // Width larger than the pitch, odd pitch, zero height: nothing is written.
  VideoDecodeFrame(32, 40, 32, f.cur.data(), f.prev.data(), nullptr, nullptr, f.map.data(), 32,
                   data.data(), 400, 0, buffers, 0, 0, k);
  VideoDecodeFrame(24, 20, 32, f.cur.data(), f.prev.data(), nullptr, nullptr, f.map.data(), 32,
                   data.data(), 400, 0, buffers, 0, 0, k);
  VideoDecodeFrame(32, 32, 0, f.cur.data(), f.prev.data(), nullptr, nullptr, f.map.data(), 32,
                   data.data(), 400, 0, buffers, 0, 0, k);
  for (size_t i = 0; i < f.cur.size; i++) ASSERT_EQ(f.cur.data()[i], 1);
  EXPECT_TRUE(f.GuardsIntact());
}

}  // namespace

#include "support/kernel_levels.h"
#include "platform/cpu.h"

namespace {

// The whole decoder gives the same pictures at every level, for good and
// damaged frames alike.
TEST(VectorLevels, EveryLevelDecodesAsThePlainOne) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 40; round++) {
    uint32_t w = 8 + rng() % 72, h = 8 + rng() % 56;
    std::vector<uint8_t> data = RichFrame(w, h, rng);
    if (round % 2) data[rng() % data.size()] ^= 0x10;
    TestFrame plain(w, h, 1, 2);
    for (size_t i = 0; i < plain.prev.size; i++) plain.prev.data()[i] = static_cast<uint8_t>(i * 7);
    plain.cpu_flags = 0;
    plain.Decode(data, kAlpha, kAlpha, true);
    for (const KernelLevel& level : VectorLevels()) {
      TestFrame vector(w, h, 1, 2);
      for (size_t i = 0; i < vector.prev.size; i++) vector.prev.data()[i] = static_cast<uint8_t>(i * 7);
      vector.cpu_flags = level.flags;
      vector.Decode(data, kAlpha, kAlpha, true);
      ASSERT_EQ(plain.cur.storage, vector.cur.storage) << "round " << round << " " << level.name;
      ASSERT_EQ(plain.alpha_cur.storage, vector.alpha_cur.storage) << "round " << round;
      ASSERT_EQ(plain.map.storage, vector.map.storage) << "round " << round;
    }
  }
}

}  // namespace
