// AVX2 demosaic interior: 32 output pixels per step, computing exactly what
// the SSE2 form computes (the same shifts, products and saturation), only
// twice as wide. Each 128-bit half of a register holds the same sixteen
// pixels the SSE2 form holds in one register: the low half the first sixteen
// of the step, the high half the next sixteen.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

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
// pixels and spills 4 bytes onto the next pixels, written afterwards.
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
  for (int i = 0; i < 4; ++i) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 48 + 12 * i),
                     _mm256_extracti128_si256(q[i], 1));
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
  const int redParity = (g.phase >> 1) & 1, blueParity = redParity ^ 1;
  for (int y = 2; y <= h - 3; ++y) {
    const bool redHere = CanonicalRow(g.phase, y) == 1;
    const int redA = redHere ? y : y - 1, redC = redHere ? y - 2 : y + 1;
    const int blueA = redHere ? y - 1 : y, blueC = redHere ? y + 1 : y - 2;
    const uint8_t* rowRA = v.SrcPixel(v.left, v.top + redA);
    const uint8_t* rowRC = v.SrcPixel(v.left, v.top + redC);
    const uint8_t* rowBA = v.SrcPixel(v.left, v.top + blueA);
    const uint8_t* rowBC = v.SrcPixel(v.left, v.top + blueC);
    uint8_t* dstRow = v.DstPixel(v.left, v.top + y);
    int x = 2;
    // A step reads columns x - 2 .. x + 33 and its last store spills 4 bytes
    // onto pixels x + 32 and x + 33, which must be interior pixels written later.
    for (; x + 36 <= w; x += 32) {
      const RowTerms ra = LoadRowTerms<true>(rowRA, x, redParity);
      const RowTerms rc = LoadRowTerms<false>(rowRC, x, redParity);
      const RowTerms ba = LoadRowTerms<true>(rowBA, x, blueParity);
      const RowTerms bc = LoadRowTerms<false>(rowBC, x, blueParity);
      const __m256i re = Gain(Add(Times3(ra.evenH), rc.evenH), vkR);
      const __m256i ro = Gain(Add(Times3(ra.oddH), rc.oddH), vkR);
      const __m256i be = Gain(Add(Times3(ba.evenH), bc.evenH), vkB);
      const __m256i bo = Gain(Add(Times3(ba.oddH), bc.oddH), vkB);
      const __m256i ge = _mm256_srli_epi16(Add(ra.evenGreen, ba.evenGreen), 1);
      const __m256i go = _mm256_srli_epi16(Add(ra.oddGreen, ba.oddGreen), 1);
      StoreBgr32(dstRow + 3 * x, be, bo, ge, go, re, ro);
    }
    if (x <= w - 3) DemosaicRowVectorTail(v, g.phase, kR, kB, y, x, w - 3);
  }
  _mm256_zeroupper();
  return 1;
}

#else

bool DemosaicAvx2Built() { return false; }
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorSse2(v, g);
}

#endif

}  // namespace varnel
