// The host side of the sector protocol, driven against the virtual head and
// its fault switches.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "device/sector_protocol.h"
#include "sim/virtual_head.h"
#include "support/test_clock.h"

namespace varnel {
namespace {

using testing::ScopedCurrentClock;
using testing::SteppingClock;

class ProtocolTest : public ::testing::Test {
 protected:
  void Use(ModelCode model) {
    HeadOptions options;
    options.clock = &headClock_;
    options.framesPerSecond = 100;
    head_ = std::make_shared<VirtualHead>(model, options);
    protocol_.SetVolume(head_.get());
  }
  void SetUp() override { Use(kModelHXA1); }

  HeadCounters Since(const HeadCounters& before) const {
    HeadCounters now = head_->Counters();
    now.controlReads -= before.controlReads;
    now.controlWrites -= before.controlWrites;
    now.frameReads -= before.frameReads;
    return now;
  }

  SteppingClock hostClock_;
  SteppingClock headClock_;
  ScopedCurrentClock installed_{&hostClock_};
  std::shared_ptr<VirtualHead> head_;
  SectorProtocol protocol_;
};

// Each row: a misbehaving camera and what one 8-bit register write or read
// must then do: its result, and how many control-sector transfers it made (a
// write that hangs or polls without bound fails the count).
TEST_F(ProtocolTest, HandshakeOutcomesAndTransferCounts) {
  struct Case {
    const char* name;
    HeadFaults faults;
    bool write;
    bool ok;
    RegisterResult result;
    uint64_t reads;
  };
  HeadFaults busy3;
  busy3.busyPolls = 3;
  HeadFaults stuck;
  stuck.statusStuckBusy = true;
  HeadFaults zero;
  zero.statusZero = true;
  HeadFaults other;
  other.otherDirectionOnly = true;
  HeadFaults refused;
  refused.refusedRegisters = {0x35};
  const Case cases[] = {
      {"write done at first poll", {}, true, true, RegisterResult::kDone, 2},
      {"write busy three polls", busy3, true, true, RegisterResult::kDone, 5},
      {"write stuck busy", stuck, true, false, RegisterResult::kExhausted, 1 + kPollBudget},
      {"write status 0", zero, true, false, RegisterResult::kNoAnswer, 2},
      {"write other direction only", other, true, false, RegisterResult::kExhausted,
       1 + kPollBudget},
      {"write refused register", refused, true, false, RegisterResult::kNoAnswer, 2},
      {"read done", {}, false, true, RegisterResult::kDone, 3},
      {"read busy three polls", busy3, false, true, RegisterResult::kDone, 6},
      {"read stuck busy", stuck, false, false, RegisterResult::kExhausted, 2 + kPollBudget},
      {"read status 0", zero, false, false, RegisterResult::kNoAnswer, 2},
      {"read other direction only", other, false, false, RegisterResult::kExhausted,
       2 + kPollBudget},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Use(kModelHXA1);
    head_->SetFaults(c.faults);
    const HeadCounters before = head_->Counters();
    RegisterResult result = RegisterResult::kBadAddress;
    uint8_t high = 0, low = 0;
    const bool ok = c.write ? protocol_.WriteRegister(0x35, 0x12, 0x34, &result)
                            : protocol_.ReadRegister(0x35, &high, &low, &result);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(result, c.result);
    const HeadCounters spent = Since(before);
    EXPECT_EQ(spent.controlWrites, 1u);
    EXPECT_EQ(spent.controlReads, c.reads);
  }
  // No register exchange pauses by itself; the pauses are the caller's.
  EXPECT_TRUE(hostClock_.Sleeps().empty());
}

TEST_F(ProtocolTest, ConfirmedExchangesReachTheRegisterFile) {
  ASSERT_TRUE(protocol_.WriteRegister(0x35, 0x12, 0x34));
  EXPECT_EQ(head_->PeekRegister(0x35), 0x1234u);
  head_->PokeRegister(0x22, 0xBEEF);
  uint8_t high = 0, low = 0;
  ASSERT_TRUE(protocol_.ReadRegister(0x22, &high, &low));
  EXPECT_EQ(high, 0xBE);
  EXPECT_EQ(low, 0xEF);
  const std::vector<RegisterExchange> expected = {
      {true, RegisterForm::kAddress8, 0x35, 0x1234, true},
      {false, RegisterForm::kAddress8, 0x22, 0xBEEF, true},
  };
  EXPECT_EQ(head_->RegisterLog(), expected);
}

TEST_F(ProtocolTest, ReadWithoutAnswerDeliversNothingAndExhaustedReadDeliversStaleBytes) {
  head_->PokeRegister(9, 0x0447);
  uint8_t high = 0, low = 0;
  ASSERT_TRUE(protocol_.ReadRegister(9, &high, &low));

  HeadFaults faults;
  faults.statusZero = true;
  head_->SetFaults(faults);
  high = 0xAA, low = 0xBB;
  EXPECT_FALSE(protocol_.ReadRegister(53, &high, &low));
  EXPECT_EQ(high, 0xAA);
  EXPECT_EQ(low, 0xBB);

  // An exhausted budget still hands over bytes 40 and 41: here the answer
  // to the previous read, since the stuck camera never answered this one.
  faults = HeadFaults{};
  faults.statusStuckBusy = true;
  head_->SetFaults(faults);
  EXPECT_FALSE(protocol_.ReadRegister(53, &high, &low));
  EXPECT_EQ(high, 0x04);
  EXPECT_EQ(low, 0x47);
}

TEST_F(ProtocolTest, WideReadWithExhaustedBudgetIsNotReportedAsSuccess) {
  Use(kModelHYD4);
  head_->PokeRegister(158, 0x2A0033);
  uint32_t value = 0;
  ASSERT_TRUE(protocol_.ReadRegisterWide(158, &value));
  EXPECT_EQ(value, 0x2A0033u);

  HeadFaults faults;
  faults.statusStuckBusy = true;
  head_->SetFaults(faults);
  RegisterResult result{};
  value = 0;
  EXPECT_FALSE(protocol_.ReadRegisterWide(159, &value, &result));
  EXPECT_EQ(result, RegisterResult::kExhausted);
  EXPECT_EQ(value, 0x2A0033u);
}

// The three forms place the address and data where the camera expects them;
// each row writes, reads back through the camera and checks what the head
// decoded.
TEST_F(ProtocolTest, RegisterFormsRoundTrip) {
  struct Case {
    ModelCode model;
    int form;  // 0 8-bit, 1 16-bit address, 2 wide 22-bit, 3 wide 24-bit
    uint32_t address;
    uint32_t value;
    uint32_t stored;
    RegisterForm seen;
  };
  const Case cases[] = {
      {kModelHXA1, 0, 0xFF, 0xFFFF, 0xFFFF, RegisterForm::kAddress8},
      {kModelHXC3, 1, 0x3166, 0x0ABC, 0x0ABC, RegisterForm::kAddress16},
      {kModelHXC3, 1, 0x0066, 0x0123, 0x0123, RegisterForm::kAddress16},
      {kModelHYD4, 2, 0x39E, 0xABCDEF, 0x2BCDEF, RegisterForm::kWide},
      {kModelHZG7, 3, 0x3FF, 0xABCDEF, 0xABCDEF, RegisterForm::kWide},
      {kModelHZG7, 2, 154, 0x802000 | 480, 0x002000 | 480, RegisterForm::kWide},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    Use(c.model);
    uint32_t readBack = 0;
    uint8_t high = 0, low = 0;
    const uint8_t vh = static_cast<uint8_t>(c.value >> 8), vl = static_cast<uint8_t>(c.value);
    switch (c.form) {
      case 0:
        ASSERT_TRUE(protocol_.WriteRegister(c.address, vh, vl));
        ASSERT_TRUE(protocol_.ReadRegister(c.address, &high, &low));
        readBack = high << 8 | low;
        break;
      case 1:
        ASSERT_TRUE(protocol_.WriteRegister16(c.address, vh, vl));
        ASSERT_TRUE(protocol_.ReadRegister16(c.address, &high, &low));
        readBack = high << 8 | low;
        break;
      default:
        ASSERT_TRUE(protocol_.WriteRegisterWide(
            c.address, c.value, c.form == 3 ? WideDataBits::k24 : WideDataBits::k22));
        ASSERT_TRUE(protocol_.ReadRegisterWide(c.address, &readBack));
        break;
    }
    EXPECT_EQ(head_->PeekRegister(c.address), c.stored);
    EXPECT_EQ(readBack, c.stored);
    const std::vector<RegisterExchange> log = head_->RegisterLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], (RegisterExchange{true, c.seen, c.address, c.stored, true}));
  }
  // The 16-bit form keeps 0x3166 and 0x0066 apart: the high address byte
  // travels in byte 80, not in byte 37.
  Use(kModelHXC3);
  ASSERT_TRUE(protocol_.WriteRegister16(0x3166, 0x11, 0x11));
  ASSERT_TRUE(protocol_.WriteRegister16(0x0066, 0x22, 0x22));
  EXPECT_EQ(head_->PeekRegister(0x3166), 0x1111u);
  EXPECT_EQ(head_->PeekRegister(0x0066), 0x2222u);
}

TEST_F(ProtocolTest, AddressesBeyondTheFormAreRefusedWithoutTraffic) {
  struct Case {
    int form;
    uint32_t address;
  };
  const Case cases[] = {{0, 0x100}, {0, 0xFFFFFFFF}, {1, 0x10000}, {2, 0x400}, {2, 0x1000}};
  Use(kModelHXC3);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    const HeadCounters before = head_->Counters();
    RegisterResult w{}, r{};
    uint8_t high = 0, low = 0;
    uint32_t value = 0;
    switch (c.form) {
      case 0:
        EXPECT_FALSE(protocol_.WriteRegister(c.address, 1, 2, &w));
        EXPECT_FALSE(protocol_.ReadRegister(c.address, &high, &low, &r));
        break;
      case 1:
        EXPECT_FALSE(protocol_.WriteRegister16(c.address, 1, 2, &w));
        EXPECT_FALSE(protocol_.ReadRegister16(c.address, &high, &low, &r));
        break;
      default:
        EXPECT_FALSE(protocol_.WriteRegisterWide(c.address, 1, WideDataBits::k22, &w));
        EXPECT_FALSE(protocol_.ReadRegisterWide(c.address, &value, &r));
        break;
    }
    EXPECT_EQ(w, RegisterResult::kBadAddress);
    EXPECT_EQ(r, RegisterResult::kBadAddress);
    const HeadCounters spent = Since(before);
    EXPECT_EQ(spent.controlReads + spent.controlWrites, 0u);
  }
  EXPECT_TRUE(head_->RegisterLog().empty());
}

// A head that stops answering after a number of transfers, at each point of
// an exchange: the exchange fails, promptly, and never hands over data it
// did not receive.
TEST_F(ProtocolTest, HeadThatStopsAnsweringMidExchange) {
  for (int64_t after = 0; after <= 3; ++after) {
    SCOPED_TRACE(after);
    Use(kModelHXA1);
    head_->PokeRegister(9, 0x1234);
    HeadFaults faults;
    faults.failAfterTransfers = after;
    head_->SetFaults(faults);
    uint8_t high = 0xEE, low = 0xEE;
    RegisterResult result{};
    EXPECT_FALSE(protocol_.ReadRegister(9, &high, &low, &result));
    EXPECT_EQ(result, RegisterResult::kNoAnswer);
    EXPECT_EQ(high, 0xEE);
    EXPECT_EQ(low, 0xEE);
    EXPECT_FALSE(protocol_.WriteRegister(9, 0, 1));
  }
}

TEST_F(ProtocolTest, StopChangesOnlyTheRunByte) {
  StreamSettings settings;
  settings.run = true;
  settings.width = 256;
  settings.height = 64;
  protocol_.StartStream(settings);
  ASSERT_TRUE(protocol_.WriteRegister(0x35, 0x01, 0x02));
  uint8_t before[kSectorSize];
  head_->ControlSector(before);
  hostClock_.ClearSleeps();
  protocol_.Stop();
  const std::vector<RunExchange> runs = head_->RunLog();
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_FALSE(runs[1].run);
  for (size_t i = 0; i < kSectorSize; ++i) {
    if (i == control::kRunCommand) continue;
    EXPECT_EQ(runs[1].sector[i], before[i]) << "byte " << i;
  }
  EXPECT_EQ(runs[1].sector[control::kRunCommand], control::kStop);
  EXPECT_FALSE(head_->Stream().running);
  EXPECT_EQ(hostClock_.Sleeps(), std::vector<uint32_t>{kCommandPauseMs});
}

TEST_F(ProtocolTest, StartStreamOverwritesTheWholeSector) {
  struct Case {
    StreamSettings settings;
    uint8_t bitDepthByte, syncByte, triggerByte;
  };
  auto make = [](int code, bool syncV, bool syncH, bool trigger) {
    StreamSettings s;
    s.run = true;
    s.width = 0x1234;
    s.height = 0x0208;
    s.originX = 0x0102;
    s.originY = 0x0304;
    s.eightBitTransfer = false;
    s.bitDepthCode = code;
    s.syncV = syncV;
    s.syncH = syncH;
    s.triggerMode = trigger;
    return s;
  };
  const Case cases[] = {
      {make(0, true, true, false), 1, 0, 0}, {make(1, false, true, false), 2, 1, 0},
      {make(2, true, false, true), 4, 2, 1}, {make(3, false, false, false), 8, 3, 0},
      {make(4, true, true, false), 0, 0, 0}, {make(7, true, true, false), 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.settings.bitDepthCode);
    Use(kModelHWH8);
    // Leave traces of a register exchange that StartStream must wipe.
    ASSERT_TRUE(protocol_.WriteRegister(0x77, 0x66, 0x55));
    protocol_.StartStream(c.settings);
    const std::vector<RunExchange> runs = head_->RunLog();
    ASSERT_FALSE(runs.empty());
    const uint8_t* s = runs.back().sector;
    uint8_t expected[kSectorSize] = {};
    expected[control::kRunCommand] = 1;
    expected[64] = 0x34, expected[66] = 0x12, expected[68] = 0x08, expected[70] = 0x02;
    expected[72] = 0x02, expected[74] = 0x01, expected[76] = 0x04, expected[78] = 0x03;
    expected[80] = c.triggerByte;
    expected[96] = c.bitDepthByte;
    expected[98] = c.syncByte;
    for (size_t i = 0; i < kSectorSize; ++i) {
      // 40-44 are the camera's own bytes, which it keeps.
      if (i >= control::kReadLow && i <= control::kFrameReady) continue;
      EXPECT_EQ(s[i], expected[i]) << "byte " << i;
    }
  }
}

TEST_F(ProtocolTest, WithoutAVolumeEverythingFailsAndPausesStillHappen) {
  SectorProtocol none(nullptr);
  uint8_t high = 0, low = 0, buffer[kSectorSize];
  uint32_t value = 0;
  EXPECT_FALSE(none.WriteRegister(1, 0, 0));
  EXPECT_FALSE(none.ReadRegister(1, &high, &low));
  EXPECT_FALSE(none.WriteRegister16(1, 0, 0));
  EXPECT_FALSE(none.WriteRegisterWide(1, 0));
  EXPECT_FALSE(none.ReadRegisterWide(1, &value));
  EXPECT_EQ(none.ReadFrame(false, buffer, 1), 0u);
  EXPECT_EQ(none.ReadFrameReady(), -1);
  none.Stop();
  none.StartStream(StreamSettings{});
  EXPECT_EQ(hostClock_.Sleeps(), (std::vector<uint32_t>{8, 8}));
  hostClock_.ClearSleeps();
  EXPECT_EQ(none.WaitForFrame(buffer, 1, 1, 160), 0u);
  EXPECT_EQ(hostClock_.Sleeps(), std::vector<uint32_t>(10, kFrameReadyPollMs));
}

TEST_F(ProtocolTest, StreamedFramesComeFromBothAreasAndShortReadsAreShort) {
  const uint32_t sectors = 256 * 64 / kSectorSize;
  head_->PokeRegister(3, 63);
  head_->PokeRegister(4, 255);
  StreamSettings settings;
  settings.run = true;
  settings.width = 256;
  settings.height = 64;
  protocol_.StartStream(settings);
  std::vector<uint8_t> frame(sectors * kSectorSize);
  uint32_t last = 0;
  for (int i = 0; i < 4; ++i) {
    ASSERT_EQ(protocol_.ReadFrame(i % 2 == 1, frame.data(), sectors), frame.size());
    const std::optional<uint32_t> number = head_->ReadFrameNumber(frame.data(), frame.size());
    ASSERT_TRUE(number.has_value());
    EXPECT_GT(*number, last);
    last = *number;
  }
  HeadFaults faults;
  faults.shortFrameReads = 1;
  faults.failedFrameReads = 1;
  head_->SetFaults(faults);
  EXPECT_EQ(protocol_.ReadFrame(false, frame.data(), sectors), 0u);
  EXPECT_EQ(protocol_.ReadFrame(false, frame.data(), sectors), frame.size() / 2);
  EXPECT_EQ(protocol_.ReadFrame(false, frame.data(), sectors), frame.size());
}

TEST_F(ProtocolTest, SingleShotWaitReadsTheAreaTheCameraNames) {
  const uint32_t sectors = 256 * 64 / kSectorSize;
  head_->PokeRegister(3, 63);
  head_->PokeRegister(4, 255);
  head_->PokeRegister(30, 0x0300);  // the sensor's trigger mode, every trigger source
  StreamSettings settings;
  settings.run = true;
  settings.width = 256;
  settings.height = 64;
  settings.triggerMode = true;
  protocol_.StartStream(settings);
  ASSERT_TRUE(head_->Stream().triggerMode);
  std::vector<uint8_t> frame(sectors * kSectorSize);
  hostClock_.ClearSleeps();
  EXPECT_EQ(protocol_.WaitForFrame(frame.data(), sectors, 256 * 64, 64), 0u);
  EXPECT_EQ(hostClock_.Sleeps().size(), 4u);

  for (bool expectB : {false, true, false}) {
    ASSERT_TRUE(head_->Trigger());
    headClock_.Advance(static_cast<uint32_t>(head_->ReadoutUs() / 1000));  // the read-out
    bool areaB = !expectB;
    ASSERT_EQ(protocol_.WaitForFrame(frame.data(), sectors, 256 * 64, 6000, &areaB), frame.size());
    EXPECT_EQ(areaB, expectB);
    EXPECT_EQ(head_->ReadFrameNumber(frame.data(), frame.size()), head_->LastDeliveredFrame());
    // The frame has been taken: nothing waits any more.
    EXPECT_EQ(protocol_.ReadFrameReady(), 0);
  }
}

}  // namespace
}  // namespace varnel
