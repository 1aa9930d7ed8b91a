#include <windows.h>

#include "platform/app_wait.h"

namespace varnel {

class WaitableEvent::Impl {
 public:
  explicit Impl(EventReset reset)
      : handle_(
            CreateEventW(nullptr, reset == EventReset::kManual ? TRUE : FALSE, FALSE, nullptr)) {}
  ~Impl() {
    if (handle_ != nullptr) CloseHandle(handle_);
  }

  void Set() { SetEvent(handle_); }
  void Reset() { ResetEvent(handle_); }

  bool Wait(uint32_t timeoutMs) {
    return WaitForSingleObject(handle_, timeoutMs == kWaitForever ? INFINITE : timeoutMs) ==
           WAIT_OBJECT_0;
  }

  bool WaitOnAppThread(uint32_t timeoutMs, MessagePump pump) {
    const uint64_t start = RealTimeMs();
    for (;;) {
      DWORD remaining = INFINITE;
      if (timeoutMs != kWaitForever) {
        const uint64_t elapsed = RealTimeMs() - start;
        remaining = elapsed >= timeoutMs ? 0 : static_cast<DWORD>(timeoutMs - elapsed);
      }
      const DWORD result = MsgWaitForMultipleObjects(1, &handle_, FALSE, remaining, QS_ALLINPUT);
      if (result == WAIT_OBJECT_0) return true;
      if (result != WAIT_OBJECT_0 + 1) return false;  // time-out or a failed wait
      MSG message;
      if (pump == MessagePump::kDispatch) {
        // Serve the thread's windows while it waits, so that a window that the
        // other thread posts to keeps working and the wait cannot deadlock.
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&message);
          DispatchMessageW(&message);
        }
      } else {
        // Looking at the queue marks its messages as seen, so the next wait
        // sleeps until new input arrives instead of returning at once.
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
      }
    }
  }

 private:
  HANDLE handle_;
};

WaitableEvent::WaitableEvent(EventReset reset) : impl_(std::make_unique<Impl>(reset)) {}
WaitableEvent::~WaitableEvent() = default;
void WaitableEvent::Set() { impl_->Set(); }
void WaitableEvent::Reset() { impl_->Reset(); }
bool WaitableEvent::Wait(uint32_t timeoutMs) { return impl_->Wait(timeoutMs); }
bool WaitableEvent::WaitOnAppThread(uint32_t timeoutMs, MessagePump pump) {
  return impl_->WaitOnAppThread(timeoutMs, pump);
}

uint64_t RealTimeMs() { return GetTickCount64(); }

}  // namespace varnel
