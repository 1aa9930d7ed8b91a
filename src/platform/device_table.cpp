// The in-process device table and the platform-independent half of the raw
// volume and drive table: devices attached here are found before the
// operating system is asked, on both platforms.
#include <array>
#include <mutex>

#include "platform/drive_table.h"
#include "platform/raw_volume.h"

namespace varnel {

namespace {

struct DeviceTable {
  std::mutex mutex;
  std::array<std::shared_ptr<BlockDevice>, 26> devices;
};

DeviceTable& Table() {
  static DeviceTable table;
  return table;
}

// A volume opened on an attached device. It shares ownership of the device, so
// the device outlives a detach while a volume is still open on it.
class AttachedVolume final : public RawVolume {
 public:
  explicit AttachedVolume(std::shared_ptr<BlockDevice> device) : device_(std::move(device)) {}
  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override {
    return device_->ReadAt(offset, data, size, transferred);
  }
  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override {
    return device_->WriteAt(offset, data, size, transferred);
  }

 private:
  std::shared_ptr<BlockDevice> device_;
};

}  // namespace

char NormalizeDriveLetter(char16_t letter) {
  if (letter >= u'A' && letter <= u'Z') return static_cast<char>(letter);
  if (letter >= u'a' && letter <= u'z') return static_cast<char>(letter - u'a' + u'A');
  return 0;
}

bool AttachDevice(char16_t letter, std::shared_ptr<BlockDevice> device) {
  const char normalized = NormalizeDriveLetter(letter);
  if (normalized == 0 || !device) return false;
  DeviceTable& table = Table();
  std::lock_guard lock(table.mutex);
  std::shared_ptr<BlockDevice>& slot = table.devices[normalized - 'A'];
  if (slot) return false;
  slot = std::move(device);
  return true;
}

void DetachDevice(char16_t letter) {
  const char normalized = NormalizeDriveLetter(letter);
  if (normalized == 0) return;
  std::shared_ptr<BlockDevice> released;
  {
    DeviceTable& table = Table();
    std::lock_guard lock(table.mutex);
    released = std::move(table.devices[normalized - 'A']);
  }
  // `released` is destroyed here, outside the lock: a device's destructor may
  // itself consult the table.
}

std::shared_ptr<BlockDevice> FindAttachedDevice(char16_t letter) {
  const char normalized = NormalizeDriveLetter(letter);
  if (normalized == 0) return nullptr;
  DeviceTable& table = Table();
  std::lock_guard lock(table.mutex);
  return table.devices[normalized - 'A'];
}

std::unique_ptr<RawVolume> OpenRawVolume(char16_t letter) {
  const char normalized = NormalizeDriveLetter(letter);
  if (normalized == 0) return nullptr;
  if (std::shared_ptr<BlockDevice> device = FindAttachedDevice(normalized)) {
    return std::make_unique<AttachedVolume>(std::move(device));
  }
  return OpenSystemRawVolume(normalized);
}

uint32_t LogicalDrives() {
  uint32_t mask = SystemLogicalDrives();
  DeviceTable& table = Table();
  std::lock_guard lock(table.mutex);
  for (size_t i = 0; i < table.devices.size(); ++i) {
    if (table.devices[i]) mask |= 1u << i;
  }
  return mask;
}

DriveType DriveTypeOf(char letter) {
  const char normalized = NormalizeDriveLetter(static_cast<unsigned char>(letter));
  if (normalized == 0) return DriveType::kNoRootDir;
  if (FindAttachedDevice(normalized)) return DriveType::kFixed;
  return SystemDriveType(normalized);
}

bool QueryFreeSpace(char letter, uint64_t* freeBytes) {
  const char normalized = NormalizeDriveLetter(static_cast<unsigned char>(letter));
  if (normalized == 0) return false;
  // An attached device carries no file system, so its query fails as a
  // camera's does.
  if (FindAttachedDevice(normalized)) return false;
  return SystemQueryFreeSpace(normalized, freeBytes);
}

}  // namespace varnel
