#include "writer/encode_kernels.h"

#include <cstdlib>

#include "platform/cpu.h"
#include "writer/coefficient_writer.h"
#include "writer/encode_dct.h"
#include "writer/encode_quantise.h"

namespace {

uint32_t Sad8x8Plain(const uint8_t* a, uint32_t a_pitch, const uint8_t* b, uint32_t b_pitch) {
  uint32_t sum = 0;
  for (int y = 0; y < 8; y++, a += a_pitch, b += b_pitch)
    for (int x = 0; x < 8; x++) sum += static_cast<uint32_t>(std::abs(a[x] - b[x]));
  return sum;
}

uint32_t SsePlain(const uint8_t* a, const uint8_t* b, uint32_t count) {
  uint32_t sum = 0;
  for (uint32_t i = 0; i < count; i++) {
    int32_t d = static_cast<int32_t>(a[i]) - b[i];
    sum += static_cast<uint32_t>(d * d);
  }
  return sum;
}

}  // namespace

void Shrink4RowPlain(const uint8_t* rows, uint32_t pitch, uint32_t out_width, uint8_t* out) {
  for (uint32_t x = 0; x < out_width; x++) {
    uint32_t sum = 0;
    for (uint32_t y = 0; y < 4; y++)
      for (uint32_t i = 0; i < 4; i++) sum += rows[size_t{y} * pitch + 4 * x + i];
    out[x] = static_cast<uint8_t>((sum + 8) / 16);
  }
}

void EncodeKernelsInit(EncodeKernels* kernels, uint32_t cpu_flags) {
  kernels->sad8x8 = Sad8x8Plain;
  kernels->sse = SsePlain;
  kernels->coefficient_bits = DctCoefficientBits;
  kernels->forward_dct = ForwardDctRaw;
  kernels->quantise = QuantiseLevels;
  kernels->shrink4_row = Shrink4RowPlain;
  IdctKernelsInit(&kernels->idct, cpu_flags);
#if defined(VORN_X86)
  static constexpr CpuUpgrade<EncodeKernels> kLevels[] = {{CPU_SSE2, EncodeKernelsSse2},
                                                           {CPU_AVX2, EncodeKernelsAvx2}};
  CpuUpgradeTable(kernels, cpu_flags, kLevels);
#endif
}
