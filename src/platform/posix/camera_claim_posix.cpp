#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <set>

#include "platform/camera_claim.h"
#include "platform/posix/drive_table_posix.h"
#include "platform/raw_volume.h"

namespace varnel {

namespace {

std::mutex g_claimsMutex;
std::set<char> g_claimedLetters;

class PosixCameraClaim final : public CameraClaim {
 public:
  PosixCameraClaim(char letter, int lockFd) : letter_(letter), lockFd_(lockFd) {}
  ~PosixCameraClaim() override {
    // Closing the descriptor the lock was taken on gives the lock up.
    if (lockFd_ >= 0) close(lockFd_);
    std::lock_guard<std::mutex> guard(g_claimsMutex);
    g_claimedLetters.erase(letter_);
  }

 private:
  char letter_;
  int lockFd_;
};

// Takes a write lock on the whole volume file for other processes to see.
// -1 when the volume cannot be opened or does not take locks (then nothing
// else could see one either); -2 when another holder has it.
int LockVolume(char letter) {
  const std::string path = DriveEntryPath(letter, true);
  int fd;
  do {
    fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return -1;
  struct flock lock = {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 0;
  // An open-file-description lock belongs to this descriptor, not to the
  // process: a second descriptor in this process conflicts with it too, and
  // closing some other descriptor of the same file does not drop it.
  int result;
  do {
    result = fcntl(fd, F_OFD_SETLK, &lock);
  } while (result < 0 && errno == EINTR);
  if (result == 0) return fd;
  const int error = errno;
  close(fd);
  return error == EAGAIN || error == EACCES ? -2 : -1;
}

}  // namespace

std::unique_ptr<CameraClaim> ClaimCamera(char letter) {
  std::lock_guard<std::mutex> guard(g_claimsMutex);
  if (g_claimedLetters.count(letter) != 0) return nullptr;
  int lockFd = -1;
  // An in-process device has no file; the table above is its whole claim.
  if (!FindAttachedDevice(static_cast<char16_t>(letter))) {
    lockFd = LockVolume(letter);
    if (lockFd == -2) return nullptr;
  }
  g_claimedLetters.insert(letter);
  return std::make_unique<PosixCameraClaim>(letter, lockFd);
}

}  // namespace varnel
