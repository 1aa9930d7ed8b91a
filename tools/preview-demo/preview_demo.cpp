// preview_demo: shows a live preview window, or one of the library's
// dialogs, on Windows (or under Wine), for looking at it and taking
// screenshots of it.
//
//   preview_demo top-level|child [SECONDS] [COLOUR_MODE]
//   preview_demo dialog camera|image|gray|analog [SECONDS] [COLOUR_MODE]
//
// An in-process virtual camera head (HZF6, whose whole sensor shows colour
// bars over a grey ramp) is attached to drive V: and previewed at a quarter of
// its size: "top-level" in a window of its own, centred on the screen; "child"
// inside an application window, at a placement larger than the frame, so the
// picture is scaled. The program serves its windows' messages for SECONDS
// (default 10), then closes the preview and exits.
//
// "dialog" opens the camera settings, image filter (its "Gray Filter" tab
// for "gray", which needs a monochrome COLOUR_MODE) or analog dialog of the
// camera type a new instance starts with (HWH8), on the settings a new user
// gets, and cancels it after SECONDS.
#include <windows.h>
#include <commctrl.h>

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
constexpr int kHwh8Type = 0;
// The dialogs' tab control (dialogs/dialog_ids.h).
constexpr int kTabControl = 1001;

// Selects the drive the head is attached to and the camera type; false when
// the head is not listed.
bool SelectHead(CameraHandle handle, int type) {
  std::vector<char> names(VARNEL_MAX_DEVICES * VARNEL_DEVICE_NAME_SIZE);
  const int count = Varnel_EnumDevice(handle, names.data());
  for (int i = 0; i < count; ++i) {
    if (std::strcmp(&names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE], "V:") == 0) {
      return Varnel_SetDeviceNumber(handle, i) == 1 && Varnel_SetCameraType(handle, type) == 1;
    }
  }
  return false;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM result) {
  char name[16] = {};
  GetClassNameA(window, name, sizeof name);
  if (std::strcmp(name, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(result) = window;
  return FALSE;
}

// The dialog this thread shows (the top-level one, not its pages); null when
// none is open.
HWND OpenDialog() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Timers of the dialog's modal loop: one shows the second tab, one cancels.
void CALLBACK ShowSecondTab(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND dialog = OpenDialog();
  HWND tab = dialog != nullptr ? GetDlgItem(dialog, kTabControl) : nullptr;
  if (tab == nullptr) return;
  SendMessageA(tab, TCM_SETCURSEL, 1, 0);
  NMHDR header{tab, static_cast<UINT_PTR>(kTabControl), static_cast<UINT>(TCN_SELCHANGE)};
  SendMessageA(dialog, WM_NOTIFY, kTabControl, reinterpret_cast<LPARAM>(&header));
}

void CALLBACK CancelDialog(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  if (HWND dialog = OpenDialog()) PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
}

// Opens the dialog `which` (camera, image, gray or analog) and returns what
// its export returned.
int ShowDialog(CameraHandle handle, const std::string& which, int seconds) {
  if (which == "gray") SetTimer(nullptr, 0, 500, ShowSecondTab);
  SetTimer(nullptr, 0, static_cast<UINT>(seconds) * 1000, CancelDialog);
  if (which == "camera") return Varnel_SetCameraDlg(handle, nullptr);
  if (which == "image" || which == "gray") return Varnel_SetImageDlg(handle, nullptr);
  return Varnel_SetAnalogDlg(handle, nullptr);
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
  const bool dialog = kind == "dialog";
  const std::string which = dialog && argc > 2 ? argv[2] : "";
  const bool knownDialog =
      which == "camera" || which == "image" || which == "gray" || which == "analog";
  if (kind != "top-level" && kind != "child" && !(dialog && knownDialog)) {
    std::fprintf(stderr,
                 "usage: preview_demo top-level|child [SECONDS] [COLOUR_MODE]\n"
                 "       preview_demo dialog camera|image|gray|analog [SECONDS] [COLOUR_MODE]\n");
    return 2;
  }
  const int first = dialog ? 3 : 2;  // the first of SECONDS and COLOUR_MODE
  const int seconds = argc > first ? std::atoi(argv[first]) : 10;
  const int mode = argc > first + 1 ? std::atoi(argv[first + 1]) : 24;

  auto head =
      std::make_shared<varnel::VirtualHead>(dialog ? varnel::kModelHWH8 : varnel::kModelHZF6);
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
  if (dialog) {
    // The settings a new user gets, but for the colour mode.
    if (handle != 0 && SelectHead(handle, kHwh8Type) && Varnel_SetColorMode(handle, mode) == 1) {
      // 1 for OK, 0 for Cancel (or a dialog that could not open: error 11).
      ShowDialog(handle, which, seconds);
      const int error = Varnel_GetLastError(handle);
      if (error != 0) std::fprintf(stderr, "preview_demo: the dialog failed (error %d)\n", error);
      result = error == 0 ? 0 : 1;
    }
    Varnel_Release(handle);
    head->Detach();
    return result;
  }
  // The settings a new user gets, but for the colour mode and a quarter of
  // the sensor's size.
  if (handle != 0 && SelectHead(handle, kHzf6Type) && Varnel_SetColorMode(handle, mode) == 1 &&
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
