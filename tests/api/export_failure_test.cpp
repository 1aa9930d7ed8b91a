// Every export's answer for a handle the registry does not know: the failure
// value (0, or -1 for three getters), no crash, and nothing written through the
// caller's pointers.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "varnel.h"

namespace {

constexpr int kPoison = 0x5A5A5A5A;

struct ExportCall {
  const char* name;
  int failure;
  std::function<int(CameraHandle, int*, char*, CameraInfo*)> call;
};

// One entry per export that takes a handle (all but Varnel_GetDllVersion and
// Varnel_Initialize). Pointers given are
// poisoned beforehand so that any write shows.
std::vector<ExportCall> AllHandleExports() {
  using H = CameraHandle;
  std::vector<ExportCall> calls = {
      {"Release", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Release(h); }},
      {"GetLastError", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_GetLastError(h); }},
      {"EnumDevice", 0, [](H h, int*, char* s, CameraInfo*) { return Varnel_EnumDevice(h, s); }},
      {"SetDeviceNumber", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetDeviceNumber(h, 0); }},
      {"GetDeviceName", 0,
       [](H h, int*, char* s, CameraInfo*) { return Varnel_GetDeviceName(h, 0, s, 256); }},
      {"SetCameraType", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetCameraType(h, 1); }},
      {"GetCameraType", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_GetCameraType(h, 0); }},
      {"GetCameraInfo", 0,
       [](H h, int*, char*, CameraInfo* c) { return Varnel_GetCameraInfo(h, c); }},
      {"GetStatus", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_GetStatus(h, 0); }},
      {"SetCaptureWindow", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetCaptureWindow(h, 640, 480); }},
      {"SetCaptureWindowEx", 0,
       [](H h, int*, char*, CameraInfo*) {
         return Varnel_SetCaptureWindowEx(h, 800, 0, 640, 600, 0, 480);
       }},
      {"GetCaptureWindowEx", 0,
       [](H h, int* p, char*, CameraInfo*) {
         return Varnel_GetCaptureWindowEx(h, p, p + 1, p + 2, p + 3, p + 4, p + 5);
       }},
      {"Width", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Width(h); }},
      {"Height", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Height(h); }},
      {"SetColorMode", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetColorMode(h, 24); }},
      {"GetColorMode", -1, [](H h, int*, char*, CameraInfo*) { return Varnel_GetColorMode(h); }},
      {"SetSubSample", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetSubSample(h, 1); }},
      {"GetSubSample", -1, [](H h, int*, char*, CameraInfo*) { return Varnel_GetSubSample(h); }},
      {"SetWaitTime", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetWaitTime(h, 5); }},
      {"GetWaitTime", -1, [](H h, int*, char*, CameraInfo*) { return Varnel_GetWaitTime(h); }},
      {"SetSyncV", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetSyncV(h, 1); }},
      {"GetSyncV", 0, [](H h, int* p, char*, CameraInfo*) { return Varnel_GetSyncV(h, p); }},
      {"SetSyncH", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetSyncH(h, 1); }},
      {"GetSyncH", 0, [](H h, int* p, char*, CameraInfo*) { return Varnel_GetSyncH(h, p); }},
      {"SetMirrorV", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetMirrorV(h, 1); }},
      {"GetMirrorV", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_GetMirrorV(h); }},
      {"SetMirrorH", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetMirrorH(h, 1); }},
      {"GetMirrorH", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_GetMirrorH(h); }},
      {"SetAutoIris", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetAutoIris(h, 1); }},
      {"GetAutoIris", 0, [](H h, int* p, char*, CameraInfo*) { return Varnel_GetAutoIris(h, p); }},
      {"WriteRegister", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_WriteRegister(h, 3, 0x1234); }},
      {"ReadRegister", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_ReadRegister(h, 3, p); }},
      {"SetPreviewWindow", 0,
       [](H h, int*, char*, CameraInfo*) {
         return Varnel_SetPreviewWindow(h, nullptr, 0, 0, 640, 480);
       }},
      {"Preview", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Preview(h); }},
      {"CallBackPreview", 0,
       [](H h, int* p, char*, CameraInfo*) {
         return Varnel_CallBackPreview(h, nullptr, p, 6 * sizeof(int), 0);
       }},
      {"Trigger", 0,
       [](H h, int* p, char*, CameraInfo*) {
         return Varnel_Trigger(h, nullptr, p, 6 * sizeof(int), 0);
       }},
      {"SnapShot", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_SnapShot(h, p, 6 * sizeof(int), 0); }},
      {"Capture", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Capture(h); }},
      {"StartPreview", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_StartPreview(h); }},
      {"StopPreview", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_StopPreview(h); }},
      {"Close", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Close(h); }},
      {"GetImage", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_GetImage(h, p, 6 * sizeof(int), 1); }},
      {"SaveImage", 0,
       [](H h, int*, char*, CameraInfo*) {
         char name[] = "never-written.bmp";
         return Varnel_SaveImage(h, name, VARNEL_FILE_BMP);
       }},
      {"SetCameraDlg", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetCameraDlg(h, nullptr); }},
      {"SetImageDlg", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetImageDlg(h, nullptr); }},
      {"SetAnalogDlg", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetAnalogDlg(h, nullptr); }},
      {"SetFilterValue", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetFilterValue(h, 1, 5); }},
      {"GetFilterValue", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_GetFilterValue(h, 1, p); }},
      {"GetSamplingRate", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_GetSamplingRate(h, p); }},
      {"GetVideoFormat", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_GetVideoFormat(h, p); }},
      {"Fpga_ReadRegister", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_Fpga_ReadRegister(h, 1, p); }},
      {"Fpga_WriteRegister", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_Fpga_WriteRegister(h, 1, 2); }},
      {"Fps", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Fps(h); }},
      {"GetHalfClock", 0,
       [](H h, int* p, char*, CameraInfo*) { return Varnel_GetHalfClock(h, p); }},
      {"GetIOPort", 0, [](H h, int* p, char*, CameraInfo*) { return Varnel_GetIOPort(h, p); }},
      {"ReadSromID", 0, [](H h, int* p, char*, CameraInfo*) { return Varnel_ReadSromID(h, p); }},
      {"Record", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Record(h, 1); }},
      {"SetCrossbar", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetCrossbar(h, 1); }},
      {"SetHalfClock", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetHalfClock(h, 1); }},
      {"SetIOPort", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_SetIOPort(h, 1); }},
      {"SetSamplingRate", 0,
       [](H h, int*, char*, CameraInfo*) { return Varnel_SetSamplingRate(h, 1); }},
      {"WriteSromID", 0, [](H h, int*, char*, CameraInfo*) { return Varnel_WriteSromID(h, 1); }},
  };
#define VARNEL_TEST_FILTER_PAIR(Name)                                                          \
  calls.push_back(                                                                             \
      {"Set" #Name, 0, [](H h, int*, char*, CameraInfo*) { return Varnel_Set##Name(h, 1); }}); \
  calls.push_back(                                                                             \
      {"Get" #Name, 0, [](H h, int* p, char*, CameraInfo*) { return Varnel_Get##Name(h, p); }});
  VARNEL_TEST_FILTER_PAIR(Brightness)
  VARNEL_TEST_FILTER_PAIR(Contrast)
  VARNEL_TEST_FILTER_PAIR(Hue)
  VARNEL_TEST_FILTER_PAIR(Saturation)
  VARNEL_TEST_FILTER_PAIR(Sharpness)
  VARNEL_TEST_FILTER_PAIR(BayerGainRGB)
  VARNEL_TEST_FILTER_PAIR(BayerGainRed)
  VARNEL_TEST_FILTER_PAIR(BayerGainGreen)
  VARNEL_TEST_FILTER_PAIR(BayerGainBlue)
  VARNEL_TEST_FILTER_PAIR(BayerGainAuto)
  VARNEL_TEST_FILTER_PAIR(Gamma)
  VARNEL_TEST_FILTER_PAIR(BayerMode)
  VARNEL_TEST_FILTER_PAIR(GlobalGain)
  VARNEL_TEST_FILTER_PAIR(ColorGainRed)
  VARNEL_TEST_FILTER_PAIR(ColorGainGreen1)
  VARNEL_TEST_FILTER_PAIR(ColorGainGreen2)
  VARNEL_TEST_FILTER_PAIR(ColorGainBlue)
  VARNEL_TEST_FILTER_PAIR(ExposureTime)
  VARNEL_TEST_FILTER_PAIR(GrayMode)
  VARNEL_TEST_FILTER_PAIR(GrayGainR)
  VARNEL_TEST_FILTER_PAIR(GrayGainG1)
  VARNEL_TEST_FILTER_PAIR(GrayGainG2)
  VARNEL_TEST_FILTER_PAIR(GrayGainB)
  VARNEL_TEST_FILTER_PAIR(GrayOffsetR)
  VARNEL_TEST_FILTER_PAIR(GrayOffsetG1)
  VARNEL_TEST_FILTER_PAIR(GrayOffsetG2)
  VARNEL_TEST_FILTER_PAIR(GrayOffsetB)
#undef VARNEL_TEST_FILTER_PAIR
  return calls;
}

struct Poisoned {
  int ints[6];
  char names[10 * 256];
  CameraInfo info;

  Poisoned() {
    for (int& v : ints) v = kPoison;
    std::memset(names, 0x5A, sizeof names);
    std::memset(&info, 0x5A, sizeof info);
    info.size = sizeof(CameraInfo);
  }
  bool Untouched() const {
    Poisoned fresh;
    return std::memcmp(ints, fresh.ints, sizeof ints) == 0 &&
           std::memcmp(names, fresh.names, sizeof names) == 0 &&
           std::memcmp(&info, &fresh.info, sizeof info) == 0;
  }
};

void ExpectEveryExportFails(CameraHandle handle, const char* what) {
  const std::vector<ExportCall> calls = AllHandleExports();
  ASSERT_EQ(calls.size(), 116u);
  for (const ExportCall& call : calls) {
    Poisoned buffers;
    EXPECT_EQ(call.call(handle, buffers.ints, buffers.names, &buffers.info), call.failure)
        << "Varnel_" << call.name << " with " << what;
    EXPECT_TRUE(buffers.Untouched())
        << "Varnel_" << call.name << " wrote through a pointer with " << what;
  }
}

// Fault caught: an export that crashes, answers, or writes for a handle that
// was never issued (including 0 and values that look like addresses).
TEST(ExportFailureTest, UnknownHandlesGiveTheFailureValue) {
  const CameraHandle live = Varnel_Initialize(nullptr);
  ASSERT_NE(live, 0u);
  ASSERT_EQ(Varnel_SetColorMode(live, 36), 1);
  const CameraHandle unknown[] = {0,
                                  1,
                                  live + 1,
                                  live - 1,
                                  static_cast<CameraHandle>(-1),
                                  reinterpret_cast<CameraHandle>(&live)};
  for (CameraHandle handle : unknown) {
    if (handle == live) continue;
    ExpectEveryExportFails(handle, ("handle " + std::to_string(handle)).c_str());
  }
  // None of those calls reached the live instance: its colour mode is the one
  // it was given, and no error is pending on it.
  EXPECT_EQ(Varnel_GetColorMode(live), 36);
  EXPECT_EQ(Varnel_GetLastError(live), 0);
  EXPECT_EQ(Varnel_Release(live), 1);
}

// Fault caught: a released handle still reaching its freed instance.
TEST(ExportFailureTest, ReleasedHandleGivesTheFailureValue) {
  const CameraHandle handle = Varnel_Initialize(nullptr);
  ASSERT_NE(handle, 0u);
  const CameraHandle other = Varnel_Initialize(nullptr);
  ASSERT_NE(other, 0u);
  ASSERT_EQ(Varnel_Release(handle), 1);
  ExpectEveryExportFails(handle, "a released handle");
  EXPECT_EQ(Varnel_Release(handle), 0);
  EXPECT_EQ(Varnel_GetColorMode(other), 8) << "releasing one handle disturbed another";
  EXPECT_EQ(Varnel_Release(other), 1);
}

}  // namespace
