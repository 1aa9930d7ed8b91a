#include "driver/output_slots.h"

namespace varnel {

namespace {
bool ValidSlot(int slot) { return slot >= 0 && slot < kOutputSlotCount; }
}  // namespace

int OutputSlots::PickForWriting(int* overwritten) {
  if (overwritten != nullptr) *overwritten = 0;
  std::lock_guard<std::mutex> guard(lock_);
  for (int i = 0; i < kOutputSlotCount; ++i) {
    if (!ready_[i] && !beingRead_[i]) return i;
  }
  int chosen = -1;
  for (int i = 0; i < kOutputSlotCount; ++i) {
    if (beingRead_[i]) continue;
    // Every slot that is not being read is ready here: its image is dropped in
    // favour of the newer one.
    ready_[i] = false;
    if (overwritten != nullptr) ++*overwritten;
    if (chosen < 0) chosen = i;
  }
  return chosen;
}

void OutputSlots::MarkReady(int slot, uint64_t settings) {
  if (!ValidSlot(slot)) return;
  bool someoneWaits;
  {
    std::lock_guard<std::mutex> guard(lock_);
    ready_[slot] = true;
    settings_[slot] = settings;
    readyOrder_[slot] = nextOrder_++;
    someoneWaits = waiting_;
  }
  if (someoneWaits) event_.Set();
}

uint64_t OutputSlots::SettingsOf(int slot) {
  if (!ValidSlot(slot)) return 0;
  std::lock_guard<std::mutex> guard(lock_);
  return settings_[slot];
}

int OutputSlots::TakeReady() {
  std::lock_guard<std::mutex> guard(lock_);
  int oldest = -1;
  for (int i = 0; i < kOutputSlotCount; ++i) {
    if (ready_[i] && !beingRead_[i] && (oldest < 0 || readyOrder_[i] < readyOrder_[oldest])) {
      oldest = i;
    }
  }
  if (oldest >= 0) {
    beingRead_[oldest] = true;
    waiting_ = false;
    return oldest;
  }
  // Resetting under the lock orders it before any MarkReady that sees the
  // waiting flag, so a wake-up cannot be lost or left over from an old image.
  waiting_ = true;
  event_.Reset();
  return -1;
}

void OutputSlots::Finish(int slot) {
  if (!ValidSlot(slot)) return;
  std::lock_guard<std::mutex> guard(lock_);
  ready_[slot] = false;
  beingRead_[slot] = false;
}

int OutputSlots::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  int untaken = 0;
  for (int i = 0; i < kOutputSlotCount; ++i) {
    if (ready_[i]) ++untaken;
    ready_[i] = false;
    beingRead_[i] = false;
  }
  waiting_ = false;
  event_.Reset();
  return untaken;
}

bool OutputSlots::WaitForImage(uint32_t timeoutMs) {
  return event_.WaitOnAppThread(timeoutMs, MessagePump::kPeekOnly);
}

bool OutputSlots::IsReady(int slot) {
  if (!ValidSlot(slot)) return false;
  std::lock_guard<std::mutex> guard(lock_);
  return ready_[slot];
}

bool OutputSlots::IsBeingRead(int slot) {
  if (!ValidSlot(slot)) return false;
  std::lock_guard<std::mutex> guard(lock_);
  return beingRead_[slot];
}

bool OutputSlots::IsWaiting() {
  std::lock_guard<std::mutex> guard(lock_);
  return waiting_;
}

}  // namespace varnel
