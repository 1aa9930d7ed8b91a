// Acquisition through the C interface against the in-process virtual head:
// snapshots in every colour class, mirror flags, odd widths, sub-sampling,
// deep samples, streaming with a callback, triggers, the state rules, buffers
// that are too small, failed starts and heads that go away. The same cases run
// on Linux and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "api/handle_registry.h"
#include "driver/camera_driver.h"
#include "instance/camera_instance.h"
#include "platform/preview_window.h"
#include "support/camera_session.h"
#include "support/test_clock.h"
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

class AcquisitionTest : public ::testing::Test {
 protected:
  // Protocol pauses (the 500 ms before a first snapshot, 8 ms after each
  // register exchange) cost almost no real time; the head keeps real time.
  SteppingClock clock_{SteppingClock::kDefaultStart, std::chrono::microseconds(100)};
  ScopedCurrentClock installed_{&clock_};
};

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

// Fault caught: mirror flags ignored, applied twice (sensor and software),
// or mirroring about the wrong axis; on the bottom-up head without mirror
// registers the flags must change nothing.
TEST_F(AcquisitionTest, MirrorFlagsFlipThePicture) {
  for (const ModelEntry& m : kModels) {
    SCOPED_TRACE(m.name);
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready());
    s.StaticScene();
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, m.code, 320, 96));
    // Each snapshot starts the stream anew, so the sensor's mirror registers
    // are in place before its first frame.
    const Picture plain = Snap(s, kMono8);
    Varnel_StopPreview(h);
    Varnel_SetMirrorH(h, 1);
    const Picture mirroredH = Snap(s, kMono8);
    Varnel_StopPreview(h);
    Varnel_SetMirrorV(h, 1);
    const Picture mirroredBoth = Snap(s, kMono8);
    Varnel_StopPreview(h);
    const bool flips = m.code != kModelHXE5;
    const int w = plain.width, hh = plain.height;
    int wrongH = 0, wrongBoth = 0;
    for (int y = 0; y < hh; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint8_t expectH = flips ? *plain.Pixel(w - 1 - x, y) : *plain.Pixel(x, y);
        const uint8_t expectBoth = flips ? *plain.Pixel(w - 1 - x, hh - 1 - y) : *plain.Pixel(x, y);
        wrongH += *mirroredH.Pixel(x, y) != expectH;
        wrongBoth += *mirroredBoth.Pixel(x, y) != expectBoth;
      }
    }
    EXPECT_EQ(wrongH, 0);
    EXPECT_EQ(wrongBoth, 0);
  }
}

// Fault caught: frame rows read at the image's stride instead of the frame's
// own pitch (a width that is not a multiple of 4 or 8 shears the picture and
// loses its last rows), in 8-bit and two-byte transfers.
TEST_F(AcquisitionTest, WidthNotAMultipleOfFour) {
  const ModelEntry models[] = {kModels[0], kModels[1], kModels[2], kModels[4], kModels[5]};
  for (const ModelEntry& m : models) {
    for (const Mode& mode : {kMono8, kMono12}) {
      SCOPED_TRACE(std::string(m.name) + " mode " + std::to_string(mode.mode));
      CameraSession s(m.code, m.type, kLetter);
      ASSERT_TRUE(s.Ready());
      s.StaticScene();
      const CameraHandle h = s.Handle();
      ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 408, 0, 0, 60), 1);
      const Picture wide = Snap(s, mode);
      Varnel_StopPreview(h);
      ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 402, 0, 0, 60), 1);
      const Picture odd = Snap(s, mode);
      ASSERT_EQ(odd.width, 402);
      int differing = 0;
      for (int y = 0; y < odd.height; ++y) {
        differing += std::memcmp(odd.Pixel(0, y), wide.Pixel(0, y),
                                 static_cast<size_t>(402 * mode.bytesPerPixel)) != 0;
      }
      EXPECT_EQ(differing, 0) << "rows that differ from the wider window's";
    }
  }
}

// Fault caught: sub-sampling that drops single samples (mixing the mosaic's
// colours), that is not applied at all (the frames arrive at full size), or
// that differs between models.
TEST_F(AcquisitionTest, SubSamplingKeepsWholeMosaicBlocks) {
  for (const ModelEntry& m : kModels) {
    SCOPED_TRACE(m.name);
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready());
    s.StaticScene();
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, m.code, 512, 128));
    const Picture full = Snap(s, kMono8, 0);
    for (int subSample : {1, 2}) {
      const int f = Factor(subSample);
      const Picture part = Snap(s, kMono8, subSample);
      ASSERT_EQ(part.width, full.width / f);
      int differing = 0;
      for (int y = 0; y < part.height; ++y) {
        for (int x = 0; x < part.width; ++x) {
          const int fx = x / 2 * 2 * f + (x & 1);
          const int fy = y / 2 * 2 * f + (y & 1);
          differing += *part.Pixel(x, y) != *full.Pixel(fx, fy);
        }
      }
      EXPECT_EQ(differing, 0) << "sub-sample " << subSample;
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
    for (int i = 0; i < 6; ++i) {
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

// Fault caught: the row-order flag taken the wrong way round (non-zero must
// give the picture's top row first), and row padding lost in the copy.
TEST_F(AcquisitionTest, RowOrderOfTheCopies) {
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 258, 0, 0, 20), 1);  // stride 776 for 258 x 3
  const Picture topFirst = Snap(s, kBgr24, 0, 1);
  Picture bottomFirst = MakePicture(258, 20, 3);
  Picture image = MakePicture(258, 20, 3);
  ASSERT_EQ(
      Varnel_GetImage(h, bottomFirst.bytes.data(), static_cast<int>(bottomFirst.bytes.size()), 0),
      1);
  ASSERT_EQ(Varnel_GetImage(h, image.bytes.data(), static_cast<int>(image.bytes.size()), 1), 1);
  EXPECT_TRUE(StampOf(topFirst).has_value());
  EXPECT_TRUE(topFirst.bytes == image.bytes);
  for (int y = 0; y < 20; ++y) {
    EXPECT_EQ(std::memcmp(bottomFirst.Pixel(0, y), image.Pixel(0, 19 - y), 776), 0) << y;
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
  enum Start { kStartPreview, kCapture, kSnapShot, kTrigger };
  struct Case {
    const char* state;
    Start start;
    int result;
  };
  const Case cases[] = {
      {"previewing", kStartPreview, 1}, {"previewing", kCapture, 0},
      {"previewing", kSnapShot, 0},     {"previewing", kTrigger, 0},
      {"capturing", kStartPreview, 0},  {"capturing", kCapture, 1},
      {"capturing", kSnapShot, 1},      {"capturing", kTrigger, 0},
      {"triggered", kStartPreview, 0},  {"triggered", kCapture, 0},
      {"triggered", kSnapShot, 0},      {"triggered", kTrigger, 0},
  };
  CameraSession s(kModelHXA1, 1, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
  auto call = [h](Start start) {
    switch (start) {
      case kStartPreview:
        return Varnel_StartPreview(h);
      case kCapture:
        return Varnel_Capture(h);
      case kSnapShot:
        return Varnel_SnapShot(h, nullptr, 0, 1);
      case kTrigger:
        return Varnel_Trigger(h, nullptr, nullptr, 0, 1);
    }
    return -1;
  };
  auto enter = [&](const std::string& state) {
    if (state == "previewing") return call(kStartPreview);
    if (state == "capturing") return call(kCapture);
    return call(kTrigger);
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.state) + " start " + std::to_string(c.start));
    ASSERT_EQ(enter(c.state), 1) << ::testing::PrintToString(s.Errors());
    EXPECT_EQ(call(c.start), c.result);
    EXPECT_TRUE(s.Errors().empty());
    // Still in the state: entering it again answers as that state does.
    EXPECT_EQ(call(c.state == std::string("previewing")  ? kStartPreview
                   : c.state == std::string("capturing") ? kCapture
                                                         : kTrigger),
              c.state == std::string("triggered") ? 0 : 1);
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

// Fault caught: a start that leaves the driver failed reported as success
// (or leaving the state changed), and no way back once the camera returns.
TEST_F(AcquisitionTest, FailedStartsSaySo) {
  enum Start { kStartPreview, kCapture, kSnapShot, kTrigger };
  for (Start start : {kStartPreview, kCapture, kSnapShot, kTrigger}) {
    SCOPED_TRACE(start);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
    auto call = [&] {
      switch (start) {
        case kStartPreview:
          return Varnel_StartPreview(h);
        case kCapture:
          return Varnel_Capture(h);
        case kSnapShot:
          return Varnel_SnapShot(h, nullptr, 0, 1);
        default:
          return Varnel_Trigger(h, nullptr, nullptr, 0, 1);
      }
    };
    s.Head().Detach();  // the camera volume cannot be opened
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(s.Errors(), std::vector<int>{kFrameReadError});
    EXPECT_EQ(PreviewWindowOf(h), nullptr);
    s.ReplaceHead();
    EXPECT_EQ(call(), 1) << ::testing::PrintToString(s.Errors());
    EXPECT_EQ(Varnel_StopPreview(h), 1);
  }
}

// Fault caught: a head that goes away making a stop hang or spin, a
// snapshot that waits for ever or reports success, and acquisition that
// cannot start again once a head is back.
TEST_F(AcquisitionTest, HeadRemovedDuringEachMode) {
  enum Mode { kPreviewing, kCapturing, kTriggered };
  for (Mode mode : {kPreviewing, kCapturing, kTriggered}) {
    SCOPED_TRACE(mode);
    CameraSession s(kModelHXA1, 1, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
    MessageSink sink;
    auto start = [&] {
      switch (mode) {
        case kPreviewing:
          return Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1);
        case kCapturing:
          return Varnel_Capture(h);
        default:
          return Varnel_Trigger(h, sink.Window(), nullptr, 0, 1);
      }
    };
    ASSERT_EQ(start(), 1);
    s.Head().Remove();
    if (mode == kCapturing) {
      // Frames read before the removal may still be handed out; then the
      // wait for a frame ends, bounded by the frame timeout.
      int taken = 0;
      while (taken < 8 && Varnel_SnapShot(h, nullptr, 0, 1) == 1) ++taken;
      EXPECT_LT(taken, 8);
      EXPECT_EQ(s.Errors(), std::vector<int>{kFrameReadError});
    }
    if (mode == kTriggered) {
      // The worker's reads fail; it pauses between them instead of spinning.
      clock_.ClearSleeps();
      for (int i = 0; i < 2000 && clock_.CountSleeps(kTriggerRetryPauseMs) < 3; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      EXPECT_GE(clock_.CountSleeps(kTriggerRetryPauseMs), 3u);
    }
    EXPECT_EQ(Varnel_StopPreview(h), 1);
    sink.Drain();
    s.ReplaceHead();
    ASSERT_EQ(start(), 1) << ::testing::PrintToString(s.Errors());
    if (mode == kPreviewing) {
      EXPECT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    }
    if (mode == kCapturing) {
      EXPECT_EQ(Varnel_SnapShot(h, nullptr, 0, 1), 1);
    }
    if (mode == kTriggered) {
      ASSERT_TRUE(s.Head().Trigger());
      EXPECT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    }
    EXPECT_EQ(Varnel_Close(h), 1);
  }
}

// Fault caught: a huge wait time that the streaming thread sleeps out, so
// that stopping or releasing hangs for it.
TEST(WaitTimeTest, StopEndsTheWait) {
  CameraSession s(kModelR2T, 5, kLetter);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  MessageSink sink;
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
  ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
  ASSERT_EQ(Varnel_SetWaitTime(h, INT_MAX), 1);
  // Long enough for the next frame to start waiting.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(Varnel_StopPreview(h), 1);
  ASSERT_EQ(Varnel_StartPreview(h), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
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
    for (int i = 0; i < 3000 && !window->ReadShown(&shown); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(window->ReadShown(&shown));
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
  HeadOptions options;
  options.framesPerSecond = 60;
  {
    CameraSession s(kModelHYD4, 6, kLetter, options);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    SceneOptions scene;
    scene.kind = SceneKind::kFlatGray;
    scene.flatLevel = 0x1000;  // dark
    scene.stampFrameNumber = false;
    scene.movingMark = false;
    s.Head().SetScene(scene);
    ASSERT_EQ(Varnel_SetFilterValue(h, 13, 16), 1);
    ASSERT_EQ(Varnel_SetAutoIris(h, 2), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    ASSERT_EQ(Varnel_StartPreview(h), 1);
    int gain = 0;
    for (int i = 0; i < 3000 && (gain = Varnel_GetFilterValue(h, 13, nullptr)) <= 63; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GT(gain, 63) << "the gain stopped at the narrow models' limit";
    EXPECT_LE(gain, 1023);
    Varnel_StopPreview(h);
  }
  {
    CameraSession s(kModelHYD4, 6, kLetter, options);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    SceneOptions scene;
    scene.kind = SceneKind::kFlatGray;
    scene.flatLevel = 0x8000;  // mid-grey at the head's reference gain and exposure
    scene.stampFrameNumber = false;
    scene.movingMark = false;
    s.Head().SetScene(scene);
    ASSERT_EQ(Varnel_SetFilterValue(h, 13, 16), 1);
    ASSERT_EQ(Varnel_SetFilterValue(h, 18, 480), 1);
    ASSERT_EQ(Varnel_SetColorMode(h, 16), 1);
    Picture picture = MakePicture(1360, 1024, 2);
    ASSERT_EQ(Varnel_SnapShot(h, picture.bytes.data(), static_cast<int>(picture.bytes.size()), 1),
              1);
    const unsigned level = picture.Sample16(680, 512) >> 8;
    ASSERT_GT(level, 100u) << "the scene must sit in the band that needs no change";
    ASSERT_LT(level, 160u);
    Varnel_StopPreview(h);
    ASSERT_EQ(Varnel_SetAutoIris(h, 2), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), nullptr, 0, 1), 1);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    EXPECT_EQ(Varnel_GetFilterValue(h, 13, nullptr), 16);
    Varnel_StopPreview(h);
  }
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
  int valid = 0;
  EXPECT_EQ(Varnel_ReadRegister(h, 0x2A, &valid), 0x1234);
  EXPECT_EQ(valid, 1);
  Varnel_StopPreview(h);
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
}  // namespace
}  // namespace varnel::testing
