// The exception the colour engine's bitmap writer throws when the system
// refuses to create or write the file.
//
// It carries the system's error code and the system's text for it. The text
// is an owned wide string (the system's own form on Windows); what() gives
// the same text in UTF-8 for code that only reads narrow strings.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace varnel {

class basic_exception : public std::exception {
 public:
  basic_exception(uint32_t code, std::wstring message);

  uint32_t Code() const noexcept { return code_; }
  const std::wstring& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return narrow_.c_str(); }

 private:
  uint32_t code_;
  std::wstring message_;
  std::string narrow_;
};

// UTF-8 form of a wide string (UTF-16 where wchar_t has 16 bits, UTF-32
// otherwise). Invalid code units become U+FFFD.
std::string WideToUtf8(const std::wstring& text);

}  // namespace varnel
