#include "imaging/auto_exposure.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "imagefile/dib_image.h"
#include "imaging/pixel_routines.h"
#include "imaging/region_view.h"

namespace varnel {

namespace {

// Mean of 16-bit little-endian samples shifted right by `extra` bits and
// limited to 255 (0 for an empty rectangle).
int RegionMeanDeepRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)destination, (void)user;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.src == nullptr || v.Width() <= 0 || v.Height() <= 0) return 0;
  const int shift = std::clamp<int>(extra, 0, 8);
  uint64_t sum = 0;
  for (int y = v.top; y < v.bottom; ++y) {
    for (int x = v.left; x < v.right; ++x) {
      const uint8_t* sample = v.SrcPixel(x, y);
      const unsigned value = static_cast<unsigned>(sample[0] | sample[1] << 8) >> shift;
      sum += std::min(value, 255u);
    }
  }
  return static_cast<int>(sum / (static_cast<uint64_t>(v.Width()) * v.Height()));
}

// Rounds to double precision. The 32-bit build computes on the x87 unit,
// whose registers hold more bits: without the store a sum or product near a
// threshold (1.2, or 20 x 0.6) would come out on the other side of it than
// in the 64-bit build.
double AsDouble(double value) {
  volatile double stored = value;
  return stored;
}

double FirstStep(int mean) {
  if (mean > 200) return 0.85;
  if (mean > 160) return 0.9;
  if (mean < 50) return 1.1;
  if (mean < 100) return 1.05;
  return 1.0;
}

double NextStep(double factor, int mean) {
  if (mean > 200) return factor - 0.15;
  if (mean > 160) return factor - 0.1;
  if (mean < 50) return factor + 0.1;
  if (mean < 100) return factor + 0.05;
  return factor;
}

}  // namespace

std::optional<double> AutoExposureFactor(const DibImage& raw, int significantBits) {
  if (raw.Empty() || (raw.BitCount() != 8 && raw.BitCount() != 16)) return std::nullopt;
  static constexpr double kRegions[5][4] = {{0.1, 0.1, 0.2, 0.2},
                                            {0.1, 0.8, 0.2, 0.9},
                                            {0.45, 0.45, 0.55, 0.55},
                                            {0.8, 0.1, 0.9, 0.2},
                                            {0.8, 0.8, 0.9, 0.9}};
  const double w = raw.Width();
  const double h = raw.Height();
  const bool deep = raw.BitCount() == 16;
  const int shift = deep ? std::clamp(significantBits, 8, 16) - 8 : 0;
  // The routine only reads: the image is its own destination, placed at the
  // region's corner, so the whole region survives the clipping.
  DibImage& image = const_cast<DibImage&>(raw);
  double factor = 1.0;
  for (int i = 0; i < 5; ++i) {
    const PixelRect rect{
        static_cast<int32_t>(kRegions[i][0] * w), static_cast<int32_t>(kRegions[i][1] * h),
        static_cast<int32_t>(kRegions[i][2] * w), static_cast<int32_t>(kRegions[i][3] * h)};
    const int mean = image.ConvertRegion(deep ? RegionMeanDeepRoutine : RegionMean8Routine, &raw,
                                         &rect, rect.left, rect.top, nullptr, shift);
    factor = AsDouble(i == 0 ? FirstStep(mean) : NextStep(factor, mean));
  }
  return factor;
}

std::optional<AutoExposureChange> DecideAutoExposure(double factor,
                                                     const AutoExposureState& state) {
  if (state.mode != kAutoIrisGain && state.mode != kAutoIrisExposure) return std::nullopt;
  if (factor > 0.6 && factor < 1.2) return std::nullopt;
  const bool gain = state.mode == kAutoIrisGain;
  const ValueLimits limits = gain ? state.gainLimits : state.exposureLimits;
  double value = 0;
  if (gain) {
    value = std::trunc(AsDouble(state.gain * factor));
  } else if (state.inverseExposure) {
    value = std::trunc(AsDouble(state.exposure / factor));
  } else {
    value = std::trunc(AsDouble(state.exposure * factor));
  }
  // The floor of 4 belongs to the values that grow with the brightness.
  const bool rises = gain || !state.inverseExposure;
  if (rises && factor > 1.0 && value <= 4.0) value = 4.0;
  // Limited in double precision, so a huge product cannot wrap into a small
  // value on its way to an int.
  value = std::clamp(value, static_cast<double>(limits.minimum),
                     static_cast<double>(std::max(limits.minimum, limits.maximum)));
  return AutoExposureChange{gain, static_cast<int>(value)};
}

}  // namespace varnel
