// The camera instance's loads from and saves to the settings store: what a
// camera type brings with it, the preset behind Varnel_SetCaptureWindow, what
// release keeps, and the camera dialog's size table.
#include <vector>

#include "device/sensor_device.h"
#include "instance/camera_instance.h"
#include "platform/registry.h"
#include "settings/settings_store.h"

namespace varnel {

int CameraInstance::LoadSizePreset() {
  const ModelLimits limits = Limits();
  SizePreset preset{window_.hTotal, window_.vTotal, window_.width, window_.height,
                    window_.hStart, window_.vStart, bufferCount_};
  const bool read =
      varnel::LoadSizePreset(CurrentRegistry(), limits.maxWidth, limits.maxHeight, &preset);
  window_.hTotal = preset.hTotal;
  window_.vTotal = preset.vTotal;
  window_.width = preset.width;
  window_.height = preset.height;
  window_.hStart = preset.hStart;
  window_.vStart = preset.vStart;
  bufferCount_ = preset.bufferCount;
  return read ? 1 : 0;
}

int CameraInstance::LoadCameraSettings() {
  CameraSettings settings;
  settings.color = colorClass_;
  settings.subSample = subSample_;
  settings.waitTime = waitTime_;
  settings.clock = clock_;
  settings.syncV = syncV_;
  settings.syncH = syncH_;
  settings.bwMode = bitDepthCode_;
  if (!varnel::LoadCameraSettings(CurrentRegistry(), &settings)) return 0;
  colorClass_ = settings.color;
  subSample_ = settings.subSample;
  waitTime_ = settings.waitTime;
  clock_ = settings.clock;
  syncV_ = settings.syncV;
  syncH_ = settings.syncH;
  bitDepthCode_ = settings.bwMode;
  return 1;
}

int CameraInstance::SelectSizePreset(int width, int height) {
  if (WindowIsFixed(CurrentModel())) {
    RecordError(kErrorCaptureWindow);
    return 0;
  }
  std::vector<SizePreset> presets;
  if (!ReadSizePresets(CurrentRegistry(), &presets)) return 0;
  for (const SizePreset& preset : presets) {
    if (preset.width != width || preset.height != height) continue;
    window_.hTotal = preset.hTotal;
    window_.vTotal = preset.vTotal;
    window_.width = preset.width;
    window_.height = preset.height;
    window_.hStart = preset.hStart;
    window_.vStart = preset.vStart;
    bufferCount_ = preset.bufferCount;
    SetWindowOrFullArea();
    return 1;
  }
  return 0;
}

int CameraInstance::LoadAnalogSettings() {
  AnalogSettings analog{globalGain_, exposureTime_, mirrorV_, mirrorH_, autoIris_};
  if (!analogLoaded_) {
    // Before the first load the camera's own values stand for those a model
    // default leaves unchanged, and the defaults for values the store lacks.
    analog.globalGain = Sensor().GetGlobalGain();
    analog.exposureTime = Sensor().GetExposureTime();
    analog.mirrorV = Sensor().GetMirrorV() != 0 ? 1 : 0;
    analog.mirrorH = Sensor().GetMirrorH() != 0 ? 1 : 0;
    ApplyAnalogDefaults(CurrentModel(), &analog);
  }
  varnel::LoadAnalogSettings(CurrentRegistry(), CurrentModel(), Sensor().GlobalGainRange(),
                             Sensor().ExposureRange(), &analog);
  globalGain_ = analog.globalGain;
  exposureTime_ = analog.exposureTime;
  mirrorV_ = analog.mirrorV;
  mirrorH_ = analog.mirrorH;
  autoIris_ = analog.autoIris;
  analogLoaded_ = true;
  return 1;
}

int CameraInstance::SaveAnalogSettings() {
  const AnalogSettings analog{globalGain_, exposureTime_, mirrorV_, mirrorH_, autoIris_};
  return varnel::SaveAnalogSettings(CurrentRegistry(), analog) ? 1 : 0;
}

int CameraInstance::LoadFilterSettings() {
  if (!filterLoaded_) ApplyFilterDefaults(CurrentModel(), &filters_);
  filterLoaded_ = true;
  return varnel::LoadFilterSettings(CurrentRegistry(), CurrentModel(), &filters_) ? 1 : 0;
}

int CameraInstance::SaveFilterSettings() {
  return varnel::SaveFilterSettings(CurrentRegistry(), filters_) ? 1 : 0;
}

int CameraInstance::LoadGraySettings() {
  if (!grayLoaded_) ApplyGrayDefaults(&filters_);
  grayLoaded_ = true;
  return varnel::LoadGraySettings(CurrentRegistry(), &filters_) ? 1 : 0;
}

int CameraInstance::SaveGraySettings() {
  return varnel::SaveGraySettings(CurrentRegistry(), filters_) ? 1 : 0;
}

int CameraInstance::LoadSizeTable(SizeTable* table) {
  *table = SizeTable{};
  TableCamera camera;
  if (HasDriver()) {
    camera.model = CurrentModel();
    Sensor().GetMaxSize(&camera.maxWidth, &camera.maxHeight);
  }
  return varnel::LoadSizeTable(CurrentRegistry(), HasDriver() ? &camera : nullptr, table) ? 1 : 0;
}

int CameraInstance::SaveSizeTable(const SizeTable& table) {
  return varnel::SaveSizeTable(CurrentRegistry(), table) ? 1 : 0;
}

void CameraInstance::SendAnalogSettings() {
  Sensor().SetGlobalGain(globalGain_);
  Sensor().SetExposureTime(exposureTime_);
  Sensor().SetMirrorV(static_cast<uint8_t>(mirrorV_));
  Sensor().SetMirrorH(static_cast<uint8_t>(mirrorH_));
}

void CameraInstance::SaveLoadedSettings() {
  if (analogLoaded_) SaveAnalogSettings();
  if (filterLoaded_) SaveFilterSettings();
  if (grayLoaded_) SaveGraySettings();
}

}  // namespace varnel
