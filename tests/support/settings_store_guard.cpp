#include "support/settings_store_guard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/registry_file.h"
#endif

namespace varnel::testing {

namespace {

std::string KeyPath(const std::string& subkey) {
  return subkey.empty() ? std::string(kStoreKey) : std::string(kStoreKey) + "\\" + subkey;
}

}  // namespace

#ifdef _WIN32

SettingsStoreGuard::SettingsStoreGuard() { Clear(); }
SettingsStoreGuard::~SettingsStoreGuard() { Clear(); }

void SettingsStoreGuard::Clear() {
  const LONG result = RegDeleteTreeA(HKEY_CURRENT_USER, kStoreKey);
  ASSERT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << result;
}

void SettingsStoreGuard::Seed(const std::vector<SeedValue>& values) {
  for (const SeedValue& v : values) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(v.subkey).c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD number = static_cast<DWORD>(v.value);
    const std::string text = std::to_string(v.value);
    LONG result = ERROR_SUCCESS;
    switch (v.type) {
      case SeedType::kDword:
        result = RegSetValueExA(key, v.name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), 4);
        break;
      case SeedType::kString:
        result = RegSetValueExA(key, v.name.c_str(), 0, REG_SZ,
                                reinterpret_cast<const BYTE*>(text.c_str()),
                                static_cast<DWORD>(text.size() + 1));
        break;
      case SeedType::kBinary:
        result = RegSetValueExA(key, v.name.c_str(), 0, REG_BINARY,
                                reinterpret_cast<const BYTE*>(&number), 4);
        break;
      case SeedType::kShortDword:
        result = RegSetValueExA(key, v.name.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&number), 2);
        break;
    }
    RegCloseKey(key);
    ASSERT_EQ(result, ERROR_SUCCESS) << v.subkey << "\\" << v.name;
  }
}

std::optional<int32_t> SettingsStoreGuard::Read(const std::string& subkey,
                                                const std::string& name) const {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(subkey).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  DWORD type = 0;
  DWORD data = 0;
  DWORD size = sizeof data;
  const LONG result =
      RegQueryValueExA(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS || type != REG_DWORD || size != 4) return std::nullopt;
  return static_cast<int32_t>(data);
}

namespace {

void ListKey(HKEY parent, const std::string& path, std::ostringstream& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return;
  out << "[" << path << "]\n";
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    BYTE data[1024];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    if (RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize) != ERROR_SUCCESS) {
      break;
    }
    out << name << "=" << type << ":";
    for (DWORD b = 0; b < dataSize; ++b) out << static_cast<int>(data[b]) << ",";
    out << "\n";
  }
  for (DWORD i = 0;; ++i) {
    char name[256];
    DWORD nameSize = sizeof name;
    if (RegEnumKeyExA(key, i, name, &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      break;
    }
    ListKey(parent, path + "\\" + name, out);
  }
  RegCloseKey(key);
}

}  // namespace

std::string SettingsStoreGuard::Snapshot() const {
  std::ostringstream out;
  ListKey(HKEY_CURRENT_USER, kStoreKey, out);
  return out.str();
}

#else  // Linux

SettingsStoreGuard::SettingsStoreGuard() {
  if (const char* old = std::getenv("VARNEL_REGISTRY")) previous_ = old;
  std::string pattern =
      (std::filesystem::temp_directory_path() / "varnel-settings.XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "no temporary directory for the settings store";
    return;
  }
  directory_ = pattern;
  file_ = directory_ + "/registry.reg";
  setenv("VARNEL_REGISTRY", file_.c_str(), 1);
}

SettingsStoreGuard::~SettingsStoreGuard() {
  if (previous_) {
    setenv("VARNEL_REGISTRY", previous_->c_str(), 1);
  } else {
    unsetenv("VARNEL_REGISTRY");
  }
  if (!directory_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }
}

void SettingsStoreGuard::Clear() {
  std::error_code ignored;
  std::filesystem::remove(file_, ignored);
}

void SettingsStoreGuard::WriteFile(const std::string& bytes) const {
  std::ofstream out(file_, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << file_;
}

void SettingsStoreGuard::Seed(const std::vector<SeedValue>& values) {
  // Each value goes into a section of its own at the end of the file; the
  // store merges repeated sections as the registry editor's import does.
  std::string text =
      std::filesystem::exists(file_) ? Snapshot() : "Windows Registry Editor Version 5.00\r\n";
  for (const SeedValue& v : values) {
    char data[64];
    const uint32_t n = static_cast<uint32_t>(v.value);
    switch (v.type) {
      case SeedType::kDword:
        std::snprintf(data, sizeof data, "dword:%08x", static_cast<unsigned>(n));
        break;
      case SeedType::kString:
        std::snprintf(data, sizeof data, "\"%d\"", static_cast<int>(v.value));
        break;
      case SeedType::kBinary:
        std::snprintf(data, sizeof data, "hex:%02x,%02x,%02x,%02x", n & 0xFF, (n >> 8) & 0xFF,
                      (n >> 16) & 0xFF, n >> 24);
        break;
      case SeedType::kShortDword:
        std::snprintf(data, sizeof data, "hex(4):%02x,%02x", n & 0xFF, (n >> 8) & 0xFF);
        break;
    }
    text +=
        "\r\n[HKEY_CURRENT_USER\\" + KeyPath(v.subkey) + "]\r\n\"" + v.name + "\"=" + data + "\r\n";
  }
  WriteFile(text);
}

std::optional<int32_t> SettingsStoreGuard::Read(const std::string& subkey,
                                                const std::string& name) const {
  RegistryFile file;
  std::string error;
  if (!RegistryFile::Parse(Snapshot(), &file, &error)) return std::nullopt;
  const RegistryFileKey* key = file.FindKey("HKEY_CURRENT_USER\\" + KeyPath(subkey));
  if (key == nullptr) return std::nullopt;
  const RegistryFileValue* value = RegistryFile::FindValue(*key, name);
  if (value == nullptr || !value->isDword) return std::nullopt;
  return static_cast<int32_t>(value->dword);
}

std::string SettingsStoreGuard::Snapshot() const {
  std::ifstream in(file_, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

#endif

}  // namespace varnel::testing
