#include "platform/posix/drive_table_posix.h"

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/drive_table.h"

namespace varnel {

namespace {

std::string HomeDirectory() {
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
  if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
    return entry->pw_dir;
  }
  return "/";
}

bool EntryExists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string ConfigDirectory() {
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return std::string(config) + "/varnel";
  }
  return HomeDirectory() + "/.config/varnel";
}

std::string DrivesDirectory() {
  if (const char* drives = std::getenv("VARNEL_DRIVES"); drives != nullptr && *drives != '\0') {
    return drives;
  }
  return ConfigDirectory() + "/drives";
}

std::string DriveEntryPath(char letter, bool volume) {
  const std::string directory = DrivesDirectory();
  const std::string suffix = volume ? "::" : ":";
  const char lower = static_cast<char>(letter - 'A' + 'a');
  std::string path = directory + "/" + lower + suffix;
  if (EntryExists(path)) return path;
  std::string upper = directory + "/" + letter + suffix;
  if (EntryExists(upper)) return upper;
  return path;
}

uint32_t SystemLogicalDrives() {
  uint32_t mask = 0;
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    if (SystemDriveType(letter) != DriveType::kNoRootDir) mask |= 1u << (letter - 'A');
  }
  return mask;
}

DriveType SystemDriveType(char letter) {
  struct stat info {};
  // stat follows the link to the drive's root; a dangling link is no drive.
  if (stat(DriveEntryPath(letter, false).c_str(), &info) != 0) return DriveType::kNoRootDir;
  if (S_ISDIR(info.st_mode) || S_ISBLK(info.st_mode)) return DriveType::kFixed;
  return DriveType::kUnknown;
}

bool SystemQueryFreeSpace(char letter, uint64_t* freeBytes) {
  const std::string root = DriveEntryPath(letter, false);
  // A drive whose root is a block device (an attached camera head such as
  // /dev/sdb) has no file system to ask: statvfs on the device node would
  // answer for the file system holding /dev instead, and the camera would be
  // taken for a disk with a file system.
  struct stat node {};
  if (stat(root.c_str(), &node) == 0 && S_ISBLK(node.st_mode)) return false;
  struct statvfs info {};
  if (statvfs(root.c_str(), &info) != 0) return false;
  if (freeBytes != nullptr) {
    *freeBytes = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
  }
  return true;
}

}  // namespace varnel
