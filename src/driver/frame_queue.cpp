#include "driver/frame_queue.h"

#include "platform/resources.h"

namespace varnel {

namespace {
bool ValidEntry(int entry) { return entry >= 0 && entry < kFramePoolSize; }
}  // namespace

bool FrameQueue::Allocate(size_t bytes) {
  Free();
  std::unique_ptr<uint8_t[]> made[kFramePoolSize];
  for (auto& buffer : made) {
    // A frame is read whole into its buffer before anyone reads it, so the
    // buffers are not cleared.
    buffer = TryAllocateBytes(bytes);
    if (!buffer) return false;
  }
  std::lock_guard<std::mutex> guard(lock_);
  for (int i = 0; i < kFramePoolSize; ++i) {
    buffers_[i] = std::move(made[i]);
    inUse_[i] = false;
  }
  ready_.clear();
  bufferBytes_ = bytes;
  return true;
}

void FrameQueue::Free() {
  std::lock_guard<std::mutex> guard(lock_);
  for (int i = 0; i < kFramePoolSize; ++i) {
    buffers_[i].reset();
    inUse_[i] = false;
  }
  ready_.clear();
  bufferBytes_ = 0;
}

uint8_t* FrameQueue::Buffer(int entry) {
  if (!ValidEntry(entry) || bufferBytes_ == 0) return nullptr;
  return buffers_[entry].get();
}

int FrameQueue::Claim() {
  std::lock_guard<std::mutex> guard(lock_);
  if (bufferBytes_ == 0) return -1;
  for (int i = 0; i < kFramePoolSize; ++i) {
    if (!inUse_[i]) {
      inUse_[i] = true;
      return i;
    }
  }
  return -1;
}

void FrameQueue::Unclaim(int entry) {
  if (!ValidEntry(entry)) return;
  std::lock_guard<std::mutex> guard(lock_);
  inUse_[entry] = false;
}

void FrameQueue::Publish(int entry, uint64_t settings) {
  if (!ValidEntry(entry)) return;
  std::lock_guard<std::mutex> guard(lock_);
  settings_[entry] = settings;
  ready_.push_back(entry);
}

uint64_t FrameQueue::SettingsOf(int entry) {
  if (!ValidEntry(entry)) return 0;
  std::lock_guard<std::mutex> guard(lock_);
  return settings_[entry];
}

int FrameQueue::PopFront() {
  std::lock_guard<std::mutex> guard(lock_);
  if (ready_.empty()) return kStopMarker;
  const int front = ready_.front();
  ready_.pop_front();
  return front;
}

void FrameQueue::Release(int entry) {
  if (!ValidEntry(entry)) return;
  std::lock_guard<std::mutex> guard(lock_);
  inUse_[entry] = false;
}

int FrameQueue::ClearAndAppendStop() {
  std::lock_guard<std::mutex> guard(lock_);
  int waiting = 0;
  for (int index : ready_) {
    if (index != kStopMarker) ++waiting;
  }
  ready_.clear();
  ready_.push_back(kStopMarker);
  return waiting;
}

int FrameQueue::QueuedCount() {
  std::lock_guard<std::mutex> guard(lock_);
  int count = 0;
  for (int index : ready_) {
    if (index != kStopMarker) ++count;
  }
  return count;
}

bool FrameQueue::InUse(int entry) {
  if (!ValidEntry(entry)) return false;
  std::lock_guard<std::mutex> guard(lock_);
  return inUse_[entry];
}

}  // namespace varnel
