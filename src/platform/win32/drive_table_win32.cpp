#include <windows.h>

#include "platform/drive_table.h"

namespace varnel {

uint32_t SystemLogicalDrives() { return static_cast<uint32_t>(GetLogicalDrives()); }

DriveType SystemDriveType(char letter) {
  const char root[] = {letter, ':', '\\', '\0'};
  return static_cast<DriveType>(GetDriveTypeA(root));
}

bool SystemQueryFreeSpace(char letter, uint64_t* freeBytes) {
  const char root[] = {letter, ':', '\\', '\0'};
  ULARGE_INTEGER available{}, total{}, free{};
  if (!GetDiskFreeSpaceExA(root, &available, &total, &free)) return false;
  if (freeBytes != nullptr) *freeBytes = available.QuadPart;
  return true;
}

}  // namespace varnel
