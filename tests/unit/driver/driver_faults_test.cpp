// A misbehaving camera head while the driver streams: Stop must come back,
// nothing may leak or be used after it is freed, and the driver must be able
// to start again.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "driver_fixture.h"

namespace varnel {
namespace {

using testing::DriverFixture;
using testing::WaitUntil;

class DriverFaultTest : public DriverFixture {
 protected:
  void ExpectBalanced() {
    const DriverCounters c = driver_->Counters();
    EXPECT_EQ(c.framesRead, c.framesDelivered + c.framesDropped);
  }
  // A head paced by the system clock, so that a transfer delay really blocks
  // the reader, and a driver with a 100 ms reader stop bound, streaming.
  void StreamOnRealClock() {
    HeadOptions options;
    options.framesPerSecond = 200.0;
    head_ = std::make_shared<VirtualHead>(kModelR2T, options);
    ASSERT_TRUE(head_->AttachTo(kLetter));
    driver_ = CreateCameraDriver(kModelR2T);
    sensor().SetDriveLetter(kLetter);
    listener_ = std::make_unique<testing::RecordingListener>(driver_.get(), head_.get());
    driver_->AddListener(listener_.get());
    driver_->SetReaderStopBound(100);
    driver_->Start();
    ASSERT_TRUE(listener_->WaitFrames(3));
  }
  // Makes every transfer of the head hang for 1.5 s (real time, against the
  // driver's 100 ms stop bound) and waits until one has begun.
  void ReaderEntersHangingTransfer() {
    const uint64_t before = head_->Counters().delayedTransfers;
    HeadFaults faults;
    faults.transferDelayMs = 1500;
    head_->SetFaults(faults);
    ASSERT_TRUE(WaitUntil([&] { return head_->Counters().delayedTransfers > before; }));
  }
  void StartAgainAndStream() {
    listener_->Clear();
    driver_->Start();
    ASSERT_EQ(driver_->GetState(), kDriverRunning);
    EXPECT_TRUE(listener_->WaitFrames(10));
    driver_->Stop();
    ExpectBalanced();
  }
};

// Catches a reader that gives up, counts half frames or switches area after
// short and failed reads (the stamps would then be unreadable or out of
// order), and a stream that does not recover when the head answers again.
TEST_F(DriverFaultTest, ShortAndFailedReadsAreRetried) {
  struct Case {
    uint32_t shortReads;
    uint32_t failedReads;
  };
  for (const Case c : {Case{3, 0}, Case{0, 4}, Case{2, 2}}) {
    SCOPED_TRACE(::testing::Message() << c.shortReads << " short, " << c.failedReads << " failed");
    Make(kModelR2T);
    driver_->SetRawCopy(true);
    driver_->Start();
    ASSERT_TRUE(listener_->WaitFrames(5));
    HeadFaults faults;
    faults.shortFrameReads = c.shortReads;
    faults.failedFrameReads = c.failedReads;
    head_->SetFaults(faults);
    const int seen = listener_->Frames();
    ASSERT_TRUE(listener_->WaitFrames(seen + 10));
    driver_->Stop();
    EXPECT_EQ(listener_->Unreadable(), 0);
    const std::vector<uint32_t> stamps = listener_->Stamps();
    for (size_t i = 1; i < stamps.size(); ++i) ASSERT_LT(stamps[i - 1], stamps[i]);
    ExpectBalanced();
    TearDown();
  }
}

// Catches a Stop that hangs when the head stops answering or is removed in
// the middle of a stream, and a driver that cannot start again afterwards.
TEST_F(DriverFaultTest, HeadStopsAnsweringOrIsRemoved) {
  for (bool removal : {false, true}) {
    SCOPED_TRACE(removal ? "removed" : "stops answering");
    Make(kModelR2T);
    driver_->Start();
    ASSERT_TRUE(listener_->WaitFrames(5));
    if (removal) {
      head_->Remove();
    } else {
      HeadFaults faults;
      faults.failAfterTransfers = 0;
      head_->SetFaults(faults);
    }
    const int framesAtFault = driver_->GetFrameCounter();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    driver_->Stop();
    EXPECT_EQ(driver_->GetState(), kDriverStopped);
    EXPECT_LE(driver_->GetFrameCounter(), framesAtFault + 1);
    ExpectBalanced();

    // A healthy head on the same letter: the same driver streams again.
    head_->Detach();
    HeadOptions options;
    options.clock = &*clock_;
    options.framesPerSecond = 200.0;
    head_ = std::make_shared<VirtualHead>(kModelR2T, options);
    ASSERT_TRUE(head_->AttachTo(kLetter));
    StartAgainAndStream();
    TearDown();
  }
}

// Catches a Stop that waits as long as a transfer that hangs (here 3 s on the
// real clock, against a 100 ms bound), and a reader left behind that uses
// freed buffers or the closed volume when its transfer finally returns.
TEST_F(DriverFaultTest, StopIsBoundedWhenATransferHangs) {
  StreamOnRealClock();

  // The reader enters a delayed frame transfer (pending changes are none, so
  // it is not inside a register exchange).
  ReaderEntersHangingTransfer();
  driver_->Stop();
  EXPECT_EQ(driver_->GetState(), kDriverStopped);
  EXPECT_EQ(driver_->ReadersLeftBehind(), 1u);
  ExpectBalanced();

  head_->SetFaults(HeadFaults{});
  // The old reader ends once its transfer returns; meanwhile and afterwards
  // the driver starts again on fresh buffers.
  StartAgainAndStream();
  EXPECT_TRUE(WaitUntil([&] { return driver_->ReadersLeftBehind() == 0; }));
  ExpectBalanced();
}

// Catches a driver destroyed while its reader hangs in a transfer: the
// destructor must come back, and the reader, which outlives it, must find
// its buffers and volume handle still there when the transfer returns (run
// under AddressSanitizer).
TEST_F(DriverFaultTest, DestroyedWhileTheReaderHangs) {
  StreamOnRealClock();
  ReaderEntersHangingTransfer();
  driver_.reset();  // no Stop: the destructor stops the stream itself
  listener_.reset();
  // The head is held by the device table and by every volume opened on it:
  // once detached, only the test and the reader's own handle hold it.
  head_->Detach();
  EXPECT_EQ(head_.use_count(), 2) << "the reader was not left behind with its handle";
  // When its transfer returns the reader ends and lets go of everything.
  EXPECT_TRUE(WaitUntil([&] { return head_.use_count() == 1; }))
      << "the reader left behind never released its handle";
}

// How many frames the soak streams: a few hundred by default; the separate
// "soak" test entry sets VARNEL_DRIVER_SOAK_FRAMES for a longer run.
int SoakFrames() {
  const char* text = std::getenv("VARNEL_DRIVER_SOAK_FRAMES");
  const int frames = text != nullptr ? std::atoi(text) : 0;
  return frames > 0 ? frames : 300;
}

// Catches races between the application thread changing settings and
// requesting registers and the reader applying them between frames: frames
// must keep coming in camera order, every request must be reported, and the
// counters must balance. Run under ThreadSanitizer. Also catches a stream
// starved by the changes (each thrown away a frame before the next came).
TEST_F(DriverFaultTest, SoakWithConcurrentSettingsAndRegisterRequests) {
  Make(kModelHXA1);
  SensorDevice& s = sensor();
  // The races do not depend on the frame size, while each frame's conversion
  // under ThreadSanitizer costs in proportion to its pixels: a small window
  // (still wide enough for the stamp) keeps the soak quick on any machine.
  ASSERT_TRUE(s.SetCaptureWindow(0, 0, 320, 240));
  listener_->ReadStampsEitherMirrorH();
  driver_->SetRawCopy(true);
  driver_->Start();
  ASSERT_EQ(driver_->GetState(), kDriverRunning);

  const int target = SoakFrames();
  std::atomic<bool> done{false};
  int requests = 0;
  std::thread changer([&] {
    for (int i = 0; !done.load(); ++i) {
      s.SetGlobalGain(10 + i % 40);
      s.SetExposureTime(100 + i % 300);
      s.SetMirrorH(static_cast<uint8_t>((i / 7) % 2));
      s.RequestWriteRegister(0x7E, static_cast<uint8_t>(i), 0x5A);
      ++requests;
      // One request at a time: a later request replaces a deferred one that
      // was not performed yet. Mostly the next one is made as soon as this one
      // is reported, while the reader is still applying changes.
      listener_->WaitEvent(kEventRegisterWriteDone, static_cast<size_t>(requests));
      if (i % 3 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  });
  // However slow the machine, frames keep coming while settings change.
  const bool enough = listener_->WaitFrames(target);
  done.store(true);
  changer.join();
  driver_->Stop();
  ASSERT_TRUE(enough) << "the stream stalled after " << listener_->Frames() << " frames";

  EXPECT_GE(listener_->CountEvents(kEventRegisterWriteDone), static_cast<size_t>(requests));
  for (const auto& e : listener_->Events()) {
    if (e.code == kEventRegisterWriteDone) {
      EXPECT_EQ(e.record.address, 0x7E);
      EXPECT_EQ(e.record.low, 0x5A);
      EXPECT_EQ(e.record.result, 1);
    }
  }
  // The listener runs behind the reader by as many frames as the scheduler
  // lets it, so a frame may have been taken with the mirror the other way:
  // its stamp is read in either order. Every frame reads, in camera order.
  const std::vector<uint32_t> stamps = listener_->Stamps();
  EXPECT_EQ(listener_->Unreadable(), 0);
  EXPECT_GE(stamps.size(), static_cast<size_t>(target));
  for (size_t i = 1; i < stamps.size(); ++i) ASSERT_LT(stamps[i - 1], stamps[i]) << i;
  // Changes come before nearly every frame, yet at most one frame is thrown
  // away per frame read: changes sent during a discard join its batch.
  const DriverCounters counters = driver_->Counters();
  EXPECT_GT(counters.framesDiscarded, 0u);
  EXPECT_LE(counters.framesDiscarded, counters.framesRead + 1);
  ExpectBalanced();
}

}  // namespace
}  // namespace varnel
