#include "device/hxa1_sensor.h"

namespace varnel {

namespace {

constexpr int kTriggerControl = 30;
constexpr uint8_t kTriggerModeBit = 0x01;    // in the high byte
constexpr uint8_t kTriggerOptionBit = 0x02;  // in the high byte

}  // namespace

Hxa1Sensor::Hxa1Sensor() {
  StoreWindows(WindowRect{0, 0, kMaxWidth, kMaxHeight},
               WindowRect{0, 0, kMaxWidth - 1, kMaxHeight - 1});
}

bool Hxa1Sensor::SetCaptureWindow(int x, int y, int width, int height) {
  return SetWindowClamped(x, y, width, height, kMaxWidth, kMaxHeight, false);
}

void Hxa1Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t Hxa1Sensor::PrepareStart() {
  // The sensor must know before it runs whether frames wait for a trigger.
  uint8_t high = 0;
  uint8_t low = 0;
  if (!ExchangeRead(kTriggerControl, &high, &low)) return kHookFailed;
  high = GetTriggerMode() != 0 ? (high | kTriggerModeBit) : (high & ~kTriggerModeBit);
  if (!ExchangeWrite(kTriggerControl, high << 8 | low)) return kHookFailed;
  return 0;
}

int32_t Hxa1Sensor::ApplyGain() { return ApplyGainByteRegister(); }

int32_t Hxa1Sensor::ApplyExposure() { return ApplyExposureRegister(9); }

int32_t Hxa1Sensor::ApplyMirrorH() { return ApplyMirrorHighByte(true); }

int32_t Hxa1Sensor::ApplyMirrorV() { return ApplyMirrorHighByte(false); }

int32_t Hxa1Sensor::ApplyWindow() { return ApplyWindowWithOffsets(20, 32, 21, 3); }

int32_t Hxa1Sensor::ApplySubsample() { return ApplySubsamplePair(); }

int32_t Hxa1Sensor::ApplyTriggerOption() {
  uint8_t high = 0;
  uint8_t low = 0;
  if (!ExchangeRead(kTriggerControl, &high, &low)) return kHookFailed;
  high = GetTriggerOption() != 0 ? (high | kTriggerOptionBit) : (high & ~kTriggerOptionBit);
  if (!ExchangeWrite(kTriggerControl, high << 8 | low)) return kHookFailed;
  if (!ExchangeRead(kTriggerControl, &high, &low)) return kHookFailed;
  return 0;
}

}  // namespace varnel
