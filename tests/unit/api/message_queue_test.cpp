// The Linux message queues that stand in for application windows.
#ifndef _WIN32

#include <gtest/gtest.h>

#include <thread>

#include "platform/window_messages.h"
#include "varnel_posix.h"

namespace varnel {
namespace {

// Fault caught: messages delivered out of order or with fields mixed up.
TEST(MessageQueueTest, DeliversInPostingOrderWithAllFields) {
  HWND queue = VarnelPosix_CreateMessageQueue();
  ASSERT_NE(queue, nullptr);
  EXPECT_TRUE(PostWindowMessage(queue, kMessageFrame, 0x1234, 0));
  EXPECT_TRUE(PostWindowMessage(queue, kMessageError, 0, -7));
  VarnelPosixMessage m{};
  ASSERT_EQ(VarnelPosix_ReadMessage(queue, &m, 0), 1);
  EXPECT_EQ(m.message, kMessageFrame);
  EXPECT_EQ(m.wParam, 0x1234u);
  ASSERT_EQ(VarnelPosix_ReadMessage(queue, &m, 0), 1);
  EXPECT_EQ(m.message, kMessageError);
  EXPECT_EQ(m.lParam, -7);
  EXPECT_EQ(VarnelPosix_ReadMessage(queue, &m, 0), 0);
  VarnelPosix_DestroyMessageQueue(queue);
}

// Fault caught: a post to a destroyed queue touching freed memory, or a new
// queue reachable through an old handle.
TEST(MessageQueueTest, DestroyedQueueRefusesPostsAndIsNotReused) {
  HWND old = VarnelPosix_CreateMessageQueue();
  VarnelPosix_DestroyMessageQueue(old);
  HWND fresh = VarnelPosix_CreateMessageQueue();
  EXPECT_NE(fresh, old);
  EXPECT_FALSE(PostWindowMessage(old, kMessageError, 0, 1));
  EXPECT_FALSE(PostWindowMessage(nullptr, kMessageError, 0, 1));
  EXPECT_EQ(VarnelPosix_PendingMessages(fresh), 0);
  EXPECT_EQ(VarnelPosix_PendingMessages(old), -1);
  VarnelPosixMessage m{};
  EXPECT_EQ(VarnelPosix_ReadMessage(old, &m, 0), -1);
  EXPECT_EQ(VarnelPosix_ReadMessage(fresh, nullptr, 0), -1);
  VarnelPosix_DestroyMessageQueue(fresh);
  VarnelPosix_DestroyMessageQueue(fresh);  // twice: ignored
  VarnelPosix_DestroyMessageQueue(nullptr);
}

// Fault caught: an unbounded queue growing without limit when the
// application never reads.
TEST(MessageQueueTest, FullQueueRefusesFurtherPosts) {
  HWND queue = VarnelPosix_CreateMessageQueue();
  for (int i = 0; i < VARNEL_POSIX_QUEUE_LIMIT; ++i) {
    ASSERT_TRUE(PostWindowMessage(queue, kMessageError, 0, i));
  }
  EXPECT_FALSE(PostWindowMessage(queue, kMessageError, 0, -1));
  VarnelPosixMessage m{};
  ASSERT_EQ(VarnelPosix_ReadMessage(queue, &m, 0), 1);
  EXPECT_EQ(m.lParam, 0);
  EXPECT_TRUE(PostWindowMessage(queue, kMessageError, 0, -1));
  VarnelPosix_DestroyMessageQueue(queue);
}

// Fault caught: a reader that misses a message posted from another thread
// while it waits (lost wake-up), or one left waiting on a destroyed queue.
TEST(MessageQueueTest, WaitingReaderWakesForPostAndForDestroy) {
  HWND queue = VarnelPosix_CreateMessageQueue();
  std::thread poster([queue] { PostWindowMessage(queue, kMessageFrame, 1, 2); });
  VarnelPosixMessage m{};
  EXPECT_EQ(VarnelPosix_ReadMessage(queue, &m, -1), 1);
  poster.join();
  EXPECT_EQ(m.lParam, 2);

  int result = 0;
  std::thread reader([queue, &result] {
    VarnelPosixMessage unused{};
    result = VarnelPosix_ReadMessage(queue, &unused, -1);
  });
  // Destroying releases the reader whether it is already waiting or not yet.
  VarnelPosix_DestroyMessageQueue(queue);
  reader.join();
  EXPECT_EQ(result, -1);
}

}  // namespace
}  // namespace varnel

#endif  // _WIN32
