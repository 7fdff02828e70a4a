#include "convert/colour_tables.h"

#include <cstring>

int32_t LumaTable[256];
int32_t LumaOffsetTable[256];
int32_t BlueFromU[256];
int32_t RedFromV[256];
int32_t GreenFromU[256];
int32_t GreenFromV[256];
uint32_t PackedBlueFromU[256];
uint32_t PackedRedFromV[256];
uint32_t PackedGreenFromU[256];
uint32_t PackedGreenFromV[256];
uint32_t ClampTable[kClampEntries];
const uint32_t* LumaClampPointer[256];
uint32_t ComponentTable16[COMPONENT_COUNT][VARIANT_COUNT][kClampEntries];
uint16_t AlphaNibbleTable[256];
uint32_t GreyTable24[256];
uint16_t GreyTable16[256];
uint32_t GreyTable16Doubled[256];

namespace {

bool g_tables_built = false;
bool g_layout_built = false;
Layout16 g_layout = {};
uint32_t g_build_count = 0;

// Factors in 15-bit fixed point: 1.16437, 2.01724, 1.59604, 0.39175, 0.81296.
constexpr int32_t kLumaFactor = 38154;
constexpr int32_t kBlueU = 66101;
constexpr int32_t kRedV = 52299;
constexpr int32_t kGreenU = 12837;
constexpr int32_t kGreenV = 26639;

// C++ division truncates toward zero, which is what the tables want.
int32_t FixedTrunc(int32_t factor, int32_t delta) { return factor * delta / 32768; }

uint32_t Packed(int32_t value) { return (static_cast<uint32_t>(value) & 0xFFFF) * 0x10001u; }

void BuildCommonTables() {
  for (int32_t i = 0; i < 256; ++i) {
    int32_t k = i <= 16 ? 0 : (i >= 235 ? 219 : i - 16);
    LumaTable[i] = (k * kLumaFactor) >> 15;
    LumaOffsetTable[i] = 4 * LumaTable[i];
    BlueFromU[i] = FixedTrunc(kBlueU, i - 128);
    RedFromV[i] = FixedTrunc(kRedV, i - 128);
    GreenFromU[i] = FixedTrunc(kGreenU, 128 - i);
    GreenFromV[i] = FixedTrunc(kGreenV, 128 - i);
    PackedBlueFromU[i] = Packed(BlueFromU[i]);
    PackedRedFromV[i] = Packed(RedFromV[i]);
    PackedGreenFromU[i] = Packed(GreenFromU[i]);
    PackedGreenFromV[i] = Packed(GreenFromV[i]);
  }
  for (int32_t i = 0; i < kClampEntries; ++i) {
    int32_t sum = i - kClampBias;
    ClampTable[i] = static_cast<uint32_t>(sum < 0 ? 0 : (sum > 255 ? 255 : sum));
  }
  for (int32_t y = 0; y < 256; ++y) LumaClampPointer[y] = &ClampTable[kClampBias + LumaTable[y]];
  for (uint32_t a = 0; a < 256; ++a) AlphaNibbleTable[a] = static_cast<uint16_t>((a & 0xF0) << 8);
}

uint32_t Field(const Layout16& layout, int component, uint32_t value) {
  uint32_t bits = layout.bits[component];
  if (bits == 0) return 0;
  return (value >> (8 - bits)) << layout.shift[component];
}

void BuildLayoutTables(const Layout16& layout) {
  for (int c = 0; c < COMPONENT_COUNT; ++c) {
    for (int32_t i = 0; i < kClampEntries; ++i) {
      uint32_t field = Field(layout, c, ClampTable[i]);
      ComponentTable16[c][VARIANT_LOW][i] = field;
      ComponentTable16[c][VARIANT_HIGH][i] = field << 16;
      ComponentTable16[c][VARIANT_DOUBLED][i] = field * 0x10001u;
    }
  }
  for (uint32_t y = 0; y < 256; ++y) {
    uint32_t g = GreyValue(y);
    GreyTable24[y] = g * 0x010101u;
    uint32_t pixel = Field(layout, COMPONENT_BLUE, g) | Field(layout, COMPONENT_GREEN, g) |
                     Field(layout, COMPONENT_RED, g);
    GreyTable16[y] = static_cast<uint16_t>(pixel);
    GreyTable16Doubled[y] = pixel * 0x10001u;
  }
  g_layout = layout;
  g_layout_built = true;
  ++g_build_count;
}

}  // namespace

uint32_t GreyValue(uint32_t y) {
  int32_t scaled = 255 * (static_cast<int32_t>(y) - 16);
  if (scaled <= 0) return 0;
  if (scaled >= 55845) return 255;
  return static_cast<uint32_t>(scaled / 219);
}

Layout16 Layout16ForFormat(uint32_t format) {
  // {bits blue, green, red}, {shift blue, green, red}
  switch (format) {
    case 7:
      return {{4, 4, 4}, {0, 4, 8}};
    case 8:
    case 9:
      return {{5, 5, 5}, {0, 5, 10}};
    case 10:
      return {{5, 6, 5}, {0, 5, 11}};
    // 11 and 12 take the layouts of the display surfaces that ask for them.
    case 11:
      return {{5, 5, 6}, {0, 5, 10}};
    case 12:
      return {{4, 6, 6}, {0, 4, 10}};
    default:
      return {};
  }
}

const Layout16& CurrentLayout16() { return g_layout; }

void ConvertPrepareTables(int32_t format) {
  if (!g_tables_built) {
    BuildCommonTables();
    g_tables_built = true;
  }
  if (format < 0 || format > 15) return;
  Layout16 layout = Layout16ForFormat(static_cast<uint32_t>(format));
  bool is_16bit = layout.bits[COMPONENT_BLUE] != 0;
  // The grey tables serve every RGB format; the 16-bit ones only change with
  // a 16-bit layout, so formats that use none keep what is there.
  if (g_layout_built && (!is_16bit || std::memcmp(&layout, &g_layout, sizeof layout) == 0)) return;
  BuildLayoutTables(layout);
}

uint32_t ConvertTableBuildCount() { return g_build_count; }
