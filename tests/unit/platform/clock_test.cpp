#include <gtest/gtest.h>

#include "platform/clock.h"
#include "support/test_clock.h"

namespace varnel {
namespace {

// Catches an installation that does not reach CurrentClock(), or a restore that
// leaves a test's clock installed (every later test would then stop waiting).
TEST(ClockTest, InstalledClockServesEveryCallerUntilRemoved) {
  testing::SteppingClock clock;  // starts at 1000
  Clock* previous = SetCurrentClock(&clock);
  EXPECT_EQ(previous, &SystemClock());
  CurrentClock().Sleep(28);
  EXPECT_EQ(CurrentClock().TickCount(), 1028u);
  EXPECT_EQ(SetCurrentClock(nullptr), &clock);
  EXPECT_EQ(&CurrentClock(), &SystemClock());
  EXPECT_EQ(clock.TickCount(), 1028u);
}

}  // namespace
}  // namespace varnel
