// Acquisition control of a camera instance: the four states and their
// transitions, the preparation every start makes, the streaming and
// single-frame starts, the stop, and the exports that drive them.
#include <atomic>
#include <cstring>

#include "device/sensor_device.h"
#include "display/frame_copy_out.h"
#include "display/frame_display.h"
#include "driver/camera_driver.h"
#include "engine/color_engine.h"
#include "imagefile/dib_image.h"
#include "imagefile/save_image_file.h"
#include "instance/camera_instance.h"
#include "instance/frame_intake.h"
#include "instance/model_limits.h"
#include "platform/clock.h"
#include "platform/preview_window.h"

namespace varnel {

namespace {

int SubSampleFactor(int subSample) { return subSample >= 1 && subSample <= 3 ? 1 << subSample : 1; }

bool AcceptsTriggers(ModelCode model) { return model == kModelHXA1 || model == kModelHZG7; }

// The trigger source mask of a trigger start: every source. The sensor's
// trigger option is one byte, so the mask 0xFFFF reaches it as 0xFF.
constexpr uint8_t kTriggerSourcesAll = static_cast<uint8_t>(0xFFFF);

// Whether two formats need the same stream: everything but the picture, which
// the sensor reports once the window is sent.
bool SameStream(AcquisitionFormat a, const AcquisitionFormat& b) {
  a.pictureWidth = b.pictureWidth;
  a.pictureHeight = b.pictureHeight;
  return a == b;
}

}  // namespace

bool CameraInstance::DriverStreaming() const {
  const int state = currentDriver_->GetState();
  return state == kDriverRunning || state == kDriverPaused;
}

void CameraInstance::StopAcquisition() {
  if (currentDriver_ == nullptr) return;
  // The worker reads into the frame engine and the driver's frame buffer, so
  // it leaves before either is given back; its wait for a trigger is cut
  // short, and its thread and event are closed.
  if (worker_.Exists()) {
    worker_.RequestStop();
    currentDriver_->CancelImageWait();
    worker_.Finish(kTriggerWorkerStopBoundMs);
  }
  if (previewState_ == kPreviewIdle && !DriverStreaming()) return;
  previewState_ = kPreviewIdle;
  // A frame thread waiting out the wait time gives up its frame at once.
  stopSignal_.Set();
  Sensor().SetTriggerMode(0);
  currentDriver_->Stop();
  streamDelivery_.store(false, std::memory_order_release);
  if (frameEngine_ != nullptr) {
    currentDriver_->DestroyEngine(frameEngine_);
    frameEngine_ = nullptr;
  }
}

// ---- preparation --------------------------------------------------------------

bool CameraInstance::PrepareAcquisition() {
  const ModelCode model = CurrentModel();
  int fixedWidth = 0;
  int fixedHeight = 0;
  if (FixedWindowSize(model, &fixedWidth, &fixedHeight)) {
    window_.width = fixedWidth;
    window_.height = fixedHeight;
  } else if (!WindowFits(window_, subSample_, Limits())) {
    RecordError(kErrorCaptureWindow);
    return false;
  }
  AcquisitionFormat next;
  next.colorClass = colorClass_;
  next.bitDepth = bitDepthCode_;
  next.subSample = subSample_;
  next.hStart = window_.hStart;
  next.vStart = window_.vStart;
  next.width = window_.width;
  next.height = window_.height;
  const int factor = SubSampleFactor(next.subSample);
  next.imageWidth = window_.width / factor;
  next.imageHeight = window_.height / factor;

  // A stream still running (a snapshot leaves it so) was started for the
  // format it was prepared for: its engines and transfer format would not
  // fit another one.
  if (DriverStreaming() && !SameStream(next, prepared_)) currentDriver_->Stop();
  if (!PrepareImages(next)) return false;
  PrepareSensor(next);
  int x = 0;
  int y = 0;
  Sensor().GetCaptureWindow(&x, &y, &next.pictureWidth, &next.pictureHeight);

  std::lock_guard<std::mutex> lock(frameMutex_);
  prepared_ = next;
  PrepareDisplayImage(previewWindow_.get(), displayImage_, next.colorClass);
  return true;
}

bool CameraInstance::PrepareImages(const AcquisitionFormat& format) {
  const int w = format.imageWidth;
  const int h = format.imageHeight;
  // An image that already has the size and depth is kept: every frame
  // overwrites it, and re-creating a large one for each snapshot would cost
  // an allocation and a clearing pass each time.
  auto make = [w, h](DibImage* image, uint16_t bitCount) {
    if (image == nullptr) return false;
    if (!image->Empty() && image->Width() == w && image->Height() == h &&
        image->BitCount() == bitCount) {
      return true;
    }
    return image->Create(w, h, bitCount);
  };
  const int c = format.colorClass;
  std::lock_guard<std::mutex> lock(frameMutex_);
  bool ok = true;
  if (c == kColorClassMono8 || c == kColorClassMono16 || c == kColorClassBgr24 ||
      c == kColorClassBgr32) {
    ok = ok && make(classImages_[kColorClassMono8], 8);
  }
  if (IsDeepClass(c)) ok = ok && make(classImages_[kColorClassMono16], 16);
  if (c != kColorClassMono16) ok = ok && make(classImages_[kColorClassBgr24], 24);
  if (c == kColorClassBgr32) ok = ok && make(classImages_[kColorClassBgr32], 32);
  if (c == kColorClassBgr48) ok = ok && make(classImages_[kColorClassBgr48], 48);
  if (c == kColorClassBgr64) ok = ok && make(classImages_[kColorClassBgr64], 64);
  if (ok && c >= kColorClassMono8 && c <= kColorClassBgr64) {
    const DibImage* frame = classImages_[c];
    if (workImage_ == nullptr) {
      ok = false;
    } else if (workImage_->Empty() || workImage_->Width() != frame->Width() ||
               workImage_->Height() != frame->Height() ||
               workImage_->BitCount() != frame->BitCount()) {
      ok = workImage_->CopyFormat(frame);
    }
  }
  if (!ok) RecordError(kErrorMemory);
  return ok;
}

void CameraInstance::PrepareSensor(const AcquisitionFormat& format) {
  SensorDevice& sensor = Sensor();
  // The full window: sub-sampling is done by the intake, the same way on
  // every model, so the sensor always reads every row and column.
  sensor.SetCaptureWindow(format.hStart, format.vStart, format.width, format.height);
  const bool deep = IsDeepClass(format.colorClass);
  sensor.SetEightBitTransfer(deep ? 0 : 1);
  sensor.SetBitDepthCode(deep ? format.bitDepth : 0);
  if (CurrentModel() == kModelHWH8) {
    sensor.SetSyncV(syncV_ != 0 ? 1 : 0);
    sensor.SetSyncH(syncH_ != 0 ? 1 : 0);
  }
  sensor.SetMirrorV(static_cast<uint8_t>(mirrorV_ != 0 ? 1 : 0));
  sensor.SetMirrorH(static_cast<uint8_t>(mirrorH_ != 0 ? 1 : 0));
  sensor.SetGlobalGain(globalGain_);
  sensor.SetExposureTime(exposureTime_);
}

// ---- starts ---------------------------------------------------------------------

int CameraInstance::StartStreaming() {
  if (!HasDriver()) return CameraOperationFailure(0);
  const PreviewState state = previewState_;
  if (state == kPreviewPreviewing) return 1;
  if (state != kPreviewIdle) return 0;
  if (currentDriver_->GetDeliveryMode() == kDeliveryQueued) {
    if (DriverStreaming()) currentDriver_->Stop();
    currentDriver_->SetDeliveryMode(kDeliveryDirect);
  }
  if (!PrepareAcquisition()) return 0;
  // Whatever still runs was not started for this stream.
  if (DriverStreaming()) currentDriver_->Stop();
  Sensor().SetTriggerMode(0);
  // The streaming path takes each frame from the driver's frame buffer while
  // it is delivered, so the engine keeps no raw copy of it: one copy of every
  // frame less.
  currentDriver_->SetConvert(false);
  currentDriver_->SetRawCopy(false);

  rateMeter_.Reset(CurrentClock().TimeMs());
  std::atomic_ref<int32_t>(frameInfo_.frameRate).store(0, std::memory_order_relaxed);
  stopSignal_.Reset();
  // The first frames may arrive before Start returns.
  previewState_ = kPreviewPreviewing;
  streamDelivery_.store(true, std::memory_order_release);
  currentDriver_->Start();
  if (currentDriver_->GetState() != kDriverRunning) {
    streamDelivery_.store(false, std::memory_order_release);
    previewState_ = kPreviewIdle;
    RecordError(StartFailureCode());
    return 0;
  }
  return 1;
}

int CameraInstance::StartFailureCode() const {
  switch (currentDriver_->LastStartFailure()) {
    case StartFailure::kMemory:
      return kErrorMemory;
    case StartFailure::kThread:
      return kErrorWorker;
    case StartFailure::kInUse:
      return kErrorDeviceSelect;
    default:
      return kErrorFrameRead;
  }
}

bool CameraInstance::StartSingleFrame(SingleFrameKind kind) {
  // Frames fetched one at a time are processed by whoever fetches them.
  streamDelivery_.store(false, std::memory_order_release);
  if (currentDriver_->GetDeliveryMode() != kDeliveryQueued) {
    currentDriver_->SetDeliveryMode(kDeliveryQueued);
  }
  // The flags come before the frame engine is made: the engine is configured
  // from them, and only an engine that keeps the raw frame can take one.
  currentDriver_->SetRawCopy(true);
  currentDriver_->SetConvert(false);
  if (frameEngine_ != nullptr) currentDriver_->DestroyEngine(frameEngine_);
  frameEngine_ = currentDriver_->CreateColorEngine();
  if (frameEngine_ == nullptr || frameEngine_->GetRawBuffer() == nullptr) {
    if (frameEngine_ != nullptr) currentDriver_->DestroyEngine(frameEngine_);
    frameEngine_ = nullptr;
    RecordError(kErrorMemory);
    return false;
  }
  // A trigger start enables every trigger source (the mask 0xFFFF, which the
  // sensor keeps as its one-byte trigger option) before trigger mode goes
  // on: a sensor with no source enabled would never see a trigger.
  if (kind == SingleFrameKind::kTrigger) Sensor().SetTriggerOption(kTriggerSourcesAll);
  Sensor().SetTriggerMode(kind == SingleFrameKind::kTrigger ? 1 : 0);
  currentDriver_->Start();
  if (currentDriver_->GetState() != kDriverRunning) {
    Sensor().SetTriggerMode(0);
    currentDriver_->DestroyEngine(frameEngine_);
    frameEngine_ = nullptr;
    RecordError(StartFailureCode());
    return false;
  }
  if (kind == SingleFrameKind::kCapture) CurrentClock().Sleep(kCaptureStartWaitMs);
  if (kind == SingleFrameKind::kSnapshot) CurrentClock().Sleep(kSnapshotStartWaitMs);
  return true;
}

// ---- preview window ----------------------------------------------------------

bool CameraInstance::OpenPreviewWindow() {
  PreviewWindowRequest request;
  request.parent = previewParent_;
  request.x = previewX_;
  request.y = previewY_;
  request.width = previewWidth_;
  request.height = previewHeight_;
  request.frameWidth = window_.width;
  request.frameHeight = window_.height;
  request.subSample = subSample_;
  request.owner = this;
  std::unique_ptr<PreviewWindow> window = CreatePreviewWindow(request);
  // A window without a device context could show nothing: it goes at once,
  // and a window already showing frames stays as it was.
  if (!window || !window->TakeDeviceContext()) {
    RecordError(kErrorPreviewWindow);
    return false;
  }
  // Each start makes a new window; the one before is swapped out under the
  // frame lock, so no frame thread draws into it from then on, and is
  // destroyed (device context, window, class) after the lock is let go.
  {
    std::lock_guard<std::mutex> lock(frameMutex_);
    previewWindow_.swap(window);
  }
  window.reset();
  return true;
}

void CameraInstance::DestroyPreviewWindow() {
  std::unique_ptr<PreviewWindow> window;
  {
    std::lock_guard<std::mutex> lock(frameMutex_);
    window.swap(previewWindow_);
  }
}

void CameraInstance::StopAndDestroyPreviewWindow() {
  // Acquisition stops first, so that no frame thread is left to draw through
  // the device context that the window's teardown releases.
  StopAcquisition();
  DestroyPreviewWindow();
}

// ---- exports --------------------------------------------------------------------

int CameraInstance::SetPreviewWindow(WindowHandle parent, int x, int y, int width, int height) {
  if (!HasDriver()) return CameraOperationFailure(0);
  previewParent_ = parent;
  previewX_ = x;
  previewY_ = y;
  previewWidth_ = width;
  previewHeight_ = height;
  return 1;
}

int CameraInstance::PreviewWithWindow() {
  if (!OpenPreviewWindow()) return 0;
  if (StartStreaming() == 1) return 1;
  // Clean-up as on closing: acquisition stops and the window goes.
  StopAndDestroyPreviewWindow();
  return 0;
}

int CameraInstance::Preview() {
  outTarget_.Clear();
  return PreviewWithWindow();
}

int CameraInstance::CallBackPreview(WindowHandle frameWindow, void* buffer, int size,
                                    int topRowFirst) {
  outTarget_.Set(frameWindow, buffer, size, topRowFirst);
  return PreviewWithWindow();
}

int CameraInstance::StartPreview() { return StartStreaming(); }

int CameraInstance::StopPreview() {
  if (!HasDriver()) return CameraOperationFailure(0);
  StopAcquisition();
  return 1;
}

int CameraInstance::Close() {
  StopAndDestroyPreviewWindow();
  // Nothing is left open either way; without a driver the stop had no
  // camera to stop, which is recorded.
  if (!HasDriver()) RecordError(kErrorNoDriver);
  return 1;
}

int CameraInstance::Capture() {
  if (!HasDriver()) return CameraOperationFailure(0);
  const PreviewState state = previewState_;
  if (state == kPreviewCapturing) return 1;
  if (state != kPreviewIdle) return 0;
  if (!PrepareAcquisition()) return 0;
  const bool running = DriverStreaming() && frameEngine_ != nullptr &&
                       currentDriver_->GetDeliveryMode() == kDeliveryQueued &&
                       !currentDriver_->IsSingleShot();
  if (!running) {
    if (DriverStreaming()) currentDriver_->Stop();
    if (!StartSingleFrame(SingleFrameKind::kCapture)) return 0;
  }
  previewState_ = kPreviewCapturing;
  return 1;
}

int CameraInstance::SnapShot(void* buffer, int size, int topRowFirst) {
  if (!HasDriver()) return CameraOperationFailure(0);
  const PreviewState state = previewState_;
  if (state == kPreviewPreviewing || state == kPreviewTriggered) return 0;
  if (state == kPreviewIdle) {
    if (!PrepareAcquisition()) return 0;
    // The stream a snapshot leaves running serves the next one, when it is
    // a stream of single frames for the format just prepared.
    const bool running = DriverStreaming() && frameEngine_ != nullptr &&
                         currentDriver_->GetDeliveryMode() == kDeliveryQueued &&
                         !currentDriver_->IsSingleShot();
    if (!running) {
      if (DriverStreaming()) currentDriver_->Stop();
      if (!StartSingleFrame(SingleFrameKind::kSnapshot)) return 0;
    }
  }
  if (frameEngine_ == nullptr ||
      currentDriver_->GetImage(nullptr, frameEngine_->GetRawBuffer()) != kImageOk) {
    outTarget_.PostToWindow(kMessageFrame, 0, kErrorFrameRead);
    RecordError(kErrorFrameRead);
    return 0;
  }
  std::lock_guard<std::mutex> lock(frameMutex_);
  DibImage* raw = IntakeRaw(*frameEngine_);
  DibImage* frame = raw != nullptr ? RunPipeline() : nullptr;
  if (frame == nullptr) {
    RecordError(kErrorMemory);
    return 0;
  }
  if (buffer != nullptr && size != 0 && !CopyOut(*frame, topRowFirst, buffer, size)) return 0;
  return 1;
}

int CameraInstance::Trigger(WindowHandle frameWindow, void* buffer, int size, int topRowFirst) {
  if (!HasDriver()) return CameraOperationFailure(0);
  if (!AcceptsTriggers(CurrentModel())) {
    RecordError(kErrorNotSupported);
    return 0;
  }
  // One worker at a time: a second trigger start would read into the same
  // frame engine.
  if (previewState_ != kPreviewIdle) return 0;
  outTarget_.Set(frameWindow, buffer, size, topRowFirst);
  if (!OpenPreviewWindow()) return 0;
  if (!PrepareAcquisition()) {
    StopAndDestroyPreviewWindow();
    return 0;
  }
  // A stream a snapshot left running reads untriggered frames: it would
  // never deliver a triggered one.
  if (DriverStreaming()) currentDriver_->Stop();
  if (!StartSingleFrame(SingleFrameKind::kTrigger)) {
    StopAndDestroyPreviewWindow();
    return 0;
  }
  previewState_ = kPreviewTriggered;
  if (!worker_.Start([this] { RunTriggeredFrame(); })) {
    StopAndDestroyPreviewWindow();
    RecordError(kErrorWorker);
    return 0;
  }
  return 1;
}

int CameraInstance::GetImage(void* buffer, int size, int topRowFirst) {
  if (!HasDriver()) return CameraOperationFailure(0);
  const int colorClass = colorClass_;
  std::lock_guard<std::mutex> lock(frameMutex_);
  DibImage* image = colorClass >= kColorClassMono8 && colorClass <= kColorClassBgr64
                        ? classImages_[colorClass]
                        : nullptr;
  if (image == nullptr) {
    RecordError(kErrorNoDriver);
    return 0;
  }
  if (image->Empty() || buffer == nullptr) {
    RecordError(kErrorMemory);
    return 0;
  }
  return CopyOut(*image, topRowFirst, buffer, size) ? 1 : 0;
}

int CameraInstance::SaveImage(const char* fileName, int format) {
  if (!HasDriver()) return CameraOperationFailure(0);
  const int colorClass = colorClass_;
  const BitDepthCode bitDepth = bitDepthCode_;
  if (colorClass < kColorClassMono8 || colorClass > kColorClassBgr64 ||
      classImages_[colorClass] == nullptr) {
    RecordError(kErrorNoDriver);
    return 0;
  }
  // What is wrong with the call itself is recorded first (9): no name, an
  // empty one, or a format number the library does not know. A file the
  // system will not let the library create or fill returns 0 without a code
  // (none of the codes names the file system's reasons); see docs/api.md.
  if (fileName == nullptr || fileName[0] == '\0' ||
      static_cast<uint32_t>(format) > kSaveFormatTiff) {
    RecordError(kErrorRange);
    return 0;
  }
  // The writers work on a copy taken under the frame lock, so a frame
  // thread can go on with the next frame while the file is written.
  DibImage copy;
  if (!CopyCurrentImage(&copy)) {
    RecordError(kErrorMemory);
    return 0;
  }
  // The deep samples carry the bits the model's intake decoded (a 10-bit
  // head in a 16-bit mode still gives 10-bit values), and the writers scale
  // by what the samples carry.
  const int significantBits =
      IsDeepClass(colorClass) ? IntakeSignificantBits(CurrentModel(), bitDepth) : 8;
  return SaveImageFile(fileName, &copy, colorClass, significantBits, format) ? 1 : 0;
}

bool CameraInstance::CopyCurrentImage(DibImage* copy) {
  if (copy == nullptr) return false;
  const int colorClass = colorClass_;
  std::lock_guard<std::mutex> lock(frameMutex_);
  const DibImage* image = colorClass >= kColorClassMono8 && colorClass <= kColorClassBgr64
                              ? classImages_[colorClass]
                              : nullptr;
  if (image == nullptr || image->Empty() || !copy->CopyFormat(image)) return false;
  std::memcpy(copy->Pixels(), image->Pixels(), image->ImageSize());
  return true;
}

}  // namespace varnel
