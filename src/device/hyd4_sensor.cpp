#include "device/hyd4_sensor.h"

namespace varnel {

Hyd4Sensor::Hyd4Sensor() {
  SetRegisterAddressLimit(static_cast<int>(kMaxAddressWide));
  StoreWindows(WindowRect{0, 0, kMaxWidth, kMaxHeight},
               WindowRect{0, 0, kMaxWidth - 1, kMaxHeight - 1});
}

// Subsampling does not shrink what this head delivers.
void Hyd4Sensor::GetCaptureWindow(int* x, int* y, int* width, int* height) {
  GetCaptureWindowUnscaled(x, y, width, height);
}

bool Hyd4Sensor::SetCaptureWindow(int, int, int, int) {
  SetWindowFull(kMaxWidth, kMaxHeight);
  return true;
}

ValueRange Hyd4Sensor::GlobalGainRange() { return ValueRange{0, 1023}; }

ValueRange Hyd4Sensor::ExposureRange() { return ValueRange{8, 1068}; }

void Hyd4Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t Hyd4Sensor::ApplyGain() { return ApplyGainWidePair(); }

int32_t Hyd4Sensor::ApplyExposure() { return ApplyExposureWidePair(); }

}  // namespace varnel
