// The per-instance record of failures and the codes it holds.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/window_messages.h"

namespace varnel {

// Error codes as the application reads them with Varnel_GetLastError.
enum ErrorCode : int {
  kErrorNone = 0,
  kErrorNoDriver = 1,       // no camera driver attached to the instance
  kErrorDeviceSelect = 2,   // device could not be selected
  kErrorWorker = 3,         // worker thread or its event could not be created
  kErrorPreviewWindow = 4,  // preview window or its device context not created
  kErrorMemory = 5,         // memory or buffer problem
  kErrorRegister = 6,       // the camera refused a register or sync command
  kErrorCaptureWindow = 7,  // capture window not allowed or not valid
  kErrorFrameRead = 8,      // a frame could not be read
  kErrorRange = 9,          // argument out of range
  kErrorNotSupported = 11,  // operation not supported
};

// The twenty most recent error codes of one instance, newest in slot 0. Every
// push also tells the application's notification window, so an application
// that does not poll still learns of each failure. The frame threads push as
// well as the application thread: the slots are guarded by a lock.
class ErrorStack {
 public:
  static constexpr int kDepth = 20;

  // The window that receives message 0x8003 for each pushed code; null posts
  // nothing.
  void SetWindow(WindowHandle window) { window_ = window; }
  WindowHandle Window() const { return window_; }

  // Records `code` as the newest; the oldest of twenty is lost. Posts 0x8003
  // with wParam 0 and lParam = code to the window when one is set.
  void Push(int code);

  // Takes the newest code off the stack; 0 when none is pending.
  int Pop();

  // Slot `index` (0 = newest) without consuming it; 0 outside 0..19.
  int Peek(int index) const;

 private:
  mutable std::mutex mutex_;
  int32_t slots_[kDepth] = {};
  WindowHandle window_ = nullptr;
};

}  // namespace varnel
