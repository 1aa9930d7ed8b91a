// How a camera driver reports to the objects that listen to it.
#pragma once

#include <cstdint>

#include "device/sensor_owner.h"

namespace varnel {

class ColorEngine;

// Event codes of FrameListener::Notify.
inline constexpr int kEventStateChanged = 0;
inline constexpr int kEventFrameReady = 1;
// kEventRegisterReadDone (2) and kEventRegisterWriteDone (3) come with the
// sensor's owner interface.

// A driver holds non-owning pointers to its listeners and calls Notify from its
// dispatcher thread (frames) or its reader thread (deferred register results).
// Before a register event the driver fills the listener's register-result
// record, from which the listener reads the transfer's outcome.
class FrameListener {
 public:
  virtual ~FrameListener() = default;
  virtual void Notify(int eventCode, ColorEngine* engine) = 0;

  RegisterResultRecord registerResult_;
};

}  // namespace varnel
