// The raw-volume path of the platform against varnel-camsim, mounted by
// run_with_camsim.sh: on Linux through a drives directory, under Wine through
// the prefix's dosdevices and CreateFileW on the drive's device path.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/sector_protocol.h"
#include "platform/drive_table.h"
#include "platform/raw_volume.h"
#include "sim/virtual_head.h"
#include "support/wait_until.h"

namespace varnel {
namespace {

constexpr uint32_t kWidth = 256, kHeight = 64;

class CamsimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* letter = std::getenv("VARNEL_CAMSIM_LETTER");
    if (letter == nullptr || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
      GTEST_SKIP() << "needs a mounted head: run through tests/fuse/run_with_camsim.sh";
    }
    letter_ = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    volume_ = OpenRawVolume(letter_);
    ASSERT_NE(volume_, nullptr) << "cannot open the volume of drive " << letter_;
    protocol_.SetVolume(volume_.get());
    protocol_.Stop();
    // The default model's window registers: origin (0, 0), kWidth × kHeight.
    ASSERT_TRUE(protocol_.WriteRegister(1, 0, 20));
    ASSERT_TRUE(protocol_.WriteRegister(2, 0, 32));
    ASSERT_TRUE(protocol_.WriteRegister(3, 0, kHeight - 1));
    ASSERT_TRUE(protocol_.WriteRegister(4, 0, kWidth - 1));
    ASSERT_TRUE(protocol_.WriteRegister(30, 0, 0));
    // The vertical mirror the host stores for this model by default: with the
    // lens's image it sends the picture bottom-up.
    ASSERT_TRUE(protocol_.WriteRegister(32, 0x80, 0));
  }
  void TearDown() override {
    if (volume_) protocol_.Stop();
  }

  void Run(bool eightBit, int depthCode, bool trigger) {
    StreamSettings settings;
    settings.run = true;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.eightBitTransfer = eightBit;
    settings.bitDepthCode = depthCode;
    settings.triggerMode = trigger;
    protocol_.StartStream(settings);
  }

  // The stamp of a frame of the default model, whose rows arrive bottom-up.
  static std::optional<uint32_t> Stamp(const std::vector<uint8_t>& frame, uint32_t bytesPerSample) {
    const size_t pitch = size_t{kWidth} * bytesPerSample;
    std::vector<uint8_t> upright(frame.size());
    for (uint32_t row = 0; row < kHeight; ++row) {
      std::copy_n(frame.begin() + row * pitch, pitch,
                  upright.begin() + (kHeight - 1 - row) * pitch);
    }
    return VirtualHead::ReadStamp(upright.data(), kWidth, kHeight, pitch, bytesPerSample);
  }

  char letter_ = 0;
  std::unique_ptr<RawVolume> volume_;
  SectorProtocol protocol_;
};

TEST_F(CamsimTest, DriveIsAFixedDriveWithoutFreeSpace) {
  EXPECT_NE(LogicalDrives() & (1u << (letter_ - 'A')), 0u);
  EXPECT_EQ(DriveTypeOf(letter_), DriveType::kFixed);
  uint64_t freeBytes = 0;
  EXPECT_FALSE(QueryFreeSpace(letter_, &freeBytes));
}

TEST_F(CamsimTest, RegistersWrittenAreReadBack) {
  struct Case {
    uint32_t address;
    uint16_t value;
  };
  const Case cases[] = {{0x35, 0x0012}, {0x77, 0xFFFF}, {0xFF, 0x8001}, {0x00, 0x0000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    ASSERT_TRUE(protocol_.WriteRegister(c.address, c.value >> 8, c.value & 0xFF));
    uint8_t high = 0xEE, low = 0xEE;
    ASSERT_TRUE(protocol_.ReadRegister(c.address, &high, &low));
    EXPECT_EQ(high << 8 | low, c.value);
  }
  ASSERT_TRUE(protocol_.WriteRegisterWide(0x2AB, 0x3ABCDE));
  uint32_t wide = 0;
  ASSERT_TRUE(protocol_.ReadRegisterWide(0x2AB, &wide));
  EXPECT_EQ(wide, 0x3ABCDEu);
}

TEST_F(CamsimTest, StreamedFramesAlternateAndAdvance) {
  Run(true, 0, false);
  std::vector<uint8_t> a(kWidth * kHeight), b(kWidth * kHeight);
  const uint32_t sectors = kWidth * kHeight / kSectorSize;
  ASSERT_EQ(protocol_.ReadFrame(false, a.data(), sectors), a.size());
  ASSERT_EQ(protocol_.ReadFrame(true, b.data(), sectors), b.size());
  // Not blank: the scene has both dark and bright samples.
  EXPECT_NE(std::count(a.begin(), a.end(), 0), 0);
  EXPECT_GT(*std::max_element(a.begin(), a.end()), 0x80);
  const std::optional<uint32_t> first = Stamp(a, 1), second = Stamp(b, 1);
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(second.has_value());
  EXPECT_GT(*second, *first);
}

TEST_F(CamsimTest, DeepSamplesCarryTenBits) {
  Run(false, 1, false);
  std::vector<uint8_t> frame(kWidth * kHeight * 2);
  ASSERT_EQ(protocol_.ReadFrame(false, frame.data(), kWidth * kHeight * 2 / kSectorSize),
            frame.size());
  bool lowBitsUsed = false;
  for (size_t i = 0; i < frame.size(); i += 2) {
    // The second byte holds only the two bits below the first byte's eight.
    ASSERT_EQ(frame[i + 1] & ~0x03, 0) << i;
    lowBitsUsed |= frame[i + 1] != 0;
  }
  EXPECT_TRUE(lowBitsUsed);
  EXPECT_TRUE(Stamp(frame, 2).has_value());
}

// The counts of the head's triggers file, by name.
std::optional<uint64_t> TriggerCount(const std::string& report, const std::string& name) {
  const std::string key = name + " ";
  for (size_t at = 0; at < report.size();) {
    const size_t end = std::min(report.find('\n', at), report.size());
    if (report.compare(at, key.size(), key) == 0) {
      return std::stoull(report.substr(at + key.size(), end - at - key.size()));
    }
    at = end + 1;
  }
  return std::nullopt;
}

// Catches a trigger file that fires no frame, a triggers file whose counts
// do not follow what happened, and a head that stays in trigger mode after
// the handle that armed it has closed (its program stopped): it would go on
// taking triggers that nobody reads.
TEST_F(CamsimTest, TriggerFileFiresOneFrameAndTheArmingHandleDisarms) {
  const char* mount = std::getenv("VARNEL_CAMSIM_MOUNT");
  ASSERT_NE(mount, nullptr);
#ifdef _WIN32
  // Wine shows the host's root as drive Z:.
  const std::string prefix = std::string("Z:") + mount;
#else
  const std::string prefix = mount;
#endif
  auto report = [&] {
    std::ifstream in(prefix + "/triggers", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  // The sensor's trigger mode, every trigger source.
  ASSERT_TRUE(protocol_.WriteRegister(30, 0x03, 0x00));
  Run(true, 0, true);
  std::vector<uint8_t> frame(kWidth * kHeight);
  const uint32_t sectors = kWidth * kHeight / kSectorSize;
  EXPECT_EQ(protocol_.WaitForFrame(frame.data(), sectors, kWidth * kHeight, 100), 0u);
  {
    std::ofstream fire(prefix + "/trigger", std::ios::binary);
    ASSERT_TRUE(fire.is_open()) << prefix;
    fire.put('1');
    fire.flush();
    ASSERT_TRUE(fire.good());
  }
  bool areaB = true;
  ASSERT_EQ(protocol_.WaitForFrame(frame.data(), sectors, kWidth * kHeight, 5000, &areaB),
            frame.size());
  EXPECT_FALSE(areaB);
  EXPECT_TRUE(Stamp(frame, 1).has_value());
  EXPECT_EQ(protocol_.ReadFrameReady(), 0);
  std::string counts = report();
  EXPECT_EQ(TriggerCount(counts, "armed"), 1u) << counts;
  EXPECT_EQ(TriggerCount(counts, "fired"), 1u) << counts;
  EXPECT_EQ(TriggerCount(counts, "taken"), 1u) << counts;
  EXPECT_EQ(TriggerCount(counts, "read"), 1u) << counts;

  // Another handle comes and goes: the head stays armed. The arming handle
  // closes: the head is out of trigger mode.
  // (The file system hears of a closed handle after the close returns.)
  OpenRawVolume(letter_).reset();
  EXPECT_EQ(TriggerCount(report(), "armed"), 1u);
  protocol_.SetVolume(nullptr);
  volume_.reset();
  EXPECT_TRUE(testing::WaitUntil([&] { return TriggerCount(report(), "armed") == 0u; }))
      << report();
}

}  // namespace
}  // namespace varnel
