// Acquisition through the C interface against the in-process virtual head:
// snapshots in every colour class, mirror flags, odd widths, sub-sampling,
// deep samples, streaming with a callback, triggers, the state rules, buffers
// that are too small, failed starts and heads that go away. The same cases run
// on Linux and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "api/handle_registry.h"
#include "driver/camera_driver.h"
#include "instance/camera_instance.h"
#include "platform/preview_window.h"
#include "platform/resources.h"
#include "support/address_space.h"
#include "support/camera_session.h"
#include "support/test_clock.h"
#include "support/wait_until.h"
#include "support/temp_dir.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'R';
constexpr int kFrameReadError = 8;
constexpr int kMemoryError = 5;

// Bytes per pixel and significant bits of the colour modes used here.
struct Mode {
  int mode;
  int bytesPerPixel;
  int bits;  // significant bits per sample as asked
};
constexpr Mode kMono8{8, 1, 8}, kMono12{12, 2, 12}, kBgr24{24, 3, 8}, kBgr32{32, 4, 8},
    kBgr48{48, 6, 16}, kBgr64x10{640, 8, 10};

// The bits the deep samples carry: the heads of the bottom-up models send 10
// bits (the 12-bit one 12 when asked for 12), the others what was asked.
int DeliveredBits(ModelCode model, int askedBits) {
  if (model == kModelHXA1 || model == kModelHXE5 || model == kModelR2T) return 10;
  if (model == kModelHXB2) return askedBits == 12 ? 12 : 10;
  return askedBits;
}

int Factor(int subSample) { return 1 << subSample; }

// Takes one snapshot in `mode` into a buffer of exactly the image's size.
Picture Snap(CameraSession& s, const Mode& mode, int subSample = 0, int topRowFirst = 1) {
  const CameraHandle h = s.Handle();
  EXPECT_EQ(Varnel_SetColorMode(h, mode.mode), 1);
  EXPECT_EQ(Varnel_SetSubSample(h, subSample), 1);
  int width = 0, height = 0;
  AcquisitionSize(h, s.Model(), &width, &height);
  Picture p =
      MakePicture(width / Factor(subSample), height / Factor(subSample), mode.bytesPerPixel);
  EXPECT_EQ(Varnel_SnapShot(h, p.bytes.data(), static_cast<int>(p.bytes.size()), topRowFirst), 1)
      << ::testing::PrintToString(s.Errors());
  return p;
}

PreviewWindow* PreviewWindowOf(CameraHandle h) {
  CameraInstance* instance = Registry().Lookup(h);
  return instance != nullptr ? instance->PreviewWindowForTest() : nullptr;
}

// Frames the current driver of `h` has handed to the instance.
uint64_t FramesDelivered(CameraHandle h) {
  CameraInstance* instance = Registry().Lookup(h);
  CameraDriver* driver = instance != nullptr ? instance->CurrentDriver() : nullptr;
  return driver != nullptr ? driver->Counters().framesDelivered : 0;
}

// The four starts, as the state and fault tables name them.
enum Start { kStartPreview, kCapture, kSnapShot, kTrigger };
int StartWith(CameraHandle h, Start start, HWND frameWindow = nullptr) {
  switch (start) {
    case kStartPreview:
      return frameWindow ? Varnel_CallBackPreview(h, frameWindow, nullptr, 0, 1)
                         : Varnel_StartPreview(h);
    case kCapture:
      return Varnel_Capture(h);
    case kSnapShot:
      return Varnel_SnapShot(h, nullptr, 0, 1);
    default:
      return Varnel_Trigger(h, frameWindow, nullptr, 0, 1);
  }
}

class AcquisitionTest : public ::testing::Test {
 protected:
  // Protocol pauses (the 500 ms before a first snapshot, 8 ms after each
  // register exchange) cost almost no real time; the head keeps real time.
  SteppingClock clock_{SteppingClock::kDefaultStart, std::chrono::microseconds(100)};
  ScopedCurrentClock installed_{&clock_};
};

// Fault caught: a window that gives no picture (an extent of 0, or one that
// sub-sampling empties) or one the sensor cannot read accepted, to fail
// later as a memory error; a refused window or sub-sample left in place, so
// that no picture can be taken until another is set.
TEST_F(AcquisitionTest, BadWindowsAreRefusedAndTheCameraStaysUsable) {
  struct Case {
    int hStart, width, vStart, height, subSample;
    bool refused;  // always refused; the others are accepted or refused by the model
  };
  const Case cases[] = {
      {0, 0, 0, 0, 0, true},     {0, 0, 0, 64, 0, true},     {0, 256, 0, 0, 0, true},
      {0, 1, 0, 1, 0, false},    {0, 2, 0, 2, 0, false},     {4, 3, 2, 3, 0, false},
      {0, 3, 0, 3, 2, true},     {0, 4, 0, 4, 2, false},     {0, 256, 0, 64, 2, false},
      {-1, 256, 0, 64, 0, true}, {0, 256, 0, 9000, 0, true},
  };
  for (const ModelEntry& m : kModels) {
    if (!WindowSettable(m.code)) continue;
    SCOPED_TRACE(m.name);
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    for (const Case& c : cases) {
      ASSERT_EQ(Varnel_SetSubSample(h, 0), 1);
      ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
      SCOPED_TRACE(::testing::Message() << c.hStart << "+" << c.width << " x " << c.vStart << "+"
                                        << c.height << " sub-sample " << c.subSample);
      int before[6];
      Varnel_GetCaptureWindowEx(h, &before[0], &before[1], &before[2], &before[3], &before[4],
                                &before[5]);
      const int window = Varnel_SetCaptureWindowEx(h, 0, c.hStart, c.width, 0, c.vStart, c.height);
      if (window != 1) {
        EXPECT_EQ(s.Errors(), std::vector<int>{7});
        int after[6];
        Varnel_GetCaptureWindowEx(h, &after[0], &after[1], &after[2], &after[3], &after[4],
                                  &after[5]);
        EXPECT_EQ(std::vector<int>(before, before + 6), std::vector<int>(after, after + 6));
      }
      const int subSample = c.subSample == 0 ? 1 : Varnel_SetSubSample(h, c.subSample);
      if (subSample != 1) {
        EXPECT_EQ(Varnel_GetSubSample(h), 0);
      }
      if (c.refused) {
        EXPECT_FALSE(window == 1 && subSample == 1);
      }
      s.Errors();
      // Whatever happened, the camera takes a picture of the window it has.
      const int factor = Factor(Varnel_GetSubSample(h));
      Picture p = MakePicture(Varnel_Width(h) / factor, Varnel_Height(h) / factor, 1);
      EXPECT_EQ(Varnel_SnapShot(h, p.bytes.data(), static_cast<int>(p.bytes.size()), 1), 1)
          << ::testing::PrintToString(s.Errors());
      Varnel_StopPreview(h);
      EXPECT_TRUE(s.Errors().empty());
    }
  }
}

// Fault caught: a picture stored bottom row first or mirrored (the head
// stamps the frame number into the picture's top-left corner, so a stamp
// that does not read back means the picture is not upright), a class whose
// images were not prepared, or a deep class decoded with the wrong rule.
TEST_F(AcquisitionTest, SnapshotsInEveryClassAreUpright) {
  const Mode modes[] = {kMono8, kMono12, kBgr24, kBgr32, kBgr48, kBgr64x10};
  for (const ModelEntry& m : kModels) {
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready()) << m.name;
    ASSERT_TRUE(ChooseWindow(s.Handle(), m.code, 256, 64)) << m.name;
    for (const Mode& mode : modes) {
      SCOPED_TRACE(std::string(m.name) + " mode " + std::to_string(mode.mode));
      const Picture p = Snap(s, mode);
      const int bits =
          mode.bytesPerPixel == 2 || mode.bytesPerPixel >= 6 ? DeliveredBits(m.code, mode.bits) : 8;
      const std::optional<uint32_t> stamp = StampOf(p, bits);
      ASSERT_TRUE(stamp.has_value());
      EXPECT_GT(*stamp, 0u);
      EXPECT_LE(*stamp, s.Head().LastDeliveredFrame());
    }
  }
}

// Fault caught: a colour picture demosaicked with the wrong mosaic phase
// (red and blue swapped, or green taken for them), also after sub-sampling,
// which keeps the phase only when it drops whole 2 x 2 blocks.
TEST_F(AcquisitionTest, ColoursKeepTheirPlaceWithAndWithoutSubSampling) {
  for (const ModelEntry& m : kModels) {
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready()) << m.name;
    SceneOptions scene;
    scene.kind = SceneKind::kFlatColor;  // red above green above blue
    scene.stampFrameNumber = false;
    scene.movingMark = false;
    s.Head().SetScene(scene);
    ASSERT_TRUE(ChooseWindow(s.Handle(), m.code, 128, 64));
    for (int subSample : {0, 1, 2}) {
      for (const Mode& mode : {kBgr24, kBgr48}) {
        SCOPED_TRACE(std::string(m.name) + " sub-sample " + std::to_string(subSample) + " mode " +
                     std::to_string(mode.mode));
        const Picture p = Snap(s, mode, subSample);
        const int x = p.width / 2, y = p.height / 2;
        const bool deep = mode.bytesPerPixel == 6;
        const unsigned blue = deep ? p.Sample16(x, y, 0) : p.Pixel(x, y)[0];
        const unsigned green = deep ? p.Sample16(x, y, 1) : p.Pixel(x, y)[1];
        const unsigned red = deep ? p.Sample16(x, y, 2) : p.Pixel(x, y)[2];
        EXPECT_GT(red, green);
        EXPECT_GT(green, blue);
      }
      Varnel_StopPreview(s.Handle());
    }
  }
}

// Fault caught, against a full unmirrored snapshot of a still scene: mirror
// flags ignored (also on the model whose sensor cannot mirror: its intake
// does), applied twice (sensor and software) or about the wrong axis;
// sub-sampling that drops single samples (mixing the mosaic's colours) or is
// not applied; rows read at the image's stride instead of the frame's pitch
// (a width not a multiple of 4 or 8 shears the picture), in one- and
// two-byte transfers.
TEST_F(AcquisitionTest, IntakeGeometry) {
  struct Case {
    const char* name;
    int width;  // of the window, at the sensor's origin
    int subSample;
    bool mirrorH, mirrorV;
    Mode mode;
  };
  const Case cases[] = {
      {"mirror H", 320, 0, true, false, kMono8},
      {"mirror both", 320, 0, true, true, kMono8},
      {"sub-sample 1", 320, 1, false, false, kMono8},
      {"sub-sample 2", 320, 2, false, false, kMono8},
      {"width 402", 402, 0, false, false, kMono8},
      {"width 402 deep", 402, 0, false, false, kMono12},
  };
  for (const ModelEntry& m : kModels) {
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready()) << m.name;
    s.StaticScene();
    const CameraHandle h = s.Handle();
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(m.name) + " " + c.name);
      // The reference: the same window a little wider, nothing mirrored.
      ASSERT_TRUE(ChooseWindow(h, m.code, 408, 96));
      Varnel_SetMirrorH(h, 0);
      Varnel_SetMirrorV(h, 0);
      const Picture plain = Snap(s, c.mode);
      Varnel_StopPreview(h);  // each start sends the sensor's mirror registers anew
      ASSERT_TRUE(ChooseWindow(h, m.code, c.width, 96));
      Varnel_SetMirrorH(h, c.mirrorH);
      Varnel_SetMirrorV(h, c.mirrorV);
      const Picture p = Snap(s, c.mode, c.subSample);
      Varnel_StopPreview(h);
      const int f = Factor(c.subSample);
      int differing = 0;
      for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
          int fx = x / 2 * 2 * f + (x & 1), fy = y / 2 * 2 * f + (y & 1);
          if (c.mirrorH) fx = p.width - 1 - fx;
          if (c.mirrorV) fy = p.height - 1 - fy;
          differing += std::memcmp(p.Pixel(x, y), plain.Pixel(fx, fy), c.mode.bytesPerPixel) != 0;
        }
      }
      EXPECT_EQ(differing, 0);
    }
  }
}

// Fault caught: deep samples decoded with the wrong rule for the model (the
// value leaves its bit depth, or its top bits are not the 8-bit picture's),
// on the model whose head only sends 8 bits too.
TEST_F(AcquisitionTest, DeepSamplesStayWithinTheirBitDepth) {
  for (const ModelEntry& m : kModels) {
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready()) << m.name;
    s.StaticScene();
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, m.code, 256, 64));
    const Picture eight = Snap(s, kMono8);
    for (int bits : {10, 12, 14, 16}) {
      SCOPED_TRACE(std::string(m.name) + " " + std::to_string(bits) + " bits");
      const Picture deep = Snap(s, Mode{bits, 2, bits});
      const int delivered = m.code == kModelHZG7 ? bits : DeliveredBits(m.code, bits);
      unsigned largest = 0;
      int differing = 0;
      for (int y = 0; y < deep.height; ++y) {
        for (int x = 0; x < deep.width; ++x) {
          const unsigned v = deep.Sample16(x, y);
          largest = std::max(largest, v);
          const int top = static_cast<int>(v >> (delivered - 8));
          differing += std::abs(top - *eight.Pixel(x, y)) > 1;
        }
      }
      EXPECT_LT(largest, 1u << bits);
      EXPECT_GE(largest, 1u << (delivered - 8)) << "a dark picture proves nothing";
      EXPECT_EQ(differing, 0);
    }
  }
}

// Fault caught: frames that stop or repeat, FrameInfo not filled (size,
// width, height, bits per pixel of the class), messages without the record's
// address, a copy in the wrong row order or incomplete.
TEST_F(AcquisitionTest, StreamingWithACallbackOnEveryModel) {
  for (const ModelEntry& m : kModels) {
    SCOPED_TRACE(m.name);
    HeadOptions options;
    options.framesPerSecond = 40;
    CameraSession s(m.code, m.type, kLetter, options);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, m.code, 320, 160));
    ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    int width = 0, height = 0;
    AcquisitionSize(h, m.code, &width, &height);
    Picture buffer = MakePicture(width, height, 3);
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), buffer.bytes.data(),
                                     static_cast<int>(buffer.bytes.size()), 1),
              1);
    uintptr_t record = 0;
    uint32_t firstStamp = 0, lastStamp = 0;
    Picture latest = MakePicture(width, height, 3);
    // At least six frames, and on until the picture has moved on: messages
    // that queued up while the test was not running can all be read within
    // one frame's time.
    for (int i = 0; i < 6 || (lastStamp == firstStamp && i < 1000); ++i) {
      const std::optional<PostedMessage> message = sink.NextOf(kFrameMessage, kEventBoundMs);
      ASSERT_TRUE(message.has_value()) << "frame " << i;
      ASSERT_NE(message->wParam, 0u);
      EXPECT_EQ(message->lParam, 0);
      if (record == 0) record = message->wParam;
      EXPECT_EQ(message->wParam, record) << "FrameInfo lives in the instance";
      ASSERT_EQ(Varnel_GetImage(h, latest.bytes.data(), static_cast<int>(latest.bytes.size()), 1),
                1);
      const std::optional<uint32_t> stamp = StampOf(latest);
      ASSERT_TRUE(stamp.has_value());
      if (i == 0) firstStamp = *stamp;
      EXPECT_GE(*stamp, lastStamp);
      lastStamp = *stamp;
    }
    EXPECT_GT(lastStamp, firstStamp) << "frames advance";
    ASSERT_EQ(Varnel_StopPreview(h), 1);
    FrameInfo info;
    std::memcpy(&info, reinterpret_cast<const void*>(record), sizeof info);
    EXPECT_EQ(info.size, 24);
    EXPECT_EQ(info.width, width);
    EXPECT_EQ(info.height, height);
    EXPECT_EQ(info.bitsPerPixel, 24);
    // After the stop the buffer holds the last frame processed, top row first.
    ASSERT_EQ(Varnel_GetImage(h, latest.bytes.data(), static_cast<int>(latest.bytes.size()), 1), 1);
    EXPECT_TRUE(buffer.bytes == latest.bytes);
    EXPECT_TRUE(s.Errors().empty());
  }
}

// Fault caught: FrameInfo's rate not counting the frames delivered, or
// counting more than the head sends.
TEST(FrameRateTest, FollowsTheDeliveredFrames) {
  constexpr double kHeadFps = 30;
  HeadOptions options;
  options.framesPerSecond = kHeadFps;
  CameraSession s(kModelR2T, 5, kLetter, options);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  MessageSink sink;
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
  const std::optional<PostedMessage> first = sink.NextOf(kFrameMessage, kEventBoundMs);
  ASSERT_TRUE(first.has_value());
  const FrameInfo* info = reinterpret_cast<const FrameInfo*>(first->wParam);
  // The test counts the frames itself over a few of the meter's windows and
  // averages what the meter reported meanwhile (once its first window ended).
  const auto start = std::chrono::steady_clock::now();
  int frames = 0;
  double rateSum = 0;
  int rateSamples = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(4500)) {
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    ++frames;
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(1500)) {
      rateSum += info->frameRate;
      ++rateSamples;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(Varnel_StopPreview(h), 1);
  ASSERT_GT(rateSamples, 0);
  const double counted = frames / seconds;
  const double rate = rateSum / rateSamples;
  EXPECT_GT(rate / 10.0, 0.65 * counted);
  EXPECT_LT(rate / 10.0, 1.35 * counted);
  EXPECT_LE(rate / 10.0, 1.1 * kHeadFps);
}

// Fault caught: a triggered frame processed or announced twice (the
// driver's own notification and the worker), announced without its size in
// FrameInfo, or not the frame the trigger made; a second worker started by a
// second trigger start; a stream left running in normal mode by a snapshot
// that never delivers a triggered frame.
TEST_F(AcquisitionTest, OneMessagePerTrigger) {
  for (const ModelEntry& m : {kModels[1], kModels[8]}) {
    SCOPED_TRACE(m.name);
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, m.code, 256, 64));
    int width = 0, height = 0;
    AcquisitionSize(h, m.code, &width, &height);
    Picture buffer = MakePicture(width, height, 1);
    // A snapshot first leaves the stream running for untriggered frames.
    ASSERT_EQ(Varnel_SnapShot(h, nullptr, 0, 1), 1);
    MessageSink sink;
    ASSERT_EQ(Varnel_Trigger(h, sink.Window(), buffer.bytes.data(),
                             static_cast<int>(buffer.bytes.size()), 1),
              1);
    EXPECT_EQ(Varnel_Trigger(h, sink.Window(), buffer.bytes.data(),
                             static_cast<int>(buffer.bytes.size()), 1),
              0);
    EXPECT_TRUE(s.Errors().empty()) << "a refused start records nothing";
    constexpr int kTriggers = 3;
    for (int t = 0; t < kTriggers; ++t) {
      ASSERT_TRUE(s.Head().Trigger()) << "the head is not waiting for triggers";
      const std::optional<PostedMessage> message = sink.NextOf(kFrameMessage, kEventBoundMs);
      ASSERT_TRUE(message.has_value()) << "trigger " << t;
      ASSERT_NE(message->wParam, 0u);
      const FrameInfo* info = reinterpret_cast<const FrameInfo*>(message->wParam);
      EXPECT_EQ(info->size, 24);
      EXPECT_EQ(info->width, width);
      EXPECT_EQ(info->height, height);
      EXPECT_EQ(info->bitsPerPixel, 8);
      EXPECT_EQ(StampOf(buffer), s.Head().LastDeliveredFrame());
    }
    ASSERT_EQ(Varnel_StopPreview(h), 1);
    // Everything posted by now is in the queue: no second message per frame.
    int frameMessages = 0;
    for (const PostedMessage& message : sink.Drain())
      frameMessages += message.message == kFrameMessage;
    EXPECT_EQ(frameMessages, 0);
    EXPECT_TRUE(s.Errors().empty());
  }
}

// Fault caught: a trigger start on a model without trigger support that
// claims success or leaves a window behind.
TEST_F(AcquisitionTest, TriggerRefusedOnOtherModels) {
  for (const ModelEntry& m : kModels) {
    if (m.code == kModelHXA1 || m.code == kModelHZG7) continue;
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready()) << m.name;
    uint8_t buffer[16] = {};
    EXPECT_EQ(Varnel_Trigger(s.Handle(), nullptr, buffer, sizeof buffer, 1), 0) << m.name;
    EXPECT_EQ(s.Errors(), std::vector<int>{11}) << m.name;
    EXPECT_EQ(PreviewWindowOf(s.Handle()), nullptr) << m.name;
  }
}

// Fault caught: a start allowed in a state that forbids it (or one that
// must succeed refused), an error code recorded for a refused start, or a
// refused start that changes the state it was refused in.
TEST_F(AcquisitionTest, StateTransitions) {
  struct Case {
    Start state;  // entered by this start
    Start start;
    int result;
  };
  const Case cases[] = {
      {kStartPreview, kStartPreview, 1}, {kStartPreview, kCapture, 0},
      {kStartPreview, kSnapShot, 0},     {kStartPreview, kTrigger, 0},
      {kCapture, kStartPreview, 0},      {kCapture, kCapture, 1},
      {kCapture, kSnapShot, 1},          {kCapture, kTrigger, 0},
      {kTrigger, kStartPreview, 0},      {kTrigger, kCapture, 0},
      {kTrigger, kSnapShot, 0},          {kTrigger, kTrigger, 0},
  };
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.state) + " then " + std::to_string(c.start));
    ASSERT_EQ(StartWith(h, c.state), 1) << ::testing::PrintToString(s.Errors());
    EXPECT_EQ(StartWith(h, c.start), c.result);
    EXPECT_TRUE(s.Errors().empty());
    // Still in the state: entering it again answers as that state does.
    EXPECT_EQ(StartWith(h, c.state), c.state == kTrigger ? 0 : 1);
    ASSERT_EQ(Varnel_StopPreview(h), 1);
  }
  // A preview while capturing makes its window, cannot start, and its
  // clean-up stops the capture.
  ASSERT_EQ(Varnel_Capture(h), 1);
  EXPECT_EQ(Varnel_Preview(h), 0);
  EXPECT_EQ(PreviewWindowOf(h), nullptr);
  EXPECT_EQ(Varnel_StartPreview(h), 1) << "back to idle";
  EXPECT_EQ(Varnel_Close(h), 1);
  EXPECT_EQ(Varnel_Close(h), 1) << "closing twice";
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: a buffer one byte below stride x height written into (or a
// frame announced after its copy failed), the (0, 5) message or error 5
// missing, and an image handed out before any frame was taken.
TEST_F(AcquisitionTest, BuffersTooSmall) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 258, 0, 0, 20), 1);
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  const int needed = StrideOf(258, 3) * 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(needed), 0x5A);

  EXPECT_EQ(Varnel_GetImage(h, buffer.data(), needed, 1), 0) << "no frame taken yet";
  EXPECT_EQ(s.Errors(), std::vector<int>{kMemoryError});
  EXPECT_EQ(Varnel_SnapShot(h, buffer.data(), needed - 1, 1), 0);
  EXPECT_EQ(s.Errors(), std::vector<int>{kMemoryError});
  EXPECT_EQ(Varnel_GetImage(h, buffer.data(), needed - 1, 1), 0);
  EXPECT_EQ(Varnel_GetImage(h, nullptr, needed, 1), 0);
  EXPECT_EQ(s.Errors(), (std::vector<int>{kMemoryError, kMemoryError}));
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }));
  EXPECT_EQ(Varnel_SnapShot(h, nullptr, 0, 1), 1) << "no buffer: the frame is taken only";
  EXPECT_EQ(Varnel_GetImage(h, buffer.data(), needed, 1), 1);
  Varnel_StopPreview(h);

  MessageSink sink;
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), buffer.data(), needed - 1, 1), 1);
  std::fill(buffer.begin(), buffer.end(), 0x5A);
  for (int i = 0; i < 3; ++i) {
    const std::optional<PostedMessage> message = sink.NextOf(kFrameMessage, kEventBoundMs);
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->wParam, 0u) << "no frame announced";
    EXPECT_EQ(message->lParam, 5);
  }
  ASSERT_EQ(Varnel_StopPreview(h), 1);
  EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](uint8_t b) { return b == 0x5A; }));
  const std::vector<int> errors = s.Errors();
  EXPECT_FALSE(errors.empty());
  EXPECT_TRUE(std::all_of(errors.begin(), errors.end(), [](int e) { return e == kMemoryError; }));
}

// Fault caught, in each mode: a start that leaves the driver failed
// reported as success (the camera volume cannot be opened); a head that goes
// away making the stop hang or the trigger worker spin (it must pause between
// failed reads), a snapshot that waits for ever or reports success; no way
// back once a head is there again.
TEST_F(AcquisitionTest, HeadFaultsInEachMode) {
  for (Start start : {kStartPreview, kCapture, kSnapShot, kTrigger}) {
    SCOPED_TRACE(start);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    MessageSink sink;
    s.Head().Detach();
    EXPECT_EQ(StartWith(h, start, sink.Window()), 0);
    EXPECT_EQ(s.Errors(), std::vector<int>{kFrameReadError});
    EXPECT_EQ(PreviewWindowOf(h), nullptr);

    s.ReplaceHead();
    ASSERT_EQ(StartWith(h, start, sink.Window()), 1) << ::testing::PrintToString(s.Errors());
    s.Head().Remove();
    if (start == kCapture || start == kSnapShot) {
      // Frames read before the removal may still be handed out; then the
      // wait for a frame ends, bounded by the frame timeout.
      int taken = 0;
      while (taken < 8 && Varnel_SnapShot(h, nullptr, 0, 1) == 1) ++taken;
      EXPECT_LT(taken, 8);
      // The snapshot's failure, and the reader's report that the frames
      // stopped when it came first.
      const std::vector<int> errors = s.Errors();
      EXPECT_GE(errors.size(), 1u);
      EXPECT_LE(errors.size(), 2u);
      for (int code : errors) EXPECT_EQ(code, kFrameReadError);
    }
    if (start == kTrigger) {
      clock_.ClearSleeps();
      EXPECT_TRUE(WaitUntil([&] { return clock_.CountSleeps(kTriggerRetryPauseMs) >= 3; }));
    }
    EXPECT_EQ(Varnel_StopPreview(h), 1);
    sink.Drain();

    s.ReplaceHead();
    ASSERT_EQ(StartWith(h, start, sink.Window()), 1) << ::testing::PrintToString(s.Errors());
    if (start == kTrigger) {
      ASSERT_TRUE(s.Head().Trigger());
    }
    if (start == kStartPreview || start == kTrigger) {
      EXPECT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    } else {
      EXPECT_EQ(Varnel_SnapShot(h, nullptr, 0, 1), 1);
    }
    EXPECT_EQ(Varnel_Close(h), 1);
  }
}

// Fault caught: frames that were read or converted and never handed out left
// out of the dropped count (the images still waiting in the output slots at
// a stop, or queued frames), so that the driver's counters stop adding up:
// every frame read is delivered or dropped once the stream has stopped.
TEST_F(AcquisitionTest, CountersAddUpAfterEveryStop) {
  for (Start start : {kStartPreview, kCapture, kSnapShot}) {
    SCOPED_TRACE(start);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    CameraDriver* driver = Registry().Lookup(h)->CurrentDriver();
    for (int round = 0; round < 3; ++round) {
      ASSERT_EQ(StartWith(h, start), 1);
      // Enough frames that every output slot holds an image nobody took.
      const uint64_t before = driver->Counters().framesRead;
      EXPECT_TRUE(WaitUntil([&] { return driver->Counters().framesRead >= before + 12; }));
      if (start != kStartPreview) {
        EXPECT_EQ(Varnel_SnapShot(h, nullptr, 0, 1), 1);
      }
      ASSERT_EQ(Varnel_StopPreview(h), 1);
      const DriverCounters c = driver->Counters();
      EXPECT_EQ(c.framesRead, c.framesDelivered + c.framesDropped)
          << "read " << c.framesRead << ", delivered " << c.framesDelivered << ", dropped "
          << c.framesDropped;
    }
  }
}

// Fault caught: a frame the path finishes after a stop began announced to
// the frame window (as 0x8002 with wParam 0, which says "no frame", or with
// a FrameInfo the stop is about to leave stale). A head that sends large
// colour frames faster than the path takes them keeps the path busy; its
// streams are stopped at random moments until the library has held such a
// frame back.
TEST_F(AcquisitionTest, FramesFinishedAfterTheStopAreNotAnnounced) {
  HeadOptions fast;
  fast.framesPerSecond = 200;
  CameraSession s(kModelHXB2, 2, kLetter, fast);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  MessageSink sink;
  clock_.ClearSleeps();
  std::mt19937 random(7);
  int stops = 0;
  EXPECT_TRUE(WaitUntil([&] {
    EXPECT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    EXPECT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
    EXPECT_EQ(Varnel_StopPreview(h), 1);
    ++stops;
    for (const PostedMessage& m : sink.Drain()) {
      if (m.message == kFrameMessage) {
        EXPECT_NE(m.wParam, 0u) << "lParam " << m.lParam;
      }
    }
    return clock_.CountSleeps(kIdleFramePauseMs) >= 1;
  }));
  std::printf("%d stops, %zu frames held back\n", stops, clock_.CountSleeps(kIdleFramePauseMs));
  EXPECT_TRUE(s.Errors().empty());
}

// A second handle on the drive of `letter`, with the camera type set.
CameraHandle SecondHandle(char16_t letter, int type) {
  const CameraHandle h = Varnel_Initialize(nullptr);
  std::vector<char> names(VARNEL_MAX_DEVICES * VARNEL_DEVICE_NAME_SIZE);
  const int count = Varnel_EnumDevice(h, names.data());
  for (int i = 0; i < count; ++i) {
    if (std::string(&names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE]) ==
        std::string(1, static_cast<char>(letter)) + ":") {
      Varnel_SetDeviceNumber(h, i);
    }
  }
  Varnel_SetCameraType(h, type);
  while (Varnel_GetLastError(h) != 0) {
  }
  return h;
}

// Fault caught: a second user (another handle, as another program would be)
// that starts or reprograms a camera someone streams from: the start
// succeeds, the camera is stopped and restarted with the second user's
// window and depth, and the first goes on reading frames of another size.
// Such a start must fail with error 2, without a command reaching the
// camera, and the first user must go on as before.
TEST_F(AcquisitionTest, OneCameraOneUser) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle first = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(first, 0, 0, 256, 0, 0, 64), 1);
  const CameraHandle second = SecondHandle(kLetter, 1);
  ASSERT_EQ(Varnel_SetCaptureWindowEx(second, 0, 0, 640, 0, 0, 480), 1);
  ASSERT_EQ(Varnel_SetColorMode(second, 12), 1);
  ASSERT_EQ(Varnel_StartPreview(first), 1);
  ASSERT_TRUE(WaitUntil([&] { return FramesDelivered(first) >= 2; }));
  const HeadStream stream = s.Head().Stream();
  s.Head().ClearLogs();
  struct Attempt {
    const char* what;
    std::function<int()> call;
  };
  MessageSink sink;
  int valid = -1;
  const Attempt attempts[] = {
      {"start preview", [&] { return Varnel_StartPreview(second); }},
      {"callback preview",
       [&] { return Varnel_CallBackPreview(second, sink.Window(), nullptr, 0, 1); }},
      {"capture", [&] { return Varnel_Capture(second); }},
      {"snapshot", [&] { return Varnel_SnapShot(second, nullptr, 0, 1); }},
      {"trigger", [&] { return Varnel_Trigger(second, sink.Window(), nullptr, 0, 1); }},
      {"register write", [&] { return Varnel_WriteRegister(second, 0x35, 9); }},
      {"register read", [&] { return Varnel_ReadRegister(second, 0x35, &valid); }},
  };
  for (const Attempt& a : attempts) {
    EXPECT_EQ(a.call(), 0) << a.what;
    EXPECT_EQ(Varnel_GetLastError(second), 2) << a.what;
    EXPECT_EQ(Varnel_GetLastError(second), 0) << a.what;
    Varnel_StopPreview(second);
  }
  EXPECT_EQ(valid, 0);
  EXPECT_TRUE(s.Head().RunLog().empty()) << "the camera was stopped or restarted";
  EXPECT_TRUE(s.Head().RegisterLog().empty()) << "the camera was reprogrammed";
  const HeadStream after = s.Head().Stream();
  EXPECT_EQ(after.streamWidth, stream.streamWidth);
  EXPECT_EQ(after.bytesPerSample, stream.bytesPerSample);
  const uint64_t delivered = FramesDelivered(first);
  EXPECT_TRUE(WaitUntil([&] { return FramesDelivered(first) > delivered + 2; }));
  EXPECT_TRUE(s.Errors().empty());

  // Once the first user stops, the camera is the second's.
  ASSERT_EQ(Varnel_StopPreview(first), 1);
  ASSERT_EQ(Varnel_StartPreview(second), 1);
  EXPECT_TRUE(WaitUntil([&] { return FramesDelivered(second) >= 1; }));
  EXPECT_EQ(s.Head().Stream().streamWidth, 640u);
  Varnel_StopPreview(second);
  Varnel_Release(second);
}

#ifdef _WIN32
// Fault caught: the claim on a virtual head attached in this process made as a
// system-wide object, so that another program with a head of its own on the
// same letter (as the test programs are when they run side by side under one
// Wine server) refused this one, or let its stream fail. The other program's
// claim is the named object the library would make, held here.
TEST_F(AcquisitionTest, AnInProcessHeadIsNotRefusedForAnotherProgramsClaim) {
  char name[64];
  std::snprintf(name, sizeof name, "Local\\VarnelSdk_Rade.Camera.%c", static_cast<char>(kLetter));
  HANDLE other = CreateMutexA(nullptr, FALSE, name);
  ASSERT_NE(other, nullptr);
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  EXPECT_EQ(Varnel_StartPreview(s.Handle()), 1);
  EXPECT_TRUE(WaitUntil([&] { return FramesDelivered(s.Handle()) >= 2; }));
  EXPECT_TRUE(s.Errors().empty());
  Varnel_StopPreview(s.Handle());
  CloseHandle(other);
}
#endif

// Fault caught: a camera that stops answering mid-stream (pulled out, its
// reads failing) never reported: frames stop, and no frame message without a
// frame, no 0x8003 and no error 8 come, so the application learns of it only
// when its own patience runs out. Frame reads that fail only now and then
// are retried without a report.
TEST_F(AcquisitionTest, AHeadThatStopsAnsweringMidStreamIsReported) {
  struct Case {
    const char* name;
    std::function<void(VirtualHead&)> fail;
    bool reported;
  };
  const Case cases[] = {
      {"removed", [](VirtualHead& head) { head.Remove(); }, true},
      {"no transfer answered",
       [](VirtualHead& head) {
         HeadFaults faults;
         faults.failAfterTransfers = 0;
         head.SetFaults(faults);
       },
       true},
      {"three failed frame reads",
       [](VirtualHead& head) {
         HeadFaults faults;
         faults.failedFrameReads = 3;
         head.SetFaults(faults);
       },
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    c.fail(s.Head());
    if (c.reported) {
      const std::optional<PostedMessage> lost = sink.NextFrameLoss(kEventBoundMs);
      ASSERT_TRUE(lost.has_value());
      EXPECT_EQ(lost->lParam, kFrameReadError);
      EXPECT_EQ(s.Errors(), std::vector<int>{kFrameReadError}) << "reported once";
    } else {
      // Frames come again after the failed reads, with nothing reported.
      const uint64_t delivered = FramesDelivered(h);
      EXPECT_TRUE(WaitUntil([&] { return FramesDelivered(h) > delivered + 3; }));
      for (const PostedMessage& m : sink.Drain()) EXPECT_NE(m.wParam, 0u);
      EXPECT_TRUE(s.Errors().empty());
    }
    Varnel_StopPreview(h);
  }
}

// Makes the n-th acquisition of one kind of resource fail, counting from
// when it is armed, as the system's refusal would.
std::atomic<int> g_failKind{-1};
std::atomic<int> g_failCountdown{0};
bool FailNthAcquisition(ResourceKind kind, size_t) {
  return static_cast<int>(kind) == g_failKind.load() && g_failCountdown.fetch_sub(1) == 1;
}

// Fault caught: memory or a thread that a start cannot have ending the
// process (an exception through the C interface, or one that ends a frame
// thread), reported with another code than 5 (memory) or 3 (thread), leaving
// the instance in a state other than Idle or something started behind (the
// next start then fails, or the sanitizer's leak check reports), in any
// model and any kind of start.
TEST_F(AcquisitionTest, EveryStartSurvivesEachAcquisitionFailing) {
  struct Case {
    ModelCode model;
    int type;
    Start start;
  };
  std::vector<Case> cases;
  for (const ModelEntry& m : kModels) {
    cases.push_back({m.code, m.type, kStartPreview});
    cases.push_back({m.code, m.type, kSnapShot});
  }
  cases.push_back({kModelHXA1, 1, kCapture});
  cases.push_back({kModelHXA1, 1, kTrigger});
  const ResourceFailureHook previous = SetResourceFailureHook(FailNthAcquisition);
  int failures = 0;
  for (const Case& c : cases) {
    CameraSession s(c.model, c.type, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    MessageSink sink;
    for (const ResourceKind kind : {ResourceKind::kMemory, ResourceKind::kThread}) {
      const int code = kind == ResourceKind::kMemory ? 5 : 3;
      for (int n = 1;; ++n) {
        SCOPED_TRACE(::testing::Message() << c.type << " start " << c.start << ": "
                                          << (code == 5 ? "memory" : "thread") << " #" << n);
        g_failCountdown.store(n);
        g_failKind.store(static_cast<int>(kind));
        // With a frame window a preview opens its window too.
        const int result = StartWith(h, c.start, sink.Window());
        g_failKind.store(-1);
        const bool failedOne = g_failCountdown.load() <= 0;
        if (!failedOne) {
          // Past the last acquisition of this kind: the start worked.
          EXPECT_EQ(result, 1) << ::testing::PrintToString(s.Errors());
          Varnel_StopPreview(h);
          break;
        }
        ++failures;
        EXPECT_EQ(result, 0);
        EXPECT_EQ(s.Errors(), std::vector<int>{code});
        Varnel_StopPreview(h);
        // With everything to be had again, the same start works.
        ASSERT_EQ(StartWith(h, c.start, sink.Window()), 1) << ::testing::PrintToString(s.Errors());
        if (c.start == kStartPreview) {
          const uint64_t before = FramesDelivered(h);
          EXPECT_TRUE(WaitUntil([&] { return FramesDelivered(h) > before; }));
        }
        EXPECT_EQ(Varnel_StopPreview(h), 1);
        EXPECT_TRUE(s.Errors().empty());
        sink.Drain();
      }
    }
  }
  SetResourceFailureHook(previous);
  std::printf("%d failed acquisitions, each in a start that then worked\n", failures);
}

// Fault caught: a huge wait time that the streaming thread sleeps out, so
// that stopping or releasing hangs for it.
TEST(WaitTimeTest, StopEndsTheWait) {
  CameraSession s(kModelR2T, 5, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  MessageSink sink;
  // Frames that reach the path after the wait time changed wait it out: the
  // reader has delivered some once it read a few more than the path took.
  auto awaitWaitingFrames = [&] {
    const uint64_t before = s.Head().Counters().frameReads;
    return WaitUntil([&] { return s.Head().Counters().frameReads > before + 3; });
  };
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
  ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
  ASSERT_EQ(Varnel_SetWaitTime(h, INT_MAX), 1);
  ASSERT_TRUE(awaitWaitingFrames());
  EXPECT_EQ(Varnel_StopPreview(h), 1);
  ASSERT_EQ(Varnel_StartPreview(h), 1);
  ASSERT_TRUE(awaitWaitingFrames());
}  // Release stops a path waiting out INT_MAX milliseconds.

// Fault caught: the preview window not showing the frame the instance
// processed (rows reversed, or not drawn), a child window ignoring its
// placement, a window left after Close.
TEST_F(AcquisitionTest, PreviewWindowShowsTheFrame) {
  CameraSession s(kModelR2T, 5, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 320, 0, 0, 200), 1);
  s.StaticScene();
  for (int mode : {8, 24}) {
    SCOPED_TRACE(mode);
    ASSERT_EQ(Varnel_SetColorMode(h, mode), 1);
    ASSERT_EQ(Varnel_Preview(h), 1);
    PreviewWindow* window = PreviewWindowOf(h);
    ASSERT_NE(window, nullptr);
    ShownPicture shown;
    ASSERT_TRUE(WaitUntil([&] { return window->ReadShown(&shown); }));
    const int bytes = mode / 8;
    Picture image = MakePicture(320, 200, bytes);
    ASSERT_EQ(Varnel_GetImage(h, image.bytes.data(), static_cast<int>(image.bytes.size()), 1), 1);
    ASSERT_EQ(shown.width, 320);
    ASSERT_EQ(shown.height, 200);
    ASSERT_EQ(shown.bitCount, mode);
    int differing = 0;
    for (int y = 0; y < 200; ++y) {
      differing += std::memcmp(shown.pixels.data() + static_cast<size_t>(y) * shown.stride,
                               image.Pixel(0, y), static_cast<size_t>(320 * bytes)) != 0;
    }
    EXPECT_EQ(differing, 0);
    ASSERT_EQ(Varnel_Close(h), 1);
    EXPECT_EQ(PreviewWindowOf(h), nullptr);
  }
  // A child window takes the placement as given; the frame is scaled to it.
  int parentStandIn = 0;
  ASSERT_EQ(Varnel_SetPreviewWindow(h, reinterpret_cast<HWND>(&parentStandIn), 10, 20, 160, 100),
            1);
#ifndef _WIN32
  ASSERT_EQ(Varnel_Preview(h), 1);
  int width = 0, height = 0;
  ASSERT_TRUE(PreviewWindowOf(h)->ClientSize(&width, &height));
  EXPECT_EQ(width, 160);
  EXPECT_EQ(height, 100);
  EXPECT_EQ(Varnel_Close(h), 1);
#endif
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: automatic exposure clamping every model's gain to 0..63
// (the wide-gain models go to 1023), and measuring deep frames on bits 2..9
// (a mid-grey 16-bit frame then looks random and the gain wanders).
TEST(AutoExposureTest, FollowsTheSensorsRangeAndBitDepth) {
  struct Case {
    const char* name;
    uint16_t level;  // flat grey, at the stored gain 128 and exposure 64
    int mode;
    bool rises;  // dark: the gain climbs from 128; mid-grey: it stays
  };
  const Case cases[] = {{"dark, 8 bits", 0x1000, 8, true},
                        {"mid-grey, 16 bits", 0x8000, 16, false}};
  HeadOptions options;
  options.framesPerSecond = 60;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(kModelHYD4, 6, kLetter, options);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    SceneOptions scene;
    scene.kind = SceneKind::kFlatGray;
    scene.flatLevel = c.level;
    scene.stampFrameNumber = false;
    scene.movingMark = false;
    s.Head().SetScene(scene);
    const int stored = Varnel_GetFilterValue(h, 13, nullptr);
    ASSERT_EQ(stored, 128);
    ASSERT_EQ(Varnel_SetColorMode(h, c.mode), 1);
    ASSERT_EQ(Varnel_SetAutoIris(h, 2), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    int gain = stored;
    for (int frames = 0; frames < (c.rises ? 300 : 10) && gain <= stored; ++frames) {
      ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
      gain = Varnel_GetFilterValue(h, 13, nullptr);
    }
    if (c.rises) {
      EXPECT_GT(gain, stored) << "the gain held at the narrow models' limit";
      EXPECT_LE(gain, 1023);
    } else {
      EXPECT_EQ(gain, stored);
    }
    Varnel_StopPreview(h);
  }
}

// Fault caught: a snapshot after a setting change handing out a frame the
// camera took before it (the stream a snapshot leaves running queues frames),
// so the picture shows the old exposure, gain or mirror.
TEST_F(AcquisitionTest, SnapshotAfterASettingChangeShowsIt) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  SceneOptions scene;
  scene.kind = SceneKind::kFlatGray;
  scene.flatLevel = 0x8000;  // 128 at the stored gain and exposure
  scene.stampFrameNumber = false;
  scene.movingMark = false;
  s.Head().SetScene(scene);
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, kModelHXA1, 256, 64));
  auto mean = [](const Picture& p) {
    double sum = 0;
    for (int y = 0; y < p.height; ++y) {
      for (int x = 0; x < p.width; ++x) sum += *p.Pixel(x, y);
    }
    return sum / (double(p.width) * p.height);
  };
  EXPECT_NEAR(mean(Snap(s, kMono8)), 128, 8);
  const int exposure = Varnel_GetFilterValue(h, 18, nullptr);
  struct Change {
    int id, value;
    double expected;
  };
  const Change changes[] = {{18, exposure / 2, 64}, {18, exposure, 128}, {18, exposure / 4, 32}};
  for (const Change& c : changes) {
    SCOPED_TRACE(std::to_string(c.id) + " = " + std::to_string(c.value));
    // The stream the first snapshot left running fills the slots meanwhile.
    const uint32_t queued = s.Head().LastDeliveredFrame() + 8;
    ASSERT_TRUE(WaitUntil([&] { return s.Head().LastDeliveredFrame() >= queued; }));
    ASSERT_EQ(Varnel_SetFilterValue(h, c.id, c.value), 1);
    EXPECT_NEAR(mean(Snap(s, kMono8)), c.expected, 8);
  }
  EXPECT_EQ(s.Errors(), std::vector<int>{});
}

// Fault caught: a register read answered from the deferred-request record
// only while previewing, so that it fails while capturing.
TEST(RegisterTest, ReadWhileCapturing) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
  ASSERT_EQ(Varnel_Capture(h), 1);
  s.Head().PokeRegister(0x2A, 0x1234);
  // The reader answers a deferred read within the library's pause only when
  // it gets the processor in time; on a loaded machine or under a sanitizer
  // it may not, which the interface reports as a failed read (error 6). Ask
  // again until one is answered: with the fault, none ever is while capturing.
  int value = 0;
  int valid = 0;
  EXPECT_TRUE(WaitUntil([&] {
    value = Varnel_ReadRegister(h, 0x2A, &valid);
    return valid == 1;
  }));
  EXPECT_EQ(value, 0x1234);
  Varnel_StopPreview(h);
  for (const int code : s.Errors()) EXPECT_EQ(code, 6);
}

// Fault caught: frame buffers sized for two-byte samples whatever the
// transfer (and a scratch buffer as large), and an engine buffer a stream
// never uses, so that a 32-bit process beside a large application (here one
// that leaves it 1100 MiB of address space) cannot stream two HWH8 heads at
// full size at once: the second start runs out of address space. Prints the
// address space each stream takes.
TEST(BufferSizeTest, TwoHwh8HeadsStreamAtFullSizeAtOnce) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "the limit shown is the 32-bit address space";
  CameraSession a(kModelHWH8, 0, u'R');
  CameraSession b(kModelHWH8, 0, u'S');
  ASSERT_TRUE(a.Ready() && b.Ready());
  const uint64_t before = AddressSpaceFree();
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  AddressSpaceHold application(1100 * kMiB);
  std::vector<uint64_t> free{AddressSpaceFree()};
  for (CameraSession* s : {&a, &b}) {
    const CameraHandle h = s->Handle();
    ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 5000, 0, 5000, 8192, 0, 8192), 1);
    ASSERT_EQ(Varnel_StartPreview(h), 1) << ::testing::PrintToString(s->Errors());
    EXPECT_TRUE(WaitUntil([&] { return FramesDelivered(h) >= 2; }));
    free.push_back(AddressSpaceFree());
  }
  std::printf(
      "address space free: %llu MiB, %llu MiB beside the application; the first "
      "HWH8 stream (5000 x 8192, 8 bits) took %llu MiB, the second %llu MiB\n",
      static_cast<unsigned long long>(before / kMiB),
      static_cast<unsigned long long>(free[0] / kMiB),
      static_cast<unsigned long long>((free[0] - free[1]) / kMiB),
      static_cast<unsigned long long>((free[1] - free[2]) / kMiB));
  Varnel_StopPreview(a.Handle());
  Varnel_StopPreview(b.Handle());
  EXPECT_TRUE(a.Errors().empty());
  EXPECT_TRUE(b.Errors().empty());
}

// Whether the head has seen a register command on `address` since its logs
// were cleared.
bool HeadSawRegister(VirtualHead& head, uint32_t address, bool write) {
  for (const RegisterExchange& e : head.RegisterLog()) {
    if (e.address == address && e.write == write) return true;
  }
  return false;
}

// Fault caught: a register read or write deferred to a streaming camera's
// reader that fails (no answer, an exhausted poll budget, a refusal, a late
// answer, a removed head) reported as done: a read giving 0 with *valid = 1
// (the failed exchange's bytes taken for an answer), a write failing later
// with nothing recorded.
TEST(RegisterTest, DeferredRequestsReportEveryFailure) {
  struct Case {
    const char* name;
    std::function<void(VirtualHead&)> fail;
    bool logged;  // the head logs the refused command
  };
  auto faults = [](auto set) {
    return [set](VirtualHead& head) {
      HeadFaults faults;
      set(faults);
      head.SetFaults(faults);
    };
  };
  const Case cases[] = {
      {"no answer", faults([](HeadFaults& f) { f.statusZero = true; }), true},
      {"stuck busy", faults([](HeadFaults& f) { f.statusStuckBusy = true; }), true},
      {"refused", faults([](HeadFaults& f) {
         f.refusedRegisters = {0x2A, 0x2B};
       }),
       true},
      {"late answer", faults([](HeadFaults& f) { f.answerDelayMs = 400; }), true},
      {"removed", [](VirtualHead& head) { head.Remove(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    s.Head().PokeRegister(0x2A, 0);
    c.fail(s.Head());
    s.Head().ClearLogs();
    // The reader takes the read only when it gets the processor within the
    // library's pause; ask until the head has seen one (a removed head sees
    // nothing: a few reads then). Every one must fail.
    int reads = 0;
    EXPECT_TRUE(WaitUntil([&] {
      int valid = -1;
      EXPECT_EQ(Varnel_ReadRegister(h, 0x2A, &valid), 0);
      EXPECT_EQ(valid, 0);
      // A removed head also stops the frames, which is reported too (8).
      const std::vector<int> errors = s.Errors();
      EXPECT_EQ(std::count(errors.begin(), errors.end(), 6), 1) << ::testing::PrintToString(errors);
      EXPECT_EQ(std::count(errors.begin(), errors.end(), 8) + 1, errors.size());
      return c.logged ? HeadSawRegister(s.Head(), 0x2A, false) : ++reads == 5;
    }));
    // A write is accepted at once and made between frames; its failure then
    // comes as error 6.
    EXPECT_EQ(Varnel_WriteRegister(h, 0x2B, 0x1234), 1);
    EXPECT_TRUE(WaitUntil([&] {
      const int code = Varnel_GetLastError(h);
      EXPECT_TRUE(code == 0 || code == 6 || code == 8) << code;
      return code == 6;
    }));
    Varnel_StopPreview(h);
  }
}

// Fault caught: a deferred write that never reaches the camera because the
// stream stopped first, reported as done.
TEST(RegisterTest, WritesAcceptedWhileStreamingAreMadeBeforeTheStop) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
  ASSERT_EQ(Varnel_StartPreview(h), 1);
  for (int address = 0x40; address < 0x48; ++address) {
    ASSERT_EQ(Varnel_WriteRegister(h, address, 0x100 + address), 1);
  }
  Varnel_StopPreview(h);
  for (int address = 0x40; address < 0x48; ++address) {
    EXPECT_EQ(s.Head().PeekRegister(static_cast<uint32_t>(address)), 0x100u + address) << address;
  }
  EXPECT_TRUE(s.Errors().empty());
}

// Fault caught: a camera type or device change that leaves the old driver
// streaming into the instance (and, after release, into freed memory).
TEST_F(AcquisitionTest, ChangingTypeOrDeviceStopsFirst) {
  for (bool device : {false, true}) {
    SCOPED_TRACE(device ? "device" : "type");
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    CameraDriver* streaming = Registry().Lookup(h)->CurrentDriver();
    if (device) {
      ASSERT_EQ(Varnel_SetDeviceNumber(h, 0), 1);
    } else {
      ASSERT_EQ(Varnel_SetCameraType(h, 2), 1);
    }
    EXPECT_NE(streaming->GetState(), kDriverRunning);
    EXPECT_EQ(Varnel_GetCameraType(h, 0), device ? 1 : 2);
  }
}

// Fault caught: a saved file that is not the frame GetImage hands out (a
// torn or stale copy, rows in the wrong order); a save that fails reported
// as success, or recorded by a code for some of the caller's mistakes and
// not for others (an empty name, an unknown format).
TEST_F(AcquisitionTest, SaveImageWritesTheFrame) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_TRUE(ChooseWindow(h, s.Model(), 258, 20));
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  const std::filesystem::path directory = UniqueTempDirectory("varnel-api-save");
  ASSERT_FALSE(directory.empty());
  std::string name = (directory / "save.bmp").string();
  std::string missing =
      (std::filesystem::temp_directory_path() / "varnel-no-such-dir" / "x.bmp").string();
  std::string empty;
  EXPECT_EQ(Varnel_SaveImage(h, name.data(), VARNEL_FILE_BMP), 0) << "no frame yet";
  EXPECT_EQ(s.Errors(), (std::vector<int>{kMemoryError}));
  const Picture image = Snap(s, kBgr24, 0, 0);  // bottom row first, as a BMP keeps them
  struct Case {
    const char* what;
    char* name;
    int format;
    std::vector<int> errors;
  };
  const Case failures[] = {
      {"null name", nullptr, VARNEL_FILE_BMP, {9}},
      {"empty name", empty.data(), VARNEL_FILE_PNG, {9}},
      {"unknown format", name.data(), 7, {9}},
      {"negative format", name.data(), -1, {9}},
      {"missing directory", missing.data(), VARNEL_FILE_TIFF, {}},
  };
  for (const Case& c : failures) {
    EXPECT_EQ(Varnel_SaveImage(h, c.name, c.format), 0) << c.what;
    EXPECT_EQ(s.Errors(), c.errors) << c.what;
  }
  ASSERT_EQ(Varnel_SaveImage(h, name.data(), VARNEL_FILE_BMP), 1);
  std::ifstream file(name, std::ios::binary);
  const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
  file.close();
  std::filesystem::remove_all(directory);
  ASSERT_GE(bytes.size(), image.bytes.size());
  const uint32_t offset = bytes[10] | bytes[11] << 8 | bytes[12] << 16 | uint32_t{bytes[13]} << 24;
  ASSERT_EQ(offset + image.bytes.size(), bytes.size());
  EXPECT_TRUE(std::equal(image.bytes.begin(), image.bytes.end(), bytes.begin() + offset));
}

}  // namespace
}  // namespace varnel::testing
