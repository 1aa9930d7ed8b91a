// Acquisition while the application changes things from its own thread: the
// frame threads (the driver's dispatcher, the trigger worker) read what the
// application writes. These cases run under ThreadSanitizer and
// AddressSanitizer, which report the races and the stale buffers; the
// checks here state what the application sees.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "support/camera_session.h"
#include "support/steady_triggers.h"
#include "support/test_clock.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'T';

HeadOptions Fast() {
  HeadOptions options;
  options.framesPerSecond = 120;
  return options;
}

// Waits for `count` frame messages; false when they do not come.
bool AwaitFrames(MessageSink& sink, int count) {
  for (int i = 0; i < count; ++i) {
    if (!sink.NextOf(kFrameMessage, kEventBoundMs)) return false;
  }
  return true;
}

// Fault caught: the frame thread reading the out buffer, size and window
// while the application replaces them (a torn read copies a frame into a
// buffer the application has freed after the call returned).
TEST(AcquisitionThreadsTest, CallbackBufferReplacedWhileStreaming) {
  CameraSession s(kModelR2T, 5, kLetter, Fast());
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 320, 0, 0, 64), 1);
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  const int size = StrideOf(320, 1) * 64;
  MessageSink sink;
  auto buffer = std::make_unique<std::vector<uint8_t>>(size);
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), buffer->data(), size, 1), 1);
  for (int round = 0; round < 12; ++round) {
    ASSERT_TRUE(AwaitFrames(sink, 1));
    auto next = std::make_unique<std::vector<uint8_t>>(size);
    // Previewing already: the call stores the new target and returns 1.
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), next->data(), size, round & 1), 1);
    buffer = std::move(next);  // the old buffer is freed at once
  }
  ASSERT_EQ(Varnel_StopPreview(h), 1);
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: the colour class, bit depth and sub-sample read live by the
// frame path while the images were made for the format prepared at the
// start (an 8-bit preview switched to 48 or 64 bits overflows the heap), and
// a second snapshot after a mode change taken from a stream still running in
// the old transfer format.
TEST(AcquisitionThreadsTest, ModeChangesWhileFramesFlow) {
  CameraSession s(kModelHXA1, 1, kLetter, Fast());
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  MessageSink sink;
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
  for (int mode : {48, 64, 10, 24, 8}) {
    ASSERT_EQ(Varnel_SetColorMode(h, mode), 1);
    ASSERT_EQ(Varnel_SetSubSample(h, mode == 10 ? 1 : 0), 1);
    ASSERT_TRUE(AwaitFrames(sink, 2)) << mode;
  }
  const std::optional<PostedMessage> message = sink.NextOf(kFrameMessage, kEventBoundMs);
  ASSERT_TRUE(message.has_value());
  ASSERT_EQ(Varnel_StopPreview(h), 1);
  const FrameInfo* info = reinterpret_cast<const FrameInfo*>(message->wParam);
  EXPECT_EQ(info->bitsPerPixel, 8) << "the prepared class holds until the next start";
  EXPECT_EQ(info->width, 256);

  Picture eight = MakePicture(256, 64, 1);
  ASSERT_EQ(Varnel_SetColorMode(h, 8), 1);
  ASSERT_EQ(Varnel_SnapShot(h, eight.bytes.data(), static_cast<int>(eight.bytes.size()), 1), 1);
  ASSERT_EQ(Varnel_SetColorMode(h, 48), 1);
  Picture deep = MakePicture(256, 64, 6);
  ASSERT_EQ(Varnel_SnapShot(h, deep.bytes.data(), static_cast<int>(deep.bytes.size()), 1), 1);
  EXPECT_TRUE(StampOf(deep, 10).has_value()) << "a deep picture from a deep stream";
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: GetImage copying the class image while the frame thread
// rewrites it (every copy must be one whole frame).
TEST(AcquisitionThreadsTest, GetImageWhilePreviewing) {
  CameraSession s(kModelR2T, 5, kLetter, Fast());
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  MessageSink sink;
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
  ASSERT_TRUE(AwaitFrames(sink, 1));
  Picture picture = MakePicture(752, 480, 1);
  uint32_t previous = 0;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Varnel_GetImage(h, picture.bytes.data(), static_cast<int>(picture.bytes.size()), 1),
              1);
    const std::optional<uint32_t> stamp = StampOf(picture);
    ASSERT_TRUE(stamp.has_value()) << i;
    EXPECT_GE(*stamp, previous);
    previous = *stamp;
  }
  ASSERT_EQ(Varnel_StopPreview(h), 1);
}

// Fault caught: settings the frame threads read (filters, mirror, automatic
// exposure, wait time) and the error stack they push to, changed and popped
// by the application meanwhile without any guard.
TEST(AcquisitionThreadsTest, SettingsAndErrorsWhileStreaming) {
  CameraSession s(kModelHXA1, 1, kLetter, Fast());
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  // Too small a buffer: every frame records error 5 on the frame thread.
  std::vector<uint8_t> buffer(16);
  MessageSink sink;
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), buffer.data(), 16, 1), 1);
  int popped = 0;
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Varnel_SetFilterValue(h, 11, 80 + i % 40), 1);  // gamma
    ASSERT_EQ(Varnel_SetFilterValue(h, 10, 1), 1);            // one automatic white balance
    ASSERT_EQ(Varnel_SetAutoIris(h, i % 3), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, i % 2), 1);
    Varnel_SetMirrorH(h, i & 1);
    ASSERT_TRUE(AwaitFrames(sink, 1));
    for (int code; (code = Varnel_GetLastError(h)) != 0; ++popped) EXPECT_EQ(code, 5);
  }
  ASSERT_EQ(Varnel_StopPreview(h), 1);
  EXPECT_GT(popped, 0);
}

// Fault caught: a stop that gives the frame engine back while the trigger
// worker still reads into it (or that waits out the whole frame timeout),
// and a release of a triggered handle.
TEST(AcquisitionThreadsTest, StopAndReleaseWhileTheWorkerWaits) {
  for (bool release : {false, true}) {
    auto s = std::make_unique<CameraSession>(kModelHZG7, 8, kLetter);
    ASSERT_TRUE(s->Ready());
    const CameraHandle h = s->Handle();
    MessageSink sink;
    ASSERT_EQ(Varnel_Trigger(h, sink.Window(), nullptr, 0, 1), 1);
    ASSERT_TRUE(s->Head().Trigger());
    ASSERT_TRUE(AwaitFrames(sink, 1));
    // The worker is back in its wait for the next trigger.
    if (release) {
      s.reset();
    } else {
      EXPECT_EQ(Varnel_StopPreview(h), 1);
      EXPECT_TRUE(s->Errors().empty());
    }
  }
}

// The in-process head's trigger input.
class HeadTriggerInput : public TriggerInput {
 public:
  explicit HeadTriggerInput(VirtualHead& head) : head_(head) {}
  bool Armed() override { return head_.Stream().triggerMode; }
  void Start(double hz, uint64_t count) override { head_.StartTriggers(hz, count); }
  TriggerCounters Counts() override { return head_.TriggerStats(); }

 private:
  VirtualHead& head_;
};

// Fault caught: a triggered frame lost while settings change: the changes
// (automatic exposure's on most frames, the application's from its own
// thread) sent by stopping and restarting the camera, which throws away a
// frame triggered meanwhile, or sent while a stopped camera misses a
// trigger; a trigger start that leaves every trigger source masked off; a
// frame read twice or announced twice.
//
// The head and the library share a clock that only the library's pauses
// move (the 8 ms after each register exchange, the 16 ms between frame-ready
// polls), so the triggers come at a steady rate measured in those pauses,
// the same on any machine: 140 ms apart, more than the most the changes can
// take between two frames (128 ms on HXA1: four hooks of 24 to 40 ms), so a
// library that keeps every triggered frame keeps up; and less than the
// changes plus a stop and restart take after a frame is read (HXA1) or
// than the read-out of the frame plus those (HZG7: 108 ms), so a library
// that restarts the camera loses triggers.
TEST(AcquisitionThreadsTest, SteadyTriggersWhileSettingsChange) {
  struct Case {
    ModelEntry model;
    SteadyTriggerPlan plan;
  };
  const Case cases[] = {
      {kModels[1], {2, 256, 64, 1000.0 / 140, 24, {20, 40}, {800, 1400}}},
      {kModels[8], {1, 2456, 2038, 1000.0 / 140, 24, {20, 40}, {300, 600}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model.name);
    SteppingClock clock(SteppingClock::kDefaultStart, std::chrono::microseconds(100));
    ScopedCurrentClock installed(&clock);
    HeadOptions options;
    options.clock = &clock;
    CameraSession s(c.model.code, c.model.type, kLetter, options);
    EXPECT_TRUE(s.Ready());
    EXPECT_TRUE(ChooseWindow(s.Handle(), s.Model(), c.plan.width, c.plan.height));
    HeadTriggerInput input(s.Head());
    RunSteadyTriggers(s.Handle(), input, c.plan);
    // Each triggered frame read once, in the order of the triggers.
    const std::vector<TriggeredFrame> frames = s.Head().TriggeredFrames();
    EXPECT_EQ(frames.size(), static_cast<size_t>(c.plan.triggers));
    for (size_t i = 1; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].number, frames[i - 1].number + 1) << i;
      EXPECT_GE(frames[i].readUs, frames[i - 1].readUs) << i;
    }
    EXPECT_EQ(s.Errors(), std::vector<int>{});
  }
}

// Fault caught: releasing a handle whose stream still delivers into it.
TEST(AcquisitionThreadsTest, ReleaseWhileStreaming) {
  for (int model : {0, 1}) {
    auto s = std::make_unique<CameraSession>(model == 0 ? kModelR2T : kModelHXA1,
                                             model == 0 ? 5 : 1, kLetter, Fast());
    ASSERT_TRUE(s->Ready());
    const CameraHandle h = s->Handle();
    ASSERT_TRUE(ChooseWindow(h, s->Model(), 256, 64));
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    MessageSink sink;
    std::vector<uint8_t> buffer(752 * 480);
    ASSERT_EQ(
        Varnel_CallBackPreview(h, sink.Window(), buffer.data(), static_cast<int>(buffer.size()), 1),
        1);
    ASSERT_TRUE(AwaitFrames(sink, 2));
    s.reset();  // releases the handle while frames flow
  }
}

}  // namespace
}  // namespace varnel::testing
