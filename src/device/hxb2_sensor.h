// The HXB2 camera head: a 2592 x 1944 sensor that shares the register set of
// HXA1 for gain, exposure, mirroring and subsampling, with its own window
// offsets and blanking.
#pragma once

#include "device/sensor_device.h"

namespace varnel {

class Hxb2Sensor : public SensorDevice {
 public:
  static constexpr int kMaxWidth = 2592;
  static constexpr int kMaxHeight = 1944;

  Hxb2Sensor();

  bool SetCaptureWindow(int x, int y, int width, int height) override;
  void GetMaxSize(int* width, int* height) override;
  int32_t ApplyGain() override;
  int32_t ApplyExposure() override;
  int32_t ApplyMirrorH() override;
  int32_t ApplyMirrorV() override;
  int32_t ApplyWindow() override;
  int32_t ApplySubsample() override;
};

}  // namespace varnel
