// Events that the library's threads signal and that the application thread
// can wait for without freezing its windows.
//
// On Windows a wait on the application thread goes through
// MsgWaitForMultipleObjects: input that arrives meanwhile wakes the wait, and
// the messages are either dispatched (so a preview window owned by the waiting
// thread keeps painting, and a listener that posts to it cannot deadlock the
// wait) or only peeked at, as the caller chooses. On POSIX there is no message
// queue to serve and the wait is a plain one.
#pragma once

#include <cstdint>
#include <memory>

namespace varnel {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class EventReset { kAuto, kManual };

// What a wait on the application thread does with window messages that arrive
// while it waits.
enum class MessagePump {
  kDispatch,  // remove, translate and dispatch every waiting message
  kPeekOnly,  // look at the queue without removing anything
};

class WaitableEvent {
 public:
  explicit WaitableEvent(EventReset reset);
  ~WaitableEvent();
  WaitableEvent(const WaitableEvent&) = delete;
  WaitableEvent& operator=(const WaitableEvent&) = delete;

  void Set();
  void Reset();

  // Waits on any thread without serving messages. True when the event was
  // signalled (an auto-reset event is then reset again), false on time-out.
  bool Wait(uint32_t timeoutMs);

  // Waits on the application thread, serving window messages as `pump` says.
  // The time limit counts real time, whatever clock the protocol uses.
  bool WaitOnAppThread(uint32_t timeoutMs, MessagePump pump);

  class Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Milliseconds of real (monotonic) time, for bounding waits. Not the protocol
// clock: tests replace that one with a clock that does not advance by itself.
uint64_t RealTimeMs();

}  // namespace varnel
