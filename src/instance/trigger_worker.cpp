#include "instance/trigger_worker.h"

#include "platform/resources.h"

#include <new>
#include <system_error>

namespace varnel {

TriggerWorker::~TriggerWorker() {
  RequestStop();
  if (thread_.joinable()) thread_.join();
}

bool TriggerWorker::Start(std::function<void()> fetchOne) {
  if (thread_.joinable()) return false;
  try {
    finished_ = std::make_unique<WaitableEvent>(EventReset::kManual);
  } catch (const std::bad_alloc&) {
    return false;
  }
  run_.store(1, std::memory_order_release);
  WaitableEvent* finished = finished_.get();
  if (!TryStartThread(thread_, [this, finished, fetchOne = std::move(fetchOne)] {
        while (ShouldRun()) fetchOne();
        finished->Set();
      })) {
    run_.store(0, std::memory_order_release);
    finished_.reset();
    return false;
  }
  return true;
}

bool TriggerWorker::Finish(uint32_t boundMs) {
  RequestStop();
  if (!thread_.joinable()) return true;
  const bool inTime =
      finished_ == nullptr || finished_->WaitOnAppThread(boundMs, MessagePump::kDispatch);
  thread_.join();
  finished_.reset();
  return inTime;
}

}  // namespace varnel
