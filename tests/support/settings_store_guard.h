// A settings store of the test's own, seeded and read back through the
// system rather than through the library: on Windows the real registry of the
// (test) Wine prefix, with the key deleted before and after; on Linux a
// store file in a temporary directory named by VARNEL_REGISTRY, so no test
// reads or changes the user's own settings or depends on another test's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnel::testing {

// The settings key under HKEY_CURRENT_USER, as the library documents it.
inline constexpr char kStoreKey[] = "Software\\Holvik\\VarnelRadeSdk";

enum class SeedType {
  kDword,       // REG_DWORD, four bytes
  kString,      // REG_SZ holding the number as text
  kBinary,      // REG_BINARY, four bytes
  kShortDword,  // REG_DWORD of two bytes
};

struct SeedValue {
  std::string subkey;  // "" for the main key, else "Gain", "Size_00", ...
  std::string name;
  int32_t value = 0;
  SeedType type = SeedType::kDword;
};

class SettingsStoreGuard {
 public:
  SettingsStoreGuard();
  ~SettingsStoreGuard();
  SettingsStoreGuard(const SettingsStoreGuard&) = delete;
  SettingsStoreGuard& operator=(const SettingsStoreGuard&) = delete;

  // Empties the store (the key and everything below it, or the file).
  void Clear();
  // Writes the values, creating keys as needed.
  void Seed(const std::vector<SeedValue>& values);
  // A four-byte REG_DWORD read back from the system; nothing when the value is
  // missing or of another type or size.
  std::optional<int32_t> Read(const std::string& subkey, const std::string& name) const;
  // Everything the store holds, for comparing before and after: on Linux the
  // file's bytes, on Windows every key and value (type and data) listed.
  std::string Snapshot() const;
#ifndef _WIN32
  // The store file (Linux).
  std::string FilePath() const { return file_; }
  // Replaces the file's bytes (Linux).
  void WriteFile(const std::string& bytes) const;
#endif

 private:
#ifndef _WIN32
  std::string directory_;
  std::string file_;
  std::optional<std::string> previous_;  // VARNEL_REGISTRY before the guard
#endif
};

}  // namespace varnel::testing
