// The current user's registry: keys under HKEY_CURRENT_USER holding 32-bit
// values, the only configuration the library keeps.
//
// On Windows this is the real registry. On Linux it is one text file in the
// registry's own export format (see registry_file.h), read whole and replaced
// whole. Either way the library reaches it through a session: one load or one
// save of the settings store is one session. On the file store a session reads
// the file once; a write session also holds the store's lock from its start
// to its end and replaces the file with one complete new file when it is
// committed, so two processes never interleave their changes.
//
// Paths are relative to HKEY_CURRENT_USER and use backslashes
// ("Software\\Maker\\Product\\Sub"). Names compare without regard to ASCII case,
// as the registry's do.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace varnel {

// One open key.
class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  // Reads the value `name`. False, with *value untouched, when the value is
  // missing or is not a four-byte REG_DWORD: a value of another type or size
  // counts as missing.
  virtual bool ReadDword(const char* name, int32_t* value) = 0;
  // Writes `value` as a four-byte REG_DWORD. False when refused (a key opened
  // for reading refuses every write).
  virtual bool WriteDword(const char* name, int32_t value) = 0;
};

enum class RegistryAccess {
  kRead,   // only opens keys and reads values
  kWrite,  // may also create keys and write values
};

class RegistrySession {
 public:
  virtual ~RegistrySession() = default;
  // Opens an existing key for reading; null when it does not exist or cannot
  // be opened.
  virtual std::unique_ptr<RegistryKey> OpenKey(const std::string& path) = 0;
  // Opens a key for writing, creating it and the keys above it when missing;
  // null when that fails or the session was begun for reading.
  virtual std::unique_ptr<RegistryKey> CreateKey(const std::string& path) = 0;
  // Makes the session's writes last. On the file store the writes reach the
  // file only here; a session ended without a commit leaves the store as it
  // was. True when there was nothing to write or everything was written.
  virtual bool Commit() = 0;
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Begins a session. Never null: a store that cannot be reached gives a
  // session whose keys cannot be opened or created.
  virtual std::unique_ptr<RegistrySession> Begin(RegistryAccess access) = 0;
};

// The platform's registry (implemented once per platform).
Registry& SystemRegistry();

// The registry the library uses: the system's unless a test installed another.
Registry& CurrentRegistry();

// Installs `registry` (or the system's again when null) and returns the one it
// replaces. Not synchronised: tests install registries before using the
// library.
Registry* SetCurrentRegistry(Registry* registry);

}  // namespace varnel
