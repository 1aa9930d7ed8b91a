#include "dialogs/win32/dialog_support_win32.h"

#include <commctrl.h>

#include "dialogs/dialog_runner.h"

namespace varnel::dialog_win32 {

HMODULE TemplateModule() {
  // Found by an address inside it rather than by file name, so that a
  // program that links the library's objects and templates directly (the
  // test programs) finds them in itself.
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&TemplateModule), &module);
  return module;
}

bool JapaneseSystem() { return GetSystemDefaultLangID() == 1041; }

void EnsureCommonControls() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES;
  InitCommonControlsEx(&controls);
}

std::wstring Wide(const char* utf8) {
  const int length = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  if (length <= 0) return std::wstring();
  std::wstring text(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8, -1, text.data(), length);
  text.resize(static_cast<size_t>(length - 1));
  return text;
}

void SetUpRow(HWND page, int trackbar, int edit, int upDown, int minimum, int maximum,
              int tickFrequency, int value, bool enabled) {
  HWND bar = GetDlgItem(page, trackbar);
  HWND spin = GetDlgItem(page, upDown);
  SendMessageA(bar, TBM_SETRANGEMAX, TRUE, maximum);
  SendMessageA(bar, TBM_SETRANGEMIN, TRUE, minimum);
  SendMessageA(bar, TBM_SETPOS, TRUE, value);
  SendMessageA(bar, TBM_SETTICFREQ, static_cast<WPARAM>(tickFrequency > 0 ? tickFrequency : 1), 0);
  SendMessageA(spin, UDM_SETRANGE32, static_cast<WPARAM>(minimum), maximum);
  SendMessageA(spin, UDM_SETPOS32, 0, value);
  SendMessageA(spin, UDM_SETBUDDY, reinterpret_cast<WPARAM>(GetDlgItem(page, edit)), 0);
  SetDlgItemInt(page, edit, static_cast<UINT>(value), TRUE);
  EnableWindow(bar, enabled);
  EnableWindow(GetDlgItem(page, edit), enabled);
  EnableWindow(spin, enabled);
}

void MatchTabBody(HWND page) {
  // Looked up rather than imported: the theme library is optional, and the
  // library imports only what every Windows system has.
  using EnableTexture = HRESULT(WINAPI*)(HWND, DWORD);
  static const EnableTexture enable = [] {
    HMODULE themes = LoadLibraryA("uxtheme.dll");
    return themes == nullptr ? nullptr
                             : reinterpret_cast<EnableTexture>(reinterpret_cast<void*>(
                                   GetProcAddress(themes, "EnableThemeDialogTexture")));
  }();
  constexpr DWORD kEnableTab = 0x00000006;  // ETDT_ENABLE | ETDT_USETABTEXTURE
  if (enable != nullptr) enable(page, kEnableTab);
}

INT_PTR TransparentLabel(HDC context, HWND control) {
  char name[16] = {};
  GetClassNameA(control, name, sizeof name);
  if (lstrcmpiA(name, "Static") != 0) return 0;
  SetBkMode(context, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

void ShowRowValue(HWND page, int trackbar, int edit, int value) {
  SendMessageA(GetDlgItem(page, trackbar), TBM_SETPOS, TRUE, value);
  SetDlgItemInt(page, edit, static_cast<UINT>(value), TRUE);
}

}  // namespace varnel::dialog_win32

namespace varnel {

bool DialogsAvailable() { return true; }

void RequestDialogRefresh(const DialogWindowSlot& slot) {
  // Posting to a window that has just closed fails and does nothing.
  if (WindowHandle window = slot.load(std::memory_order_acquire)) {
    PostMessageA(dialog_win32::AsHwnd(window), dialog_win32::kRefreshMessage, 0, 0);
  }
}

}  // namespace varnel
