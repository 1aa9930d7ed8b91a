// Copying a frame into the application's buffer, and the buffer, window and
// row order that streaming and triggered frames are delivered to.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/window_messages.h"

namespace varnel {

class DibImage;

// Copies `image` into `buffer`, row by row with each row's padding to 4 bytes:
// with `topRowFirst` non-zero the picture's top row first (the image's own
// order), with 0 its bottom row first. Returns false and copies nothing when
// the buffer is null, the image is empty or `size` is below stride x height.
bool CopyFrameOut(const DibImage& image, int topRowFirst, void* buffer, int size);

// The application's frame window, out buffer, out size and row order, as
// given to the callback preview or the trigger start. The application thread
// changes them while the frame thread delivers into them: one lock covers the
// reading of all four and the copy itself, so a frame is never copied into a
// buffer the application has already replaced (or freed after the change).
class FrameOutTarget {
 public:
  enum class Outcome {
    kDelivered,  // copied when a buffer is set, announced when a window is set
    kTooSmall,   // the buffer is below the image's size: nothing copied, 0x8002 (0, 5) posted
  };

  void Set(WindowHandle window, void* buffer, int size, int topRowFirst);
  void Clear() { Set(nullptr, nullptr, 0, 0); }

  // Copies `image` to the out buffer when a buffer and a size are set, then,
  // when `frameInfo` is not 0 and a window is set, posts 0x8002 with it. A
  // buffer that is too small posts 0x8002 (0, 5) and announces nothing.
  // `announced` (may be null) tells whether the frame message went out.
  Outcome Deliver(const DibImage& image, uintptr_t frameInfo, bool* announced);

  // Posts `message` to the frame window when one is set; false otherwise.
  bool PostToWindow(uint32_t message, uintptr_t wParam, intptr_t lParam);
  bool HasWindow();

 private:
  std::mutex mutex_;
  WindowHandle window_ = nullptr;
  void* buffer_ = nullptr;
  int size_ = 0;
  int topRowFirst_ = 0;
};

}  // namespace varnel
