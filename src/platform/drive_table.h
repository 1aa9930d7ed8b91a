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

// Type of the drive `letter` ('A'..'Z'); kNoRootDir for letters outside that range.
DriveType GetDriveType(char letter);

// Free-space query on the drive's root. Returns false when the query fails,
// which is what marks a camera volume (it carries no file system).
bool QueryFreeSpace(char letter, uint64_t* freeBytes);

}  // namespace varnel
