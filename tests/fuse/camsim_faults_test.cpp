// The FUSE head's `faults` file, and the library's answer to each fault it
// switches, through the C interface on the mounted camera drive: natively,
// and in the 32-bit build under Wine (the same source; run_with_camsim.sh
// mounts a fresh head for each run).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/camera_session.h"
#include "support/settings_store_guard.h"
#include "support/wait_until.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

// The head's file `name` as this platform reaches it: Wine shows the host's
// root as drive Z:.
std::string MountFile(const char* name) {
  const char* mount = std::getenv("VARNEL_CAMSIM_MOUNT");
  if (mount == nullptr) return "";
#ifdef _WIN32
  return std::string("Z:") + mount + "/" + name;
#else
  return std::string(mount) + "/" + name;
#endif
}

std::map<std::string, std::string> ReadFaults() {
  std::ifstream file(MountFile("faults"));
  std::map<std::string, std::string> values;
  std::string name, value;
  while (file >> name >> value) values[name] = value;
  return values;
}

// Writes `text` to the faults file in one write; false when the head refused it.
bool WriteFaults(const std::string& text) {
  std::ofstream file(MountFile("faults"), std::ios::binary | std::ios::trunc);
  if (!file.is_open()) return false;
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.flush();
  const bool written = file.good();
  file.close();
  return written && !file.fail();
}

class CamsimFaultsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* letter = std::getenv("VARNEL_CAMSIM_LETTER");
    if (letter == nullptr || MountFile("faults").empty()) {
      GTEST_SKIP() << "needs a mounted head: run through tests/fuse/run_with_camsim.sh";
    }
    drive_ =
        std::string(1, static_cast<char>(std::toupper(static_cast<unsigned char>(*letter)))) + ":";
    store_.Clear();
    ASSERT_TRUE(WriteFaults("removed 0\n"));
    ASSERT_TRUE(WriteFaults(kNoFaults));
  }
  void TearDown() override {
    for (CameraHandle h : handles_) Varnel_Release(h);
    WriteFaults("removed 0\n");
    WriteFaults(kNoFaults);
  }

  // A handle on the mounted drive: the default camera type on its stored
  // settings, a 256 x 64 window in 8-bit monochrome.
  CameraHandle Open() {
    const CameraHandle h = Varnel_Initialize(nullptr);
    handles_.push_back(h);
    std::vector<char> names(VARNEL_MAX_DEVICES * VARNEL_DEVICE_NAME_SIZE);
    const int count = Varnel_EnumDevice(h, names.data());
    for (int i = 0; i < count; ++i) {
      if (drive_ == &names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE]) {
        Varnel_SetDeviceNumber(h, i);
      }
    }
    Varnel_SetCameraType(h, 1);
    Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64);
    Varnel_SetColorMode(h, 8);
    Errors(h);
    return h;
  }

  static std::vector<int> Errors(CameraHandle h) {
    std::vector<int> codes;
    for (int code = Varnel_GetLastError(h); code != 0; code = Varnel_GetLastError(h)) {
      codes.push_back(code);
    }
    return codes;
  }

  static constexpr const char* kNoFaults =
      "no-answer 0\nstuck-busy 0\nother-direction-only 0\nbusy-polls 0\nlate-answer-ms 0\n"
      "slow-transfer-ms 0\nfail-after-transfers -1\nrefused-registers -\nshort-frames 0\n"
      "failed-frames 0\n";

  SettingsStoreGuard store_;
  std::string drive_;
  std::vector<CameraHandle> handles_;
};

// Fault caught: a faults file that does not show a switch, shows a value
// other than the one written, takes an unknown name or a bad value (or takes
// part of a refused write).
TEST_F(CamsimFaultsTest, FileShowsAndTakesEverySwitch) {
  const std::map<std::string, std::string> defaults = ReadFaults();
  const std::map<std::string, std::string> expected = {{"no-answer", "0"},
                                                       {"stuck-busy", "0"},
                                                       {"other-direction-only", "0"},
                                                       {"busy-polls", "0"},
                                                       {"late-answer-ms", "0"},
                                                       {"slow-transfer-ms", "0"},
                                                       {"fail-after-transfers", "-1"},
                                                       {"refused-registers", "-"},
                                                       {"short-frames", "0"},
                                                       {"failed-frames", "0"},
                                                       {"removed", "0"}};
  EXPECT_EQ(defaults, expected);
  struct Case {
    std::string written;
    bool taken;
    std::map<std::string, std::string> shown;  // values that differ from the defaults
  };
  const Case cases[] = {
      {"no-answer 1\n", true, {{"no-answer", "1"}}},
      {"stuck-busy 1\nlate-answer-ms 250\n",
       true,
       {{"stuck-busy", "1"}, {"late-answer-ms", "250"}}},
      {"# a comment\n\nbusy-polls 7", true, {{"busy-polls", "7"}}},
      {"refused-registers 0x35,9\n", true, {{"refused-registers", "0x9,0x35"}}},
      {"short-frames 2\nfailed-frames 3\nfail-after-transfers 40\n",
       true,
       {{"short-frames", "2"}, {"failed-frames", "3"}, {"fail-after-transfers", "40"}}},
      {"no-answer 1\nbogus 1\n", false, {}},
      {"stuck-busy 2\n", false, {}},
      {"late-answer-ms -5\n", false, {}},
      {"busy-polls\n", false, {}},
      {"refused-registers 0x10000\n", false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.written);
    ASSERT_TRUE(WriteFaults(kNoFaults));
    EXPECT_EQ(WriteFaults(c.written), c.taken);
    std::map<std::string, std::string> want = expected;
    for (const auto& [name, value] : c.shown) want[name] = value;
    EXPECT_EQ(ReadFaults(), want);
  }
}

// Fault caught: a fault switched through the file that the library does not
// see as the in-process head's switch would show it: register access on a
// camera that does not answer, stays busy, answers late or refuses the
// register reported as done; frames that fail now and then ending the stream;
// a camera pulled out mid-stream not reported (error 8, and a frame message
// with lParam 8); a camera plugged in again not usable.
TEST_F(CamsimFaultsTest, TheLibraryAnswersEachFault) {
  const CameraHandle h = Open();
  const struct {
    const char* faults;
    int readRegister;  // what Varnel_ReadRegister(0x35) gives: -1 fails with 6
  } registerCases[] = {
      {"no-answer 1\n", -1},
      {"stuck-busy 1\n", -1},
      {"late-answer-ms 400\n", -1},
      {"refused-registers 0x35\n", -1},
      {"refused-registers 0x36\n", 0x0102},
  };
  ASSERT_EQ(Varnel_WriteRegister(h, 0x35, 0x0102), 1);
  for (const auto& c : registerCases) {
    SCOPED_TRACE(c.faults);
    ASSERT_TRUE(WriteFaults(c.faults));
    int valid = -1;
    const int value = Varnel_ReadRegister(h, 0x35, &valid);
    EXPECT_EQ(valid, c.readRegister >= 0 ? 1 : 0);
    EXPECT_EQ(value, c.readRegister >= 0 ? c.readRegister : 0);
    EXPECT_EQ(Errors(h), c.readRegister >= 0 ? std::vector<int>{} : std::vector<int>{6});
    ASSERT_TRUE(WriteFaults(kNoFaults));
  }

  MessageSink sink;
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
  ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
  // A few failed and short reads are retried: frames come again, unreported.
  ASSERT_TRUE(WriteFaults("failed-frames 3\nshort-frames 2\n"));
  EXPECT_TRUE(WaitUntil([] { return ReadFaults()["failed-frames"] == "0"; }));
  int frames = 0;
  EXPECT_TRUE(WaitUntil([&] {
    std::optional<PostedMessage> m = sink.NextOf(kFrameMessage, 100);
    if (m) {
      EXPECT_NE(m->wParam, 0u) << "lParam " << m->lParam;
    }
    return m && ++frames == 3;
  }));
  EXPECT_EQ(Errors(h), std::vector<int>{});
  // Pulled out: reported.
  ASSERT_TRUE(WriteFaults("removed 1\n"));
  const std::optional<PostedMessage> lost = sink.NextFrameLoss(kEventBoundMs);
  ASSERT_TRUE(lost.has_value());
  EXPECT_EQ(lost->lParam, 8);
  EXPECT_EQ(Errors(h), std::vector<int>{8});
  EXPECT_EQ(Varnel_StopPreview(h), 1);
  // Plugged in again: the next start streams.
  ASSERT_TRUE(WriteFaults("removed 0\n"));
  sink.Drain();
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1)
      << ::testing::PrintToString(Errors(h));
  std::optional<PostedMessage> frame = sink.NextOf(kFrameMessage, kEventBoundMs);
  ASSERT_TRUE(frame.has_value());
  EXPECT_NE(frame->wParam, 0u);
  EXPECT_EQ(Varnel_StopPreview(h), 1);
}

// Fault caught: a second user of a camera drive (here a second handle: the
// claim is the system's, so another program meets the same refusal) that
// starts or reprograms the camera while the first streams from it.
TEST_F(CamsimFaultsTest, OneCameraOneUserOnTheDrive) {
  const CameraHandle first = Open();
  const CameraHandle second = Open();
  ASSERT_EQ(Varnel_StartPreview(first), 1);
  EXPECT_EQ(Varnel_SnapShot(second, nullptr, 0, 1), 0);
  EXPECT_EQ(Errors(second), std::vector<int>{2});
  EXPECT_EQ(Varnel_WriteRegister(second, 0x35, 1), 0);
  EXPECT_EQ(Errors(second), std::vector<int>{2});
  EXPECT_EQ(Varnel_StopPreview(first), 1);
  EXPECT_EQ(Varnel_SnapShot(second, nullptr, 0, 1), 1) << ::testing::PrintToString(Errors(second));
  EXPECT_EQ(Errors(first), std::vector<int>{});
}

}  // namespace
}  // namespace varnel::testing
