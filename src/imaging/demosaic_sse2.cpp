// SSE2 demosaic interior: 16 output pixels per step.
//
// Every term of the bilinear formula depends only on the parity of the output
// column, so one step splits each mosaic row into its even and odd columns
// (eight 16-bit lanes each, by masking and shifting one 16-byte load) and
// forms the even and the odd outputs without any per-lane selection.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

#if defined(__SSE2__)
namespace {

inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i Even(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }
inline __m128i Odd(__m128i v) { return _mm_srli_epi16(v, 8); }
inline __m128i Add(__m128i a, __m128i b) { return _mm_adds_epu16(a, b); }
inline __m128i Times3(__m128i a) { return Add(Add(a, a), a); }

// The horizontal interpolation of a row's red or blue samples for the even
// and odd output columns x0 + 2i and x0 + 2i + 1 (x0 even), and the green of
// the same row among columns x - 1 and x.
struct RowTerms {
  __m128i evenH, oddH, evenGreen, oddGreen;
};

// `colorParity` is the parity of the columns that carry the row's red or blue.
template <bool kWithGreen>
inline RowTerms LoadRowTerms(const uint8_t* row, int x0, int colorParity) {
  RowTerms t;
  const __m128i left = Load16(row + x0 - 2), here = Load16(row + x0);
  if (colorParity == 0) {
    const __m128i c3 = Times3(Even(here));
    t.evenH = Add(c3, Even(left));                 // 3 s[x] + s[x-2]
    t.oddH = Add(c3, Even(Load16(row + x0 + 2)));  // 3 s[x-1] + s[x+1]
    if (kWithGreen) {
      t.evenGreen = Odd(left);  // s[x-1]
      t.oddGreen = Odd(here);   // s[x]
    }
  } else {
    const __m128i leftOdd = Odd(left), hereOdd = Odd(here);
    t.evenH = Add(Times3(leftOdd), hereOdd);                // 3 s[x-1] + s[x+1]
    t.oddH = Add(Times3(hereOdd), leftOdd);                 // 3 s[x] + s[x-2]
    if (kWithGreen) t.evenGreen = t.oddGreen = Even(here);  // s[x], s[x-1]
  }
  return t;
}

// ((sum >> 4) * k) >> 7; the caller's unsigned pack limits it to 255.
inline __m128i Gain(__m128i sum, __m128i k) {
  return _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(sum, 4), k), 7);
}

// Four B, G, R, 0 pixels -> 12 bytes at d, written as two overlapping 8-byte
// stores (the last 2 bytes of the second land on the next pixel, which the
// caller writes afterwards).
inline void Store4(uint8_t* d, __m128i p) {
  const __m128i keepLow3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i keepMid3 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                         static_cast<int>(0xFF000000u));
  const __m128i c =
      _mm_or_si128(_mm_and_si128(p, keepLow3), _mm_and_si128(_mm_srli_epi64(p, 8), keepMid3));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), c);
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d + 6), _mm_unpackhi_epi64(c, c));
}

// Even and odd B, G, R (16-bit lanes, at most 510) -> 16 pixels at d.
inline void StoreBgr16(uint8_t* d, __m128i be, __m128i bo, __m128i ge, __m128i go, __m128i re,
                       __m128i ro) {
  const __m128i z = _mm_setzero_si128();
  const __m128i b = _mm_packus_epi16(be, bo), g = _mm_packus_epi16(ge, go);
  const __m128i r = _mm_packus_epi16(re, ro);
  const __m128i bgEven = _mm_unpacklo_epi8(b, g), bgOdd = _mm_unpackhi_epi8(b, g);
  const __m128i rEven = _mm_unpacklo_epi8(r, z), rOdd = _mm_unpackhi_epi8(r, z);
  const __m128i evenLo = _mm_unpacklo_epi16(bgEven, rEven),
                evenHi = _mm_unpackhi_epi16(bgEven, rEven);
  const __m128i oddLo = _mm_unpacklo_epi16(bgOdd, rOdd), oddHi = _mm_unpackhi_epi16(bgOdd, rOdd);
  Store4(d, _mm_unpacklo_epi32(evenLo, oddLo));
  Store4(d + 12, _mm_unpackhi_epi32(evenLo, oddLo));
  Store4(d + 24, _mm_unpacklo_epi32(evenHi, oddHi));
  Store4(d + 36, _mm_unpackhi_epi32(evenHi, oddHi));
}

}  // namespace

bool HaveDemosaicSse2() { return true; }

int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g) {
  if (v.Empty()) return 1;
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) return DemosaicInteriorScalar(v, g);
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return 1;
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  const __m128i vkR = _mm_set1_epi16(static_cast<short>(kR));
  const __m128i vkB = _mm_set1_epi16(static_cast<short>(kB));
  // Column parity of red (blue has the other), counted from the rectangle.
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
    // A step reads columns x - 2 .. x + 17 and its last store spills 2 bytes
    // into pixel x + 16, which must still be an interior pixel written later.
    for (; x + 19 <= w; x += 16) {
      const RowTerms ra = LoadRowTerms<true>(rowRA, x, redParity);
      const RowTerms rc = LoadRowTerms<false>(rowRC, x, redParity);
      const RowTerms ba = LoadRowTerms<true>(rowBA, x, blueParity);
      const RowTerms bc = LoadRowTerms<false>(rowBC, x, blueParity);
      const __m128i re = Gain(Add(Times3(ra.evenH), rc.evenH), vkR);
      const __m128i ro = Gain(Add(Times3(ra.oddH), rc.oddH), vkR);
      const __m128i be = Gain(Add(Times3(ba.evenH), bc.evenH), vkB);
      const __m128i bo = Gain(Add(Times3(ba.oddH), bc.oddH), vkB);
      const __m128i ge = _mm_srli_epi16(Add(ra.evenGreen, ba.evenGreen), 1);
      const __m128i go = _mm_srli_epi16(Add(ra.oddGreen, ba.oddGreen), 1);
      StoreBgr16(dstRow + 3 * x, be, bo, ge, go, re, ro);
    }
    if (x <= w - 3) DemosaicRowVectorTail(v, g.phase, kR, kB, y, x, w - 3);
  }
  return 1;
}

#else

bool HaveDemosaicSse2() { return false; }
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorScalar(v, g);
}

#endif

}  // namespace varnel
