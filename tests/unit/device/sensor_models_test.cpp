// The nine camera models: their limits, window variants and the exact
// register traffic of each hook, one table per family of hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_test_support.h"

namespace varnel::testing {
namespace {

using Lines = std::vector<std::string>;

std::string Wide(int address, int value) {
  return "ww " + std::to_string(address) + "=" + std::to_string(value);
}

TEST(SensorModelsTest, FactoryBuildsTheNineModelsOnly) {
  for (ModelCode code : kModelList) {
    EXPECT_NE(CreateSensorDevice(code), nullptr) << ModelName(code);
  }
  EXPECT_EQ(CreateSensorDevice(kModelHXJ9), nullptr);
  EXPECT_EQ(CreateSensorDevice(0), nullptr);
  EXPECT_EQ(CreateSensorDevice(kModelR2T | uint32_t{'X'} << 24), nullptr);
}

TEST(SensorModelsTest, LimitsAndConstructionWindows) {
  struct Case {
    ModelCode model;
    int width, height, registerWidth, registerHeight;
    ValueRange gain, exposure;
    int eightBit, oneByteOutput;
  };
  const Case cases[] = {
      {kModelHWH8, 8192, 8192, 8192, 8192, {1, 63}, {1, 6400}, 1, 0},
      {kModelR2T, 752, 480, 751, 479, {1, 63}, {1, 6400}, 1, 0},
      {kModelHXA1, 2048, 1536, 2047, 1535, {1, 63}, {1, 6400}, 1, 0},
      {kModelHXE5, 1280, 1024, 1280, 1024, {1, 63}, {1, 6400}, 1, 0},
      {kModelHXB2, 2592, 1944, 2591, 1943, {1, 63}, {1, 6400}, 1, 0},
      {kModelHXC3, 3264, 2448, 3263, 2447, {1, 63}, {1, 6400}, 1, 0},
      {kModelHYD4, 1360, 1024, 1359, 1023, {0, 1023}, {8, 1068}, 1, 0},
      {kModelHZF6, 1600, 1200, 1600, 1200, {0, 1023}, {2, 1493}, 1, 0},
      {kModelHZG7, 2456, 2041, 2456, 2041, {0, 1023}, {2, 2079}, 1, 1},
  };
  for (const Case& c : cases) {
    auto sensor = CreateSensorDevice(c.model);
    ASSERT_NE(sensor, nullptr);
    const char* name = ModelName(c.model);
    int w = 0, h = 0, x = -1, y = -1;
    sensor->GetMaxSize(&w, &h);
    EXPECT_EQ(w, c.width) << name;
    EXPECT_EQ(h, c.height) << name;
    sensor->GetCaptureWindow(&x, &y, &w, &h);
    EXPECT_EQ(x, 0) << name;
    EXPECT_EQ(y, 0) << name;
    EXPECT_EQ(w, c.width) << name;
    EXPECT_EQ(h, c.height) << name;
    EXPECT_EQ(sensor->GetRegisterWindowWidth(), c.registerWidth) << name;
    EXPECT_EQ(sensor->GetRegisterWindowHeight(), c.registerHeight) << name;
    EXPECT_EQ(sensor->GlobalGainRange().minimum, c.gain.minimum) << name;
    EXPECT_EQ(sensor->GlobalGainRange().maximum, c.gain.maximum) << name;
    EXPECT_EQ(sensor->ExposureRange().minimum, c.exposure.minimum) << name;
    EXPECT_EQ(sensor->ExposureRange().maximum, c.exposure.maximum) << name;
    EXPECT_EQ(sensor->ChannelGain2Range().maximum, 400) << name;
    EXPECT_EQ(sensor->GetEightBitTransfer(), c.eightBit) << name;
    EXPECT_EQ(sensor->GetOneByteOutput(), c.oneByteOutput) << name;
    EXPECT_EQ(sensor->GetDriveLetter(), u'D') << name;
    EXPECT_EQ(sensor->GetFrameTimeout(), 6000) << name;
    EXPECT_EQ(sensor->GetSectorMap().controlSector, 5216u) << name;
    EXPECT_EQ(sensor->GetSectorMap().frameAreaA, 5280u) << name;
    EXPECT_EQ(sensor->GetSectorMap().frameAreaB, 38048u) << name;
  }
}

TEST(SensorModelsTest, SetCaptureWindowVariants) {
  struct Case {
    ModelCode model;
    WindowRect request;
    bool accepted;
    WindowRect capture;
    WindowRect registers;
  };
  const Case cases[] = {
      // C: even origin, odd register extent.
      {kModelR2T, {10, 11, 100, 50}, true, {10, 10, 100, 50}, {10, 10, 99, 49}},
      {kModelHXB2, {2591, 0, 100, 100}, true, {2588, 0, 4, 100}, {2588, 0, 3, 99}},
      {kModelHXA1, {-5, 9999, 5000, 5000}, true, {0, 1532, 2048, 4}, {0, 1532, 2047, 3}},
      {kModelHXC3, {3, 3, 3, 3}, true, {2, 2, 3, 3}, {2, 2, 3, 3}},
      // Too small: refused; R2T keeps the request as its capture window.
      {kModelHXA1, {4, 4, 2, 100}, false, {0, 0, 2048, 1536}, {0, 0, 2047, 1535}},
      {kModelR2T, {4, 4, 100, 2}, false, {4, 4, 100, 2}, {0, 0, 751, 479}},
      // L: extent clamped to 12..8192, origin only in the register window,
      // raised to 0 and taken down to even.
      {kModelHWH8, {100, 200, 5, 9000}, true, {0, 0, 12, 8192}, {100, 200, 12, 8192}},
      {kModelHWH8, {-3, 7, 640, 480}, true, {0, 0, 640, 480}, {0, 6, 640, 480}},
      // X: always the whole sensor.
      {kModelHXE5, {1, 2, 3, 4}, true, {0, 0, 1280, 1024}, {0, 0, 1280, 1024}},
      {kModelHYD4, {8, 8, 64, 64}, true, {0, 0, 1360, 1024}, {0, 0, 1360, 1024}},
      {kModelHZF6, {8, 8, 64, 64}, true, {0, 0, 1600, 1200}, {0, 0, 1600, 1200}},
      {kModelHZG7, {8, 8, 64, 64}, true, {0, 0, 2456, 2041}, {0, 0, 2456, 2041}},
  };
  for (const Case& c : cases) {
    auto sensor = CreateSensorDevice(c.model);
    const char* name = ModelName(c.model);
    EXPECT_EQ(sensor->SetCaptureWindow(c.request.x, c.request.y, c.request.width, c.request.height),
              c.accepted)
        << name;
    const WindowRect capture = sensor->GetStoredCaptureWindow();
    const WindowRect registers = sensor->GetRegisterWindow();
    EXPECT_EQ((std::vector<int>{capture.x, capture.y, capture.width, capture.height}),
              (std::vector<int>{c.capture.x, c.capture.y, c.capture.width, c.capture.height}))
        << name << " capture window";
    EXPECT_EQ(
        (std::vector<int>{registers.x, registers.y, registers.width, registers.height}),
        (std::vector<int>{c.registers.x, c.registers.y, c.registers.width, c.registers.height}))
        << name << " register window";
  }
}

TEST(SensorModelsTest, CaptureWindowUnderSubsampling) {
  struct Case {
    ModelCode model;
    int vertical, horizontal;
    int width, height;
  };
  const Case cases[] = {
      {kModelR2T, 0, 2, 188, 480},     // R: 2 gives a factor of 4
      {kModelR2T, 1, 3, 752, 240},     // 3 gives no reduction
      {kModelHXA1, 1, 3, 512, 768},    // base: divided by value + 1
      {kModelHYD4, 1, 1, 1360, 1024},  // F: not shrunk
      {kModelHZG7, 2, 2, 2456, 2041},  // F
      {kModelHWH8, 1, 1, 8192, 8192},  // cannot subsample: stores 0
  };
  for (const Case& c : cases) {
    auto sensor = CreateSensorDevice(c.model);
    EXPECT_TRUE(sensor->SetVerticalSubsample(c.vertical));
    EXPECT_TRUE(sensor->SetHorizontalSubsample(c.horizontal));
    int w = 0, h = 0;
    sensor->GetCaptureWindow(nullptr, nullptr, &w, &h);
    EXPECT_EQ(w, c.width) << ModelName(c.model);
    EXPECT_EQ(h, c.height) << ModelName(c.model);
  }
  auto hwh8 = CreateSensorDevice(kModelHWH8);
  hwh8->SetHorizontalSubsample(2);
  EXPECT_EQ(hwh8->GetHorizontalSubsample(), 0);
}

// One hook of one model, called on an attached sensor whose traffic so far was
// forgotten.
struct HookCase {
  ModelCode model;
  Lines traffic;
  int pauses;
};

void ExpectHook(const HookCase& c, const char* family,
                const std::function<void(SensorDevice&, VirtualHead&)>& setup,
                const std::function<int32_t(SensorDevice&)>& hook) {
  SensorOnHead rig(c.model);
  ASSERT_TRUE(rig.attached());
  ASSERT_TRUE(rig.Attach()) << ModelName(c.model);
  setup(*rig.sensor, *rig.head);
  rig.head->ClearLogs();
  rig.clock.ClearSleeps();
  EXPECT_EQ(hook(*rig.sensor), 0) << family << " " << ModelName(c.model);
  EXPECT_EQ(Traffic(*rig.head), c.traffic) << family << " " << ModelName(c.model);
  const size_t pauses = static_cast<size_t>(c.pauses);
  EXPECT_EQ(rig.clock.CountSleeps(8), pauses) << family << " " << ModelName(c.model);
  EXPECT_EQ(rig.clock.Sleeps().size(), pauses) << family << " " << ModelName(c.model);
}

// A value set on the sensor, the traffic its hook makes, and the value the
// sensor keeps afterwards (some hooks clamp and store back).
struct ValueCase {
  ModelCode model;
  int value;
  Lines traffic;
  int pauses;
  int stored;
};

TEST(SensorModelsTest, GainHooks) {
  const ValueCase cases[] = {
      {kModelHWH8, 40, {}, 0, 40},
      {kModelR2T, 40, {"w 175=0", "w 53=40"}, 2, 40},
      {kModelHXA1, 40, {"w 175=0", "w 53=40"}, 2, 40},
      {kModelHXE5, 40, {}, 0, 40},
      {kModelHXB2, 40, {"w 175=0", "w 53=40"}, 2, 40},
      {kModelHXC3, 40, {}, 0, 40},
      // Ten bits split: 300 = 4 << 6 | 44.
      {kModelHYD4, 300, {Wide(6, 44), Wide(7, 4)}, 2, 300},
      {kModelHZF6, 300, {Wide(6, 44), Wide(7, 4)}, 2, 300},
      {kModelHZG7, 300, {Wide(4, 300 | 0x10000)}, 0, 300},
      // What a register cannot hold is limited, not wrapped.
      {kModelR2T, 5000, {"w 175=0", "w 53=255"}, 2, 5000},
      {kModelHYD4, 5000, {Wide(6, 63), Wide(7, 15)}, 2, 5000},
      {kModelHZG7, 5000, {Wide(4, 1023 | 0x10000)}, 0, 1023},
      {kModelHZG7, -7, {Wide(4, 0x10000)}, 0, -7},
  };
  for (const ValueCase& c : cases) {
    ExpectHook(
        {c.model, c.traffic, c.pauses}, "gain",
        [&](SensorDevice& s, VirtualHead&) { s.SetGlobalGain(c.value); },
        [&](SensorDevice& s) {
          const int32_t result = s.ApplyGain();
          EXPECT_EQ(s.GetGlobalGain(), c.stored) << ModelName(c.model) << " " << c.value;
          return result;
        });
  }
}

TEST(SensorModelsTest, ExposureHooks) {
  const ValueCase cases[] = {
      {kModelHWH8, 500, {}, 0, 500},
      {kModelR2T, 500, {"r 8", "r 9", "w 175=0", "w 11=500"}, 4, 500},
      {kModelHXA1, 500, {"r 8", "r 9", "w 175=0", "w 9=500"}, 4, 500},
      {kModelHXE5, 500, {"r 8", "r 9", "w 175=0", "w 82=500"}, 4, 500},
      {kModelHXB2, 500, {"r 8", "r 9", "w 175=0", "w 9=500"}, 4, 500},
      {kModelHXC3, 500, {"w16 12646=500"}, 0, 500},
      // 500 = 7 << 6 | 52
      {kModelHYD4, 500, {Wide(158, 52), Wide(159, 7)}, 2, 500},
      {kModelHZF6, 500, {Wide(158, 52), Wide(159, 7)}, 2, 500},
      {kModelHZG7, 500, {Wide(154, 500 | 0x802000)}, 0, 500},
      // Clamped when sent to the model's own range: HYD4 1068 = 16 << 6 | 44,
      // HZF6 1493 = 23 << 6 | 21 and 2; HZG7 stores its limit back.
      {kModelHYD4, 2000, {Wide(158, 44), Wide(159, 16)}, 2, 2000},
      {kModelHZF6, 2000, {Wide(158, 21), Wide(159, 23)}, 2, 2000},
      {kModelHZF6, 1200, {Wide(158, 48), Wide(159, 18)}, 2, 1200},
      {kModelHZF6, 1, {Wide(158, 2), Wide(159, 0)}, 2, 1},
      {kModelHYD4, 1, {Wide(158, 8), Wide(159, 0)}, 2, 1},
      {kModelHZG7, 3000, {Wide(154, 2079 | 0x802000)}, 0, 2079},
      {kModelHZG7, 1, {Wide(154, 2 | 0x802000)}, 0, 2},
  };
  for (const ValueCase& c : cases) {
    ExpectHook(
        {c.model, c.traffic, c.pauses}, "exposure",
        [&](SensorDevice& s, VirtualHead&) { s.SetExposureTime(c.value); },
        [&](SensorDevice& s) {
          const int32_t result = s.ApplyExposure();
          EXPECT_EQ(s.GetExposureTime(), c.stored) << ModelName(c.model) << " " << c.value;
          return result;
        });
  }
}

TEST(SensorModelsTest, MirrorHooksWriteTheBitAndFollowThePhase) {
  struct Case {
    ModelCode model;
    bool horizontal;
    uint32_t before;  // register content before the hook
    Lines traffic;
    int phaseAfter;  // engine phase, from 0
  };
  // R2T: bit 0x20 (H) / 0x10 (V) of reg 13's low byte; HXA1/HXB2: bit 0x40 (H)
  // / 0x80 (V) of reg 32's high byte.
  const Case cases[] = {
      {kModelR2T, true, 0x1203, {"r 13", "w 13=" + std::to_string(0x1223), "r 13"}, 2},
      {kModelR2T, false, 0x1203, {"r 13", "w 13=" + std::to_string(0x1213), "r 13"}, 1},
      {kModelHXA1, true, 0x0105, {"r 32", "w 32=" + std::to_string(0x4105), "r 32"}, 2},
      {kModelHXA1, false, 0x0105, {"r 32", "w 32=" + std::to_string(0x8105), "r 32"}, 1},
      {kModelHXB2, true, 0x0105, {"r 32", "w 32=" + std::to_string(0x4105), "r 32"}, 2},
      {kModelHXB2, false, 0x0105, {"r 32", "w 32=" + std::to_string(0x8105), "r 32"}, 1},
      {kModelHWH8, true, 0, {}, 0},
      {kModelHXE5, false, 0, {}, 0},
      {kModelHXC3, true, 0, {}, 0},
      {kModelHYD4, true, 0, {}, 0},
      {kModelHZF6, false, 0, {}, 0},
      {kModelHZG7, true, 0, {}, 0},
  };
  for (const Case& c : cases) {
    const char* name = ModelName(c.model);
    SensorOnHead rig(c.model);
    ASSERT_TRUE(rig.Attach()) << name;
    const int reg = c.model == kModelR2T ? 13 : 32;
    rig.head->PokeRegister(reg, c.before);
    rig.head->ClearLogs();
    rig.engine.phase = 0;
    auto apply = [&] {
      return c.horizontal ? rig.sensor->ApplyMirrorH() : rig.sensor->ApplyMirrorV();
    };
    if (c.horizontal)
      rig.sensor->SetMirrorH(1);
    else
      rig.sensor->SetMirrorV(1);
    EXPECT_EQ(apply(), 0) << name;
    EXPECT_EQ(Traffic(*rig.head), c.traffic) << name;
    EXPECT_EQ(rig.clock.CountSleeps(8), c.traffic.size()) << name;
    EXPECT_EQ(rig.engine.phase, c.phaseAfter) << name;
    EXPECT_EQ(rig.sensor->GetBayerPhase(), c.phaseAfter) << name << " device phase follows";
    // The same setting again changes nothing on the camera: the phase stays.
    apply();
    EXPECT_EQ(rig.engine.phase, c.phaseAfter) << name << " second apply";
    // Turning it off restores both the register and the phase.
    if (c.horizontal)
      rig.sensor->SetMirrorH(0);
    else
      rig.sensor->SetMirrorV(0);
    apply();
    EXPECT_EQ(rig.engine.phase, 0) << name << " mirror off";
    if (!c.traffic.empty()) {
      EXPECT_EQ(rig.head->PeekRegister(reg), c.before) << name;
    }
  }
}

TEST(SensorModelsTest, ReadModifyWriteHooksNeverWriteAfterAFailedRead) {
  struct Case {
    ModelCode model;
    uint32_t refused;
    std::function<int32_t(SensorDevice&)> hook;
  };
  const Case cases[] = {
      {kModelR2T, 13, [](SensorDevice& s) { return s.ApplyMirrorH(); }},
      {kModelR2T, 13, [](SensorDevice& s) { return s.ApplySubsample(); }},
      {kModelHXA1, 32, [](SensorDevice& s) { return s.ApplyMirrorV(); }},
      {kModelHXB2, 34, [](SensorDevice& s) { return s.ApplySubsample(); }},
      {kModelHXA1, 30, [](SensorDevice& s) { return s.ApplyTriggerOption(); }},
      {kModelHXA1, 30, [](SensorDevice& s) { return s.PrepareStart(); }},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(c.model);
    ASSERT_TRUE(rig.Attach());
    rig.sensor->SetMirrorH(1);
    rig.sensor->SetMirrorV(1);
    rig.sensor->SetVerticalSubsample(1);
    HeadFaults faults;
    faults.refusedRegisters = {c.refused};
    rig.head->SetFaults(faults);
    rig.head->ClearLogs();
    EXPECT_EQ(c.hook(*rig.sensor), kHookFailed) << ModelName(c.model) << " reg " << c.refused;
    for (const RegisterExchange& e : rig.head->RegisterLog()) {
      EXPECT_FALSE(e.write) << ModelName(c.model) << " wrote reg " << e.address;
    }
  }
}

TEST(SensorModelsTest, WindowHooks) {
  // The window (10, 11, 100, 50) gives register window (10, 10, 99, 49).
  const HookCase cases[] = {
      {kModelR2T, {"w 2=10", "w 1=10", "w 3=49", "w 4=99", "w 5=747", "w 6=45"}, 6},
      {kModelHXA1, {"w 1=30", "w 2=42", "w 3=49", "w 4=99", "w 5=21", "w 6=3"}, 6},
      {kModelHXB2, {"w 1=64", "w 2=26", "w 3=49", "w 4=99", "w 5=42", "w 6=48"}, 6},
      {kModelHXC3, {}, 0},
      {kModelHWH8, {}, 0},
      {kModelHXE5, {}, 0},
      {kModelHYD4, {}, 0},
      {kModelHZF6, {}, 0},
      {kModelHZG7, {}, 0},
  };
  for (const HookCase& c : cases) {
    ExpectHook(
        c, "window", [](SensorDevice& s, VirtualHead&) { s.SetCaptureWindow(10, 11, 100, 50); },
        [](SensorDevice& s) { return s.ApplyWindow(); });
  }
  // A wide R2T window uses the short blanking.
  ExpectHook(
      {kModelR2T, {"w 2=0", "w 1=0", "w 3=479", "w 4=751", "w 5=94", "w 6=45"}, 6}, "wide window",
      [](SensorDevice& s, VirtualHead&) { s.SetCaptureWindow(0, 0, 752, 480); },
      [](SensorDevice& s) { return s.ApplyWindow(); });
}

TEST(SensorModelsTest, R2tWindowStopsAtTheFirstRefusedPlacementWrite) {
  SensorOnHead rig(kModelR2T);
  ASSERT_TRUE(rig.Attach());
  rig.sensor->SetCaptureWindow(10, 11, 100, 50);
  HeadFaults faults;
  faults.refusedRegisters = {3};
  rig.head->SetFaults(faults);
  rig.head->ClearLogs();
  EXPECT_EQ(rig.sensor->ApplyWindow(), 0);
  EXPECT_EQ(Traffic(*rig.head), (Lines{"w 2=10", "w 1=10", "w 3=49!"}));
}

TEST(SensorModelsTest, SubsampleHooks) {
  struct Case {
    ModelCode model;
    int vertical, horizontal;
    Lines traffic;
  };
  // R2T: reg 13 = 0x12A3 -> low (0xA0 | 1 | 2 << 2) = 0x12A9.
  // HXA1/HXB2: reg 34 = 0x01FF, reg 35 = 0x02C5; vertical 2 replaces the low
  // byte (0x0102), horizontal 0 keeps bits 6-7 (0x02C0).
  const Case cases[] = {
      {kModelR2T, 1, 2, {"r 13", "w 13=" + std::to_string(0x12A9), "r 13"}},
      {kModelHXA1, 2, 0, {"r 34", "r 35", "w 34=258", "w 35=704"}},
      {kModelHXB2, 2, 0, {"r 34", "r 35", "w 34=258", "w 35=704"}},
      {kModelHXB2, 0, 3, {"r 34", "r 35", "w 34=448", "w 35=515"}},
      {kModelHXC3, 1, 1, {}},
      {kModelHYD4, 1, 1, {}},
  };
  for (const Case& c : cases) {
    const HookCase hook{c.model, c.traffic, static_cast<int>(c.traffic.size())};
    ExpectHook(
        hook, "subsample",
        [&](SensorDevice& s, VirtualHead& head) {
          head.PokeRegister(13, 0x12A3);
          head.PokeRegister(34, 0x01FF);
          head.PokeRegister(35, 0x02C5);
          s.SetVerticalSubsample(c.vertical);
          s.SetHorizontalSubsample(c.horizontal);
        },
        [](SensorDevice& s) { return s.ApplySubsample(); });
  }
}

TEST(SensorModelsTest, TriggerHooks) {
  struct Case {
    ModelCode model;
    bool prepare;  // PrepareStart, else ApplyTriggerOption
    uint8_t setting;
    Lines traffic;
    int pauses;
  };
  const Case cases[] = {
      // T1: bit 0 of reg 30's high byte follows the trigger mode (reg 30 = 0x0210).
      {kModelHXA1, true, 1, {"r 30", "w 30=" + std::to_string(0x0310)}, 2},
      {kModelHXA1, true, 0, {"r 30", "w 30=" + std::to_string(0x0210)}, 2},
      // T3: bit 1 of the high byte follows the trigger option, then a read back.
      {kModelHXA1, false, 1, {"r 30", "w 30=" + std::to_string(0x0210), "r 30"}, 3},
      {kModelHXA1, false, 0, {"r 30", "w 30=" + std::to_string(0x0010), "r 30"}, 3},
      // T2 from a zero shadow: reg 32 | 0x10, reg 33 low nibble 1 (free run);
      // reg 32 without 0x10, low nibble 0xE (triggered). Shadow reads pause too.
      {kModelHZG7, true, 0, {Wide(1, 6), Wide(129, 0), Wide(32, 0x10), Wide(33, 0x1)}, 6},
      {kModelHZG7, true, 1, {Wide(1, 4), Wide(129, 13), Wide(32, 0), Wide(33, 0xE)}, 6},
      {kModelHXB2, true, 1, {}, 0},
      {kModelR2T, false, 1, {}, 0},
  };
  for (const Case& c : cases) {
    const HookCase hook{c.model, c.traffic, c.pauses};
    ExpectHook(
        hook, c.prepare ? "prepare start" : "trigger option",
        [&](SensorDevice& s, VirtualHead& head) {
          head.PokeRegister(30, c.setting && !c.prepare ? 0x0010 : 0x0210);
          if (c.prepare)
            s.SetTriggerMode(c.setting);
          else
            s.SetTriggerOption(c.setting);
        },
        [&](SensorDevice& s) { return c.prepare ? s.PrepareStart() : s.ApplyTriggerOption(); });
  }
}

TEST(SensorModelsTest, Hzg7KeepsAShadowOfItsWideRegisters) {
  SensorOnHead rig(kModelHZG7);
  SensorDevice& sensor = *rig.sensor;
  int value = -1;
  EXPECT_TRUE(sensor.ReadRegisterWide(500, &value));
  EXPECT_EQ(value, 0) << "never written";
  EXPECT_FALSE(sensor.ReadRegisterWide(1023, &value));
  EXPECT_FALSE(sensor.ReadRegisterWide(-1, &value));

  // Written values keep all 24 bits in the shadow and on the camera.
  EXPECT_TRUE(sensor.RequestWriteRegisterWide(32, 0xC0FF1F));
  EXPECT_TRUE(sensor.ReadRegisterWide(32, &value));
  EXPECT_EQ(value, 0xC0FF1F);
  EXPECT_EQ(rig.head->PeekRegister(32), 0xC0FF1Fu);

  // A camera that does not answer has not taken the value: the shadow keeps the old one.
  HeadFaults faults;
  faults.refusedRegisters = {32};
  rig.head->SetFaults(faults);
  EXPECT_FALSE(sensor.RequestWriteRegisterWide(32, 0x123456));
  EXPECT_TRUE(sensor.ReadRegisterWide(32, &value));
  EXPECT_EQ(value, 0xC0FF1F);

  // A camera that stayed busy may still take the value: the shadow follows it,
  // although the write reports failure.
  faults = HeadFaults{};
  faults.statusStuckBusy = true;
  rig.head->SetFaults(faults);
  EXPECT_FALSE(sensor.RequestWriteRegisterWide(40, 0x00ABCD));
  EXPECT_TRUE(sensor.ReadRegisterWide(40, &value));
  EXPECT_EQ(value, 0x00ABCD);

  // The trigger set-up starts from the shadow: 0xC0FF1F loses 0x10, 0xF3 gets 0xE.
  rig.head->SetFaults(HeadFaults{});
  EXPECT_TRUE(sensor.RequestWriteRegisterWide(33, 0xF3));
  ASSERT_TRUE(rig.Attach());
  sensor.SetTriggerMode(1);
  EXPECT_EQ(sensor.PrepareStart(), 0);
  EXPECT_EQ(Traffic(*rig.head),
            (Lines{Wide(1, 4), Wide(129, 13), Wide(32, 0xC0FF0F), Wide(33, 0xFE)}));

  // Its transfer is always one byte per sample.
  EXPECT_TRUE(sensor.SetEightBitTransfer(0));
  EXPECT_EQ(sensor.GetEightBitTransfer(), 1);
  EXPECT_FALSE(sensor.SetEightBitTransfer(7));
}

TEST(SensorModelsTest, StreamStartGeometryPerModel) {
  struct Case {
    ModelCode model;
    WindowRect window;
    int engineWidth, engineHeight;
    int width, height, originX, originY;
  };
  const Case cases[] = {
      {kModelHWH8, {300, 513, 640, 480}, 640, 480, 640, 480, 300, 512},
      {kModelHZG7, {0, 0, 0, 0}, 2456, 2041, 1228, 2048, 0, 0},
      {kModelHXA1, {10, 12, 100, 50}, 100, 50, 104, 56, 0, 0},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(c.model);
    rig.sensor->SetCaptureWindow(c.window.x, c.window.y, c.window.width, c.window.height);
    rig.engine.width = c.engineWidth;
    rig.engine.height = c.engineHeight;
    ASSERT_TRUE(rig.sensor->AttachEngine(&rig.engine));
    const std::vector<RunExchange> runs = rig.head->RunLog();
    ASSERT_FALSE(runs.empty());
    const uint8_t* s = runs.back().sector;
    const char* name = ModelName(c.model);
    EXPECT_TRUE(runs.back().run) << name;
    EXPECT_EQ(s[64] | s[66] << 8, c.width) << name;
    EXPECT_EQ(s[68] | s[70] << 8, c.height) << name;
    EXPECT_EQ(s[72] | s[74] << 8, c.originX) << name;
    EXPECT_EQ(s[76] | s[78] << 8, c.originY) << name;
    for (int odd = 65; odd <= 79; odd += 2) EXPECT_EQ(s[odd], 0) << name << " byte " << odd;
  }
}

// The same settings on every model, as the head decodes them after a start:
// window (10, 11, 100, 50), subsample 1 both ways, mirror H on. Models without
// the matching registers read what the stream command asks for.
TEST(SensorModelsTest, HeadReadsOutWhatTheSensorSet) {
  struct Case {
    ModelCode model;
    uint32_t x, y, width, height, step;
    bool mirrorH;
  };
  const Case cases[] = {
      {kModelHWH8, 10, 10, 104, 56, 1, false},  // origin in the stream command, even
      {kModelR2T, 10, 10, 100, 50, 2, true},   {kModelHXA1, 10, 10, 100, 50, 2, true},
      {kModelHXB2, 10, 10, 100, 50, 2, true},  {kModelHXC3, 0, 0, 56, 32, 1, false},
      {kModelHXE5, 0, 0, 640, 512, 1, false},  {kModelHYD4, 0, 0, 1360, 1024, 1, false},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(c.model);
    SensorDevice& sensor = *rig.sensor;
    sensor.SetCaptureWindow(10, 11, 100, 50);
    sensor.SetVerticalSubsample(1);
    sensor.SetHorizontalSubsample(1);
    sensor.SetMirrorH(1);
    sensor.GetCaptureWindow(nullptr, nullptr, &rig.engine.width, &rig.engine.height);
    ASSERT_TRUE(sensor.AttachEngine(&rig.engine));
    const HeadStream stream = rig.head->Stream();
    const char* name = ModelName(c.model);
    EXPECT_TRUE(stream.running) << name;
    EXPECT_EQ((std::vector<uint32_t>{stream.windowX, stream.windowY, stream.windowWidth,
                                     stream.windowHeight}),
              (std::vector<uint32_t>{c.x, c.y, c.width, c.height}))
        << name;
    EXPECT_EQ(stream.subsampleX, c.step) << name;
    EXPECT_EQ(stream.subsampleY, c.step) << name;
    EXPECT_EQ(stream.mirrorH, c.mirrorH) << name;
  }
}

TEST(SensorModelsTest, Hxc3SendsSixteenBitAddresses) {
  SensorOnHead rig(kModelHXC3);
  rig.head->PokeRegister(0x3010, 0x4321);
  uint8_t high = 0;
  uint8_t low = 0;
  EXPECT_TRUE(rig.sensor->RequestReadRegister(0x3010, &high, &low));
  EXPECT_EQ(high, 0x43);
  EXPECT_EQ(low, 0x21);
  EXPECT_TRUE(rig.sensor->RequestWriteRegister(0x3166, 0x01, 0x02));
  EXPECT_EQ(Traffic(*rig.head), (Lines{"r16 12304", "w16 12646=258"}));
  EXPECT_EQ(rig.head->PeekRegister(0x3166), 0x0102u);
}

// Every start sends every setting once, in the fixed order; a model's whole
// start sequence as the camera sees it.
TEST(SensorModelsTest, AttachSequenceOfHxa1) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  sensor.SetCaptureWindow(0, 0, 2048, 1536);
  sensor.SetGlobalGain(12);
  sensor.SetExposureTime(300);
  rig.head->PokeRegister(30, 0);
  rig.head->PokeRegister(32, 0);
  rig.head->PokeRegister(34, 0);
  rig.head->PokeRegister(35, 0);
  rig.head->ClearLogs();
  ASSERT_TRUE(sensor.AttachEngine(&rig.engine));
  EXPECT_EQ(Traffic(*rig.head),
            (Lines{// window
                   "w 1=20", "w 2=32", "w 3=1535", "w 4=2047", "w 5=21", "w 6=3",
                   // subsample
                   "r 34", "r 35", "w 34=0", "w 35=0",
                   // gain, exposure
                   "w 175=0", "w 53=12", "r 8", "r 9", "w 175=0", "w 9=300",
                   // mirror V, mirror H
                   "r 32", "w 32=0", "r 32", "r 32", "w 32=0", "r 32",
                   // trigger option, then the trigger mode before running
                   "r 30", "w 30=0", "r 30", "r 30", "w 30=0"}));
  EXPECT_EQ(sensor.GetPendingChanges(), 0u);
}

}  // namespace
}  // namespace varnel::testing
