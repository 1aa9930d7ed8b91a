// Drive letters, the in-process device table, and the operating system's raw
// volume path (on Linux: the drives directory).
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/drive_table.h"
#include "platform/raw_volume.h"
#include "sim/virtual_head.h"
#include "support/temp_dir.h"

namespace varnel {
namespace {

TEST(DeviceTableTest, LettersOutsideTheAlphabetAreRefusedEverywhere) {
  auto head = std::make_shared<VirtualHead>(kModelHXA1);
  const char16_t letters[] = {0, u'@', u'[', u'`', u'{', u'1', u':', u'\u00C4', u'\uFF21'};
  for (char16_t letter : letters) {
    SCOPED_TRACE(static_cast<int>(letter));
    EXPECT_EQ(OpenRawVolume(letter), nullptr);
    EXPECT_FALSE(AttachDevice(letter, head));
    EXPECT_FALSE(head->AttachTo(letter));
    EXPECT_EQ(FindAttachedDevice(letter), nullptr);
    if (letter < 0x80) {
      EXPECT_EQ(DriveTypeOf(static_cast<char>(letter)), DriveType::kNoRootDir);
      uint64_t freeBytes = 0;
      EXPECT_FALSE(QueryFreeSpace(static_cast<char>(letter), &freeBytes));
    }
  }
}

TEST(DeviceTableTest, AttachedHeadLooksLikeACameraDrive) {
  auto head = std::make_shared<VirtualHead>(kModelHXA1);
  ASSERT_TRUE(head->AttachTo(u'w'));  // either case names the same drive
  EXPECT_FALSE(AttachDevice(u'W', std::make_shared<VirtualHead>(kModelR2T)));
  EXPECT_NE(LogicalDrives() & (1u << ('W' - 'A')), 0u);
  EXPECT_EQ(DriveTypeOf('W'), DriveType::kFixed);
  uint64_t freeBytes = 0;
  EXPECT_FALSE(QueryFreeSpace('w', &freeBytes));

  std::unique_ptr<RawVolume> volume = OpenRawVolume(u'W');
  ASSERT_NE(volume, nullptr);
  const uint8_t sector[512] = {0,        0, 0,           0, 0,        0, 0, 0, 0, 0, 0, 0,
                               0,        0, 0,           0, 0,        0, 0, 0, 0, 0, 0, 0,
                               0,        0, 0,           0, 0,        0, 0, 0, 0, 0,
                               /*34*/ 1, 0, /*36*/ 0x35, 0, /*38*/ 7, 0};
  uint32_t moved = 0;
  ASSERT_TRUE(volume->WriteAt(VirtualHead::ControlOffset(), sector, 512, &moved));
  EXPECT_EQ(moved, 512u);
  EXPECT_EQ(head->PeekRegister(0x35), 7u);

  // Removal: the drive disappears, and a volume still open on it fails.
  head->Remove();
  EXPECT_EQ(LogicalDrives() & (1u << ('W' - 'A')), 0u);
  EXPECT_NE(DriveTypeOf('W'), DriveType::kFixed);
  EXPECT_EQ(OpenRawVolume(u'W'), nullptr);
  uint8_t buffer[512];
  EXPECT_FALSE(volume->ReadAt(VirtualHead::ControlOffset(), buffer, 512, &moved));
  EXPECT_EQ(moved, 0u);
}

TEST(DeviceTableTest, DetachReleasesTheLetterButNotAnOpenVolume) {
  auto head = std::make_shared<VirtualHead>(kModelHZF6);
  ASSERT_TRUE(head->AttachTo(u'U'));
  std::unique_ptr<RawVolume> volume = OpenRawVolume(u'U');
  ASSERT_NE(volume, nullptr);
  std::weak_ptr<VirtualHead> watch = head;
  head->Detach();
  head.reset();
  EXPECT_EQ(FindAttachedDevice(u'U'), nullptr);
  // The open volume keeps the head alive and working.
  ASSERT_FALSE(watch.expired());
  uint8_t buffer[512];
  uint32_t moved = 0;
  EXPECT_TRUE(volume->ReadAt(VirtualHead::ControlOffset(), buffer, 512, &moved));
  EXPECT_EQ(moved, 512u);
  volume.reset();
  EXPECT_TRUE(watch.expired());
}

#ifndef _WIN32
// The Linux side of the seam: a drives directory laid out like a Wine
// prefix's dosdevices.
class DrivesDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = testing::UniqueTempDirectory(
        std::string("varnel-drives-") +
        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_FALSE(dir_.empty());
    std::filesystem::create_directories(dir_ / "root");
    const char* old = std::getenv("VARNEL_DRIVES");
    if (old != nullptr) saved_ = old;
    hadOld_ = old != nullptr;
    setenv("VARNEL_DRIVES", dir_.c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_) {
      setenv("VARNEL_DRIVES", saved_.c_str(), 1);
    } else {
      unsetenv("VARNEL_DRIVES");
    }
    std::filesystem::remove_all(dir_);
  }
  std::filesystem::path dir_;
  std::string saved_;
  bool hadOld_ = false;
};

TEST_F(DrivesDirectoryTest, VolumeFileIsReadAndWrittenAtByteOffsets) {
  const std::filesystem::path image = dir_ / "volume.img";
  {
    std::ofstream out(image, std::ios::binary);
    out.seekp(4 * 512 - 1);
    out.put('\0');
  }
  std::filesystem::create_directory_symlink(dir_ / "root", dir_ / "r:");
  std::filesystem::create_symlink(image, dir_ / "r::");

  EXPECT_NE(LogicalDrives() & (1u << ('R' - 'A')), 0u);
  EXPECT_EQ(DriveTypeOf('R'), DriveType::kFixed);
  uint64_t freeBytes = 0;
  EXPECT_TRUE(QueryFreeSpace('R', &freeBytes));  // an ordinary directory has a file system

  std::unique_ptr<RawVolume> volume = OpenRawVolume(u'r');
  ASSERT_NE(volume, nullptr);
  uint8_t pattern[512];
  for (int i = 0; i < 512; ++i) pattern[i] = static_cast<uint8_t>(i * 7);
  uint32_t moved = 0;
  ASSERT_TRUE(volume->WriteAt(2 * 512, pattern, 512, &moved));
  EXPECT_EQ(moved, 512u);
  uint8_t back[1024] = {};
  ASSERT_TRUE(volume->ReadAt(512, back, sizeof back, &moved));
  EXPECT_EQ(moved, 1024u);
  EXPECT_EQ(std::memcmp(back + 512, pattern, 512), 0);
  // A read across the end is short, as on a disk of that size.
  ASSERT_TRUE(volume->ReadAt(3 * 512, back, sizeof back, &moved));
  EXPECT_EQ(moved, 512u);
}

TEST_F(DrivesDirectoryTest, VolumesThatCannotBeOpened) {
  // No entry at all; a dangling volume link; a root without a volume.
  std::filesystem::create_symlink(dir_ / "missing.img", dir_ / "s::");
  std::filesystem::create_directory_symlink(dir_ / "root", dir_ / "t:");
  for (char letter : {'Q', 'S', 'T'}) {
    SCOPED_TRACE(letter);
    EXPECT_EQ(OpenRawVolume(letter), nullptr);
  }
  EXPECT_EQ(DriveTypeOf('Q'), DriveType::kNoRootDir);
  EXPECT_EQ(DriveTypeOf('S'), DriveType::kNoRootDir);
  EXPECT_EQ(DriveTypeOf('T'), DriveType::kFixed);
}

TEST_F(DrivesDirectoryTest, AttachedDeviceIsConsultedBeforeTheDirectory) {
  const std::filesystem::path image = dir_ / "volume.img";
  std::ofstream(image, std::ios::binary).put('x');
  std::filesystem::create_directory_symlink(dir_ / "root", dir_ / "p:");
  std::filesystem::create_symlink(image, dir_ / "p::");
  auto head = std::make_shared<VirtualHead>(kModelR2T);
  ASSERT_TRUE(head->AttachTo(u'P'));
  uint64_t freeBytes = 0;
  EXPECT_FALSE(QueryFreeSpace('P', &freeBytes));
  std::unique_ptr<RawVolume> volume = OpenRawVolume(u'P');
  ASSERT_NE(volume, nullptr);
  uint8_t buffer[512];
  uint32_t moved = 0;
  // The one-byte file would answer short; the head answers a whole sector.
  ASSERT_TRUE(volume->ReadAt(VirtualHead::ControlOffset(), buffer, 512, &moved));
  EXPECT_EQ(moved, 512u);
  head->Detach();
  EXPECT_TRUE(QueryFreeSpace('P', &freeBytes));
}
#endif

}  // namespace
}  // namespace varnel
