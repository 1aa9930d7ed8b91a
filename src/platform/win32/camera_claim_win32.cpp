#include <windows.h>

#include <cstdio>
#include <mutex>
#include <set>

#include "platform/camera_claim.h"
#include "platform/raw_volume.h"

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

// An in-process device (a virtual head attached in this process) is no drive
// of the system: another process with a device of its own on the same letter
// is not this camera's user, so its claim is kept in this process alone.
std::mutex g_localClaimsMutex;
std::set<char> g_localClaims;

class LocalCameraClaim final : public CameraClaim {
 public:
  explicit LocalCameraClaim(char letter) : letter_(letter) {}
  ~LocalCameraClaim() override {
    std::lock_guard<std::mutex> guard(g_localClaimsMutex);
    g_localClaims.erase(letter_);
  }

 private:
  char letter_;
};

}  // namespace

std::unique_ptr<CameraClaim> ClaimCamera(char letter) {
  if (FindAttachedDevice(static_cast<char16_t>(letter))) {
    std::lock_guard<std::mutex> guard(g_localClaimsMutex);
    if (!g_localClaims.insert(letter).second) return nullptr;
    return std::make_unique<LocalCameraClaim>(letter);
  }
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
