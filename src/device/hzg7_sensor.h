// The HZG7 camera head: a 2456 x 2041 sensor that always delivers one byte
// per sample, streams at half the width it reads (two samples per transfer
// word), and has 24-bit wide registers that cannot be read back: the host
// keeps a shadow of every value it wrote.
#pragma once

#include <array>
#include <atomic>

#include "device/sensor_device.h"

namespace varnel {

class Hzg7Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 2456;
  static constexpr int kMaxHeight = 2041;
  static constexpr int kShadowSize = 1023;

  Hzg7Sensor();

  void GetCaptureWindow(int* x, int* y, int* width, int* height) override;
  bool SetCaptureWindow(int x, int y, int width, int height) override;
  bool SetEightBitTransfer(int value) override;
  ValueRange GlobalGainRange() override;
  ValueRange ExposureRange() override;
  void GetMaxSize(int* width, int* height) override;
  int32_t PrepareStart() override;
  void StartStream(bool run) override;
  bool WriteRegisterWide(int address, int value) override;
  bool ReadRegisterWide(int address, int* value) override;
  int32_t ApplyGain() override;
  int32_t ApplyExposure() override;

 private:
  // Written on the thread that applies changes and read by register requests
  // of the application thread; each entry is a whole register value.
  std::array<std::atomic<int>, kShadowSize> shadow_{};
};

}  // namespace varnel
