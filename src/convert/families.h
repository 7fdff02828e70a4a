// Pixel-format families: the row converters that write one destination
// layout, described to the common copy drivers by a family descriptor so that
// the drivers never know the layout.
#pragma once
#include <cstdint>

// The row pair being converted: two destination lines, two luma rows sharing
// one chroma row. u and v point at the chroma sample of the first pixel (the
// one covering source x & ~1).
struct RowPairContext {
  uint8_t* dest[2];
  const uint8_t* luma[2];
  const uint8_t* u;  // drives blue
  const uint8_t* v;  // drives red
  const uint8_t* alpha[2];
  // Line-doubled converters also write each line to line + line_pitch.
  intptr_t line_pitch;
};

// Converts count pixels of row 0 (rows = 1) or of both rows (rows = 2) from a
// source x whose parity is odd (1 = the run starts on the second pixel of a
// chroma pair). Group converters are only handed whole groups.
using RowsConverter = void (*)(const RowPairContext& ctx, uint32_t rows, uint32_t odd,
                               uint32_t count);

enum GroupKind {
  GROUP_COLOUR_EVEN,
  GROUP_COLOUR_ODD,
  GROUP_GREY,
  GROUP_X2_EVEN,
  GROUP_X2_ODD,
  GROUP_X2_GREY,
  GROUP_KIND_COUNT
};

// Single-row and edge converters, plain and line-doubled.
enum RowKind {
  ROW_COLOUR,
  ROW_GREY,
  ROW_X2,
  ROW_X2_GREY,
  ROW_LD_COLOUR,
  ROW_LD_GREY,
  ROW_LD_X2,
  ROW_LD_X2_GREY,
  ROW_KIND_COUNT
};

struct GroupEntry {
  uint32_t granularity;  // log2 of the group size in pixels
  RowsConverter convert;
};

struct RowEntry {
  RowsConverter single;  // called with rows = 1
  RowsConverter edge;    // called with rows = 2
};

struct FamilyDescriptor {
  const char* name;
  uint32_t bytes_per_pixel;
  GroupEntry groups[GROUP_KIND_COUNT];
  RowEntry rows[ROW_KIND_COUNT];
};

enum FamilyId {
  FAMILY_16,
  FAMILY_4444,
  FAMILY_5551,
  FAMILY_32,
  FAMILY_32A,
  FAMILY_32R,
  FAMILY_32RA,
  FAMILY_24,
  FAMILY_24R,
  FAMILY_YUY2,
  FAMILY_UYVY,
  FAMILY_COUNT
};

// The family that writes a destination format (1 to 14); has_alpha picks the
// alpha families for formats 5 to 8. FAMILY_COUNT for formats 0 and 15.
FamilyId FamilyForFormat(uint32_t format, bool has_alpha);

// ---- The kernel family of the conversion (see platform/cpu.h) -------------------
// Every family's descriptor for one processor level: plain group converters,
// upgraded level by level by RowKernelsInit. The edge and single-row
// converters stay plain at every level.
struct RowKernels {
  FamilyDescriptor families[FAMILY_COUNT];
};
void RowKernelsInit(RowKernels* kernels, uint32_t cpu_flags);

// ---- Converter sets, filled by the plain and the per-ISA sources ---------------
// One set per family: the row kernels that the descriptor's entries wrap.
// Vector sets fill only the first four (null = no vector kernel); the
// line-doubled ones exist only in the plain set.
struct FamilyKernels {
  RowsConverter colour, colour_x2, grey, grey_x2;
  RowsConverter colour_ld, colour_x2_ld, grey_ld, grey_x2_ld;
};
void PlainKernels(FamilyKernels out[FAMILY_COUNT]);
// The group converters of a vector level into every family's descriptor.
void RowKernelsUseVector(RowKernels* kernels, const FamilyKernels vector[FAMILY_COUNT]);
#if defined(VORN_X86)
void Sse2Kernels(FamilyKernels out[FAMILY_COUNT]);
void Avx2Kernels(FamilyKernels out[FAMILY_COUNT]);
void RowKernelsSse2(RowKernels* kernels);
void RowKernelsAvx2(RowKernels* kernels);
#if defined(VORN_AVX512)
void Avx512Kernels(FamilyKernels out[FAMILY_COUNT]);
void RowKernelsAvx512(RowKernels* kernels);
#endif
#endif
