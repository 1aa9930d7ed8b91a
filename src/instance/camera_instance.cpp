#include "instance/camera_instance.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "device/sensor_device.h"
#include "driver/camera_driver.h"
#include "driver/model_factory.h"
#include "imagefile/dib_image.h"
#include "imaging/color_modes.h"
#include "instance/drive_enumeration.h"
#include "platform/clock.h"
#include "platform/preview_window.h"
#include "settings/settings_store.h"

namespace varnel {

namespace {

// Device names: 256-byte slots, at least ten of them, and the smallest buffer
// Varnel_GetDeviceName refuses.
constexpr int kNameSlotSize = 256;
constexpr int kMinNameSlots = 10;
constexpr int kMinDeviceNameSize = 18;

// How long a register read waits for the camera's answer.
constexpr uint32_t kRegisterReadWaitMs = 100;

}  // namespace

CameraInstance::CameraInstance() {
  const ModelLimits limits = Limits();
  window_.hTotal = limits.maxWidth;
  window_.vTotal = limits.maxHeight;
  window_.width = limits.maxWidth;
  window_.height = limits.maxHeight;
  previewWidth_ = window_.width;
  previewHeight_ = window_.height;
  rateMeter_.Reset(CurrentClock().TimeMs());
}

CameraInstance::~CameraInstance() {
  // Acquisition stops first: the frame threads use everything below, and
  // nothing on a frame thread (automatic exposure) may change the values
  // while they are saved; then the settings this instance loaded are saved;
  // the preview window and the drivers go last. Stopping gives a held frame
  // engine back to its driver.
  if (currentDriver_ != nullptr) StopAcquisition();
  SaveLoadedSettings();
  if (currentDriver_ != nullptr) {
    if (frameEngine_ != nullptr) currentDriver_->DestroyEngine(frameEngine_);
    frameEngine_ = nullptr;
  }
  DestroyPreviewWindow();
  currentDriver_ = nullptr;
  // Every driver built is disposed of, not only the current one: a driver
  // that was current earlier may still hold an open volume or an engine.
  drivers_.clear();
  for (DibImage*& image : classImages_) {
    delete image;
    image = nullptr;
  }
  delete workImage_;
  delete displayImage_;
}

bool CameraInstance::Initialise(WindowHandle window) {
  DetectCpuFeatures(&cpuFeatures_);
  if (currentDriver_ == nullptr) {
    drivers_.clear();
    try {
      drivers_.reserve(kModelCount);
      for (int index = 0; index < kModelCount; ++index) {
        std::unique_ptr<CameraDriver> driver = CreateCameraDriver(ModelCodeAt(index));
        if (driver) drivers_.push_back(std::move(driver));
      }
    } catch (const std::bad_alloc&) {
      // Without room for the list the instance has no driver; step 5 below
      // reports error 5, and no exception crosses the interface.
      drivers_.clear();
    }
    if (!drivers_.empty()) {
      currentDriver_ = drivers_.front().get();
      currentDriver_->AddListener(this);
    }
  }
  for (DibImage*& image : classImages_) {
    if (image == nullptr) image = new (std::nothrow) DibImage;
  }
  if (workImage_ == nullptr) workImage_ = new (std::nothrow) DibImage;
  if (displayImage_ == nullptr) displayImage_ = new (std::nothrow) DibImage;
  notificationWindow_ = window;
  errors_.SetWindow(window);

  bool imagesExist = workImage_ != nullptr && displayImage_ != nullptr;
  for (DibImage* image : classImages_) imagesExist = imagesExist && image != nullptr;
  if (HasDriver() && imagesExist) return true;
  RecordError(kErrorMemory);
  return false;
}

int CameraInstance::CameraOperationFailure(int failureValue) {
  RecordError(HasDriver() ? kErrorNotSupported : kErrorNoDriver);
  return failureValue;
}

SensorDevice& CameraInstance::Sensor() const { return *currentDriver_->GetSensorDevice(); }

ModelCode CameraInstance::CurrentModel() const {
  return currentDriver_ != nullptr ? currentDriver_->GetModelCode() : 0;
}

// ---- device and camera type ----

void CameraInstance::EnumerateDrives() { driveCount_ = EnumerateCameraDrives(driveLetters_); }

int CameraInstance::EnumDevice(char* names) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (names == nullptr) {
    RecordError(kErrorRange);
    return 0;
  }
  EnumerateDrives();
  const int slots = driveCount_ > kMinNameSlots ? driveCount_ : kMinNameSlots;
  for (int i = 0; i < slots; ++i) {
    char* slot = names + i * kNameSlotSize;
    if (i < driveCount_) {
      std::snprintf(slot, kNameSlotSize, "%c:", static_cast<char>(driveLetters_[i]));
    } else {
      slot[0] = '\0';
    }
  }
  return driveCount_;
}

int CameraInstance::SetDeviceNumber(int index) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (index < 0 || index >= driveCount_) {
    RecordError(kErrorDeviceSelect);
    return 0;
  }
  // A stream of the device in use must not go on into the instance once
  // another device is chosen.
  StopAcquisition();
  // A failed selection has recorded error 2; the call still reports that the
  // index was in the list.
  SelectDevice(index, currentDriverIndex_);
  return 1;
}

int CameraInstance::GetDeviceName(int index, char* name, int size) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (size <= kMinDeviceNameSize || name == nullptr) {
    RecordError(kErrorRange);
    return 0;
  }
  EnumerateDrives();
  if (index < 0 || index >= driveCount_) return 0;
  std::snprintf(name, static_cast<size_t>(size), "%c:", static_cast<char>(driveLetters_[index]));
  return 1;
}

bool CameraInstance::SelectDevice(int driveIndex, int driverIndex) {
  if (driverIndex < 0 || driverIndex >= static_cast<int>(drivers_.size())) {
    RecordError(kErrorDeviceSelect);
    return false;
  }
  CameraDriver* driver = drivers_[driverIndex].get();
  if (driver != currentDriver_) {
    currentDriver_ = driver;
    currentDriver_->AddListener(this);
  }
  // The index follows the driver at once, also when the drive letter is
  // refused below: Varnel_GetCameraType must name the driver actually in use.
  currentDriverIndex_ = driverIndex;
  const int letter = driveIndex >= 0 && driveIndex < kMaxDriveSlots ? driveLetters_[driveIndex] : 0;
  if (!Sensor().SetDriveLetter(static_cast<char16_t>(letter))) {
    RecordError(kErrorDeviceSelect);
    return false;
  }
  selectedDrive_ = driveIndex;
  return true;
}

void CameraInstance::SetWindowOrFullArea() {
  if (WindowFits(window_, subSample_, Limits()) &&
      Sensor().SetCaptureWindow(window_.hStart, window_.vStart, window_.width, window_.height)) {
    return;
  }
  RecordError(kErrorCaptureWindow);
  int width = 0, height = 0;
  FullArea(&width, &height);
  window_.hTotal = width;
  window_.vTotal = height;
  window_.width = width;
  window_.height = height;
  window_.hStart = 0;
  window_.vStart = 0;
  Sensor().SetCaptureWindow(window_.hStart, window_.vStart, window_.width, window_.height);
}

void CameraInstance::FullArea(int* width, int* height) const {
  const ModelLimits limits = Limits();
  *width = limits.maxWidth;
  *height = limits.maxHeight;
  if (!HasDriver()) return;
  // The instance's limit for one model (HXC3: 5000 x 5000) exceeds its
  // sensor (3264 x 2448). A window that large is legal, but the camera reads
  // its sensor only and the rest of the frame stays black, so the window a
  // camera starts with is never larger than its sensor.
  int sensorWidth = 0, sensorHeight = 0;
  Sensor().GetMaxSize(&sensorWidth, &sensorHeight);
  if (sensorWidth > 0) *width = std::min(*width, sensorWidth);
  if (sensorHeight > 0) *height = std::min(*height, sensorHeight);
}

int CameraInstance::SetCameraType(int type) {
  // Compared unsigned, so negative types are refused as well.
  if (static_cast<unsigned>(type) > 10u) {
    RecordError(kErrorRange);
    return 0;
  }
  const int driverIndex = (type == 9 || type == 10) ? 1 : type;
  // The driver in use stops before another becomes current: left streaming,
  // it would go on delivering into the instance, and after a release into
  // freed memory.
  StopAcquisition();
  SelectDevice(selectedDrive_, driverIndex);  // outcome not checked
  if (HasDriver()) {
    EnumerateDrives();
    LoadSizePreset();
    SetWindowOrFullArea();
    previewX_ = 0;
    previewY_ = 0;
    previewWidth_ = window_.width;
    previewHeight_ = window_.height;
    LoadFilterSettings();
    LoadGraySettings();
    if (currentDriver_->GetDeliveryMode() == kDeliveryQueued) {
      currentDriver_->SetDeliveryMode(kDeliveryDirect);
    }
    LoadAnalogSettings();
    SendAnalogSettings();
  }
  LoadCameraSettings();
  return 1;
}

int CameraInstance::GetCameraInfo(int32_t* record) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (record == nullptr) {
    RecordError(kErrorRange);
    return 0;
  }
  if (static_cast<uint32_t>(record[0]) < kCameraInfoSize) {
    RecordError(kErrorMemory);
    return 0;
  }
  const ModelLimits limits = Limits();
  const ValueRange gain = Sensor().GlobalGainRange();
  const ValueRange colorGain = Sensor().ChannelGain1Range();
  const ValueRange exposure = Sensor().ExposureRange();
  record[1] = limits.maxWidth;
  record[2] = limits.maxHeight;
  record[3] = gain.minimum;
  record[4] = gain.maximum;
  record[5] = colorGain.minimum;
  record[6] = colorGain.maximum;
  record[7] = exposure.minimum;
  record[8] = exposure.maximum;
  return 1;
}

// ---- capture format and sensor settings ----

int CameraInstance::SetCaptureWindow(int width, int height) {
  if (!HasDriver()) return CameraOperationFailure(0);
  return SelectSizePreset(width, height);
}

int CameraInstance::SetCaptureWindowEx(int hTotal, int hStart, int hEffective, int vTotal,
                                       int vStart, int vEffective) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (WindowIsFixed(CurrentModel())) {
    RecordError(kErrorCaptureWindow);
    return 0;
  }
  CaptureWindow requested = window_;
  requested.hTotal = hTotal;
  requested.hStart = hStart;
  requested.width = hEffective;
  requested.vTotal = vTotal;
  requested.vStart = vStart;
  requested.height = vEffective;
  // A window is refused where it is set, and a refused one changes nothing:
  // the camera keeps the window it had and goes on taking pictures with it.
  // The size check refuses windows that would give no picture; the sensor
  // refuses those its registers cannot hold (too small for its read-out).
  if (!WindowFits(requested, subSample_, Limits()) ||
      !Sensor().SetCaptureWindow(hStart, vStart, hEffective, vEffective)) {
    Sensor().SetCaptureWindow(window_.hStart, window_.vStart, window_.width, window_.height);
    RecordError(kErrorCaptureWindow);
    return 0;
  }
  window_ = requested;
  return 1;
}

int CameraInstance::GetCaptureWindowEx(int* hTotal, int* hStart, int* hEffective, int* vTotal,
                                       int* vStart, int* vEffective) const {
  if (hTotal != nullptr) *hTotal = window_.hTotal;
  if (hStart != nullptr) *hStart = window_.hStart;
  if (hEffective != nullptr) *hEffective = window_.width;
  if (vTotal != nullptr) *vTotal = window_.vTotal;
  if (vStart != nullptr) *vStart = window_.vStart;
  if (vEffective != nullptr) *vEffective = window_.height;
  return 1;
}

int CameraInstance::SetColorMode(int mode) {
  const ColorModeEntry* entry = FindColorMode(mode);
  if (entry == nullptr) {
    RecordError(kErrorRange);
    return 0;
  }
  colorClass_ = entry->colorClass;
  bitDepthCode_ = entry->bitDepth;
  return 1;
}

int CameraInstance::GetColorMode() const {
  static constexpr int kMono16Modes[5] = {-1, 10, 12, 14, 16};
  static constexpr int kBgr48Modes[5] = {-1, 30, 36, 42, 48};
  const bool codeValid = bitDepthCode_ >= 0 && bitDepthCode_ <= 4;
  switch (colorClass_) {
    case kColorClassMono8:
      return 8;
    case kColorClassMono16:
      return codeValid ? kMono16Modes[bitDepthCode_] : -1;
    case kColorClassBgr24:
      return 24;
    case kColorClassBgr32:
      return 32;
    case kColorClassBgr48:
      return codeValid ? kBgr48Modes[bitDepthCode_] : -1;
    case kColorClassBgr64:
      return 64;
    default:
      return -1;
  }
}

int CameraInstance::SetSubSample(int mode) {
  if (mode < 0 || mode > 2) return 0;
  // A sub-sample that would leave the window no picture is refused as a
  // window would be, so the camera stays able to take one.
  if (!WindowFits(window_, mode, Limits())) return 0;
  subSample_ = mode;
  return 1;
}

int CameraInstance::SetWaitTime(int milliseconds) {
  if (milliseconds < 0) return 0;
  waitTime_ = milliseconds;
  return 1;
}

int CameraInstance::SetSyncV(int on) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!Sensor().SetSyncV(on != 0 ? 1 : 0)) {
    RecordError(kErrorRegister);
    return 0;
  }
  return 1;
}

int CameraInstance::SetSyncH(int on) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!Sensor().SetSyncH(on != 0 ? 1 : 0)) {
    RecordError(kErrorRegister);
    return 0;
  }
  return 1;
}

int CameraInstance::GetSyncV(int* flag) {
  if (!HasDriver()) {
    // The flag is written only when no driver is current.
    if (flag != nullptr) *flag = 0;
    return CameraOperationFailure(-1);
  }
  return Sensor().GetSyncV() != 0 ? 1 : 0;
}

int CameraInstance::GetSyncH(int* flag) {
  if (!HasDriver()) {
    if (flag != nullptr) *flag = 0;
    return CameraOperationFailure(-1);
  }
  return Sensor().GetSyncH() != 0 ? 1 : 0;
}

int CameraInstance::SetMirrorV(int on) {
  if (!HasDriver()) return CameraOperationFailure(0);
  return ApplyMirror(true, on) ? 1 : 0;
}

int CameraInstance::SetMirrorH(int on) {
  if (!HasDriver()) return CameraOperationFailure(0);
  return ApplyMirror(false, on) ? 1 : 0;
}

bool CameraInstance::ApplyMirror(bool vertical, int on) {
  const int flag = on != 0 ? 1 : 0;
  SharedSetting<int>& mirror = vertical ? mirrorV_ : mirrorH_;
  // Every model's picture follows both flags (its sensor mirrors its
  // read-out, or the intake mirrors in software), over an even extent, so
  // the mirrored picture starts on the mosaic's other row or column: the
  // phase the pipeline demosaics with moves with it, once per change.
  if (flag != mirror) {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    filters_.bayerPhase = PhaseAfterMirrorChange(filters_.bayerPhase, vertical);
  }
  mirror = flag;
  const auto value = static_cast<uint8_t>(flag);
  return vertical ? Sensor().SetMirrorV(value) : Sensor().SetMirrorH(value);
}

int CameraInstance::GetMirrorV() {
  if (!HasDriver()) return CameraOperationFailure(0);
  return Sensor().GetMirrorV() != 0 ? 1 : 0;
}

int CameraInstance::GetMirrorH() {
  if (!HasDriver()) return CameraOperationFailure(0);
  return Sensor().GetMirrorH() != 0 ? 1 : 0;
}

int CameraInstance::SetAutoIris(int mode) {
  if (mode < 0 || mode > 2) {
    RecordError(kErrorRange);
    return 0;
  }
  autoIris_ = mode;
  return 1;
}

int CameraInstance::GetAutoIris(int* valid) const {
  if (valid != nullptr) *valid = 1;
  return autoIris_;
}

bool CameraInstance::RegisterAddressFits(int address) {
  // Cut to the model's width, an address beyond it would reach another
  // register (0x109 register 9): it is refused instead.
  if (address >= 0 && address <= Sensor().RegisterAddressLimit()) return true;
  RecordError(kErrorRange);
  return false;
}

int CameraInstance::WriteRegister(int address, int value) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!RegisterAddressFits(address)) return 0;
  // A register write carries 16 bits: a wider value would be stored cut.
  if (value < 0 || value > 0xFFFF) {
    RecordError(kErrorRange);
    return 0;
  }
  if (!Sensor().RequestWriteRegister(address, static_cast<uint8_t>((value >> 8) & 0xFF),
                                     static_cast<uint8_t>(value & 0xFF))) {
    RecordError(Sensor().CameraInUse() ? kErrorDeviceSelect : kErrorRegister);
    return 0;
  }
  return 1;
}

int CameraInstance::ReadRegister(int address, int* valid) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!RegisterAddressFits(address)) {
    if (valid != nullptr) *valid = 0;
    return 0;
  }
  constexpr uint8_t kNoAnswerHigh = 0xFD;
  constexpr uint8_t kNoAnswerLow = 0xB3;
  uint8_t high = kNoAnswerHigh;
  uint8_t low = kNoAnswerLow;
  RegisterResultRecord record = GetRegisterResult();
  record.high = kNoAnswerHigh;
  record.low = kNoAnswerLow;
  SetRegisterResult(record);

  bool answered = false;
  // The sensor defers the read to the reader thread whenever the driver
  // streams, whatever the instance's state (a capture, or a stream a
  // snapshot left running): the answer then comes through the record.
  const bool deferred = currentDriver_->IsRunning();
  if (Sensor().RequestReadRegister(address, &high, &low)) {
    // A read deferred to a streaming driver's reader is answered within this
    // pause. Its outcome is taken from the sensor, which withdraws a read not
    // made by then: an answer counts only when the camera confirmed it (a
    // failed exchange delivers bytes too, or none), and a late one can never
    // land on the next read.
    CurrentClock().Sleep(kRegisterReadWaitMs);
    if (deferred) {
      RegisterResultRecord answer;
      if (Sensor().TakeDeferredRead(&answer) && answer.result == 1) {
        high = static_cast<uint8_t>(answer.high);
        low = static_cast<uint8_t>(answer.low);
      } else {
        high = kNoAnswerHigh;
        low = kNoAnswerLow;
      }
    }
    answered = !(high == kNoAnswerHigh && low == kNoAnswerLow);
  }
  if (!answered) {
    record = GetRegisterResult();
    record.high = 0;
    record.low = 0;
    SetRegisterResult(record);
    if (valid != nullptr) *valid = 0;
    RecordError(Sensor().CameraInUse() ? kErrorDeviceSelect : kErrorRegister);
    return 0;
  }
  if (valid != nullptr) *valid = 1;
  return (high << 8) | low;
}

int CameraInstance::SetFilterValue(int id, int value) {
  if (!HasDriver()) return CameraOperationFailure(0);
  FilterOutcome outcome;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    outcome =
        StoreFilterValue(filters_, id, value, Sensor().GlobalGainRange(), Sensor().ExposureRange());
  }
  switch (outcome) {
    case FilterOutcome::kDone:
      return 1;
    case FilterOutcome::kOutOfRange:
      RecordError(kErrorRange);
      return 0;
    case FilterOutcome::kSensor:
      break;
  }
  // Global gain and exposure time go to the sensor at once; its answer is
  // not checked (it keeps them for its register hooks).
  if (id == kFilterGlobalGain) {
    globalGain_ = value;
    Sensor().SetGlobalGain(value);
  } else {
    exposureTime_ = value;
    Sensor().SetExposureTime(value);
  }
  return 1;
}

int CameraInstance::GetFilterValue(int id, int* valid) {
  if (!HasDriver()) {
    if (valid != nullptr) *valid = 0;
    return CameraOperationFailure(0);
  }
  if (valid != nullptr) *valid = 1;
  int value = 0;
  FilterOutcome outcome;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    outcome = ReadFilterValue(filters_, id, &value);
  }
  switch (outcome) {
    case FilterOutcome::kDone:
      return value;
    case FilterOutcome::kOutOfRange:
      if (valid != nullptr) *valid = 0;
      RecordError(kErrorRange);
      return 0;
    case FilterOutcome::kSensor:
      break;
  }
  return id == kFilterGlobalGain ? Sensor().GetGlobalGain() : Sensor().GetExposureTime();
}

int CameraInstance::Unsupported() {
  RecordError(kErrorNotSupported);
  return 0;
}

}  // namespace varnel
