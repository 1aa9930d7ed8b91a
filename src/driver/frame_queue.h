// The pool of raw frame buffers and the queue of frames waiting for the
// dispatcher, guarded together by the queue lock.
//
// The reader claims the lowest-numbered free entry, reads a frame into it and
// publishes it; the dispatcher takes the oldest published entry, delivers it
// and frees it. An entry is published only when its frame is complete, so the
// dispatcher can never see a half-read buffer, and a short read simply goes
// again into the entry it already holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

namespace varnel {

inline constexpr int kFramePoolSize = 5;
// Placed in the ready queue to tell the dispatcher to end.
inline constexpr int kStopMarker = -1;

class FrameQueue {
 public:
  // Makes the five buffers of `bytes` each, all free, and empties the queue.
  // False, with no buffer kept, when memory ran out.
  bool Allocate(size_t bytes);
  // Frees the buffers and forgets every claim and queued frame.
  void Free();
  bool IsAllocated() const { return bufferBytes_ != 0; }
  size_t BufferBytes() const { return bufferBytes_; }

  // The buffer of `entry`. Buffers are made before the threads start and freed
  // after they end, so their addresses need no lock.
  uint8_t* Buffer(int entry);

  // Marks the lowest-numbered free entry in use and returns it, or -1 when all
  // five are in use.
  int Claim();
  // Gives back an entry that was claimed but never published.
  void Unclaim(int entry);
  // Appends a claimed entry, now holding a complete frame, to the queue, with
  // the count of setting changes the camera had applied when it was exposed
  // (SensorDevice::SettingsApplied).
  void Publish(int entry, uint64_t settings = 0);
  // The settings count the entry's frame was published with.
  uint64_t SettingsOf(int entry);
  // Removes and returns the oldest queued index: an entry, the stop marker, or
  // the stop marker as well when the queue is empty.
  int PopFront();
  // Frees an entry after its frame was delivered.
  void Release(int entry);
  // Empties the queue and appends the stop marker. Returns how many frames
  // were waiting (they will never be delivered).
  int ClearAndAppendStop();

  int QueuedCount();
  bool InUse(int entry);

 private:
  std::mutex lock_;
  std::unique_ptr<uint8_t[]> buffers_[kFramePoolSize];
  bool inUse_[kFramePoolSize] = {};
  uint64_t settings_[kFramePoolSize] = {};
  std::deque<int> ready_;
  size_t bufferBytes_ = 0;
};

}  // namespace varnel
