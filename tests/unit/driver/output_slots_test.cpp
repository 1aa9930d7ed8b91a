// Slot choice of queued delivery and the wake-up of a waiting GetImage.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "driver/output_slots.h"

namespace varnel {
namespace {

// Sets the flags from a pattern of five characters: '.' free, 'R' ready,
// 'B' being read.
void Arrange(OutputSlots& slots, const std::string& pattern) {
  for (int i = 0; i < kOutputSlotCount; ++i) {
    if (pattern[i] == 'R' || pattern[i] == 'B') slots.MarkReady(i);
  }
  // TakeReady marks the lowest ready slot being read; take them in order and
  // finish the ones that should only be ready.
  int taken[kOutputSlotCount];
  int count = 0;
  for (int slot; (slot = slots.TakeReady()) >= 0;) taken[count++] = slot;
  for (int k = 0; k < count; ++k) {
    if (pattern[taken[k]] == 'R') {
      slots.Finish(taken[k]);
      slots.MarkReady(taken[k]);
    }
  }
}

std::string Flags(OutputSlots& slots) {
  std::string s;
  for (int i = 0; i < kOutputSlotCount; ++i) {
    s += slots.IsBeingRead(i) ? 'B' : slots.IsReady(i) ? 'R' : '.';
  }
  return s;
}

// Catches a wrong choice of the slot to write: overwriting a slot being read,
// keeping stale images, or not preferring the lowest free slot.
TEST(OutputSlotsTest, PickForWriting) {
  struct Case {
    const char* before;
    int expectSlot;
    int expectOverwritten;
    const char* after;  // flags after the pick (the picked slot is not yet ready)
  };
  const Case cases[] = {
      {".....", 0, 0, "....."},  {"RR.R.", 2, 0, "RR.R."},
      {"RRRRR", 0, 5, "....."},  // all ready, none read: all cleared, slot 0
      {"BRRRR", 1, 4, "B...."},  {"RBRBR", 0, 3, ".B.B."},
      {"BBBBB", -1, 0, "BBBBB"},  // every slot being read: the frame is dropped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before);
    OutputSlots slots;
    Arrange(slots, c.before);
    ASSERT_EQ(Flags(slots), c.before);
    int overwritten = -1;
    EXPECT_EQ(slots.PickForWriting(&overwritten), c.expectSlot);
    EXPECT_EQ(overwritten, c.expectOverwritten);
    EXPECT_EQ(Flags(slots), c.after);
  }
}

// Catches GetImage handing out images out of camera order once the writer has
// wrapped around to a lower slot, a slot left busy after it was copied, and
// untaken images not accounted for at close.
TEST(OutputSlotsTest, TakeFinishAndClear) {
  OutputSlots slots;
  slots.MarkReady(3);  // the older image
  slots.MarkReady(1);
  EXPECT_EQ(slots.TakeReady(), 3);
  EXPECT_FALSE(slots.IsWaiting());
  slots.Finish(3);
  EXPECT_EQ(Flags(slots), ".R...");
  EXPECT_EQ(slots.Clear(), 1);
  EXPECT_EQ(Flags(slots), ".....");
  EXPECT_EQ(slots.TakeReady(), -1);
  EXPECT_TRUE(slots.IsWaiting());
}

// Catches a lost wake-up (an image marked ready after GetImage found none
// must end its wait) and a stale one (an image marked while nobody waited
// must not wake a later wait that finds nothing).
TEST(OutputSlotsTest, OutputEventWakesOnlyAWaiter) {
  OutputSlots slots;
  slots.MarkReady(0);  // nobody waits: no signal
  ASSERT_EQ(slots.TakeReady(), 0);
  slots.Finish(0);
  ASSERT_EQ(slots.TakeReady(), -1);  // now GetImage would wait
  EXPECT_FALSE(slots.WaitForImage(0));

  std::thread producer([&] { slots.MarkReady(2); });
  EXPECT_TRUE(slots.WaitForImage(10000));
  producer.join();
  EXPECT_EQ(slots.TakeReady(), 2);
}

}  // namespace
}  // namespace varnel
