// The R2T camera head: a 752 x 480 sensor with 8-bit register addresses,
// binning subsample factors of 2 and 4, and mirror and subsample bits that
// share register 13.
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class R2tSensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 752;
  static constexpr int kMaxHeight = 480;

  R2tSensor();

  void GetCaptureWindow(int* x, int* y, int* width, int* height) override;
  bool SetCaptureWindow(int x, int y, int width, int height) override;
  void GetMaxSize(int* width, int* height) override;
  int32_t ApplyGain() override;
  int32_t ApplyExposure() override;
  int32_t ApplyMirrorH() override;
  int32_t ApplyMirrorV() override;
  int32_t ApplyWindow() override;
  int32_t ApplySubsample() override;

 private:
  int32_t ApplyMirror(bool horizontal);
};

}  // namespace varnel
