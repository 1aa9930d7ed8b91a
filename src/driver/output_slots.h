// The flags of the five output slots that hold converted images for GetImage
// in queued delivery, the waiting flag, and the output event, all guarded by
// the output lock. The slots' engines belong to the driver; this class only
// decides which slot is written or read next.
#pragma once

#include <cstdint>
#include <mutex>

#include "platform/app_wait.h"

namespace varnel {

inline constexpr int kOutputSlotCount = 5;

class OutputSlots {
 public:
  OutputSlots() : event_(EventReset::kAuto) {}

  // Picks the slot the next image is written into: the lowest-numbered slot
  // that is neither ready nor being read. When there is none, every ready slot
  // not being read is cleared (its image is dropped; `overwritten` receives how
  // many) and the lowest of them is taken. Returns -1 when every slot is being
  // read: the frame must then be dropped.
  int PickForWriting(int* overwritten);

  // Marks `slot` ready and signals the output event when GetImage waits.
  // `settings`: the count of setting changes its frame shows.
  void MarkReady(int slot, uint64_t settings = 0);
  uint64_t SettingsOf(int slot);

  // Takes the ready slot that became ready first and marks it being read, so
  // images leave in camera order even after the writer has wrapped around to
  // lower-numbered slots. When none is ready, sets the waiting flag and resets
  // the output event (so that only an image marked ready from now on wakes the
  // waiter) and returns -1.
  int TakeReady();

  // Clears the ready and being-read flags of a slot that GetImage has copied.
  void Finish(int slot);

  // Clears every flag. Returns how many images were ready and never taken.
  int Clear();

  // Waits for the output event on the application thread. True when an image
  // was marked ready meanwhile; false on time-out.
  bool WaitForImage(uint32_t timeoutMs);

  bool IsReady(int slot);
  bool IsBeingRead(int slot);
  bool IsWaiting();

 private:
  std::mutex lock_;
  bool ready_[kOutputSlotCount] = {};
  bool beingRead_[kOutputSlotCount] = {};
  uint64_t readyOrder_[kOutputSlotCount] = {};  // when each slot was last marked ready
  uint64_t settings_[kOutputSlotCount] = {};
  uint64_t nextOrder_ = 0;
  bool waiting_ = false;
  WaitableEvent event_;
};

}  // namespace varnel
