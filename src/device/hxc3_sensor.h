// The HXC3 camera head: a 3264 x 2448 sensor addressed with 16-bit register
// numbers (the high byte of the address travels in control byte 80).
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class Hxc3Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 3264;
  static constexpr int kMaxHeight = 2448;

  Hxc3Sensor();

  bool SetCaptureWindow(int x, int y, int width, int height) override;
  void GetMaxSize(int* width, int* height) override;
  bool ReadRegister(int address, uint8_t* high, uint8_t* low) override;
  bool WriteRegister(int address, uint8_t high, uint8_t low) override;
  int32_t ApplyExposure() override;
};

}  // namespace varnel
