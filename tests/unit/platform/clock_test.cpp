#include <gtest/gtest.h>
#include "platform/clock.h"
TEST(ClockTest, SleepAdvancesTickCount) {
  auto& c = varnel::SystemClock();
  uint32_t t0 = c.TickCount();
  c.Sleep(20);
  EXPECT_GE(c.TickCount() - t0, 15u);
}
