// Fault injection common to every transfer.
#include "sim/head_impl.h"

namespace varnel {

using namespace sim;

// Fault switches common to every transfer. False when the transfer fails.
bool VirtualHead::Impl::TransferAllowed(std::unique_lock<std::mutex>& lock) {
  if (removed) return false;
  if (faults.failAfterTransfers == 0) return false;
  if (faults.failAfterTransfers > 0) --faults.failAfterTransfers;
  if (faults.transferDelayMs > 0) {
    const uint32_t delay = faults.transferDelayMs;
    ++counters.delayedTransfers;
    lock.unlock();
    SleepUs(uint64_t{delay} * 1000);
    lock.lock();
    if (removed) return false;
  }
  return true;
}

void VirtualHead::SetFaults(const HeadFaults& faults) {
  std::lock_guard lock(impl_->mutex);
  impl_->faults = faults;
}

HeadFaults VirtualHead::Faults() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->faults;
}

}  // namespace varnel
