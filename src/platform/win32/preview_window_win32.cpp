// The preview window on Windows: a plain window of a class registered for it,
// whose procedure leaves every message to the system's default one but the
// library's own teardown request. The instance paints into it through a
// device context taken once, from its frame thread.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/preview_window.h"

namespace varnel {

namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN;
constexpr DWORD kTopLevelStyle =
    WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
constexpr int kChildIdentifier = 6540;

// The module that holds this code: the library when it is loaded as one,
// the program when it is linked in. Its window classes are registered with
// it, so that they belong to the library, cannot collide with the classes of
// the application, and go away with the library should it be unloaded while
// a class is still registered.
HINSTANCE OwnModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&OwnModule), &module)) {
    return GetModuleHandleA(nullptr);
  }
  return module;
}

// Sent by a thread that tears a window down which another thread made: only
// the thread that made a window may destroy it and give back the device
// context it took, so the window's own procedure does both on that thread.
// The message belongs to the window's class, which no one else uses.
constexpr UINT kTearDownMessage = WM_USER + 0x4C1;
// How long a teardown waits for the owning thread to serve its request.
constexpr UINT kTearDownBoundMs = 5000;

LRESULT CALLBACK PreviewWindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kTearDownMessage) {
    if (lParam != 0) ReleaseDC(window, reinterpret_cast<HDC>(lParam));
    DestroyWindow(window);
    return 1;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

// Classes that could not be unregistered yet because their window was still
// waiting for its thread to destroy it; each later creation and teardown
// tries them again.
std::mutex gLeftClassesMutex;
std::vector<std::string> gLeftClasses;

void UnregisterOrKeepForLater(const std::string& className, HINSTANCE module) {
  std::lock_guard<std::mutex> lock(gLeftClassesMutex);
  if (!className.empty()) gLeftClasses.push_back(className);
  gLeftClasses.erase(std::remove_if(gLeftClasses.begin(), gLeftClasses.end(),
                                    [module](const std::string& name) {
                                      return UnregisterClassA(name.c_str(), module) != FALSE ||
                                             GetLastError() == ERROR_CLASS_DOES_NOT_EXIST;
                                    }),
                     gLeftClasses.end());
}

// Undoes a creation that went wrong at some step: the window (when there is
// one) goes, then its class.
void Discard(HWND window, const char* className, HINSTANCE module) {
  if (window != nullptr) DestroyWindow(window);
  UnregisterClassA(className, module);
}

// A BITMAPINFO with room for the 256-entry colour table of an 8-bit picture.
struct BitmapInfo256 {
  BITMAPINFOHEADER header;
  RGBQUAD colors[256];
};

class Win32PreviewWindow final : public PreviewWindow {
 public:
  Win32PreviewWindow(HWND window, const char* className, HINSTANCE module)
      : window_(window), className_(className), module_(module) {}

  // The device context goes first, then the window, then its class (which
  // cannot be unregistered while a window of it exists). The instance has
  // stopped every frame thread that could draw before it gets here.
  //
  // A window made by another thread is destroyed by that thread: it is asked
  // to, and the request is served while it waits for messages. When it does
  // not serve it in time (or has ended, which destroyed the window already)
  // the request is left in its queue, and the class is unregistered once the
  // window is gone.
  ~Win32PreviewWindow() override {
    const DWORD owner = GetWindowThreadProcessId(window_, nullptr);
    if (owner == 0 || owner == GetCurrentThreadId()) {
      if (dc_ != nullptr) ReleaseDC(window_, dc_);
      DestroyWindow(window_);
    } else {
      DWORD_PTR served = 0;
      const LPARAM dc = reinterpret_cast<LPARAM>(dc_);
      if (!SendMessageTimeoutA(window_, kTearDownMessage, 0, dc, SMTO_ABORTIFHUNG, kTearDownBoundMs,
                               &served)) {
        PostMessageA(window_, kTearDownMessage, 0, dc);
      }
    }
    UnregisterOrKeepForLater(className_, module_);
  }

  WindowHandle Handle() const override { return window_; }

  bool TakeDeviceContext() override {
    if (dc_ == nullptr) dc_ = GetDC(window_);
    return dc_ != nullptr;
  }
  bool HasDeviceContext() const override { return dc_ != nullptr; }
  bool IsVisible() const override { return IsWindowVisible(window_) != FALSE; }

  bool ClientSize(int* width, int* height) const override {
    RECT client{};
    if (!GetClientRect(window_, &client)) return false;
    *width = client.right - client.left;
    *height = client.bottom - client.top;
    return true;
  }

  void Draw(const PreviewBitmap& bitmap) override {
    if (dc_ == nullptr || bitmap.pixels == nullptr) return;
    if (bitmap.bitCount != 8 && bitmap.bitCount != 24) return;
    int width = 0;
    int height = 0;
    if (!ClientSize(&width, &height)) return;
    BitmapInfo256 info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = bitmap.width;
    // A negative height describes a picture whose first row is its top.
    info.header.biHeight = bitmap.topRowFirst ? -bitmap.height : bitmap.height;
    info.header.biPlanes = 1;
    info.header.biBitCount = static_cast<WORD>(bitmap.bitCount);
    info.header.biCompression = BI_RGB;
    if (bitmap.bitCount == 8) {
      info.header.biClrUsed = 256;
      for (int i = 0; i < 256; ++i) {
        const RgbQuad entry = bitmap.colorTable != nullptr
                                  ? bitmap.colorTable[i]
                                  : RgbQuad{static_cast<uint8_t>(i), static_cast<uint8_t>(i),
                                            static_cast<uint8_t>(i), 0};
        info.colors[i] = RGBQUAD{entry.blue, entry.green, entry.red, 0};
      }
    }
    std::lock_guard<std::mutex> lock(mutex_);
    SetDIBitsToDevice(dc_, 0, 0, static_cast<DWORD>(width), static_cast<DWORD>(height), 0, 0, 0,
                      static_cast<UINT>(bitmap.height), bitmap.pixels,
                      reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS);
    lastBitCount_ = bitmap.bitCount;
  }

  bool ReadShown(ShownPicture* picture) const override {
    int width = 0;
    int height = 0;
    if (picture == nullptr || dc_ == nullptr || !ClientSize(&width, &height) || width <= 0 ||
        height <= 0) {
      return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (lastBitCount_ == 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(dc_);
    HBITMAP section = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = memory != nullptr && section != nullptr && bits != nullptr;
    if (ok) {
      HGDIOBJ previous = SelectObject(memory, section);
      ok = BitBlt(memory, 0, 0, width, height, dc_, 0, 0, SRCCOPY) != FALSE;
      GdiFlush();
      SelectObject(memory, previous);
    }
    if (ok) {
      const int sourceStride = (width * 3 + 3) & ~3;
      const int bytesPerPixel = lastBitCount_ / 8;
      picture->width = width;
      picture->height = height;
      picture->bitCount = lastBitCount_;
      picture->stride = (width * bytesPerPixel + 3) & ~3;
      picture->pixels.assign(static_cast<size_t>(picture->stride) * height, 0);
      for (int row = 0; row < height; ++row) {
        const uint8_t* from =
            static_cast<const uint8_t*>(bits) + static_cast<size_t>(row) * sourceStride;
        uint8_t* to = picture->pixels.data() + static_cast<size_t>(row) * picture->stride;
        if (bytesPerPixel == 3) {
          std::memcpy(to, from, static_cast<size_t>(width) * 3);
        } else {
          for (int x = 0; x < width; ++x) to[x] = from[x * 3];
        }
      }
    }
    if (section != nullptr) DeleteObject(section);
    if (memory != nullptr) DeleteDC(memory);
    return ok;
  }

 private:
  HWND window_;
  std::string className_;
  HINSTANCE module_;
  HDC dc_ = nullptr;
  mutable std::mutex mutex_;
  int lastBitCount_ = 0;
};

}  // namespace

std::unique_ptr<PreviewWindow> CreatePreviewWindow(const PreviewWindowRequest& request) {
  HINSTANCE module = OwnModule();
  UnregisterOrKeepForLater(std::string(), module);
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = PreviewWindowProcedure;
  windowClass.hInstance = module;
  windowClass.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
  char className[256];
  windowClass.lpszClassName = className;
  // Each start registers a class of its own, named after its owner and the
  // time, so that two instances previewing at once never share one, and a
  // second start can register its class while the first one's window still
  // shows frames. Should the name be taken all the same, another is drawn.
  bool registered = false;
  for (int attempt = 0; attempt < 8 && !registered; ++attempt) {
    wsprintfA(className, "VideoRenderer_%08x_%08x",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(request.owner)),
              static_cast<unsigned>(std::rand() + timeGetTime()));
    registered = RegisterClassExA(&windowClass) != 0;
    if (!registered && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) break;
  }
  if (!registered) return nullptr;

  HWND window = nullptr;
  if (request.parent != nullptr) {
    window = CreateWindowExA(0, className, "ActiveMovie Window", kChildStyle, request.x, request.y,
                             request.width, request.height, static_cast<HWND>(request.parent),
                             reinterpret_cast<HMENU>(static_cast<intptr_t>(kChildIdentifier)),
                             module, nullptr);
  } else {
    int width = 0;
    int height = 0;
    TopLevelClientSize(request, &width, &height);
    RECT rect{0, 0, width, height};
    if (AdjustWindowRectEx(&rect, kTopLevelStyle, FALSE, 0)) {
      const int x = (GetSystemMetrics(SM_CXSCREEN) + rect.left - rect.right) / 2;
      const int y = (GetSystemMetrics(SM_CYSCREEN) + rect.top - rect.bottom) / 2;
      window = CreateWindowExA(0, className, "Active Window", kTopLevelStyle, x, y,
                               rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                               module, nullptr);
    }
  }
  if (window == nullptr) {
    Discard(nullptr, className, module);
    return nullptr;
  }
  SetFocus(window);
  ShowWindow(window, SW_SHOW);
  // A window that cannot be brought up to date is not used; like every other
  // failure here it leaves neither a window nor its class behind.
  if (!UpdateWindow(window)) {
    Discard(window, className, module);
    return nullptr;
  }
  std::unique_ptr<PreviewWindow> preview(new (std::nothrow)
                                             Win32PreviewWindow(window, className, module));
  if (!preview) Discard(window, className, module);
  return preview;
}

}  // namespace varnel
