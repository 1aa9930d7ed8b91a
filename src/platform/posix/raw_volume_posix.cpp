#include <errno.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/posix/drive_table_posix.h"
#include "platform/raw_volume.h"

namespace varnel {

namespace {

ssize_t ReadOnce(int fd, void* data, size_t size, uint64_t offset) {
  ssize_t done;
  do {
    done = pread(fd, data, size, static_cast<off_t>(offset));
  } while (done < 0 && errno == EINTR);
  return done;
}

ssize_t WriteOnce(int fd, const void* data, size_t size, uint64_t offset) {
  ssize_t done;
  do {
    done = pwrite(fd, data, size, static_cast<off_t>(offset));
  } while (done < 0 && errno == EINTR);
  return done;
}

// The raw volume as an open file descriptor on the `x::` entry. Every
// transfer is one pread or pwrite, as a volume transfer on Windows is one
// ReadFile or WriteFile: a short answer from the device stays short.
class PosixRawVolume : public RawVolume {
 public:
  explicit PosixRawVolume(int fd) : fd_(fd) {}
  ~PosixRawVolume() override { close(fd_); }

  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override {
    const ssize_t done = ReadOnce(fd_, data, size, offset);
    if (transferred != nullptr) *transferred = done > 0 ? static_cast<uint32_t>(done) : 0;
    return done >= 0;
  }

  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override {
    const ssize_t done = WriteOnce(fd_, data, size, offset);
    if (transferred != nullptr) *transferred = done > 0 ? static_cast<uint32_t>(done) : 0;
    return done >= 0;
  }

 protected:
  int fd_;
};

// A block device (a camera head on /dev/sdX) opened with O_DIRECT: the
// kernel's page cache would otherwise answer a status poll of the control
// sector with the copy it read before, and hold back written commands. This
// is what the Windows volume handle does by itself. Direct transfers need the
// buffer, the offset and the length aligned to the device's logical block
// size; callers' buffers are not, so every transfer goes through an aligned
// buffer of the volume's own (a frame read is then one copy more).
class DirectRawVolume final : public PosixRawVolume {
 public:
  DirectRawVolume(int fd, uint32_t blockSize) : PosixRawVolume(fd), blockSize_(blockSize) {}
  ~DirectRawVolume() override { std::free(bounce_); }

  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override {
    if (transferred != nullptr) *transferred = 0;
    if (offset % blockSize_ != 0) return Misaligned();
    const size_t rounded = RoundUp(size);
    if (rounded <= kSmallTransfer) {
      // Sector-sized exchanges (status polls, commands) never wait for a
      // frame read that holds the shared buffer.
      alignas(kSmallTransfer) uint8_t local[kSmallTransfer];
      return Finish(ReadOnce(fd_, local, rounded, offset), local, data, size, transferred);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (!Reserve(rounded)) return false;
    return Finish(ReadOnce(fd_, bounce_, rounded, offset), bounce_, data, size, transferred);
  }

  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override {
    if (transferred != nullptr) *transferred = 0;
    // A write cannot be padded without overwriting what follows it.
    if (offset % blockSize_ != 0 || size % blockSize_ != 0) return Misaligned();
    ssize_t done;
    if (size <= kSmallTransfer) {
      alignas(kSmallTransfer) uint8_t local[kSmallTransfer];
      std::memcpy(local, data, size);
      done = WriteOnce(fd_, local, size, offset);
    } else {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!Reserve(size)) return false;
      std::memcpy(bounce_, data, size);
      done = WriteOnce(fd_, bounce_, size, offset);
    }
    if (transferred != nullptr) *transferred = done > 0 ? static_cast<uint32_t>(done) : 0;
    return done >= 0;
  }

 private:
  static constexpr size_t kSmallTransfer = 4096;

  static bool Finish(ssize_t done, const void* from, void* data, uint32_t size,
                     uint32_t* transferred) {
    if (done < 0) return false;
    const uint32_t moved = static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(done), size));
    std::memcpy(data, from, moved);
    if (transferred != nullptr) *transferred = moved;
    return true;
  }

  static bool Misaligned() {
    errno = EINVAL;
    return false;
  }

  size_t RoundUp(size_t size) const { return (size + blockSize_ - 1) / blockSize_ * blockSize_; }

  bool Reserve(size_t size) {
    if (size <= capacity_) return true;
    const size_t alignment = std::max<size_t>(blockSize_, 4096);
    const size_t capacity = (size + alignment - 1) / alignment * alignment;
    void* fresh = nullptr;
    if (posix_memalign(&fresh, alignment, capacity) != 0) return false;
    std::free(bounce_);
    bounce_ = fresh;
    capacity_ = capacity;
    return true;
  }

  const uint32_t blockSize_;
  std::mutex mutex_;  // the library's threads may share one volume
  void* bounce_ = nullptr;
  size_t capacity_ = 0;
};

int OpenRetrying(const char* path, int flags) {
  int fd;
  do {
    fd = open(path, flags);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

}  // namespace

std::unique_ptr<RawVolume> OpenSystemRawVolume(char letter) {
  const std::string path = DriveEntryPath(letter, true);
  struct stat info {};
  if (stat(path.c_str(), &info) == 0 && S_ISBLK(info.st_mode)) {
    const int fd = OpenRetrying(path.c_str(), O_RDWR | O_CLOEXEC | O_DIRECT);
    if (fd < 0) return nullptr;
    int blockSize = 0;
    if (ioctl(fd, BLKSSZGET, &blockSize) != 0 || blockSize <= 0) blockSize = 512;
    return std::make_unique<DirectRawVolume>(fd, static_cast<uint32_t>(blockSize));
  }
  const int fd = OpenRetrying(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return nullptr;
  return std::make_unique<PosixRawVolume>(fd);
}

}  // namespace varnel
