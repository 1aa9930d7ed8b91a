// The per-model camera driver: it embeds the model's SensorDevice, owns the
// colour engines that turn raw frames into images, runs the reader and
// dispatcher threads, holds converted images for GetImage, and tells its
// FrameListeners about state changes, frames and deferred register results.
//
// Every operation except the listener callbacks runs on the application
// thread. Frames are read on the reader thread and converted and delivered on
// the dispatcher thread (see frame_stream.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "device/model_code.h"
#include "device/sensor_owner.h"
#include "driver/frame_listener.h"
#include "driver/frame_stream.h"
#include "driver/output_slots.h"

namespace varnel {

class ColorEngine;
class SensorDevice;

enum DriverState : int {
  kDriverStarting = 0,
  kDriverRunning = 1,
  kDriverPaused = 2,
  kDriverStopped = 3,
  kDriverCreated = 4,
  kDriverFailed = 5,
};

enum DeliveryMode : int {
  kDeliveryQueued = 0,  // converted images wait in the output slots for GetImage
  kDeliveryDirect = 1,  // listeners get each converted frame (event 1)
};

// Result of the image operations.
inline constexpr uint32_t kImageOk = 0;
inline constexpr uint32_t kImageUnavailable = 0xF00000;

// Why the last Start left the driver Failed.
enum class StartFailure {
  kNone,
  kDevice,  // no engine for the sensor's settings, or the camera volume did not open
  kMemory,  // an engine, a frame buffer or the scratch buffer could not be made
  kThread,  // a streaming thread could not be started
  kInUse,   // another user (program or handle) has the camera open
};

// Frame counts of a driver; they never go backwards (see StreamStats).
struct DriverCounters {
  uint64_t framesRead = 0;
  uint64_t framesDelivered = 0;
  uint64_t framesDropped = 0;
  uint64_t framesDiscarded = 0;
};

class CameraDriver : public SensorOwner, private StreamHost {
 public:
  CameraDriver(const CameraDriver&) = delete;
  CameraDriver& operator=(const CameraDriver&) = delete;

  // ---- Operation table ---------------------------------------------------
  // Stops a stream that still runs and frees the engines and buffers, so that
  // nothing outlives the driver; then the sensor closes its volume.
  ~CameraDriver() override;
  virtual ModelCode GetModelCode() const = 0;
  // A new engine of the kind the sensor asks for, configured; null when the
  // sensor's output bit count has no engine (or memory ran out).
  virtual ColorEngine* CreateColorEngine();
  virtual void DestroyEngine(ColorEngine* engine);
  // Copies the next image (and its raw frame) into the destinations, either
  // may be null. kImageOk, or kImageUnavailable when not Running or no frame
  // came in time.
  virtual uint32_t GetImage(void* image, void* raw);
  // Copies the main engine's 40-byte bitmap header.
  virtual uint32_t GetImageHeader(void* header);
  virtual SensorDevice* GetSensorDevice();
  virtual int GetState();
  virtual void SetDeliveryMode(int mode);
  virtual int GetDeliveryMode();
  virtual void SetRawCopy(bool rawCopy);
  virtual bool GetRawCopy();
  virtual void SetConvert(bool convert);
  virtual uint32_t GetTimingValue();
  virtual int GetFrameCounter();
  virtual void Start();
  virtual void Pause();
  virtual void Stop();
  virtual bool Open();
  virtual void Close();
  virtual bool ConfigureEngine(ColorEngine* engine);
  virtual void StartThreads();
  virtual void StopThreads(bool closeAfterwards);
  virtual void StopSingleShot(bool closeAfterwards);

  // ---- Not in the operation table ------------------------------------------
  // Resumes a paused driver.
  void Resume();
  // Ends a single-shot GetImage that is waiting for a triggered frame at its
  // next poll (it returns kImageUnavailable), so that a thread fetching
  // triggered frames can be stopped without waiting out the frame timeout.
  // Holds until the next Start.
  void CancelImageWait() { cancelWait_.store(true); }
  // The frame being delivered directly, as the camera sent it, and its bytes:
  // valid only inside a frame notification (event 1), on the thread that
  // makes it; null otherwise. A listener that takes the raw frame from here
  // needs no raw copy in the engine (raw-copy and convert flags both off
  // spare a copy of every frame).
  const uint8_t* DeliveredFrame(size_t* bytes) const {
    if (bytes != nullptr) *bytes = delivering_ != nullptr ? frameBufferBytes_ : 0;
    return delivering_;
  }
  // Adds a listener once; nothing is added while the stream threads run.
  void AddListener(FrameListener* listener);
  bool GetConvert() const { return convert_.load(); }
  // Why the last Start failed (kNone after a start that worked).
  StartFailure LastStartFailure() const { return startFailure_; }
  DriverCounters Counters() const;
  // How long Stop waits for a reader stuck in a frame transfer before it
  // leaves it behind (see FrameStream).
  void SetReaderStopBound(uint32_t milliseconds) {
    readerStopBoundMs_ = milliseconds;
    stream_.SetReaderStopBound(milliseconds);
  }
  size_t ReadersLeftBehind() { return stream_.ReadersLeftBehind(); }

  // For tests: the pool and the slots as the threads see them.
  FrameQueue* FramePoolForTest() { return stream_.Pool(); }
  OutputSlots& OutputSlotsForTest() { return slots_; }
  ColorEngine* MainEngineForTest() { return mainEngine_.get(); }
  bool ThreadsExist() const { return stream_.ThreadsExist(); }
  bool IsSingleShot() const { return singleShot_; }

  // ---- SensorOwner -----------------------------------------------------
  bool IsRunning() override;
  void ReportRegisterResult(int eventCode, const RegisterResultRecord& record) override;

 protected:
  explicit CameraDriver(std::unique_ptr<SensorDevice> sensor);
  // Stops the threads and frees the engines and buffers. The most derived
  // destructor calls it first, while the threads still see the whole object.
  void Shutdown();

 private:
  struct EngineDeleter {
    void operator()(ColorEngine* engine) const;
  };
  using EnginePtr = std::unique_ptr<ColorEngine, EngineDeleter>;

  // StreamHost
  bool ApplyPendingChanges() override;
  uint64_t SettingsApplied() override;
  void DeliverFrame(uint8_t* frame, uint64_t settings) override;
  void DeliveryFailed() override;
  void FramesStopped() override;

  void SetState(int state);
  // Ends a start that could not get what it needs: everything it made is
  // given back and the state becomes Failed.
  void FailStart(StartFailure failure);
  void Notify(int eventCode);
  uint32_t MinimumFrameBytes();
  uint32_t SingleShotImage(void* image, void* raw);
  uint32_t QueuedImage(void* image, void* raw);
  static size_t ImageBytes(ColorEngine* engine);

  std::vector<FrameListener*> listeners_;
  std::atomic<int> state_{kDriverCreated};
  std::atomic<int> deliveryMode_{kDeliveryDirect};
  std::atomic<bool> rawCopy_{false};
  std::atomic<bool> convert_{true};
  std::atomic<bool> cancelWait_{false};
  EnginePtr mainEngine_;
  EnginePtr slotEngines_[kOutputSlotCount];
  // Delivery mode the engines were opened for: the slots exist only when it
  // is queued, whatever the mode field says later.
  int openedMode_ = kDeliveryDirect;
  OutputSlots slots_;
  bool singleShot_ = false;
  StartFailure startFailure_ = StartFailure::kNone;
  uint32_t startTick_ = 0;
  size_t frameBufferBytes_ = 0;
  // The frame of the notification in progress (dispatcher or fetching thread).
  const uint8_t* delivering_ = nullptr;
  // Dispatcher thread: a delivery failed and no frame was delivered since.
  bool deliveryFailing_ = false;
  uint32_t readerStopBoundMs_ = kDefaultReaderStopBoundMs;
  std::shared_ptr<StreamStats> stats_ = std::make_shared<StreamStats>();
  std::unique_ptr<SensorDevice> sensor_;
  // Declared last: destroyed first, so its threads end before anything they use.
  FrameStream stream_;
};

}  // namespace varnel
