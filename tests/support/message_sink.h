// A window the library posts to, read by the test's own thread: a message
// queue on Linux, a message-only window on Windows. Needs nothing of the
// library but its interface, so a program that loads the library as a DLL
// can use it too.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "varnel.h"
#ifndef _WIN32
#include "varnel_posix.h"
#endif

namespace varnel::testing {

inline constexpr uint32_t kFrameMessage = 0x8002;
inline constexpr uint32_t kErrorMessage = 0x8003;

// Generous bound for any event a test waits for: it returns as soon as the
// event comes, and only a broken library waits this long.
inline constexpr int kEventBoundMs = 30000;

struct PostedMessage {
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// A window the library posts to, read by the test's thread.
class MessageSink {
 public:
  MessageSink() {
#ifdef _WIN32
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "VarnelTestMessageSink";
    RegisterClassExA(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExA(0, "VarnelTestMessageSink", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
#else
    window_ = VarnelPosix_CreateMessageQueue();
#endif
  }
  ~MessageSink() {
#ifdef _WIN32
    DestroyWindow(window_);
#else
    VarnelPosix_DestroyMessageQueue(window_);
#endif
  }
  MessageSink(const MessageSink&) = delete;
  MessageSink& operator=(const MessageSink&) = delete;

  HWND Window() const { return window_; }

  // The next message posted to the window, waiting up to `timeoutMs`.
  std::optional<PostedMessage> Next(int timeoutMs) {
#ifdef _WIN32
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      MSG msg;
      if (PeekMessageA(&msg, window_, 0, 0, PM_REMOVE)) {
        return PostedMessage{msg.message, static_cast<uintptr_t>(msg.wParam),
                             static_cast<intptr_t>(msg.lParam)};
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      // The thread also owns the preview window the library made on it, and
      // other threads send it messages (activation when another camera's
      // window comes up, the library's own requests) and wait for the answer.
      // Sent messages are served inside PeekMessage, so the wait must wake for
      // them too: waking for posted messages only left such a sender, and the
      // frames behind it, blocked until this wait's whole bound ran out.
      MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left.count()),
                                QS_POSTMESSAGE | QS_SENDMESSAGE);
    }
#else
    VarnelPosixMessage message{};
    if (VarnelPosix_ReadMessage(window_, &message, timeoutMs) != 1) return std::nullopt;
    return PostedMessage{message.message, message.wParam, message.lParam};
#endif
  }

  // The next message of kind `message`, skipping others; empty when none
  // comes within `timeoutMs`.
  std::optional<PostedMessage> NextOf(uint32_t message, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return std::nullopt;
      std::optional<PostedMessage> next = Next(static_cast<int>(left.count()));
      if (!next) return std::nullopt;
      if (next->message == message) return next;
    }
  }

  // The next frame message that carries no frame (wParam 0; lParam says
  // why), skipping frames and other messages; empty when none comes within
  // `timeoutMs`.
  std::optional<PostedMessage> NextFrameLoss(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() < 0) return std::nullopt;
      std::optional<PostedMessage> next = NextOf(kFrameMessage, static_cast<int>(left.count()));
      if (!next || next->wParam == 0) return next;
    }
  }

  // Every message already posted.
  std::vector<PostedMessage> Drain() {
    std::vector<PostedMessage> messages;
    while (std::optional<PostedMessage> next = Next(0)) messages.push_back(*next);
    return messages;
  }

 private:
  HWND window_ = nullptr;
};

}  // namespace varnel::testing
