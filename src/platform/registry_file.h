// A registry tree in the registry's own export format: the text that the
// registry editor writes with "Export" and reads with "Import".
//
//   Windows Registry Editor Version 5.00
//
//   [HKEY_CURRENT_USER\Software\Maker\Product]
//   "Size"=dword:00000000
//
// The Linux settings store keeps its tree in one such file, so that a file the
// registry editor exported (on Windows or under Wine) is read as it is, and a
// file the library wrote can be imported there. The format is described for
// users in docs/settings.md. This code is plain text handling with no system
// calls; it is built on both platforms so that the Windows tests can check it
// against the real registry editor.
//
// Reading accepts what the editor writes: UTF-16LE with a byte-order mark (its
// default), UTF-8 with or without a mark, and 8-bit text; the header of either
// format version ("REGEDIT4" or "Windows Registry Editor Version 5.00"); CRLF
// or LF line ends; comments (';'); values of every type (dword:, quoted
// strings, hex: and hex(n): byte lists continued over lines with '\'); and the
// import file's deletions ("[-key]" and "name"=-), which it applies. Values of
// other types than REG_DWORD are kept as written and written back unchanged.
// Anything else makes the whole text unreadable: a reader must then treat the
// store as empty rather than act on part of it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace varnel {

struct RegistryFileValue {
  std::string name;  // unescaped (UTF-8); empty for the key's default value ("@")
  bool isDword = false;
  uint32_t dword = 0;  // the value, when isDword
  std::string data;    // otherwise the text after '=' as written, continuations joined
};

struct RegistryFileKey {
  std::string path;  // full path, root first: "HKEY_CURRENT_USER\\Software\\..."
  std::vector<RegistryFileValue> values;
};

class RegistryFile {
 public:
  // Parses `bytes` into *file (replacing its contents). False when the text
  // is not a registry file; *error then says where and why ("line 7: ...")
  // and *file is left empty.
  static bool Parse(std::string_view bytes, RegistryFile* file, std::string* error);

  // The tree as text: the version 5.00 header, then each key in order with its
  // values, CRLF line ends. Plain bytes when every name and string is ASCII,
  // otherwise UTF-16LE with a byte-order mark, as the registry editor writes.
  // A tree holding text that is not UTF-8 (read from an 8-bit file, whose code
  // page is unknown) is written as 8-bit text under the "REGEDIT4" header,
  // its bytes as they were read. Parse(Format()) gives the same tree.
  std::string Format() const;

  // True when the key has a section of its own or some key below it does (the
  // registry creates the keys above a key it imports).
  bool KeyExists(std::string_view path) const;
  // The key's own section, or null.
  const RegistryFileKey* FindKey(std::string_view path) const;
  RegistryFileKey* FindKey(std::string_view path);
  // The key's own section, appended when missing. *created tells which.
  RegistryFileKey& CreateKey(std::string_view path, bool* created);
  // Removes the key and every key below it.
  void DeleteKey(std::string_view path);

  // Sets a REG_DWORD value (replacing a value of that name of any type).
  // True when the tree changed.
  static bool SetDword(RegistryFileKey& key, std::string_view name, uint32_t value);
  static const RegistryFileValue* FindValue(const RegistryFileKey& key, std::string_view name);

  const std::vector<RegistryFileKey>& Keys() const { return keys_; }
  bool Empty() const { return keys_.empty(); }

 private:
  std::vector<RegistryFileKey> keys_;
};

// Case-insensitive comparison of registry names (ASCII letters only).
bool RegistryNamesEqual(std::string_view a, std::string_view b);

}  // namespace varnel
