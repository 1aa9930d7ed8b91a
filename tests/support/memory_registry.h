// A registry in memory that a test installs in place of the system's
// (ScopedCurrentRegistry), to make key creation fail where it wants and to see
// when the library writes. Writes take effect at once, as on Windows.
#pragma once

#include <algorithm>
#include <cctype>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "platform/registry.h"

namespace varnel::testing {

class MemoryRegistry final : public Registry {
 public:
  // Called when a write session begins.
  std::function<void()> onWriteSession;
  // Keys (paths as the library names them) whose creation fails.
  std::set<std::string> refusedKeys;

  std::unique_ptr<RegistrySession> Begin(RegistryAccess access) override {
    if (access == RegistryAccess::kWrite) {
      ++writeSessions_;
      if (onWriteSession) onWriteSession();
    }
    return std::make_unique<Session>(*this, access);
  }

  void Set(const std::string& path, const std::string& name, int32_t value) {
    keys_[Fold(path)][Fold(name)] = value;
  }
  void AddKey(const std::string& path) { keys_[Fold(path)]; }
  std::optional<int32_t> Get(const std::string& path, const std::string& name) const {
    auto key = keys_.find(Fold(path));
    if (key == keys_.end()) return std::nullopt;
    auto value = key->second.find(Fold(name));
    if (value == key->second.end()) return std::nullopt;
    return value->second;
  }
  bool HasKey(const std::string& path) const { return keys_.count(Fold(path)) != 0; }
  int WriteSessions() const { return writeSessions_; }

 private:
  static std::string Fold(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
  }

  class Key final : public RegistryKey {
   public:
    Key(MemoryRegistry& registry, std::string path, bool writable)
        : registry_(registry), path_(std::move(path)), writable_(writable) {}
    bool ReadDword(const char* name, int32_t* value) override {
      const std::optional<int32_t> found = registry_.Get(path_, name);
      if (!found) return false;
      *value = *found;
      return true;
    }
    bool WriteDword(const char* name, int32_t value) override {
      if (!writable_) return false;
      registry_.Set(path_, name, value);
      return true;
    }

   private:
    MemoryRegistry& registry_;
    std::string path_;
    bool writable_;
  };

  class Session final : public RegistrySession {
   public:
    Session(MemoryRegistry& registry, RegistryAccess access)
        : registry_(registry), access_(access) {}
    std::unique_ptr<RegistryKey> OpenKey(const std::string& path) override {
      if (!registry_.HasKey(path)) return nullptr;
      return std::make_unique<Key>(registry_, path, false);
    }
    std::unique_ptr<RegistryKey> CreateKey(const std::string& path) override {
      if (access_ != RegistryAccess::kWrite || registry_.refusedKeys.count(path) != 0) {
        return nullptr;
      }
      registry_.AddKey(path);
      return std::make_unique<Key>(registry_, path, true);
    }
    bool Commit() override { return true; }

   private:
    MemoryRegistry& registry_;
    RegistryAccess access_;
  };

  std::map<std::string, std::map<std::string, int32_t>> keys_;
  int writeSessions_ = 0;
};

// Installs a registry for the guard's lifetime and puts back the one before.
class ScopedCurrentRegistry {
 public:
  explicit ScopedCurrentRegistry(Registry* registry) : previous_(SetCurrentRegistry(registry)) {}
  ~ScopedCurrentRegistry() { SetCurrentRegistry(previous_); }
  ScopedCurrentRegistry(const ScopedCurrentRegistry&) = delete;
  ScopedCurrentRegistry& operator=(const ScopedCurrentRegistry&) = delete;

 private:
  Registry* previous_;
};

}  // namespace varnel::testing
