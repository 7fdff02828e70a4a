// AVX-512 row kernels (F, BW, VL, VBMI) of the 24-bit families: 64 source
// pixels per step, the same exact arithmetic as the SSE2 and AVX2 kernels
// (see rows_sse2.cc). Byte permutes across two whole registers (VBMI) squeeze
// the 4-byte pixels to 3 bytes with three full stores, where the narrower
// kernels need twelve shuffles and six stores per 32 pixels. Leading odd
// pixels and tails go to the AVX2 kernels.
#include <immintrin.h>

#include "convert/colour_tables.h"
#include "convert/families.h"
#include "convert/pixel_pack.h"

#define VORN_INLINE inline __attribute__((always_inline))

// GCC 12's own headers pass a deliberately undefined register as the unused
// merge source of some intrinsics (lane shuffles, dword permutes) and then
// warn about it; the results never depend on it.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace {

// The AVX2 kernels that take the odd pixels and tails, made once.
struct KernelSets {
  FamilyKernels sets[FAMILY_COUNT];
};
const KernelSets& Avx2Sets() {
  static const KernelSets avx2 = [] {
    KernelSets k;
    Avx2Kernels(k.sets);
    return k;
  }();
  return avx2;
}

VORN_INLINE __m512i Load64(const uint8_t* p) { return _mm512_loadu_si512(p); }
VORN_INLINE __m256i Load32(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
VORN_INLINE void Store64(uint8_t* p, __m512i v) { _mm512_storeu_si512(p, v); }

// A byte-permute index from a rule giving, for each output byte, the source
// byte (0-63 the first register, 64-127 the second).
template <typename Rule>
VORN_INLINE __m512i Index(Rule rule) {
  alignas(64) uint8_t bytes[64];
  for (int i = 0; i < 64; ++i) bytes[i] = static_cast<uint8_t>(rule(i));
  return _mm512_load_si512(bytes);
}

// m with the sign of d (0 where d is 0, where m is 0 anyway).
VORN_INLINE __m512i ApplySign(__m512i m, __m512i d) {
  return _mm512_mask_sub_epi16(m, _mm512_movepi16_mask(d), _mm512_setzero_si512(), m);
}

struct Chroma {
  __m512i blue, green, red;  // 32 chroma samples in order
};

VORN_INLINE Chroma ChromaOffsets(const uint8_t* u, const uint8_t* v) {
  const __m512i bias = _mm512_set1_epi16(128);
  __m512i du = _mm512_sub_epi16(_mm512_cvtepu8_epi16(Load32(u)), bias);
  __m512i dv = _mm512_sub_epi16(_mm512_cvtepu8_epi16(Load32(v)), bias);
  __m512i au = _mm512_abs_epi16(du), av = _mm512_abs_epi16(dv);
  au = _mm512_add_epi16(au, au);
  av = _mm512_add_epi16(av, av);
  Chroma c;
  c.blue = _mm512_add_epi16(_mm512_add_epi16(du, du),
                            ApplySign(_mm512_mulhi_epu16(au, _mm512_set1_epi16(565)), du));
  c.red = ApplySign(_mm512_mulhi_epu16(av, _mm512_set1_epi16(short(52299))), dv);
  __m512i gu = ApplySign(_mm512_mulhi_epu16(au, _mm512_set1_epi16(12837)), du);
  __m512i gv = ApplySign(_mm512_mulhi_epu16(av, _mm512_set1_epi16(26639)), dv);
  c.green = _mm512_sub_epi16(_mm512_setzero_si512(), _mm512_add_epi16(gu, gv));
  return c;
}

// k = clamp(y - 16, 0, 219) widened: lo holds the first 8 pixels of each
// 16-pixel lane, hi the last 8 (where unpacklo/hi put chroma samples
// 4i..4i+3 and 4i+4..4i+7 of lane i).
VORN_INLINE void LumaSteps(__m512i y, __m512i* lo, __m512i* hi) {
  __m512i k =
      _mm512_min_epu8(_mm512_subs_epu8(y, _mm512_set1_epi8(16)), _mm512_set1_epi8(char(219)));
  *lo = _mm512_unpacklo_epi8(k, _mm512_setzero_si512());
  *hi = _mm512_unpackhi_epi8(k, _mm512_setzero_si512());
}

VORN_INLINE __m512i Luma(__m512i k) {
  return _mm512_mulhi_epu16(_mm512_add_epi16(k, k), _mm512_set1_epi16(short(38154)));
}
VORN_INLINE __m512i Grey(__m512i k) {
  return _mm512_add_epi16(k, _mm512_mulhi_epu16(k, _mm512_set1_epi16(10774)));
}

struct Components {
  __m512i b, g, r;  // 64 bytes each, pixels in order
};

struct PixelOffsets {
  __m512i blue[2], green[2], red[2];
};

VORN_INLINE PixelOffsets Spread(const Chroma& c) {
  PixelOffsets p;
  p.blue[0] = _mm512_unpacklo_epi16(c.blue, c.blue);
  p.blue[1] = _mm512_unpackhi_epi16(c.blue, c.blue);
  p.green[0] = _mm512_unpacklo_epi16(c.green, c.green);
  p.green[1] = _mm512_unpackhi_epi16(c.green, c.green);
  p.red[0] = _mm512_unpacklo_epi16(c.red, c.red);
  p.red[1] = _mm512_unpackhi_epi16(c.red, c.red);
  return p;
}

VORN_INLINE Components ColourComponents(__m512i y, const PixelOffsets& c) {
  __m512i klo, khi;
  LumaSteps(y, &klo, &khi);
  __m512i llo = Luma(klo), lhi = Luma(khi);
  auto component = [&](const __m512i offset[2]) {
    // Saturation is the clamp to 0..255.
    return _mm512_packus_epi16(_mm512_add_epi16(llo, offset[0]), _mm512_add_epi16(lhi, offset[1]));
  };
  return {component(c.blue), component(c.green), component(c.red)};
}

VORN_INLINE Components GreyComponents(__m512i y) {
  __m512i klo, khi;
  LumaSteps(y, &klo, &khi);
  __m512i g = _mm512_packus_epi16(Grey(klo), Grey(khi));
  return {g, g, g};
}

// Sixteen 4-byte pixels per register, in memory order.
struct Four {
  __m512i p[4];
};

VORN_INLINE Four Pixels32(const Components& c, __m512i alpha, bool reversed) {
  __m512i first = reversed ? c.r : c.b, third = reversed ? c.b : c.r;
  __m512i lo_fg = _mm512_unpacklo_epi8(first, c.g), hi_fg = _mm512_unpackhi_epi8(first, c.g);
  __m512i lo_ta = _mm512_unpacklo_epi8(third, alpha), hi_ta = _mm512_unpackhi_epi8(third, alpha);
  // Lane i of q[j] holds pixels 16i + 4j .. 16i + 4j + 3.
  __m512i q0 = _mm512_unpacklo_epi16(lo_fg, lo_ta), q1 = _mm512_unpackhi_epi16(lo_fg, lo_ta);
  __m512i q2 = _mm512_unpacklo_epi16(hi_fg, hi_ta), q3 = _mm512_unpackhi_epi16(hi_fg, hi_ta);
  // The 4x4 transpose of 128-bit lanes.
  __m512i t0 = _mm512_shuffle_i64x2(q0, q1, 0x44), t1 = _mm512_shuffle_i64x2(q2, q3, 0x44);
  __m512i t2 = _mm512_shuffle_i64x2(q0, q1, 0xEE), t3 = _mm512_shuffle_i64x2(q2, q3, 0xEE);
  return {{_mm512_shuffle_i64x2(t0, t1, 0x88), _mm512_shuffle_i64x2(t0, t1, 0xDD),
           _mm512_shuffle_i64x2(t2, t3, 0x88), _mm512_shuffle_i64x2(t2, t3, 0xDD)}};
}

// The byte permutes that squeeze 4-byte pixels to 3: output register j of
// three takes bytes 64j .. 64j + 63 of the 3-byte stream, whose pixels lie in
// the 4-byte registers j and j + 1.
struct Squeeze24 {
  __m512i index[3];
  Squeeze24() {
    for (int j = 0; j < 3; ++j) {
      index[j] = Index([j](int i) {
        int out = 64 * j + i;
        int pixel = out / 3, byte = out % 3;
        return 4 * pixel + byte - 64 * j;  // relative to register j
      });
    }
  }
};

VORN_INLINE void Store24x64(uint8_t* d, const Four& p, const Squeeze24& s) {
  Store64(d, _mm512_permutex2var_epi8(p.p[0], s.index[0], p.p[1]));
  Store64(d + 64, _mm512_permutex2var_epi8(p.p[1], s.index[1], p.p[2]));
  Store64(d + 128, _mm512_permutex2var_epi8(p.p[2], s.index[2], p.p[3]));
}

// Each pixel of sixteen written twice: thirty-two pixels in two registers.
VORN_INLINE void Doubled32(__m512i p, __m512i* first, __m512i* second) {
  const __m512i lo = _mm512_set_epi32(7, 7, 6, 6, 5, 5, 4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
  const __m512i hi = _mm512_set_epi32(15, 15, 14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8, 8);
  *first = _mm512_permutexvar_epi32(lo, p);
  *second = _mm512_permutexvar_epi32(hi, p);
}

template <Pack P, bool kDouble>
VORN_INLINE void StoreRgb24(uint8_t* d, const Components& c, const Squeeze24& s) {
  Four p = Pixels32(c, _mm512_setzero_si512(), PackIsReversed(P));
  if constexpr (kDouble) {
    Four a, b;
    Doubled32(p.p[0], &a.p[0], &a.p[1]);
    Doubled32(p.p[1], &a.p[2], &a.p[3]);
    Doubled32(p.p[2], &b.p[0], &b.p[1]);
    Doubled32(p.p[3], &b.p[2], &b.p[3]);
    Store24x64(d, a, s);
    Store24x64(d + 192, b, s);
  } else {
    Store24x64(d, p, s);
  }
}

template <FamilyId F, bool kGrey, bool kDouble>
RowsConverter NarrowerFor() {
  const FamilyKernels& k = Avx2Sets().sets[F];
  return kGrey ? (kDouble ? k.grey_x2 : k.grey) : (kDouble ? k.colour_x2 : k.colour);
}

template <FamilyId F, Pack P, bool kGrey, bool kDouble>
void VectorRows(const RowPairContext& ctx, uint32_t rows, uint32_t odd, uint32_t count) {
  static_assert(PackBytes(P) == 3 && !PackHasAlpha(P));
  constexpr uint32_t kOut = 3 * (kDouble ? 2 : 1);
  RowsConverter narrower = NarrowerFor<F, kGrey, kDouble>();
  RowPairContext c = ctx;
  if (odd || count < 64) {
    // The narrower kernel converts the odd pixel (or everything), then this
    // one continues from the even pixel after it.
    uint32_t head = count < 64 ? count : 1;
    narrower(ctx, rows, odd, head);
    if (head == count) return;
    for (int i = 0; i < 2; ++i) {
      c.luma[i] += head;
      if (c.alpha[i]) c.alpha[i] += head;
      c.dest[i] += size_t{head} * kOut;
    }
    c.u += 1;
    c.v += 1;
    count -= head;
  }
  const uint32_t blocks = count / 64;
  static const Squeeze24 squeeze;
  for (uint32_t b = 0; b < blocks; ++b) {
    size_t at = size_t{64} * b;
    PixelOffsets chroma = {};
    if constexpr (!kGrey) chroma = Spread(ChromaOffsets(c.u + at / 2, c.v + at / 2));
    for (uint32_t r = 0; r < rows; ++r) {
      __m512i y = Load64(c.luma[r] + at);
      Components comp = kGrey ? GreyComponents(y) : ColourComponents(y, chroma);
      StoreRgb24<P, kDouble>(c.dest[r] + at * kOut, comp, squeeze);
    }
  }
  uint32_t done = blocks * 64;
  if (done < count) {
    for (int i = 0; i < 2; ++i) {
      c.luma[i] += done;
      if (c.alpha[i]) c.alpha[i] += done;
      c.dest[i] += size_t{done} * kOut;
    }
    c.u += done / 2;
    c.v += done / 2;
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

void RowKernelsAvx512(RowKernels* kernels) {
  FamilyKernels set[FAMILY_COUNT] = {};
  Avx512Kernels(set);
  RowKernelsUseVector(kernels, set);
}

// Only the 24-bit families: measured on a processor with these units, the
// 32-bit and packed YUV layouts gained nothing over AVX2 (the copy is bound by
// memory there), the 16-bit ones were already far ahead.
void Avx512Kernels(FamilyKernels out[FAMILY_COUNT]) {
  out[FAMILY_24] = Kernels<FAMILY_24, Pack::k24>();
  out[FAMILY_24R] = Kernels<FAMILY_24R, Pack::k24R>();
}
