// Scalar gray-mode gains and offsets.
#include "imaging/bayer_layout.h"
#include "imaging/gray_gain.h"

#include <cstdint>

namespace varnel {

void GrayGainsRowScalar(const RegionView& v, const GrayGains& g, int row, int from, int to) {
  const int channels[2] = {GrayChannelAt(g.phase, 0, row), GrayChannelAt(g.phase, 1, row)};
  const uint8_t* s = v.SrcPixel(v.left, v.top + row);
  uint8_t* d = v.DstPixel(v.left, v.top + row);
  for (int x = from; x < to; ++x) {
    const int ch = channels[x & 1];
    const int64_t out = g.offset[ch] + static_cast<int64_t>(g.gain[ch]) *
                                           s[static_cast<ptrdiff_t>(x) * v.srcBpp] / 128;
    d[static_cast<ptrdiff_t>(x) * v.dstBpp] =
        static_cast<uint8_t>(std::clamp<int64_t>(out, 0, 255));
  }
}

int GrayGainsScalar(const RegionView& v, const GrayGains& g) {
  if (v.Empty()) return 1;
  for (int y = 0; y < v.Height(); ++y) GrayGainsRowScalar(v, g, y, 0, v.Width());
  return 1;
}

}  // namespace varnel
