#include "device/r2t_sensor.h"

namespace varnel {

namespace {

constexpr int kReadMode = 13;

// Subsample value 1 reads every second sample, 2 every fourth.
int SubsampleFactor(int value) { return value == 1 ? 2 : value == 2 ? 4 : 1; }

}  // namespace

R2tSensor::R2tSensor() {
  StoreWindows(WindowRect{0, 0, kMaxWidth, kMaxHeight},
               WindowRect{0, 0, kMaxWidth - 1, kMaxHeight - 1});
}

void R2tSensor::GetCaptureWindow(int* x, int* y, int* width, int* height) {
  const WindowRect window = GetStoredCaptureWindow();
  if (x != nullptr) *x = window.x;
  if (y != nullptr) *y = window.y;
  if (width != nullptr) *width = window.width / SubsampleFactor(GetHorizontalSubsample());
  if (height != nullptr) *height = window.height / SubsampleFactor(GetVerticalSubsample());
}

bool R2tSensor::SetCaptureWindow(int x, int y, int width, int height) {
  return SetWindowClamped(x, y, width, height, kMaxWidth, kMaxHeight, true);
}

void R2tSensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t R2tSensor::ApplyGain() { return ApplyGainByteRegister(); }

int32_t R2tSensor::ApplyExposure() { return ApplyExposureRegister(11); }

int32_t R2tSensor::ApplyMirrorH() { return ApplyMirror(true); }

int32_t R2tSensor::ApplyMirrorV() { return ApplyMirror(false); }

int32_t R2tSensor::ApplyMirror(bool horizontal) {
  const uint8_t bit = horizontal ? 0x20 : 0x10;
  const bool on = (horizontal ? GetMirrorH() : GetMirrorV()) != 0;
  uint8_t high = 0;
  uint8_t low = 0;
  if (!ExchangeRead(kReadMode, &high, &low)) return kHookFailed;
  const uint8_t before = low & bit;
  const uint8_t wanted = on ? (low | bit) : (low & ~bit);
  if (!ExchangeWrite(kReadMode, high << 8 | wanted)) return kHookFailed;
  if (!ExchangeRead(kReadMode, &high, &low)) return kHookFailed;
  // The read-out is mirrored when the camera has taken the new mirror bit;
  // the Bayer phase the host sees then changes with it.
  if ((low & bit) != before) FlipBayerPhase(horizontal);
  return 0;
}

int32_t R2tSensor::ApplyWindow() {
  const WindowRect window = GetRegisterWindow();
  // The first four registers place the window; a camera that refuses one of
  // them is left alone rather than given a half-written window.
  const int placement[4][2] = {{2, window.y}, {1, window.x}, {3, window.height}, {4, window.width}};
  for (const auto& [reg, value] : placement) {
    if (!ExchangeWrite(reg, value)) return 0;
  }
  ExchangeWrite(5, window.width >= 640 ? 94 : 846 - window.width);
  ExchangeWrite(6, 45);
  return 0;
}

int32_t R2tSensor::ApplySubsample() {
  uint8_t high = 0;
  uint8_t low = 0;
  if (!ExchangeRead(kReadMode, &high, &low)) return kHookFailed;
  const int vertical = GetVerticalSubsample();
  const int horizontal = GetHorizontalSubsample();
  low = static_cast<uint8_t>((low & 0xF0) | vertical | (horizontal << 2));
  if (!ExchangeWrite(kReadMode, high << 8 | low)) return kHookFailed;
  if (!ExchangeRead(kReadMode, &high, &low)) return kHookFailed;
  return 0;
}

}  // namespace varnel
