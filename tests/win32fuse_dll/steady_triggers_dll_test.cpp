// Through the DLL under Wine against the FUSE head (varnel-camsim, mounted by
// run_with_camsim.sh --wine with the model of VARNEL_TEST_MODEL): triggers at
// a steady rate while automatic exposure and a second thread change the
// camera's settings. The program links VarnelSdk_Rade.dll itself, so every
// call goes through its export table.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/steady_triggers.h"

namespace varnel::testing {
namespace {

// The FUSE head's trigger input: its trigger and triggers files, reached
// through Wine's Z: drive (the host's root).
//
// This test runs on the real clock beside whatever else the machine does, so
// its triggers come at the plan's rate but never while the head already holds
// two frames the host has not read: a host slowed down by the machine (or a
// sanitizer) then delays the next trigger instead of losing it to a full
// head. A trigger lost to a stop or restart of the camera, or fired while the
// camera is not waiting for triggers, is still lost and counted.
class FuseTriggerInput : public TriggerInput {
 public:
  explicit FuseTriggerInput(const std::string& mount) : prefix_("Z:" + mount) {}
  ~FuseTriggerInput() override {
    stop_.store(true);
    if (firing_.joinable()) firing_.join();
  }

  bool Armed() override { return Count("armed") == 1; }
  void Start(double hz, uint64_t count) override {
    firing_ = std::thread([this, hz, count] {
      const auto period = std::chrono::microseconds(static_cast<int64_t>(1e6 / hz));
      for (uint64_t i = 0; i < count && !stop_.load(); ++i) {
        std::this_thread::sleep_for(period);
        // Room for the frame: fewer than two taken and not yet read.
        while (!stop_.load() && Count("taken") - Count("read") >= 2) {
          std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        std::ofstream trigger(prefix_ + "/trigger", std::ios::binary);
        trigger << "1";
        trigger.flush();
      }
    });
  }

  TriggerCounters Counts() override {
    TriggerCounters c;
    c.fired = Count("fired");
    c.taken = Count("taken");
    c.ignored = Count("ignored");
    c.overrun = Count("overrun");
    c.cleared = Count("cleared");
    c.read = Count("read");
    return c;
  }

 private:
  uint64_t Count(const std::string& name) {
    std::ifstream report(prefix_ + "/triggers", std::ios::binary);
    std::string key;
    uint64_t value = 0;
    while (report >> key >> value) {
      if (key == name) return value;
    }
    ADD_FAILURE() << "no '" << name << "' in " << prefix_ << "/triggers";
    return 0;
  }

  std::string prefix_;
  std::atomic<bool> stop_{false};
  std::thread firing_;
};

// The camera on the head's drive, of the test's model, 8-bit monochrome.
CameraHandle Select(char letter, int type) {
  const CameraHandle h = Varnel_Initialize(nullptr);
  std::vector<char> names(32 * 256);
  const int count = Varnel_EnumDevice(h, names.data());
  for (int i = 0; i < count; ++i) {
    if (std::string(&names[static_cast<size_t>(i) * 256]) != std::string(1, letter) + ":") continue;
    if (Varnel_SetDeviceNumber(h, i) != 1) break;
    Varnel_SetCameraType(h, type);  // 7 when the stored window does not fit: the sensor's is used
    while (Varnel_GetLastError(h) != 0) {
    }
    if (Varnel_SetColorMode(h, 8) != 1) break;
    return h;
  }
  Varnel_Release(h);
  return 0;
}

// Fault caught, through the DLL on a real clock: the faults of
// AcquisitionThreadsTest.SteadyTriggersWhileSettingsChange (a triggered frame
// lost while settings are sent with a stop and restart, every trigger source
// left masked off). Triggers come 200 ms apart on HXA1 and 150 ms on HZG7,
// and wait for room in the head (above), so a slow machine cannot lose one.
TEST(SteadyTriggersThroughTheDll, EveryTriggerGivesOneFrame) {
  const char* letter = std::getenv("VARNEL_CAMSIM_LETTER");
  const char* mount = std::getenv("VARNEL_CAMSIM_MOUNT");
  const char* model = std::getenv("VARNEL_TEST_MODEL");
  if (letter == nullptr || mount == nullptr || model == nullptr) {
    GTEST_SKIP() << "run through tests/fuse/run_with_camsim.sh --wine with VARNEL_TEST_MODEL";
  }
  const bool hzg7 = std::string(model) == "HZG7";
  ASSERT_TRUE(hzg7 || std::string(model) == "HXA1") << model;
  const CameraHandle h =
      Select(static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0]))), hzg7 ? 8 : 1);
  ASSERT_NE(h, 0) << "no camera on drive " << letter;
  if (!hzg7) ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
  SteadyTriggerPlan plan;
  plan.autoIris = hzg7 ? 1 : 2;
  plan.width = hzg7 ? 2456 : 256;
  plan.height = hzg7 ? 2038 : 64;
  plan.hz = hzg7 ? 1000.0 / 150 : 1000.0 / 200;
  plan.triggers = 12;
  plan.gains[0] = 20, plan.gains[1] = 40;
  plan.exposures[0] = hzg7 ? 300 : 800, plan.exposures[1] = hzg7 ? 600 : 1400;
  FuseTriggerInput input(mount);
  RunSteadyTriggers(h, input, plan);
  int error = 0;
  while (int code = Varnel_GetLastError(h)) error = code;
  EXPECT_EQ(error, 0);
  Varnel_Release(h);
}

}  // namespace
}  // namespace varnel::testing
