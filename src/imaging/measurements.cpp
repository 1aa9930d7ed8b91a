// The measuring routines: automatic white balance, automatic gray gains and
// the region means used by automatic exposure.
#include <algorithm>
#include <cstdint>

#include "imaging/bayer_layout.h"
#include "imaging/demosaic_kernel.h"
#include "imaging/pixel_routines.h"

namespace varnel {
namespace {

inline uint32_t RawSample(const RegionView& v, int col, int row) {
  const uint8_t* p = v.SrcPixel(col, row);
  return v.srcBpp == 2 ? LoadSample16(p) : *p;
}

// Converts a ratio already limited to [0, hi] to an int by truncation.
inline int TruncLimited(double value, int hi) {
  if (!(value > 0)) return 0;  // also catches NaN
  return value >= hi ? hi : static_cast<int>(value);
}

}  // namespace

int MeasureWhiteBalanceRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)destination, (void)extra;
  BayerGains* gains = ParamRecord<BayerGains>(user);
  if (gains == nullptr) return 0;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.src == nullptr || v.Width() <= 0 || v.Height() <= 0) return 0;
  uint64_t sum[3] = {0, 0, 0}, count[3] = {0, 0, 0};
  for (int y = 0; y < v.Height(); ++y) {
    for (int x = 0; x < v.Width(); ++x) {
      const int c = static_cast<int>(ColorAt(gains->phase, x, y));
      sum[c] += RawSample(v, v.left + x, v.top + y);
      ++count[c];
    }
  }
  const int r = static_cast<int>(BayerColor::kRed), g = static_cast<int>(BayerColor::kGreen),
            b = static_cast<int>(BayerColor::kBlue);
  // A colour without light cannot be balanced: keep the gains the frame had.
  if (sum[r] == 0 || sum[g] == 0 || sum[b] == 0) return 0;
  const double meanR = static_cast<double>(sum[r]) / static_cast<double>(count[r]);
  const double meanG = static_cast<double>(sum[g]) / static_cast<double>(count[g]);
  const double meanB = static_cast<double>(sum[b]) / static_cast<double>(count[b]);
  const double total = meanR + meanG + meanB;
  const double k = 1.0 / ((total / meanG) * (1.0 / 3.0));
  gains->red = TruncLimited(k * (total / meanR) * (1.0 / 3.0) * 100.0, 400);
  gains->green = 100;
  gains->blue = TruncLimited(k * (total / meanB) * (1.0 / 3.0) * 100.0, 400);
  return 1;
}

int MeasureGrayGainsRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)destination, (void)extra;
  GrayGains* gains = ParamRecord<GrayGains>(user);
  if (gains == nullptr) return 0;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.src == nullptr || v.Width() <= 0 || v.Height() <= 0) return 0;
  uint64_t sum[4] = {0, 0, 0, 0}, count[4] = {0, 0, 0, 0};
  for (int y = 0; y < v.Height(); ++y) {
    const int chE = GrayChannelAt(gains->phase, 0, y), chO = GrayChannelAt(gains->phase, 1, y);
    const uint8_t* row = v.SrcPixel(v.left, v.top + y);
    for (int x = 0; x < v.Width(); ++x) {
      const int ch = (x & 1) ? chO : chE;
      sum[ch] += row[static_cast<ptrdiff_t>(x) * v.srcBpp];
      ++count[ch];
    }
  }
  if (std::find(sum, sum + 4, 0u) != sum + 4) return 0;
  double mean[4];
  for (int i = 0; i < 4; ++i) mean[i] = static_cast<double>(sum[i]) / static_cast<double>(count[i]);
  const double g1 = mean[GrayGains::kG1];
  gains->gain[GrayGains::kG1] = 128;
  gains->gain[GrayGains::kR] = TruncLimited(g1 / mean[GrayGains::kR] * 128.0, 255);
  gains->gain[GrayGains::kG2] = TruncLimited(g1 / mean[GrayGains::kG2] * 128.0, 255);
  gains->gain[GrayGains::kB] = TruncLimited(g1 / mean[GrayGains::kB] * 128.0, 255);
  return 1;
}

int RegionMean8Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)destination, (void)user, (void)extra;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.src == nullptr || v.Width() <= 0 || v.Height() <= 0) return 0;
  uint64_t sum = 0;
  for (int y = v.top; y < v.bottom; ++y) {
    for (int x = v.left; x < v.right; ++x) sum += *v.SrcPixel(x, y);
  }
  return static_cast<int>(sum / (static_cast<uint64_t>(v.Width()) * v.Height()));
}

int RegionMean16Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)destination, (void)user, (void)extra;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.src == nullptr || v.Width() <= 0 || v.Height() <= 0) return 0;
  uint64_t sum = 0;
  for (int y = v.top; y < v.bottom; ++y) {
    for (int x = v.left; x < v.right; ++x) sum += (LoadSample16(v.SrcPixel(x, y)) >> 2) & 0xFF;
  }
  return static_cast<int>(sum / (static_cast<uint64_t>(v.Width()) * v.Height()));
}

}  // namespace varnel
