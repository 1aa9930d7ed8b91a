// What a driver tells the objects that registered with it: its state changes,
// converted frames, and the outcome of register requests that were deferred
// while it streamed. The camera instance is the listener in the library.
#pragma once

#include <mutex>

#include "device/sensor_owner.h"

namespace varnel {

class ColorEngine;

// Event codes of FrameListener::Notify.
inline constexpr int kEventStateChanged = 0;
inline constexpr int kEventFrameReady = 1;
// kEventRegisterReadDone (2) and kEventRegisterWriteDone (3) come from
// device/sensor_owner.h.
// Frames stopped coming from the dispatcher: one could not be delivered for
// want of memory (told once until a frame is delivered again).
inline constexpr int kEventDeliveryFailed = 4;
// Frames stopped coming from the camera: its reads have failed for a while
// (told once per such stretch, on the reader thread).
inline constexpr int kEventFramesStopped = 5;

class FrameListener {
 public:
  // `engine` is the engine holding the converted frame for event 1, and the
  // driver's main engine for the other events (null while the driver has no
  // engine, for example before its first start).
  //
  // Threads: event 0 arrives on the application thread; event 1 on the
  // dispatcher thread in direct delivery and on the application thread for a
  // single-shot frame; events 2 and 3 on the reader thread.
  virtual void Notify(int eventCode, ColorEngine* engine) = 0;
  virtual ~FrameListener() = default;

  // The outcome of the last deferred register request. The driver stores it
  // on the reader thread just before it notifies events 2 and 3 on the same
  // thread; the application thread reads it (and presets it) while the
  // reader may write it, so both go through a lock.
  RegisterResultRecord GetRegisterResult() const {
    std::lock_guard<std::mutex> lock(registerMutex_);
    return registerResult_;
  }
  void SetRegisterResult(const RegisterResultRecord& record) {
    std::lock_guard<std::mutex> lock(registerMutex_);
    registerResult_ = record;
  }

 private:
  mutable std::mutex registerMutex_;
  RegisterResultRecord registerResult_;
};

}  // namespace varnel
