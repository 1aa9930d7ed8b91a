// Gray-mode gains and offsets on an 8-bit Bayer mosaic:
// out = offset + gain * sample / 128, clamped to 0..255, with the channel of
// each sample taken from the gray-gain placement of its phase. The MMX and SSE2
// forms give exactly the scalar result (offsets and all four phases included);
// they run the scalar form for gains outside 0..255, where a product would no
// longer fit a 16-bit lane, and for samples wider than one byte.
#pragma once

#include <algorithm>

#include "imaging/region_params.h"
#include "imaging/region_view.h"

namespace varnel {

int GrayGainsScalar(const RegionView& v, const GrayGains& g);
int GrayGainsMmx(const RegionView& v, const GrayGains& g);
int GrayGainsSse2(const RegionView& v, const GrayGains& g);

// Scalar form of the columns [from, to) of one row (relative to the rectangle).
void GrayGainsRowScalar(const RegionView& v, const GrayGains& g, int row, int from, int to);

inline bool VectorGrayGainsAllowed(const RegionView& v, const GrayGains& g) {
  if (v.srcBpp != 1 || v.dstBpp != 1) return false;
  return std::all_of(g.gain, g.gain + 4, [](int k) { return k >= 0 && k <= 255; });
}

// An offset limited to -512..512 gives the same clamped result for every
// sample (gain * sample / 128 stays below 510) and fits a 16-bit lane.
inline int LaneOffset(int offset) { return std::clamp(offset, -512, 512); }

}  // namespace varnel

namespace varnel {
// Whether this build carries the vector forms (only x86 builds do).
bool HaveGrayGainsMmx();
bool HaveGrayGainsSse2();
}  // namespace varnel
