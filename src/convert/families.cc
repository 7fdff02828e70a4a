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

FamilyDescriptor g_families[FAMILY_COUNT];
FamilyKernels g_plain[FAMILY_COUNT];
bool g_built = false;
uint32_t g_vector_features = ~0u;  // features the vector slots were filled for

void FillGroups(GroupEntry groups[GROUP_KIND_COUNT], const FamilyKernels& k,
                uint32_t colour_granularity, uint32_t grey_granularity) {
  groups[GROUP_COLOUR_EVEN] = {colour_granularity, k.colour};
  groups[GROUP_COLOUR_ODD] = {colour_granularity, k.colour};
  groups[GROUP_GREY] = {grey_granularity, k.grey};
  groups[GROUP_X2_EVEN] = {colour_granularity, k.colour_x2};
  groups[GROUP_X2_ODD] = {colour_granularity, k.colour_x2};
  groups[GROUP_X2_GREY] = {grey_granularity, k.grey_x2};
}

void BuildPlain() {
  PlainKernels(g_plain);
  for (int f = 0; f < FAMILY_COUNT; ++f) {
    FamilyDescriptor& d = g_families[f];
    const FamilyKernels& k = g_plain[f];
    d.name = kShapes[f].name;
    d.bytes_per_pixel = kShapes[f].bytes_per_pixel;
    FillGroups(d.groups[PATH_PLAIN], k, 2, 2);
    // Single-row converters are called for one row, edge converters for two;
    // the plain kernels serve both.
    const RowsConverter rows[ROW_KIND_COUNT] = {k.colour,       k.grey,      k.colour_x2,
                                                k.grey_x2,      k.colour_ld, k.grey_ld,
                                                k.colour_x2_ld, k.grey_x2_ld};
    for (int r = 0; r < ROW_KIND_COUNT; ++r) d.rows[r] = {rows[r], rows[r]};
  }
}

void FillVector(uint32_t features) {
  FamilyKernels vec[FAMILY_COUNT] = {};
#if defined(VORN_X86)
  if (features & CPU_SSE2) Sse2Kernels(vec);
  if (features & CPU_AVX2) Avx2Kernels(vec);
#else
  (void)features;
#endif
  for (int f = 0; f < FAMILY_COUNT; ++f) {
    FamilyKernels k = g_plain[f];
    if (vec[f].colour) k.colour = vec[f].colour;
    if (vec[f].colour_x2) k.colour_x2 = vec[f].colour_x2;
    if (vec[f].grey) k.grey = vec[f].grey;
    if (vec[f].grey_x2) k.grey_x2 = vec[f].grey_x2;
    // Packed YUV groups run in eights in colour and fours in grey; RGB groups
    // the other way round (the widths only move the group/edge split).
    bool yuv = kShapes[f].yuv;
    FillGroups(g_families[f].groups[PATH_VECTOR], k, yuv ? 3 : 2, yuv ? 2 : 3);
  }
  g_vector_features = features;
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

const FamilyDescriptor& FamilyGet(FamilyId id) {
  if (!g_built) {
    BuildPlain();
    g_built = true;
  }
  uint32_t features = CpuFeatures();
  if (features != g_vector_features) FillVector(features);
  return g_families[id];
}
