#include <windows.h>

#include "platform/raw_volume.h"

namespace varnel {

namespace {

// The raw volume "\\.\X:" opened for buffered, synchronous transfers. Every
// transfer positions the handle first and then moves the whole length with
// one ReadFile or WriteFile.
class Win32RawVolume final : public RawVolume {
 public:
  explicit Win32RawVolume(HANDLE handle) : handle_(handle) {}
  ~Win32RawVolume() override { CloseHandle(handle_); }

  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override {
    if (transferred != nullptr) *transferred = 0;
    if (!Seek(offset)) return false;
    DWORD done = 0;
    const BOOL ok = ReadFile(handle_, data, size, &done, nullptr);
    if (transferred != nullptr) *transferred = done;
    return ok != FALSE;
  }

  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override {
    if (transferred != nullptr) *transferred = 0;
    if (!Seek(offset)) return false;
    DWORD done = 0;
    const BOOL ok = WriteFile(handle_, data, size, &done, nullptr);
    if (transferred != nullptr) *transferred = done;
    return ok != FALSE;
  }

 private:
  bool Seek(uint64_t offset) {
    LONG high = static_cast<LONG>(offset >> 32);
    const DWORD low =
        SetFilePointer(handle_, static_cast<LONG>(offset & 0xFFFFFFFFu), &high, FILE_BEGIN);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
  }

  HANDLE handle_;
};

}  // namespace

std::unique_ptr<RawVolume> OpenSystemRawVolume(char letter) {
  wchar_t path[] = L"\\\\.\\X:";
  path[4] = static_cast<wchar_t>(letter);
  HANDLE handle =
      CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  // A failed open is never handed out: every later transfer would fail anyway,
  // and the caller learns of the failure at once.
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  return std::make_unique<Win32RawVolume>(handle);
}

}  // namespace varnel
