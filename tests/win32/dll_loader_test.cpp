// The shipped DLL as a Windows application meets it: loaded by name, every
// export found by its undecorated name, and errors announced to a real
// window's message queue.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "../api/export_names.h"

namespace {

using InitializeFn = uintptr_t(__cdecl*)(HWND);
using HandleFn = int(__cdecl*)(uintptr_t);
using HandleIntFn = int(__cdecl*)(uintptr_t, int);
using VersionFn = uint32_t(__cdecl*)(void);

class DllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The DLL sits beside the test program, where the loader looks first.
    module_ = LoadLibraryA("VarnelSdk_Rade.dll");
    ASSERT_NE(module_, nullptr) << "LoadLibrary failed, error " << GetLastError();
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  template <typename F>
  F Get(const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
  }
  HMODULE module_ = nullptr;
};

// Fault caught: an export missing, or exported under a decorated name
// (_Varnel_Width, Varnel_Width@4) that GetProcAddress cannot find.
TEST_F(DllTest, EveryExportIsFoundByItsPlainName) {
  int found = 0;
  for (const char* name : varnel::test::kExportNames) {
    if (GetProcAddress(module_, name) != nullptr) {
      ++found;
    } else {
      ADD_FAILURE() << name << " not exported";
    }
  }
  EXPECT_EQ(found, 118);
  EXPECT_EQ(GetProcAddress(module_, "_Varnel_Width"), nullptr);
  EXPECT_EQ(GetProcAddress(module_, "Varnel_Width@4"), nullptr);
  auto version = Get<VersionFn>("Varnel_GetDllVersion");
  ASSERT_NE(version, nullptr);
  EXPECT_EQ(version(), 0x00C90502u);
}

// Fault caught: a call through the cdecl pointer type leaving the stack
// unbalanced (a stdcall export would clean up after itself twice), or an
// unsupported export reading arguments it should ignore.
TEST_F(DllTest, CdeclCallsWithExtraArgumentsKeepTheStackBalanced) {
  auto initialize = Get<InitializeFn>("Varnel_Initialize");
  auto release = Get<HandleFn>("Varnel_Release");
  auto lastError = Get<HandleFn>("Varnel_GetLastError");
  using ManyArgsFn = int(__cdecl*)(uintptr_t, int, int, int, int, int);
  auto fps = Get<ManyArgsFn>("Varnel_Fps");
  ASSERT_TRUE(initialize && release && lastError && fps);
  const uintptr_t handle = initialize(nullptr);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(lastError(handle), 0);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(fps(handle, 1, 2, 3, 4, 5), 0);
  EXPECT_EQ(lastError(handle), 11);
  EXPECT_EQ(release(handle), 1);
}

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  return DefWindowProcA(window, message, w, l);
}

// Fault caught: errors not posted (or sent instead of posted) to the
// notification window, or posted with the code in the wrong parameter.
TEST_F(DllTest, ErrorsArriveInTheNotificationWindowsQueue) {
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = PlainWindowProc;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VarnelNotificationTest";
  ASSERT_NE(RegisterClassA(&windowClass), 0);
  HWND window = CreateWindowA("VarnelNotificationTest", "notifications", WS_OVERLAPPEDWINDOW, 0, 0,
                              100, 100, nullptr, nullptr, windowClass.hInstance, nullptr);
  ASSERT_NE(window, nullptr) << "CreateWindow failed, error " << GetLastError();

  auto initialize = Get<InitializeFn>("Varnel_Initialize");
  auto release = Get<HandleFn>("Varnel_Release");
  auto setColorMode = Get<HandleIntFn>("Varnel_SetColorMode");
  auto setAutoIris = Get<HandleIntFn>("Varnel_SetAutoIris");
  ASSERT_TRUE(initialize && release && setColorMode && setAutoIris);

  const uintptr_t handle = initialize(window);
  ASSERT_NE(handle, 0u);
  EXPECT_EQ(setColorMode(handle, 20), 0);  // 9
  EXPECT_EQ(setAutoIris(handle, 3), 0);    // 9
  EXPECT_EQ(setColorMode(handle, 24), 1);  // no message

  const LPARAM expected[] = {9, 9};
  for (LPARAM code : expected) {
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, window, 0x8003, 0x8003, PM_REMOVE)) << "code " << code;
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, code);
  }
  MSG extra{};
  EXPECT_FALSE(PeekMessageA(&extra, window, 0x8000, 0xBFFF, PM_REMOVE));

  EXPECT_EQ(release(handle), 1);
  DestroyWindow(window);
  UnregisterClassA("VarnelNotificationTest", windowClass.hInstance);
}

}  // namespace
