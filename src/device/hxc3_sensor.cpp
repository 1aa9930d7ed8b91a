#include "device/hxc3_sensor.h"

#include <algorithm>

namespace varnel {

namespace {

constexpr int kCoarseIntegrationTime = 0x3166;

}  // namespace

Hxc3Sensor::Hxc3Sensor() {
  SetRegisterAddressLimit(static_cast<int>(kMaxAddress16));
  StoreWindows(WindowRect{0, 0, kMaxWidth, kMaxHeight},
               WindowRect{0, 0, kMaxWidth - 1, kMaxHeight - 1});
}

bool Hxc3Sensor::SetCaptureWindow(int x, int y, int width, int height) {
  return SetWindowClamped(x, y, width, height, kMaxWidth, kMaxHeight, false);
}

void Hxc3Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

bool Hxc3Sensor::ReadRegister(int address, uint8_t* high, uint8_t* low) {
  if (address < 0) return false;
  return Protocol().ReadRegister16(static_cast<uint32_t>(address), high, low);
}

bool Hxc3Sensor::WriteRegister(int address, uint8_t high, uint8_t low) {
  if (address < 0) return false;
  return Protocol().WriteRegister16(static_cast<uint32_t>(address), high, low);
}

int32_t Hxc3Sensor::ApplyExposure() {
  const int exposure = std::clamp(GetExposureTime(), 0, 0xFFFF);
  ExchangeWrite(kCoarseIntegrationTime, exposure, false);
  return 0;
}

}  // namespace varnel
