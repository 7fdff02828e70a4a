// The lookup tables of the YUV to RGB arithmetic, process-wide. The common
// tables are built by the first ConvertPrepareTables; the 16-bit component,
// grey and alpha-nibble tables follow the 16-bit layout of the format asked
// for last.
#pragma once
#include <cstdint>

// Clamp-style tables are indexed by a component sum from -258 to 511: the
// arrays carry kClampBias entries in front so that the two sums below -256
// (luma 0 plus the most negative blue offset) also read as 0.
inline constexpr int32_t kClampBias = 258;
inline constexpr int32_t kClampEntries = kClampBias + 512;

extern int32_t LumaTable[256];        // L[y]: studio range to 0..254
extern int32_t LumaOffsetTable[256];  // 4 x L[y], a byte offset into 4-byte entries
extern int32_t BlueFromU[256];
extern int32_t RedFromV[256];
extern int32_t GreenFromU[256];
extern int32_t GreenFromV[256];
// The four chroma tables as 16-bit values repeated in both halves.
extern uint32_t PackedBlueFromU[256];
extern uint32_t PackedRedFromV[256];
extern uint32_t PackedGreenFromU[256];
extern uint32_t PackedGreenFromV[256];
extern uint32_t ClampTable[kClampEntries];     // component in the low byte
extern const uint32_t* LumaClampPointer[256];  // &ClampTable[bias + L[y]]

enum ComponentIndex { COMPONENT_BLUE, COMPONENT_GREEN, COMPONENT_RED, COMPONENT_COUNT };
enum ComponentVariant {
  VARIANT_LOW,      // the pixel in bits 0-15
  VARIANT_HIGH,     // shifted up 16 bits: the second pixel of a 32-bit pair
  VARIANT_DOUBLED,  // in both halves: a horizontally doubled pixel
  VARIANT_COUNT
};
// Clamped component sums already reduced to the field's width and positioned.
extern uint32_t ComponentTable16[COMPONENT_COUNT][VARIANT_COUNT][kClampEntries];
extern uint16_t AlphaNibbleTable[256];  // (a & 0xF0) << 8
extern uint32_t GreyTable24[256];       // g in bytes 0, 1 and 2
extern uint16_t GreyTable16[256];
extern uint32_t GreyTable16Doubled[256];

// Where each 16-bit layout puts its fields (blue, green, red).
struct Layout16 {
  uint8_t bits[COMPONENT_COUNT];
  uint8_t shift[COMPONENT_COUNT];
};
// The layout of a destination format; zero-width fields for formats that are
// not 16-bit.
Layout16 Layout16ForFormat(uint32_t format);
// The layout the 16-bit tables currently hold (vector paths read it too).
const Layout16& CurrentLayout16();

// The grey value g(y): 0 up to y = 16, 255 from y = 235, (255 (y - 16)) / 219
// between.
uint32_t GreyValue(uint32_t y);

// Builds the common tables on the first call; then, for formats 0 to 15,
// rebuilds the format-dependent tables when the format's 16-bit layout differs
// from the one they hold. -1 only makes sure the common tables exist.
void ConvertPrepareTables(int32_t format);
// How many times the format-dependent tables were built (for tests).
uint32_t ConvertTableBuildCount();
