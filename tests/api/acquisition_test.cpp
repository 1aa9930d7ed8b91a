// Acquisition through the C interface against the in-process virtual head:
// snapshots, captures, streaming with a callback, triggers, the state rules,
// buffers and faults. Every test here runs on every model it names, on Linux
// and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "support/camera_session.h"
#include "support/test_clock.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'R';

// Fault caught: a snapshot that is not upright (rows bottom first, columns
// mirrored), a frame not taken at all, or an image of the wrong size.
TEST(AcquisitionSmoke, SnapshotIsUpright) {
  for (const ModelEntry& m : kModels) {
    CameraSession session(m.code, m.type, kLetter);
    ASSERT_TRUE(session.Ready()) << m.name;
    const CameraHandle h = session.Handle();
    if (WindowSettable(m.code))
      ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 320, 0, 0, 240), 1) << m.name;
    int width = 0, height = 0;
    AcquisitionSize(h, m.code, &width, &height);
    Picture picture = MakePicture(width, height, 1);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(Varnel_SnapShot(h, picture.bytes.data(), static_cast<int>(picture.bytes.size()), 1),
              1)
        << m.name << " " << ::testing::PrintToString(session.Errors());
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    const std::optional<uint32_t> stamp = StampOf(picture);
    EXPECT_TRUE(stamp.has_value()) << m.name;
    std::printf("%s %dx%d stamp %u last %u  %lld ms\n", m.name, width, height, stamp.value_or(0),
                session.Head().LastDeliveredFrame(), (long long)ms);
  }
}

}  // namespace
}  // namespace varnel::testing
