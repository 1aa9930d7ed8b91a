// Frame pacing: the head's clock, the frame period, and which frame a read of
// an area delivers (triggered frames are in triggers.cpp).
#include "sim/head_impl.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "device/sector_protocol.h"

namespace varnel {

using namespace sim;

namespace {

// Blanking added to the streamed samples when the frame period comes from the
// pixel clock.
constexpr uint32_t kHorizontalBlank = 64;
constexpr uint32_t kVerticalBlank = 16;

}  // namespace

int64_t sim::WallUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Microseconds since the head was made (a test clock counts in whole
// milliseconds; its unsigned tick differences survive the wrap).
uint64_t VirtualHead::Impl::NowUs() {
  if (clock == nullptr) {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::steady_clock::now() - steadyStart)
                                     .count());
  }
  const uint32_t tick = clock->TickCount();
  if (!tickStarted) {
    tickStarted = true;
    lastTick = tick;
  }
  elapsedUs += uint64_t{static_cast<uint32_t>(tick - lastTick)} * 1000;
  lastTick = tick;
  return elapsedUs;
}

// The wall-clock time of head time `headUs` (not later than now). With a
// test's clock, whose time moves without the wall clock's, the wall clock of
// the head's start plus head time: the times then keep their differences.
int64_t VirtualHead::Impl::WallAt(uint64_t headUs) {
  const uint64_t now = NowUs();
  if (clock != nullptr) return wallStartUs + static_cast<int64_t>(headUs);
  return WallUs() - static_cast<int64_t>(now - std::min(headUs, now));
}

void VirtualHead::Impl::SleepUs(uint64_t microseconds) {
  if (clock != nullptr) {
    clock->Sleep(static_cast<uint32_t>((microseconds + 999) / 1000));
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
  }
}

double VirtualHead::Impl::PeriodUs(const Layout& layout) const {
  if (options.framesPerSecond > 0) return 1e6 / options.framesPerSecond;
  const double samples = double(layout.pictureWidth + kHorizontalBlank) *
                         double(layout.pictureHeight + kVerticalBlank);
  const double hz = options.pixelClockHz > 0 ? options.pixelClockHz : 48'000'000.0;
  return std::max(samples / hz * 1e6, 1.0);
}

// The frame a read of `areaB` at the area's start delivers: while streaming,
// the newest finished frame of that area not yet delivered, waiting for the
// next one when there is none; otherwise whatever the area holds.
std::shared_ptr<const Frame> VirtualHead::Impl::NextFrame(bool areaB,
                                                          std::unique_lock<std::mutex>& lock) {
  const int area = areaB ? 1 : 0;
  if (!running) return latched[area];
  if (TriggerModeActive()) {
    TakeTriggeredFrame(area);
    return latched[area];
  }
  const double period = PeriodUs(ComputeLayout());
  const uint64_t now = NowUs();
  const uint64_t finished = static_cast<uint64_t>(double(now - runStartUs) / period);
  // Relative frame n goes to area A when odd, to B when even.
  const uint64_t parity = areaB ? 0 : 1;
  const uint64_t delivered = lastDelivered > frameBase ? lastDelivered - frameBase : 0;
  uint64_t n = finished;
  if (n % 2 != parity) n = n == 0 ? 0 : n - 1;
  if (n == 0 || n <= delivered) {
    n = std::max(finished, delivered) + 1;
    if (n % 2 != parity) ++n;
    const double due = double(runStartUs) + double(n) * period;
    const uint64_t start = runStartUs;
    if (due > double(now)) {
      const uint64_t wait = static_cast<uint64_t>(std::ceil(due - double(now)));
      lock.unlock();
      SleepUs(wait);
      lock.lock();
      NowUs();
      // A stop or restart while waiting: deliver what the area holds.
      if (!running || runStartUs != start || TriggerModeActive()) return latched[area];
    }
  }
  const uint32_t number = frameBase + static_cast<uint32_t>(n);
  latched[area] = MakeFrame(number);
  lastDelivered = std::max(lastDelivered, number);
  lastNumber = std::max(lastNumber, number);
  return latched[area];
}

void VirtualHead::SetFrameRate(double framesPerSecond) {
  std::lock_guard lock(impl_->mutex);
  impl_->options.framesPerSecond = framesPerSecond > 0 ? framesPerSecond : 0;
}

void VirtualHead::SetPixelClock(uint32_t hz) {
  std::lock_guard lock(impl_->mutex);
  impl_->options.pixelClockHz = hz;
}

uint32_t VirtualHead::LastDeliveredFrame() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->lastDelivered;
}

}  // namespace varnel
