// The plain row kernels of every family: table lookups only, the reference
// every vector kernel must match byte for byte.
#include <cstring>

#include "convert/colour_tables.h"
#include "convert/families.h"
#include "convert/pixel_pack.h"

namespace {

struct Rgb {
  uint32_t b, g, r;
};

// Offsets of one chroma pair into the clamp tables.
struct ChromaOffsets {
  int32_t blue, green, red;
};

ChromaOffsets OffsetsFor(uint8_t u, uint8_t v) {
  return {BlueFromU[u], GreenFromU[u] + GreenFromV[v], RedFromV[v]};
}

Rgb ColourPixel(uint8_t y, const ChromaOffsets& c) {
  const uint32_t* clamp = LumaClampPointer[y];
  return {clamp[c.blue] & 0xFF, clamp[c.green] & 0xFF, clamp[c.red] & 0xFF};
}

// 16-bit pixel from the component tables; variant picks the half.
uint32_t Pixel16(uint8_t y, const ChromaOffsets& c, int variant) {
  int32_t l = kClampBias + LumaTable[y];
  return ComponentTable16[COMPONENT_BLUE][variant][l + c.blue] |
         ComponentTable16[COMPONENT_GREEN][variant][l + c.green] |
         ComponentTable16[COMPONENT_RED][variant][l + c.red];
}

void Store16(uint8_t* d, uint32_t v) {
  uint16_t p = static_cast<uint16_t>(v);
  std::memcpy(d, &p, 2);
}
void Store32(uint8_t* d, uint32_t v) { std::memcpy(d, &v, 4); }

uint32_t Alpha16(Pack pack, uint8_t a) {
  if (pack == Pack::k4444A) return AlphaNibbleTable[a];
  if (pack == Pack::k5551A) return (a & 0x80u) << 8;
  return 0;
}

uint32_t Word32(Pack pack, const Rgb& c, uint8_t a) {
  uint32_t alpha = PackHasAlpha(pack) ? static_cast<uint32_t>(a) << 24 : 0;
  if (PackIsReversed(pack)) return c.r | c.g << 8 | c.b << 16 | alpha;
  return c.b | c.g << 8 | c.r << 16 | alpha;
}

void Store24(Pack pack, uint8_t* d, const Rgb& c) {
  bool reversed = pack == Pack::k24R;
  d[0] = static_cast<uint8_t>(reversed ? c.r : c.b);
  d[1] = static_cast<uint8_t>(c.g);
  d[2] = static_cast<uint8_t>(reversed ? c.b : c.r);
}

// One source pixel of an RGB family; returns the bytes written.
template <Pack P, bool kGrey, bool kDouble>
uint32_t RgbPixel(uint8_t* d, uint8_t y, uint8_t a, const ChromaOffsets& c) {
  constexpr uint32_t kBytes = PackBytes(P);
  if constexpr (kBytes == 2) {
    uint32_t alpha = Alpha16(P, a);
    if constexpr (kDouble) {
      uint32_t pair = kGrey ? GreyTable16Doubled[y] : Pixel16(y, c, VARIANT_DOUBLED);
      Store32(d, pair | alpha * 0x10001u);
      return 4;
    } else {
      Store16(d, (kGrey ? GreyTable16[y] : Pixel16(y, c, VARIANT_LOW)) | alpha);
      return 2;
    }
  } else {
    Rgb rgb;
    if constexpr (kGrey) {
      uint32_t g = GreyTable24[y] & 0xFF;
      rgb = {g, g, g};
    } else {
      rgb = ColourPixel(y, c);
    }
    for (uint32_t i = 0; i < (kDouble ? 2u : 1u); ++i) {
      if constexpr (kBytes == 4)
        Store32(d + i * 4, Word32(P, rgb, a));
      else
        Store24(P, d + i * 3, rgb);
    }
    return kBytes * (kDouble ? 2 : 1);
  }
}

template <Pack P, bool kGrey, bool kDouble>
void RgbRow(uint8_t* d, const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t* a,
            uint32_t odd, uint32_t count) {
  ChromaOffsets c = {};
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t x = odd + i;
    if (!kGrey && (i == 0 || (x & 1) == 0)) c = OffsetsFor(u[x >> 1], v[x >> 1]);
    uint8_t alpha = PackHasAlpha(P) ? a[i] : 0;
    d += RgbPixel<P, kGrey, kDouble>(d, y[i], alpha, c);
  }
}

// 16-bit colour rows write whole pairs as one 32-bit word from the low and the
// shifted-up tables, as the tables were made for.
template <Pack P>
void Rgb16PairRow(uint8_t* d, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                  const uint8_t* a, uint32_t odd, uint32_t count) {
  uint32_t i = 0;
  if (odd && count) {
    RgbPixel<P, false, false>(d, y[0], PackHasAlpha(P) ? a[0] : 0, OffsetsFor(u[0], v[0]));
    d += 2;
    i = 1;
  }
  for (; i + 2 <= count; i += 2, d += 4) {
    uint32_t c_index = (odd + i) >> 1;
    ChromaOffsets c = OffsetsFor(u[c_index], v[c_index]);
    uint32_t word = Pixel16(y[i], c, VARIANT_LOW) | Pixel16(y[i + 1], c, VARIANT_HIGH);
    if (PackHasAlpha(P)) word |= Alpha16(P, a[i]) | Alpha16(P, a[i + 1]) << 16;
    Store32(d, word);
  }
  if (i < count) {
    uint32_t c_index = (odd + i) >> 1;
    RgbPixel<P, false, false>(d, y[i], PackHasAlpha(P) ? a[i] : 0,
                              OffsetsFor(u[c_index], v[c_index]));
  }
}

// Packed YUV: each destination pixel holds its luma and, by the parity of its
// source x, U (even) or V (odd). Double width writes the whole pair per pixel.
template <Pack P, bool kGrey, bool kDouble>
void YuvRow(uint8_t* d, const uint8_t* y, const uint8_t* u, const uint8_t* v, const uint8_t*,
            uint32_t odd, uint32_t count) {
  constexpr bool kLumaFirst = P == Pack::kYUY2;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t x = odd + i;
    uint8_t cu = kGrey ? 128 : u[x >> 1];
    uint8_t cv = kGrey ? 128 : v[x >> 1];
    if (kDouble) {
      uint8_t q[4] = {y[i], cu, y[i], cv};
      if (!kLumaFirst) q[0] = cu, q[1] = y[i], q[2] = cv, q[3] = y[i];
      std::memcpy(d, q, 4);
      d += 4;
    } else {
      uint8_t chroma = (x & 1) ? cv : cu;
      d[0] = kLumaFirst ? y[i] : chroma;
      d[1] = kLumaFirst ? chroma : y[i];
      d += 2;
    }
  }
}

using RowKernel = void (*)(uint8_t* d, const uint8_t* y, const uint8_t* u, const uint8_t* v,
                           const uint8_t* a, uint32_t odd, uint32_t count);

template <RowKernel kRow>
void Rows(const RowPairContext& c, uint32_t rows, uint32_t odd, uint32_t count) {
  for (uint32_t r = 0; r < rows; ++r) kRow(c.dest[r], c.luma[r], c.u, c.v, c.alpha[r], odd, count);
}

// Line-doubled form: each converted line is repeated at line + line_pitch.
template <RowKernel kRow, uint32_t kOutBytes>
void RowsDoubled(const RowPairContext& c, uint32_t rows, uint32_t odd, uint32_t count) {
  for (uint32_t r = 0; r < rows; ++r) {
    kRow(c.dest[r], c.luma[r], c.u, c.v, c.alpha[r], odd, count);
    // memmove: a caller's pitch narrower than a doubled row makes the two
    // lines overlap; the picture is then wrong, but the copy stays defined.
    std::memmove(c.dest[r] + c.line_pitch, c.dest[r], size_t{count} * kOutBytes);
  }
}

template <Pack P, template <Pack, bool, bool> class K>
FamilyKernels MakeKernels() {
  constexpr uint32_t kBytes = PackBytes(P);
  return {Rows<K<P, false, false>::kRow>,
          Rows<K<P, false, true>::kRow>,
          Rows<K<P, true, false>::kRow>,
          Rows<K<P, true, true>::kRow>,
          RowsDoubled<K<P, false, false>::kRow, kBytes>,
          RowsDoubled<K<P, false, true>::kRow, kBytes * 2>,
          RowsDoubled<K<P, true, false>::kRow, kBytes>,
          RowsDoubled<K<P, true, true>::kRow, kBytes * 2>};
}

template <Pack P, bool kGrey, bool kDouble>
struct RgbKernel {
  static constexpr RowKernel kRow =
      PackBytes(P) == 2 && !kGrey && !kDouble ? Rgb16PairRow<P> : RgbRow<P, kGrey, kDouble>;
};
template <Pack P, bool kGrey, bool kDouble>
struct YuvKernel {
  static constexpr RowKernel kRow = YuvRow<P, kGrey, kDouble>;
};

template <Pack P>
FamilyKernels RgbKernels() {
  return MakeKernels<P, RgbKernel>();
}
template <Pack P>
FamilyKernels YuvKernels() {
  return MakeKernels<P, YuvKernel>();
}

void BorrowGrey(FamilyKernels& to, const FamilyKernels& from) {
  to.grey = from.grey;
  to.grey_x2 = from.grey_x2;
  to.grey_ld = from.grey_ld;
  to.grey_x2_ld = from.grey_x2_ld;
}

}  // namespace

void PlainKernels(FamilyKernels out[FAMILY_COUNT]) {
  out[FAMILY_16] = RgbKernels<Pack::k16>();
  out[FAMILY_4444] = RgbKernels<Pack::k4444A>();
  out[FAMILY_5551] = RgbKernels<Pack::k5551A>();
  out[FAMILY_32] = RgbKernels<Pack::k32>();
  out[FAMILY_32A] = RgbKernels<Pack::k32A>();
  out[FAMILY_32R] = RgbKernels<Pack::k32R>();
  out[FAMILY_32RA] = RgbKernels<Pack::k32RA>();
  out[FAMILY_24] = RgbKernels<Pack::k24>();
  out[FAMILY_24R] = RgbKernels<Pack::k24R>();
  // Grey carries no byte order: the reversed families share their sisters'.
  BorrowGrey(out[FAMILY_32R], out[FAMILY_32]);
  BorrowGrey(out[FAMILY_24R], out[FAMILY_24]);
  BorrowGrey(out[FAMILY_32RA], out[FAMILY_32A]);
  out[FAMILY_YUY2] = YuvKernels<Pack::kYUY2>();
  out[FAMILY_UYVY] = YuvKernels<Pack::kUYVY>();
}
