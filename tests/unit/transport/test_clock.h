// Clocks for tests of the protocol and the virtual head: time moves only when
// someone sleeps, and every pause is recorded, so fixed pauses can be counted
// and paced frames arrive at once.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/clock.h"

namespace varnel::testing {

class SteppingClock final : public Clock {
 public:
  uint32_t TickCount() override { return now_.load(); }
  uint32_t TimeMs() override { return now_.load(); }
  void Sleep(uint32_t milliseconds) override {
    {
      std::lock_guard lock(mutex_);
      sleeps_.push_back(milliseconds);
    }
    now_.fetch_add(milliseconds);
  }
  void Advance(uint32_t milliseconds) { now_.fetch_add(milliseconds); }
  std::vector<uint32_t> Sleeps() const {
    std::lock_guard lock(mutex_);
    return sleeps_;
  }
  void ClearSleeps() {
    std::lock_guard lock(mutex_);
    sleeps_.clear();
  }

 private:
  std::atomic<uint32_t> now_{1000};
  mutable std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
};

// Installs a clock as CurrentClock() for the lifetime of the guard.
class ScopedCurrentClock {
 public:
  explicit ScopedCurrentClock(Clock* clock) : previous_(SetCurrentClock(clock)) {}
  ~ScopedCurrentClock() { SetCurrentClock(previous_); }
  ScopedCurrentClock(const ScopedCurrentClock&) = delete;
  ScopedCurrentClock& operator=(const ScopedCurrentClock&) = delete;

 private:
  Clock* previous_;
};

}  // namespace varnel::testing
