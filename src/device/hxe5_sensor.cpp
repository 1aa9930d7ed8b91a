#include "device/hxe5_sensor.h"

namespace varnel {

Hxe5Sensor::Hxe5Sensor() { SetWindowFull(kMaxWidth, kMaxHeight); }

bool Hxe5Sensor::SetCaptureWindow(int, int, int, int) {
  SetWindowFull(kMaxWidth, kMaxHeight);
  return true;
}

void Hxe5Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t Hxe5Sensor::ApplyExposure() { return ApplyExposureRegister(82); }

}  // namespace varnel
