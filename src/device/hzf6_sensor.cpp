#include "device/hzf6_sensor.h"

namespace varnel {

Hzf6Sensor::Hzf6Sensor() {
  SetRegisterAddressLimit(static_cast<int>(kMaxAddressWide));
  StoreWindows(WindowRect{0, 0, kMaxWidth, kMaxHeight}, WindowRect{0, 0, kMaxWidth, kMaxHeight});
}

// Subsampling does not shrink what this head delivers.
void Hzf6Sensor::GetCaptureWindow(int* x, int* y, int* width, int* height) {
  GetCaptureWindowUnscaled(x, y, width, height);
}

bool Hzf6Sensor::SetCaptureWindow(int, int, int, int) {
  SetWindowFull(kMaxWidth, kMaxHeight);
  return true;
}

ValueRange Hzf6Sensor::GlobalGainRange() { return ValueRange{0, 1023}; }

ValueRange Hzf6Sensor::ExposureRange() { return ValueRange{2, 1493}; }

void Hzf6Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t Hzf6Sensor::ApplyGain() { return ApplyGainWidePair(); }

int32_t Hzf6Sensor::ApplyExposure() { return ApplyExposureWidePair(); }

}  // namespace varnel
