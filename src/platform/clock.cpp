#include "platform/clock.h"

#include <atomic>

namespace varnel {

namespace {
std::atomic<Clock*> gInstalledClock{nullptr};
}  // namespace

Clock& CurrentClock() {
  Clock* clock = gInstalledClock.load(std::memory_order_acquire);
  return clock != nullptr ? *clock : SystemClock();
}

Clock* SetCurrentClock(Clock* clock) {
  Clock* previous = gInstalledClock.exchange(clock, std::memory_order_acq_rel);
  return previous != nullptr ? previous : &SystemClock();
}

}  // namespace varnel
