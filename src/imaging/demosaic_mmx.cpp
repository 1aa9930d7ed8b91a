// MMX demosaic interior: 8 output pixels per step.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

#if defined(__MMX__)
#include <mmintrin.h>
#endif

namespace varnel {

#if defined(__MMX__)
namespace {

inline __m64 Load8(const uint8_t* p) {
  __m64 m;
  std::memcpy(&m, p, sizeof m);
  return m;
}

struct RowTerms {
  __m64 x0[2], x1[2], prev[2], here[2];
};

inline __m64 Times3(__m64 a) { return _mm_adds_pu16(_mm_adds_pu16(a, a), a); }

inline RowTerms LoadRowTerms(const uint8_t* p) {
  const __m64 z = _mm_setzero_si64();
  const __m64 m2 = Load8(p - 2), m1 = Load8(p - 1), c0 = Load8(p), p1 = Load8(p + 1);
  const __m64 w[4][2] = {{_mm_unpacklo_pi8(m2, z), _mm_unpackhi_pi8(m2, z)},
                         {_mm_unpacklo_pi8(m1, z), _mm_unpackhi_pi8(m1, z)},
                         {_mm_unpacklo_pi8(c0, z), _mm_unpackhi_pi8(c0, z)},
                         {_mm_unpacklo_pi8(p1, z), _mm_unpackhi_pi8(p1, z)}};
  RowTerms t;
  for (int h = 0; h < 2; ++h) {
    t.x0[h] = _mm_adds_pu16(Times3(w[2][h]), w[0][h]);
    t.x1[h] = _mm_adds_pu16(Times3(w[1][h]), w[3][h]);
    t.prev[h] = w[1][h];
    t.here[h] = w[2][h];
  }
  return t;
}

inline __m64 Select(__m64 mask, __m64 a, __m64 b) {
  return _mm_or_si64(_mm_and_si64(mask, a), _mm_andnot_si64(mask, b));
}

inline __m64 Gain(__m64 lo, __m64 hi, __m64 k) {
  lo = _mm_srli_pi16(_mm_mullo_pi16(_mm_srli_pi16(lo, 4), k), 7);
  hi = _mm_srli_pi16(_mm_mullo_pi16(_mm_srli_pi16(hi, 4), k), 7);
  return _mm_packs_pu16(lo, hi);
}

}  // namespace

bool HaveDemosaicMmx() { return true; }

int DemosaicInteriorMmx(const RegionView& v, const BayerGains& g) {
  if (v.Empty()) return 1;
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) return DemosaicInteriorScalar(v, g);
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return 1;
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  const __m64 vkR = _mm_set1_pi16(static_cast<short>(kR));
  const __m64 vkB = _mm_set1_pi16(static_cast<short>(kB));
  const int redCol = (g.phase >> 1) & 1;
  const __m64 m = redCol == 0 ? _mm_set1_pi32(0x0000FFFF) : _mm_set1_pi32(0xFFFF0000);
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
    for (; x + 7 <= w - 3; x += 8) {
      const RowTerms ra = LoadRowTerms(rowRA + x), rc = LoadRowTerms(rowRC + x);
      const RowTerms ba = LoadRowTerms(rowBA + x), bc = LoadRowTerms(rowBC + x);
      __m64 sr[2], sb[2], gr[2];
      for (int k = 0; k < 2; ++k) {
        sr[k] = _mm_adds_pu16(Times3(Select(m, ra.x0[k], ra.x1[k])), Select(m, rc.x0[k], rc.x1[k]));
        sb[k] = _mm_adds_pu16(Times3(Select(m, ba.x1[k], ba.x0[k])), Select(m, bc.x1[k], bc.x0[k]));
        gr[k] = _mm_srli_pi16(
            _mm_adds_pu16(Select(m, ra.prev[k], ra.here[k]), Select(m, ba.here[k], ba.prev[k])), 1);
      }
      uint8_t b[8], gg[8], r[8];
      const __m64 vb = Gain(sb[0], sb[1], vkB), vg = _mm_packs_pu16(gr[0], gr[1]);
      const __m64 vr = Gain(sr[0], sr[1], vkR);
      std::memcpy(b, &vb, 8);
      std::memcpy(gg, &vg, 8);
      std::memcpy(r, &vr, 8);
      uint8_t* d = dstRow + 3 * x;
      for (int i = 0; i < 8; ++i) {
        d[3 * i] = b[i];
        d[3 * i + 1] = gg[i];
        d[3 * i + 2] = r[i];
      }
    }
    _mm_empty();
    if (x <= w - 3) DemosaicRowVectorRounding(v, g, y, x, w - 3);
  }
  return 1;
}

#else

bool HaveDemosaicMmx() { return false; }
int DemosaicInteriorMmx(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorScalar(v, g);
}

#endif

}  // namespace varnel
