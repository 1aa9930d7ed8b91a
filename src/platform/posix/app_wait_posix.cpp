#include <chrono>
#include <condition_variable>
#include <mutex>

#include "platform/app_wait.h"

namespace varnel {

// Without a window message queue an event is a flag under a mutex.
class WaitableEvent::Impl {
 public:
  explicit Impl(EventReset reset) : manual_(reset == EventReset::kManual) {}

  void Set() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      signalled_ = true;
    }
    if (manual_) {
      changed_.notify_all();
    } else {
      changed_.notify_one();
    }
  }

  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
  }

  bool Wait(uint32_t timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    auto isSet = [this] { return signalled_; };
    if (timeoutMs == kWaitForever) {
      changed_.wait(lock, isSet);
    } else if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), isSet)) {
      return false;
    }
    if (!manual_) signalled_ = false;
    return true;
  }

 private:
  const bool manual_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool signalled_ = false;
};

WaitableEvent::WaitableEvent(EventReset reset) : impl_(std::make_unique<Impl>(reset)) {}
WaitableEvent::~WaitableEvent() = default;
void WaitableEvent::Set() { impl_->Set(); }
void WaitableEvent::Reset() { impl_->Reset(); }
bool WaitableEvent::Wait(uint32_t timeoutMs) { return impl_->Wait(timeoutMs); }
bool WaitableEvent::WaitOnAppThread(uint32_t timeoutMs, MessagePump) {
  return impl_->Wait(timeoutMs);
}

uint64_t RealTimeMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace varnel
