#include "display/frame_copy_out.h"

#include "imagefile/dib_image.h"
#include "imaging/row_copy.h"

namespace varnel {

namespace {
// The lParam of 0x8002 when the out buffer is too small.
constexpr intptr_t kFrameBufferTooSmall = 5;
}  // namespace

bool CopyFrameOut(const DibImage& image, int topRowFirst, void* buffer, int size) {
  if (buffer == nullptr || image.Empty()) return false;
  const size_t required = image.ImageSize();
  if (size < 0 || static_cast<size_t>(size) < required) return false;
  const ptrdiff_t stride = image.Stride();
  CopyRows(static_cast<uint8_t*>(buffer), stride, image.Pixels(), stride,
           static_cast<size_t>(stride), image.Height(), topRowFirst == 0);
  return true;
}

void FrameOutTarget::Set(WindowHandle window, void* buffer, int size, int topRowFirst) {
  std::lock_guard<std::mutex> lock(mutex_);
  window_ = window;
  buffer_ = buffer;
  size_ = size;
  topRowFirst_ = topRowFirst;
}

FrameOutTarget::Outcome FrameOutTarget::Deliver(const DibImage& image, uintptr_t frameInfo,
                                                bool* announced) {
  if (announced != nullptr) *announced = false;
  std::lock_guard<std::mutex> lock(mutex_);
  if (buffer_ != nullptr && size_ != 0 && !CopyFrameOut(image, topRowFirst_, buffer_, size_)) {
    if (window_ != nullptr) PostWindowMessage(window_, kMessageFrame, 0, kFrameBufferTooSmall);
    return Outcome::kTooSmall;
  }
  if (frameInfo != 0 && window_ != nullptr) {
    PostWindowMessage(window_, kMessageFrame, frameInfo, 0);
    if (announced != nullptr) *announced = true;
  }
  return Outcome::kDelivered;
}

bool FrameOutTarget::PostToWindow(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (window_ == nullptr) return false;
  PostWindowMessage(window_, message, wParam, lParam);
  return true;
}

bool FrameOutTarget::HasWindow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return window_ != nullptr;
}

}  // namespace varnel
