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

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "api/error_stack.h"
#include "display/frame_copy_out.h"
#include "device/model_code.h"
#include "imaging/cpu_features.h"
#include "imaging/pixel_format.h"
#include "imaging/filter_settings.h"
#include "imaging/pipeline_pool.h"
#include "instance/filter_store.h"
#include "driver/frame_listener.h"
#include "instance/drive_enumeration.h"
#include "instance/acquisition.h"
#include "instance/frame_rate_meter.h"
#include "instance/model_limits.h"
#include "instance/shared_setting.h"
#include "instance/trigger_worker.h"
#include "platform/app_wait.h"
#include "platform/window_messages.h"

namespace varnel {

class CameraDriver;
class ColorEngine;
class DibImage;
class PreviewWindow;
class SensorDevice;
struct DisplayImages;
struct FrameImages;
struct SizeTable;

// Acquisition state of an instance.
enum PreviewState : int {
  kPreviewIdle = 0,
  kPreviewPreviewing = 1,
  kPreviewCapturing = 2,
  kPreviewTriggered = 3,
};

// Per-frame information handed to the application with message 0x8002. The
// frame threads write it while the application may read it (it has the
// record's address): each field is written as one relaxed atomic store.
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
  // `topRowFirst`: non-zero copies the picture's top row first, 0 its bottom row.
  int CallBackPreview(WindowHandle frameWindow, void* buffer, int size, int topRowFirst);
  int Trigger(WindowHandle frameWindow, void* buffer, int size, int topRowFirst);
  int SnapShot(void* buffer, int size, int topRowFirst);
  int Capture();
  int StartPreview();
  int StopPreview();
  int Close();
  int GetImage(void* buffer, int size, int topRowFirst);
  int SaveImage(const char* fileName, int format);
  // Copies the image of the current colour class (pixels, size and colour
  // table) into `copy` under the frame lock, so that a frame thread cannot
  // rewrite it meanwhile. False when that image is missing or empty.
  bool CopyCurrentImage(DibImage* copy);

  // ---- dialogs ----
  int SetCameraDlg(WindowHandle owner);
  int SetImageDlg(WindowHandle owner);
  int SetAnalogDlg(WindowHandle owner);
  // What the filter and analog dialogs change, reached through these
  // (instance_dialogs.cpp).
  friend class InstanceFilterBlock;
  friend class InstanceAnalogTarget;

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
  const FrameInfoRecord& FrameInfo() const { return frameInfo_; }
  // The preview window while one exists (null otherwise); for tests, which
  // read back what it shows.
  PreviewWindow* PreviewWindowForTest() const { return previewWindow_.get(); }
  const CpuFeatures& Features() const { return cpuFeatures_; }
  WindowHandle NotificationWindow() const { return notificationWindow_; }

 private:
  // The failure of a camera operation: error 1 without a current driver.
  // With one, the operation is not wired to the driver yet and reports
  // error 11 rather than claim a success it did not achieve.
  int CameraOperationFailure(int failureValue);
  // The current driver's sensor; only called when a driver is current.
  SensorDevice& Sensor() const;
  // Whether `address` lies within the current model's register addresses;
  // records error 9 when it does not.
  bool RegisterAddressFits(int address);
  // Drive enumeration into the drive count and letters.
  void EnumerateDrives();
  // Makes the driver at `driverIndex` current and gives it the letter in drive
  // slot `driveIndex`. Records error 2 and returns false when either fails.
  bool SelectDevice(int driveIndex, int driverIndex);
  // Runs the size check on the window fields and gives the window to the
  // sensor; when either refuses it, records error 7 and puts the model's
  // full area (FullArea) in its place, on the sensor too.
  void SetWindowOrFullArea();
  // The error code of a driver start that failed: 5 when memory ran out, 3
  // when a thread could not be started, 2 when another user has the camera,
  // else 8.
  int StartFailureCode() const;
  // The window a model starts with and falls back to: its whole sensor, as
  // far as the instance's limits for the model allow.
  void FullArea(int* width, int* height) const;
  // Sets a mirror flag, moves the Bayer phase with the picture when the flag
  // changes, and sends the flag to the sensor; the sensor's answer.
  bool ApplyMirror(bool vertical, int on);
  // ---- acquisition control (acquisition.cpp) ----
  // Stops acquisition: the trigger worker first, then back to Idle, trigger
  // mode off, driver stopped, the frame engine given back. Nothing more
  // happens when Idle and not streaming.
  void StopAcquisition();
  // Sends the analog values (gain, exposure, both mirror flags) to the sensor.
  void SendAnalogSettings();
  // Saves the analog, filter and gray settings, each only if it was loaded.
  void SaveLoadedSettings();
  // Running (1) or Paused (2): a stream runs.
  bool DriverStreaming() const;
  // The preparation every start runs; records error 7 or 5 on failure. A
  // stream left running for another format is stopped.
  bool PrepareAcquisition();
  bool PrepareImages(const AcquisitionFormat& format);
  void PrepareSensor(const AcquisitionFormat& format);
  // Start of streaming with direct delivery (Varnel_StartPreview).
  int StartStreaming();
  enum class SingleFrameKind { kCapture, kSnapshot, kTrigger };
  // Start of single-frame delivery; records an error and returns false when
  // no frame engine can be had or the driver does not start.
  bool StartSingleFrame(SingleFrameKind kind);
  // Creates the preview window and takes its device context (error 4).
  bool OpenPreviewWindow();
  // Releases the window and its device context; acquisition is not touched.
  void DestroyPreviewWindow();
  // The teardown of every stop and failed start: acquisition, then window.
  void StopAndDestroyPreviewWindow();
  // The start shared by Preview and CallBackPreview once the out target is set.
  int PreviewWithWindow();

  // ---- per-frame paths (frame_path.cpp) ----
  // The streaming path, on the driver's dispatcher thread.
  void RunStreamedFrame(ColorEngine& engine);
  // One round of the trigger worker's loop.
  void RunTriggeredFrame();
  // The intake of a frame into the raw image of the prepared format: the
  // frame at `frameData` when given (the driver's buffer), else `engine`'s raw
  // copy; the engine gives the frame's rows. The caller holds the frame lock.
  // Returns the raw image, or null when it is missing.
  DibImage* IntakeRaw(ColorEngine& engine, const uint8_t* frameData = nullptr,
                      size_t frameBytes = 0);
  // The frame pipeline (automatic exposure first) on the raw image the intake
  // filled, for the prepared format; the caller holds the frame lock.
  // Returns the frame image, or null.
  DibImage* RunPipeline();
  void AdjustAutoExposure(DibImage& raw);
  // Writes the raw image's size and the class's bits per pixel into FrameInfo.
  void FillFrameInfo(const DibImage& raw, int colorClass);
  // CopyFrameOut into an explicit buffer; on failure posts 0x8002 (0, 5) to
  // the frame window and records error 5.
  bool CopyOut(const DibImage& image, int topRowFirst, void* buffer, int size);
  FrameImages PipelineImages() const;
  DisplayImages DrawingImages() const;

  // The process's pipeline workers, kept from the making of the instance to
  // its release. Declared first, so given up last: after every thread that
  // could run a frame has been joined.
  PipelinePool::Hold pipelineHold_;

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

  // The preview window (its device context and class live with it).
  std::unique_ptr<PreviewWindow> previewWindow_;

  CaptureWindow window_;
  int bufferCount_ = 10;
  // The filter block. The frame pipeline works on a copy taken at the start
  // of each frame and writes back what it measured; both, and the
  // application's changes while frames flow, go through filtersMutex_.
  FilterSettings filters_{};
  std::mutex filtersMutex_;
  // The open filter and analog dialogs' windows, published for the frame
  // thread, which posts them a refresh request (instance_dialogs.cpp).
  std::atomic<WindowHandle> filterDialogWindow_{nullptr};

  SharedSetting<int> globalGain_{0};
  SharedSetting<int> exposureTime_{0};
  SharedSetting<int> mirrorV_{0};
  SharedSetting<int> mirrorH_{0};
  SharedSetting<int> autoIris_{0};
  std::atomic<WindowHandle> analogDialogWindow_{nullptr};

  TriggerWorker worker_;

  WindowHandle previewParent_ = nullptr;
  int previewX_ = 0;
  int previewY_ = 0;
  int previewWidth_ = 0;
  int previewHeight_ = 0;

  WindowHandle notificationWindow_ = nullptr;
  // Frame window, out buffer, out size and out row order, with their lock.
  FrameOutTarget outTarget_;
  FrameInfoRecord frameInfo_;

  SharedSetting<PreviewState> previewState_{kPreviewIdle};
  SharedSetting<int> colorClass_{kColorClassMono8};
  SharedSetting<int> subSample_{0};
  SharedSetting<int> waitTime_{10};
  int clock_ = 0;
  int syncV_ = 0;
  int syncH_ = 0;
  SharedSetting<BitDepthCode> bitDepthCode_{0};
  // The streaming path's frame-rate meter (rate, count, last rate time).
  FrameRateMeter rateMeter_;

  // ---- acquisition ----
  // Guards the class images, the work and display images, the preview
  // window and the prepared format: a frame thread holds it from the intake
  // to the drawing; GetImage, the preparation and the window's creation and
  // teardown take it too.
  std::mutex frameMutex_;
  AcquisitionFormat prepared_;
  // Set while the driver delivers frames to this instance for the streaming
  // path; frames announced otherwise (a single-shot fetch notifies too) are
  // handled by whoever fetched them.
  std::atomic<bool> streamDelivery_{false};
  // Signalled when a stop begins: a frame thread waiting out the wait time
  // stops waiting.
  WaitableEvent stopSignal_{EventReset::kManual};

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
  // What each group held right after it was loaded, and whether the store had
  // it then. A group the store had is saved only when it changed since: a
  // session that changed nothing leaves the store as it found it, so another
  // model's values there survive a look at this one.
  std::array<int, 5> analogAsLoaded_{};
  std::array<int, 10> filterAsLoaded_{};
  std::array<int, 8> grayAsLoaded_{};
  bool analogWasStored_ = false;
  bool filterWasStored_ = false;
  bool grayWasStored_ = false;
  // The Bayer phase loaded is a default, to be settled once the mirror flags
  // are known.
  bool phaseFromDefaults_ = false;
};

}  // namespace varnel
