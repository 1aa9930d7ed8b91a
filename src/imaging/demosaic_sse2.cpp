// SSE2 demosaic interior: 16 output pixels per step.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

#if defined(__SSE2__)
namespace {

// One mosaic row around the step, widened to 16 bits (lo = lanes 0..7,
// hi = lanes 8..15): x0 = 3 s[x] + s[x-2] and x1 = 3 s[x-1] + s[x+1], the two
// horizontal interpolations, and the samples at x-1 and x for the greens.
struct RowTerms {
  __m128i x0[2], x1[2], prev[2], here[2];
};

inline RowTerms LoadRowTerms(const uint8_t* p) {
  const __m128i z = _mm_setzero_si128();
  const __m128i m2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 2));
  const __m128i m1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 1));
  const __m128i c0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i p1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
  RowTerms t;
  const __m128i w[4][2] = {{_mm_unpacklo_epi8(m2, z), _mm_unpackhi_epi8(m2, z)},
                           {_mm_unpacklo_epi8(m1, z), _mm_unpackhi_epi8(m1, z)},
                           {_mm_unpacklo_epi8(c0, z), _mm_unpackhi_epi8(c0, z)},
                           {_mm_unpacklo_epi8(p1, z), _mm_unpackhi_epi8(p1, z)}};
  for (int h = 0; h < 2; ++h) {
    t.x0[h] = _mm_adds_epu16(_mm_adds_epu16(w[2][h], w[2][h]), _mm_adds_epu16(w[2][h], w[0][h]));
    t.x1[h] = _mm_adds_epu16(_mm_adds_epu16(w[1][h], w[1][h]), _mm_adds_epu16(w[1][h], w[3][h]));
    t.prev[h] = w[1][h];
    t.here[h] = w[2][h];
  }
  return t;
}

inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

inline __m128i Times3(__m128i a) { return _mm_adds_epu16(_mm_adds_epu16(a, a), a); }

// min(255, ((sum >> 4) * k) >> 7) on 16 lanes, packed to bytes.
inline __m128i Gain(__m128i lo, __m128i hi, __m128i k) {
  lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(lo, 4), k), 7);
  hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(hi, 4), k), 7);
  return _mm_packus_epi16(lo, hi);
}

// Four B, G, R, 0 pixels -> their 12 B, G, R bytes at the bottom of a register.
inline __m128i Pack4(__m128i p) {
  const __m128i keepLow3 = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i keepMid3 = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                         static_cast<int>(0xFF000000u));
  const __m128i c =
      _mm_or_si128(_mm_and_si128(p, keepLow3), _mm_and_si128(_mm_srli_epi64(p, 8), keepMid3));
  return _mm_or_si128(_mm_move_epi64(c),
                      _mm_slli_si128(_mm_unpackhi_epi64(c, _mm_setzero_si128()), 6));
}

// Stores 16 pixels of B, G, R bytes as 48 interleaved bytes.
inline void StoreBgr16(uint8_t* d, __m128i b, __m128i g, __m128i r) {
  const __m128i z = _mm_setzero_si128();
  const __m128i bgL = _mm_unpacklo_epi8(b, g), bgH = _mm_unpackhi_epi8(b, g);
  const __m128i rzL = _mm_unpacklo_epi8(r, z), rzH = _mm_unpackhi_epi8(r, z);
  const __m128i q0 = Pack4(_mm_unpacklo_epi16(bgL, rzL));
  const __m128i q1 = Pack4(_mm_unpackhi_epi16(bgL, rzL));
  const __m128i q2 = Pack4(_mm_unpacklo_epi16(bgH, rzH));
  const __m128i q3 = Pack4(_mm_unpackhi_epi16(bgH, rzH));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm_or_si128(q0, _mm_slli_si128(q1, 12)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16),
                   _mm_or_si128(_mm_srli_si128(q1, 4), _mm_slli_si128(q2, 8)));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 32),
                   _mm_or_si128(_mm_srli_si128(q2, 8), _mm_slli_si128(q3, 4)));
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
  // Steps start at an even column, so lane parity is column parity. M marks the
  // lanes whose column carries red (and therefore not blue).
  const int redCol = (g.phase >> 1) & 1;
  const __m128i m = redCol == 0 ? _mm_set1_epi32(0x0000FFFF) : _mm_set1_epi32(0xFFFF0000);
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
    for (; x + 15 <= w - 3; x += 16) {
      const RowTerms ra = LoadRowTerms(rowRA + x), rc = LoadRowTerms(rowRC + x);
      const RowTerms ba = LoadRowTerms(rowBA + x), bc = LoadRowTerms(rowBC + x);
      __m128i sr[2], sb[2], gr[2];
      for (int k = 0; k < 2; ++k) {
        sr[k] =
            _mm_adds_epu16(Times3(Select(m, ra.x0[k], ra.x1[k])), Select(m, rc.x0[k], rc.x1[k]));
        sb[k] =
            _mm_adds_epu16(Times3(Select(m, ba.x1[k], ba.x0[k])), Select(m, bc.x1[k], bc.x0[k]));
        gr[k] = _mm_srli_epi16(
            _mm_adds_epu16(Select(m, ra.prev[k], ra.here[k]), Select(m, ba.here[k], ba.prev[k])),
            1);
      }
      StoreBgr16(dstRow + 3 * x, Gain(sb[0], sb[1], vkB), _mm_packus_epi16(gr[0], gr[1]),
                 Gain(sr[0], sr[1], vkR));
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
