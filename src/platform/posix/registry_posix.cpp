// The Linux settings store: one registry export file, replaced whole under a
// lock (see registry_posix.h).
#include "platform/posix/registry_posix.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/posix/drive_table_posix.h"
#include "platform/registry.h"
#include "platform/registry_file.h"

namespace varnel {

namespace {

constexpr const char* kRootPrefix = "HKEY_CURRENT_USER\\";
// Far above any settings file; a larger file is not one of ours and is not
// read into memory.
constexpr off_t kMaxFileSize = 16 * 1024 * 1024;
constexpr mode_t kNewFileMode = 0600;
// A save writes "<file>.tmp-XXXXXX" (six random characters) beside the store.
constexpr const char* kTemporaryInfix = ".tmp-";

enum class FileState {
  kMissing,     // no file yet: an empty store
  kRead,        // read and parsed
  kUnparsable,  // read, but not a registry file: an empty store, replaced on the next save
  kUnreadable,  // exists but could not be read: an empty store that is never replaced
};

// Tells the user about a store file the library cannot use, once per process
// for each state of the file (a file that is fixed and breaks again is
// reported again).
void ReportOnce(const std::string& identity, const std::string& message) {
  static std::mutex mutex;
  static std::set<std::string> reported;
  std::lock_guard<std::mutex> lock(mutex);
  if (!reported.insert(identity).second) return;
  std::fprintf(stderr, "VarnelSdk_Rade: %s\n", message.c_str());
  std::fflush(stderr);
}

std::string FileIdentity(const std::string& path, const struct stat& info) {
  return path + "|" + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
         std::to_string(info.st_size) + ":" + std::to_string(info.st_mtim.tv_sec) + "." +
         std::to_string(info.st_mtim.tv_nsec);
}

// A store named through a symbolic link is replaced at the link's target, so
// the link survives.
std::string ResolvedPath(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
    if (char* target = realpath(path.c_str(), nullptr)) {
      std::string resolved(target);
      std::free(target);
      return resolved;
    }
  }
  return path;
}

bool ReadAll(int fd, std::string* bytes) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    bytes->append(buffer, static_cast<size_t>(n));
    if (bytes->size() > static_cast<size_t>(kMaxFileSize)) return true;
  }
}

bool WriteAll(int fd, const std::string& bytes) {
  const char* p = bytes.data();
  size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

FileState ReadStore(const std::string& path, RegistryFile* file, mode_t* mode) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return FileState::kMissing;
    ReportOnce(path + "|open", "settings file '" + path + "' cannot be read (" +
                                   std::strerror(errno) + "); its settings are not used");
    return FileState::kUnreadable;
  }
  struct stat info {};
  std::string bytes;
  FileState state = FileState::kRead;
  std::string problem;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    state = FileState::kUnreadable;
    problem = "is not a regular file";
  } else if (info.st_size > kMaxFileSize) {
    state = FileState::kUnparsable;
    problem = "is larger than any settings file";
  } else if (!ReadAll(fd, &bytes)) {
    state = FileState::kUnreadable;
    problem = std::string("cannot be read (") + std::strerror(errno) + ")";
  } else if (bytes.size() > static_cast<size_t>(kMaxFileSize)) {
    state = FileState::kUnparsable;
    problem = "is larger than any settings file";
  } else if (std::string error; !RegistryFile::Parse(bytes, file, &error)) {
    state = FileState::kUnparsable;
    problem = "is not a registry file (" + error + ")";
  }
  ::close(fd);
  *mode = info.st_mode & 07777;
  if (state == FileState::kUnparsable) {
    ReportOnce(FileIdentity(path, info), "settings file '" + path + "' " + problem +
                                             "; it is read as empty, and kept as '" + path +
                                             ".bad' when settings are next saved");
  } else if (state == FileState::kUnreadable) {
    ReportOnce(FileIdentity(path, info),
               "settings file '" + path + "' " + problem + "; its settings are not used");
  }
  return state;
}

class FileSession final : public RegistrySession {
 public:
  explicit FileSession(RegistryAccess access) : path_(ResolvedPath(RegistryFilePath())) {
    if (access == RegistryAccess::kWrite) writable_ = TakeLock();
    state_ = ReadStore(path_, &file_, &mode_);
    if (state_ != FileState::kRead) file_ = RegistryFile();
    if (state_ == FileState::kUnreadable) writable_ = false;
  }

  ~FileSession() override {
    if (lockFd_ >= 0) ::close(lockFd_);  // also releases the lock
  }

  std::unique_ptr<RegistryKey> OpenKey(const std::string& path) override {
    const std::string full = kRootPrefix + path;
    if (!file_.KeyExists(full)) return nullptr;
    return std::make_unique<Key>(*this, full, false);
  }

  std::unique_ptr<RegistryKey> CreateKey(const std::string& path) override {
    if (!writable_) return nullptr;
    const std::string full = kRootPrefix + path;
    bool created = false;
    file_.CreateKey(full, &created);
    dirty_ = dirty_ || created;
    return std::make_unique<Key>(*this, full, true);
  }

  bool Commit() override {
    if (!dirty_) return true;
    if (!writable_) return false;
    if (!Replace()) return false;
    dirty_ = false;
    state_ = FileState::kRead;
    return true;
  }

 private:
  class Key final : public RegistryKey {
   public:
    Key(FileSession& session, std::string path, bool writable)
        : session_(session), path_(std::move(path)), writable_(writable) {}

    bool ReadDword(const char* name, int32_t* value) override {
      const RegistryFileKey* key = session_.file_.FindKey(path_);
      if (key == nullptr) return false;
      const RegistryFileValue* found = RegistryFile::FindValue(*key, name);
      if (found == nullptr || !found->isDword) return false;
      *value = static_cast<int32_t>(found->dword);
      return true;
    }

    bool WriteDword(const char* name, int32_t value) override {
      if (!writable_) return false;
      bool created = false;
      RegistryFileKey& key = session_.file_.CreateKey(path_, &created);
      const bool changed = RegistryFile::SetDword(key, name, static_cast<uint32_t>(value));
      session_.dirty_ = session_.dirty_ || created || changed;
      return true;
    }

   private:
    FileSession& session_;
    const std::string path_;
    const bool writable_;
  };

  // Creates the store's directory and takes the writers' lock.
  bool TakeLock() {
    const std::filesystem::path directory = std::filesystem::path(path_).parent_path();
    if (!directory.empty()) {
      std::error_code ignored;
      std::filesystem::create_directories(directory, ignored);
    }
    lockFd_ = ::open((path_ + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, kNewFileMode);
    if (lockFd_ < 0) return false;
    while (::flock(lockFd_, LOCK_EX) != 0) {
      if (errno != EINTR) return false;
    }
    return true;
  }

  // Removes the temporary files of saves that never finished: a writer
  // killed between making its file and renaming it leaves one behind. Only
  // writers holding the lock make such files, so while this session holds it
  // every one that exists belongs to a writer that is gone.
  void RemoveUnfinishedSaves() const {
    const std::filesystem::path store(path_);
    const std::string prefix = store.filename().string() + kTemporaryInfix;
    std::error_code error;
    const std::filesystem::path directory =
        store.parent_path().empty() ? std::filesystem::path(".") : store.parent_path();
    for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
      const std::string name = it->path().filename().string();
      if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0) {
        ::unlink(it->path().c_str());
      }
    }
  }

  // Writes the whole tree to a temporary file beside the store, flushes it to
  // the disk and renames it over the store.
  bool Replace() {
    RemoveUnfinishedSaves();
    std::string name = path_ + kTemporaryInfix + "XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) return false;
    const mode_t mode = state_ == FileState::kRead ? mode_ : kNewFileMode;
    bool written = ::fchmod(fd, mode) == 0 && WriteAll(fd, file_.Format()) && ::fsync(fd) == 0;
    written = (::close(fd) == 0) && written;
    if (written && state_ == FileState::kUnparsable) {
      // Not ours to throw away: the user may want what was in it.
      ::rename(path_.c_str(), (path_ + ".bad").c_str());
    }
    if (!written || ::rename(name.c_str(), path_.c_str()) != 0) {
      ::unlink(name.c_str());
      return false;
    }
    const std::filesystem::path directory = std::filesystem::path(path_).parent_path();
    const int dirFd =
        ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      ::fsync(dirFd);
      ::close(dirFd);
    }
    return true;
  }

  const std::string path_;
  RegistryFile file_;
  FileState state_ = FileState::kMissing;
  mode_t mode_ = kNewFileMode;
  int lockFd_ = -1;
  bool writable_ = false;
  bool dirty_ = false;
};

class FileRegistry final : public Registry {
 public:
  std::unique_ptr<RegistrySession> Begin(RegistryAccess access) override {
    return std::make_unique<FileSession>(access);
  }
};

}  // namespace

std::string RegistryFilePath() {
  if (const char* path = std::getenv("VARNEL_REGISTRY"); path != nullptr && *path != '\0') {
    return path;
  }
  return ConfigDirectory() + "/registry.reg";
}

Registry& SystemRegistry() {
  static FileRegistry registry;
  return registry;
}

}  // namespace varnel
