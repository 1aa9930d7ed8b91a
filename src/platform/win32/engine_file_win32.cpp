// Win32 file output of the colour engine.
#include <windows.h>

#include <string>

#include "platform/engine_file.h"

namespace varnel {

namespace {

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

EngineFileWriter::~EngineFileWriter() {
  if (IsOpen()) ::CloseHandle(AsHandle(handle_));
}

bool EngineFileWriter::Create(const std::filesystem::path& path) {
  if (IsOpen()) {
    ::CloseHandle(AsHandle(handle_));
    handle_ = kInvalid;
  }
  HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    lastError_ = ::GetLastError();
    return false;
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  return true;
}

bool EngineFileWriter::Write(const void* data, size_t size) {
  if (!IsOpen()) {
    lastError_ = ERROR_INVALID_HANDLE;
    return false;
  }
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    // WriteFile takes a 32-bit count; large images go in pieces.
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(AsHandle(handle_), p, chunk, &written, nullptr)) {
      lastError_ = ::GetLastError();
      return false;
    }
    if (written == 0) {
      lastError_ = ERROR_WRITE_FAULT;
      return false;
    }
    p += written;
    size -= written;
  }
  return true;
}

bool EngineFileWriter::Close() {
  if (!IsOpen()) {
    lastError_ = ERROR_INVALID_HANDLE;
    return false;
  }
  HANDLE h = AsHandle(handle_);
  handle_ = kInvalid;
  if (!::CloseHandle(h)) {
    lastError_ = ::GetLastError();
    return false;
  }
  return true;
}

std::wstring SystemErrorText(uint32_t code) {
  const DWORD flags =
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t* buffer = nullptr;
  DWORD n = ::FormatMessageW(flags, nullptr, code, LANG_USER_DEFAULT,
                             reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (n == 0) {
    // No text in the user's language: let the system pick any it has.
    n = ::FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  }
  std::wstring text;
  if (n != 0 && buffer != nullptr) text.assign(buffer, n);
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ')) {
    text.pop_back();
  }
  if (text.empty()) text = L"Unknown error " + std::to_wstring(code);
  return text;
}

}  // namespace varnel
