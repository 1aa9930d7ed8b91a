// POSIX file output of the image writers.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/output_file.h"

namespace varnel {

namespace {

int AsDescriptor(intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

OutputFile::~OutputFile() {
  if (IsOpen()) ::close(AsDescriptor(handle_));
}

bool OutputFile::Create(const char* name) {
  if (IsOpen()) Close();
  if (name == nullptr) return false;
  int fd;
  do {
    fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  handle_ = fd;
  return true;
}

bool OutputFile::Write(const void* data, size_t size) {
  if (!IsOpen()) return false;
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ssize_t n = ::write(AsDescriptor(handle_), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int64_t OutputFile::Seek(int64_t offset, SeekFrom from) {
  if (!IsOpen()) return -1;
  const int whence = from == SeekFrom::kBegin ? SEEK_SET
                     : from == SeekFrom::kEnd ? SEEK_END
                                              : SEEK_CUR;
  const off_t position = ::lseek(AsDescriptor(handle_), static_cast<off_t>(offset), whence);
  return position < 0 ? -1 : static_cast<int64_t>(position);
}

int64_t OutputFile::Size() const {
  struct stat status;
  if (!IsOpen() || ::fstat(AsDescriptor(handle_), &status) != 0) return -1;
  return static_cast<int64_t>(status.st_size);
}

bool OutputFile::Close() {
  if (!IsOpen()) return false;
  const int fd = AsDescriptor(handle_);
  handle_ = kInvalid;
  // The descriptor is gone even when close reports an error (a delayed write
  // failure), so it is never closed twice.
  return ::close(fd) == 0;
}

}  // namespace varnel
