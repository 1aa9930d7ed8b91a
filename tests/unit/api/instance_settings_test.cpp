// The order of a camera instance's destruction around the settings store.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "driver/camera_driver.h"
#include "instance/camera_instance.h"
#include "sim/virtual_head.h"
#include "support/memory_registry.h"
#include "support/test_clock.h"

namespace varnel {
namespace {

// Fault caught: release saving the settings while the camera still streams
// (the frame thread's automatic exposure may change the gain being saved),
// i.e. saving before acquisition is stopped.
TEST(InstanceSettingsTest, ReleaseStopsAcquisitionBeforeItSaves) {
  testing::SteppingClock clock(testing::SteppingClock::kDefaultStart,
                               std::chrono::microseconds(50));
  testing::ScopedCurrentClock useClock(&clock);
  testing::MemoryRegistry registry;
  testing::ScopedCurrentRegistry useRegistry(&registry);
  HeadOptions options;
  options.clock = &clock;
  options.framesPerSecond = 200.0;
  auto head = std::make_shared<VirtualHead>(kModelHXA1, options);
  ASSERT_TRUE(head->AttachTo(u'Q'));

  auto instance = std::make_unique<CameraInstance>();
  ASSERT_TRUE(instance->Initialise(nullptr));
  char names[32][256];
  const int count = instance->EnumDevice(&names[0][0]);
  int index = -1;
  for (int i = 0; i < count; ++i) {
    if (std::string(names[i]) == "Q:") index = i;
  }
  ASSERT_GE(index, 0);
  ASSERT_EQ(instance->SetDeviceNumber(index), 1);
  ASSERT_EQ(instance->SetCameraType(1), 1);

  CameraDriver* driver = instance->CurrentDriver();
  std::vector<int> statesAtSave;
  registry.onWriteSession = [&] { statesAtSave.push_back(driver->GetState()); };
  driver->Start();
  ASSERT_EQ(driver->GetState(), kDriverRunning);

  instance.reset();
  // Analog, filter and gray settings: three saves, none while running.
  EXPECT_EQ(statesAtSave, std::vector<int>(3, kDriverStopped));
  EXPECT_TRUE(registry.Get("Software\\Holvik\\VarnelRadeSdk\\Gain", "Global").has_value());
  head->Detach();
}

}  // namespace
}  // namespace varnel
