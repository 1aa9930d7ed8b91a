#include <windows.h>

#include <cstdio>

#include "platform/camera_claim.h"

namespace varnel {

namespace {

// The claim is the named object itself: whoever creates it holds the drive,
// and it disappears with the last handle to it, which the system closes when
// a process ends however it ends. (A mutex that is waited for would belong to
// the thread that took it; a start and its stop may come on different
// threads of the application.)
class Win32CameraClaim final : public CameraClaim {
 public:
  explicit Win32CameraClaim(HANDLE object) : object_(object) {}
  ~Win32CameraClaim() override { CloseHandle(object_); }

 private:
  HANDLE object_;
};

}  // namespace

std::unique_ptr<CameraClaim> ClaimCamera(char letter) {
  char name[64];
  std::snprintf(name, sizeof name, "Local\\VarnelSdk_Rade.Camera.%c", letter);
  HANDLE object = CreateMutexA(nullptr, FALSE, name);
  if (object == nullptr) {
    // An object of that name this process may not open is someone else's
    // claim; any other failure to make one is not, and does not refuse the
    // camera.
    if (GetLastError() == ERROR_ACCESS_DENIED) return nullptr;
    return std::make_unique<CameraClaim>();
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(object);
    return nullptr;
  }
  return std::make_unique<Win32CameraClaim>(object);
}

}  // namespace varnel
