#include "convert/families.h"

#include "convert/copy_to_buffer.h"
#include "platform/cpu.h"

namespace {

struct FamilyShape {
  const char* name;
  uint32_t bytes_per_pixel;
  bool yuv;
};

constexpr FamilyShape kShapes[FAMILY_COUNT] = {
    {"16", 2, false},  {"4444", 2, false}, {"5551", 2, false}, {"32", 4, false},
    {"32A", 4, false}, {"32R", 4, false},  {"32RA", 4, false}, {"24", 3, false},
    {"24R", 3, false}, {"YUY2", 2, true},  {"UYVY", 2, true},
};

void FillGroups(GroupEntry groups[GROUP_KIND_COUNT], const FamilyKernels& k,
                uint32_t colour_granularity, uint32_t grey_granularity) {
  groups[GROUP_COLOUR_EVEN] = {colour_granularity, k.colour};
  groups[GROUP_COLOUR_ODD] = {colour_granularity, k.colour};
  groups[GROUP_GREY] = {grey_granularity, k.grey};
  groups[GROUP_X2_EVEN] = {colour_granularity, k.colour_x2};
  groups[GROUP_X2_ODD] = {colour_granularity, k.colour_x2};
  groups[GROUP_X2_GREY] = {grey_granularity, k.grey_x2};
}

void FillPlain(RowKernels* kernels) {
  FamilyKernels plain[FAMILY_COUNT];
  PlainKernels(plain);
  for (int f = 0; f < FAMILY_COUNT; ++f) {
    FamilyDescriptor& d = kernels->families[f];
    const FamilyKernels& k = plain[f];
    d.name = kShapes[f].name;
    d.bytes_per_pixel = kShapes[f].bytes_per_pixel;
    FillGroups(d.groups, k, 2, 2);
    // Single-row converters are called for one row, edge converters for two;
    // the plain kernels serve both.
    const RowsConverter rows[ROW_KIND_COUNT] = {k.colour,       k.grey,      k.colour_x2,
                                                k.grey_x2,      k.colour_ld, k.grey_ld,
                                                k.colour_x2_ld, k.grey_x2_ld};
    for (int r = 0; r < ROW_KIND_COUNT; ++r) d.rows[r] = {rows[r], rows[r]};
  }
}

}  // namespace

FamilyId FamilyForFormat(uint32_t format, bool has_alpha) {
  switch (format) {
    case COPY_BGR24:
      return FAMILY_24;
    case COPY_RGB24:
      return FAMILY_24R;
    case COPY_BGRX32:
      return FAMILY_32;
    case COPY_RGBX32:
      return FAMILY_32R;
    case COPY_BGRA32:
      return has_alpha ? FAMILY_32A : FAMILY_32;
    case COPY_RGBA32:
      return has_alpha ? FAMILY_32RA : FAMILY_32R;
    case COPY_ARGB4444:
      return has_alpha ? FAMILY_4444 : FAMILY_16;
    case COPY_ARGB1555:
      return has_alpha ? FAMILY_5551 : FAMILY_16;
    case COPY_RGB555:
    case COPY_RGB565:
    case COPY_RGB655:
    case COPY_RGB664:
      return FAMILY_16;
    case COPY_YUY2:
      return FAMILY_YUY2;
    case COPY_UYVY:
      return FAMILY_UYVY;
    default:
      return FAMILY_COUNT;
  }
}

void RowKernelsUseVector(RowKernels* kernels, const FamilyKernels vector[FAMILY_COUNT]) {
  for (int f = 0; f < FAMILY_COUNT; ++f) {
    GroupEntry* groups = kernels->families[f].groups;
    FamilyKernels k = {groups[GROUP_COLOUR_EVEN].convert, groups[GROUP_X2_EVEN].convert,
                       groups[GROUP_GREY].convert,        groups[GROUP_X2_GREY].convert,
                       nullptr, nullptr, nullptr, nullptr};
    if (vector[f].colour) k.colour = vector[f].colour;
    if (vector[f].colour_x2) k.colour_x2 = vector[f].colour_x2;
    if (vector[f].grey) k.grey = vector[f].grey;
    if (vector[f].grey_x2) k.grey_x2 = vector[f].grey_x2;
    // Packed YUV groups run in eights in colour and fours in grey; RGB groups
    // the other way round (the widths only move the group/edge split).
    bool yuv = kShapes[f].yuv;
    FillGroups(groups, k, yuv ? 3 : 2, yuv ? 2 : 3);
  }
}

void RowKernelsInit(RowKernels* kernels, uint32_t cpu_flags) {
  FillPlain(kernels);
#if defined(VORN_X86)
  static constexpr CpuUpgrade<RowKernels> kLevels[] = {
      {CPU_SSE2, RowKernelsSse2},
      {CPU_AVX2, RowKernelsAvx2},
#if defined(VORN_AVX512)
      {CPU_AVX512, RowKernelsAvx512},
#endif
  };
  CpuUpgradeTable(kernels, cpu_flags, kLevels);
#else
  (void)cpu_flags;
#endif
}
