// What the instance does around the three settings dialogs: the camera
// dialog stops and restarts acquisition and loads what it stored; the filter
// and analog dialogs work on the live values, which are put back unless the
// dialog ends with OK.
#include <mutex>

#include "api/error_stack.h"
#include "device/sensor_device.h"
#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/dialog_runner.h"
#include "dialogs/filter_dialog.h"
#include "driver/camera_driver.h"
#include "instance/camera_instance.h"
#include "settings/settings_store.h"

namespace varnel {

// The filter block, one int at a time under the block's lock: the frame
// thread takes a copy of the block per frame and writes back what it
// measured under the same lock.
class InstanceFilterBlock final : public FilterBlockAccess {
 public:
  explicit InstanceFilterBlock(CameraInstance& instance) : instance_(instance) {}
  int Read(int index) override {
    if (index < 0 || index >= kFields) return 0;
    std::lock_guard<std::mutex> lock(instance_.filtersMutex_);
    return Fields()[index];
  }
  void Write(int index, int value) override {
    if (index < 0 || index >= kFields) return;
    std::lock_guard<std::mutex> lock(instance_.filtersMutex_);
    Fields()[index] = value;
  }

 private:
  static constexpr int kFields = static_cast<int>(sizeof(FilterSettings) / sizeof(int));
  int* Fields() { return reinterpret_cast<int*>(&instance_.filters_); }
  CameraInstance& instance_;
};

// The analog values and the sensor they go to.
class InstanceAnalogTarget final : public AnalogTarget {
 public:
  explicit InstanceAnalogTarget(CameraInstance& instance) : instance_(instance) {}
  ModelCode Model() const override { return instance_.CurrentModel(); }
  ValueRange GainRange() override { return instance_.Sensor().GlobalGainRange(); }
  ValueRange ExposureRange() override { return instance_.Sensor().ExposureRange(); }
  int Gain() override { return instance_.globalGain_; }
  int Exposure() override { return instance_.exposureTime_; }
  void SetGain(int gain) override {
    instance_.globalGain_ = gain;
    instance_.Sensor().SetGlobalGain(gain);
  }
  void SetExposure(int exposure) override {
    instance_.exposureTime_ = exposure;
    instance_.Sensor().SetExposureTime(exposure);
  }
  bool MirrorV() override { return instance_.mirrorV_ != 0; }
  bool MirrorH() override { return instance_.mirrorH_ != 0; }
  void SetMirrorV(bool on) override { instance_.ApplyMirror(true, on ? 1 : 0); }
  void SetMirrorH(bool on) override { instance_.ApplyMirror(false, on ? 1 : 0); }
  int BayerPhase() override {
    std::lock_guard<std::mutex> lock(instance_.filtersMutex_);
    return instance_.filters_.bayerPhase;
  }
  void SetBayerPhase(int phase) override {
    std::lock_guard<std::mutex> lock(instance_.filtersMutex_);
    instance_.filters_.bayerPhase = phase;
  }
  int AutoIris() override { return instance_.autoIris_; }
  void SetAutoIris(int mode) override { instance_.autoIris_ = mode; }

 private:
  CameraInstance& instance_;
};

int CameraInstance::SetCameraDlg(WindowHandle owner) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!DialogsAvailable()) return Unsupported();
  // The dialog may change the format and the window: nothing may stream
  // while the stored values change under it.
  const PreviewState before = previewState_;
  if (before == kPreviewPreviewing || before == kPreviewCapturing) StopAcquisition();

  SizeTable table;
  LoadSizeTable(&table);
  CameraDialog dialog(CurrentModel(), table,
                      [this](const SizeTable& edited) { return SaveSizeTable(edited) == 1; });
  const int result = RunCameraDialog(owner, dialog);
  if (result == 1) {
    // As when a camera type is set: the stored window is checked against
    // the model (a typed window that does not fit gives error 7 and the
    // whole sensor), then reaches the camera.
    LoadSizePreset();
    LoadCameraSettings();
    SetWindowOrFullArea();
    previewX_ = 0;
    previewY_ = 0;
    previewWidth_ = window_.width;
    previewHeight_ = window_.height;
  }
  if (before == kPreviewPreviewing) StartStreaming();
  if (before == kPreviewCapturing) Capture();
  if (result < 0) {
    RecordError(kErrorNotSupported);
    return 0;
  }
  return 1;
}

int CameraInstance::SetImageDlg(WindowHandle owner) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!DialogsAvailable()) return Unsupported();
  FilterSettings saved;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    saved = filters_;
  }
  InstanceFilterBlock block(*this);
  FilterDialog dialog(block, CurrentModel(), colorClass_, mirrorV_, mirrorH_);
  const int result = RunFilterDialog(owner, dialog, filterDialogWindow_);
  if (result != 1) {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    filters_ = saved;
  }
  if (result < 0) {
    RecordError(kErrorNotSupported);
    return 0;
  }
  return 1;
}

int CameraInstance::SetAnalogDlg(WindowHandle owner) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!DialogsAvailable()) return Unsupported();
  SensorDevice& sensor = Sensor();
  globalGain_ = sensor.GetGlobalGain();
  exposureTime_ = sensor.GetExposureTime();
  mirrorV_ = (sensor.GetMirrorV() & 0xFF) != 0 ? 1 : 0;
  mirrorH_ = (sensor.GetMirrorH() & 0xFF) != 0 ? 1 : 0;
  const int gain = globalGain_;
  const int exposure = exposureTime_;
  const int mirrorV = mirrorV_;
  const int mirrorH = mirrorH_;
  const int autoIris = autoIris_;
  int phase = 0;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    phase = filters_.bayerPhase;
  }
  InstanceAnalogTarget target(*this);
  AnalogDialog dialog(target);
  const int result = RunAnalogDialog(owner, dialog, analogDialogWindow_);
  if (result != 1) {
    // The automatic mode goes back first, so that it does not move gain or
    // exposure again after they are put back.
    autoIris_ = autoIris;
    sensor.SetMirrorV(static_cast<uint8_t>(mirrorV));
    sensor.SetMirrorH(static_cast<uint8_t>(mirrorH));
    sensor.SetGlobalGain(gain);
    sensor.SetExposureTime(exposure);
    globalGain_ = gain;
    exposureTime_ = exposure;
    mirrorV_ = mirrorV;
    mirrorH_ = mirrorH;
    std::lock_guard<std::mutex> lock(filtersMutex_);
    filters_.bayerPhase = phase;
  }
  if (result < 0) {
    RecordError(kErrorNotSupported);
    return 0;
  }
  return 1;
}

}  // namespace varnel
