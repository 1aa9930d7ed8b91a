// The shared sensor behaviour: defaults, setter validation, what reaches the
// engine, pending changes and their apply order, register requests made now
// or deferred while streaming, and the attach sequence with its frame sizes.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <string>
#include <vector>

#include "device/hxa1_sensor.h"
#include "device_test_support.h"

namespace varnel::testing {
namespace {

// A sensor whose hooks record the order they run in; each returns the result
// the test gives it.
class HookProbe : public SensorDevice {
 public:
  void GetMaxSize(int* width, int* height) override { *width = *height = 64; }
  int32_t ApplyGain() override { return Record("gain"); }
  int32_t ApplyExposure() override { return Record("exposure"); }
  int32_t ApplyMirrorH() override { return Record("mirrorH"); }
  int32_t ApplyMirrorV() override { return Record("mirrorV"); }
  int32_t ApplyWindow() override { return Record("window"); }
  int32_t ApplySubsample() override { return Record("subsample"); }
  int32_t ApplyTriggerOption() override { return Record("triggerOption"); }
  int32_t ApplyReserved() override { return Record("reserved"); }
  int32_t ApplyDeferredRead() override {
    Record("deferredRead");
    return SensorDevice::ApplyDeferredRead();
  }
  int32_t ApplyDeferredWrite() override {
    Record("deferredWrite");
    return SensorDevice::ApplyDeferredWrite();
  }
  int32_t PrepareStart() override { return Record("prepareStart"); }

  std::vector<std::string> calls;
  std::map<std::string, int32_t> results;
  std::function<void(const std::string&)> duringHook;

 private:
  int32_t Record(const std::string& name) {
    calls.push_back(name);
    if (duringHook) duringHook(name);
    auto it = results.find(name);
    return it == results.end() ? 0 : it->second;
  }
};

// Refused values leave the setting as it was; clamping setters store the limit.
TEST(SensorDeviceTest, SettersRefuseOrClampOutOfRangeValues) {
  struct Case {
    const char* what;
    std::function<bool(SensorDevice&)> set;
    bool accepted;
    std::function<int(SensorDevice&)> get;
    int stored;
  };
  const Case cases[] = {
      {"bit count 16", [](SensorDevice& s) { return s.SetOutputBitCount(16); }, false,
       [](SensorDevice& s) { return s.GetOutputBitCount(); }, 32},
      {"bit count 24", [](SensorDevice& s) { return s.SetOutputBitCount(24); }, true,
       [](SensorDevice& s) { return s.GetOutputBitCount(); }, 24},
      {"phase 4", [](SensorDevice& s) { return s.SetBayerPhase(4); }, false,
       [](SensorDevice& s) { return s.GetBayerPhase(); }, 0},
      {"phase -1", [](SensorDevice& s) { return s.SetBayerPhase(-1); }, false,
       [](SensorDevice& s) { return s.GetBayerPhase(); }, 0},
      {"phase 3", [](SensorDevice& s) { return s.SetBayerPhase(3); }, true,
       [](SensorDevice& s) { return s.GetBayerPhase(); }, 3},
      {"eight-bit 2", [](SensorDevice& s) { return s.SetEightBitTransfer(2); }, false,
       [](SensorDevice& s) { return s.GetEightBitTransfer(); }, 1},
      {"eight-bit 0", [](SensorDevice& s) { return s.SetEightBitTransfer(0); }, true,
       [](SensorDevice& s) { return s.GetEightBitTransfer(); }, 0},
      {"depth 5", [](SensorDevice& s) { return s.SetBitDepthCode(5); }, false,
       [](SensorDevice& s) { return s.GetBitDepthCode(); }, 0},
      {"depth 4", [](SensorDevice& s) { return s.SetBitDepthCode(4); }, true,
       [](SensorDevice& s) { return s.GetBitDepthCode(); }, 4},
      {"gain1 0", [](SensorDevice& s) { return s.SetChannelGain1(0); }, false,
       [](SensorDevice& s) { return s.GetChannelGain1(); }, 128},
      {"gain2 401", [](SensorDevice& s) { return s.SetChannelGain2(401); }, false,
       [](SensorDevice& s) { return s.GetChannelGain2(); }, 128},
      {"gain3 400", [](SensorDevice& s) { return s.SetChannelGain3(400); }, true,
       [](SensorDevice& s) { return s.GetChannelGain3(); }, 400},
      {"hue 400", [](SensorDevice& s) { return s.SetHue(400); }, true,
       [](SensorDevice& s) { return s.GetHue(); }, 359},
      {"hue -5", [](SensorDevice& s) { return s.SetHue(-5); }, true,
       [](SensorDevice& s) { return s.GetHue(); }, 0},
      {"adjustment1 11", [](SensorDevice& s) { return s.SetAdjustment1(11); }, true,
       [](SensorDevice& s) { return s.GetAdjustment1(); }, 10},
      {"adjustment2 -300", [](SensorDevice& s) { return s.SetAdjustment2(-300); }, true,
       [](SensorDevice& s) { return s.GetAdjustment2(); }, -255},
      {"adjustment3 -11", [](SensorDevice& s) { return s.SetAdjustment3(-11); }, true,
       [](SensorDevice& s) { return s.GetAdjustment3(); }, -10},
      {"vertical subsample -1", [](SensorDevice& s) { return s.SetVerticalSubsample(-1); }, false,
       [](SensorDevice& s) { return s.GetVerticalSubsample(); }, 0},
      {"horizontal subsample 4", [](SensorDevice& s) { return s.SetHorizontalSubsample(4); }, false,
       [](SensorDevice& s) { return s.GetHorizontalSubsample(); }, 0},
      {"drive letter '1'", [](SensorDevice& s) { return s.SetDriveLetter(u'1'); }, false,
       [](SensorDevice& s) { return static_cast<int>(s.GetDriveLetter()); }, 'D'},
      {"drive letter 'e'", [](SensorDevice& s) { return s.SetDriveLetter(u'e'); }, true,
       [](SensorDevice& s) { return static_cast<int>(s.GetDriveLetter()); }, 'e'},
      {"timeout -1", [](SensorDevice& s) { return s.SetFrameTimeout(-1) == -1; }, true,
       [](SensorDevice& s) { return s.GetFrameTimeout(); }, -1},
      {"reserved", [](SensorDevice& s) { return s.ReservedSetterA(1); }, false,
       [](SensorDevice&) { return 0; }, 0},
  };
  for (const Case& c : cases) {
    HookProbe sensor;
    EXPECT_EQ(c.set(sensor), c.accepted) << c.what;
    EXPECT_EQ(c.get(sensor), c.stored) << c.what;
    EXPECT_EQ(sensor.GetPendingChanges(), 0u) << c.what << " raised a pending bit";
  }
}

TEST(SensorDeviceTest, ImageSettingsReachTheAttachedEngineOnly) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  FakeEngine& engine = rig.engine;

  // Not attached: stored, the engine sees nothing.
  sensor.SetBayerPhase(2);
  sensor.SetHue(30);
  EXPECT_EQ(engine.phase, 0);
  EXPECT_EQ(engine.hue, -1);

  ASSERT_TRUE(rig.Attach());
  sensor.SetBayerPhase(3);
  sensor.SetColorFlag(1);
  sensor.SetEngineValue(2);
  sensor.SetPair(1, 77);
  sensor.SetChannelGain1(10);
  sensor.SetChannelGain2(20);
  sensor.SetChannelGain3(30);
  sensor.SetAdjustment1(-20);
  sensor.SetAdjustment2(100);
  sensor.SetAdjustment3(5);
  sensor.SetHue(1000);
  EXPECT_EQ(engine.phase, 3);
  EXPECT_TRUE(engine.color);
  EXPECT_EQ(engine.whiteBalance, 2);
  EXPECT_TRUE(engine.defect);
  EXPECT_EQ(engine.threshold, 77);
  EXPECT_EQ(engine.gains[0], 10);
  EXPECT_EQ(engine.gains[1], 20);
  EXPECT_EQ(engine.gains[2], 30);
  EXPECT_EQ(engine.contrast, -10);
  EXPECT_EQ(engine.brightness, 100);
  EXPECT_EQ(engine.saturation, 5);
  EXPECT_EQ(engine.hue, 359);

  // The engine's white balance changed a gain: the getter reports it.
  engine.gains[2] = 222;
  EXPECT_EQ(sensor.GetChannelGain3(), 222);
  // Image settings cause no camera traffic.
  EXPECT_TRUE(Traffic(*rig.head).empty());

  sensor.CloseDevice();
  sensor.SetHue(45);
  EXPECT_EQ(engine.hue, 359) << "a closed device still reaches the engine";
  EXPECT_EQ(sensor.GetChannelGain3(), 222);
}

TEST(SensorDeviceTest, SensorSettersRaiseTheirPendingBits) {
  struct Case {
    const char* what;
    std::function<void(SensorDevice&)> set;
    uint32_t bit;
  };
  const Case cases[] = {
      {"gain", [](SensorDevice& s) { s.SetGlobalGain(7); }, kPendingGain},
      {"exposure", [](SensorDevice& s) { s.SetExposureTime(7); }, kPendingExposure},
      {"mirror V", [](SensorDevice& s) { s.SetMirrorV(1); }, kPendingMirrorV},
      {"mirror H", [](SensorDevice& s) { s.SetMirrorH(1); }, kPendingMirrorH},
      {"vertical subsample", [](SensorDevice& s) { s.SetVerticalSubsample(1); }, kPendingSubsample},
      {"horizontal subsample", [](SensorDevice& s) { s.SetHorizontalSubsample(1); },
       kPendingSubsample},
      {"trigger option", [](SensorDevice& s) { s.SetTriggerOption(1); }, kPendingTriggerOption},
      {"trigger mode", [](SensorDevice& s) { s.SetTriggerMode(1); }, 0},
      {"sync V", [](SensorDevice& s) { s.SetSyncV(0); }, 0},
      {"window", [](SensorDevice& s) { s.SetCaptureWindow(0, 0, 10, 10); }, 0},
  };
  for (const Case& c : cases) {
    HookProbe sensor;
    c.set(sensor);
    EXPECT_EQ(sensor.GetPendingChanges(), c.bit) << c.what;
  }
}

TEST(SensorDeviceTest, AttachSendsEverySettingInTheFixedOrder) {
  SensorOnHead rig(kModelHXA1);  // only for its head on drive Q:
  HookProbe sensor;
  FakeOwner owner;
  sensor.SetDriveLetter(SensorOnHead::kLetter);
  sensor.SetOwner(&owner);
  ASSERT_TRUE(sensor.AttachEngine(&rig.engine));
  EXPECT_EQ(sensor.calls,
            (std::vector<std::string>{"window", "subsample", "gain", "exposure", "mirrorV",
                                      "mirrorH", "triggerOption", "reserved", "prepareStart"}));
  EXPECT_EQ(sensor.GetPendingChanges(), 0u);
  EXPECT_TRUE(sensor.IsVolumeOpen());

  // Stop with the geometry first, run last.
  const std::vector<RunExchange> runs = rig.head->RunLog();
  ASSERT_GE(runs.size(), 2u);
  EXPECT_FALSE(runs.front().run);
  EXPECT_EQ(runs.front().sector[46], 2);
  EXPECT_TRUE(runs.back().run);
  EXPECT_EQ(runs.back().sector[46], 1);
  // Two stream commands and one pause after each of the eight hooks.
  EXPECT_EQ(rig.clock.CountSleeps(8), 2u + 8u);

  sensor.CloseDevice();
  EXPECT_FALSE(sensor.IsVolumeOpen());
  EXPECT_EQ(sensor.GetEngine(), nullptr);
}

TEST(SensorDeviceTest, DeferredRequestsApplyAfterTheSettingsAndFailedHooksSkipTheirPause) {
  SensorOnHead rig(kModelHXA1);
  HookProbe sensor;
  FakeOwner owner;
  sensor.SetDriveLetter(SensorOnHead::kLetter);
  sensor.SetOwner(&owner);
  ASSERT_TRUE(sensor.AttachEngine(&rig.engine));
  sensor.calls.clear();

  owner.running = true;
  sensor.SetGlobalGain(5);
  sensor.SetMirrorH(1);
  EXPECT_TRUE(sensor.RequestReadRegister(40, nullptr, nullptr));
  EXPECT_TRUE(sensor.RequestWriteRegister(41, 1, 2));
  sensor.results["gain"] = kHookFailed;
  rig.clock.ClearSleeps();
  rig.head->ClearLogs();

  ASSERT_TRUE(sensor.ApplyPendingChanges());
  EXPECT_EQ(sensor.calls,
            (std::vector<std::string>{"gain", "mirrorH", "deferredRead", "deferredWrite"}));
  // Stop and restart around the changes (8 ms each), and one pause after every
  // hook but the failed one.
  EXPECT_EQ(rig.clock.CountSleeps(8), 2u + 3u);
  const std::vector<RunExchange> runs = rig.head->RunLog();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_FALSE(runs[0].run);
  EXPECT_TRUE(runs[1].run);
  EXPECT_EQ(sensor.GetPendingChanges(), 0u) << "a failed change is not retried";
  EXPECT_EQ(sensor.GetGlobalGain(), 5);
}

TEST(SensorDeviceTest, NothingPendingSendsNothing) {
  SensorOnHead rig(kModelHXA1);
  ASSERT_TRUE(rig.Attach());
  rig.owner.running = true;
  EXPECT_FALSE(rig.sensor->ApplyPendingChanges());
  EXPECT_TRUE(rig.head->RunLog().empty());
  EXPECT_TRUE(Traffic(*rig.head).empty());
  EXPECT_EQ(rig.clock.Sleeps().size(), 0u);

  // Without an owner nothing is applied either, and the bits stay raised.
  rig.sensor->SetOwner(nullptr);
  rig.sensor->SetGlobalGain(3);
  EXPECT_FALSE(rig.sensor->ApplyPendingChanges());
  EXPECT_EQ(rig.sensor->GetPendingChanges(), kPendingGain);
}

// A setter that runs while the hooks are being applied keeps its bit, also
// when it changes the setting whose hook is running.
TEST(SensorDeviceTest, BitRaisedDuringApplyIsKept) {
  struct Case {
    const char* during;
    std::function<void(SensorDevice&)> set;
    uint32_t left;
  };
  const Case cases[] = {
      {"gain", [](SensorDevice& s) { s.SetMirrorV(1); }, kPendingMirrorV},
      {"gain", [](SensorDevice& s) { s.SetGlobalGain(10); }, kPendingGain},
      {"exposure", [](SensorDevice& s) { s.SetGlobalGain(11); }, kPendingGain},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(kModelHXA1);
    HookProbe sensor;
    FakeOwner owner;
    sensor.SetDriveLetter(SensorOnHead::kLetter);
    sensor.SetOwner(&owner);
    ASSERT_TRUE(sensor.AttachEngine(&rig.engine));
    sensor.SetGlobalGain(9);
    sensor.SetExposureTime(9);
    sensor.duringHook = [&](const std::string& name) {
      if (name == c.during) c.set(sensor);
    };
    ASSERT_TRUE(sensor.ApplyPendingChanges());
    EXPECT_EQ(sensor.GetPendingChanges(), c.left) << "during " << c.during;
  }
}

// A listener that answers a register event with a new request: the new
// request is performed on the next pass, not lost with the old bit.
TEST(SensorDeviceTest, RequestMadeFromTheListenerIsPerformedNextPass) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  ASSERT_TRUE(rig.Attach());
  rig.owner.running = true;
  int next = 50;
  rig.owner.onReport = [&](int) {
    if (next < 53) sensor.RequestWriteRegister(next++, 0, 7);
  };
  ASSERT_TRUE(sensor.RequestWriteRegister(49, 0, 7));
  while (sensor.ApplyPendingChanges()) {
  }
  EXPECT_EQ(Traffic(*rig.head), (std::vector<std::string>{"w 49=7", "w 50=7", "w 51=7", "w 52=7"}));
  EXPECT_EQ(rig.owner.events, (std::vector<int>{3, 3, 3, 3}));
}

TEST(SensorDeviceTest, RequestWhileStoppedOpensStopsTransfersAndCloses) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  rig.head->PokeRegister(21, 0xABCD);
  rig.head->ClearLogs();

  EXPECT_TRUE(sensor.RequestWriteRegister(20, 0x12, 0x34));
  EXPECT_FALSE(sensor.IsVolumeOpen());
  uint8_t high = 0;
  uint8_t low = 0;
  EXPECT_TRUE(sensor.RequestReadRegister(21, &high, &low));
  EXPECT_EQ(high, 0xAB);
  EXPECT_EQ(low, 0xCD);
  EXPECT_FALSE(sensor.IsVolumeOpen());

  EXPECT_EQ(Traffic(*rig.head), (std::vector<std::string>{"w 20=4660", "r 21"}));
  const std::vector<RunExchange> runs = rig.head->RunLog();
  ASSERT_EQ(runs.size(), 2u) << "one stop command before each transfer";
  EXPECT_FALSE(runs[0].run);
  EXPECT_EQ(rig.clock.CountSleeps(8), 2u);
  EXPECT_EQ(rig.head->PeekRegister(20), 0x1234u);
  EXPECT_TRUE(rig.owner.events.empty());
}

// What the camera's status says decides the request's result; a read that
// was not confirmed leaves the caller's bytes alone.
TEST(SensorDeviceTest, RequestResultFollowsTheHandshake) {
  struct Case {
    const char* what;
    HeadFaults faults;
    bool confirmed;
  };
  HeadFaults stuck;
  stuck.statusStuckBusy = true;
  HeadFaults zero;
  zero.statusZero = true;
  HeadFaults slow;
  slow.busyPolls = 5;
  HeadFaults otherSide;
  otherSide.otherDirectionOnly = true;
  const Case cases[] = {
      {"answers", HeadFaults{}, true},
      {"busy for five polls", slow, true},
      {"stuck busy", stuck, false},
      {"status 0", zero, false},
      {"other direction only", otherSide, false},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(kModelHXA1);
    rig.head->PokeRegister(21, 0x1234);
    rig.head->SetFaults(c.faults);
    uint8_t high = 0xEE;
    uint8_t low = 0xEE;
    EXPECT_EQ(rig.sensor->RequestWriteRegister(20, 0, 1), c.confirmed) << c.what;
    EXPECT_EQ(rig.sensor->RequestReadRegister(21, &high, &low), c.confirmed) << c.what;
    EXPECT_EQ(high, c.confirmed ? 0x12 : 0xEE) << c.what;
    EXPECT_EQ(low, c.confirmed ? 0x34 : 0xEE) << c.what;
    EXPECT_FALSE(rig.sensor->IsVolumeOpen()) << c.what << ": the volume is closed again";
  }
}

TEST(SensorDeviceTest, RequestWhileStoppedFailsWithoutACamera) {
  SteppingClock clock;
  ScopedCurrentClock scope(&clock);
  Hxa1Sensor sensor;
  ASSERT_TRUE(sensor.SetDriveLetter(u'Y'));  // nothing attached there
  uint8_t high = 0x5A;
  EXPECT_FALSE(sensor.RequestWriteRegister(1, 2, 3));
  EXPECT_FALSE(sensor.RequestReadRegister(1, &high, nullptr));
  EXPECT_EQ(high, 0x5A) << "a failed read delivers nothing";
  FakeEngine engine;
  EXPECT_FALSE(sensor.AttachEngine(&engine)) << "an unopenable volume fails the start";
}

TEST(SensorDeviceTest, DeferredRequestsReachTheListenersWithTheirRecord) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  ASSERT_TRUE(rig.Attach());
  rig.owner.running = true;
  rig.head->PokeRegister(21, 0xBEEF);
  HeadFaults faults;
  faults.refusedRegisters = {23};
  rig.head->SetFaults(faults);
  rig.head->ClearLogs();

  struct Step {
    std::function<bool()> request;
    uint32_t pending;
    int event;
    RegisterResultRecord record;
    std::vector<std::string> traffic;
  };
  const Step steps[] = {
      {[&] { return sensor.RequestWriteRegister(20, 0x12, 0x34); },
       kPendingDeferredWrite,
       3,
       {1, 20, 0x12, 0x34},
       {"w 20=4660"}},
      {[&] { return sensor.RequestReadRegister(21, nullptr, nullptr); },
       kPendingDeferredRead,
       2,
       {1, 21, 0xBE, 0xEF},
       {"r 21"}},
      {[&] { return sensor.RequestWriteRegister(23, 1, 2); },
       kPendingDeferredWrite,
       3,
       {0, 23, 1, 2},
       {"w 23=258!"}},
      // A refused read reports failure with zero bytes, never stale ones.
      {[&] { return sensor.RequestReadRegister(23, nullptr, nullptr); },
       kPendingDeferredRead,
       2,
       {0, 23, 0, 0},
       {"r 23!"}},
  };
  for (const Step& step : steps) {
    rig.owner.events.clear();
    rig.owner.records.clear();
    rig.head->ClearLogs();
    EXPECT_TRUE(step.request());
    EXPECT_EQ(sensor.GetPendingChanges(), step.pending);
    EXPECT_TRUE(Traffic(*rig.head).empty()) << "nothing is sent while the stream runs";
    ASSERT_TRUE(sensor.ApplyPendingChanges());
    EXPECT_EQ(Traffic(*rig.head), step.traffic);
    ASSERT_EQ(rig.owner.events.size(), 1u);
    EXPECT_EQ(rig.owner.events[0], step.event);
    const RegisterResultRecord& got = rig.owner.records[0];
    EXPECT_EQ(got.result, step.record.result) << step.traffic[0];
    EXPECT_EQ(got.address, step.record.address);
    EXPECT_EQ(got.high, step.record.high);
    EXPECT_EQ(got.low, step.record.low);
  }
}

// Fault caught: deferred requests sharing one address and one pair of data
// bytes, so that a read made after a write (or a second write) sends the
// first write's data to another register, or drops it although it was
// accepted.
TEST(SensorDeviceTest, DeferredRequestsKeepTheirOwnAddressAndData) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  ASSERT_TRUE(rig.Attach());
  rig.owner.running = true;
  rig.head->ClearLogs();
  EXPECT_TRUE(sensor.RequestWriteRegister(20, 0, 8));
  EXPECT_TRUE(sensor.RequestReadRegister(21, nullptr, nullptr));
  EXPECT_TRUE(sensor.RequestWriteRegister(22, 0, 9));
  ASSERT_TRUE(sensor.ApplyPendingChanges());
  EXPECT_EQ(Traffic(*rig.head), (std::vector<std::string>{"r 21", "w 20=8", "w 22=9"}));
  EXPECT_EQ(rig.owner.events, (std::vector<int>{2, 3, 3}));
}

TEST(SensorDeviceTest, DeferredWideWriteIsSentWide) {
  SensorOnHead rig(kModelHYD4);
  ASSERT_TRUE(rig.Attach());
  rig.owner.running = true;
  EXPECT_TRUE(rig.sensor->RequestWriteRegisterWide(300, 0x2ABCDE));
  ASSERT_TRUE(rig.sensor->ApplyPendingChanges());
  EXPECT_EQ(Traffic(*rig.head), (std::vector<std::string>{"ww 300=" + std::to_string(0x2ABCDE)}));
  ASSERT_EQ(rig.owner.records.size(), 1u);
  EXPECT_EQ(rig.owner.records[0].high, 0xBC);
  EXPECT_EQ(rig.owner.records[0].low, 0xDE);
}

// Fault caught: frame buffers sized for two-byte samples whatever the
// transfer, or smaller than one transfer.
TEST(SensorDeviceTest, FrameSectorsAndSizesFollowTheAlignedStream) {
  struct Case {
    int width, height;
    bool eightBit;
    int sectors, pad, byteCount, bufferSize;
  };
  // 100 x 50 one byte: aligned 104 x 56 = 5824 bytes = 11 sectors + 192.
  // 100 x 50 two bytes: aligned 100 x 52, 10400 bytes = 20 sectors + 160.
  const Case cases[] = {
      {752, 480, true, 705, 0, 752 * 480, 752 * 480},
      {752, 480, false, 1410, 0, 752 * 480 * 2, 752 * 480 * 2},
      {100, 50, true, 12, 320, 5000, 320 + 104 * 56},
      {100, 50, false, 21, 352, 10000, 352 + 100 * 52 * 2},
      {1, 1, true, 1, 448, 1, 448 + 8 * 8},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(kModelHXA1);
    rig.engine.width = c.width;
    rig.engine.height = c.height;
    rig.engine.eightBitRaw = c.eightBit;
    ASSERT_TRUE(rig.Attach());
    EXPECT_EQ(rig.sensor->GetFrameSectors(), c.sectors) << c.width << "x" << c.height;
    EXPECT_EQ(rig.sensor->GetFramePad(), c.pad) << c.width << "x" << c.height;
    EXPECT_EQ(rig.sensor->FrameByteCount(), c.byteCount);
    EXPECT_EQ(rig.sensor->FrameBufferSize(), c.bufferSize);
    // A buffer holds one transfer, no more: an 8-bit stream's buffers are not
    // sized for two-byte samples.
    EXPECT_EQ(rig.sensor->FrameBufferSize(), rig.sensor->GetFrameSectors() * 512);
  }
}

TEST(SensorDeviceTest, StreamStartCarriesTheStreamSettings) {
  struct Case {
    int depthCode;
    uint8_t syncV, syncH, trigger;
    int eightBit;
    uint8_t byte96, byte98, byte80, byte48;
  };
  const Case cases[] = {
      {0, 1, 1, 0, 1, 1, 0, 0, 1}, {1, 0, 1, 0, 0, 2, 1, 0, 0}, {2, 1, 0, 1, 1, 4, 2, 1, 1},
      {3, 0, 0, 0, 1, 8, 3, 0, 1}, {4, 1, 1, 0, 0, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(kModelHXE5);
    SensorDevice& sensor = *rig.sensor;
    ASSERT_TRUE(sensor.SetBitDepthCode(c.depthCode));
    sensor.SetSyncV(c.syncV);
    sensor.SetSyncH(c.syncH);
    sensor.SetTriggerMode(c.trigger);
    sensor.SetEightBitTransfer(c.eightBit);
    rig.engine.width = 1280;
    rig.engine.height = 1024;
    ASSERT_TRUE(sensor.AttachEngine(&rig.engine));
    const std::vector<RunExchange> runs = rig.head->RunLog();
    ASSERT_FALSE(runs.empty());
    const uint8_t* sector = runs.back().sector;
    EXPECT_EQ(sector[96], c.byte96) << "depth code " << c.depthCode;
    EXPECT_EQ(sector[98], c.byte98) << "depth code " << c.depthCode;
    EXPECT_EQ(sector[80], c.byte80) << "depth code " << c.depthCode;
    EXPECT_EQ(sector[48], c.byte48) << "depth code " << c.depthCode;
    EXPECT_EQ(sector[64] | sector[66] << 8, 1280);
    EXPECT_EQ(sector[68] | sector[70] << 8, 1024);
  }
}

TEST(SensorDeviceTest, RegisterAddressesBeyondTheirFormAreRefusedUnsent) {
  struct Case {
    ModelCode model;
    const char* what;
    std::function<bool(SensorDevice&)> request;
    bool accepted;
  };
  const Case cases[] = {
      {kModelHXA1, "8-bit 256", [](SensorDevice& s) { return s.RequestWriteRegister(256, 0, 1); },
       false},
      {kModelHXA1, "8-bit -1",
       [](SensorDevice& s) { return s.RequestReadRegister(-1, nullptr, nullptr); }, false},
      {kModelHXA1, "8-bit 255", [](SensorDevice& s) { return s.RequestWriteRegister(255, 0, 1); },
       true},
      {kModelHXC3, "16-bit 0x10000",
       [](SensorDevice& s) { return s.RequestWriteRegister(0x10000, 0, 1); }, false},
      {kModelHXC3, "16-bit 0xFFFF",
       [](SensorDevice& s) { return s.RequestWriteRegister(0xFFFF, 0, 1); }, true},
      {kModelHYD4, "wide 1024", [](SensorDevice& s) { return s.RequestWriteRegisterWide(1024, 1); },
       false},
      {kModelHYD4, "wide value of 23 bits",
       [](SensorDevice& s) { return s.RequestWriteRegisterWide(5, 1 << 22); }, false},
      {kModelHYD4, "wide negative value",
       [](SensorDevice& s) { return s.RequestWriteRegisterWide(5, -1); }, false},
      {kModelHYD4, "wide 1023 with 22 bits",
       [](SensorDevice& s) { return s.RequestWriteRegisterWide(1023, (1 << 22) - 1); }, true},
      {kModelHZG7, "wide value of 24 bits",
       [](SensorDevice& s) { return s.RequestWriteRegisterWide(5, 0xFFFFFF); }, true},
      {kModelHZG7, "wide value of 25 bits",
       [](SensorDevice& s) { return s.RequestWriteRegisterWide(5, 1 << 24); }, false},
  };
  for (const Case& c : cases) {
    SensorOnHead rig(c.model);
    EXPECT_EQ(c.request(*rig.sensor), c.accepted) << ModelName(c.model) << " " << c.what;
    EXPECT_EQ(Traffic(*rig.head).size(), c.accepted ? 1u : 0u)
        << ModelName(c.model) << " " << c.what;
    // While streaming, a refused address is not deferred either.
    ASSERT_TRUE(rig.Attach());
    rig.owner.running = true;
    c.request(*rig.sensor);
    EXPECT_EQ(rig.sensor->GetPendingChanges() != 0, c.accepted) << c.what;
  }
}

TEST(SensorDeviceTest, PrepareStartFailureFailsTheAttach) {
  SensorOnHead rig(kModelHXA1);
  HeadFaults faults;
  faults.refusedRegisters = {30};
  rig.head->SetFaults(faults);
  EXPECT_FALSE(rig.sensor->AttachEngine(&rig.engine));
  for (const RunExchange& run : rig.head->RunLog()) EXPECT_FALSE(run.run) << "never ran";
}

// Settings changed on the application thread while the reader thread applies
// changes between frames: whatever the interleaving, the camera ends up with
// the last value of every setting.
TEST(SensorDeviceThreadsTest, NoChangeIsLostWhileChangesAreApplied) {
  SensorOnHead rig(kModelHXA1);
  SensorDevice& sensor = *rig.sensor;
  ASSERT_TRUE(rig.Attach());
  rig.owner.running = true;
  std::atomic<bool> done{false};
  std::thread reader([&] {
    while (!done.load()) sensor.ApplyPendingChanges();
  });
  constexpr int kRounds = 300;
  for (int i = 1; i <= kRounds; ++i) {
    sensor.SetGlobalGain(i % 64);
    sensor.SetExposureTime(1000 + i);
    sensor.SetMirrorH(static_cast<uint8_t>(i & 1));
    sensor.RequestWriteRegister(40, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i));
  }
  done.store(true);
  reader.join();
  sensor.ApplyPendingChanges();
  EXPECT_EQ(sensor.GetPendingChanges(), 0u);
  EXPECT_EQ(rig.head->PeekRegister(53), static_cast<uint32_t>(kRounds % 64));
  EXPECT_EQ(rig.head->PeekRegister(9), static_cast<uint32_t>(1000 + kRounds));
  EXPECT_EQ(rig.head->PeekRegister(32) & 0x4000, 0u) << "last mirror setting was off";
  EXPECT_EQ(rig.head->PeekRegister(40), static_cast<uint32_t>(kRounds));
  // Every mirror change the camera took moved the phase; off again means back to 0.
  EXPECT_EQ(rig.engine.phase, 0);
}

}  // namespace
}  // namespace varnel::testing
