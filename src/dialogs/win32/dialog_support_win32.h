// What the three dialog views share: the module the templates live in, the
// language, text conversion, the rows of trackbar, edit and up-down, and the
// private message that asks an open dialog to reload its controls.
#pragma once

#include <windows.h>

#include <string>

#include "platform/window_messages.h"

namespace varnel::dialog_win32 {

// Posted by the frame thread to an open dialog: reload from the instance.
inline constexpr UINT kRefreshMessage = WM_APP + 0x40;

// The module that holds this code and, compiled into it, the templates: the
// library in a shipped build.
HMODULE TemplateModule();
// The Japanese templates are used when the system's default language is
// Japanese (1041).
bool JapaneseSystem();
// Registers the tab, trackbar and up-down classes; without them the
// templates cannot be made into windows.
void EnsureCommonControls();
std::wstring Wide(const char* utf8);
// The text of a list item or tab in the dialog's language.
inline const char* Text(const char* english, const char* japanese) {
  return JapaneseSystem() ? japanese : english;
}

// Sets up one row: range, position and ticks of the trackbar, range and
// buddy of the up-down, the number in the edit (signed), all three enabled
// or disabled together.
void SetUpRow(HWND page, int trackbar, int edit, int upDown, int minimum, int maximum,
              int tickFrequency, int value, bool enabled);
// A page inside a tab control takes the tab body's look where the system
// draws tab bodies with a theme (nothing otherwise).
void MatchTabBody(HWND page);
// WM_CTLCOLORSTATIC of a dialog whose labels stand on a tab control: labels,
// group boxes and buttons paint no background of their own (the tab body
// shows through); edits and everything else get the default. Returns the
// brush to answer with, or 0 for the default handling.
INT_PTR TransparentLabel(HDC context, HWND control);

// Moves the trackbar and writes the edit of a row without setting it up.
void ShowRowValue(HWND page, int trackbar, int edit, int value);

// The object a dialog procedure works on, kept in the dialog's own window
// data (given with the create call), so that each open dialog reaches its
// own object whatever else is open.
template <typename T>
T* StoredObject(HWND window, UINT message, LPARAM lParam) {
  if (message == WM_INITDIALOG) SetWindowLongPtrA(window, DWLP_USER, lParam);
  return reinterpret_cast<T*>(GetWindowLongPtrA(window, DWLP_USER));
}

inline HWND AsHwnd(WindowHandle window) { return static_cast<HWND>(window); }

}  // namespace varnel::dialog_win32
