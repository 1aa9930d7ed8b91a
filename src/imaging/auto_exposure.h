// Automatic exposure ("Auto Iris"): once per frame, before anything else
// touches the raw frame, five small regions are measured and, when the frame
// is clearly too dark or too bright, the sensor's global gain or its exposure
// time is scaled.
//
// The measuring and the decision are here; the camera instance reads the
// sensor's values and ranges, and sends and stores what is decided.
#pragma once

#include <optional>

namespace varnel {

class DibImage;

// Auto Iris modes.
inline constexpr int kAutoIrisOff = 0;
inline constexpr int kAutoIrisExposure = 1;
inline constexpr int kAutoIrisGain = 2;

// The factor the brightness of `raw` asks for, from the means of five
// regions (fractions of the picture: (0.1, 0.1)-(0.2, 0.2), (0.1, 0.8)-(0.2,
// 0.9), (0.45, 0.45)-(0.55, 0.55), (0.8, 0.1)-(0.9, 0.2), (0.8, 0.8)-(0.9,
// 0.9)). Each mean is taken on an 8-bit scale: 8-bit samples as they are,
// 16-bit samples reduced by their `significantBits` (10..16) so that the
// brightest value of the bit depth reads 255. The first region's mean sets
// the factor (above 200: 0.85, above 160: 0.9, below 50: 1.1, below 100:
// 1.05, else 1.0), each further one moves it (-0.15, -0.1, +0.1, +0.05), in
// that order, in double precision. Empty when the image is missing or not 8
// or 16 bits deep.
std::optional<double> AutoExposureFactor(const DibImage& raw, int significantBits);

struct ValueLimits {
  int minimum = 0;
  int maximum = 0;
};

// What the sensor holds and accepts, as the decision needs it.
struct AutoExposureState {
  int mode = kAutoIrisOff;
  int gain = 0;
  ValueLimits gainLimits;
  int exposure = 0;
  ValueLimits exposureLimits;
  // The model whose exposure value shortens the exposure as it grows: a dark
  // frame lowers the value instead of raising it.
  bool inverseExposure = false;
};

struct AutoExposureChange {
  bool gain = false;  // true: `value` is the new gain; false: the new exposure
  int value = 0;
};

// The change `factor` asks for, or none: nothing changes when 0.6 < factor <
// 1.2 or the mode is off. The new gain is trunc(gain x factor); the new
// exposure trunc(exposure x factor), or trunc(exposure / factor) for an
// inverse exposure. A raising factor lifts a new value of 4 or less to 4 (the
// step from a very small value would otherwise be lost); then the value is
// limited to the sensor's range.
std::optional<AutoExposureChange> DecideAutoExposure(double factor, const AutoExposureState& state);

}  // namespace varnel
