#include "api/error_stack.h"

#include <gtest/gtest.h>

#include <vector>

#ifndef _WIN32
#include "varnel_posix.h"
#endif

namespace varnel {
namespace {

// Fault caught: codes popped oldest first, a pop that does not consume, or a
// stack deeper or shallower than twenty.
TEST(ErrorStackTest, PopsNewestFirstAndKeepsTwenty) {
  ErrorStack stack;
  EXPECT_EQ(stack.Pop(), 0);
  for (int code = 1; code <= 21; ++code) stack.Push(code);
  for (int expected = 21; expected >= 2; --expected) EXPECT_EQ(stack.Pop(), expected);
  EXPECT_EQ(stack.Pop(), 0);  // code 1 was pushed out by the twenty-first
  EXPECT_EQ(stack.Pop(), 0);
}

// Fault caught: a pop that leaves stale codes behind in the last slot.
TEST(ErrorStackTest, PopClearsTheLastSlot) {
  ErrorStack stack;
  for (int i = 0; i < ErrorStack::kDepth; ++i) stack.Push(7);
  stack.Pop();
  EXPECT_EQ(stack.Peek(ErrorStack::kDepth - 1), 0);
  EXPECT_EQ(stack.Peek(ErrorStack::kDepth - 2), 7);
}

#ifndef _WIN32
// Fault caught: no message, a message with the code in the wrong parameter,
// or one message too many per push.
TEST(ErrorStackTest, EachPushPostsOneErrorMessageWithTheCode) {
  HWND queue = VarnelPosix_CreateMessageQueue();
  ASSERT_NE(queue, nullptr);
  ErrorStack stack;
  stack.SetWindow(queue);
  const int codes[] = {9, 1, 11};
  for (int code : codes) stack.Push(code);
  for (int code : codes) {
    VarnelPosixMessage message{};
    ASSERT_EQ(VarnelPosix_ReadMessage(queue, &message, 0), 1);
    EXPECT_EQ(message.message, kMessageError);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, code);
  }
  EXPECT_EQ(VarnelPosix_PendingMessages(queue), 0);
  VarnelPosix_DestroyMessageQueue(queue);
}
#endif

}  // namespace
}  // namespace varnel
