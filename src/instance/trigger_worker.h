// The thread of a triggered instance: it fetches triggered frames in a loop
// until it is told to stop, and signals an event as it ends.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "platform/app_wait.h"

namespace varnel {

class TriggerWorker {
 public:
  TriggerWorker() = default;
  // Stops and joins a worker that still runs.
  ~TriggerWorker();
  TriggerWorker(const TriggerWorker&) = delete;
  TriggerWorker& operator=(const TriggerWorker&) = delete;

  // Starts the thread; it calls `fetchOne` repeatedly while the run flag is
  // set. False, with nothing running, when the finished event or the thread
  // cannot be made.
  bool Start(std::function<void()> fetchOne);

  // Whether the loop is to go on; the loop body reads it too.
  bool ShouldRun() const { return run_.load(std::memory_order_acquire) != 0; }
  bool Exists() const { return thread_.joinable(); }

  // Clears the run flag: the loop ends after the frame in hand.
  void RequestStop() { run_.store(0, std::memory_order_release); }

  // Waits, serving window messages, up to `boundMs` for the thread to leave
  // its loop, then joins it and closes the event. Returns true when it left
  // within the bound. A thread that has not left by then is still joined:
  // what it uses (the frame engine, the driver's frame buffer) must not be
  // given back under it.
  bool Finish(uint32_t boundMs);

 private:
  std::atomic<int> run_{0};
  std::unique_ptr<WaitableEvent> finished_;
  std::thread thread_;
};

}  // namespace varnel
