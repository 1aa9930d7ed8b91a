/* The public headers must compile as C (C99, no extensions), since most
 * applications of the library are written in C. Compiled by a CTest entry; a
 * failure to compile is the test's failure. */
#include <stddef.h>

#include "varnel.h"
#ifndef _WIN32
#include "varnel_posix.h"
#endif

typedef char FrameInfoIs24Bytes[sizeof(FrameInfo) == 24 ? 1 : -1];
typedef char CameraInfoIs36Bytes[sizeof(CameraInfo) == 36 ? 1 : -1];
typedef char ExposureMaxAt32[offsetof(CameraInfo, exposureMax) == 32 ? 1 : -1];
typedef char FrameRateAt16[offsetof(FrameInfo, frameRate) == 16 ? 1 : -1];

int UseTheInterface(HWND window) {
  CameraHandle handle = Varnel_Initialize(window);
  int (*unsupported)(CameraHandle, ...) = Varnel_Fps;
  int result = Varnel_SetGamma(handle, 100) + unsupported(handle, 1, 2);
  return result + Varnel_Release(handle);
}
