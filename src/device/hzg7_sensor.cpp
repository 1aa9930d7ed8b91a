#include "device/hzg7_sensor.h"

#include <algorithm>

namespace varnel {

namespace {

constexpr int kGainRegister = 4;
constexpr int kGainLoad = 0x10000;
constexpr int kExposureRegister = 154;
constexpr int kExposureLoad = 0x802000;
constexpr int kOutputControl = 32;
constexpr int kReadoutControl = 33;
constexpr int kOperationMode = 1;
constexpr int kTriggerDelay = 129;

}  // namespace

Hzg7Sensor::Hzg7Sensor() {
  SetRegisterAddressLimit(static_cast<int>(kMaxAddressWide));
  SetWideValueLimit((1 << 24) - 1);
  StoreOneByteOutput(1);
  StoreEightBitTransfer(1);
  SetWindowFull(kMaxWidth, kMaxHeight);
  for (auto& entry : shadow_) entry.store(0, std::memory_order_relaxed);
}

void Hzg7Sensor::GetCaptureWindow(int* x, int* y, int* width, int* height) {
  GetCaptureWindowUnscaled(x, y, width, height);
}

bool Hzg7Sensor::SetCaptureWindow(int, int, int, int) {
  SetWindowFull(kMaxWidth, kMaxHeight);
  return true;
}

bool Hzg7Sensor::SetEightBitTransfer(int value) {
  // The head has no two-byte transfer: a valid request is accepted and the
  // transfer stays one byte per sample.
  return value == 0 || value == 1;
}

ValueRange Hzg7Sensor::GlobalGainRange() { return ValueRange{0, 1023}; }

ValueRange Hzg7Sensor::ExposureRange() { return ValueRange{2, 2079}; }

void Hzg7Sensor::GetMaxSize(int* width, int* height) {
  if (width != nullptr) *width = kMaxWidth;
  if (height != nullptr) *height = kMaxHeight;
}

int32_t Hzg7Sensor::PrepareStart() {
  int output = 0;
  int readout = 0;
  if (!ExchangeReadWide(kOutputControl, &output)) return kHookFailed;
  if (!ExchangeReadWide(kReadoutControl, &readout)) return kHookFailed;
  const bool triggered = GetTriggerMode() != 0;
  int mode = 0;
  int delay = 0;
  if (!triggered) {
    output |= 0x10;
    readout = (readout & ~0x0F) | 0x1;
    mode = 6;
    delay = 0;
  } else {
    output &= ~0x10;
    readout = (readout & ~0x0F) | 0xE;
    mode = 4;
    delay = 13;
  }
  if (!ExchangeWriteWide(kOperationMode, mode)) return kHookFailed;
  if (!ExchangeWriteWide(kTriggerDelay, delay)) return kHookFailed;
  if (!ExchangeWriteWide(kOutputControl, output)) return kHookFailed;
  if (!ExchangeWriteWide(kReadoutControl, readout)) return kHookFailed;
  return 0;
}

void Hzg7Sensor::StartStream(bool run) {
  const StreamSize stream = CurrentStreamSize();
  SendStreamStart(run, stream.width / 2, stream.height, 0, 0);
}

bool Hzg7Sensor::WriteRegisterWide(int address, int value) {
  if (address < 0 || value < 0 || value > WideValueLimit()) return false;
  RegisterResult result = RegisterResult::kNoAnswer;
  const bool ok = Protocol().WriteRegisterWide(
      static_cast<uint32_t>(address), static_cast<uint32_t>(value), WideDataBits::k24, &result);
  // The shadow follows every write the camera took or may still take (done,
  // or still busy when the polls ran out); a camera that did not answer at
  // all has not seen the value.
  const bool sent = result == RegisterResult::kDone || result == RegisterResult::kExhausted;
  if (sent && address < kShadowSize) shadow_[address].store(value, std::memory_order_relaxed);
  return ok;
}

bool Hzg7Sensor::ReadRegisterWide(int address, int* value) {
  if (address < 0 || address >= kShadowSize) return false;
  if (value != nullptr) *value = shadow_[address].load(std::memory_order_relaxed);
  return true;
}

int32_t Hzg7Sensor::ApplyGain() {
  int gain = GetGlobalGain();
  if (gain > 1023) {
    gain = 1023;
    StoreGlobalGain(gain);
  }
  ExchangeWriteWide(kGainRegister, std::max(gain, 0) | kGainLoad, false);
  return 0;
}

int32_t Hzg7Sensor::ApplyExposure() {
  const int exposure = std::clamp(GetExposureTime(), 2, 2079);
  if (exposure != GetExposureTime()) StoreExposureTime(exposure);
  ExchangeWriteWide(kExposureRegister, (exposure & 0xFFF) | kExposureLoad, false);
  return 0;
}

}  // namespace varnel
