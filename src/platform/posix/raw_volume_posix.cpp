#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/posix/drive_table_posix.h"
#include "platform/raw_volume.h"

namespace varnel {

namespace {

// The raw volume as an open file descriptor on the `x::` entry. Every
// transfer is one pread or pwrite, as a volume transfer on Windows is one
// ReadFile or WriteFile: a short answer from the device stays short.
class PosixRawVolume final : public RawVolume {
 public:
  explicit PosixRawVolume(int fd) : fd_(fd) {}
  ~PosixRawVolume() override { close(fd_); }

  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override {
    ssize_t done;
    do {
      done = pread(fd_, data, size, static_cast<off_t>(offset));
    } while (done < 0 && errno == EINTR);
    if (transferred != nullptr) *transferred = done > 0 ? static_cast<uint32_t>(done) : 0;
    return done >= 0;
  }

  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override {
    ssize_t done;
    do {
      done = pwrite(fd_, data, size, static_cast<off_t>(offset));
    } while (done < 0 && errno == EINTR);
    if (transferred != nullptr) *transferred = done > 0 ? static_cast<uint32_t>(done) : 0;
    return done >= 0;
  }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<RawVolume> OpenSystemRawVolume(char letter) {
  const std::string path = DriveEntryPath(letter, true);
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixRawVolume>(fd);
}

}  // namespace varnel
