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
    if (WindowSettable(m.code)) {
      ASSERT_EQ(Varnel_SetCaptureWindowEx(s.Handle(), 0, 0, 256, 0, 0, 64), 1) << m.name;
    }
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
    if (WindowSettable(m.code)) {
      ASSERT_EQ(Varnel_SetCaptureWindowEx(s.Handle(), 0, 0, 128, 0, 0, 64), 1);
    }
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
    if (WindowSettable(m.code)) ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 320, 0, 0, 96), 1);
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
    if (WindowSettable(m.code)) ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 512, 0, 0, 128), 1);
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
    if (WindowSettable(m.code)) ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 256, 0, 0, 64), 1);
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
    if (WindowSettable(m.code)) ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, 320, 0, 0, 160), 1);
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
  // The test counts the frames itself over a few of the meter's windows.
  const auto start = std::chrono::steady_clock::now();
  int frames = 0;
  int rate = 0;
  while (std::chrono::steady_clock::now() - start < std::chrono::milliseconds(3500)) {
    ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
    ++frames;
    rate = info->frameRate;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_EQ(Varnel_StopPreview(h), 1);
  const double counted = frames / seconds;
  EXPECT_GT(rate / 10.0, 0.7 * counted);
  EXPECT_LT(rate / 10.0, 1.3 * counted);
  EXPECT_LE(rate / 10.0, 1.1 * kHeadFps);
}

}  // namespace
}  // namespace varnel::testing
