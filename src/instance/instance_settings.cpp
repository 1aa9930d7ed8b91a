// The camera instance's loads from and saves to the settings store: what a
// camera type brings with it, the preset behind Varnel_SetCaptureWindow, what
// release keeps, and the camera dialog's size table.
#include <array>
#include <mutex>
#include <vector>

#include "device/sensor_device.h"
#include "instance/camera_instance.h"
#include "platform/registry.h"
#include "settings/settings_store.h"

namespace varnel {

int CameraInstance::LoadSizePreset() {
  int fullWidth = 0, fullHeight = 0;
  FullArea(&fullWidth, &fullHeight);
  SizePreset preset{window_.hTotal, window_.vTotal, window_.width, window_.height,
                    window_.hStart, window_.vStart, bufferCount_};
  const bool read = varnel::LoadSizePreset(CurrentRegistry(), fullWidth, fullHeight, &preset);
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

namespace {

std::array<int, 5> AnalogValues(const AnalogSettings& a) {
  return {a.globalGain, a.exposureTime, a.mirrorV, a.mirrorH, a.autoIris};
}

// Filter ints 0..9 (the subkey "Filter") and 12..19 ("Gray").
template <size_t N>
std::array<int, N> BlockValues(const FilterSettings& filters, int first) {
  const int* ints = reinterpret_cast<const int*>(&filters);
  std::array<int, N> values{};
  for (size_t i = 0; i < N; ++i) values[i] = ints[first + static_cast<int>(i)];
  return values;
}

}  // namespace

int CameraInstance::LoadAnalogSettings() {
  // What the model starts with when nothing is stored for it: its defaults
  // over its own sensor's values. Each model has a sensor of its own, so
  // nothing of another model's (an earlier camera type of this instance)
  // carries over.
  SensorDevice& sensor = Sensor();
  AnalogSettings fresh{sensor.GetGlobalGain(), sensor.GetExposureTime(),
                       sensor.GetMirrorV() != 0 ? 1 : 0, sensor.GetMirrorH() != 0 ? 1 : 0,
                       autoIris_};
  const ModelCode model = CurrentModel();
  ApplyAnalogDefaults(model, &fresh);
  AnalogSettings analog;
  const StoredFor from = varnel::LoadAnalogSettings(
      CurrentRegistry(), model, fresh, sensor.GlobalGainRange(), sensor.ExposureRange(), &analog);
  globalGain_ = analog.globalGain;
  exposureTime_ = analog.exposureTime;
  mirrorV_ = analog.mirrorV;
  mirrorH_ = analog.mirrorH;
  autoIris_ = analog.autoIris;
  analogLoaded_ = true;
  analogWasStored_ = from != StoredFor::kNothing;
  analogAsLoaded_ = AnalogValues(analog);
  // A Bayer phase that is a default names the colours of the picture at the
  // model's default mirrors; with the mirrors just loaded it moves with them.
  if (phaseFromDefaults_) {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    filters_.bayerPhase = BayerPhaseForMirrors(model, mirrorV_, mirrorH_);
    filterAsLoaded_ = BlockValues<10>(filters_, 0);
    phaseFromDefaults_ = false;
  }
  return 1;
}

int CameraInstance::SaveAnalogSettings() {
  const AnalogSettings analog{globalGain_, exposureTime_, mirrorV_, mirrorH_, autoIris_};
  if (analogWasStored_ && AnalogValues(analog) == analogAsLoaded_) return 1;
  return varnel::SaveAnalogSettings(CurrentRegistry(), CurrentModel(), analog) ? 1 : 0;
}

int CameraInstance::LoadFilterSettings() {
  const ModelCode model = CurrentModel();
  std::lock_guard<std::mutex> lock(filtersMutex_);
  if (!filterLoaded_) ApplyFilterDefaults(model, &filters_);
  filterLoaded_ = true;
  // The phase a store saved for another model gives way to this model's.
  filters_.bayerPhase = DefaultBayerPhase(model);
  const StoredFor from = varnel::LoadFilterSettings(CurrentRegistry(), model, &filters_);
  filterWasStored_ = from != StoredFor::kNothing;
  phaseFromDefaults_ = from != StoredFor::kThisModel;
  filterAsLoaded_ = BlockValues<10>(filters_, 0);
  return from == StoredFor::kNothing ? 0 : 1;
}

int CameraInstance::SaveFilterSettings() {
  FilterSettings filters;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    filters = filters_;
  }
  if (filterWasStored_ && BlockValues<10>(filters, 0) == filterAsLoaded_) return 1;
  return varnel::SaveFilterSettings(CurrentRegistry(), CurrentModel(), filters) ? 1 : 0;
}

int CameraInstance::LoadGraySettings() {
  std::lock_guard<std::mutex> lock(filtersMutex_);
  if (!grayLoaded_) ApplyGrayDefaults(&filters_);
  grayLoaded_ = true;
  grayWasStored_ = varnel::LoadGraySettings(CurrentRegistry(), &filters_);
  grayAsLoaded_ = BlockValues<8>(filters_, 12);
  return grayWasStored_ ? 1 : 0;
}

int CameraInstance::SaveGraySettings() {
  FilterSettings filters;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    filters = filters_;
  }
  if (grayWasStored_ && BlockValues<8>(filters, 12) == grayAsLoaded_) return 1;
  return varnel::SaveGraySettings(CurrentRegistry(), filters) ? 1 : 0;
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
