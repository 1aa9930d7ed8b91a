// The camera driver on a virtual head: factory, lifecycle and its events,
// direct and queued delivery, single-shot frames, applied changes and
// deferred register requests.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "driver_fixture.h"

namespace varnel {
namespace {

using testing::DriverFixture;
using testing::RecordingListener;

// Catches a wrong entry in the model list or the factory: each code builds a
// driver reporting that code, any other code (including a three-character
// code with a fourth character added) builds nothing.
TEST(ModelFactoryTest, BuildsExactlyTheNineModels) {
  for (int index = 0; index < kModelCount; ++index) {
    SCOPED_TRACE(index);
    const ModelCode code = ModelCodeAt(index);
    ASSERT_EQ(code, kModelList[index]);
    std::unique_ptr<CameraDriver> driver = CreateCameraDriver(code);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->GetModelCode(), code);
    EXPECT_NE(driver->GetSensorDevice(), nullptr);
    EXPECT_EQ(driver->GetState(), kDriverCreated);
  }
  for (int index : {-1, 9, 100}) EXPECT_EQ(ModelCodeAt(index), kNoModelCode);
  for (ModelCode code : {kModelHXJ9, MakeModelCode("R2TX"), ModelCode{0}, kNoModelCode}) {
    EXPECT_EQ(CreateCameraDriver(code), nullptr) << std::hex << code;
  }
}

class CameraDriverTest : public DriverFixture {};

// Catches GetImage touching the destinations or succeeding before a start.
TEST_F(CameraDriverTest, GetImageBeforeStartCopiesNothing) {
  Make(kModelR2T);
  std::vector<uint8_t> image(16, 0xAB);
  std::vector<uint8_t> raw(16, 0xCD);
  EXPECT_EQ(driver_->GetImage(image.data(), raw.data()), kImageUnavailable);
  EXPECT_EQ(image, std::vector<uint8_t>(16, 0xAB));
  EXPECT_EQ(raw, std::vector<uint8_t>(16, 0xCD));
  uint8_t header[40];
  EXPECT_EQ(driver_->GetImageHeader(header), kImageUnavailable);
}

// Catches wrong state transitions, missing or duplicated state events (the
// listener was added twice), a Start that reopens a running or paused driver,
// and a Stop of a paused driver that does not resume it first.
TEST_F(CameraDriverTest, LifecycleStatesAndEvents) {
  Make(kModelR2T);
  driver_->AddListener(listener_.get());  // a second time: still notified once
  driver_->Start();
  ASSERT_EQ(driver_->GetState(), kDriverRunning);
  ASSERT_TRUE(listener_->WaitFrames(3));

  RecordingListener late;
  driver_->AddListener(&late);  // ignored while running
  driver_->Start();             // running: nothing happens
  driver_->Pause();
  EXPECT_EQ(driver_->GetState(), kDriverPaused);
  const int framesAtPause = driver_->GetFrameCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(driver_->GetFrameCounter(), framesAtPause) << "frames read while paused";
  driver_->Start();  // paused: only resumes
  const int seen = listener_->Frames();
  EXPECT_TRUE(listener_->WaitFrames(seen + kFramePoolSize + 2)) << "no frames after resume";
  EXPECT_EQ(driver_->GetState(), kDriverRunning);
  driver_->Pause();
  driver_->Stop();
  EXPECT_EQ(driver_->GetState(), kDriverStopped);
  EXPECT_FALSE(driver_->ThreadsExist());
  EXPECT_EQ(late.Events().size(), 0u);

  const std::vector<int> expected = {kDriverStarting, kDriverRunning, kDriverPaused, kDriverRunning,
                                     kDriverPaused,   kDriverRunning, kDriverStopped};
  EXPECT_EQ(listener_->StatesNotified(), expected);

  // Stop closed everything; the next start opens it all again.
  listener_->Clear();
  driver_->Start();
  EXPECT_EQ(driver_->GetState(), kDriverRunning);
  EXPECT_TRUE(listener_->WaitFrames(3));
}

// Catches delivery mode or raw-copy flag changing under running threads, and
// a convert flag that cannot be changed while running.
TEST_F(CameraDriverTest, SettersWhileRunning) {
  Make(kModelR2T);
  driver_->Start();
  driver_->SetDeliveryMode(kDeliveryQueued);
  driver_->SetRawCopy(true);
  driver_->SetConvert(false);
  EXPECT_EQ(driver_->GetDeliveryMode(), kDeliveryDirect);
  EXPECT_FALSE(driver_->GetRawCopy());
  EXPECT_FALSE(driver_->GetConvert());
  driver_->Stop();
  driver_->SetDeliveryMode(kDeliveryQueued);
  driver_->SetRawCopy(true);
  EXPECT_EQ(driver_->GetDeliveryMode(), kDeliveryQueued);
  EXPECT_TRUE(driver_->GetRawCopy());
}

// Catches an Open that goes on without an engine: an output bit count with no
// engine kind (24) makes the start fail, with no threads and no open volume.
TEST_F(CameraDriverTest, StartFailsWithoutEngine) {
  Make(kModelR2T);
  ASSERT_TRUE(sensor().SetOutputBitCount(24));
  EXPECT_EQ(driver_->CreateColorEngine(), nullptr);
  driver_->Start();
  EXPECT_EQ(driver_->GetState(), kDriverFailed);
  EXPECT_FALSE(driver_->ThreadsExist());
  EXPECT_FALSE(sensor().IsVolumeOpen());
  EXPECT_EQ(listener_->StatesNotified(), std::vector<int>{kDriverFailed});

  ASSERT_TRUE(sensor().SetOutputBitCount(32));
  driver_->Start();  // Failed -> Start is allowed again
  EXPECT_EQ(driver_->GetState(), kDriverRunning);
}

// Catches frames delivered out of camera order, incomplete frames (the stamp
// the head renders would not read back), and counters that do not balance.
TEST_F(CameraDriverTest, DirectDeliveryInCameraOrder) {
  Make(kModelR2T);
  driver_->SetRawCopy(true);  // the engine keeps the raw frame: the stamp is read from it
  driver_->Start();
  ASSERT_TRUE(listener_->WaitFrames(60));
  driver_->Stop();

  const std::vector<uint32_t> stamps = listener_->Stamps();
  EXPECT_EQ(listener_->Unreadable(), 0);
  ASSERT_GE(stamps.size(), 60u);
  for (size_t i = 1; i < stamps.size(); ++i) ASSERT_LT(stamps[i - 1], stamps[i]) << i;
  const DriverCounters counters = driver_->Counters();
  EXPECT_EQ(counters.framesRead, counters.framesDelivered + counters.framesDropped);
  EXPECT_EQ(counters.framesDelivered, static_cast<uint64_t>(listener_->Frames()));
  EXPECT_EQ(listener_->CountEvents(kEventFrameReady), static_cast<size_t>(listener_->Frames()));
}

// Catches queued delivery handing out stale, reordered or torn images, a
// GetImage that does not free its slot, and one that hangs when no frame
// comes (the wait is bounded by the frame timeout).
TEST_F(CameraDriverTest, QueuedGetImageInOrder) {
  Make(kModelR2T, 20000);
  driver_->SetDeliveryMode(kDeliveryQueued);
  driver_->SetRawCopy(true);
  driver_->Start();
  ASSERT_EQ(driver_->GetState(), kDriverRunning);
  ColorEngine* main = driver_->MainEngineForTest();
  ASSERT_NE(main, nullptr);
  std::vector<uint8_t> raw(main->GetRawSize());
  std::vector<uint8_t> image(static_cast<size_t>(main->GetStride()) * main->GetHeight());
  uint32_t previous = 0;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(driver_->GetImage(image.data(), raw.data()), kImageOk);
    const std::optional<uint32_t> number = head_->ReadFrameNumber(raw.data(), raw.size());
    ASSERT_TRUE(number.has_value()) << i;
    EXPECT_GT(*number, previous);
    previous = *number;
  }
  // Both destinations null: a slot is still taken and freed.
  EXPECT_EQ(driver_->GetImage(nullptr, nullptr), kImageOk);
  for (int slot = 0; slot < kOutputSlotCount; ++slot) {
    EXPECT_FALSE(driver_->OutputSlotsForTest().IsBeingRead(slot));
  }

  HeadFaults faults;
  faults.failAfterTransfers = 0;  // the head stops answering
  head_->SetFaults(faults);
  sensor().SetFrameTimeout(200);
  // Drain what was converted before, then the bounded wait must give up.
  uint32_t result = kImageOk;
  for (int i = 0; i < 10 && result == kImageOk; ++i) result = driver_->GetImage(nullptr, nullptr);
  EXPECT_EQ(result, kImageUnavailable);
  driver_->Stop();
  const DriverCounters counters = driver_->Counters();
  EXPECT_EQ(counters.framesRead, counters.framesDelivered + counters.framesDropped);
}

// Catches an image copy sized by the header's 32-bit image size when the
// engine only keeps the raw frame (it would overrun the destination), and a
// raw-only image that is not the frame.
TEST_F(CameraDriverTest, QueuedRawOnlyImageIsTheRawFrame) {
  Make(kModelR2T, 20000);
  driver_->SetDeliveryMode(kDeliveryQueued);
  driver_->SetRawCopy(true);
  driver_->SetConvert(false);
  driver_->Start();
  ColorEngine* main = driver_->MainEngineForTest();
  ASSERT_NE(main, nullptr);
  ASSERT_EQ(main->GetFormat(), kEngineFormatRaw);
  const size_t frameBytes = size_t(main->GetWidth()) * main->GetHeight();
  std::vector<uint8_t> image(frameBytes);
  std::vector<uint8_t> raw(main->GetRawSize());
  ASSERT_EQ(raw.size(), frameBytes);
  ASSERT_EQ(driver_->GetImage(image.data(), raw.data()), kImageOk);
  EXPECT_EQ(image, raw);
  EXPECT_TRUE(head_->ReadFrameNumber(image.data(), image.size()).has_value());
}

// Catches threads in trigger mode, a GetImage that reads more or less than
// one frame per call or not into pool entry 0, and a timeout reported as a
// frame.
TEST_F(CameraDriverTest, SingleShotReadsOneFrameIntoEntryZero) {
  Make(kModelR2T, 200);
  ASSERT_TRUE(sensor().SetTriggerMode(1));
  driver_->SetRawCopy(true);
  driver_->Start();
  ASSERT_EQ(driver_->GetState(), kDriverRunning);
  EXPECT_TRUE(driver_->IsSingleShot());
  EXPECT_FALSE(driver_->ThreadsExist());
  EXPECT_EQ(driver_->GetImage(nullptr, nullptr), kImageUnavailable) << "no trigger, no frame";

  ColorEngine* main = driver_->MainEngineForTest();
  std::vector<uint8_t> raw(main->GetRawSize());
  for (int shot = 1; shot <= 3; ++shot) {
    SCOPED_TRACE(shot);
    const uint64_t framesBefore = head_->Counters().frameReads;
    ASSERT_TRUE(head_->Trigger());
    ASSERT_EQ(driver_->GetImage(nullptr, raw.data()), kImageOk);
    EXPECT_EQ(head_->Counters().frameReads - framesBefore, 1u);
    EXPECT_EQ(driver_->GetFrameCounter(), shot);
    const std::optional<uint32_t> fromRaw = head_->ReadFrameNumber(raw.data(), raw.size());
    const std::optional<uint32_t> fromPool = head_->ReadFrameNumber(
        driver_->FramePoolForTest()->Buffer(0), driver_->FramePoolForTest()->BufferBytes());
    ASSERT_TRUE(fromRaw.has_value());
    EXPECT_EQ(fromRaw, fromPool);
  }
  EXPECT_EQ(listener_->CountEvents(kEventFrameReady), 3u);
  driver_->Stop();
  EXPECT_EQ(driver_->GetState(), kDriverStopped);
}

// Catches settings and register requests made while a single-shot driver runs
// that are never sent (without a reader thread, the fetch sends them), and a
// fetch that sends them by stopping and restarting the camera, which clears
// the frame a trigger has already made ready: that frame is lost.
TEST_F(CameraDriverTest, SingleShotFetchSendsPendingChangesAndKeepsTheTriggeredFrame) {
  Make(kModelR2T, 100);
  ASSERT_TRUE(sensor().SetTriggerMode(1));
  driver_->Start();
  ASSERT_EQ(driver_->GetState(), kDriverRunning);
  head_->ClearLogs();
  ASSERT_TRUE(sensor().SetGlobalGain(33));
  ASSERT_TRUE(sensor().RequestWriteRegister(0x7E, 0x01, 0x02));
  EXPECT_EQ(sensor().GetPendingChanges() & (kPendingGain | kPendingDeferredWrite),
            kPendingGain | kPendingDeferredWrite);
  ASSERT_TRUE(head_->Trigger());
  EXPECT_EQ(driver_->GetImage(nullptr, nullptr), kImageOk) << "the frame triggered before";
  EXPECT_EQ(sensor().GetPendingChanges(), 0u);
  EXPECT_EQ(head_->PeekRegister(0x7E), 0x0102u);
  ASSERT_EQ(listener_->CountEvents(kEventRegisterWriteDone), 1u);
  for (const RecordingListener::Event& e : listener_->Events()) {
    if (e.code == kEventRegisterWriteDone) {
      EXPECT_EQ(e.record.address, 0x7E);
    }
  }
  bool gainWritten = false;
  for (const RegisterExchange& e : head_->RegisterLog()) gainWritten |= e.write && e.address == 53;
  EXPECT_TRUE(gainWritten);
  EXPECT_TRUE(head_->RunLog().empty()) << "the camera was stopped or restarted";
  EXPECT_TRUE(head_->Stream().triggerMode);
}

// Catches a setting change that is not sent between frames, or whose frame
// exposed with the old settings is delivered instead of thrown away.
TEST_F(CameraDriverTest, ChangedGainDiscardsOneFrame) {
  Make(kModelR2T);
  driver_->Start();
  ASSERT_TRUE(listener_->WaitFrames(5));
  head_->ClearLogs();
  const uint64_t discardedBefore = driver_->Counters().framesDiscarded;
  ASSERT_TRUE(sensor().SetGlobalGain(40));
  ASSERT_TRUE(
      testing::WaitUntil([&] { return driver_->Counters().framesDiscarded != discardedBefore; }));
  // Frames read after the change (the pool may still hold up to five older
  // ones) come through; no second frame is thrown away.
  const int seen = listener_->Frames();
  ASSERT_TRUE(listener_->WaitFrames(seen + kFramePoolSize + 5));
  driver_->Stop();
  EXPECT_EQ(driver_->Counters().framesDiscarded, discardedBefore + 1);
  bool gainWritten = false;
  for (const RegisterExchange& e : head_->RegisterLog()) gainWritten |= e.write && e.address == 53;
  EXPECT_TRUE(gainWritten);
}

// Catches deferred register requests that are performed on the application
// thread, lost, or reported with a wrong record or event code.
TEST_F(CameraDriverTest, DeferredRegisterRequestsReportToListeners) {
  Make(kModelR2T);
  driver_->Start();
  ASSERT_TRUE(listener_->WaitFrames(2));
  ASSERT_TRUE(sensor().RequestWriteRegister(0x7E, 0x12, 0x34));
  ASSERT_TRUE(listener_->WaitEvent(kEventRegisterWriteDone));
  uint8_t high = 0;
  uint8_t low = 0;
  ASSERT_TRUE(sensor().RequestReadRegister(0x7E, &high, &low));
  ASSERT_TRUE(listener_->WaitEvent(kEventRegisterReadDone));
  driver_->Stop();

  for (const RecordingListener::Event& e : listener_->Events()) {
    if (e.code != kEventRegisterWriteDone && e.code != kEventRegisterReadDone) continue;
    SCOPED_TRACE(e.code);
    EXPECT_EQ(e.record.result, 1);
    EXPECT_EQ(e.record.address, 0x7E);
    EXPECT_EQ(e.record.high, 0x12);
    EXPECT_EQ(e.record.low, 0x34);
  }
  EXPECT_EQ(head_->PeekRegister(0x7E), 0x1234u);
}

}  // namespace
}  // namespace varnel
