// POSIX file output of the colour engine.
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/engine_file.h"

namespace varnel {

EngineFileWriter::~EngineFileWriter() {
  if (IsOpen()) ::close(static_cast<int>(handle_));
}

bool EngineFileWriter::Create(const std::filesystem::path& path) {
  if (IsOpen()) {
    ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    lastError_ = static_cast<uint32_t>(errno);
    return false;
  }
#ifdef POSIX_FADV_SEQUENTIAL
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  handle_ = fd;
  return true;
}

bool EngineFileWriter::Write(const void* data, size_t size) {
  if (!IsOpen()) {
    lastError_ = EBADF;
    return false;
  }
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(handle_), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      lastError_ = static_cast<uint32_t>(errno);
      return false;
    }
    if (n == 0) {
      lastError_ = EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool EngineFileWriter::Close() {
  if (!IsOpen()) {
    lastError_ = EBADF;
    return false;
  }
  const int fd = static_cast<int>(handle_);
  handle_ = kInvalid;
  // The descriptor is released even when close reports an error, so it is
  // never retried.
  if (::close(fd) != 0) {
    lastError_ = static_cast<uint32_t>(errno);
    return false;
  }
  return true;
}

std::wstring SystemErrorText(uint32_t code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be `buffer`.
  const char* text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  std::string narrow = text != nullptr ? text : "";
  if (narrow.empty()) narrow = "Unknown error " + std::to_string(code);
  std::wstring wide(narrow.size() + 1, L'\0');
  const size_t n = std::mbstowcs(wide.data(), narrow.c_str(), wide.size());
  if (n == static_cast<size_t>(-1)) {
    // Not valid in the current locale: widen byte by byte.
    wide.assign(narrow.begin(), narrow.end());
  } else {
    wide.resize(n);
  }
  return wide;
}

}  // namespace varnel
