// Register routines that several camera models share: the window variants,
// and the gain, exposure, mirror, window and subsample hooks that more than
// one model uses with the same registers.
#include <algorithm>

#include "device/sensor_device.h"

namespace varnel {

namespace {

uint8_t HighByte(int value) { return static_cast<uint8_t>((value >> 8) & 0xFF); }
uint8_t LowByte(int value) { return static_cast<uint8_t>(value & 0xFF); }

}  // namespace

bool SensorDevice::ExchangeWrite(int address, int value, bool pause) {
  const bool ok = WriteRegister(address, HighByte(value), LowByte(value));
  if (pause) PauseAfterExchange();
  return ok;
}

bool SensorDevice::ExchangeRead(int address, uint8_t* high, uint8_t* low) {
  const bool ok = ReadRegister(address, high, low);
  PauseAfterExchange();
  return ok;
}

bool SensorDevice::ExchangeWriteWide(int address, int value, bool pause) {
  const bool ok = WriteRegisterWide(address, value);
  if (pause) PauseAfterExchange();
  return ok;
}

bool SensorDevice::ExchangeReadWide(int address, int* value) {
  const bool ok = ReadRegisterWide(address, value);
  PauseAfterExchange();
  return ok;
}

bool SensorDevice::SetWindowClamped(int x, int y, int width, int height, int maxWidth,
                                    int maxHeight, bool storeWhenTooSmall) {
  if (width < 3 || height < 3) {
    if (storeWhenTooSmall) StoreCaptureWindow(WindowRect{x, y, width, height});
    return false;
  }
  // The sensors read out from an even row and column, and their window
  // registers take the last row and column, hence an odd register extent.
  y = std::clamp(y, 0, maxHeight - 3) & ~1;
  x = std::clamp(x, 0, maxWidth - 3) & ~1;
  height = std::clamp(height, 3, maxHeight - y);
  width = std::clamp(width, 3, maxWidth - x);
  const int registerHeight = height % 2 == 0 ? height - 1 : height;
  const int registerWidth = width % 2 == 0 ? width - 1 : width;
  StoreWindows(WindowRect{x, y, width, height}, WindowRect{x, y, registerWidth, registerHeight});
  return true;
}

void SensorDevice::SetWindowFull(int maxWidth, int maxHeight) {
  const WindowRect full{0, 0, maxWidth, maxHeight};
  StoreWindows(full, full);
}

void SensorDevice::GetCaptureWindowUnscaled(int* x, int* y, int* width, int* height) {
  const WindowRect window = GetStoredCaptureWindow();
  if (x != nullptr) *x = window.x;
  if (y != nullptr) *y = window.y;
  if (width != nullptr) *width = window.width;
  if (height != nullptr) *height = window.height;
}

int32_t SensorDevice::ApplyGainByteRegister() {
  // The gain register holds one byte; a larger value would wrap round to a
  // small gain, so it is limited instead.
  const int gain = std::clamp(GetGlobalGain(), 0, 255);
  ExchangeWrite(175, 0);
  ExchangeWrite(53, gain);
  return 0;
}

int32_t SensorDevice::ApplyGainWidePair() {
  // Ten bits of gain are split over two registers; a value beyond them would
  // lose its top bits, so it is limited to the ten bits.
  const int gain = std::clamp(GetGlobalGain(), 0, 1023);
  ExchangeWriteWide(6, gain & 0x3F);
  ExchangeWriteWide(7, (gain >> 6) & 0x0F);
  return 0;
}

int32_t SensorDevice::ApplyExposureRegister(int exposureRegister) {
  // The sensor is read before its exposure is changed; the values read are
  // not needed (the reads only settle the register interface).
  const int exposure = std::clamp(GetExposureTime(), 0, 0xFFFF);
  uint8_t high = 0;
  uint8_t low = 0;
  ExchangeRead(8, &high, &low);
  ExchangeRead(9, &high, &low);
  ExchangeWrite(175, 0);
  ExchangeWrite(exposureRegister, exposure);
  return 0;
}

int32_t SensorDevice::ApplyExposureWidePair() {
  // Limited to the model's own range: the range it reports is the range it
  // takes (HYD4 8..1068, HZF6 2..1493), not one model's limits for both.
  const ValueRange range = ExposureRange();
  const int exposure = std::clamp(GetExposureTime(), range.minimum, range.maximum);
  ExchangeWriteWide(158, exposure & 0x3F);
  ExchangeWriteWide(159, (exposure >> 6) & 0x3F);
  return 0;
}

int32_t SensorDevice::ApplyMirrorHighByte(bool horizontal) {
  const uint8_t bit = horizontal ? 0x40 : 0x80;
  const bool on = (horizontal ? GetMirrorH() : GetMirrorV()) != 0;
  uint8_t high = 0;
  uint8_t low = 0;
  // A value built from a read that failed must not be written back: it would
  // clear every other bit of the register.
  if (!ExchangeRead(32, &high, &low)) return kHookFailed;
  const uint8_t before = high;
  const uint8_t wanted = on ? (high | bit) : (high & ~bit);
  if (!ExchangeWrite(32, wanted << 8 | low)) return kHookFailed;
  if (!ExchangeRead(32, &high, &low)) return kHookFailed;
  if (high != before) FlipBayerPhase(horizontal);
  return 0;
}

int32_t SensorDevice::ApplyWindowWithOffsets(int yOffset, int xOffset, int reg5, int reg6) {
  const WindowRect window = GetRegisterWindow();
  ExchangeWrite(1, window.y + yOffset);
  ExchangeWrite(2, window.x + xOffset);
  ExchangeWrite(3, window.height);
  ExchangeWrite(4, window.width);
  ExchangeWrite(5, reg5);
  ExchangeWrite(6, reg6);
  return 0;
}

int32_t SensorDevice::ApplySubsamplePair() {
  const int vertical = GetVerticalSubsample();
  const int horizontal = GetHorizontalSubsample();
  uint8_t high34 = 0;
  uint8_t low34 = 0;
  uint8_t high35 = 0;
  uint8_t low35 = 0;
  if (!ExchangeRead(34, &high34, &low34)) return kHookFailed;
  if (!ExchangeRead(35, &high35, &low35)) return kHookFailed;
  // A value of 0 keeps only the register's bits 6-7; otherwise the value
  // replaces the low byte.
  low34 = vertical != 0 ? static_cast<uint8_t>(vertical) : (low34 & 0xC0);
  low35 = horizontal != 0 ? static_cast<uint8_t>(horizontal) : (low35 & 0xC0);
  const bool wrote34 = ExchangeWrite(34, high34 << 8 | low34);
  const bool wrote35 = ExchangeWrite(35, high35 << 8 | low35);
  return wrote34 && wrote35 ? 0 : kHookFailed;
}

}  // namespace varnel
