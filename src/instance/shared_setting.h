// A setting the application thread writes while the instance's frame threads
// read it. Each read and write is a relaxed atomic access: a change takes
// effect from the next frame, as with a plain value, but the threads never
// race on it. Reads and assignments look like those of a plain value.
#pragma once

#include <atomic>

namespace varnel {

template <typename T>
class SharedSetting {
 public:
  SharedSetting(T value = T{}) : value_(value) {}  // NOLINT: reads like the plain value it replaces
  SharedSetting(const SharedSetting&) = delete;
  SharedSetting& operator=(const SharedSetting&) = delete;

  SharedSetting& operator=(T value) {
    value_.store(value, std::memory_order_relaxed);
    return *this;
  }
  operator T() const { return value_.load(std::memory_order_relaxed); }  // NOLINT
  T Load() const { return value_.load(std::memory_order_relaxed); }

 private:
  std::atomic<T> value_;
};

}  // namespace varnel
