// The clock the tests install in place of the system clock. The library takes
// every pause and every tick count from CurrentClock(), so with this clock the
// protocol's fixed pauses cost no real time, paced frames arrive at once, and
// a test can count afterwards which pauses were taken.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace varnel::testing {

// Time moves only when someone sleeps on the clock (or the test advances it),
// so ticks depend on the pauses taken and never on the machine's speed; a
// clock nobody sleeps on stands still. Every pause is recorded. Safe to share
// between threads.
class SteppingClock final : public Clock {
 public:
  static constexpr uint32_t kDefaultStart = 1000;

  // `realPause` is how long each Sleep really waits: threads that pace
  // themselves by the clock (a stream reader, say) then neither wait the full
  // pause nor spin a core flat out. Zero returns at once.
  explicit SteppingClock(uint32_t start = kDefaultStart,
                         std::chrono::microseconds realPause = std::chrono::microseconds(0))
      : realPause_(realPause), now_(start) {}

  uint32_t TickCount() override { return now_.load(); }
  uint32_t TimeMs() override { return now_.load(); }
  void Sleep(uint32_t milliseconds) override {
    now_.fetch_add(milliseconds);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      sleeps_.push_back(milliseconds);
    }
    if (realPause_.count() > 0) std::this_thread::sleep_for(realPause_);
  }

  // Moves time on without recording a pause, as if the test had waited.
  void Advance(uint32_t milliseconds) { now_.fetch_add(milliseconds); }

  // Every pause taken since the start or the last ClearSleeps, in order.
  std::vector<uint32_t> Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  // How many of those pauses lasted exactly `milliseconds`.
  size_t CountSleeps(uint32_t milliseconds) const {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t n = 0;
    for (uint32_t s : sleeps_) n += s == milliseconds ? 1 : 0;
    return n;
  }
  void ClearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
  }

 private:
  const std::chrono::microseconds realPause_;
  std::atomic<uint32_t> now_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
};

// Installs a clock as CurrentClock() for the lifetime of the guard, and puts
// back the one it replaced, so that a failing test cannot leave its clock
// installed for the tests after it.
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
