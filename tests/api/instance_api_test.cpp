// The public C interface end to end on an instance without a camera: the
// settings that need no camera, the error scheme, and the operations that do
// need one.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "varnel.h"
#ifndef _WIN32
#include "varnel_posix.h"
#endif

namespace {

constexpr int kNoDriver = 1;
constexpr int kDeviceSelect = 2;
constexpr int kMemory = 5;
constexpr int kRange = 9;
constexpr int kNotSupported = 11;

// A fresh handle whose initialisation code (5: no camera driver could be
// built) has been read already.
class InstanceApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = Varnel_Initialize(nullptr);
    ASSERT_NE(handle_, 0u);
    ASSERT_EQ(Varnel_GetLastError(handle_), kMemory);
    ASSERT_EQ(Varnel_GetLastError(handle_), 0);
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

// Fault caught: an operation that needs a camera claiming success without one,
// recording the wrong code, or writing through a pointer it must not write.
TEST_F(InstanceApiTest, OperationsNeedingACameraRecordErrorOne) {
  char names[10 * 256];
  char name[64];
  int buffer[16];
  CameraInfo info{};
  info.size = sizeof info;
  char file[] = "unused.bmp";
  struct Case {
    const char* name;
    int expected;
    std::function<int()> call;
  };
  const CameraHandle h = handle_;
  const Case cases[] = {
      {"EnumDevice", 0, [&] { return Varnel_EnumDevice(h, names); }},
      {"SetDeviceNumber", 0, [&] { return Varnel_SetDeviceNumber(h, 0); }},
      {"GetDeviceName", 0, [&] { return Varnel_GetDeviceName(h, 0, name, sizeof name); }},
      {"GetDeviceName small", 0, [&] { return Varnel_GetDeviceName(h, 0, name, 18); }},
      {"GetCameraInfo", 0, [&] { return Varnel_GetCameraInfo(h, &info); }},
      {"GetCameraInfo null", 0, [&] { return Varnel_GetCameraInfo(h, nullptr); }},
      {"SetCaptureWindow", 0, [&] { return Varnel_SetCaptureWindow(h, 640, 480); }},
      {"SetCaptureWindowEx", 0,
       [&] { return Varnel_SetCaptureWindowEx(h, 800, 0, 640, 600, 0, 480); }},
      {"SetSyncV", 0, [&] { return Varnel_SetSyncV(h, 1); }},
      {"SetSyncH", 0, [&] { return Varnel_SetSyncH(h, 0); }},
      {"SetMirrorV", 0, [&] { return Varnel_SetMirrorV(h, 1); }},
      {"SetMirrorH", 0, [&] { return Varnel_SetMirrorH(h, 1); }},
      {"GetMirrorV", 0, [&] { return Varnel_GetMirrorV(h); }},
      {"GetMirrorH", 0, [&] { return Varnel_GetMirrorH(h); }},
      {"WriteRegister", 0, [&] { return Varnel_WriteRegister(h, 0x10, 0xABCD); }},
      {"ReadRegister null", 0, [&] { return Varnel_ReadRegister(h, 0x10, nullptr); }},
      {"SetPreviewWindow", 0, [&] { return Varnel_SetPreviewWindow(h, nullptr, 0, 0, 10, 10); }},
      {"Preview", 0, [&] { return Varnel_Preview(h); }},
      {"CallBackPreview", 0,
       [&] { return Varnel_CallBackPreview(h, nullptr, buffer, sizeof buffer, 0); }},
      {"Trigger", 0, [&] { return Varnel_Trigger(h, nullptr, buffer, sizeof buffer, 0); }},
      {"SnapShot", 0, [&] { return Varnel_SnapShot(h, buffer, sizeof buffer, 0); }},
      {"SnapShot null", 0, [&] { return Varnel_SnapShot(h, nullptr, -1, 0); }},
      {"Capture", 0, [&] { return Varnel_Capture(h); }},
      {"StartPreview", 0, [&] { return Varnel_StartPreview(h); }},
      {"StopPreview", 0, [&] { return Varnel_StopPreview(h); }},
      {"Close", 1, [&] { return Varnel_Close(h); }},
      {"GetImage", 0, [&] { return Varnel_GetImage(h, buffer, sizeof buffer, 1); }},
      {"GetImage null", 0, [&] { return Varnel_GetImage(h, nullptr, INT_MAX, 1); }},
      {"SaveImage", 0, [&] { return Varnel_SaveImage(h, file, VARNEL_FILE_PNG); }},
      {"SaveImage null", 0, [&] { return Varnel_SaveImage(h, nullptr, -5); }},
      {"SetCameraDlg", 0, [&] { return Varnel_SetCameraDlg(h, nullptr); }},
      {"SetImageDlg", 0, [&] { return Varnel_SetImageDlg(h, nullptr); }},
      {"SetAnalogDlg", 0, [&] { return Varnel_SetAnalogDlg(h, nullptr); }},
      {"SetFilterValue", 0, [&] { return Varnel_SetFilterValue(h, 1, 10); }},
      {"SetGamma", 0, [&] { return Varnel_SetGamma(h, 100); }},
      {"SetColorGainRed", 0, [&] { return Varnel_SetColorGainRed(h, 5); }},
      {"SetGlobalGain", 0, [&] { return Varnel_SetGlobalGain(h, 64); }},
  };
  for (const Case& c : cases) {
    std::memset(names, 0x5A, sizeof names);
    std::memset(name, 0x5A, sizeof name);
    std::memset(buffer, 0x5A, sizeof buffer);
    std::memset(&info, 0x5A, sizeof info);
    info.size = sizeof info;
    EXPECT_EQ(c.call(), c.expected) << c.name;
    EXPECT_EQ(DrainErrors(), std::vector<int>{kNoDriver}) << c.name;
    EXPECT_EQ(names[0], 0x5A) << c.name;
    EXPECT_EQ(name[0], 0x5A) << c.name;
    EXPECT_EQ(buffer[0], 0x5A5A5A5A) << c.name;
    EXPECT_EQ(info.maxWidth, 0x5A5A5A5A) << c.name;
  }
  int valid = 7;
  EXPECT_EQ(Varnel_ReadRegister(h, 0x10, &valid), 0);
  EXPECT_EQ(valid, 7) << "ReadRegister wrote *valid before reaching the camera";
  EXPECT_EQ(DrainErrors(), std::vector<int>{kNoDriver});
}

// Fault caught: the sync and filter getters not telling the caller that the
// value is invalid when no camera is attached.
TEST_F(InstanceApiTest, GettersWithoutACameraClearTheirFlag) {
  struct Case {
    const char* name;
    int expected;
    std::function<int(int*)> call;
  };
  const CameraHandle h = handle_;
  const Case cases[] = {
      {"GetSyncV", -1, [h](int* p) { return Varnel_GetSyncV(h, p); }},
      {"GetSyncH", -1, [h](int* p) { return Varnel_GetSyncH(h, p); }},
      {"GetFilterValue", 0, [h](int* p) { return Varnel_GetFilterValue(h, 11, p); }},
      {"GetFilterValue unknown id", 0, [h](int* p) { return Varnel_GetFilterValue(h, 99, p); }},
      {"GetBrightness", 0, [h](int* p) { return Varnel_GetBrightness(h, p); }},
      {"GetExposureTime", 0, [h](int* p) { return Varnel_GetExposureTime(h, p); }},
      {"GetColorGainBlue", 0, [h](int* p) { return Varnel_GetColorGainBlue(h, p); }},
  };
  for (const Case& c : cases) {
    int flag = 1;
    EXPECT_EQ(c.call(&flag), c.expected) << c.name;
    EXPECT_EQ(flag, 0) << c.name;
    EXPECT_EQ(c.call(nullptr), c.expected) << c.name << " with a null pointer";
    EXPECT_EQ(DrainErrors(), (std::vector<int>{kNoDriver, kNoDriver})) << c.name;
  }
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

// Fault caught: a camera type above 10 or negative accepted, types 9 and 10
// not mapped to driver 1, or a type reported as set although no driver exists.
TEST_F(InstanceApiTest, CameraTypeRangeAndFailureWithoutDrivers) {
  for (int type : {11, -1, INT_MIN, INT_MAX}) {
    EXPECT_EQ(Varnel_SetCameraType(handle_, type), 0) << type;
    EXPECT_EQ(DrainErrors(), std::vector<int>{kRange}) << type;
  }
  for (int type : {0, 1, 9, 10}) {
    EXPECT_EQ(Varnel_SetCameraType(handle_, type), 0) << type;
    // The device selection fails (no driver of that type), and the stored
    // settings cannot be loaded yet.
    EXPECT_EQ(DrainErrors(), (std::vector<int>{kNotSupported, kDeviceSelect})) << type;
    EXPECT_EQ(Varnel_GetCameraType(handle_, 0), 0) << type;
  }
}

// Fault caught: codes popped oldest first, more than twenty kept, or fewer.
TEST_F(InstanceApiTest, ErrorStackOrderAndDepth) {
  Varnel_SetColorMode(handle_, 20);  // 9
  Varnel_Fps(handle_);               // 11
  Varnel_Preview(handle_);           // 1
  EXPECT_EQ(DrainErrors(), (std::vector<int>{kNoDriver, kNotSupported, kRange}));

  // 21 failures: the first (9) is pushed out by the others (alternating 1, 11).
  Varnel_SetColorMode(handle_, 20);
  for (int i = 0; i < 20; ++i) (i % 2 == 0) ? Varnel_Preview(handle_) : Varnel_Fps(handle_);
  std::vector<int> codes;
  for (int i = 0; i < 20; ++i) codes.push_back(Varnel_GetLastError(handle_));
  for (int i = 0; i < 20; ++i) {
    EXPECT_EQ(codes[i], i % 2 == 0 ? kNotSupported : kNoDriver) << i;
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
  EXPECT_EQ(Varnel_GetLastError(other), kMemory);
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
  const int expected[] = {5, 9, 9, 11};
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
