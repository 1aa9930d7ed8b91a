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
