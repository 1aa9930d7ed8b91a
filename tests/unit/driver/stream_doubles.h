// Small doubles for the streaming threads: a frame source that stamps a
// sequence number into each frame and can answer short, block, or fail on
// request; a host that records what was delivered and can hold the
// dispatcher; and a clock whose pauses cost almost nothing.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/frame_stream.h"
#include "platform/clock.h"
#include "support/test_clock.h"
#include "support/wait_until.h"

namespace varnel::testing {

// Installs the stepping test clock for the lifetime of the object. Its pauses
// are recorded and last a few microseconds for real, so tests neither wait for
// real nor spin a core flat out.
class ScopedFastClock {
 public:
  SteppingClock& operator*() { return clock_; }
  SteppingClock* operator->() { return &clock_; }

 private:
  SteppingClock clock_{SteppingClock::kDefaultStart, std::chrono::microseconds(50)};
  ScopedCurrentClock installed_{&clock_};
};

// Fills a frame so that every byte depends on the sequence number: a frame
// that is torn or half-written fails CheckFrame.
inline void StampFrame(uint8_t* frame, uint32_t bytes, uint32_t sequence) {
  std::memcpy(frame, &sequence, sizeof sequence);
  for (uint32_t i = sizeof sequence; i < bytes; ++i) {
    frame[i] = static_cast<uint8_t>(sequence * 31u + i);
  }
}
inline bool CheckFrame(const uint8_t* frame, uint32_t bytes, uint32_t* sequence) {
  std::memcpy(sequence, frame, sizeof *sequence);
  for (uint32_t i = sizeof *sequence; i < bytes; ++i) {
    if (frame[i] != static_cast<uint8_t>(*sequence * 31u + i)) return false;
  }
  return true;
}

// A frame source. Each complete read returns the next frame in camera order;
// scripted results make single reads short; Block() makes reads hang until
// Unblock().
class ScriptedReader : public FrameReader {
 public:
  struct Read {
    int area;
    const uint8_t* destination;
    uint32_t bytes;
  };

  explicit ScriptedReader(uint32_t frameBytes) : frameBytes_(frameBytes) {}

  uint32_t ReadFrame(int area, uint8_t* buffer, uint32_t bytes) override {
    std::unique_lock<std::mutex> lock(mutex_);
    const size_t index = started_++;
    ++inTransfer_;
    changed_.notify_all();
    changed_.wait(lock, [&] { return !blocked_ && index < holdAfter_; });
    --inTransfer_;
    uint32_t result = bytes;
    if (!script_.empty()) {
      result = script_.front();
      script_.pop_front();
    }
    if (result >= frameBytes_) StampFrame(buffer, frameBytes_, nextSequence_++);
    reads_.push_back(Read{area, buffer, result});
    changed_.notify_all();
    return result;
  }

  // The next reads return these byte counts (in order) instead of a frame.
  void Script(std::initializer_list<uint32_t> results) {
    std::lock_guard<std::mutex> guard(mutex_);
    script_.insert(script_.end(), results);
  }
  void Block() {
    std::lock_guard<std::mutex> guard(mutex_);
    blocked_ = true;
  }
  void Unblock() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      blocked_ = false;
      holdAfter_ = SIZE_MAX;
    }
    changed_.notify_all();
  }
  // Waits until a read is in flight (blocked or not).
  bool WaitInTransfer() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kStallBound, [this] { return inTransfer_ > 0; });
  }
  // Waits until at least `count` reads have completed (see WaitForCount).
  bool WaitReads(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return WaitForCount(
        changed_, lock, [&] { return reads_.size(); }, count);
  }
  // Reads after the first `count` hang until Unblock(), so that a test can
  // look at a stream that stands still after exactly `count` reads.
  void HoldAfter(size_t count) {
    std::lock_guard<std::mutex> guard(mutex_);
    holdAfter_ = count;
  }
  // Waits until a read is being held by HoldAfter: the reader is then done
  // with every read before it.
  bool WaitHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kStallBound, [this] { return started_ > holdAfter_; });
  }
  std::vector<Read> Reads() {
    std::lock_guard<std::mutex> guard(mutex_);
    return reads_;
  }

 private:
  const uint32_t frameBytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<uint32_t> script_;
  std::vector<Read> reads_;
  uint32_t nextSequence_ = 0;
  size_t started_ = 0;
  size_t holdAfter_ = SIZE_MAX;
  int inTransfer_ = 0;
  bool blocked_ = false;
};

// A host that records the sequence numbers it is given and can hold the
// dispatcher inside DeliverFrame, and whose ApplyPendingChanges reports sent
// changes as often as asked.
class RecordingHost : public StreamHost {
 public:
  explicit RecordingHost(uint32_t frameBytes) : frameBytes_(frameBytes) {}

  bool ApplyPendingChanges() override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (applyDelay_.count() > 0) {
      inApply_ = true;
      changed_.notify_all();
      lock.unlock();
      std::this_thread::sleep_for(applyDelay_);
      lock.lock();
      inApply_ = false;
    }
    if (changesToReport_ > 0) {
      --changesToReport_;
      return true;
    }
    return false;
  }

  void DeliverFrame(uint8_t* frame, uint64_t) override {
    std::unique_lock<std::mutex> lock(mutex_);
    uint32_t sequence = 0;
    if (!CheckFrame(frame, frameBytes_, &sequence)) ++torn_;
    delivered_.push_back(sequence);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !holdDelivery_; });
  }

  void ReportChanges(int times) {
    std::lock_guard<std::mutex> guard(mutex_);
    changesToReport_ += times;
  }
  void SetApplyDelay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> guard(mutex_);
    applyDelay_ = delay;
  }
  bool WaitInApply() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, kStallBound, [this] { return inApply_; });
  }
  bool InApply() {
    std::lock_guard<std::mutex> guard(mutex_);
    return inApply_;
  }
  void HoldDelivery(bool hold) {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      holdDelivery_ = hold;
    }
    changed_.notify_all();
  }
  bool WaitDelivered(size_t count) {
    std::unique_lock<std::mutex> lock(mutex_);
    return WaitForCount(
        changed_, lock, [&] { return delivered_.size(); }, count);
  }
  std::vector<uint32_t> Delivered() {
    std::lock_guard<std::mutex> guard(mutex_);
    return delivered_;
  }
  int Torn() {
    std::lock_guard<std::mutex> guard(mutex_);
    return torn_;
  }

 private:
  const uint32_t frameBytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<uint32_t> delivered_;
  int torn_ = 0;
  int changesToReport_ = 0;
  bool holdDelivery_ = false;
  bool inApply_ = false;
  std::chrono::milliseconds applyDelay_{0};
};

}  // namespace varnel::testing
