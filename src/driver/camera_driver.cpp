#include "driver/camera_driver.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "device/sector_protocol.h"
#include "device/sensor_device.h"
#include "engine/color_converter.h"
#include "engine/color_engine.h"
#include "engine/gray_converter.h"
#include "platform/clock.h"
#include "platform/raw_volume.h"
#include "platform/resources.h"

namespace varnel {

namespace {

constexpr size_t kBitmapHeaderBytes = 40;

// The reader's frame transfers, on a volume handle of its own. Sharing the
// handle's ownership with the reader lets a reader that Stop left behind in a
// transfer finish it on a handle that is still open.
class VolumeFrameReader final : public FrameReader {
 public:
  VolumeFrameReader(std::unique_ptr<RawVolume> volume, const SectorMap& map)
      : volume_(std::move(volume)), protocol_(volume_.get(), map) {}

  uint32_t ReadFrame(int area, uint8_t* buffer, uint32_t bytes) override {
    return protocol_.ReadFrame(area != 0, buffer, bytes / kSectorSize);
  }

 private:
  std::unique_ptr<RawVolume> volume_;
  SectorProtocol protocol_;
};

}  // namespace

void CameraDriver::EngineDeleter::operator()(ColorEngine* engine) const {
  if (engine == nullptr) return;
  engine->Release();
  delete engine;
}

CameraDriver::CameraDriver(std::unique_ptr<SensorDevice> sensor)
    : sensor_(std::move(sensor)), stream_(this, stats_) {}

CameraDriver::~CameraDriver() { Shutdown(); }

void CameraDriver::Shutdown() {
  // Threads end before the engines and buffers they use are freed.
  stream_.StopThreads();
  Close();
  if (sensor_) sensor_->SetOwner(nullptr);
}

// ---- engines ------------------------------------------------------------

ColorEngine* CameraDriver::CreateColorEngine() {
  ColorEngine* engine = nullptr;
  try {
    if (sensor_->GetColorFlag() == 0) {
      engine = new GrayConverter();
    } else {
      const int bits = sensor_->GetOutputBitCount();
      if (bits == 32) {
        engine = new ColorConverter();
      } else if (bits == 8) {
        engine = new GrayConverter();
      } else {
        return nullptr;
      }
    }
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  // An engine that could not take the capture size has no buffers for the
  // frames; handing it out would start a stream that cannot be converted.
  if (!ConfigureEngine(engine)) {
    DestroyEngine(engine);
    return nullptr;
  }
  return engine;
}

void CameraDriver::DestroyEngine(ColorEngine* engine) { EngineDeleter()(engine); }

bool CameraDriver::ConfigureEngine(ColorEngine* engine) {
  if (engine == nullptr) return false;
  SensorDevice& s = *sensor_;
  engine->SetInputFormat(kEngineFormatRaw);
  engine->SetKeepRaw(rawCopy_.load());
  engine->SetFormat(convert_.load() ? kEngineFormatBgra32 : kEngineFormatRaw);

  const bool oneByteSamples = s.GetEightBitTransfer() != 0;
  engine->SetColorFlag(s.GetColorFlag() != 0);
  engine->SetEightBitRaw(oneByteSamples);
  engine->SetWhiteBalanceMode(s.GetEngineValue());
  engine->SetBayerPhase(s.GetBayerPhase());
  engine->SetRedGain(s.GetChannelGain1());
  engine->SetGreenGain(s.GetChannelGain2());
  engine->SetBlueGain(s.GetChannelGain3());
  // The settings the sensor hands to an attached engine as they change; a
  // fresh engine gets them here so that a restart keeps the picture as it was.
  uint8_t pairFlag = 0;
  uint8_t pairLevel = 0;
  s.GetPair(&pairFlag, &pairLevel);
  engine->SetDefectCorrection(pairFlag != 0, pairLevel);
  engine->SetContrast(s.GetAdjustment1());
  engine->SetBrightness(s.GetAdjustment2());
  engine->SetSaturation(s.GetAdjustment3());
  engine->SetHue(s.GetHue());

  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  s.GetCaptureWindow(&x, &y, &width, &height);
  // An engine that neither converts nor keeps a copy only describes the
  // frames (size and sample width); the listener takes each frame from the
  // driver's buffer. It gets no buffers: at a large window they would take a
  // frame's worth of the address space for nothing.
  const bool holdsFrames = convert_.load() || rawCopy_.load();
  // An engine that only keeps the raw frame holds it as the camera sends it:
  // the stream's rows, whose length is the capture width rounded up. Sized
  // by the capture window instead, its copy would lack the last rows of a
  // frame whose width is not a multiple of the rounding, and a consumer
  // reading the rows at their own pitch could not find them.
  if (!convert_.load()) {
    const StreamSize stream = AlignedStreamSize(width, height, oneByteSamples);
    width = stream.width;
    height = stream.height;
  }
  // The engine's input pitch and two-tap rows stay those of its size: the
  // driver never turns two-tap reordering on, and the register window (odd
  // extents on most models) is not the row length of the frames.
  if (!engine->SetSize(width, height)) return false;
  return !holdsFrames || engine->Allocate();
}

// ---- lifecycle ------------------------------------------------------------

bool CameraDriver::Open() {
  Close();
  mainEngine_.reset(CreateColorEngine());
  // Without an engine there is nothing to attach and no frame size: fail
  // rather than start a stream that could never be converted. A sensor whose
  // settings name no engine kind is the device's failure; otherwise the
  // engine's buffers could not be made.
  if (!mainEngine_) {
    const bool kindExists = sensor_->GetColorFlag() == 0 || sensor_->GetOutputBitCount() == 32 ||
                            sensor_->GetOutputBitCount() == 8;
    startFailure_ = kindExists ? StartFailure::kMemory : StartFailure::kDevice;
    return false;
  }
  sensor_->SetOwner(this);
  if (!sensor_->AttachEngine(mainEngine_.get())) {
    startFailure_ = sensor_->CameraInUse() ? StartFailure::kInUse : StartFailure::kDevice;
    Close();
    return false;
  }
  openedMode_ = deliveryMode_.load();
  if (openedMode_ == kDeliveryDirect) return true;
  slots_.Clear();
  for (EnginePtr& slot : slotEngines_) {
    slot.reset(CreateColorEngine());
    if (!slot) {
      startFailure_ = StartFailure::kMemory;
      Close();
      return false;
    }
  }
  return true;
}

void CameraDriver::Close() {
  // Close frees what the threads use: they must have ended.
  stream_.StopThreads();
  sensor_->CloseDevice();
  mainEngine_.reset();
  // Images converted and never taken by GetImage are dropped.
  stats_->framesDropped.fetch_add(static_cast<uint64_t>(slots_.Clear()));
  for (EnginePtr& slot : slotEngines_) slot.reset();
  stream_.FreePool();
}

void CameraDriver::Start() {
  const int state = state_.load();
  if (state == kDriverRunning) return;
  if (state == kDriverPaused) {
    Resume();
    return;
  }
  singleShot_ = sensor_->GetTriggerMode() != 0;
  cancelWait_.store(false);
  startFailure_ = StartFailure::kNone;
  if (!Open()) {
    SetState(kDriverFailed);
    return;
  }
  SetState(kDriverStarting);
  StartThreads();
}

void CameraDriver::StartThreads() {
  const int sectors = sensor_->GetFrameSectors();
  const size_t transferBytes = static_cast<size_t>(std::max(sectors, 0)) * kSectorSize;
  // Every buffer holds a whole transfer, whatever the sensor reports. The
  // buffers are made before the state says Running, so a start that cannot
  // have them never looks as if it ran.
  frameBufferBytes_ =
      std::max(static_cast<size_t>(std::max(sensor_->FrameBufferSize(), 0)), transferBytes);
  if (!stream_.AllocatePool(frameBufferBytes_)) {
    FailStart(StartFailure::kMemory);
    return;
  }
  std::shared_ptr<VolumeFrameReader> reader;
  if (!singleShot_) {
    if (ResourceRefused(ResourceKind::kMemory, sizeof(VolumeFrameReader))) {
      FailStart(StartFailure::kMemory);
      return;
    }
    try {
      reader = std::make_shared<VolumeFrameReader>(OpenRawVolume(sensor_->GetDriveLetter()),
                                                   sensor_->GetSectorMap());
    } catch (const std::bad_alloc&) {
      FailStart(StartFailure::kMemory);
      return;
    }
  }
  SetState(kDriverRunning);
  stats_->frameCounter.store(0);
  startTick_ = CurrentClock().TickCount();
  stats_->timing.store(startTick_);
  if (singleShot_) {
    sensor_->ApplyPendingChanges();
    return;
  }
  if (!stream_.StartThreads(
          reader, StreamGeometry{static_cast<uint32_t>(transferBytes), MinimumFrameBytes()})) {
    FailStart(StartFailure::kThread);
  }
}

void CameraDriver::FailStart(StartFailure failure) {
  startFailure_ = failure;
  Close();
  SetState(kDriverFailed);
}

void CameraDriver::Pause() {
  if (state_.load() != kDriverRunning) return;
  stream_.Pause();
  // Wait until the reader has parked, so that nothing is read after Pause
  // returns; a reader stuck in a transfer parks later, on its own.
  if (stream_.ThreadsExist()) stream_.WaitReaderParked(readerStopBoundMs_);
  SetState(kDriverPaused);
}

void CameraDriver::Resume() {
  if (state_.load() != kDriverPaused) return;
  stream_.Resume();
  SetState(kDriverRunning);
}

void CameraDriver::Stop() {
  const int state = state_.load();
  if (state != kDriverRunning && state != kDriverPaused) return;
  if (state == kDriverPaused) Resume();
  stats_->timing.store(CurrentClock().TickCount() - startTick_);
  if (singleShot_) {
    StopSingleShot(true);
  } else {
    StopThreads(true);
  }
  SetState(kDriverStopped);
}

void CameraDriver::StopThreads(bool closeAfterwards) {
  stream_.StopThreads();
  if (closeAfterwards) Close();
}

void CameraDriver::StopSingleShot(bool closeAfterwards) {
  if (closeAfterwards) Close();
}

// ---- frames -----------------------------------------------------------------

uint32_t CameraDriver::MinimumFrameBytes() {
  SensorEngine* engine = mainEngine_.get();
  if (engine == nullptr) return 1;
  const uint64_t samples =
      static_cast<uint64_t>(std::max(engine->GetWidth(), 0)) * std::max(engine->GetHeight(), 0);
  const bool oneByte = engine->IsEightBitRaw() || sensor_->GetOneByteOutput() != 0;
  // A zero minimum would take a failed read (0 bytes) for a frame.
  return static_cast<uint32_t>(std::max<uint64_t>(oneByte ? samples : samples * 2, 1));
}

size_t CameraDriver::ImageBytes(ColorEngine* engine) {
  // Rows times stride is what the image buffer holds for the formats the
  // driver uses (converted pixels, or the raw copy); the header's image size
  // describes a 32-bit picture even for the raw copy and could overrun it.
  if (engine == nullptr || engine->GetImageBuffer() == nullptr) return 0;
  return static_cast<size_t>(std::max(engine->GetStride(), 0)) *
         static_cast<size_t>(std::max(engine->GetHeight(), 0));
}

bool CameraDriver::ApplyPendingChanges() { return sensor_->ApplyPendingChanges(); }
uint64_t CameraDriver::SettingsApplied() { return sensor_->SettingsApplied(); }

void CameraDriver::DeliveryFailed() {
  delivering_ = nullptr;
  if (deliveryFailing_) return;
  deliveryFailing_ = true;
  Notify(kEventDeliveryFailed);
}

void CameraDriver::FramesStopped() { Notify(kEventFramesStopped); }

void CameraDriver::DeliverFrame(uint8_t* frame, uint64_t settings) {
  ColorEngine* main = mainEngine_.get();
  const bool convert = convert_.load();
  const bool rawCopy = rawCopy_.load();
  if (openedMode_ == kDeliveryDirect || singleShot_) {
    if (main != nullptr && (convert || rawCopy)) main->SubmitFrame(frame, frameBufferBytes_);
    stats_->framesDelivered.fetch_add(1);
    delivering_ = frame;
    Notify(kEventFrameReady);
    delivering_ = nullptr;
    deliveryFailing_ = false;
    return;
  }

  int overwritten = 0;
  const int slot = slots_.PickForWriting(&overwritten);
  stats_->framesDropped.fetch_add(static_cast<uint64_t>(overwritten));
  if (slot < 0) {
    stats_->framesDropped.fetch_add(1);  // every slot is being read
    return;
  }
  ColorEngine* target = slotEngines_[slot].get();
  if (main != nullptr && target != nullptr) {
    if (convert) {
      main->SubmitFrame(frame, frameBufferBytes_);
      const size_t bytes = std::min(ImageBytes(main), ImageBytes(target));
      if (bytes != 0) std::memcpy(target->GetImageBuffer(), main->GetImageBuffer(), bytes);
      // The raw copy travels with the image, so that GetImage hands out the
      // raw frame that belongs to it.
      if (rawCopy && main->GetRawBuffer() != nullptr && target->GetRawBuffer() != nullptr) {
        std::memcpy(target->GetRawBuffer(), main->GetRawBuffer(),
                    std::min(main->GetRawSize(), target->GetRawSize()));
      }
    } else if (rawCopy) {
      target->SubmitFrame(frame, frameBufferBytes_);
      main->SubmitFrame(frame, frameBufferBytes_);
    }
  }
  slots_.MarkReady(slot, settings);
}

uint32_t CameraDriver::GetImage(void* image, void* raw) {
  if (state_.load() != kDriverRunning) return kImageUnavailable;
  return singleShot_ ? SingleShotImage(image, raw) : QueuedImage(image, raw);
}

uint32_t CameraDriver::SingleShotImage(void* image, void* raw) {
  FrameQueue* pool = stream_.Pool();
  uint8_t* buffer = pool != nullptr ? pool->Buffer(0) : nullptr;
  ColorEngine* main = mainEngine_.get();
  if (buffer == nullptr || main == nullptr) return kImageUnavailable;
  // Without a reader thread, settings changed while running and register
  // requests deferred meanwhile are sent here, between frames, by the thread
  // that fetches them; otherwise they would wait for the next start, and a
  // deferred request would be reported as accepted but never performed.
  sensor_->ApplyPendingChanges();
  Clock& clock = CurrentClock();
  const uint32_t started = clock.TickCount();
  SectorProtocol protocol(sensor_->GetVolume(), sensor_->GetSectorMap());
  const int sectors = std::max(sensor_->GetFrameSectors(), 0);
  const uint32_t sectorsThatFit =
      static_cast<uint32_t>(std::min<size_t>(sectors, pool->BufferBytes() / kSectorSize));
  const int timeout = std::max(sensor_->GetFrameTimeout(), 0);
  if (protocol.WaitForFrame(buffer, sectorsThatFit, MinimumFrameBytes(),
                            static_cast<uint32_t>(timeout), nullptr, &cancelWait_) == 0) {
    return kImageUnavailable;
  }
  stats_->frameCounter.fetch_add(1);
  stats_->framesRead.fetch_add(1);
  stats_->timing.store(clock.TickCount() - started);
  DeliverFrame(buffer, sensor_->SettingsApplied());
  if (raw != nullptr && main->GetRawBuffer() != nullptr) {
    std::memcpy(raw, main->GetRawBuffer(), main->GetRawSize());
  }
  const size_t bytes = ImageBytes(main);
  if (image != nullptr && bytes != 0) std::memcpy(image, main->GetImageBuffer(), bytes);
  return kImageOk;
}

uint32_t CameraDriver::QueuedImage(void* image, void* raw) {
  // Direct delivery has no slots: nothing would ever become ready.
  if (openedMode_ != kDeliveryQueued) return kImageUnavailable;
  // The wait is bounded by the sensor's frame timeout, so a camera that stops
  // delivering cannot hold the application thread for ever.
  const uint32_t timeout = static_cast<uint32_t>(std::max(sensor_->GetFrameTimeout(), 0));
  // A picture reflects the settings asked for before it: frames the camera
  // exposed before the last change reached it wait in the slots and the pool,
  // and are passed over. Only those can be older, so after that many the
  // camera is not taking the changes and nothing is handed out.
  const uint64_t wanted = sensor_->SettingsRequested();
  constexpr int kMostStaleFrames = kOutputSlotCount + kFramePoolSize + 2;
  int slot = -1;
  for (int stale = 0;; ++stale) {
    while ((slot = slots_.TakeReady()) < 0) {
      if (!slots_.WaitForImage(timeout)) return kImageUnavailable;
    }
    if (slots_.SettingsOf(slot) >= wanted) break;
    slots_.Finish(slot);
    stats_->framesDropped.fetch_add(1);
    if (stale == kMostStaleFrames) return kImageUnavailable;
  }
  ColorEngine* engine = slotEngines_[slot].get();
  if (raw != nullptr && engine->GetRawBuffer() != nullptr) {
    std::memcpy(raw, engine->GetRawBuffer(), engine->GetRawSize());
  }
  const size_t bytes = ImageBytes(engine);
  if (image != nullptr && bytes != 0) std::memcpy(image, engine->GetImageBuffer(), bytes);
  slots_.Finish(slot);
  stats_->framesDelivered.fetch_add(1);
  return kImageOk;
}

uint32_t CameraDriver::GetImageHeader(void* header) {
  ColorEngine* main = mainEngine_.get();
  if (header == nullptr || main == nullptr || !main->IsAllocated() ||
      main->GetBitmapHeader() == nullptr) {
    return kImageUnavailable;
  }
  std::memcpy(header, main->GetBitmapHeader(), kBitmapHeaderBytes);
  return kImageOk;
}

// ---- fields -------------------------------------------------------------------

SensorDevice* CameraDriver::GetSensorDevice() { return sensor_.get(); }
int CameraDriver::GetState() { return state_.load(); }

namespace {
// The engines and slots are made for the mode and flags as they were at the
// start; changing them under running threads would leave the threads working
// on engines of another kind.
bool Streaming(int state) {
  return state == kDriverRunning || state == kDriverPaused || state == kDriverStarting;
}
}  // namespace

void CameraDriver::SetDeliveryMode(int mode) {
  if (!Streaming(state_.load())) deliveryMode_.store(mode);
}
int CameraDriver::GetDeliveryMode() { return deliveryMode_.load(); }
void CameraDriver::SetRawCopy(bool rawCopy) {
  if (!Streaming(state_.load())) rawCopy_.store(rawCopy);
}
bool CameraDriver::GetRawCopy() { return rawCopy_.load(); }
void CameraDriver::SetConvert(bool convert) { convert_.store(convert); }
uint32_t CameraDriver::GetTimingValue() { return stats_->timing.load(); }
int CameraDriver::GetFrameCounter() { return stats_->frameCounter.load(); }

DriverCounters CameraDriver::Counters() const {
  DriverCounters c;
  c.framesRead = stats_->framesRead.load();
  c.framesDelivered = stats_->framesDelivered.load();
  c.framesDropped = stats_->framesDropped.load();
  c.framesDiscarded = stats_->framesDiscarded.load();
  return c;
}

// ---- listeners ------------------------------------------------------------------

void CameraDriver::AddListener(FrameListener* listener) {
  // The threads walk the list without a lock, so it only changes while they
  // do not exist.
  if (listener == nullptr || Streaming(state_.load()) || stream_.ThreadsExist()) return;
  if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) return;
  listeners_.push_back(listener);
}

void CameraDriver::SetState(int state) {
  state_.store(state);
  Notify(kEventStateChanged);
}

void CameraDriver::Notify(int eventCode) {
  for (FrameListener* listener : listeners_) listener->Notify(eventCode, mainEngine_.get());
}

bool CameraDriver::IsRunning() { return state_.load() == kDriverRunning; }

void CameraDriver::ReportRegisterResult(int eventCode, const RegisterResultRecord& record) {
  for (FrameListener* listener : listeners_) listener->SetRegisterResult(record);
  Notify(eventCode);
}

}  // namespace varnel
