// SSE2 gray-mode gains and offsets: 16 samples per step.
#include "imaging/bayer_layout.h"
#include "imaging/gray_gain.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

#if defined(__SSE2__)

int GrayGainsSse2(const RegionView& v, const GrayGains& g) {
  if (v.Empty()) return 1;
  if (!VectorGrayGainsAllowed(v, g)) return GrayGainsScalar(v, g);
  const int w = v.Width();
  for (int y = 0; y < v.Height(); ++y) {
    // Steps start at even columns, so even lanes take the even column's channel.
    const int chE = GrayChannelAt(g.phase, 0, y), chO = GrayChannelAt(g.phase, 1, y);
    const __m128i gain = _mm_set1_epi32(static_cast<int>(
        (static_cast<uint32_t>(g.gain[chO]) << 16) | static_cast<uint32_t>(g.gain[chE])));
    const __m128i offset = _mm_set1_epi32(
        static_cast<int>((static_cast<uint32_t>(LaneOffset(g.offset[chO]) & 0xFFFF) << 16) |
                         static_cast<uint32_t>(LaneOffset(g.offset[chE]) & 0xFFFF)));
    const uint8_t* s = v.SrcPixel(v.left, v.top + y);
    uint8_t* d = v.DstPixel(v.left, v.top + y);
    const __m128i z = _mm_setzero_si128();
    int x = 0;
    for (; x + 16 <= w; x += 16) {
      const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + x));
      __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(in, z), gain), 7);
      __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(in, z), gain), 7);
      lo = _mm_adds_epi16(lo, offset);
      hi = _mm_adds_epi16(hi, offset);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x), _mm_packus_epi16(lo, hi));
    }
    if (x < w) GrayGainsRowScalar(v, g, y, x, w);
  }
  return 1;
}

bool HaveGrayGainsSse2() { return true; }

#else

int GrayGainsSse2(const RegionView& v, const GrayGains& g) { return GrayGainsScalar(v, g); }
bool HaveGrayGainsSse2() { return false; }

#endif

}  // namespace varnel
