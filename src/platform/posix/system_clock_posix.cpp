#include <time.h>

#include "platform/clock.h"

namespace varnel {

namespace {

uint64_t MonotonicMilliseconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

class PosixClock final : public Clock {
 public:
  uint32_t TickCount() override { return static_cast<uint32_t>(MonotonicMilliseconds()); }
  uint32_t TimeMs() override { return static_cast<uint32_t>(MonotonicMilliseconds()); }
  void Sleep(uint32_t milliseconds) override {
    timespec ts{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
    // Resume after signals until the whole pause has passed.
    while (nanosleep(&ts, &ts) != 0) {
    }
  }
};

}  // namespace

Clock& SystemClock() {
  static PosixClock clock;
  return clock;
}

}  // namespace varnel
