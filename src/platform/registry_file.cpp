#include "platform/registry_file.h"

#include <algorithm>
#include <cstdio>
#include <utility>

namespace varnel {

namespace {

constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER",
                                       "HKEY_CLASSES_ROOT", "HKEY_USERS", "HKEY_CURRENT_CONFIG"};

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && RegistryNamesEqual(s.substr(0, prefix.size()), prefix);
}

void AppendUtf8(uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The text as UTF-8 (or the 8-bit text as it is). False for UTF-16 that is
// cut in the middle of a character, big-endian UTF-16 and NUL characters.
bool DecodeText(std::string_view bytes, std::string* text, std::string* error) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(bytes[i]); };
  if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) {
    *error = "big-endian UTF-16 text";
    return false;
  }
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      *error = "UTF-16 text ends in the middle of a character";
      return false;
    }
    text->clear();
    text->reserve(bytes.size() / 2);
    for (size_t i = 2; i < bytes.size(); i += 2) {
      uint32_t unit = byte(i) | (byte(i + 1) << 8);
      if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (i + 3 >= bytes.size()) {
          *error = "UTF-16 text ends in the middle of a character";
          return false;
        }
        const uint32_t low = byte(i + 2) | (byte(i + 3) << 8);
        if (low < 0xDC00 || low > 0xDFFF) {
          *error = "broken UTF-16 surrogate pair";
          return false;
        }
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        i += 2;
      } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        *error = "broken UTF-16 surrogate pair";
        return false;
      }
      if (unit == 0) {
        *error = "NUL character in the text";
        return false;
      }
      AppendUtf8(unit, text);
    }
    return true;
  }
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF) {
    bytes.remove_prefix(3);
  }
  if (bytes.find('\0') != std::string_view::npos) {
    *error = "NUL byte in the text";
    return false;
  }
  text->assign(bytes);
  return true;
}

// Length of the UTF-8 sequence at text[i] (1 to 4), or 0 when the bytes there
// are not UTF-8 (a stray continuation byte, a cut or overlong sequence, a
// surrogate or a code point past U+10FFFF). *cp receives the code point.
size_t Utf8Sequence(std::string_view text, size_t i, uint32_t* cp) {
  const uint8_t lead = static_cast<uint8_t>(text[i]);
  const int extra = lead >= 0xF0 && lead <= 0xF4  ? 3
                    : lead >= 0xE0 && lead < 0xF0 ? 2
                    : lead >= 0xC2 && lead < 0xE0 ? 1
                                                  : 0;
  if (extra == 0) {
    *cp = lead;
    return lead < 0x80 ? 1 : 0;
  }
  uint32_t value = lead & (0x3F >> extra);
  for (int k = 1; k <= extra; ++k) {
    const size_t at = i + static_cast<size_t>(k);
    if (at >= text.size() || (static_cast<uint8_t>(text[at]) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (static_cast<uint8_t>(text[at]) & 0x3F);
  }
  const bool overlong = (extra == 2 && value < 0x800) || (extra == 3 && value < 0x10000);
  if (overlong || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return static_cast<size_t>(extra) + 1;
}

bool IsUtf8(std::string_view text) {
  uint32_t cp = 0;
  for (size_t i = 0, n = 0; i < text.size(); i += n) {
    n = Utf8Sequence(text, i, &cp);
    if (n == 0) return false;
  }
  return true;
}

// UTF-8 text to UTF-16LE with a byte-order mark (a stray byte that is not
// UTF-8 would be taken as the code point of the same number).
std::string EncodeUtf16(std::string_view text) {
  std::string out = "\xFF\xFE";
  const auto put = [&out](uint32_t unit) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  };
  for (size_t i = 0; i < text.size();) {
    uint32_t cp = 0;
    size_t n = Utf8Sequence(text, i, &cp);
    if (n == 0) {
      cp = static_cast<uint8_t>(text[i]);
      n = 1;
    }
    if (cp >= 0x10000) {
      put(0xD800 + ((cp - 0x10000) >> 10));
      put(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      put(cp);
    }
    i += n;
  }
  return out;
}

// Reads a quoted string that starts at text[*pos] (a '"'), unescaping \\, \",
// \n, \r and \0, and moves *pos past the closing quote.
bool ParseQuoted(std::string_view text, size_t* pos, std::string* out) {
  out->clear();
  size_t i = *pos + 1;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return true;
    }
    if (c == '\\') {
      if (i + 1 >= text.size()) return false;
      const char e = text[i + 1];
      switch (e) {
        case '\\':
        case '"':
          out->push_back(e);
          break;
        case 'n':
          out->push_back('\n');
          break;
        case 'r':
          out->push_back('\r');
          break;
        case '0':
          out->push_back('\0');
          break;
        default:
          return false;
      }
      i += 2;
      continue;
    }
    out->push_back(c);
    ++i;
  }
  return false;
}

std::string Escape(std::string_view name) {
  std::string out;
  for (char c : name) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

// A byte list "aa,bb,..." (an empty list and one trailing comma allowed).
bool ParseByteList(std::string_view list, std::vector<uint8_t>* bytes) {
  bytes->clear();
  list = Trim(list);
  if (list.empty()) return true;
  if (list.back() == ',') list.remove_suffix(1);
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    const std::string_view token = Trim(list.substr(start, comma - start));
    if (token.empty() || token.size() > 2) return false;
    int value = 0;
    for (char c : token) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      value = value * 16 + d;
    }
    bytes->push_back(static_cast<uint8_t>(value));
    start = comma + 1;
  }
  return true;
}

bool ValidKeyPath(std::string_view path) {
  if (path.empty() || path.front() == '\\' || path.back() == '\\') return false;
  if (path.find("\\\\") != std::string_view::npos) return false;
  const std::string_view root = path.substr(0, path.find('\\'));
  for (std::string_view known : kRoots) {
    if (RegistryNamesEqual(root, known)) return true;
  }
  return false;
}

bool IsBelowOrSame(std::string_view path, std::string_view key) {
  if (path.size() < key.size()) return false;
  if (!RegistryNamesEqual(path.substr(0, key.size()), key)) return false;
  return path.size() == key.size() || path[key.size()] == '\\';
}

}  // namespace

bool RegistryNamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool RegistryFile::Parse(std::string_view bytes, RegistryFile* file, std::string* error) {
  file->keys_.clear();
  std::string text;
  if (!DecodeText(bytes, &text, error)) return false;

  std::vector<std::string_view> lines;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }

  RegistryFile result;
  const auto fail = [&](size_t index, const std::string& reason) {
    *error = "line " + std::to_string(index + 1) + ": " + reason;
    return false;
  };

  size_t i = 0;
  while (i < lines.size() && Trim(lines[i]).empty()) ++i;
  if (i == lines.size()) {
    *error = "no header (the file is empty)";
    return false;
  }
  {
    const std::string_view header = Trim(lines[i]);
    if (header != kHeader5 && header != kHeader4) return fail(i, "not a registry file header");
  }
  ++i;

  std::string currentPath;  // empty: no key yet, or the last section deleted a key
  bool inDeletedKey = false;
  for (; i < lines.size(); ++i) {
    const std::string_view line = Trim(lines[i]);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail(i, "key name without a closing ']'");
      std::string_view path = line.substr(1, line.size() - 2);
      const bool deletion = !path.empty() && path.front() == '-';
      if (deletion) path.remove_prefix(1);
      if (!ValidKeyPath(path)) return fail(i, "not a key path: " + std::string(path));
      if (deletion) {
        result.DeleteKey(path);
        currentPath.clear();
        inDeletedKey = true;
      } else {
        bool created = false;
        currentPath = result.CreateKey(path, &created).path;
        inDeletedKey = false;
      }
      continue;
    }
    if (line.front() != '"' && line.front() != '@') return fail(i, "neither a key nor a value");
    if (currentPath.empty() && !inDeletedKey) return fail(i, "value before the first key");

    std::string name;
    size_t pos = 0;
    if (line.front() == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, &pos, &name)) {
      return fail(i, "value name not closed or with an unknown escape");
    }
    std::string_view rest = TrimLeft(line.substr(pos));
    if (rest.empty() || rest.front() != '=') return fail(i, "value name without '='");
    std::string data(Trim(rest.substr(1)));
    // A byte list may go on over the following lines, each ending in '\'.
    const size_t valueLine = i;
    while (!data.empty() && data.back() == '\\' && StartsWithNoCase(data, "hex")) {
      data.pop_back();
      if (++i >= lines.size() || Trim(lines[i]).empty()) {
        return fail(valueLine, "byte list continued past its end");
      }
      data += Trim(lines[i]);
    }

    if (data.empty()) return fail(valueLine, "value without data after '='");
    RegistryFileValue value;
    value.name = name;
    if (data == "-") {
      if (!inDeletedKey) {
        RegistryFileKey* key = result.FindKey(currentPath);
        auto& values = key->values;
        values.erase(std::remove_if(values.begin(), values.end(),
                                    [&](const RegistryFileValue& v) {
                                      return RegistryNamesEqual(v.name, name);
                                    }),
                     values.end());
      }
      continue;
    }
    if (StartsWithNoCase(data, "dword:")) {
      const std::string_view digits = std::string_view(data).substr(6);
      if (digits.empty() || digits.size() > 8)
        return fail(valueLine, "dword value needs 1 to 8 hex digits");
      uint32_t number = 0;
      for (char c : digits) {
        const int d = HexDigit(c);
        if (d < 0) return fail(valueLine, "dword value needs 1 to 8 hex digits");
        number = number * 16 + static_cast<uint32_t>(d);
      }
      value.isDword = true;
      value.dword = number;
    } else if (data.front() == '"') {
      std::string unused;
      size_t end = 0;
      if (!ParseQuoted(data, &end, &unused) || end != data.size()) {
        return fail(valueLine,
                    "string value not closed, with an unknown escape or followed by text");
      }
      value.data = data;
    } else if (StartsWithNoCase(data, "hex")) {
      size_t colon = data.find(':');
      if (colon == std::string::npos) return fail(valueLine, "byte list without ':'");
      const std::string_view type = std::string_view(data).substr(3, colon - 3);
      uint32_t typeNumber = 3;  // hex: is REG_BINARY
      if (!type.empty()) {
        if (type.size() < 3 || type.front() != '(' || type.back() != ')' || type.size() > 10) {
          return fail(valueLine, "byte list with a malformed type");
        }
        typeNumber = 0;
        for (char c : type.substr(1, type.size() - 2)) {
          const int d = HexDigit(c);
          if (d < 0) return fail(valueLine, "byte list with a malformed type");
          typeNumber = typeNumber * 16 + static_cast<uint32_t>(d);
        }
      }
      std::vector<uint8_t> list;
      if (!ParseByteList(std::string_view(data).substr(colon + 1), &list)) {
        return fail(valueLine, "byte list with something other than two-digit hex bytes");
      }
      if (typeNumber == 4 && list.size() == 4) {
        // REG_DWORD written as its four little-endian bytes.
        value.isDword = true;
        value.dword =
            list[0] | (list[1] << 8) | (list[2] << 16) | (static_cast<uint32_t>(list[3]) << 24);
      } else {
        value.data = data;
      }
    } else {
      return fail(valueLine, "value of an unknown form");
    }
    if (inDeletedKey) continue;  // the editor ignores the values of a deleted key
    RegistryFileKey* key = result.FindKey(currentPath);
    auto existing = std::find_if(
        key->values.begin(), key->values.end(),
        [&](const RegistryFileValue& v) { return RegistryNamesEqual(v.name, value.name); });
    if (existing != key->values.end()) {
      *existing = std::move(value);
    } else {
      key->values.push_back(std::move(value));
    }
  }
  file->keys_ = std::move(result.keys_);
  return true;
}

std::string RegistryFile::Format() const {
  std::string text(kHeader5);
  text += "\r\n\r\n";
  for (const RegistryFileKey& key : keys_) {
    text += "[" + key.path + "]\r\n";
    for (const RegistryFileValue& value : key.values) {
      text += value.name.empty() ? std::string("@") : "\"" + Escape(value.name) + "\"";
      text += "=";
      if (value.isDword) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", static_cast<unsigned>(value.dword));
        text += digits;
      } else {
        text += value.data;
      }
      text += "\r\n";
    }
    text += "\r\n";
  }
  const bool ascii =
      std::all_of(text.begin(), text.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
  if (ascii) return text;
  if (IsUtf8(text)) return EncodeUtf16(text);
  // Text that is not UTF-8 came from an 8-bit file in the system's code page,
  // which this code cannot know. Written back as 8-bit text under the header
  // of that format, every byte stays as it was read; converted to UTF-16 it
  // would be changed into other characters (Latin-1 is only one code page).
  return std::string(kHeader4) + text.substr(kHeader5.size());
}

bool RegistryFile::KeyExists(std::string_view path) const {
  return std::any_of(keys_.begin(), keys_.end(),
                     [&](const RegistryFileKey& key) { return IsBelowOrSame(key.path, path); });
}

const RegistryFileKey* RegistryFile::FindKey(std::string_view path) const {
  for (const RegistryFileKey& key : keys_) {
    if (RegistryNamesEqual(key.path, path)) return &key;
  }
  return nullptr;
}

RegistryFileKey* RegistryFile::FindKey(std::string_view path) {
  return const_cast<RegistryFileKey*>(std::as_const(*this).FindKey(path));
}

RegistryFileKey& RegistryFile::CreateKey(std::string_view path, bool* created) {
  if (RegistryFileKey* key = FindKey(path)) {
    *created = false;
    return *key;
  }
  *created = true;
  keys_.push_back(RegistryFileKey{std::string(path), {}});
  return keys_.back();
}

void RegistryFile::DeleteKey(std::string_view path) {
  keys_.erase(
      std::remove_if(keys_.begin(), keys_.end(),
                     [&](const RegistryFileKey& key) { return IsBelowOrSame(key.path, path); }),
      keys_.end());
}

bool RegistryFile::SetDword(RegistryFileKey& key, std::string_view name, uint32_t value) {
  for (RegistryFileValue& existing : key.values) {
    if (!RegistryNamesEqual(existing.name, name)) continue;
    if (existing.isDword && existing.dword == value) return false;
    existing.isDword = true;
    existing.dword = value;
    existing.data.clear();
    return true;
  }
  RegistryFileValue added;
  added.name = std::string(name);
  added.isDword = true;
  added.dword = value;
  key.values.push_back(std::move(added));
  return true;
}

const RegistryFileValue* RegistryFile::FindValue(const RegistryFileKey& key,
                                                 std::string_view name) {
  for (const RegistryFileValue& value : key.values) {
    if (RegistryNamesEqual(value.name, name)) return &value;
  }
  return nullptr;
}

}  // namespace varnel
