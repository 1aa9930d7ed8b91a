// The bilinear Bayer demosaic shared by the scalar and vector routines: which
// samples feed one output pixel, and the two ways of applying the white-balance
// gains (the scalar form keeps every bit until the final shift; the vector
// forms shift the sum first so that the product fits a 16-bit lane).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "imaging/bayer_layout.h"
#include "imaging/region_params.h"
#include "imaging/region_view.h"

namespace varnel {

// Offsets, relative to the output pixel (x, y), of the samples that feed it.
// The 2x2 block whose bottom-right sample is (x, y) holds two greens, one red
// (a) and one blue; b lies on a's row on the other side of the block centre,
// c in a's column on the other side, d diagonally.
struct DemosaicTaps {
  int g1x, g1y, g2x, g2y;
  int rax, ray, rbx, rcy;
  int bax, bay, bbx, bcy;
};

inline DemosaicTaps ComputeDemosaicTaps(int phase, int x, int y) {
  DemosaicTaps t{};
  bool firstGreen = true;
  for (int dy = -1; dy <= 0; ++dy) {
    for (int dx = -1; dx <= 0; ++dx) {
      switch (ColorAt(phase, x + dx, y + dy)) {
        case BayerColor::kGreen:
          if (firstGreen) {
            t.g1x = dx, t.g1y = dy, firstGreen = false;
          } else {
            t.g2x = dx, t.g2y = dy;
          }
          break;
        case BayerColor::kRed:
          t.rax = dx, t.ray = dy;
          break;
        case BayerColor::kBlue:
          t.bax = dx, t.bay = dy;
          break;
      }
    }
  }
  t.rbx = t.rax == 0 ? -2 : 1;
  t.rcy = t.ray == 0 ? -2 : 1;
  t.bbx = t.bax == 0 ? -2 : 1;
  t.bcy = t.bay == 0 ? -2 : 1;
  return t;
}

// Gain in percent to the integer multiplier (gain x 1.28, truncated; 100 gives
// 128). Negative gains act as 0; the multiplier is capped far above the
// settable range so that no product can overflow. Always inlined: the vector
// forms call it from files built for their instruction set, and a shared copy
// of it made there could be the one every caller gets.
[[gnu::always_inline]] inline uint32_t GainFactor(int gain) {
  if (gain <= 0) return 0;
  const int64_t k = static_cast<int64_t>(gain) * 128 / 100;
  return static_cast<uint32_t>(std::min<int64_t>(k, 65535));
}

// Scalar rounding: (sum x k) >> 11, saturating at the largest sample value.
template <int kBits>
inline uint32_t ApplyGainScalar(uint32_t sum, uint32_t k) {
  constexpr uint64_t kMax = (1u << kBits) - 1;
  const uint64_t v = static_cast<uint64_t>(sum) * k;
  return v > kMax * 2048 + 2047 ? static_cast<uint32_t>(kMax) : static_cast<uint32_t>(v >> 11);
}

// Vector rounding: min(255, ((sum >> 4) x k) >> 7).
inline uint32_t ApplyGainVector(uint32_t sum, uint32_t k) {
  return std::min<uint32_t>(255, ((sum >> 4) * k) >> 7);
}

struct DemosaicSums {
  uint32_t red, green, blue;  // red and blue in sixteenths, green already halved
};

// Forms the sums of one output pixel; `at(dx, dy)` returns the sample at that
// offset from the output pixel.
template <typename At>
inline DemosaicSums DemosaicPixelSums(const DemosaicTaps& t, At&& at) {
  DemosaicSums s;
  s.green = (static_cast<uint32_t>(at(t.g1x, t.g1y)) + at(t.g2x, t.g2y)) >> 1;
  s.red = 9u * at(t.rax, t.ray) + 3u * at(t.rbx, t.ray) + 3u * at(t.rax, t.rcy) + at(t.rbx, t.rcy);
  s.blue = 9u * at(t.bax, t.bay) + 3u * at(t.bbx, t.bay) + 3u * at(t.bax, t.bcy) + at(t.bbx, t.bcy);
  return s;
}

inline uint16_t LoadSample16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
inline void StoreSample16(uint8_t* p, uint32_t v) {
  const uint16_t s = static_cast<uint16_t>(v);
  std::memcpy(p, &s, sizeof s);
}

// True when the vector-rounding demosaic may run for these gains on this
// destination.
inline bool VectorDemosaicAllowed(const BayerGains& g, int dstBpp) {
  return dstBpp == 3 && g.red <= 200 && g.green <= 200 && g.blue <= 200;
}

// The vector forms of the scalar formula hold 2k (8-bit) in a 16-bit lane and
// sum x k (deep) in a 32-bit lane; larger multipliers run the scalar form.
inline constexpr uint32_t kScalarVectorMaxFactor8 = 16383;
inline constexpr uint32_t kScalarVectorMaxFactorDeep = 2047;
inline bool ScalarVectorDemosaicAllowed(const BayerGains& g, int srcBpp, int dstBpp) {
  return srcBpp == 1 && (dstBpp == 3 || dstBpp == 4) &&
         GainFactor(g.red) <= kScalarVectorMaxFactor8 &&
         GainFactor(g.blue) <= kScalarVectorMaxFactor8;
}
inline bool DeepVectorDemosaicAllowed(const BayerGains& g, int srcBpp, int dstBpp) {
  return srcBpp == 2 && (dstBpp == 6 || dstBpp == 8) &&
         GainFactor(g.red) <= kScalarVectorMaxFactorDeep &&
         GainFactor(g.blue) <= kScalarVectorMaxFactorDeep;
}

}  // namespace varnel
