// The preview window as a Windows application sees it: real windows found
// with EnumWindows, classes looked up with GetClassInfoEx, pixels read back
// from the screen with BitBlt, all driven through the C interface against
// the in-process virtual head.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "api/handle_registry.h"
#include "instance/camera_instance.h"
#include "support/camera_session.h"
#include "support/wait_until.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'P';
constexpr char16_t kOtherLetter = u'Q';
constexpr char kTopLevelTitle[] = "Active Window";
constexpr char kChildTitle[] = "ActiveMovie Window";
constexpr char kClassPrefix[] = "VideoRenderer_";
constexpr int kPreviewError = 4;

// The module the library's code is in: linked into this program here.
HINSTANCE LibraryModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&Varnel_Preview), &module);
  return module;
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

std::string TitleOf(HWND window) {
  char title[256] = {};
  GetWindowTextA(window, title, sizeof title);
  return title;
}

bool IsPreviewClass(const std::string& name) { return name.rfind(kClassPrefix, 0) == 0; }

bool ClassRegistered(const std::string& name) {
  WNDCLASSEXA info{};
  info.cbSize = sizeof info;
  return GetClassInfoExA(LibraryModule(), name.c_str(), &info) != FALSE;
}

BOOL CALLBACK CollectPreview(HWND window, LPARAM list) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == GetCurrentProcessId() && IsPreviewClass(ClassOf(window))) {
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  }
  return TRUE;
}

// The preview windows of this process: top-level ones, or the children of
// `parent`.
std::vector<HWND> PreviewWindows(HWND parent = nullptr) {
  std::vector<HWND> found;
  if (parent == nullptr) {
    EnumWindows(CollectPreview, reinterpret_cast<LPARAM>(&found));
  } else {
    EnumChildWindows(parent, CollectPreview, reinterpret_cast<LPARAM>(&found));
  }
  return found;
}

// Every preview class name still registered, whatever module holds it. A
// class name is an atom of the user atom table, whose names the clipboard
// format lookup reads for any atom there; this finds the classes of failed
// starts, whose names no window shows.
std::vector<std::string> RegisteredPreviewClasses() {
  std::vector<std::string> names;
  for (UINT atom = 0xC000; atom <= 0xFFFF; ++atom) {
    char name[256];
    const int length = GetClipboardFormatNameA(atom, name, sizeof name);
    if (length > 0 && IsPreviewClass(std::string(name, static_cast<size_t>(length)))) {
      names.emplace_back(name, static_cast<size_t>(length));
    }
  }
  return names;
}

// What a window's client area shows, read from the screen: B, G, R, top row
// first, three bytes a pixel and no padding.
struct Screen {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bgr;
  const uint8_t* At(int x, int y) const { return &bgr[(static_cast<size_t>(y) * width + x) * 3]; }
};

bool ReadClient(HWND window, Screen* screen) {
  RECT client{};
  if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) return false;
  const int width = client.right;
  const int height = client.bottom;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  HDC windowDc = GetDC(window);
  HDC memory = CreateCompatibleDC(windowDc);
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  bool ok = windowDc != nullptr && memory != nullptr && section != nullptr;
  if (ok) {
    HGDIOBJ previous = SelectObject(memory, section);
    ok = BitBlt(memory, 0, 0, width, height, windowDc, 0, 0, SRCCOPY) != FALSE;
    GdiFlush();
    SelectObject(memory, previous);
  }
  if (ok) {
    const int stride = (width * 3 + 3) & ~3;
    screen->width = width;
    screen->height = height;
    screen->bgr.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
      std::memcpy(&screen->bgr[static_cast<size_t>(y) * width * 3],
                  static_cast<const uint8_t*>(bits) + static_cast<size_t>(y) * stride,
                  static_cast<size_t>(width) * 3);
    }
  }
  if (section != nullptr) DeleteObject(section);
  if (memory != nullptr) DeleteDC(memory);
  if (windowDc != nullptr) ReleaseDC(window, windowDc);
  return ok;
}

// Reads the window back until it shows `expected` (every frame of a static
// scene is alike; the window shows it once one has been drawn). Returns how
// many bytes differ in the last reading.
int AwaitShown(HWND window, const std::vector<uint8_t>& expected, Screen* screen) {
  int differing = -1;
  WaitUntil([&] {
    if (!ReadClient(window, screen) || screen->bgr.size() != expected.size()) return false;
    differing = 0;
    for (size_t i = 0; i < expected.size(); ++i) differing += screen->bgr[i] != expected[i];
    return differing == 0;
  });
  return differing;
}

// A visible top-level window of the test's own, to hold child previews.
class ParentWindow {
 public:
  ParentWindow() {
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    windowClass.lpszClassName = "VarnelTestPreviewParent";
    RegisterClassExA(&windowClass);  // fails harmlessly when already registered
    window_ = CreateWindowExA(0, "VarnelTestPreviewParent", "Parent",
                              WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, 700, 560,
                              nullptr, nullptr, windowClass.hInstance, nullptr);
  }
  ~ParentWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  ParentWindow(const ParentWindow&) = delete;
  ParentWindow& operator=(const ParentWindow&) = delete;
  HWND Handle() const { return window_; }

 private:
  HWND window_ = nullptr;
};

// The class name a start must register: the instance's address, then eight
// hexadecimal digits.
bool NamedForInstance(const std::string& name, CameraHandle handle) {
  char owner[16];
  std::snprintf(owner, sizeof owner, "%08x",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(Registry().Lookup(handle))));
  if (name.size() != std::strlen(kClassPrefix) + 8 + 1 + 8) return false;
  if (name.compare(std::strlen(kClassPrefix), 8, owner) != 0) return false;
  if (name[std::strlen(kClassPrefix) + 8] != '_') return false;
  return name.find_first_not_of("0123456789abcdef", std::strlen(kClassPrefix) + 9) ==
         std::string::npos;
}

// The picture a window of `clientWidth` x `clientHeight` must show for a
// frame copied out top row first in the colour mode: deep samples reduced to
// their top eight significant bits, grey shown as equal B, G and R, and the
// frame resampled by nearest neighbour when the sizes differ. The display
// scaler fills a bottom-up image, its row i from the frame's row
// height - 1 - trunc(f * i), so shown row y = clientHeight - 1 - i.
struct ShownMode {
  int mode;
  int bytesPerPixel;
  int significantBits;
};

std::vector<uint8_t> ExpectedScreen(const Picture& frame, const ShownMode& mode, int clientWidth,
                                    int clientHeight) {
  auto sample = [&](const uint8_t* p, int channel) -> uint8_t {
    if (mode.significantBits == 8) return p[channel];
    const unsigned value = p[channel * 2] | p[channel * 2 + 1] << 8;
    return static_cast<uint8_t>(value >> (mode.significantBits - 8));
  };
  const bool grey = mode.bytesPerPixel == 1 || mode.bytesPerPixel == 2;
  const float fx = static_cast<float>(frame.width) / static_cast<float>(clientWidth);
  const float fy = static_cast<float>(frame.height) / static_cast<float>(clientHeight);
  auto index = [](float f, int i, int size) {
    const int u = static_cast<int>(static_cast<double>(f) * i);
    return std::min(std::max(u, 0), size - 1);
  };
  std::vector<uint8_t> shown(static_cast<size_t>(clientWidth) * clientHeight * 3);
  for (int y = 0; y < clientHeight; ++y) {
    const int sourceRow = frame.height - 1 - index(fy, clientHeight - 1 - y, frame.height);
    for (int x = 0; x < clientWidth; ++x) {
      const uint8_t* p = frame.Pixel(index(fx, x, frame.width), sourceRow);
      uint8_t* out = &shown[(static_cast<size_t>(y) * clientWidth + x) * 3];
      for (int channel = 0; channel < 3; ++channel) {
        out[channel] = sample(p, grey ? 0 : channel);
      }
    }
  }
  return shown;
}

// Fault caught: a top-level window whose client area ignores the sub-sample,
// that is not centred, carries the wrong title or style, is registered under
// a class not named for its instance or not with the library's module, or
// outlives Close together with its class.
TEST(PreviewWindowTest, TopLevelWindowSizedBySubSampleAndCentred) {
  struct Case {
    const char* name;
    ModelCode model;
    int type;
    int width, height;  // the capture window (ignored on the fixed-size model)
    int subSample;
    int clientWidth, clientHeight;
  };
  const Case cases[] = {
      {"HXA1 320 x 200, full size", kModelHXA1, 1, 320, 200, 0, 320, 200},
      {"HXA1 640 x 480, half size", kModelHXA1, 1, 640, 480, 1, 320, 240},
      {"HZF6 1600 x 1200, quarter size", kModelHZF6, 7, 0, 0, 2, 400, 300},
  };
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(c.model, c.type, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, c.model, c.width, c.height));
    ASSERT_EQ(Varnel_SetSubSample(h, c.subSample), 1);
    ASSERT_EQ(Varnel_Preview(h), 1) << ::testing::PrintToString(s.Errors());
    const std::vector<HWND> windows = PreviewWindows();
    ASSERT_EQ(windows.size(), 1u);
    const HWND window = windows[0];
    EXPECT_EQ(TitleOf(window), kTopLevelTitle);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)), 0x16CF0000u);
    EXPECT_EQ(GetParent(window), nullptr);
    RECT client{};
    ASSERT_TRUE(GetClientRect(window, &client));
    EXPECT_EQ(client.right, c.clientWidth);
    EXPECT_EQ(client.bottom, c.clientHeight);
    RECT frame{};
    ASSERT_TRUE(GetWindowRect(window, &frame));
    // Centred: the same room on either side, to the pixel that halving an
    // odd difference loses.
    EXPECT_LE(std::abs((frame.left - 0) - (screenWidth - frame.right)), 1);
    EXPECT_LE(std::abs((frame.top - 0) - (screenHeight - frame.bottom)), 1);
    const std::string name = ClassOf(window);
    EXPECT_TRUE(NamedForInstance(name, h)) << name;
    EXPECT_TRUE(ClassRegistered(name)) << name;
    EXPECT_EQ(reinterpret_cast<HINSTANCE>(GetClassLongPtrA(window, GCLP_HMODULE)), LibraryModule());

    ASSERT_EQ(Varnel_Close(h), 1);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(ClassRegistered(name)) << name;
    EXPECT_TRUE(PreviewWindows().empty());
    EXPECT_TRUE(s.Errors().empty());
  }
}

// Fault caught: a child window that is not at the placement given to
// SetPreviewWindow (or is sized to the frame instead), lacks its control
// identifier, title or style, or is left inside the application's window
// after Close.
TEST(PreviewWindowTest, ChildWindowTakesThePlacement) {
  struct Case {
    int x, y, width, height;
  };
  const Case cases[] = {{10, 20, 160, 100}, {0, 0, 320, 200}, {-8, 40, 401, 251}};
  ParentWindow parent;
  ASSERT_NE(parent.Handle(), nullptr);
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, s.Model(), 320, 200));
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << c.x << ", " << c.y << ", " << c.width << " x " << c.height);
    ASSERT_EQ(Varnel_SetPreviewWindow(h, parent.Handle(), c.x, c.y, c.width, c.height), 1);
    ASSERT_EQ(Varnel_Preview(h), 1) << ::testing::PrintToString(s.Errors());
    EXPECT_TRUE(PreviewWindows().empty()) << "a top-level window besides the child";
    const std::vector<HWND> children = PreviewWindows(parent.Handle());
    ASSERT_EQ(children.size(), 1u);
    const HWND child = children[0];
    EXPECT_EQ(TitleOf(child), kChildTitle);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(child, GWL_STYLE)), 0x52000000u);
    EXPECT_EQ(GetDlgCtrlID(child), 6540);
    EXPECT_EQ(GetParent(child), parent.Handle());
    RECT placed{};
    ASSERT_TRUE(GetWindowRect(child, &placed));
    MapWindowPoints(HWND_DESKTOP, parent.Handle(), reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_EQ(placed.left, c.x);
    EXPECT_EQ(placed.top, c.y);
    EXPECT_EQ(placed.right - placed.left, c.width);
    EXPECT_EQ(placed.bottom - placed.top, c.height);
    const std::string name = ClassOf(child);
    ASSERT_EQ(Varnel_Close(h), 1);
    EXPECT_FALSE(IsWindow(child));
    EXPECT_FALSE(ClassRegistered(name)) << name;
  }
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: two instances previewing at once that share one window
// class (the first to stop would pull the class from under the other's
// window), or a class left registered by either.
TEST(PreviewWindowTest, TwoInstancesRegisterTwoClasses) {
  CameraSession first(kModelHXA1, 1, kLetter);
  CameraSession second(kModelHXA1, 1, kOtherLetter);
  ASSERT_TRUE(first.Ready());
  ASSERT_TRUE(second.Ready());
  for (CameraSession* s : {&first, &second}) {
    ASSERT_TRUE(ChooseWindow(s->Handle(), s->Model(), 256, 64));
    ASSERT_EQ(Varnel_Preview(s->Handle()), 1) << ::testing::PrintToString(s->Errors());
  }
  const std::vector<HWND> windows = PreviewWindows();
  ASSERT_EQ(windows.size(), 2u);
  const std::string a = ClassOf(windows[0]);
  const std::string b = ClassOf(windows[1]);
  EXPECT_NE(a, b);
  EXPECT_TRUE(NamedForInstance(a, first.Handle()) || NamedForInstance(a, second.Handle())) << a;
  EXPECT_TRUE(NamedForInstance(b, first.Handle()) || NamedForInstance(b, second.Handle())) << b;
  ASSERT_EQ(Varnel_Close(first.Handle()), 1);
  ASSERT_EQ(PreviewWindows().size(), 1u);
  EXPECT_TRUE(ClassRegistered(ClassOf(PreviewWindows()[0]))) << "the other instance's class";
  ASSERT_EQ(Varnel_Close(second.Handle()), 1);
  EXPECT_FALSE(ClassRegistered(a));
  EXPECT_FALSE(ClassRegistered(b));
  EXPECT_TRUE(PreviewWindows().empty());
}

// Fault caught: a second Preview or CallBackPreview while previewing that
// leaks the first window and its class, or leaves the frames drawn into the
// old window instead of the new one.
TEST(PreviewWindowTest, SecondStartReplacesTheWindow) {
  enum Second { kPreview, kCallBack };
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  s.StaticScene();
  MessageSink sink;
  for (Second second : {kPreview, kCallBack}) {
    SCOPED_TRACE(second == kPreview ? "Preview" : "CallBackPreview");
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    std::vector<HWND> windows = PreviewWindows();
    ASSERT_EQ(windows.size(), 1u);
    const HWND old = windows[0];
    const std::string oldClass = ClassOf(old);

    const int again = second == kPreview ? Varnel_Preview(h)
                                         : Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1);
    ASSERT_EQ(again, 1) << ::testing::PrintToString(s.Errors());
    windows = PreviewWindows();
    ASSERT_EQ(windows.size(), 1u) << "the first window was left";
    EXPECT_NE(windows[0], old);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_FALSE(ClassRegistered(oldClass)) << oldClass;
    // The frames go on into the new window: it shows the frame (every frame
    // of the static scene is alike).
    const HWND current = windows[0];
    Picture frame = MakePicture(256, 64, 3);
    ASSERT_EQ(Varnel_GetImage(h, frame.bytes.data(), static_cast<int>(frame.bytes.size()), 1), 1);
    const std::vector<uint8_t> expected = ExpectedScreen(frame, {24, 3, 8}, 256, 64);
    Screen screen;
    EXPECT_TRUE(WaitUntil([&] { return ReadClient(current, &screen) && screen.bgr == expected; }));
    ASSERT_EQ(Varnel_Close(h), 1);
    EXPECT_TRUE(PreviewWindows().empty());
  }
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: a stop or a failed start that leaves a window or a
// registered class behind (a child whose parent is gone cannot be created;
// a preview is refused while capturing; Release ends a running preview).
TEST(PreviewWindowTest, NothingLeftAfterStopsAndFailedStarts) {
  enum Ending { kClose, kRelease, kRefusedWhileCapturing, kParentGone, kTriggerThenClose };
  struct Case {
    const char* name;
    Ending ending;
    int result;         // of the start under test
    int expectedError;  // 0 for none
  };
  const Case cases[] = {
      {"Close after Preview", kClose, 1, 0},
      {"Release while previewing", kRelease, 1, 0},
      {"Preview refused while capturing", kRefusedWhileCapturing, 0, 0},
      {"child of a window that is gone", kParentGone, 0, kPreviewError},
      {"Close after Trigger", kTriggerThenClose, 1, 0},
  };
  // The scan must see a registered preview class before its silence counts.
  {
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    ASSERT_TRUE(ChooseWindow(s.Handle(), s.Model(), 256, 64));
    ASSERT_EQ(Varnel_Preview(s.Handle()), 1);
    const std::vector<HWND> windows = PreviewWindows();
    ASSERT_EQ(windows.size(), 1u);
    const std::vector<std::string> seen = RegisteredPreviewClasses();
    EXPECT_NE(std::find(seen.begin(), seen.end(), ClassOf(windows[0])), seen.end());
  }
  ASSERT_TRUE(RegisteredPreviewClasses().empty());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    int result = -1;
    switch (c.ending) {
      case kClose:
      case kRelease:
        result = Varnel_Preview(h);
        break;
      case kRefusedWhileCapturing:
        ASSERT_EQ(Varnel_Capture(h), 1);
        result = Varnel_Preview(h);
        break;
      case kParentGone: {
        HWND gone = nullptr;
        {
          ParentWindow parent;
          gone = parent.Handle();
        }
        ASSERT_FALSE(IsWindow(gone));
        ASSERT_EQ(Varnel_SetPreviewWindow(h, gone, 0, 0, 128, 32), 1);
        result = Varnel_Preview(h);
        break;
      }
      case kTriggerThenClose:
        result = Varnel_Trigger(h, nullptr, nullptr, 0, 1);
        break;
    }
    EXPECT_EQ(result, c.result);
    if (result == 1) {
      EXPECT_EQ(PreviewWindows().size(), 1u);
    }
    if (c.ending == kRelease) {
      ASSERT_EQ(Varnel_Release(h), 1);
    } else {
      ASSERT_EQ(Varnel_Close(h), 1);
    }
    EXPECT_TRUE(PreviewWindows().empty());
    EXPECT_TRUE(RegisteredPreviewClasses().empty())
        << ::testing::PrintToString(RegisteredPreviewClasses());
    if (c.ending != kRelease) {
      const std::vector<int> errors = s.Errors();
      EXPECT_EQ(errors,
                c.expectedError == 0 ? std::vector<int>{} : std::vector<int>{c.expectedError});
    }
  }
}

// Fault caught: Close from a thread other than the one that started the
// preview leaving the window on the screen (only its own thread may destroy
// it) and its class registered for good.
TEST(PreviewWindowTest, CloseFromAnotherThreadLeavesNothing) {
  enum Owner { kServesMessages, kEnded, kBusyThenServes };
  struct Case {
    const char* name;
    Owner owner;
  };
  const Case cases[] = {{"owner thread serves messages", kServesMessages},
                        {"owner thread has ended", kEnded},
                        {"owner thread busy, serves later", kBusyThenServes}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    std::atomic<int> started{-1};
    std::atomic<bool> serve{c.owner != kBusyThenServes};
    std::atomic<bool> done{false};
    std::thread owner([&] {
      started = Varnel_Preview(h);
      if (c.owner == kEnded) return;
      while (!serve) Sleep(10);
      while (!done) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      }
    });
    // The owner thread is let go and joined however the case ends.
    struct Joiner {
      std::thread& thread;
      std::atomic<bool>& serve;
      std::atomic<bool>& done;
      ~Joiner() {
        serve = true;
        done = true;
        if (thread.joinable()) thread.join();
      }
    } joiner{owner, serve, done};
    ASSERT_TRUE(WaitUntil([&] { return started != -1; }));
    ASSERT_EQ(started, 1);
    if (c.owner == kEnded) owner.join();
    const std::vector<HWND> windows = PreviewWindows();
    ASSERT_EQ(windows.size(), c.owner == kEnded ? 0u : 1u);
    ASSERT_EQ(RegisteredPreviewClasses().size(), 1u);

    EXPECT_EQ(Varnel_Close(h), 1);
    if (c.owner == kBusyThenServes) {
      serve = true;
      EXPECT_TRUE(WaitUntil([&] { return !IsWindow(windows[0]); }));
      // The class goes with the next window's creation or teardown.
      ASSERT_EQ(Varnel_Preview(h), 1);
      EXPECT_EQ(Varnel_Close(h), 1);
    }
    EXPECT_TRUE(PreviewWindows().empty());
    EXPECT_TRUE(RegisteredPreviewClasses().empty())
        << ::testing::PrintToString(RegisteredPreviewClasses());
  }
}

// Fault caught: a picture drawn upside down in any path, a deep or 32-bit
// class drawn without its reduction (or with the wrong bit depth's), a
// scaled picture that is not the nearest-neighbour resampling, or a window
// of the frame's size that is scaled wrongly.
TEST(PreviewWindowTest, WindowShowsTheFrameUpright) {
  struct Case {
    const char* name;
    ShownMode mode;
    int childWidth, childHeight;  // 0: a top-level window of the frame's size
  };
  const Case cases[] = {
      {"mono 8, frame size", {8, 1, 8}, 0, 0},
      {"mono 12, frame size (scaled path)", {12, 2, 12}, 0, 0},
      {"mono 16, frame size (scaled path)", {16, 2, 16}, 0, 0},
      {"colour 24, frame size", {24, 3, 8}, 0, 0},
      {"colour 32, frame size", {32, 4, 8}, 0, 0},
      {"colour 36, frame size", {36, 6, 12}, 0, 0},
      {"colour 64 at 10 bits, frame size", {640, 8, 10}, 0, 0},
      {"mono 8, halved", {8, 1, 8}, 200, 150},
      {"mono 14, enlarged", {14, 2, 14}, 501, 351},
      {"colour 24, halved", {24, 3, 8}, 200, 150},
      {"colour 48, enlarged", {48, 6, 16}, 501, 351},
      {"colour 32, squeezed", {32, 4, 8}, 300, 77},
  };
  ParentWindow parent;
  ASSERT_NE(parent.Handle(), nullptr);
  // A model whose head sends the significant bits asked for, with its
  // whole sensor at a quarter of its size: colour bars over the top half and
  // a grey ramp below, so that a picture flipped, shifted or resampled
  // wrongly differs from the frame.
  CameraSession s(kModelHZF6, 7, kLetter);
  ASSERT_TRUE(s.Ready());
  MessageSink sink;
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetSubSample(h, 2), 1);
  constexpr int kWidth = 400, kHeight = 300;
  s.StaticScene();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Varnel_SetColorMode(h, c.mode.mode), 1);
    const bool child = c.childWidth != 0;
    ASSERT_EQ(Varnel_SetPreviewWindow(h, child ? parent.Handle() : nullptr, 4, 4, c.childWidth,
                                      c.childHeight),
              1);
    // The callback preview draws into the same window and says when frames
    // came: the picture is taken once one has been drawn.
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1)
        << ::testing::PrintToString(s.Errors());
    const std::vector<HWND> windows = PreviewWindows(child ? parent.Handle() : nullptr);
    ASSERT_EQ(windows.size(), 1u);
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    Picture frame = MakePicture(kWidth, kHeight, c.mode.bytesPerPixel);
    ASSERT_EQ(Varnel_GetImage(h, frame.bytes.data(), static_cast<int>(frame.bytes.size()), 1), 1);
    const int clientWidth = child ? c.childWidth : kWidth;
    const int clientHeight = child ? c.childHeight : kHeight;
    const std::vector<uint8_t> expected = ExpectedScreen(frame, c.mode, clientWidth, clientHeight);
    Screen screen;
    const int differing = AwaitShown(windows[0], expected, &screen);
    EXPECT_EQ(screen.width, clientWidth);
    EXPECT_EQ(screen.height, clientHeight);
    EXPECT_EQ(differing, 0);
    ASSERT_EQ(Varnel_Close(h), 1);
    sink.Drain();
  }
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: the preview of a deep class reduced by the bits asked for
// rather than those the intake leaves: on the heads whose intake keeps 10
// bits whatever is asked (HXA1; HXB2 unless asked for 12), "Mono 16bit" and
// "Color 48bit" would draw bits 8..15 of 10-bit samples, a black picture.
TEST(PreviewWindowTest, DeepPreviewsShowTheBitsTheIntakeLeaves) {
  struct Case {
    const char* name;
    ModelCode model;
    int type;
    ShownMode mode;
  };
  const Case cases[] = {
      {"HXA1 mono 16", kModelHXA1, 1, {16, 2, 10}},
      {"HXA1 colour 48", kModelHXA1, 1, {48, 6, 10}},
      {"HXB2 mono 16", kModelHXB2, 2, {16, 2, 10}},
      {"HXB2 colour 48", kModelHXB2, 2, {48, 6, 10}},
      {"HXB2 colour 36", kModelHXB2, 2, {36, 6, 12}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(c.model, c.type, kLetter);
    ASSERT_TRUE(s.Ready());
    s.StaticScene();
    const CameraHandle h = s.Handle();
    // The whole sensor at a quarter of its size, in a top-level window.
    ASSERT_EQ(Varnel_SetSubSample(h, 2), 1);
    ASSERT_EQ(Varnel_SetColorMode(h, c.mode.mode), 1);
    const int width = Varnel_Width(h) / 4, height = Varnel_Height(h) / 4;
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    const std::vector<HWND> windows = PreviewWindows();
    ASSERT_EQ(windows.size(), 1u);
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    Picture frame = MakePicture(width, height, c.mode.bytesPerPixel);
    ASSERT_EQ(Varnel_GetImage(h, frame.bytes.data(), static_cast<int>(frame.bytes.size()), 1), 1);
    const std::vector<uint8_t> expected = ExpectedScreen(frame, c.mode, width, height);
    ASSERT_GT(*std::max_element(expected.begin(), expected.end()), 128)
        << "the frame itself is dark";
    Screen screen;
    const int differing = AwaitShown(windows[0], expected, &screen);
    EXPECT_EQ(differing, 0);
    ASSERT_EQ(Varnel_Close(h), 1);
    EXPECT_TRUE(s.Errors().empty());
  }
}

}  // namespace
}  // namespace varnel::testing
