#include "device/hxb2_sensor.h"

namespace varnel {

Hxb2Sensor::Hxb2Sensor() {
  StoreWindows(WindowRect{0, 0, kMaxWidth, kMaxHeight},
               WindowRect{0, 0, kMaxWidth - 1, kMaxHeight - 1});
}

bool Hxb2Sensor::SetCaptureWindow(int x, int y, int width, int height) {
  return SetWindowClamped(x, y, width, height, kMaxWidth, kMaxHeight, false);
}

void Hxb2Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t Hxb2Sensor::ApplyGain() { return ApplyGainByteRegister(); }

int32_t Hxb2Sensor::ApplyExposure() { return ApplyExposureRegister(9); }

int32_t Hxb2Sensor::ApplyMirrorH() { return ApplyMirrorHighByte(true); }

int32_t Hxb2Sensor::ApplyMirrorV() { return ApplyMirrorHighByte(false); }

int32_t Hxb2Sensor::ApplyWindow() { return ApplyWindowWithOffsets(54, 16, 42, 48); }

int32_t Hxb2Sensor::ApplySubsample() { return ApplySubsamplePair(); }

}  // namespace varnel
