// AVX2 row kernels: 32 source pixels per step, the same exact arithmetic as
// the SSE2 kernels (see rows_sse2.cc), so every byte equals the plain
// kernels' output. 256-bit unpacks work within 128-bit lanes; the comments
// give which pixels each lane holds. Leading odd pixels and tails go to the
// SSE2 kernels (which hand their own tails to the plain ones).
#include <immintrin.h>

#include "convert/colour_tables.h"
#include "convert/families.h"
#include "convert/pixel_pack.h"

#define VORN_INLINE inline __attribute__((always_inline))

namespace {

// The SSE2 kernels that take the odd pixels and tails, made once.
struct KernelSets {
  FamilyKernels sets[FAMILY_COUNT];
};
const KernelSets& Sse2Sets() {
  static const KernelSets sse2 = [] {
    KernelSets k;
    Sse2Kernels(k.sets);
    return k;
  }();
  return sse2;
}

// Whole 256-bit unaligned moves: the compiler's generic tuning would split
// each into two 128-bit halves, which costs more than it saves here.
VORN_INLINE __m256i Load32(const uint8_t* p) {
  __m256i v;
  __asm__("vmovdqu %1, %0" : "=x"(v) : "m"(*reinterpret_cast<const __m256i_u*>(p)));
  return v;
}
VORN_INLINE __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
VORN_INLINE void Store32(uint8_t* p, __m256i v) {
  __asm__("vmovdqu %1, %0" : "=m"(*reinterpret_cast<__m256i_u*>(p)) : "x"(v));
}
VORN_INLINE void Store16(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
// [low lanes of a and b] and [high lanes of a and b].
VORN_INLINE __m256i Lows(__m256i a, __m256i b) { return _mm256_permute2x128_si256(a, b, 0x20); }
VORN_INLINE __m256i Highs(__m256i a, __m256i b) { return _mm256_permute2x128_si256(a, b, 0x31); }

struct Chroma {
  __m256i blue, green, red;  // 16 chroma samples in order
};

VORN_INLINE Chroma ChromaOffsets(const uint8_t* u, const uint8_t* v) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i bias = _mm256_set1_epi16(128);
  __m256i du = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(u)), bias);
  __m256i dv = _mm256_sub_epi16(_mm256_cvtepu8_epi16(Load16(v)), bias);
  __m256i au = _mm256_abs_epi16(du), av = _mm256_abs_epi16(dv);
  au = _mm256_add_epi16(au, au);
  av = _mm256_add_epi16(av, av);
  // sign(m, d) gives m with the sign of d (0 for d = 0, where m is 0 anyway).
  Chroma c;
  c.blue = _mm256_add_epi16(_mm256_add_epi16(du, du),
                            _mm256_sign_epi16(_mm256_mulhi_epu16(au, _mm256_set1_epi16(565)), du));
  c.red = _mm256_sign_epi16(_mm256_mulhi_epu16(av, _mm256_set1_epi16(short(52299))), dv);
  __m256i gu = _mm256_sign_epi16(_mm256_mulhi_epu16(au, _mm256_set1_epi16(12837)), du);
  __m256i gv = _mm256_sign_epi16(_mm256_mulhi_epu16(av, _mm256_set1_epi16(26639)), dv);
  c.green = _mm256_sub_epi16(zero, _mm256_add_epi16(gu, gv));
  return c;
}

// k = clamp(y - 16, 0, 219): lo holds pixels 0-7 | 16-23, hi 8-15 | 24-31,
// which is where unpacklo/hi put chroma samples 0-3 | 8-11 and 4-7 | 12-15.
VORN_INLINE void LumaSteps(__m256i y, __m256i* lo, __m256i* hi) {
  __m256i k =
      _mm256_min_epu8(_mm256_subs_epu8(y, _mm256_set1_epi8(16)), _mm256_set1_epi8(char(219)));
  *lo = _mm256_unpacklo_epi8(k, _mm256_setzero_si256());
  *hi = _mm256_unpackhi_epi8(k, _mm256_setzero_si256());
}

VORN_INLINE __m256i Luma(__m256i k) {
  return _mm256_mulhi_epu16(_mm256_add_epi16(k, k), _mm256_set1_epi16(short(38154)));
}
VORN_INLINE __m256i Grey(__m256i k) {
  return _mm256_add_epi16(k, _mm256_mulhi_epu16(k, _mm256_set1_epi16(10774)));
}

struct Components {
  __m256i b, g, r;  // 32 bytes each, pixels in order
};

// The chroma offsets repeated for both pixels of each pair, in the order of
// the luma halves; made once per row pair.
struct PixelOffsets {
  __m256i blue[2], green[2], red[2];
};

VORN_INLINE PixelOffsets Spread(const Chroma& c) {
  PixelOffsets p;
  p.blue[0] = _mm256_unpacklo_epi16(c.blue, c.blue);
  p.blue[1] = _mm256_unpackhi_epi16(c.blue, c.blue);
  p.green[0] = _mm256_unpacklo_epi16(c.green, c.green);
  p.green[1] = _mm256_unpackhi_epi16(c.green, c.green);
  p.red[0] = _mm256_unpacklo_epi16(c.red, c.red);
  p.red[1] = _mm256_unpackhi_epi16(c.red, c.red);
  return p;
}

VORN_INLINE Components ColourComponents(__m256i y, const PixelOffsets& c) {
  __m256i klo, khi;
  LumaSteps(y, &klo, &khi);
  __m256i llo = Luma(klo), lhi = Luma(khi);
  auto component = [&](const __m256i offset[2]) {
    // Saturation is the clamp to 0..255.
    return _mm256_packus_epi16(_mm256_add_epi16(llo, offset[0]), _mm256_add_epi16(lhi, offset[1]));
  };
  return {component(c.blue), component(c.green), component(c.red)};
}

VORN_INLINE Components GreyComponents(__m256i y) {
  __m256i klo, khi;
  LumaSteps(y, &klo, &khi);
  __m256i g = _mm256_packus_epi16(Grey(klo), Grey(khi));
  return {g, g, g};
}

// Eight pixels per register, in memory order.
struct Four {
  __m256i p0, p1, p2, p3;
};

// Thirty-two 4-byte pixels as four registers of 8, in memory order.
VORN_INLINE Four Pixels32(const Components& c, __m256i alpha, bool reversed) {
  __m256i first = reversed ? c.r : c.b, third = reversed ? c.b : c.r;
  __m256i lo_fg = _mm256_unpacklo_epi8(first, c.g), hi_fg = _mm256_unpackhi_epi8(first, c.g);
  __m256i lo_ta = _mm256_unpacklo_epi8(third, alpha), hi_ta = _mm256_unpackhi_epi8(third, alpha);
  __m256i p0 = _mm256_unpacklo_epi16(lo_fg, lo_ta);  // 0-3 | 16-19
  __m256i p1 = _mm256_unpackhi_epi16(lo_fg, lo_ta);  // 4-7 | 20-23
  __m256i p2 = _mm256_unpacklo_epi16(hi_fg, hi_ta);  // 8-11 | 24-27
  __m256i p3 = _mm256_unpackhi_epi16(hi_fg, hi_ta);  // 12-15 | 28-31
  return {Lows(p0, p1), Lows(p2, p3), Highs(p0, p1), Highs(p2, p3)};
}

// Sixteen 4-byte pixels (four registers of 4) as 48 bytes of 3-byte pixels.
VORN_INLINE void Store24x16(uint8_t* d, __m128i p0, __m128i p1, __m128i p2, __m128i p3) {
  const __m128i a0 = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m128i a1 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 4);
  const __m128i b1 = _mm_setr_epi8(5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i b2 = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9);
  const __m128i c2 = _mm_setr_epi8(10, 12, 13, 14, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i c3 = _mm_setr_epi8(-1, -1, -1, -1, 0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14);
  Store16(d, _mm_or_si128(_mm_shuffle_epi8(p0, a0), _mm_shuffle_epi8(p1, a1)));
  Store16(d + 16, _mm_or_si128(_mm_shuffle_epi8(p1, b1), _mm_shuffle_epi8(p2, b2)));
  Store16(d + 32, _mm_or_si128(_mm_shuffle_epi8(p2, c2), _mm_shuffle_epi8(p3, c3)));
}

VORN_INLINE void Store24x32(uint8_t* d, const Four& p) {
  Store24x16(d, _mm256_castsi256_si128(p.p0), _mm256_extracti128_si256(p.p0, 1),
             _mm256_castsi256_si128(p.p1), _mm256_extracti128_si256(p.p1, 1));
  Store24x16(d + 48, _mm256_castsi256_si128(p.p2), _mm256_extracti128_si256(p.p2, 1),
             _mm256_castsi256_si128(p.p3), _mm256_extracti128_si256(p.p3, 1));
}

// Each pixel of eight written twice: sixteen pixels in two registers.
VORN_INLINE void Doubled32(__m256i p, __m256i* first, __m256i* second) {
  __m256i lo = _mm256_unpacklo_epi32(p, p);  // 0,0,1,1 | 4,4,5,5
  __m256i hi = _mm256_unpackhi_epi32(p, p);  // 2,2,3,3 | 6,6,7,7
  *first = Lows(lo, hi);
  *second = Highs(lo, hi);
}

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

VORN_INLINE __m256i Field(__m256i c, const Layout16Counts& k, int i) {
  if (k.empty[i]) return _mm256_setzero_si256();
  return _mm256_sll_epi16(_mm256_srl_epi16(c, k.right[i]), k.left[i]);
}

// Sixteen 16-bit pixels: half 0 = pixels 0-7 | 16-23, half 1 = 8-15 | 24-31.
VORN_INLINE __m256i Pixels16(const Components& c, const Layout16Counts& k, int half) {
  const __m256i zero = _mm256_setzero_si256();
  auto widen = [&](__m256i bytes) {
    return half ? _mm256_unpackhi_epi8(bytes, zero) : _mm256_unpacklo_epi8(bytes, zero);
  };
  return _mm256_or_si256(_mm256_or_si256(Field(widen(c.b), k, 0), Field(widen(c.g), k, 1)),
                         Field(widen(c.r), k, 2));
}

VORN_INLINE void StoreDoubled16(uint8_t* d, __m256i ordered) {
  __m256i lo = _mm256_unpacklo_epi16(ordered, ordered);  // 0-3 | 8-11, doubled
  __m256i hi = _mm256_unpackhi_epi16(ordered, ordered);  // 4-7 | 12-15, doubled
  Store32(d, Lows(lo, hi));
  Store32(d + 32, Highs(lo, hi));
}

template <Pack P, bool kDouble>
VORN_INLINE void StoreRgb(uint8_t* d, const Components& c, const uint8_t* a,
                          const Layout16Counts& k) {
  const __m256i zero = _mm256_setzero_si256();
  if constexpr (PackBytes(P) == 2) {
    __m256i lo = Pixels16(c, k, 0), hi = Pixels16(c, k, 1);
    if constexpr (PackHasAlpha(P)) {
      __m256i alpha = Load32(a);
      __m256i mask = _mm256_set1_epi16(short(P == Pack::k4444A ? 0xF000 : 0x8000));
      lo = _mm256_or_si256(lo, _mm256_and_si256(_mm256_unpacklo_epi8(zero, alpha), mask));
      hi = _mm256_or_si256(hi, _mm256_and_si256(_mm256_unpackhi_epi8(zero, alpha), mask));
    }
    __m256i first = Lows(lo, hi), second = Highs(lo, hi);  // pixels 0-15, 16-31
    if constexpr (kDouble) {
      StoreDoubled16(d, first);
      StoreDoubled16(d + 64, second);
    } else {
      Store32(d, first);
      Store32(d + 32, second);
    }
  } else {
    __m256i alpha = PackHasAlpha(P) ? Load32(a) : zero;
    Four p = Pixels32(c, alpha, PackIsReversed(P));
    if constexpr (kDouble) {
      Four a, b;
      Doubled32(p.p0, &a.p0, &a.p1);
      Doubled32(p.p1, &a.p2, &a.p3);
      Doubled32(p.p2, &b.p0, &b.p1);
      Doubled32(p.p3, &b.p2, &b.p3);
      if constexpr (PackBytes(P) == 4) {
        Store32(d, a.p0), Store32(d + 32, a.p1), Store32(d + 64, a.p2), Store32(d + 96, a.p3);
        Store32(d + 128, b.p0), Store32(d + 160, b.p1), Store32(d + 192, b.p2),
            Store32(d + 224, b.p3);
      } else {
        Store24x32(d, a);
        Store24x32(d + 96, b);
      }
    } else if constexpr (PackBytes(P) == 4) {
      Store32(d, p.p0), Store32(d + 32, p.p1), Store32(d + 64, p.p2), Store32(d + 96, p.p3);
    } else {
      Store24x32(d, p);
    }
  }
}

// Thirty-two pixels of packed YUV from luma y (pixels in order) and uv (the
// chroma pairs U V in order: 0-7 | 8-15). Quadword shuffles first put the
// halves where the in-lane unpacks then give the bytes in memory order.
template <Pack P, bool kDouble>
VORN_INLINE void StoreYuv(uint8_t* d, __m256i y, __m256i uv) {
  constexpr bool kLumaFirst = P == Pack::kYUY2;
  auto lo = [](__m256i luma, __m256i chroma) {
    return kLumaFirst ? _mm256_unpacklo_epi8(luma, chroma) : _mm256_unpacklo_epi8(chroma, luma);
  };
  auto hi = [](__m256i luma, __m256i chroma) {
    return kLumaFirst ? _mm256_unpackhi_epi8(luma, chroma) : _mm256_unpackhi_epi8(chroma, luma);
  };
  if constexpr (kDouble) {
    __m256i yy_lo = _mm256_unpacklo_epi8(y, y), yy_hi = _mm256_unpackhi_epi8(y, y);
    __m256i uv_lo = _mm256_unpacklo_epi16(uv, uv), uv_hi = _mm256_unpackhi_epi16(uv, uv);
    __m256i a = lo(yy_lo, uv_lo);  // 0-3 | 16-19
    __m256i b = hi(yy_lo, uv_lo);  // 4-7 | 20-23
    __m256i c = lo(yy_hi, uv_hi);  // 8-11 | 24-27
    __m256i e = hi(yy_hi, uv_hi);  // 12-15 | 28-31
    Store32(d, Lows(a, b));
    Store32(d + 32, Lows(c, e));
    Store32(d + 64, Highs(a, b));
    Store32(d + 96, Highs(c, e));
  } else {
    // Quadwords 0, 2, 1, 3: pixels 0-7, 16-23 | 8-15, 24-31 (pairs likewise).
    __m256i ys = _mm256_permute4x64_epi64(y, 0xD8);
    __m256i uvs = _mm256_permute4x64_epi64(uv, 0xD8);
    Store32(d, lo(ys, uvs));       // pixels 0-7 | 8-15
    Store32(d + 32, hi(ys, uvs));  // pixels 16-23 | 24-31
  }
}

VORN_INLINE void PrefetchAhead(const uint8_t* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p + 256), _MM_HINT_T0);
}

// The chroma pairs of 32 pixels: U in the even bytes, V in the odd ones.
template <bool kGrey>
VORN_INLINE __m256i ChromaPairs(const uint8_t* u, const uint8_t* v) {
  if constexpr (kGrey) return _mm256_set1_epi8(char(128));
  return _mm256_or_si256(_mm256_cvtepu8_epi16(Load16(u)),
                         _mm256_slli_epi16(_mm256_cvtepu8_epi16(Load16(v)), 8));
}

// `rows` rows (1 or 2) of packed YUV, `blocks` groups of 32 pixels; both rows
// of a pair share each chroma load.
template <Pack P, bool kGrey, bool kDouble>
VORN_INLINE void YuvRows(const RowPairContext& ctx, uint32_t rows, uint32_t blocks) {
  constexpr uint32_t kOut = 2 * (kDouble ? 2 : 1);
  const uint8_t *u = ctx.u, *v = ctx.v;
  if (rows == 2) {
    uint8_t *d0 = ctx.dest[0], *d1 = ctx.dest[1];
    const uint8_t *y0 = ctx.luma[0], *y1 = ctx.luma[1];
    for (uint32_t b = 0; b < blocks; ++b) {
      size_t at = size_t{32} * b;
      // Four source streams and two destination ones outrun the hardware
      // prefetcher; a hint 256 bytes ahead keeps the loads from waiting.
      // (A hint past the end of a plane never faults.)
      PrefetchAhead(y0 + at);
      PrefetchAhead(y1 + at);
      if (!(b & 3)) {
        PrefetchAhead(u + at / 2);
        PrefetchAhead(v + at / 2);
      }
      __m256i uv = ChromaPairs<kGrey>(u + at / 2, v + at / 2);
      StoreYuv<P, kDouble>(d0 + at * kOut, Load32(y0 + at), uv);
      StoreYuv<P, kDouble>(d1 + at * kOut, Load32(y1 + at), uv);
    }
    return;
  }
  for (uint32_t b = 0; b < blocks; ++b) {
    size_t at = size_t{32} * b;
    StoreYuv<P, kDouble>(ctx.dest[0] + at * kOut, Load32(ctx.luma[0] + at),
                         ChromaPairs<kGrey>(u + at / 2, v + at / 2));
  }
}

VORN_INLINE void Advance(RowPairContext& c, uint32_t n, uint32_t out_bytes) {
  for (int i = 0; i < 2; ++i) {
    c.luma[i] += n;
    if (c.alpha[i]) c.alpha[i] += n;
    c.dest[i] += size_t{n} * out_bytes;
  }
  c.u += n / 2;
  c.v += n / 2;
}

template <FamilyId F, bool kGrey, bool kDouble>
RowsConverter NarrowerFor() {
  const FamilyKernels& k = Sse2Sets().sets[F];
  return kGrey ? (kDouble ? k.grey_x2 : k.grey) : (kDouble ? k.colour_x2 : k.colour);
}

template <FamilyId F, Pack P, bool kGrey, bool kDouble>
void VectorRows(const RowPairContext& ctx, uint32_t rows, uint32_t odd, uint32_t count) {
  constexpr uint32_t kOut = PackBytes(P) * (kDouble ? 2 : 1);
  constexpr bool kYuv = P == Pack::kYUY2 || P == Pack::kUYVY;
  RowsConverter narrower = NarrowerFor<F, kGrey, kDouble>();
  if (odd || count < 32) {
    // The narrower kernel converts the odd pixel, then continues evenly.
    uint32_t lead = odd ? 1 : 0;
    uint32_t head = count < 32 ? count : lead;
    narrower(ctx, rows, odd, head);
    if (head == count) return;
    RowPairContext c = ctx;
    for (int i = 0; i < 2; ++i) {
      c.luma[i] += head;
      if (c.alpha[i]) c.alpha[i] += head;
      c.dest[i] += size_t{head} * kOut;
    }
    c.u += 1;
    c.v += 1;
    VectorRows<F, P, kGrey, kDouble>(c, rows, 0, count - head);
    return;
  }
  Layout16Counts counts = {};
  if constexpr (!kYuv && PackBytes(P) == 2) counts = CountsFor(CurrentLayout16());
  uint32_t blocks = count / 32;
  if constexpr (kYuv) YuvRows<P, kGrey, kDouble>(ctx, rows, blocks);
  // RGB: chroma offsets for a chunk of the row pair first, then each row of
  // the chunk in turn, so that few memory streams are open at once.
  constexpr uint32_t kChunk = 16;  // blocks of 32 pixels
  for (uint32_t first = 0; !kYuv && first < blocks; first += kChunk) {
    uint32_t n = blocks - first < kChunk ? blocks - first : kChunk;
    PixelOffsets chroma[kChunk];
    if constexpr (!kGrey) {
      for (uint32_t i = 0; i < n; ++i) {
        size_t at = size_t{32} * (first + i);
        chroma[i] = Spread(ChromaOffsets(ctx.u + at / 2, ctx.v + at / 2));
      }
    }
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t i = 0; i < n; ++i) {
        size_t at = size_t{32} * (first + i);
        __m256i y = Load32(ctx.luma[r] + at);
        Components comp = kGrey ? GreyComponents(y) : ColourComponents(y, chroma[i]);
        StoreRgb<P, kDouble>(ctx.dest[r] + at * kOut, comp,
                             PackHasAlpha(P) ? ctx.alpha[r] + at : nullptr, counts);
      }
    }
  }
  uint32_t done = blocks * 32;
  if (done < count) {
    RowPairContext c = ctx;
    Advance(c, done, kOut);
    narrower(c, rows, 0, count - done);
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

void RowKernelsAvx2(RowKernels* kernels) {
  FamilyKernels set[FAMILY_COUNT] = {};
  Avx2Kernels(set);
  RowKernelsUseVector(kernels, set);
}

void Avx2Kernels(FamilyKernels out[FAMILY_COUNT]) {
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
