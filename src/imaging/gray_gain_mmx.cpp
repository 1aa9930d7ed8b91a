// MMX gray-mode gains and offsets: 8 samples per step.
#include "imaging/bayer_layout.h"
#include "imaging/gray_gain.h"

#include <cstring>

#if defined(__MMX__)
#include <mmintrin.h>
#endif

namespace varnel {

#if defined(__MMX__)

int GrayGainsMmx(const RegionView& v, const GrayGains& g) {
  if (v.Empty()) return 1;
  if (!VectorGrayGainsAllowed(v, g)) return GrayGainsScalar(v, g);
  const int w = v.Width();
  for (int y = 0; y < v.Height(); ++y) {
    const int chE = GrayChannelAt(g.phase, 0, y), chO = GrayChannelAt(g.phase, 1, y);
    const __m64 gain =
        _mm_set_pi16(static_cast<short>(g.gain[chO]), static_cast<short>(g.gain[chE]),
                     static_cast<short>(g.gain[chO]), static_cast<short>(g.gain[chE]));
    const short offE = static_cast<short>(LaneOffset(g.offset[chE]));
    const short offO = static_cast<short>(LaneOffset(g.offset[chO]));
    const __m64 offset = _mm_set_pi16(offO, offE, offO, offE);
    const uint8_t* s = v.SrcPixel(v.left, v.top + y);
    uint8_t* d = v.DstPixel(v.left, v.top + y);
    const __m64 z = _mm_setzero_si64();
    int x = 0;
    for (; x + 8 <= w; x += 8) {
      __m64 in;
      std::memcpy(&in, s + x, sizeof in);
      __m64 lo = _mm_srli_pi16(_mm_mullo_pi16(_mm_unpacklo_pi8(in, z), gain), 7);
      __m64 hi = _mm_srli_pi16(_mm_mullo_pi16(_mm_unpackhi_pi8(in, z), gain), 7);
      const __m64 out = _mm_packs_pu16(_mm_adds_pi16(lo, offset), _mm_adds_pi16(hi, offset));
      std::memcpy(d + x, &out, sizeof out);
    }
    _mm_empty();
    if (x < w) GrayGainsRowScalar(v, g, y, x, w);
  }
  return 1;
}

bool HaveGrayGainsMmx() { return true; }

#else

int GrayGainsMmx(const RegionView& v, const GrayGains& g) { return GrayGainsScalar(v, g); }
bool HaveGrayGainsMmx() { return false; }

#endif

}  // namespace varnel
