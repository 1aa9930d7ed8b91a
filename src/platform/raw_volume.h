// Raw access to a camera volume by drive letter, and the in-process device
// table that is consulted before the operating system.
//
// A camera head is a disk without a file system; the library only ever reads
// and writes whole sectors of it at byte offsets. On Windows the volume is
// "\\.\X:"; on Linux the drives directory maps the letter to a block device or
// a file. An in-process device (the virtual camera head) attached to a letter
// takes precedence on both platforms, so tests and the capture tool can run
// without any operating-system device at all.
#pragma once

#include <cstdint>
#include <memory>

namespace varnel {

// Something that can be read and written at byte offsets: an open volume, or an
// in-process device. Transfers are synchronous; `transferred` receives the
// bytes actually moved (a short transfer returns true with fewer bytes).
class BlockDevice {
 public:
  virtual ~BlockDevice() = default;
  virtual bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) = 0;
  virtual bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) = 0;
};

// An open camera volume. Closing happens on destruction.
using RawVolume = BlockDevice;

// Opens the volume of drive `letter` ('A'..'Z', either case) for reading and
// writing, sharing read and write with other openers. Returns null when the
// letter is outside A..Z or the volume cannot be opened; a failed open is never
// handed out for transfers.
std::unique_ptr<RawVolume> OpenRawVolume(char16_t letter);

// The operating system's part of OpenRawVolume, without the in-process table
// (implemented once per platform). `letter` is already 'A'..'Z'.
std::unique_ptr<RawVolume> OpenSystemRawVolume(char letter);

// 'A'..'Z' for a letter of either case, 0 for anything else.
char NormalizeDriveLetter(char16_t letter);

// In-process device table. A device attached to a letter is what
// OpenRawVolume returns for it (the table keeps the device alive while any
// volume opened on it is still open), and the drive table reports the letter
// as a fixed drive whose free-space query fails, exactly like a camera.
bool AttachDevice(char16_t letter, std::shared_ptr<BlockDevice> device);
void DetachDevice(char16_t letter);
std::shared_ptr<BlockDevice> FindAttachedDevice(char16_t letter);

}  // namespace varnel
