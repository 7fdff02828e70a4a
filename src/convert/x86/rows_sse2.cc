// SSE2 row kernels: 16 source pixels per step in 16-bit lanes. The arithmetic
// is exactly the table path's (luma scaling, truncating chroma products,
// clamping, grey value), so every byte equals the plain kernels' output; odd
// leading pixels and tails shorter than 16 go through the plain kernels.
#include <emmintrin.h>

#include <cstring>

#include "convert/colour_tables.h"
#include "convert/families.h"
#include "convert/pixel_pack.h"

// Everything below is inlined into the per-family loops: the helpers pass
// several registers around, which must not go through memory.
#define VORN_INLINE inline __attribute__((always_inline))

namespace {

// The plain kernels that take the odd pixels and tails, made once.
struct KernelSets {
  FamilyKernels sets[FAMILY_COUNT];
};
const KernelSets& PlainSets() {
  static const KernelSets plain = [] {
    KernelSets k;
    PlainKernels(k.sets);
    return k;
  }();
  return plain;
}

VORN_INLINE __m128i Load8(const uint8_t* p) {
  return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
}
VORN_INLINE __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
VORN_INLINE void Store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

VORN_INLINE __m128i ApplySign(__m128i magnitude, __m128i sign) {
  return _mm_sub_epi16(_mm_xor_si128(magnitude, sign), sign);
}

// The three chroma offsets of 8 chroma samples, as 16-bit lanes. With d the
// sample minus 128, trunc(f d / 32768) = sign(d) floor(f |d| / 32768), and
// floor(f |d| / 32768) is the high half of (2 |d|) x f (f = 66101 split as
// 65536 + 565).
struct Chroma {
  __m128i blue, green, red;
};

VORN_INLINE Chroma ChromaOffsets(const uint8_t* u, const uint8_t* v) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bias = _mm_set1_epi16(128);
  __m128i du = _mm_sub_epi16(_mm_unpacklo_epi8(Load8(u), zero), bias);
  __m128i dv = _mm_sub_epi16(_mm_unpacklo_epi8(Load8(v), zero), bias);
  __m128i su = _mm_srai_epi16(du, 15), sv = _mm_srai_epi16(dv, 15);
  __m128i au = _mm_max_epi16(du, _mm_sub_epi16(zero, du));
  __m128i av = _mm_max_epi16(dv, _mm_sub_epi16(zero, dv));
  au = _mm_add_epi16(au, au);
  av = _mm_add_epi16(av, av);
  Chroma c;
  c.blue =
      _mm_add_epi16(_mm_add_epi16(du, du), ApplySign(_mm_mulhi_epu16(au, _mm_set1_epi16(565)), su));
  c.red = ApplySign(_mm_mulhi_epu16(av, _mm_set1_epi16(short(52299))), sv);
  __m128i gu = ApplySign(_mm_mulhi_epu16(au, _mm_set1_epi16(12837)), su);
  __m128i gv = ApplySign(_mm_mulhi_epu16(av, _mm_set1_epi16(26639)), sv);
  c.green = _mm_sub_epi16(zero, _mm_add_epi16(gu, gv));
  return c;
}

// k = clamp(y - 16, 0, 219) for 16 pixels, as two 8-lane halves.
VORN_INLINE void LumaSteps(__m128i y, __m128i* lo, __m128i* hi) {
  __m128i k = _mm_min_epu8(_mm_subs_epu8(y, _mm_set1_epi8(16)), _mm_set1_epi8(char(219)));
  *lo = _mm_unpacklo_epi8(k, _mm_setzero_si128());
  *hi = _mm_unpackhi_epi8(k, _mm_setzero_si128());
}

// L = (k x 38154) >> 15, as the high half of (2k) x 38154.
VORN_INLINE __m128i Luma(__m128i k) {
  return _mm_mulhi_epu16(_mm_add_epi16(k, k), _mm_set1_epi16(short(38154)));
}

// g = (255 k) / 219 = k + (12 k) / 73, the latter the high half of k x 10774
// (exact for k up to 219).
VORN_INLINE __m128i Grey(__m128i k) {
  return _mm_add_epi16(k, _mm_mulhi_epu16(k, _mm_set1_epi16(10774)));
}

// Clamped components of 16 pixels, as bytes and as 16-bit halves.
struct Components {
  __m128i b, g, r;  // 16 bytes each
};

// The chroma offsets repeated for both pixels of each pair, in the order of
// the luma halves; made once per row pair.
struct PixelOffsets {
  __m128i blue[2], green[2], red[2];
};

VORN_INLINE PixelOffsets Spread(const Chroma& c) {
  PixelOffsets p;
  p.blue[0] = _mm_unpacklo_epi16(c.blue, c.blue);
  p.blue[1] = _mm_unpackhi_epi16(c.blue, c.blue);
  p.green[0] = _mm_unpacklo_epi16(c.green, c.green);
  p.green[1] = _mm_unpackhi_epi16(c.green, c.green);
  p.red[0] = _mm_unpacklo_epi16(c.red, c.red);
  p.red[1] = _mm_unpackhi_epi16(c.red, c.red);
  return p;
}

VORN_INLINE Components ColourComponents(__m128i y, const PixelOffsets& c) {
  __m128i klo, khi;
  LumaSteps(y, &klo, &khi);
  __m128i llo = Luma(klo), lhi = Luma(khi);
  auto component = [&](const __m128i offset[2]) {
    // Saturation is the clamp to 0..255.
    return _mm_packus_epi16(_mm_add_epi16(llo, offset[0]), _mm_add_epi16(lhi, offset[1]));
  };
  return {component(c.blue), component(c.green), component(c.red)};
}

VORN_INLINE Components GreyComponents(__m128i y) {
  __m128i klo, khi;
  LumaSteps(y, &klo, &khi);
  __m128i g = _mm_packus_epi16(Grey(klo), Grey(khi));
  return {g, g, g};
}

// ---- Stores ------------------------------------------------------------------

// Four pixels per register, in memory order.
struct Four {
  __m128i p0, p1, p2, p3;
};

// Sixteen 4-byte pixels as four registers of 4, in memory order.
VORN_INLINE Four Pixels32(const Components& c, __m128i alpha, bool reversed) {
  __m128i first = reversed ? c.r : c.b, third = reversed ? c.b : c.r;
  __m128i lo_fg = _mm_unpacklo_epi8(first, c.g), hi_fg = _mm_unpackhi_epi8(first, c.g);
  __m128i lo_ta = _mm_unpacklo_epi8(third, alpha), hi_ta = _mm_unpackhi_epi8(third, alpha);
  return {_mm_unpacklo_epi16(lo_fg, lo_ta), _mm_unpackhi_epi16(lo_fg, lo_ta),
          _mm_unpacklo_epi16(hi_fg, hi_ta), _mm_unpackhi_epi16(hi_fg, hi_ta)};
}

// Four 4-byte pixels squeezed to 12 bytes in the low part of the register.
VORN_INLINE __m128i Squeeze24(__m128i p) {
  __m128i low = _mm_and_si128(p, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF));
  __m128i high = _mm_and_si128(_mm_srli_epi64(p, 8),
                               _mm_set_epi32(0xFFFF, int(0xFF000000), 0xFFFF, int(0xFF000000)));
  __m128i six = _mm_or_si128(low, high);  // 6 bytes at the start of each half
  return _mm_or_si128(_mm_move_epi64(six), _mm_slli_si128(_mm_srli_si128(six, 8), 6));
}

// Sixteen 3-byte pixels (from four registers of 4-byte ones) as 48 bytes.
VORN_INLINE void Store24x16(uint8_t* d, const Four& p) {
  __m128i c0 = Squeeze24(p.p0), c1 = Squeeze24(p.p1), c2 = Squeeze24(p.p2), c3 = Squeeze24(p.p3);
  Store16(d, _mm_or_si128(c0, _mm_slli_si128(c1, 12)));
  Store16(d + 16, _mm_or_si128(_mm_srli_si128(c1, 4), _mm_slli_si128(c2, 8)));
  Store16(d + 32, _mm_or_si128(_mm_srli_si128(c2, 8), _mm_slli_si128(c3, 4)));
}

// 16-bit fields of 8 clamped components: (c >> (8 - bits)) << shift.
struct Layout16Counts {
  __m128i right[3], left[3];
  bool empty[3];
};

Layout16Counts CountsFor(const Layout16& layout) {
  Layout16Counts k;
  for (int i = 0; i < 3; ++i) {
    k.empty[i] = layout.bits[i] == 0;
    k.right[i] = _mm_cvtsi32_si128(8 - layout.bits[i]);
    k.left[i] = _mm_cvtsi32_si128(layout.shift[i]);
  }
  return k;
}

VORN_INLINE __m128i Field(__m128i c, const Layout16Counts& k, int i) {
  if (k.empty[i]) return _mm_setzero_si128();
  return _mm_sll_epi16(_mm_srl_epi16(c, k.right[i]), k.left[i]);
}

// Eight 16-bit pixels from the low (half = 0) or high 8 of 16 components.
VORN_INLINE __m128i Pixels16(const Components& c, const Layout16Counts& k, int half) {
  const __m128i zero = _mm_setzero_si128();
  auto widen = [&](__m128i bytes) {
    return half ? _mm_unpackhi_epi8(bytes, zero) : _mm_unpacklo_epi8(bytes, zero);
  };
  return _mm_or_si128(_mm_or_si128(Field(widen(c.b), k, 0), Field(widen(c.g), k, 1)),
                      Field(widen(c.r), k, 2));
}

// ---- Row kernels ---------------------------------------------------------------

template <Pack P, bool kDouble>
VORN_INLINE void StoreRgb(uint8_t* d, const Components& c, const uint8_t* a,
                          const Layout16Counts& k) {
  const __m128i zero = _mm_setzero_si128();
  if constexpr (PackBytes(P) == 2) {
    __m128i lo = Pixels16(c, k, 0), hi = Pixels16(c, k, 1);
    if constexpr (PackHasAlpha(P)) {
      __m128i alpha = Load16(a);
      __m128i mask = _mm_set1_epi16(short(P == Pack::k4444A ? 0xF000 : 0x8000));
      lo = _mm_or_si128(lo, _mm_and_si128(_mm_unpacklo_epi8(zero, alpha), mask));
      hi = _mm_or_si128(hi, _mm_and_si128(_mm_unpackhi_epi8(zero, alpha), mask));
    }
    if constexpr (kDouble) {
      Store16(d, _mm_unpacklo_epi16(lo, lo));
      Store16(d + 16, _mm_unpackhi_epi16(lo, lo));
      Store16(d + 32, _mm_unpacklo_epi16(hi, hi));
      Store16(d + 48, _mm_unpackhi_epi16(hi, hi));
    } else {
      Store16(d, lo);
      Store16(d + 16, hi);
    }
  } else {
    __m128i alpha = PackHasAlpha(P) ? Load16(a) : zero;
    Four p = Pixels32(c, alpha, PackIsReversed(P));
    if constexpr (kDouble) {
      Four a = {_mm_unpacklo_epi32(p.p0, p.p0), _mm_unpackhi_epi32(p.p0, p.p0),
                _mm_unpacklo_epi32(p.p1, p.p1), _mm_unpackhi_epi32(p.p1, p.p1)};
      Four b = {_mm_unpacklo_epi32(p.p2, p.p2), _mm_unpackhi_epi32(p.p2, p.p2),
                _mm_unpacklo_epi32(p.p3, p.p3), _mm_unpackhi_epi32(p.p3, p.p3)};
      if constexpr (PackBytes(P) == 4) {
        Store16(d, a.p0), Store16(d + 16, a.p1), Store16(d + 32, a.p2), Store16(d + 48, a.p3);
        Store16(d + 64, b.p0), Store16(d + 80, b.p1), Store16(d + 96, b.p2), Store16(d + 112, b.p3);
      } else {
        Store24x16(d, a);
        Store24x16(d + 48, b);
      }
    } else if constexpr (PackBytes(P) == 4) {
      Store16(d, p.p0), Store16(d + 16, p.p1), Store16(d + 32, p.p2), Store16(d + 48, p.p3);
    } else {
      Store24x16(d, p);
    }
  }
}

template <Pack P, bool kDouble>
VORN_INLINE void StoreYuv(uint8_t* d, __m128i y, __m128i uv) {
  constexpr bool kLumaFirst = P == Pack::kYUY2;
  auto interleave_lo = [](__m128i luma, __m128i chroma) {
    return kLumaFirst ? _mm_unpacklo_epi8(luma, chroma) : _mm_unpacklo_epi8(chroma, luma);
  };
  auto interleave_hi = [](__m128i luma, __m128i chroma) {
    return kLumaFirst ? _mm_unpackhi_epi8(luma, chroma) : _mm_unpackhi_epi8(chroma, luma);
  };
  if constexpr (kDouble) {
    // Each source pixel becomes a whole pair: (Y, U, Y, V).
    __m128i yy_lo = _mm_unpacklo_epi8(y, y), yy_hi = _mm_unpackhi_epi8(y, y);
    __m128i uv_lo = _mm_unpacklo_epi16(uv, uv), uv_hi = _mm_unpackhi_epi16(uv, uv);
    Store16(d, interleave_lo(yy_lo, uv_lo));
    Store16(d + 16, interleave_hi(yy_lo, uv_lo));
    Store16(d + 32, interleave_lo(yy_hi, uv_hi));
    Store16(d + 48, interleave_hi(yy_hi, uv_hi));
  } else {
    Store16(d, interleave_lo(y, uv));
    Store16(d + 16, interleave_hi(y, uv));
  }
}

template <FamilyId F, Pack P, bool kGrey, bool kDouble>
RowsConverter PlainFor() {
  const FamilyKernels& k = PlainSets().sets[F];
  return kGrey ? (kDouble ? k.grey_x2 : k.grey) : (kDouble ? k.colour_x2 : k.colour);
}

VORN_INLINE void Advance(RowPairContext& c, uint32_t odd, uint32_t n, uint32_t out_bytes) {
  for (int i = 0; i < 2; ++i) {
    c.luma[i] += n;
    if (c.alpha[i]) c.alpha[i] += n;
    c.dest[i] += size_t{n} * out_bytes;
  }
  size_t chroma = ((odd + n) >> 1);
  c.u += chroma;
  c.v += chroma;
}

template <FamilyId F, Pack P, bool kGrey, bool kDouble>
void VectorRows(const RowPairContext& ctx, uint32_t rows, uint32_t odd, uint32_t count) {
  constexpr uint32_t kOut = PackBytes(P) * (kDouble ? 2 : 1);
  constexpr bool kYuv = P == Pack::kYUY2 || P == Pack::kUYVY;
  RowsConverter plain = PlainFor<F, P, kGrey, kDouble>();
  RowPairContext c = ctx;
  if (odd && count) {
    plain(c, rows, 1, 1);
    Advance(c, 1, 1, kOut);
    --count;
  }
  Layout16Counts counts = {};
  if constexpr (!kYuv && PackBytes(P) == 2) counts = CountsFor(CurrentLayout16());
  uint32_t blocks = count / 16;
  for (uint32_t b = 0; b < blocks; ++b) {
    size_t at = size_t{16} * b;
    if constexpr (kYuv) {
      __m128i uv = kGrey ? _mm_set1_epi8(char(128))
                         : _mm_unpacklo_epi8(Load8(c.u + at / 2), Load8(c.v + at / 2));
      for (uint32_t r = 0; r < rows; ++r)
        StoreYuv<P, kDouble>(c.dest[r] + at * kOut, Load16(c.luma[r] + at), uv);
    } else {
      PixelOffsets chroma = {};
      if constexpr (!kGrey) chroma = Spread(ChromaOffsets(c.u + at / 2, c.v + at / 2));
      for (uint32_t r = 0; r < rows; ++r) {
        __m128i y = Load16(c.luma[r] + at);
        Components comp = kGrey ? GreyComponents(y) : ColourComponents(y, chroma);
        StoreRgb<P, kDouble>(c.dest[r] + at * kOut, comp,
                             PackHasAlpha(P) ? c.alpha[r] + at : nullptr, counts);
      }
    }
  }
  uint32_t done = blocks * 16;
  if (done < count) {
    Advance(c, 0, done, kOut);
    plain(c, rows, 0, count - done);
  }
}

template <FamilyId F, Pack P>
FamilyKernels Kernels() {
  return {VectorRows<F, P, false, false>,
          VectorRows<F, P, false, true>,
          VectorRows<F, P, true, false>,
          VectorRows<F, P, true, true>,
          nullptr,
          nullptr,
          nullptr,
          nullptr};
}

}  // namespace

void RowKernelsSse2(RowKernels* kernels) {
  FamilyKernels set[FAMILY_COUNT] = {};
  Sse2Kernels(set);
  RowKernelsUseVector(kernels, set);
}

void Sse2Kernels(FamilyKernels out[FAMILY_COUNT]) {
  out[FAMILY_16] = Kernels<FAMILY_16, Pack::k16>();
  out[FAMILY_4444] = Kernels<FAMILY_4444, Pack::k4444A>();
  out[FAMILY_5551] = Kernels<FAMILY_5551, Pack::k5551A>();
  out[FAMILY_32] = Kernels<FAMILY_32, Pack::k32>();
  out[FAMILY_32A] = Kernels<FAMILY_32A, Pack::k32A>();
  out[FAMILY_32R] = Kernels<FAMILY_32R, Pack::k32R>();
  out[FAMILY_32RA] = Kernels<FAMILY_32RA, Pack::k32RA>();
  out[FAMILY_24] = Kernels<FAMILY_24, Pack::k24>();
  out[FAMILY_24R] = Kernels<FAMILY_24R, Pack::k24R>();
  out[FAMILY_YUY2] = Kernels<FAMILY_YUY2, Pack::kYUY2>();
  out[FAMILY_UYVY] = Kernels<FAMILY_UYVY, Pack::kUYVY>();
}
