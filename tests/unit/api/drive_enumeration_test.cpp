#include "instance/drive_enumeration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "sim/virtual_head.h"

namespace varnel {
namespace {

std::vector<int> Listed() {
  int letters[kMaxDriveSlots];
  for (int& slot : letters) slot = -1;
  const int count = EnumerateCameraDrives(letters);
  EXPECT_GE(count, 0);
  EXPECT_LE(count, 26);
  for (int i = count; i < kMaxDriveSlots; ++i) EXPECT_EQ(letters[i], 0) << "slot " << i;
  return std::vector<int>(letters, letters + count);
}

// Fault caught: attached camera volumes missed, listed out of letter order,
// drives past the first gap in the mask skipped, or stale slots left behind.
TEST(DriveEnumerationTest, ListsCameraVolumesInLetterOrder) {
  const std::vector<int> before = Listed();
  auto low = std::make_shared<VirtualHead>(kModelHXA1);
  auto high = std::make_shared<VirtualHead>(kModelR2T);
  // Letters chosen so that most systems have no drive of their own there.
  ASSERT_TRUE(high->AttachTo(u'Y'));
  ASSERT_TRUE(low->AttachTo(u'K'));
  std::vector<int> expected = before;
  expected.push_back('K');
  expected.push_back('Y');
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Listed(), expected);

  high->Detach();
  low->Detach();
  EXPECT_EQ(Listed(), before);
}

}  // namespace
}  // namespace varnel
