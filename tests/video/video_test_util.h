// Frame buffers with guard bytes and helpers to decode hand-built frames.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/cpu.h"
#include "video/video_decoder.h"
#include "writer/plane_syntax.h"

inline constexpr uint32_t kOldColours = 0x8000;  // open flags as the engine passes them
inline constexpr uint32_t kGrey = 0x20000;
inline constexpr uint32_t kAlpha = 0x100000;
inline constexpr uint8_t kGuard = 0xA5;
inline constexpr size_t kGuardBytes = 64;

// A buffer with guard bytes on both sides.
struct GuardedBuffer {
  std::vector<uint8_t> storage;
  size_t size = 0;
  void Init(size_t n, uint8_t fill) {
    size = n;
    storage.assign(n + 2 * kGuardBytes, kGuard);
    std::memset(storage.data() + kGuardBytes, fill, n);
  }
  uint8_t* data() { return storage.data() + kGuardBytes; }
  const uint8_t* data() const { return storage.data() + kGuardBytes; }
  bool GuardsIntact() const {
    for (size_t i = 0; i < kGuardBytes; i++)
      if (storage[i] != kGuard || storage[kGuardBytes + size + i] != kGuard) return false;
    return true;
  }
};

struct TestFrame {
  uint32_t width, height, pitch, rows;
  GuardedBuffer cur, prev, alpha_cur, alpha_prev, map;
  GuardedBuffer bundles[BUNDLE_COUNT];
  uint32_t cpu_flags = CpuFeatures();  // the level Decode sets its kernels up for

  TestFrame(uint32_t w, uint32_t h, uint8_t cur_fill = 0, uint8_t prev_fill = 0)
      : width(w), height(h), pitch((w + 15) & ~15u), rows((h + 15) & ~15u) {
    size_t bytes = size_t{pitch} * rows + 2 * size_t{pitch / 2} * (rows / 2);
    cur.Init(bytes, cur_fill);
    prev.Init(bytes, prev_fill);
    alpha_cur.Init(size_t{pitch} * rows, cur_fill);
    alpha_prev.Init(size_t{pitch} * rows, prev_fill);
    map.Init(size_t{pitch / 16} * (rows / 16), 0);
    uint32_t sizes[BUNDLE_COUNT];
    BundleBuffersSize(pitch, sizes);
    for (int b = 0; b < BUNDLE_COUNT; b++) bundles[b].Init(sizes[b], 0);
  }
  uint8_t* Luma() { return cur.data(); }
  uint8_t* Chroma1() { return cur.data() + pitch * rows; }
  uint8_t* Chroma2() { return Chroma1() + (pitch / 2) * (rows / 2); }
  uint8_t* PrevLuma() { return prev.data(); }
  uint8_t* PrevChroma1() { return prev.data() + pitch * rows; }
  uint8_t& Y(uint32_t x, uint32_t y) { return cur.data()[y * pitch + x]; }
  uint8_t& Map(uint32_t x, uint32_t y) { return map.data()[y * (pitch / 16) + x]; }

  // Decodes data (copied to an exact-size heap block, so overreads are caught).
  void Decode(const std::vector<uint8_t>& data, uint32_t flags, uint32_t video_flags = 0,
              bool alpha = false) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size() ? data.size() : 1]);
    if (!data.empty()) std::memcpy(exact.get(), data.data(), data.size());
    uint8_t* buffers[BUNDLE_COUNT];
    for (int b = 0; b < BUNDLE_COUNT; b++) buffers[b] = bundles[b].data();
    VideoKernels kernels;
    VideoKernelsInit(&kernels, cpu_flags);
    VideoDecodeFrame(pitch, width, height, cur.data(), prev.data(),
                     alpha ? alpha_cur.data() : nullptr, alpha ? alpha_prev.data() : nullptr,
                     map.data(), rows, exact.get(), static_cast<uint32_t>(data.size()), 0, buffers,
                     flags, video_flags, kernels);
  }
  bool GuardsIntact() const {
    bool ok = cur.GuardsIntact() && prev.GuardsIntact() && alpha_cur.GuardsIntact() &&
              alpha_prev.GuardsIntact() && map.GuardsIntact();
    for (const GuardedBuffer& b : bundles) ok = ok && b.GuardsIntact();
    return ok;
  }
};

inline std::vector<uint8_t> PlaneBytes(const PlaneSyntax& plane) {
  std::vector<uint8_t> out;
  EXPECT_TRUE(WritePlaneBytes(plane, &out));
  return out;
}

// A version-i grey frame holding only this luma plane.
inline std::vector<uint8_t> LumaOnlyFrame(const PlaneSyntax& luma) {
  return AssembleVideoFrame(PlaneBytes(luma), nullptr, nullptr, nullptr, true);
}
