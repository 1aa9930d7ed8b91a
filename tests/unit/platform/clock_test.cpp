#include <gtest/gtest.h>

#include "platform/clock.h"

namespace varnel {
namespace {

class RecordingClock final : public Clock {
 public:
  uint32_t TickCount() override { return now_; }
  uint32_t TimeMs() override { return now_; }
  void Sleep(uint32_t milliseconds) override { now_ += milliseconds; }
  uint32_t now_ = 1000;
};

// Catches an installation that does not reach CurrentClock(), or a restore that
// leaves a test's clock installed (every later test would then stop waiting).
TEST(ClockTest, InstalledClockServesEveryCallerUntilRemoved) {
  RecordingClock clock;
  Clock* previous = SetCurrentClock(&clock);
  EXPECT_EQ(previous, &SystemClock());
  CurrentClock().Sleep(28);
  EXPECT_EQ(CurrentClock().TickCount(), 1028u);
  EXPECT_EQ(SetCurrentClock(nullptr), &clock);
  EXPECT_EQ(&CurrentClock(), &SystemClock());
  EXPECT_EQ(clock.now_, 1028u);
}

}  // namespace
}  // namespace varnel
