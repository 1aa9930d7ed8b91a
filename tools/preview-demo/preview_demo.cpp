// preview_demo: shows a live preview window on Windows (or under Wine), for
// looking at it and taking screenshots of it.
//
//   preview_demo top-level|child [SECONDS] [COLOUR_MODE]
//
// An in-process virtual camera head (HZF6, whose whole sensor shows colour
// bars over a grey ramp) is attached to drive V: and previewed at a quarter of
// its size: "top-level" in a window of its own, centred on the screen; "child"
// inside an application window, at a placement larger than the frame, so the
// picture is scaled. The program serves its windows' messages for SECONDS
// (default 10), then closes the preview and exits.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "sim/virtual_head.h"
#include "varnel.h"

namespace {

constexpr char16_t kLetter = u'V';
constexpr int kHzf6Type = 7;

// Selects the drive the head is attached to and the camera type; false when
// the head is not listed.
bool SelectHead(CameraHandle handle) {
  std::vector<char> names(VARNEL_MAX_DEVICES * VARNEL_DEVICE_NAME_SIZE);
  const int count = Varnel_EnumDevice(handle, names.data());
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(&names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE], "V:") == 0) {
      return Varnel_SetDeviceNumber(handle, i) == 1 && Varnel_SetCameraType(handle, kHzf6Type) == 1;
    }
  }
  return false;
}

HWND MakeApplicationWindow() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = "VarnelPreviewDemo";
  if (RegisterClassExA(&windowClass) == 0) return nullptr;
  return CreateWindowExA(0, "VarnelPreviewDemo", "Preview demo",
                         WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 40, 40, 560, 420,
                         nullptr, nullptr, windowClass.hInstance, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string kind = argc > 1 ? argv[1] : "top-level";
  if (kind != "top-level" && kind != "child") {
    std::fprintf(stderr, "usage: preview_demo top-level|child [SECONDS] [COLOUR_MODE]\n");
    return 2;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
  const int mode = argc > 3 ? std::atoi(argv[3]) : 24;

  auto head = std::make_shared<varnel::VirtualHead>(varnel::kModelHZF6);
  varnel::SceneOptions scene = head->Scene();
  scene.stampFrameNumber = true;
  scene.movingMark = true;
  head->SetScene(scene);
  if (!head->AttachTo(kLetter)) {
    std::fprintf(stderr, "preview_demo: cannot attach the virtual head to V:\n");
    return 1;
  }
  const CameraHandle handle = Varnel_Initialize(nullptr);
  int result = 1;
  HWND application = nullptr;
  // The settings a new user gets, but for the colour mode and a quarter of
  // the sensor's size.
  if (handle != 0 && SelectHead(handle) && Varnel_SetColorMode(handle, mode) == 1 &&
      Varnel_SetSubSample(handle, 2) == 1) {
    if (kind == "child") {
      application = MakeApplicationWindow();
      Varnel_SetPreviewWindow(handle, application, 16, 16, 512, 352);
    }
    if (Varnel_Preview(handle) == 1) {
      const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
      while (static_cast<int>(end - GetTickCount()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      }
      Varnel_Close(handle);
      result = 0;
    }
  }
  if (result != 0) {
    std::fprintf(stderr, "preview_demo: the preview did not start (error %d)\n",
                 Varnel_GetLastError(handle));
  }
  if (application != nullptr) DestroyWindow(application);
  Varnel_Release(handle);
  head->Detach();
  return result;
}
