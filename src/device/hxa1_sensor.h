// The HXA1 camera head: a 2048 x 1536 sensor with 8-bit register addresses,
// mirror bits in register 32, subsampling in registers 34 and 35, and its
// external trigger and trigger option in register 30.
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class Hxa1Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 2048;
  static constexpr int kMaxHeight = 1536;

  Hxa1Sensor();

  bool SetCaptureWindow(int x, int y, int width, int height) override;
  void GetMaxSize(int* width, int* height) override;
  int32_t PrepareStart() override;
  int32_t ApplyGain() override;
  int32_t ApplyExposure() override;
  int32_t ApplyMirrorH() override;
  int32_t ApplyMirrorV() override;
  int32_t ApplyWindow() override;
  int32_t ApplySubsample() override;
  int32_t ApplyTriggerOption() override;
};

}  // namespace varnel
