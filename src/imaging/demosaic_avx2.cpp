// AVX2 demosaic interior: 32 output pixels per step, computing exactly what
// the SSE2 form computes (the same shifts, products and saturation), only
// twice as wide. Each 128-bit half of a register holds the same sixteen
// pixels the SSE2 form holds in one register: the low half the first sixteen
// of the step, the high half the next sixteen.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

#include <cstring>
#include <type_traits>

#if defined(__AVX2__)
#include <immintrin.h>
#endif

namespace varnel {

#if defined(__AVX2__)
namespace {

inline __m256i Load32(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline __m256i Even(__m256i v) { return _mm256_and_si256(v, _mm256_set1_epi16(0x00FF)); }
inline __m256i Odd(__m256i v) { return _mm256_srli_epi16(v, 8); }
inline __m256i Add(__m256i a, __m256i b) { return _mm256_adds_epu16(a, b); }
inline __m256i Times3(__m256i a) { return Add(Add(a, a), a); }

struct RowTerms {
  __m256i evenH, oddH, evenGreen, oddGreen;
};

template <bool kWithGreen>
inline RowTerms LoadRowTerms(const uint8_t* row, int x0, int colorParity) {
  RowTerms t;
  const __m256i left = Load32(row + x0 - 2), here = Load32(row + x0);
  if (colorParity == 0) {
    const __m256i c3 = Times3(Even(here));
    t.evenH = Add(c3, Even(left));
    t.oddH = Add(c3, Even(Load32(row + x0 + 2)));
    if (kWithGreen) {
      t.evenGreen = Odd(left);
      t.oddGreen = Odd(here);
    }
  } else {
    const __m256i leftOdd = Odd(left), hereOdd = Odd(here);
    t.evenH = Add(Times3(leftOdd), hereOdd);
    t.oddH = Add(Times3(hereOdd), leftOdd);
    if (kWithGreen) t.evenGreen = t.oddGreen = Even(here);
  }
  return t;
}

inline __m256i Gain(__m256i sum, __m256i k) {
  return _mm256_srli_epi16(_mm256_mullo_epi16(_mm256_srli_epi16(sum, 4), k), 7);
}

// Even and odd B, G, R -> 32 pixels at d. Each 16-byte store carries four
// pixels and spills 4 bytes onto the next pixels, written afterwards; with
// kExact the last four pixels are written as exactly 12 bytes.
template <bool kExact>
inline void StoreBgr32(uint8_t* d, __m256i be, __m256i bo, __m256i ge, __m256i go, __m256i re,
                       __m256i ro) {
  const __m256i z = _mm256_setzero_si256();
  const __m256i b = _mm256_packus_epi16(be, bo), g = _mm256_packus_epi16(ge, go);
  const __m256i r = _mm256_packus_epi16(re, ro);
  const __m256i bgEven = _mm256_unpacklo_epi8(b, g), bgOdd = _mm256_unpackhi_epi8(b, g);
  const __m256i rEven = _mm256_unpacklo_epi8(r, z), rOdd = _mm256_unpackhi_epi8(r, z);
  const __m256i evenLo = _mm256_unpacklo_epi16(bgEven, rEven);
  const __m256i evenHi = _mm256_unpackhi_epi16(bgEven, rEven);
  const __m256i oddLo = _mm256_unpacklo_epi16(bgOdd, rOdd);
  const __m256i oddHi = _mm256_unpackhi_epi16(bgOdd, rOdd);
  const __m256i drop4th = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,
                                           0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i q[4] = {_mm256_shuffle_epi8(_mm256_unpacklo_epi32(evenLo, oddLo), drop4th),
                        _mm256_shuffle_epi8(_mm256_unpackhi_epi32(evenLo, oddLo), drop4th),
                        _mm256_shuffle_epi8(_mm256_unpacklo_epi32(evenHi, oddHi), drop4th),
                        _mm256_shuffle_epi8(_mm256_unpackhi_epi32(evenHi, oddHi), drop4th)};
  for (int i = 0; i < 4; ++i) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 12 * i), _mm256_castsi256_si128(q[i]));
  }
  for (int i = 0; i < 3; ++i) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48 + 12 * i),
                     _mm256_extracti128_si256(q[i], 1));
  }
  const __m128i lastFour = _mm256_extracti128_si256(q[3], 1);
  if constexpr (kExact) {
    _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 84), lastFour);
    const int last4 = _mm_cvtsi128_si32(_mm_srli_si128(lastFour, 8));
    std::memcpy(d + 92, &last4, 4);
  } else {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 84), lastFour);
  }
}

}  // namespace

bool DemosaicAvx2Built() { return true; }

int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g) {
  if (v.Empty()) return 1;
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) return DemosaicInteriorScalar(v, g);
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return 1;
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  const __m256i vkR = _mm256_set1_epi16(static_cast<short>(kR));
  const __m256i vkB = _mm256_set1_epi16(static_cast<short>(kB));
  // Column parity of red (blue has the other), counted from the rectangle.
  const int redParity = (g.phase >> 1) & 1, blueParity = redParity ^ 1;
  auto isRed = [&](int row) { return CanonicalRow(g.phase, row) == 1; };
  auto parityOf = [&](int row) { return isRed(row) ? redParity : blueParity; };

  // Output rows y and y + 1 together: they read mosaic rows y - 2 .. y + 2,
  // and each row's horizontal terms serve both.
  auto pairOfRows = [&](int y) {
    const uint8_t* rows[5];
    for (int i = 0; i < 5; ++i) rows[i] = v.SrcPixel(v.left, v.top + y - 2 + i);
    const int p[5] = {parityOf(y - 2), parityOf(y - 1), parityOf(y), parityOf(y + 1),
                      parityOf(y + 2)};
    const bool redAtY = isRed(y);
    uint8_t* dst0 = v.DstPixel(v.left, v.top + y);
    uint8_t* dst1 = v.DstPixel(v.left, v.top + y + 1);
    const __m256i kAtY = redAtY ? vkR : vkB, kOther = redAtY ? vkB : vkR;
    // One step of 32 pixels from column x (of either parity: the terms are
    // formed relative to x). `exact` keeps the last store inside the step.
    auto step = [&](int x, auto exact) {
      const int flip = x & 1;
      const RowTerms t0 = LoadRowTerms<false>(rows[0], x, p[0] ^ flip);
      const RowTerms t1 = LoadRowTerms<true>(rows[1], x, p[1] ^ flip);
      const RowTerms t2 = LoadRowTerms<true>(rows[2], x, p[2] ^ flip);
      const RowTerms t3 = LoadRowTerms<true>(rows[3], x, p[3] ^ flip);
      const RowTerms t4 = LoadRowTerms<false>(rows[4], x, p[4] ^ flip);
      // Row y's colour lies on mosaic rows y - 2, y, y + 2; the other colour
      // on rows y - 1 and y + 1.
      const __m256i e3 = Times3(t2.evenH), o3 = Times3(t2.oddH);
      const __m256i ownE0 = Gain(Add(e3, t0.evenH), kAtY), ownO0 = Gain(Add(o3, t0.oddH), kAtY);
      const __m256i othE0 = Gain(Add(Times3(t1.evenH), t3.evenH), kOther);
      const __m256i othO0 = Gain(Add(Times3(t1.oddH), t3.oddH), kOther);
      const __m256i ownE1 = Gain(Add(e3, t4.evenH), kAtY), ownO1 = Gain(Add(o3, t4.oddH), kAtY);
      const __m256i othE1 = Gain(Add(Times3(t3.evenH), t1.evenH), kOther);
      const __m256i othO1 = Gain(Add(Times3(t3.oddH), t1.oddH), kOther);
      const __m256i ge0 = _mm256_srli_epi16(Add(t1.evenGreen, t2.evenGreen), 1);
      const __m256i go0 = _mm256_srli_epi16(Add(t1.oddGreen, t2.oddGreen), 1);
      const __m256i ge1 = _mm256_srli_epi16(Add(t2.evenGreen, t3.evenGreen), 1);
      const __m256i go1 = _mm256_srli_epi16(Add(t2.oddGreen, t3.oddGreen), 1);
      constexpr bool kExact = decltype(exact)::value;
      if (redAtY) {
        StoreBgr32<kExact>(dst0 + 3 * x, othE0, othO0, ge0, go0, ownE0, ownO0);
        StoreBgr32<kExact>(dst1 + 3 * x, othE1, othO1, ge1, go1, ownE1, ownO1);
      } else {
        StoreBgr32<kExact>(dst0 + 3 * x, ownE0, ownO0, ge0, go0, othE0, othO0);
        StoreBgr32<kExact>(dst1 + 3 * x, ownE1, ownO1, ge1, go1, othE1, othO1);
      }
    };
    // A step reads columns x - 2 .. x + 32 + 1; its spilling store lands on
    // pixels after the step, which the following steps write again.
    int x = 2;
    for (; x + 32 + 2 <= w - 3; x += 32) step(x, std::false_type{});
    // The last step ends exactly at column w - 3 (overlapping the previous
    // one, which gives the same values again) and spills nothing.
    const int last = w - 3 - (32 - 1);
    if (last >= 2) {
      for (int row : {y, y + 1}) {
        if (x < last) DemosaicRowVectorTail(v, g.phase, kR, kB, row, x, last - 1);
      }
      step(last, std::true_type{});
    } else {
      for (int row : {y, y + 1}) DemosaicRowVectorTail(v, g.phase, kR, kB, row, x, w - 3);
    }
  };

  int y = 2;
  for (; y + 1 <= h - 3; y += 2) pairOfRows(y);
  if (y <= h - 3) {
    // An odd number of interior rows: the last pair overlaps the previous one.
    if (y - 1 >= 2) {
      pairOfRows(y - 1);
    } else {
      DemosaicRowVectorTail(v, g.phase, kR, kB, y, 2, w - 3);
    }
  }
  return 1;
}

#else

bool DemosaicAvx2Built() { return false; }
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorSse2(v, g);
}

#endif

}  // namespace varnel
