// The system's drive letters, as the camera enumeration sees them.
#pragma once

#include <cstdint>

namespace varnel {

// Drive types with the values GetDriveTypeA returns.
enum class DriveType : uint32_t {
  kUnknown = 0,
  kNoRootDir = 1,
  kRemovable = 2,
  kFixed = 3,
  kRemote = 4,
  kCdRom = 5,
  kRamDisk = 6,
};

// Bit n set when drive 'A' + n exists (GetLogicalDrives), including the
// letters of attached in-process devices.
uint32_t LogicalDrives();

// Type of the drive `letter` ('A'..'Z'); kNoRootDir for letters outside that
// range. (Not named GetDriveType: <windows.h> defines that name as a macro.)
DriveType DriveTypeOf(char letter);

// Free-space query on the drive's root. Returns false when the query fails,
// which is what marks a camera volume (it carries no file system).
bool QueryFreeSpace(char letter, uint64_t* freeBytes);

// The operating system's answers, without the in-process devices (implemented
// once per platform). `letter` is already 'A'..'Z'.
uint32_t SystemLogicalDrives();
DriveType SystemDriveType(char letter);
bool SystemQueryFreeSpace(char letter, uint64_t* freeBytes);

}  // namespace varnel
