// The clock the tests install in place of the system clock. The library takes
// every pause and every tick count from CurrentClock(), so with this clock the
// protocol's fixed pauses cost no real time, paced frames arrive at once, and
// a test can count afterwards which pauses were taken.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"

namespace varnel::testing {

// Time moves only when someone sleeps on the clock (or the test advances it),
// so ticks depend on the pauses taken and never on the machine's speed; a
// clock nobody sleeps on stands still. Every pause is counted, and the first
// kKeptSleeps in order. Safe to share between threads.
class SteppingClock final : public Clock {
 public:
  static constexpr uint32_t kDefaultStart = 1000;
  // How many pauses are kept in order. A thread that paces itself by this
  // clock while a test waits on real time (a reader retrying a camera that
  // went away) can take millions of pauses: on Windows a real pause shorter
  // than a millisecond does not pause at all. Counting them costs no memory.
  static constexpr size_t kKeptSleeps = size_t{1} << 16;

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
      if (sleeps_.size() < kKeptSleeps) sleeps_.push_back(milliseconds);
      ++counts_[milliseconds];
    }
    if (realPause_.count() > 0) std::this_thread::sleep_for(realPause_);
  }

  // Moves time on without recording a pause, as if the test had waited.
  void Advance(uint32_t milliseconds) { now_.fetch_add(milliseconds); }

  // The pauses taken since the start or the last ClearSleeps, in order (the
  // first kKeptSleeps of them).
  std::vector<uint32_t> Sleeps() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sleeps_;
  }
  // How many of those pauses (all of them) lasted exactly `milliseconds`.
  size_t CountSleeps(uint32_t milliseconds) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = counts_.find(milliseconds);
    return found == counts_.end() ? 0 : found->second;
  }
  void ClearSleeps() {
    std::lock_guard<std::mutex> lock(mutex_);
    sleeps_.clear();
    counts_.clear();
  }

 private:
  const std::chrono::microseconds realPause_;
  std::atomic<uint32_t> now_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> sleeps_;
  std::map<uint32_t, size_t> counts_;
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
