// The object behind one camera handle.
//
// A CameraInstance owns the list of camera drivers (one per supported model)
// and points at the current one, whose sensor it commands; it owns the image
// buffers frames are converted in, the preview window's handles, the capture
// window, the colour mode, the filter values applied to each frame, the
// frame-rate meter and the error stack. Every export that takes a handle ends
// in one operation of this class with the export's name.
//
// Operations that work on the camera first check that a driver is current and
// record error 1 without one. Operations on the instance's own settings (colour
// mode, sub-sample, wait time, automatic brightness mode, the capture window
// read-back, camera type and status) need no driver.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "api/error_stack.h"
#include "device/model_code.h"
#include "imaging/cpu_features.h"
#include "imaging/pixel_format.h"
#include "imaging/filter_settings.h"
#include "instance/filter_store.h"
#include "driver/frame_listener.h"
#include "instance/drive_enumeration.h"
#include "instance/model_limits.h"
#include "platform/window_messages.h"

namespace varnel {

class CameraDriver;
class ColorEngine;
class DibImage;
class SensorDevice;
struct SizeTable;

// Acquisition state of an instance.
enum PreviewState : int {
  kPreviewIdle = 0,
  kPreviewPreviewing = 1,
  kPreviewCapturing = 2,
  kPreviewTriggered = 3,
};

// Per-frame information handed to the application with message 0x8002.
struct FrameInfoRecord {
  int32_t size = 24;
  int32_t width = 0;
  int32_t height = 0;
  int32_t bitsPerPixel = 0;
  int32_t frameRate = 0;  // tenths of frames per second
  int32_t reserved = 0;
};
static_assert(sizeof(FrameInfoRecord) == 24);

// Camera information record as the application lays it out: nine 32-bit
// fields, the first the record's declared size.
inline constexpr int kCameraInfoFields = 9;
inline constexpr uint32_t kCameraInfoSize = kCameraInfoFields * 4;

class CameraInstance : public FrameListener {
 public:
  CameraInstance();
  ~CameraInstance() override;

  CameraInstance(const CameraInstance&) = delete;
  CameraInstance& operator=(const CameraInstance&) = delete;

  // ---- life cycle and errors ----
  // Builds the drivers and images and stores the notification window. Returns
  // true when a driver is current and all eight images exist; otherwise
  // records error 5 (announced to `window`) and returns false.
  bool Initialise(WindowHandle window);
  void RecordError(int code) { errors_.Push(code); }
  int PopError() { return errors_.Pop(); }
  const ErrorStack& Errors() const { return errors_; }

  // FrameListener: a driver reports a state change, a frame or a register
  // result.
  void Notify(int eventCode, ColorEngine* engine) override;

  // ---- device and camera type ----
  int EnumDevice(char* names);
  int SetDeviceNumber(int index);
  int GetDeviceName(int index, char* name, int size);
  int SetCameraType(int type);
  int GetCameraType() const { return currentDriverIndex_; }
  // Fills the nine fields of `record` (first field: declared size in bytes).
  int GetCameraInfo(int32_t* record);
  int GetStatus() const { return 0; }

  // ---- capture format and sensor settings ----
  int SetCaptureWindow(int width, int height);
  int SetCaptureWindowEx(int hTotal, int hStart, int hEffective, int vTotal, int vStart,
                         int vEffective);
  int GetCaptureWindowEx(int* hTotal, int* hStart, int* hEffective, int* vTotal, int* vStart,
                         int* vEffective) const;
  int Width() const { return window_.width; }
  int Height() const { return window_.height; }
  int SetColorMode(int mode);
  int GetColorMode() const;
  int SetSubSample(int mode);
  int GetSubSample() const { return subSample_; }
  int SetWaitTime(int milliseconds);
  int GetWaitTime() const { return waitTime_; }
  int SetSyncV(int on);
  int SetSyncH(int on);
  int GetSyncV(int* flag);
  int GetSyncH(int* flag);
  int SetMirrorV(int on);
  int SetMirrorH(int on);
  int GetMirrorV();
  int GetMirrorH();
  int SetAutoIris(int mode);
  int GetAutoIris(int* valid) const;
  int WriteRegister(int address, int value);
  int ReadRegister(int address, int* valid);
  int SetFilterValue(int id, int value);
  int GetFilterValue(int id, int* valid);

  // ---- acquisition, images and windows ----
  int SetPreviewWindow(WindowHandle parent, int x, int y, int width, int height);
  int Preview();
  int CallBackPreview(WindowHandle frameWindow, void* buffer, int size, int bottomUp);
  int Trigger(WindowHandle frameWindow, void* buffer, int size, int bottomUp);
  int SnapShot(void* buffer, int size, int bottomUp);
  int Capture();
  int StartPreview();
  int StopPreview();
  int Close();
  int GetImage(void* buffer, int size, int bottomUp);
  int SaveImage(const char* fileName, int format);

  // ---- dialogs ----
  int SetCameraDlg(WindowHandle owner);
  int SetImageDlg(WindowHandle owner);
  int SetAnalogDlg(WindowHandle owner);

  // The shared implementation of the exports the library does not support.
  int Unsupported();

  // ---- settings store (instance_settings.cpp) ----
  // The current size preset into the window fields (first run: the store is
  // created and the model's full area used); 1 when a stored preset was read.
  int LoadSizePreset();
  // Colour class, sub-sample, wait time, clock, sync and bit depth code.
  int LoadCameraSettings();
  // Behind SetCaptureWindow: the first stored preset of that effective size
  // becomes the window. 0 without an error code when none matches.
  int SelectSizePreset(int width, int height);
  int LoadAnalogSettings();
  int SaveAnalogSettings();
  int LoadFilterSettings();
  int SaveFilterSettings();
  int LoadGraySettings();
  int SaveGraySettings();
  // The camera dialog's copy of the stored presets and main values.
  int LoadSizeTable(SizeTable* table);
  int SaveSizeTable(const SizeTable& table);

  // ---- read access for the per-frame path and for tests ----
  bool HasDriver() const { return currentDriver_ != nullptr; }
  CameraDriver* CurrentDriver() const { return currentDriver_; }
  int DriverCount() const { return static_cast<int>(drivers_.size()); }
  ModelCode CurrentModel() const;
  ModelLimits Limits() const { return LimitsForModel(HasDriver(), CurrentModel()); }
  int GetColorClass() const { return colorClass_; }
  BitDepthCode GetBitDepthCode() const { return bitDepthCode_; }
  const FilterSettings& Filters() const { return filters_; }
  PreviewState GetPreviewState() const { return previewState_; }
  const CpuFeatures& Features() const { return cpuFeatures_; }
  WindowHandle NotificationWindow() const { return notificationWindow_; }

 private:
  // The failure of a camera operation: error 1 without a current driver.
  // With one, the operation is not wired to the driver yet and reports
  // error 11 rather than claim a success it did not achieve.
  int CameraOperationFailure(int failureValue);
  // The current driver's sensor; only called when a driver is current.
  SensorDevice& Sensor() const;
  // Drive enumeration into the drive count and letters.
  void EnumerateDrives();
  // Makes the driver at `driverIndex` current and gives it the letter in drive
  // slot `driveIndex`. Records error 2 and returns false when either fails.
  bool SelectDevice(int driveIndex, int driverIndex);
  // Runs the size check on the window fields; on failure records error 7 and
  // puts the model's full sensor area in their place.
  void CheckWindowOrUseFullArea();
  // Stops acquisition: back to Idle, trigger mode off, driver stopped, the
  // frame engine given back. Nothing happens when Idle and not streaming.
  void StopAcquisition();
  // Sends the analog values (gain, exposure, both mirror flags) to the sensor.
  void SendAnalogSettings();
  // Saves the analog, filter and gray settings, each only if it was loaded.
  void SaveLoadedSettings();

  // Driver list and current driver (FrameListener's register-result record
  // comes first, from the base).
  std::vector<std::unique_ptr<CameraDriver>> drivers_;
  CameraDriver* currentDriver_ = nullptr;
  ColorEngine* frameEngine_ = nullptr;
  CpuFeatures cpuFeatures_{};

  // The six class images (one per ColorClass), the sharpness filter's work
  // image and the preview's display image.
  DibImage* classImages_[6] = {};
  DibImage* workImage_ = nullptr;
  DibImage* displayImage_ = nullptr;

  WindowHandle previewWindow_ = nullptr;
  void* previewDc_ = nullptr;
  char windowClassName_[256] = {};

  CaptureWindow window_;
  int bufferCount_ = 10;
  FilterSettings filters_{};
  void* filterDialog_ = nullptr;

  int globalGain_ = 0;
  int exposureTime_ = 0;
  int mirrorV_ = 0;
  int mirrorH_ = 0;
  int autoIris_ = 0;
  void* analogDialog_ = nullptr;

  int workerRun_ = 0;
  void* workerThread_ = nullptr;
  uint32_t workerThreadId_ = 0;
  void* workerFinished_ = nullptr;

  WindowHandle previewParent_ = nullptr;
  int previewX_ = 0;
  int previewY_ = 0;
  int previewWidth_ = 0;
  int previewHeight_ = 0;

  WindowHandle notificationWindow_ = nullptr;
  WindowHandle frameWindow_ = nullptr;
  void* outBuffer_ = nullptr;
  int outSize_ = 0;
  int outBottomUp_ = 0;
  FrameInfoRecord frameInfo_;

  PreviewState previewState_ = kPreviewIdle;
  int colorClass_ = kColorClassMono8;
  int subSample_ = 0;
  int waitTime_ = 10;
  int clock_ = 0;
  int syncV_ = 0;
  int syncH_ = 0;
  BitDepthCode bitDepthCode_ = 0;
  int frameRate_ = 0;
  int frameCount_ = 0;
  uint32_t lastRateTime_ = 0;

  ErrorStack errors_;

  int currentDriverIndex_ = 0;
  int driveCount_ = 0;
  int driveLetters_[kMaxDriveSlots] = {};
  int selectedDrive_ = 0;

  // Which groups of stored settings this instance has loaded. Only those are
  // saved at release: an instance that never loaded a group holds its
  // construction values there, which would overwrite the user's settings.
  bool analogLoaded_ = false;
  bool filterLoaded_ = false;
  bool grayLoaded_ = false;
};

}  // namespace varnel
