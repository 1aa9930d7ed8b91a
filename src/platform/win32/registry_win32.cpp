// The real registry of the current user. Keys are opened for reading with
// KEY_READ and for writing with RegCreateKeyExA (no class, non-volatile,
// KEY_ALL_ACCESS), which creates what is missing; values are four-byte
// REG_DWORDs.
#include <windows.h>

#include "platform/registry.h"

namespace varnel {

namespace {

class Win32Key final : public RegistryKey {
 public:
  Win32Key(HKEY key, bool writable) : key_(key), writable_(writable) {}
  ~Win32Key() override { RegCloseKey(key_); }
  Win32Key(const Win32Key&) = delete;
  Win32Key& operator=(const Win32Key&) = delete;

  bool ReadDword(const char* name, int32_t* value) override {
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    // A longer value answers ERROR_MORE_DATA; a shorter one or another type
    // is not a setting either.
    if (RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
      return false;
    }
    *value = static_cast<int32_t>(data);
    return true;
  }

  bool WriteDword(const char* name, int32_t value) override {
    if (!writable_) return false;
    const DWORD data = static_cast<DWORD>(value);
    return RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
  }

 private:
  HKEY key_;
  bool writable_;
};

class Win32Session final : public RegistrySession {
 public:
  explicit Win32Session(RegistryAccess access) : access_(access) {}

  std::unique_ptr<RegistryKey> OpenKey(const std::string& path) override {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<Win32Key>(key, false);
  }

  std::unique_ptr<RegistryKey> CreateKey(const std::string& path) override {
    if (access_ != RegistryAccess::kWrite) return nullptr;
    HKEY key = nullptr;
    char noClass[] = "";
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, &disposition) != ERROR_SUCCESS) {
      return nullptr;
    }
    return std::make_unique<Win32Key>(key, true);
  }

  // Every write reached the registry when it was made.
  bool Commit() override { return true; }

 private:
  RegistryAccess access_;
};

class Win32Registry final : public Registry {
 public:
  std::unique_ptr<RegistrySession> Begin(RegistryAccess access) override {
    return std::make_unique<Win32Session>(access);
  }
};

}  // namespace

Registry& SystemRegistry() {
  static Win32Registry registry;
  return registry;
}

}  // namespace varnel
