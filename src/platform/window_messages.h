// Messages posted to application windows.
//
// On Windows a WindowHandle is an HWND and posting is PostMessageA. On Linux
// there are no windows: an application creates a message queue with the
// functions of varnel_posix.h and passes it wherever the API takes an HWND.
// Messages are always posted, never sent, so the caller never blocks on the
// application.
#pragma once

#include <cstdint>

namespace varnel {

using WindowHandle = void*;

inline constexpr uint32_t kMessageFrame = 0x8002;  // WM_APP + 2: frame ready or frame problem
inline constexpr uint32_t kMessageError = 0x8003;  // WM_APP + 3: error recorded, lParam = code

// Posts `message` to `window`. Returns false for a null or dead window.
bool PostWindowMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

}  // namespace varnel
