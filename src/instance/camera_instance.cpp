#include "instance/camera_instance.h"

#include <new>

#include "imagefile/dib_image.h"
#include "platform/clock.h"

namespace varnel {

namespace {

struct ColorModeEntry {
  int mode;
  int colorClass;
  BitDepthCode bitDepth;
};

// Bits per pixel as the application names them, and the output class and
// significant-bit code each selects.
constexpr ColorModeEntry kColorModes[] = {
    {8, kColorClassMono8, 0},   {10, kColorClassMono16, 1}, {12, kColorClassMono16, 2},
    {14, kColorClassMono16, 3}, {16, kColorClassMono16, 4}, {24, kColorClassBgr24, 0},
    {32, kColorClassBgr32, 0},  {30, kColorClassBgr48, 1},  {36, kColorClassBgr48, 2},
    {42, kColorClassBgr48, 3},  {48, kColorClassBgr48, 4},  {640, kColorClassBgr64, 1},
    {768, kColorClassBgr64, 2}, {896, kColorClassBgr64, 3}, {64, kColorClassBgr64, 4},
};

}  // namespace

CameraInstance::CameraInstance() {
  const ModelLimits limits = Limits();
  window_.hTotal = limits.maxWidth;
  window_.vTotal = limits.maxHeight;
  window_.width = limits.maxWidth;
  window_.height = limits.maxHeight;
  previewWidth_ = window_.width;
  previewHeight_ = window_.height;
  lastRateTime_ = CurrentClock().TimeMs();
}

CameraInstance::~CameraInstance() {
  // Saving the analog, filter and gray settings, closing the preview window and
  // disposing of the current driver belong to parts of the library that are
  // not wired to the instance yet; until they are, an instance never holds a
  // driver, a window or anything to save.
  for (DibImage*& image : classImages_) {
    delete image;
    image = nullptr;
  }
  delete workImage_;
  delete displayImage_;
}

bool CameraInstance::Initialise(WindowHandle window) {
  DetectCpuFeatures(&cpuFeatures_);
  // The model factory is not part of the library yet, so no driver is built
  // and none becomes current.
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

void CameraInstance::Notify(int /*eventCode*/, ColorEngine* /*engine*/) {
  // Frames arrive only from a current driver, and none can be current yet;
  // the per-frame path is added together with the driver.
}

int CameraInstance::CameraOperationFailure(int failureValue) {
  RecordError(HasDriver() ? kErrorNotSupported : kErrorNoDriver);
  return failureValue;
}

ModelCode CameraInstance::CurrentModel() const {
  // Without a driver there is no model; the limits then fall back to 800 x 600.
  return 0;
}

// ---- device and camera type ----

int CameraInstance::EnumDevice(char* /*names*/) { return CameraOperationFailure(0); }

int CameraInstance::SetDeviceNumber(int /*index*/) { return CameraOperationFailure(0); }

int CameraInstance::GetDeviceName(int /*index*/, char* /*name*/, int /*size*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::SetCameraType(int type) {
  // Compared unsigned, so negative types are refused as well.
  if (static_cast<unsigned>(type) > 10u) {
    RecordError(kErrorRange);
    return 0;
  }
  const int driverIndex = (type == 9 || type == 10) ? 1 : type;
  // Device selection: the driver at that index becomes current. The list is
  // empty until the model factory exists, so the selection fails with error 2,
  // and its outcome, as always, is not checked here.
  if (driverIndex >= static_cast<int>(drivers_.size())) RecordError(kErrorDeviceSelect);
  // The stored colour, sub-sample and timing settings are loaded next, also
  // without a driver. The settings store is not part of the library yet, so
  // the operation cannot complete and says so instead of claiming success.
  RecordError(kErrorNotSupported);
  return 0;
}

int CameraInstance::GetCameraInfo(int32_t* /*record*/) { return CameraOperationFailure(0); }

// ---- capture format and sensor settings ----

int CameraInstance::SetCaptureWindow(int /*width*/, int /*height*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::SetCaptureWindowEx(int /*hTotal*/, int /*hStart*/, int /*hEffective*/,
                                       int /*vTotal*/, int /*vStart*/, int /*vEffective*/) {
  return CameraOperationFailure(0);
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
  for (const ColorModeEntry& entry : kColorModes) {
    if (entry.mode == mode) {
      colorClass_ = entry.colorClass;
      bitDepthCode_ = entry.bitDepth;
      return 1;
    }
  }
  RecordError(kErrorRange);
  return 0;
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
  subSample_ = mode;
  return 1;
}

int CameraInstance::SetWaitTime(int milliseconds) {
  if (milliseconds < 0) return 0;
  waitTime_ = milliseconds;
  return 1;
}

int CameraInstance::SetSyncV(int /*on*/) { return CameraOperationFailure(0); }
int CameraInstance::SetSyncH(int /*on*/) { return CameraOperationFailure(0); }

int CameraInstance::GetSyncV(int* flag) {
  // The flag is written only when no driver is current.
  if (!HasDriver() && flag != nullptr) *flag = 0;
  return CameraOperationFailure(-1);
}

int CameraInstance::GetSyncH(int* flag) {
  // The flag is written only when no driver is current.
  if (!HasDriver() && flag != nullptr) *flag = 0;
  return CameraOperationFailure(-1);
}

int CameraInstance::SetMirrorV(int /*on*/) { return CameraOperationFailure(0); }
int CameraInstance::SetMirrorH(int /*on*/) { return CameraOperationFailure(0); }
int CameraInstance::GetMirrorV() { return CameraOperationFailure(0); }
int CameraInstance::GetMirrorH() { return CameraOperationFailure(0); }

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

int CameraInstance::WriteRegister(int /*address*/, int /*value*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::ReadRegister(int /*address*/, int* /*valid*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::SetFilterValue(int id, int value) {
  if (!HasDriver()) return CameraOperationFailure(0);
  switch (StoreFilterValue(filters_, id, value, CurrentModel())) {
    case FilterOutcome::kDone:
      return 1;
    case FilterOutcome::kOutOfRange:
      RecordError(kErrorRange);
      return 0;
    case FilterOutcome::kSensor:
      break;
  }
  // Global gain and exposure time go to the sensor, which is reached through
  // the driver.
  return CameraOperationFailure(0);
}

int CameraInstance::GetFilterValue(int id, int* valid) {
  if (!HasDriver()) {
    if (valid != nullptr) *valid = 0;
    return CameraOperationFailure(0);
  }
  if (valid != nullptr) *valid = 1;
  int value = 0;
  switch (ReadFilterValue(filters_, id, &value)) {
    case FilterOutcome::kDone:
      return value;
    case FilterOutcome::kOutOfRange:
      if (valid != nullptr) *valid = 0;
      RecordError(kErrorRange);
      return 0;
    case FilterOutcome::kSensor:
      break;
  }
  if (valid != nullptr) *valid = 0;
  return CameraOperationFailure(0);
}

// ---- acquisition, images and windows ----

int CameraInstance::SetPreviewWindow(WindowHandle /*parent*/, int /*x*/, int /*y*/, int /*width*/,
                                     int /*height*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::Preview() { return CameraOperationFailure(0); }

int CameraInstance::CallBackPreview(WindowHandle /*frameWindow*/, void* /*buffer*/, int /*size*/,
                                    int /*bottomUp*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::Trigger(WindowHandle /*frameWindow*/, void* /*buffer*/, int /*size*/,
                            int /*bottomUp*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::SnapShot(void* /*buffer*/, int /*size*/, int /*bottomUp*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::Capture() { return CameraOperationFailure(0); }
int CameraInstance::StartPreview() { return CameraOperationFailure(0); }
int CameraInstance::StopPreview() { return CameraOperationFailure(0); }

int CameraInstance::Close() {
  // There is never a preview window to destroy yet. The stop that follows
  // needs a driver; without one it records error 1, and closing still
  // reports 1 because there is nothing left open.
  if (!HasDriver()) {
    RecordError(kErrorNoDriver);
    return 1;
  }
  return CameraOperationFailure(0);
}

int CameraInstance::GetImage(void* /*buffer*/, int /*size*/, int /*bottomUp*/) {
  return CameraOperationFailure(0);
}

int CameraInstance::SaveImage(const char* /*fileName*/, int /*format*/) {
  return CameraOperationFailure(0);
}

// ---- dialogs ----

int CameraInstance::SetCameraDlg(WindowHandle /*owner*/) { return CameraOperationFailure(0); }
int CameraInstance::SetImageDlg(WindowHandle /*owner*/) { return CameraOperationFailure(0); }
int CameraInstance::SetAnalogDlg(WindowHandle /*owner*/) { return CameraOperationFailure(0); }

int CameraInstance::Unsupported() {
  RecordError(kErrorNotSupported);
  return 0;
}

}  // namespace varnel
