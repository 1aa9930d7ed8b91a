// The HWH8 camera head: an 8192 x 8192 sensor whose window is set by the
// stream start alone (its origin travels in the control sector), with no
// sensor registers of its own and no subsampling.
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class Hwh8Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 8192;
  static constexpr int kMaxHeight = 8192;

  Hwh8Sensor();

  bool SetCaptureWindow(int x, int y, int width, int height) override;
  bool SetVerticalSubsample(int value) override;
  bool SetHorizontalSubsample(int value) override;
  void GetMaxSize(int* width, int* height) override;
  void StartStream(bool run) override;
};

}  // namespace varnel
