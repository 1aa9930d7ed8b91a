#include "sim/virtual_head.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "sim/head_impl.h"
#include "sim/volume_map.h"

namespace varnel {

using namespace sim;

VirtualHead::VirtualHead(ModelCode model, const HeadOptions& options)
    : model_(model), impl_(std::make_unique<Impl>(TraitsOf(model), options)) {}

VirtualHead::~VirtualHead() = default;

uint32_t VirtualHead::sensorWidth() const { return impl_->traits.width; }
uint32_t VirtualHead::sensorHeight() const { return impl_->traits.height; }
uint64_t VirtualHead::volumeSize() const { return impl_->volumeSize; }

uint64_t VirtualHead::ControlOffset() { return kControlOffset; }
uint64_t VirtualHead::AreaAOffset() { return kAreaAOffset; }
uint64_t VirtualHead::AreaBOffset() { return kAreaBOffset; }

bool VirtualHead::ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) {
  if (transferred != nullptr) *transferred = 0;
  Impl& d = *impl_;
  std::unique_lock lock(d.mutex);
  if (!d.TransferAllowed(lock)) return false;
  d.AdvanceTriggers();
  if (size == 0 || offset >= d.volumeSize) return true;
  uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size, d.volumeSize - offset));
  auto* out = static_cast<uint8_t*>(data);

  if (offset < kAreaAOffset) {
    std::memset(out, 0, count);
    const uint64_t end = offset + count;
    if (offset < kControlOffset + kSectorSize && end > kControlOffset) {
      d.RefreshStatus();
      const uint64_t from = std::max(offset, kControlOffset);
      const uint64_t to = std::min(end, kControlOffset + kSectorSize);
      std::memcpy(out + (from - offset), d.sector.data() + (from - kControlOffset), to - from);
      ++d.counters.controlReads;
    } else {
      ++d.counters.otherTransfers;
    }
    if (transferred != nullptr) *transferred = count;
    return true;
  }

  const bool areaB = offset >= kAreaBOffset;
  const uint64_t within = offset - (areaB ? kAreaBOffset : kAreaAOffset);
  std::shared_ptr<const Frame> frame;
  if (within == 0) {
    ++d.counters.frameReads;
    if (d.faults.failedFrameReads > 0) {
      --d.faults.failedFrameReads;
      return false;
    }
    if (d.faults.shortFrameReads > 0) {
      --d.faults.shortFrameReads;
      count = (count / 2) & ~(kSectorSize - 1);
    }
    frame = d.NextFrame(areaB, lock);
    d.transferring[areaB ? 1 : 0] = frame;
  } else {
    frame = d.transferring[areaB ? 1 : 0];
    if (!frame) frame = d.latched[areaB ? 1 : 0];
    if (!frame) frame = d.NextFrame(areaB, lock);
  }
  lock.unlock();
  if (frame) {
    frame->CopyOut(within, out, count);
  } else {
    std::memset(out, 0, count);
  }
  if (transferred != nullptr) *transferred = count;
  return true;
}

bool VirtualHead::WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) {
  if (transferred != nullptr) *transferred = 0;
  Impl& d = *impl_;
  std::unique_lock lock(d.mutex);
  if (!d.TransferAllowed(lock)) return false;
  d.AdvanceTriggers();
  if (size == 0 || offset >= d.volumeSize) return true;
  const uint32_t count = static_cast<uint32_t>(std::min<uint64_t>(size, d.volumeSize - offset));
  const uint64_t end = offset + count;
  if (offset < kControlOffset + kSectorSize && end > kControlOffset) {
    const uint64_t from = std::max(offset, kControlOffset);
    const uint64_t to = std::min(end, kControlOffset + kSectorSize);
    d.WriteControl(static_cast<const uint8_t*>(data) + (from - offset),
                   static_cast<uint32_t>(from - kControlOffset), static_cast<uint32_t>(to - from));
    ++d.counters.controlWrites;
  } else {
    // Writes elsewhere reach no function of the camera; they are accepted.
    ++d.counters.otherTransfers;
  }
  if (transferred != nullptr) *transferred = count;
  return true;
}

bool VirtualHead::AttachTo(char16_t letter) {
  std::shared_ptr<VirtualHead> self = weak_from_this().lock();
  const char normalized = NormalizeDriveLetter(letter);
  if (!self || normalized == 0) return false;
  if (!AttachDevice(normalized, self)) return false;
  std::lock_guard lock(impl_->mutex);
  impl_->attachedLetter = normalized;
  return true;
}

void VirtualHead::Detach() {
  char letter;
  {
    std::lock_guard lock(impl_->mutex);
    letter = impl_->attachedLetter;
    impl_->attachedLetter = 0;
  }
  if (letter != 0 && FindAttachedDevice(letter).get() == this) DetachDevice(letter);
}

void VirtualHead::Remove() {
  {
    std::lock_guard lock(impl_->mutex);
    impl_->removed = true;
  }
  Detach();
}

bool VirtualHead::removed() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->removed;
}

HeadStream VirtualHead::Stream() const {
  std::lock_guard lock(impl_->mutex);
  const Impl& d = *impl_;
  const Layout layout = d.ComputeLayout();
  HeadStream stream;
  stream.running = d.running;
  stream.triggerMode = d.TriggerModeActive();
  stream.streamWidth = layout.fieldWidth;
  stream.streamHeight = layout.fieldHeight;
  stream.rowBytes = layout.rowBytes;
  stream.frameBytes = layout.frameBytes;
  stream.bytesPerSample = layout.bytesPerSample;
  stream.significantBits = layout.bits;
  stream.windowX = layout.windowX, stream.windowY = layout.windowY;
  stream.windowWidth = layout.windowWidth, stream.windowHeight = layout.windowHeight;
  stream.subsampleX = layout.stepX, stream.subsampleY = layout.stepY;
  stream.mirrorH = layout.mirrorH, stream.mirrorV = layout.mirrorV;
  stream.brightnessPermille = layout.permille;
  stream.syncBits = d.runSector[control::kSync];
  return stream;
}

HeadCounters VirtualHead::Counters() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->counters;
}

}  // namespace varnel
