// A driver of a real model on an in-process virtual head, with a listener
// that records every event, for the driver's tests.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "device/sensor_device.h"
#include "driver/camera_driver.h"
#include "driver/model_factory.h"
#include "engine/color_engine.h"
#include "sim/virtual_head.h"
#include "stream_doubles.h"
#include "support/wait_until.h"

namespace varnel::testing {

// Records events in order. For event 1 it reads the frame number the head
// stamped into the raw copy the engine kept (when it kept one).
class RecordingListener : public FrameListener {
 public:
  struct Event {
    int code;
    int state;  // the driver's state when the event came
    RegisterResultRecord record;
  };

  explicit RecordingListener(CameraDriver* driver = nullptr, VirtualHead* head = nullptr)
      : driver_(driver), head_(head) {}

  void Notify(int eventCode, ColorEngine* engine) override {
    std::lock_guard<std::mutex> guard(mutex_);
    // The record belongs to events 2 and 3 (it is written on the reader
    // thread just before them); other events arrive on other threads.
    const bool registerEvent =
        eventCode == kEventRegisterReadDone || eventCode == kEventRegisterWriteDone;
    events_.push_back(Event{eventCode, driver_ != nullptr ? driver_->GetState() : -1,
                            registerEvent ? GetRegisterResult() : RegisterResultRecord{}});
    if (eventCode == kEventFrameReady) {
      ++frames_;
      if (head_ != nullptr && engine != nullptr && engine->GetRawBuffer() != nullptr) {
        const std::optional<uint32_t> number =
            head_->ReadFrameNumber(engine->GetRawBuffer(), engine->GetRawSize(), eitherMirrorH_);
        if (number) {
          stamps_.push_back(*number);
        } else {
          ++unreadable_;
        }
      }
    }
    changed_.notify_all();
  }

  // Waits until `count` frames have come; false only when frames stop coming
  // (none for the stall bound), however long the whole wait takes.
  bool WaitFrames(int count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return WaitForCount(
        changed_, lock, [&] { return frames_; }, count);
  }
  // Waits until `count` events of `code` have come, in the same way.
  bool WaitEvent(int code, size_t count = 1) {
    std::unique_lock<std::mutex> lock(mutex_);
    return WaitForCount(
        changed_, lock, [&] { return Count(code); }, count);
  }
  std::vector<Event> Events() {
    std::lock_guard<std::mutex> guard(mutex_);
    return events_;
  }
  std::vector<int> StatesNotified() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<int> states;
    for (const Event& e : events_) {
      if (e.code == kEventStateChanged) states.push_back(e.state);
    }
    return states;
  }
  size_t CountEvents(int code) {
    std::lock_guard<std::mutex> guard(mutex_);
    return Count(code);
  }
  std::vector<uint32_t> Stamps() {
    std::lock_guard<std::mutex> guard(mutex_);
    return stamps_;
  }
  int Frames() {
    std::lock_guard<std::mutex> guard(mutex_);
    return frames_;
  }
  int Unreadable() {
    std::lock_guard<std::mutex> guard(mutex_);
    return unreadable_;
  }
  // Reads the stamps of frames taken before the head's horizontal mirror last
  // changed too: the listener may run several frames behind the reader.
  void ReadStampsEitherMirrorH() {
    std::lock_guard<std::mutex> guard(mutex_);
    eitherMirrorH_ = true;
  }
  void Clear() {
    std::lock_guard<std::mutex> guard(mutex_);
    events_.clear();
    stamps_.clear();
    frames_ = 0;
    unreadable_ = 0;
  }

 private:
  size_t Count(int code) const {
    size_t n = 0;
    for (const Event& e : events_) n += e.code == code ? 1 : 0;
    return n;
  }

  CameraDriver* driver_;
  VirtualHead* head_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Event> events_;
  std::vector<uint32_t> stamps_;
  int frames_ = 0;
  int unreadable_ = 0;
  bool eitherMirrorH_ = false;
};

// A head of `model` on drive letter `letter` and its model's driver, with a
// fast clock for both, so protocol pauses and frame pacing cost no real time.
class DriverFixture : public ::testing::Test {
 protected:
  static constexpr char16_t kLetter = u'Q';

  void Make(ModelCode model, uint32_t frameTimeoutMs = 500) {
    HeadOptions options;
    options.clock = &*clock_;
    options.framesPerSecond = 200.0;
    head_ = std::make_shared<VirtualHead>(model, options);
    ASSERT_TRUE(head_->AttachTo(kLetter));
    driver_ = CreateCameraDriver(model);
    ASSERT_NE(driver_, nullptr);
    sensor().SetDriveLetter(kLetter);
    sensor().SetFrameTimeout(static_cast<int>(frameTimeoutMs));
    listener_ = std::make_unique<RecordingListener>(driver_.get(), head_.get());
    driver_->AddListener(listener_.get());
  }

  void TearDown() override {
    if (driver_) driver_->Stop();
    driver_.reset();
    if (head_) head_->Detach();
  }

  SensorDevice& sensor() { return *driver_->GetSensorDevice(); }

  ScopedFastClock clock_;
  std::shared_ptr<VirtualHead> head_;
  std::unique_ptr<CameraDriver> driver_;
  std::unique_ptr<RecordingListener> listener_;
};

}  // namespace varnel::testing
