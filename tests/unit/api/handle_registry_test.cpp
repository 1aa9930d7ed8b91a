#include "api/handle_registry.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "instance/camera_instance.h"
#include "support/test_clock.h"

namespace varnel {
namespace {

// Random terms the tests choose.
int gRandomValue = 0;
int FixedRandom() { return gRandomValue; }

class HandleRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { previous_ = SetCurrentClock(&clock_); }
  void TearDown() override {
    SetCurrentClock(previous_);
    // Instances are not destroyed by the registry's destructor; release them.
    for (uint32_t handle : registry_.HandlesFromCursor()) registry_.Release(handle);
  }

  void Add(uint32_t handle) { registry_.Insert(handle, std::make_unique<CameraInstance>()); }

  // Nothing sleeps while handles are made, so this clock stands still and
  // several handles are made "in the same millisecond".
  testing::SteppingClock clock_{5000};
  Clock* previous_ = nullptr;
  HandleRegistry registry_{&FixedRandom};
};

// Fault caught: the entry-count term left out of the handle, so two handles
// made in one millisecond with the same random value collide.
TEST_F(HandleRegistryTest, HandlesMadeInOneMillisecondDifferByTheCountTerm) {
  gRandomValue = 1000;
  const uint32_t first = registry_.MakeHandle();
  Add(first);
  const uint32_t second = registry_.MakeHandle();
  EXPECT_EQ(first, 1000u + 5000u);
  EXPECT_EQ(second, first + 1);
}

// Fault caught: a sum that wraps to 0 handed out (0 is Varnel_Initialize's
// failure value), or a sum equal to a registered handle handed out again.
TEST_F(HandleRegistryTest, HandleIsNeverZeroNorADuplicate) {
  gRandomValue = -5000;  // random + tick wraps to 0 with an empty registry
  EXPECT_EQ(registry_.MakeHandle(), 1u);

  gRandomValue = 10;
  Add(5011);  // what the next sum (10 + 5000 + 1) would give
  Add(5012);
  // Count is 2 now: 10 + 5000 + 2 = 5012 is taken, and so the next free value.
  EXPECT_EQ(registry_.MakeHandle(), 5013u);
}

// Fault caught: a new entry appended behind the cursor, or the cursor left
// where it was.
TEST_F(HandleRegistryTest, InsertionGoesInFrontOfTheCursorAndBecomesIt) {
  Add(1);
  Add(2);
  Add(3);
  EXPECT_EQ(registry_.Count(), 3);
  EXPECT_EQ(registry_.HandlesFromCursor(), (std::vector<uint32_t>{3, 2, 1}));
}

// Fault caught: the cursor not following the search, or the search running
// round the ring forever for an unknown handle.
TEST_F(HandleRegistryTest, LookupMovesTheCursor) {
  Add(1);
  Add(2);
  Add(3);  // ring from the cursor: 3, 2, 1
  struct Case {
    uint32_t asked;
    bool found;
    uint32_t cursorAfter;
  };
  const Case cases[] = {
      {1, true, 1},    // walks 3 -> 2 -> 1 and rests there
      {1, true, 1},    // found at once
      {3, true, 3},    // 1 -> 3
      {99, false, 1},  // unknown: rests on the entry before the old cursor
      {99, false, 2},  // and again one step back
      {2, true, 2},
  };
  for (const Case& c : cases) {
    CameraInstance* instance = registry_.Lookup(c.asked);
    EXPECT_EQ(instance != nullptr, c.found) << "handle " << c.asked;
    EXPECT_EQ(registry_.CursorHandle(), c.cursorAfter) << "handle " << c.asked;
  }
}

// Fault caught: handles compared after truncation, so a pointer-sized value
// whose low 32 bits match a handle finds it.
TEST_F(HandleRegistryTest, WideValueWithMatchingLowBitsIsUnknown) {
  if (sizeof(uintptr_t) < 8) GTEST_SKIP() << "pointers are 32 bits wide";
  Add(7);
  const uint64_t wide = (uint64_t{1} << 32) | 7u;
  EXPECT_EQ(registry_.Lookup(static_cast<uintptr_t>(wide)), nullptr);
  EXPECT_NE(registry_.Lookup(7), nullptr);
}

// Fault caught: release of an unknown handle unlinking something, a released
// entry still reachable, the cursor left on a freed entry.
TEST_F(HandleRegistryTest, ReleaseUnlinksAndMovesTheCursorToTheSuccessor) {
  EXPECT_FALSE(registry_.Release(1));  // empty registry
  Add(1);
  Add(2);
  Add(3);  // 3, 2, 1
  EXPECT_FALSE(registry_.Release(42));
  EXPECT_EQ(registry_.Count(), 3);

  EXPECT_TRUE(registry_.Release(2));
  EXPECT_EQ(registry_.Count(), 2);
  EXPECT_EQ(registry_.CursorHandle(), 1u);  // successor of 2
  EXPECT_EQ(registry_.HandlesFromCursor(), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(registry_.Lookup(2), nullptr);
  EXPECT_FALSE(registry_.Release(2));

  EXPECT_TRUE(registry_.Release(1));
  EXPECT_TRUE(registry_.Release(3));
  EXPECT_EQ(registry_.Count(), 0);
  EXPECT_EQ(registry_.CursorHandle(), 0u);
  EXPECT_EQ(registry_.Lookup(3), nullptr);
}

}  // namespace
}  // namespace varnel
