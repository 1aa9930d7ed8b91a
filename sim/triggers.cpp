// Triggered frames: the trigger input (a pulse now, or the steady-rate
// trigger of a production line), the sensor's read-out of each triggered frame
// into the next free area, the frame-ready byte, and what became of every
// pulse.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "device/sector_protocol.h"
#include "sim/head_impl.h"

namespace varnel {

using namespace sim;

namespace {

// How many triggered frames the head remembers (TriggeredFrames).
constexpr size_t kTriggerLogLength = 65536;

}  // namespace

bool VirtualHead::Impl::WaitingForTriggers() const {
  return TriggerModeActive() && TriggerSourceEnabled();
}

// One pulse on the trigger input at head time `atUs` (not later than now; the
// head's state has not changed since then). True when it started a frame.
bool VirtualHead::Impl::Pulse(uint64_t atUs) {
  ++triggerCounters.fired;
  if (!WaitingForTriggers()) {
    ++triggerCounters.ignored;
    return false;
  }
  TriggerSlot& slot = triggerSlots[nextTriggerArea];
  if (slot.busy) {
    ++triggerCounters.overrun;
    return false;
  }
  const uint32_t number = std::max(lastNumber, lastDelivered) + 1;
  lastNumber = number;
  const int64_t wallUs = WallAt(atUs);
  const uint64_t readout = static_cast<uint64_t>(std::ceil(PeriodUs(ComputeLayout())));
  const uint64_t ready = std::max(atUs, sensorFreeAtUs) + readout;
  sensorFreeAtUs = ready;
  slot.busy = true;
  slot.frame = MakeFrame(number, static_cast<uint32_t>(wallUs));
  slot.readyAtUs = ready;
  slot.sequence = triggerLogBase + triggerLog.size();
  triggerLog.push_back(
      TriggeredFrame{number, wallUs, wallUs + static_cast<int64_t>(ready - atUs), 0});
  if (triggerLog.size() > kTriggerLogLength) {
    triggerLog.pop_front();
    ++triggerLogBase;
  }
  ++triggerCounters.taken;
  nextTriggerArea ^= 1;
  return true;
}

TriggeredFrame* VirtualHead::Impl::LogEntry(uint64_t sequence) {
  if (sequence < triggerLogBase || sequence - triggerLogBase >= triggerLog.size()) return nullptr;
  return &triggerLog[sequence - triggerLogBase];
}

// The area of the oldest triggered frame the host has not read, or -1.
int VirtualHead::Impl::OldestTriggeredArea() const {
  const TriggerSlot& a = triggerSlots[0];
  const TriggerSlot& b = triggerSlots[1];
  if (a.busy && b.busy) return a.sequence < b.sequence ? 0 : 1;
  return a.busy ? 0 : b.busy ? 1 : -1;
}

// Byte 44 names the area of the oldest unread frame once its read-out has
// ended; the frame is then what a read of that area delivers.
void VirtualHead::Impl::UpdateFrameReady(uint64_t nowUs) {
  for (int area = 0; area < 2; ++area) {
    const TriggerSlot& slot = triggerSlots[area];
    if (slot.busy && slot.readyAtUs <= nowUs) latched[area] = slot.frame;
  }
  const int oldest = OldestTriggeredArea();
  uint8_t ready = 0;
  if (oldest >= 0 && triggerSlots[oldest].readyAtUs <= nowUs) {
    ready = oldest == 1 ? control::kFrameReadyB : control::kFrameReadyA;
  }
  sector[control::kFrameReady] = ready;
}

// Brings the trigger input up to now: the steady-rate pulses that fell due
// since the last look, at their own times, and the frames whose read-out has
// ended. Every access to the head calls it first, so the state a pulse finds
// is the state it had at the pulse's time, and the head needs no thread.
void VirtualHead::Impl::AdvanceTriggers() {
  const uint64_t now = NowUs();
  while (generatorOn && generatorNextUs <= double(now)) {
    Pulse(static_cast<uint64_t>(generatorNextUs));
    generatorNextUs += generatorPeriodUs;
    if (generatorLeft > 0 && --generatorLeft == 0) generatorOn = false;
  }
  UpdateFrameReady(now);
}

// A read at the start of `area` in trigger mode: a triggered frame that has
// been read out there is the host's now, and the area is free again.
void VirtualHead::Impl::TakeTriggeredFrame(int area) {
  TriggerSlot& slot = triggerSlots[area];
  const uint64_t now = NowUs();
  if (slot.busy && slot.readyAtUs <= now) {
    if (TriggeredFrame* entry = LogEntry(slot.sequence)) entry->readUs = WallAt(now);
    lastDelivered = std::max(lastDelivered, slot.frame->number);
    ++triggerCounters.read;
    slot = TriggerSlot{};
  }
  UpdateFrameReady(now);
}

bool VirtualHead::Trigger() {
  std::lock_guard lock(impl_->mutex);
  Impl& d = *impl_;
  if (d.removed) return false;
  d.AdvanceTriggers();
  const bool taken = d.Pulse(d.NowUs());
  d.UpdateFrameReady(d.NowUs());
  return taken;
}

void VirtualHead::StartTriggers(double hz, uint64_t count) {
  std::lock_guard lock(impl_->mutex);
  Impl& d = *impl_;
  d.AdvanceTriggers();
  if (!(hz > 0)) {
    d.generatorOn = false;
    return;
  }
  d.generatorOn = true;
  d.generatorPeriodUs = 1e6 / hz;
  d.generatorNextUs = double(d.NowUs());
  d.generatorLeft = count;
  d.AdvanceTriggers();
}

void VirtualHead::StopTriggers() {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceTriggers();
  impl_->generatorOn = false;
}

bool VirtualHead::TriggersRunning() const {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceTriggers();
  return impl_->generatorOn;
}

TriggerCounters VirtualHead::TriggerStats() const {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceTriggers();
  return impl_->triggerCounters;
}

std::vector<TriggeredFrame> VirtualHead::TriggeredFrames() const {
  std::lock_guard lock(impl_->mutex);
  impl_->AdvanceTriggers();
  return std::vector<TriggeredFrame>(impl_->triggerLog.begin(), impl_->triggerLog.end());
}

double VirtualHead::ReadoutUs() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->PeriodUs(impl_->ComputeLayout());
}

void VirtualHead::StopRun() {
  std::lock_guard lock(impl_->mutex);
  Impl& d = *impl_;
  d.AdvanceTriggers();
  if (!d.running) return;
  // As a stop command would, but no host sent it: the run log keeps only
  // what hosts wrote.
  d.sector[control::kRunCommand] = control::kStop;
  d.RunCommand(false);
  d.runLog.pop_back();
}

}  // namespace varnel
