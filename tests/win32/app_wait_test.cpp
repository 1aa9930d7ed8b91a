// Waits on the application thread serve its window messages: a thread that
// needs the application's window to handle a message before it can signal
// must not deadlock a dispatching wait, and a peek-only wait must leave the
// messages queued.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/app_wait.h"

namespace varnel {
namespace {

constexpr UINT kTestMessage = WM_APP + 7;
std::atomic<int> gHandled{0};

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTestMessage) {
    gHandled.fetch_add(1);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HWND MakeMessageWindow() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = TestWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VarnelAppWaitTest";
  RegisterClassExA(&windowClass);
  return CreateWindowExA(0, "VarnelAppWaitTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                         windowClass.hInstance, nullptr);
}

// Catches a wait that does not dispatch: the other thread signals only after
// the application's window handled its message, so without dispatching the
// wait would time out.
TEST(AppWaitTest, DispatchingWaitServesTheWindow) {
  HWND window = MakeMessageWindow();
  ASSERT_NE(window, nullptr);
  gHandled.store(0);
  WaitableEvent event(EventReset::kManual);
  std::atomic<bool> waitOver{false};
  // The other thread gives up only when the wait under test has ended, so a
  // slow machine makes the test longer, never wrong.
  std::thread other([&] {
    PostMessageA(window, kTestMessage, 0, 0);
    while (gHandled.load() == 0 && !waitOver.load()) Sleep(5);
    if (gHandled.load() != 0) event.Set();
  });
  EXPECT_TRUE(event.WaitOnAppThread(30000, MessagePump::kDispatch));
  waitOver.store(true);
  other.join();
  EXPECT_EQ(gHandled.load(), 1);
  DestroyWindow(window);
}

// Catches a peek-only wait that removes or dispatches messages, or that does
// not time out while input sits unhandled in the queue.
TEST(AppWaitTest, PeekOnlyWaitLeavesMessagesQueued) {
  HWND window = MakeMessageWindow();
  ASSERT_NE(window, nullptr);
  gHandled.store(0);
  WaitableEvent event(EventReset::kAuto);
  PostMessageA(window, kTestMessage, 0, 0);
  EXPECT_FALSE(event.WaitOnAppThread(200, MessagePump::kPeekOnly));
  EXPECT_EQ(gHandled.load(), 0);
  MSG message;
  ASSERT_TRUE(PeekMessageA(&message, window, kTestMessage, kTestMessage, PM_REMOVE));
  DispatchMessageA(&message);
  EXPECT_EQ(gHandled.load(), 1);

  std::thread other([&] { event.Set(); });
  EXPECT_TRUE(event.WaitOnAppThread(10000, MessagePump::kPeekOnly));
  other.join();
  DestroyWindow(window);
}

}  // namespace
}  // namespace varnel
