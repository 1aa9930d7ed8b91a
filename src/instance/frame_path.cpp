// The per-frame paths of a camera instance: the streaming path that the
// driver's dispatcher thread runs for every frame, and the trigger worker's
// loop. Both take the frame in through the model's intake, run the frame
// pipeline (automatic exposure first) and hand the result to the
// application; the streaming path also measures the frame rate and draws.
#include <atomic>
#include <cstring>

#include "device/sensor_device.h"
#include "dialogs/dialog_runner.h"
#include "display/frame_copy_out.h"
#include "display/frame_display.h"
#include "driver/camera_driver.h"
#include "engine/color_engine.h"
#include "imagefile/dib_image.h"
#include "imaging/auto_exposure.h"
#include "imaging/frame_pipeline.h"
#include "instance/camera_instance.h"
#include "instance/frame_intake.h"
#include "platform/clock.h"

namespace varnel {

namespace {

constexpr int32_t kBitsPerPixel[6] = {8, 16, 24, 32, 48, 64};

void Publish(int32_t& field, int32_t value) {
  std::atomic_ref<int32_t>(field).store(value, std::memory_order_relaxed);
}

}  // namespace

void CameraInstance::Notify(int eventCode, ColorEngine* engine) {
  // A write made while the stream ran was accepted at once; when the camera
  // refuses it later, between frames, the application learns of it here.
  if (eventCode == kEventRegisterWriteDone && GetRegisterResult().result == 0) {
    RecordError(kErrorRegister);
    return;
  }
  if (eventCode == kEventDeliveryFailed) {
    RecordError(kErrorMemory);
    return;
  }
  // A camera that stopped sending (pulled out, its volume gone) is reported
  // as a snapshot that cannot read its frame is: error 8, and a frame
  // message with no frame, so that an application waiting for frames learns
  // of it at once instead of when its own patience runs out.
  if (eventCode == kEventFramesStopped) {
    RecordError(kErrorFrameRead);
    outTarget_.PostToWindow(kMessageFrame, 0, kErrorFrameRead);
    return;
  }
  if (eventCode != kEventFrameReady || engine == nullptr) return;
  // A single-shot fetch announces its frame too, on the thread that fetched
  // it; that thread processes the frame itself, once.
  if (!streamDelivery_.load(std::memory_order_acquire)) return;
  RunStreamedFrame(*engine);
}

FrameImages CameraInstance::PipelineImages() const {
  FrameImages images;
  images.raw8 = classImages_[kColorClassMono8];
  images.raw16 = classImages_[kColorClassMono16];
  images.bgr24 = classImages_[kColorClassBgr24];
  images.bgr32 = classImages_[kColorClassBgr32];
  images.bgr48 = classImages_[kColorClassBgr48];
  images.bgr64 = classImages_[kColorClassBgr64];
  images.work = workImage_;
  return images;
}

DisplayImages CameraInstance::DrawingImages() const {
  DisplayImages images;
  images.mono8 = classImages_[kColorClassMono8];
  images.mono16 = classImages_[kColorClassMono16];
  images.bgr24 = classImages_[kColorClassBgr24];
  images.bgr32 = classImages_[kColorClassBgr32];
  images.bgr48 = classImages_[kColorClassBgr48];
  images.bgr64 = classImages_[kColorClassBgr64];
  images.display = displayImage_;
  return images;
}

DibImage* CameraInstance::IntakeRaw(ColorEngine& engine, const uint8_t* frameData,
                                    size_t frameBytes) {
  const AcquisitionFormat& format = prepared_;
  if (format.colorClass < kColorClassMono8 || format.colorClass > kColorClassBgr64) return nullptr;
  DibImage* raw =
      classImages_[IsDeepClass(format.colorClass) ? kColorClassMono16 : kColorClassMono8];
  if (raw == nullptr || raw->Empty()) return nullptr;
  // The frame comes from the driver's frame buffer when it is delivered
  // directly, else from the engine's raw copy; the engine describes its rows.
  RawFrame frame;
  frame.data = frameData != nullptr ? frameData : engine.GetRawBuffer();
  frame.size = frameData != nullptr ? frameBytes : engine.GetRawSize();
  frame.frameWidth = engine.GetWidth();
  frame.frameRows = engine.GetHeight();
  frame.bytesPerSample = engine.IsEightBitRaw() ? 1 : 2;
  frame.pictureWidth = format.pictureWidth;
  frame.pictureHeight = format.pictureHeight;
  IntakeSettings settings;
  settings.model = CurrentModel();
  settings.bitDepth = format.bitDepth;
  settings.mirrorV = mirrorV_ != 0;
  settings.mirrorH = mirrorH_ != 0;
  settings.subSample = format.subSample;
  return IntakeFrame(frame, settings, *raw) ? raw : nullptr;
}

DibImage* CameraInstance::RunPipeline() {
  // The pipeline works on a copy of the filter block, so the application's
  // changes and the pipeline's measurements never meet mid-frame; what it
  // measured (and the requests it used up) is written back field by field.
  FilterSettings settings;
  {
    std::lock_guard<std::mutex> lock(filtersMutex_);
    settings = filters_;
  }
  const FilterSettings before = settings;
  FramePipelineHooks hooks;
  hooks.autoExposure = [this](DibImage& image) { AdjustAutoExposure(image); };
  DibImage* frame = RunFramePipeline(PipelineImages(), settings, prepared_.colorClass,
                                     prepared_.bitDepth, cpuFeatures_, hooks);
  int after[sizeof(FilterSettings) / sizeof(int)];
  int old[sizeof(FilterSettings) / sizeof(int)];
  std::memcpy(after, &settings, sizeof after);
  std::memcpy(old, &before, sizeof old);
  std::lock_guard<std::mutex> lock(filtersMutex_);
  int current[sizeof(FilterSettings) / sizeof(int)];
  std::memcpy(current, &filters_, sizeof current);
  bool measured = false;
  for (size_t i = 0; i < sizeof after / sizeof after[0]; ++i) {
    if (after[i] != old[i]) current[i] = after[i], measured = true;
  }
  std::memcpy(&filters_, current, sizeof current);
  // An open filter dialog shows what the white balance or the gray gains
  // measured; it reloads on its own thread.
  if (measured) RequestDialogRefresh(filterDialogWindow_);
  return frame;
}

void CameraInstance::AdjustAutoExposure(DibImage& raw) {
  const int mode = autoIris_;
  if (mode != kAutoIrisGain && mode != kAutoIrisExposure) return;
  const ModelCode model = CurrentModel();
  const std::optional<double> factor =
      AutoExposureFactor(raw, IntakeSignificantBits(model, prepared_.bitDepth));
  if (!factor) return;
  SensorDevice& sensor = Sensor();
  const ValueRange gainRange = sensor.GlobalGainRange();
  const ValueRange exposureRange = sensor.ExposureRange();
  AutoExposureState state;
  state.mode = mode;
  state.gain = sensor.GetGlobalGain();
  state.gainLimits = ValueLimits{gainRange.minimum, gainRange.maximum};
  state.exposure = sensor.GetExposureTime();
  state.exposureLimits = ValueLimits{exposureRange.minimum, exposureRange.maximum};
  state.inverseExposure = model == kModelHZG7;
  const std::optional<AutoExposureChange> change = DecideAutoExposure(*factor, state);
  if (!change) return;
  if (change->gain) {
    sensor.SetGlobalGain(change->value);
    globalGain_ = change->value;
  } else {
    sensor.SetExposureTime(change->value);
    exposureTime_ = change->value;
  }
  // An open analog dialog shows the new value: it is asked to reload, and
  // does so on its own thread (this thread never touches its controls).
  RequestDialogRefresh(analogDialogWindow_);
}

void CameraInstance::FillFrameInfo(const DibImage& raw, int colorClass) {
  Publish(frameInfo_.size, static_cast<int32_t>(sizeof(FrameInfoRecord)));
  Publish(frameInfo_.width, raw.Width());
  Publish(frameInfo_.height, raw.Height());
  Publish(frameInfo_.bitsPerPixel,
          colorClass >= 0 && colorClass <= kColorClassBgr64 ? kBitsPerPixel[colorClass] : 0);
}

bool CameraInstance::CopyOut(const DibImage& image, int topRowFirst, void* buffer, int size) {
  if (CopyFrameOut(image, topRowFirst, buffer, size)) return true;
  outTarget_.PostToWindow(kMessageFrame, 0, kErrorMemory);
  RecordError(kErrorMemory);
  return false;
}

void CameraInstance::RunStreamedFrame(ColorEngine& engine) {
  // The wait time throttles the path; a stop ends the wait at once and the
  // frame is dropped, so no wait time can hold a stop up.
  const int wait = waitTime_;
  if (wait > 0 && stopSignal_.Wait(static_cast<uint32_t>(wait))) return;

  size_t frameBytes = 0;
  const uint8_t* frameData = currentDriver_->DeliveredFrame(&frameBytes);
  std::unique_lock<std::mutex> lock(frameMutex_);
  DibImage* raw = IntakeRaw(engine, frameData, frameBytes);
  if (raw == nullptr) return;
  const AcquisitionFormat& format = prepared_;
  FillFrameInfo(*raw, format.colorClass);
  Publish(frameInfo_.frameRate, rateMeter_.CountFrame(CurrentClock().TimeMs()));
  DibImage* frame = RunPipeline();
  if (frame == nullptr) return;
  // The deep samples carry the bits the intake left (10 on the bottom-up
  // heads whatever was asked), and the reduction for drawing takes those.
  DrawFrame(previewWindow_.get(), DrawingImages(), format.colorClass,
            BitDepthCodeFor(IntakeSignificantBits(CurrentModel(), format.bitDepth)));

  // Frames still arriving after the stop began are not announced.
  const bool announce = previewState_ != kPreviewIdle;
  const uintptr_t info = announce ? reinterpret_cast<uintptr_t>(&frameInfo_) : 0;
  if (outTarget_.Deliver(*frame, info, nullptr) == FrameOutTarget::Outcome::kTooSmall) {
    RecordError(kErrorMemory);
    return;
  }
  lock.unlock();
  if (!announce && outTarget_.HasWindow()) CurrentClock().Sleep(kIdleFramePauseMs);
}

void CameraInstance::RunTriggeredFrame() {
  // The frame engine and the driver stay as they are while the worker runs:
  // the stop waits for it to leave before it gives them back.
  ColorEngine* engine = frameEngine_;
  if (engine == nullptr || currentDriver_->GetImage(nullptr, engine->GetRawBuffer()) != kImageOk) {
    // No trigger in time, a stop, or a head that has gone away: a pause
    // keeps a read that fails at once from spinning a core.
    if (worker_.ShouldRun()) CurrentClock().Sleep(kTriggerRetryPauseMs);
    return;
  }
  std::lock_guard<std::mutex> lock(frameMutex_);
  DibImage* raw = IntakeRaw(*engine);
  if (raw == nullptr) return;
  FillFrameInfo(*raw, prepared_.colorClass);
  DibImage* frame = RunPipeline();
  if (frame == nullptr) return;
  if (outTarget_.Deliver(*frame, reinterpret_cast<uintptr_t>(&frameInfo_), nullptr) ==
      FrameOutTarget::Outcome::kTooSmall) {
    RecordError(kErrorMemory);
  }
}

}  // namespace varnel
