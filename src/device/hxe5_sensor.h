// The HXE5 camera head: a 1280 x 1024 sensor that always reads its whole
// area; only its exposure is set through a register.
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class Hxe5Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 1280;
  static constexpr int kMaxHeight = 1024;

  Hxe5Sensor();

  bool SetCaptureWindow(int x, int y, int width, int height) override;
  void GetMaxSize(int* width, int* height) override;
  int32_t ApplyExposure() override;
};

}  // namespace varnel
