#include "driver/pause_gate.h"

#include <chrono>

namespace varnel {

void PauseGate::Close() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (!cancelled_) closed_ = true;
}

void PauseGate::Open() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closed_ = false;
  }
  changed_.notify_all();
}

void PauseGate::Cancel() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    cancelled_ = true;
    closed_ = false;
  }
  changed_.notify_all();
}

void PauseGate::Pass() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!closed_) return;
  parked_ = true;
  changed_.notify_all();
  changed_.wait(lock, [this] { return !closed_; });
  parked_ = false;
  changed_.notify_all();
}

bool PauseGate::IsClosed() {
  std::lock_guard<std::mutex> guard(mutex_);
  return closed_;
}

bool PauseGate::IsParked() {
  std::lock_guard<std::mutex> guard(mutex_);
  return parked_;
}

bool PauseGate::WaitParked(unsigned timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return parked_; });
}

}  // namespace varnel
