/*
 * Linux-only extension of the camera library: message queues that stand where
 * the API takes an HWND.
 *
 * Create a queue, pass it as the notification window of Varnel_Initialize (or
 * as the frame window of Varnel_CallBackPreview / Varnel_Trigger), and read the
 * messages the library posted to it (0x8002 frame ready, 0x8003 error
 * recorded) with VarnelPosix_ReadMessage. Posting never blocks the library:
 * like a Windows message queue, a queue holds at most
 * VARNEL_POSIX_QUEUE_LIMIT unread messages and refuses further posts until
 * the application reads.
 */
#ifndef VARNEL_POSIX_H_
#define VARNEL_POSIX_H_

#if defined(_WIN32)
#error "varnel_posix.h is for Linux callers; on Windows use real windows."
#endif

#include <stdint.h>

#include "varnel.h"

#ifdef __cplusplus
extern "C" {
#endif

#define VARNEL_POSIX_QUEUE_LIMIT 10000

/* One posted message, as a window procedure would receive it. */
typedef struct VarnelPosixMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
} VarnelPosixMessage;

/* Creates an empty message queue and returns it as a window handle, or null
 * when it could not be created. */
HWND VarnelPosix_CreateMessageQueue(void);

/* Destroys a queue made by VarnelPosix_CreateMessageQueue; unread messages are
 * discarded. Later posts to it fail quietly, as posts to a destroyed window
 * do. Null and unknown handles are ignored. */
void VarnelPosix_DestroyMessageQueue(HWND queue);

/* Takes the oldest message from `queue` into *message, waiting up to
 * `timeoutMs` milliseconds for one (0: do not wait; negative: wait without a
 * limit). Returns 1 when a message was taken, 0 when none arrived in time, -1
 * for a null `message` or a handle that is not a live queue (also when the
 * queue is destroyed while this call waits on it). */
int VarnelPosix_ReadMessage(HWND queue, VarnelPosixMessage* message, int timeoutMs);

/* Number of unread messages in `queue`, or -1 when it is not a live queue. */
int VarnelPosix_PendingMessages(HWND queue);

#ifdef __cplusplus
}
#endif

#endif /* VARNEL_POSIX_H_ */
