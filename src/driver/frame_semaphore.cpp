#include "driver/frame_semaphore.h"

namespace varnel {

bool FrameSemaphore::Release(int32_t count) {
  if (count <= 0) return false;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (count > kMaximum - count_) return false;
    count_ += count;
  }
  positive_.notify_all();
  return true;
}

void FrameSemaphore::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  positive_.wait(lock, [this] { return count_ > 0; });
  --count_;
}

bool FrameSemaphore::TryAcquire() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (count_ == 0) return false;
  --count_;
  return true;
}

int32_t FrameSemaphore::Count() {
  std::lock_guard<std::mutex> guard(mutex_);
  return count_;
}

}  // namespace varnel
