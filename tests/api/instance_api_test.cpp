// The public C interface end to end: the settings that need no camera, the
// error scheme, and the device, window and sensor operations against an
// in-process virtual camera head.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/virtual_head.h"
#include "varnel.h"
#ifndef _WIN32
#include "varnel_posix.h"
#endif

namespace {

constexpr int kDeviceSelect = 2;
constexpr int kRange = 9;
constexpr int kNotSupported = 11;

// A fresh handle; its initialisation built the drivers, so nothing is pending.
class InstanceApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = Varnel_Initialize(nullptr);
    ASSERT_NE(handle_, 0u);
    ASSERT_EQ(Varnel_GetLastError(handle_), 0) << "initialisation failed";
  }
  void TearDown() override { Varnel_Release(handle_); }

  std::vector<int> DrainErrors() {
    std::vector<int> codes;
    for (int code = Varnel_GetLastError(handle_); code != 0; code = Varnel_GetLastError(handle_)) {
      codes.push_back(code);
    }
    return codes;
  }

  CameraHandle handle_ = 0;
};

TEST(LibraryTest, VersionIsFixed) { EXPECT_EQ(Varnel_GetDllVersion(), 0x00C90502u); }

// Fault caught: a colour mode mapped to the wrong class or bit depth, an
// unknown mode changing the stored one, a missing error code.
TEST_F(InstanceApiTest, ColorModeTable) {
  struct Case {
    int mode;
    int readBack;
  };
  const Case cases[] = {{8, 8},   {10, 10}, {12, 12},  {14, 14},  {16, 16},
                        {24, 24}, {32, 32}, {30, 30},  {36, 36},  {42, 42},
                        {48, 48}, {64, 64}, {640, 64}, {768, 64}, {896, 64}};
  EXPECT_EQ(Varnel_GetColorMode(handle_), 8);  // the default class 0
  for (const Case& c : cases) {
    EXPECT_EQ(Varnel_SetColorMode(handle_, c.mode), 1) << c.mode;
    EXPECT_EQ(Varnel_GetColorMode(handle_), c.readBack) << c.mode;
  }
  EXPECT_TRUE(DrainErrors().empty());

  ASSERT_EQ(Varnel_SetColorMode(handle_, 36), 1);
  for (int refused : {20, 0, -8, 9, 63, 65, 639, INT_MAX, INT_MIN}) {
    EXPECT_EQ(Varnel_SetColorMode(handle_, refused), 0) << refused;
    EXPECT_EQ(Varnel_GetLastError(handle_), kRange) << refused;
    EXPECT_EQ(Varnel_GetColorMode(handle_), 36) << "mode " << refused << " changed the setting";
  }
}

// Fault caught: out-of-range values stored, or refused with an error code the
// interface does not record for these three.
TEST_F(InstanceApiTest, SubSampleWaitTimeAndAutoIrisRanges) {
  EXPECT_EQ(Varnel_GetSubSample(handle_), 0);
  EXPECT_EQ(Varnel_GetWaitTime(handle_), 10);
  for (int mode : {2, 1, 0}) {
    EXPECT_EQ(Varnel_SetSubSample(handle_, mode), 1);
    EXPECT_EQ(Varnel_GetSubSample(handle_), mode);
  }
  for (int mode : {3, -1, INT_MAX, INT_MIN}) {
    EXPECT_EQ(Varnel_SetSubSample(handle_, mode), 0) << mode;
    EXPECT_EQ(Varnel_GetSubSample(handle_), 0) << mode;
  }
  for (int ms : {0, 1, INT_MAX}) {
    EXPECT_EQ(Varnel_SetWaitTime(handle_, ms), 1);
    EXPECT_EQ(Varnel_GetWaitTime(handle_), ms);
  }
  for (int ms : {-1, INT_MIN}) {
    EXPECT_EQ(Varnel_SetWaitTime(handle_, ms), 0);
    EXPECT_EQ(Varnel_GetWaitTime(handle_), INT_MAX);
  }
  EXPECT_TRUE(DrainErrors().empty()) << "sub-sample and wait time record no error";

  int valid = 0;
  EXPECT_EQ(Varnel_GetAutoIris(handle_, &valid), 0);
  EXPECT_EQ(valid, 1);
  EXPECT_EQ(Varnel_SetAutoIris(handle_, 2), 1);
  EXPECT_EQ(Varnel_GetAutoIris(handle_, nullptr), 2);
  for (int mode : {3, -1, INT_MIN}) {
    EXPECT_EQ(Varnel_SetAutoIris(handle_, mode), 0);
    EXPECT_EQ(Varnel_GetLastError(handle_), kRange);
  }
  EXPECT_EQ(Varnel_GetAutoIris(handle_, nullptr), 2);
}

// Fault caught: the window not at the no-camera defaults, a null pointer
// dereferenced, or fields returned in the wrong order.
TEST_F(InstanceApiTest, CaptureWindowDefaultsAndNullPointers) {
  int v[6] = {-1, -1, -1, -1, -1, -1};
  EXPECT_EQ(Varnel_GetCaptureWindowEx(handle_, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 1);
  EXPECT_EQ(std::vector<int>(v, v + 6), (std::vector<int>{800, 0, 800, 600, 0, 600}));
  int width = -1;
  EXPECT_EQ(Varnel_GetCaptureWindowEx(handle_, nullptr, nullptr, &width, nullptr, nullptr, nullptr),
            1);
  EXPECT_EQ(width, 800);
  EXPECT_EQ(
      Varnel_GetCaptureWindowEx(handle_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(Varnel_Width(handle_), 800);
  EXPECT_EQ(Varnel_Height(handle_), 600);
  EXPECT_EQ(Varnel_GetCameraType(handle_, 0), 0);
  EXPECT_EQ(Varnel_GetStatus(handle_, 0), 0);
  EXPECT_TRUE(DrainErrors().empty());
}

// Fault caught: an unsupported export returning success, failing to record
// 11, or reading the arguments it is meant to ignore.
TEST_F(InstanceApiTest, UnsupportedExportsRecordElevenAndIgnoreArguments) {
  const CameraHandle h = handle_;
  const std::function<int()> calls[] = {
      [h] { return Varnel_Fpga_ReadRegister(h, 1, nullptr); },
      [h] { return Varnel_Fpga_WriteRegister(h, 1, 2); },
      [h] { return Varnel_Fps(h); },
      [h] { return Varnel_GetHalfClock(h, nullptr); },
      [h] { return Varnel_GetIOPort(h, nullptr); },
      [h] { return Varnel_ReadSromID(h, nullptr, 0); },
      [h] { return Varnel_Record(h, "file.avi", 30); },
      [h] { return Varnel_SetCrossbar(h, 1); },
      [h] { return Varnel_SetHalfClock(h, -1); },
      [h] { return Varnel_SetIOPort(h, 0xFF); },
      [h] { return Varnel_SetSamplingRate(h, INT_MAX); },
      [h] { return Varnel_WriteSromID(h, nullptr, 0); },
  };
  for (const auto& call : calls) EXPECT_EQ(call(), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>(12, kNotSupported));
}

// Fault caught: the sampling-rate and video-format queries recording an error
// or leaving the caller's value unset.
TEST_F(InstanceApiTest, SamplingRateAndVideoFormatStoreZero) {
  int value = 77;
  EXPECT_EQ(Varnel_GetVideoFormat(handle_, &value), 0);
  EXPECT_EQ(value, 0);
  value = 77;
  EXPECT_EQ(Varnel_GetSamplingRate(handle_, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(Varnel_GetVideoFormat(handle_, nullptr), 0);
  EXPECT_EQ(Varnel_GetSamplingRate(handle_, nullptr), 0);
  EXPECT_TRUE(DrainErrors().empty());
}

// Fault caught: codes popped oldest first, more than twenty kept, or fewer.
TEST_F(InstanceApiTest, ErrorStackOrderAndDepth) {
  Varnel_SetColorMode(handle_, 20);    // 9
  Varnel_Fps(handle_);                 // 11
  Varnel_SetDeviceNumber(handle_, 5);  // 2: nothing enumerated
  EXPECT_EQ(DrainErrors(), (std::vector<int>{kDeviceSelect, kNotSupported, kRange}));

  // 21 failures: the first (9) is pushed out by the others (alternating 2, 11).
  Varnel_SetColorMode(handle_, 20);
  for (int i = 0; i < 20; ++i) {
    if (i % 2 == 0) {
      Varnel_SetDeviceNumber(handle_, -1);
    } else {
      Varnel_Fps(handle_);
    }
  }
  std::vector<int> codes;
  for (int i = 0; i < 20; ++i) codes.push_back(Varnel_GetLastError(handle_));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(codes[i], i % 2 == 0 ? kNotSupported : kDeviceSelect) << i;
  }
  EXPECT_EQ(Varnel_GetLastError(handle_), 0);
}

// Fault caught: two handles sharing one instance's settings or errors.
TEST_F(InstanceApiTest, HandlesAreIndependent) {
  const CameraHandle other = Varnel_Initialize(nullptr);
  ASSERT_NE(other, 0u);
  ASSERT_NE(other, handle_);
  ASSERT_EQ(Varnel_SetColorMode(handle_, 48), 1);
  ASSERT_EQ(Varnel_SetColorMode(other, 20), 0);
  EXPECT_EQ(Varnel_GetColorMode(other), 8);
  EXPECT_EQ(Varnel_GetColorMode(handle_), 48);
  EXPECT_TRUE(DrainErrors().empty());
  EXPECT_EQ(Varnel_GetLastError(other), kRange);
  EXPECT_EQ(Varnel_GetLastError(other), 0);
  EXPECT_EQ(Varnel_Release(other), 1);
}

#ifndef _WIN32
// Fault caught: an error recorded without telling the notification window, a
// message with the code in the wrong place, or messages for calls that only
// popped codes.
TEST(NotificationTest, EachRecordedErrorIsPostedToTheWindow) {
  HWND queue = VarnelPosix_CreateMessageQueue();
  ASSERT_NE(queue, nullptr);
  const CameraHandle handle = Varnel_Initialize(queue);
  ASSERT_NE(handle, 0u);
  Varnel_SetColorMode(handle, 20);
  Varnel_SetAutoIris(handle, 7);
  Varnel_Fps(handle);
  Varnel_SetColorMode(handle, 24);  // succeeds: no message
  while (Varnel_GetLastError(handle) != 0) {
  }
  const int expected[] = {9, 9, 11};
  for (int code : expected) {
    VarnelPosixMessage message{};
    ASSERT_EQ(VarnelPosix_ReadMessage(queue, &message, 0), 1) << code;
    EXPECT_EQ(message.message, 0x8003u);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, code);
  }
  EXPECT_EQ(VarnelPosix_PendingMessages(queue), 0);
  EXPECT_EQ(Varnel_Release(handle), 1);
  VarnelPosix_DestroyMessageQueue(queue);
}

// Fault caught: posting to a window the application has already destroyed
// crashing the library.
TEST(NotificationTest, DestroyedWindowIsHarmless) {
  HWND queue = VarnelPosix_CreateMessageQueue();
  const CameraHandle handle = Varnel_Initialize(queue);
  VarnelPosix_DestroyMessageQueue(queue);
  EXPECT_EQ(Varnel_SetColorMode(handle, 20), 0);
  EXPECT_EQ(Varnel_GetLastError(handle), 9);
  EXPECT_EQ(Varnel_Release(handle), 1);
}
#endif

}  // namespace
