// The HYD4 camera head: a 1360 x 1024 sensor that always reads its whole
// area, with ten-bit gain and twelve-bit exposure split over pairs of wide
// registers.
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class Hyd4Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 1360;
  static constexpr int kMaxHeight = 1024;

  Hyd4Sensor();

  void GetCaptureWindow(int* x, int* y, int* width, int* height) override;
  bool SetCaptureWindow(int x, int y, int width, int height) override;
  ValueRange GlobalGainRange() override;
  ValueRange ExposureRange() override;
  void GetMaxSize(int* width, int* height) override;
  int32_t ApplyGain() override;
  int32_t ApplyExposure() override;
};

}  // namespace varnel
