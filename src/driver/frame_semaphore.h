// Counts the complete frames queued for the dispatcher (initial 0, at most
// 0x7FFFFFFF). A mutex and a condition variable rather than a C++20 semaphore,
// so that it behaves the same with every runtime the library is built with.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace varnel {

class FrameSemaphore {
 public:
  static constexpr int32_t kMaximum = 0x7FFFFFFF;

  // Adds `count`; a release beyond the maximum is refused (false), as the
  // system semaphore refuses it.
  bool Release(int32_t count = 1);
  // Waits without time limit until the count is positive, then takes one.
  void Acquire();
  // Takes one if the count is positive; never waits.
  bool TryAcquire();
  int32_t Count();

 private:
  std::mutex mutex_;
  std::condition_variable positive_;
  int32_t count_ = 0;
};

}  // namespace varnel
