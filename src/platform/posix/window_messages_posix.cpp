// Message queues standing in for application windows on Linux.
//
// A queue is known by a number that is never reused, handed out as an HWND, so
// a handle kept after its queue was destroyed can never reach a newer queue.
// The library posts from the application thread as well as from streaming
// threads, and the application may read from yet another thread, so every
// queue has its own lock and condition variable; the table of live queues has
// one more lock, never held while waiting.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

#include "platform/window_messages.h"
#include "varnel_posix.h"

namespace varnel {

namespace {

struct MessageQueue {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<VarnelPosixMessage> messages;
  bool closed = false;
};

class QueueTable {
 public:
  uintptr_t Create() {
    std::lock_guard<std::mutex> lock(mutex_);
    uintptr_t id = ++lastId_;
    queues_[id] = std::make_shared<MessageQueue>();
    return id;
  }

  std::shared_ptr<MessageQueue> Find(uintptr_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = queues_.find(id);
    return it == queues_.end() ? nullptr : it->second;
  }

  std::shared_ptr<MessageQueue> Remove(uintptr_t id) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = queues_.find(id);
    if (it == queues_.end()) return nullptr;
    std::shared_ptr<MessageQueue> queue = std::move(it->second);
    queues_.erase(it);
    return queue;
  }

 private:
  std::mutex mutex_;
  uintptr_t lastId_ = 0;
  std::map<uintptr_t, std::shared_ptr<MessageQueue>> queues_;
};

QueueTable& Queues() {
  // Never destroyed: streaming threads of instances an application failed to
  // release may still post while the process exits.
  static QueueTable* table = new QueueTable;
  return *table;
}

uintptr_t IdOf(const void* window) { return reinterpret_cast<uintptr_t>(window); }

}  // namespace

bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (window == nullptr) return false;
  std::shared_ptr<MessageQueue> queue = Queues().Find(IdOf(window));
  if (!queue) return false;
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    if (queue->closed || queue->messages.size() >= VARNEL_POSIX_QUEUE_LIMIT) return false;
    queue->messages.push_back(VarnelPosixMessage{message, wParam, lParam});
  }
  queue->arrived.notify_one();
  return true;
}

}  // namespace varnel

extern "C" {

HWND VarnelPosix_CreateMessageQueue(void) {
  try {
    return reinterpret_cast<HWND>(varnel::Queues().Create());
  } catch (...) {
    return nullptr;
  }
}

void VarnelPosix_DestroyMessageQueue(HWND queue) {
  if (queue == nullptr) return;
  std::shared_ptr<varnel::MessageQueue> removed = varnel::Queues().Remove(varnel::IdOf(queue));
  if (!removed) return;
  {
    std::lock_guard<std::mutex> lock(removed->mutex);
    removed->closed = true;
    removed->messages.clear();
  }
  // A reader waiting on the queue wakes up and reports it gone.
  removed->arrived.notify_all();
}

int VarnelPosix_ReadMessage(HWND queue, VarnelPosixMessage* message, int timeoutMs) {
  if (message == nullptr || queue == nullptr) return -1;
  std::shared_ptr<varnel::MessageQueue> q = varnel::Queues().Find(varnel::IdOf(queue));
  if (!q) return -1;
  std::unique_lock<std::mutex> lock(q->mutex);
  auto ready = [&q] { return q->closed || !q->messages.empty(); };
  if (timeoutMs < 0) {
    q->arrived.wait(lock, ready);
  } else if (!q->arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
    return 0;
  }
  if (q->closed) return -1;
  *message = q->messages.front();
  q->messages.pop_front();
  return 1;
}

int VarnelPosix_PendingMessages(HWND queue) {
  if (queue == nullptr) return -1;
  std::shared_ptr<varnel::MessageQueue> q = varnel::Queues().Find(varnel::IdOf(queue));
  if (!q) return -1;
  std::lock_guard<std::mutex> lock(q->mutex);
  return static_cast<int>(q->messages.size());
}

}  // extern "C"
