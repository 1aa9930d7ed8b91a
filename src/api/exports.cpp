// The exported C interface. Nearly every export is a thin forwarder: look the
// handle up, give the export's failure value for an unknown handle (recording
// nothing, as there is no instance to hold the code), otherwise call the
// instance operation of the same name and return its result unchanged.
#include <cstdint>
#include <memory>
#include <new>

#include "api/filter_exports.h"
#include "api/handle_registry.h"
#include "instance/camera_instance.h"
#include "varnel.h"

using varnel::CameraInstance;
using varnel::Registry;

namespace {

constexpr uint32_t kDllVersion = 0x00C90502u;

// Calls `operation` on the instance behind `handle`, or gives `failure`.
template <typename Result, typename Operation>
Result Forward(CameraHandle handle, Result failure, Operation&& operation) {
  CameraInstance* instance = Registry().Lookup(handle);
  if (instance == nullptr) return failure;
  return operation(*instance);
}

varnel::WindowHandle AsWindow(HWND window) {
  return reinterpret_cast<varnel::WindowHandle>(window);
}

// The shared body of the twelve unsupported exports.
int UnsupportedExport(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.Unsupported(); });
}

// The shared body of Varnel_GetSamplingRate and Varnel_GetVideoFormat.
int ZeroValueExport(CameraHandle handle, int* value) {
  return Forward(handle, 0, [value](CameraInstance&) {
    if (value != nullptr) *value = 0;
    return 0;
  });
}

}  // namespace

extern "C" {

// ---- library and errors ----

uint32_t VARNEL_API Varnel_GetDllVersion(void) { return kDllVersion; }

CameraHandle VARNEL_API Varnel_Initialize(HWND window) {
  varnel::HandleRegistry& registry = Registry();
  uint32_t handle = 0;
  try {
    handle = registry.InsertNew(std::make_unique<CameraInstance>());
  } catch (const std::bad_alloc&) {
    return 0;
  }
  // The result of the initialisation is not passed on: a failed one has
  // recorded error 5 and told the window, and the handle still reaches the
  // instance so the application can read that code.
  if (CameraInstance* instance = registry.Lookup(handle)) instance->Initialise(AsWindow(window));
  return handle;
}

int VARNEL_API Varnel_Release(CameraHandle handle) { return Registry().Release(handle) ? 1 : 0; }

int VARNEL_API Varnel_GetLastError(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.PopError(); });
}

// ---- device and camera type ----

int VARNEL_API Varnel_EnumDevice(CameraHandle handle, char* names) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.EnumDevice(names); });
}

int VARNEL_API Varnel_SetDeviceNumber(CameraHandle handle, int index) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetDeviceNumber(index); });
}

int VARNEL_API Varnel_GetDeviceName(CameraHandle handle, int index, char* name, int size) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.GetDeviceName(index, name, size); });
}

int VARNEL_API Varnel_SetCameraType(CameraHandle handle, int type) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetCameraType(type); });
}

int VARNEL_API Varnel_GetCameraType(CameraHandle handle, int /*unused*/) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.GetCameraType(); });
}

int VARNEL_API Varnel_GetCameraInfo(CameraHandle handle, CameraInfo* info) {
  static_assert(sizeof(CameraInfo) == varnel::kCameraInfoSize);
  return Forward(handle, 0, [&](CameraInstance& i) {
    return i.GetCameraInfo(reinterpret_cast<int32_t*>(info));
  });
}

int VARNEL_API Varnel_GetStatus(CameraHandle handle, int /*unused*/) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.GetStatus(); });
}

// ---- capture format and sensor settings ----

int VARNEL_API Varnel_SetCaptureWindow(CameraHandle handle, int width, int height) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetCaptureWindow(width, height); });
}

int VARNEL_API Varnel_SetCaptureWindowEx(CameraHandle handle, int hTotal, int hStart,
                                         int hEffective, int vTotal, int vStart, int vEffective) {
  return Forward(handle, 0, [&](CameraInstance& i) {
    return i.SetCaptureWindowEx(hTotal, hStart, hEffective, vTotal, vStart, vEffective);
  });
}

int VARNEL_API Varnel_GetCaptureWindowEx(CameraHandle handle, int* hTotal, int* hStart,
                                         int* hEffective, int* vTotal, int* vStart,
                                         int* vEffective) {
  return Forward(handle, 0, [&](CameraInstance& i) {
    return i.GetCaptureWindowEx(hTotal, hStart, hEffective, vTotal, vStart, vEffective);
  });
}

int VARNEL_API Varnel_Width(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.Width(); });
}

int VARNEL_API Varnel_Height(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.Height(); });
}

int VARNEL_API Varnel_SetColorMode(CameraHandle handle, int mode) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetColorMode(mode); });
}

int VARNEL_API Varnel_GetColorMode(CameraHandle handle) {
  return Forward(handle, -1, [](CameraInstance& i) { return i.GetColorMode(); });
}

int VARNEL_API Varnel_SetSubSample(CameraHandle handle, int mode) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetSubSample(mode); });
}

int VARNEL_API Varnel_GetSubSample(CameraHandle handle) {
  return Forward(handle, -1, [](CameraInstance& i) { return i.GetSubSample(); });
}

int VARNEL_API Varnel_SetWaitTime(CameraHandle handle, int milliseconds) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetWaitTime(milliseconds); });
}

int VARNEL_API Varnel_GetWaitTime(CameraHandle handle) {
  return Forward(handle, -1, [](CameraInstance& i) { return i.GetWaitTime(); });
}

int VARNEL_API Varnel_SetSyncV(CameraHandle handle, int on) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetSyncV(on); });
}

int VARNEL_API Varnel_GetSyncV(CameraHandle handle, int* flag) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.GetSyncV(flag); });
}

int VARNEL_API Varnel_SetSyncH(CameraHandle handle, int on) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetSyncH(on); });
}

int VARNEL_API Varnel_GetSyncH(CameraHandle handle, int* flag) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.GetSyncH(flag); });
}

int VARNEL_API Varnel_SetMirrorV(CameraHandle handle, int on) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetMirrorV(on); });
}

int VARNEL_API Varnel_GetMirrorV(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.GetMirrorV(); });
}

int VARNEL_API Varnel_SetMirrorH(CameraHandle handle, int on) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetMirrorH(on); });
}

int VARNEL_API Varnel_GetMirrorH(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.GetMirrorH(); });
}

int VARNEL_API Varnel_SetAutoIris(CameraHandle handle, int mode) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetAutoIris(mode); });
}

int VARNEL_API Varnel_GetAutoIris(CameraHandle handle, int* valid) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.GetAutoIris(valid); });
}

int VARNEL_API Varnel_WriteRegister(CameraHandle handle, int address, int value) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.WriteRegister(address, value); });
}

int VARNEL_API Varnel_ReadRegister(CameraHandle handle, int address, int* valid) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.ReadRegister(address, valid); });
}

// ---- acquisition, images and windows ----

int VARNEL_API Varnel_SetPreviewWindow(CameraHandle handle, HWND parent, int x, int y, int width,
                                       int height) {
  return Forward(handle, 0, [&](CameraInstance& i) {
    return i.SetPreviewWindow(AsWindow(parent), x, y, width, height);
  });
}

int VARNEL_API Varnel_Preview(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.Preview(); });
}

int VARNEL_API Varnel_CallBackPreview(CameraHandle handle, HWND frameWindow, void* buffer, int size,
                                      int topRowFirst) {
  return Forward(handle, 0, [&](CameraInstance& i) {
    return i.CallBackPreview(AsWindow(frameWindow), buffer, size, topRowFirst);
  });
}

int VARNEL_API Varnel_Trigger(CameraHandle handle, HWND frameWindow, void* buffer, int size,
                              int topRowFirst) {
  return Forward(handle, 0, [&](CameraInstance& i) {
    return i.Trigger(AsWindow(frameWindow), buffer, size, topRowFirst);
  });
}

int VARNEL_API Varnel_SnapShot(CameraHandle handle, void* buffer, int size, int topRowFirst) {
  return Forward(handle, 0,
                 [&](CameraInstance& i) { return i.SnapShot(buffer, size, topRowFirst); });
}

int VARNEL_API Varnel_Capture(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.Capture(); });
}

int VARNEL_API Varnel_StartPreview(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.StartPreview(); });
}

int VARNEL_API Varnel_StopPreview(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.StopPreview(); });
}

int VARNEL_API Varnel_Close(CameraHandle handle) {
  return Forward(handle, 0, [](CameraInstance& i) { return i.Close(); });
}

int VARNEL_API Varnel_GetImage(CameraHandle handle, void* buffer, int size, int topRowFirst) {
  return Forward(handle, 0,
                 [&](CameraInstance& i) { return i.GetImage(buffer, size, topRowFirst); });
}

int VARNEL_API Varnel_SaveImage(CameraHandle handle, char* fileName, int format) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SaveImage(fileName, format); });
}

// ---- dialogs ----

int VARNEL_API Varnel_SetCameraDlg(CameraHandle handle, HWND owner) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetCameraDlg(AsWindow(owner)); });
}

int VARNEL_API Varnel_SetImageDlg(CameraHandle handle, HWND owner) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetImageDlg(AsWindow(owner)); });
}

int VARNEL_API Varnel_SetAnalogDlg(CameraHandle handle, HWND owner) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetAnalogDlg(AsWindow(owner)); });
}

// ---- filter values ----

int VARNEL_API Varnel_SetFilterValue(CameraHandle handle, int id, int value) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.SetFilterValue(id, value); });
}

int VARNEL_API Varnel_GetFilterValue(CameraHandle handle, int id, int* valid) {
  return Forward(handle, 0, [&](CameraInstance& i) { return i.GetFilterValue(id, valid); });
}

#define VARNEL_DEFINE_FILTER_PAIR(id, name)                          \
  int VARNEL_API Varnel_Set##name(CameraHandle handle, int value) {  \
    return Varnel_SetFilterValue(handle, id, value);                 \
  }                                                                  \
  int VARNEL_API Varnel_Get##name(CameraHandle handle, int* valid) { \
    return Varnel_GetFilterValue(handle, id, valid);                 \
  }
VARNEL_FILTER_EXPORTS(VARNEL_DEFINE_FILTER_PAIR)
#undef VARNEL_DEFINE_FILTER_PAIR

// ---- sampling rate and video format ----

int VARNEL_API Varnel_GetSamplingRate(CameraHandle handle, int* value) {
  return ZeroValueExport(handle, value);
}

int VARNEL_API Varnel_GetVideoFormat(CameraHandle handle, int* value) {
  return ZeroValueExport(handle, value);
}

// ---- unsupported operations ----

#define VARNEL_DEFINE_UNSUPPORTED(name) \
  int VARNEL_API name(CameraHandle handle, ...) { return UnsupportedExport(handle); }
VARNEL_DEFINE_UNSUPPORTED(Varnel_Fpga_ReadRegister)
VARNEL_DEFINE_UNSUPPORTED(Varnel_Fpga_WriteRegister)
VARNEL_DEFINE_UNSUPPORTED(Varnel_Fps)
VARNEL_DEFINE_UNSUPPORTED(Varnel_GetHalfClock)
VARNEL_DEFINE_UNSUPPORTED(Varnel_GetIOPort)
VARNEL_DEFINE_UNSUPPORTED(Varnel_ReadSromID)
VARNEL_DEFINE_UNSUPPORTED(Varnel_Record)
VARNEL_DEFINE_UNSUPPORTED(Varnel_SetCrossbar)
VARNEL_DEFINE_UNSUPPORTED(Varnel_SetHalfClock)
VARNEL_DEFINE_UNSUPPORTED(Varnel_SetIOPort)
VARNEL_DEFINE_UNSUPPORTED(Varnel_SetSamplingRate)
VARNEL_DEFINE_UNSUPPORTED(Varnel_WriteSromID)
#undef VARNEL_DEFINE_UNSUPPORTED

}  // extern "C"
