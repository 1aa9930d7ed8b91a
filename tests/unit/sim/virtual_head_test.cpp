// The virtual head as a camera: what its registers do to the frames it
// delivers, its read-out orders, deep encoding, frame pacing and trigger mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "support/test_clock.h"
#include "device/sector_protocol.h"
#include "sim/virtual_head.h"

namespace varnel {
namespace {

using testing::SteppingClock;

class HeadTest : public ::testing::Test {
 protected:
  std::shared_ptr<VirtualHead> Make(ModelCode model, bool monochrome = false) {
    HeadOptions options;
    options.clock = &clock_;
    options.framesPerSecond = 50;
    options.monochrome = monochrome;
    head_ = std::make_shared<VirtualHead>(model, options);
    protocol_.SetVolume(head_.get());
    return head_;
  }

  // A plain scene without overlays, so that every sample is the scene's.
  void PlainScene(SceneKind kind, uint16_t level = 0x8000) {
    SceneOptions scene;
    scene.kind = kind;
    scene.flatLevel = level;
    scene.movingMark = false;
    scene.stampFrameNumber = false;
    head_->SetScene(scene);
  }

  // Puts the window registers of the window models to (x, y, w, h) on the
  // sensor, as the host's window hooks do.
  void Window(uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    if (head_->model() == kModelHXA1) {
      head_->PokeRegister(1, y + 20), head_->PokeRegister(2, x + 32);
    } else if (head_->model() == kModelHXB2) {
      head_->PokeRegister(1, y + 54), head_->PokeRegister(2, x + 16);
    } else if (head_->model() == kModelR2T) {
      head_->PokeRegister(2, y), head_->PokeRegister(1, x);
    }
    head_->PokeRegister(3, h - 1), head_->PokeRegister(4, w - 1);
  }

  void Run(uint32_t width, uint32_t height, bool eightBit = true, int depthCode = 0,
           bool trigger = false) {
    StreamSettings settings;
    settings.run = true;
    settings.width = static_cast<uint16_t>(width);
    settings.height = static_cast<uint16_t>(height);
    settings.eightBitTransfer = eightBit;
    settings.bitDepthCode = depthCode;
    settings.triggerMode = trigger;
    protocol_.StartStream(settings);
  }

  std::vector<uint8_t> ReadFrame(bool areaB) {
    const uint32_t bytes = head_->Stream().frameBytes;
    const uint32_t sectors = (bytes + kSectorSize - 1) / kSectorSize;
    std::vector<uint8_t> frame(sectors * kSectorSize);
    EXPECT_EQ(protocol_.ReadFrame(areaB, frame.data(), sectors), frame.size());
    frame.resize(bytes);
    return frame;
  }

  SteppingClock clock_;
  testing::ScopedCurrentClock installed_{&clock_};
  std::shared_ptr<VirtualHead> head_;
  SectorProtocol protocol_;
};

TEST_F(HeadTest, RunAndStopTakeTheGeometryOfTheControlSector) {
  Make(kModelHZF6);
  Run(800, 600, false, 2);
  HeadStream stream = head_->Stream();
  EXPECT_TRUE(stream.running);
  EXPECT_EQ(stream.streamWidth, 800u);
  EXPECT_EQ(stream.streamHeight, 600u);
  EXPECT_EQ(stream.bytesPerSample, 2u);
  EXPECT_EQ(stream.significantBits, 12u);
  EXPECT_EQ(stream.frameBytes, 800u * 600u * 2u);
  protocol_.Stop();
  stream = head_->Stream();
  EXPECT_FALSE(stream.running);
  EXPECT_EQ(stream.streamWidth, 800u);  // a stop keeps the geometry it carried

  // The model that halves its stream width sends two samples per unit.
  Make(kModelHZG7);
  Run(1228, 2048, false);
  stream = head_->Stream();
  EXPECT_EQ(stream.bytesPerSample, 1u);  // one byte per sample, always
  EXPECT_EQ(stream.rowBytes, 2456u);
  EXPECT_EQ(stream.frameBytes, 2456u * 2048u);
}

// The deep encoding: the first byte carries the sample's top eight bits, the
// second the remaining low bits. Level 0x9ABC on the 16-bit scale.
TEST_F(HeadTest, DeepSamplesAreEncodedInTwoBytes) {
  struct Case {
    ModelCode model;
    bool eightBit;
    int depthCode;
    uint32_t bits;
    uint8_t first, second;
  };
  const Case cases[] = {
      {kModelHZF6, true, 0, 8, 0x9A, 0},
      {kModelHZF6, false, 0, 8, 0x9A, 0x00},
      {kModelHZF6, false, 1, 10, 0x9A, 0x02},
      {kModelHZF6, false, 2, 12, 0x9A, 0x0B},
      {kModelHZF6, false, 3, 14, 0x9A, 0x2F},
      {kModelHZF6, false, 4, 16, 0x9A, 0xBC},
      // A 10-bit sensor delivers 10 bits whatever depth is asked for.
      {kModelHXE5, false, 4, 10, 0x9A, 0x02},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depthCode);
    Make(c.model, /*monochrome=*/true);
    PlainScene(SceneKind::kFlatGray, 0x9ABC);
    Run(c.model == kModelHXE5 ? 1280 : 1600, c.model == kModelHXE5 ? 1024 : 1200, c.eightBit,
        c.depthCode);
    EXPECT_EQ(head_->Stream().significantBits, c.bits);
    const std::vector<uint8_t> frame = ReadFrame(false);
    const uint32_t bytesPerSample = c.eightBit ? 1 : 2;
    ASSERT_EQ(frame.size() % bytesPerSample, 0u);
    // Every sample of a flat field is the same.
    for (size_t i = 0; i < frame.size(); i += bytesPerSample) {
      ASSERT_EQ(frame[i], c.first) << i;
      if (bytesPerSample == 2) {
        ASSERT_EQ(frame[i + 1], c.second) << i;
      }
    }
  }
}

double Mean(const std::vector<uint8_t>& frame) {
  uint64_t sum = 0;
  for (uint8_t v : frame) sum += v;
  return frame.empty() ? 0 : double(sum) / double(frame.size());
}

// Gain and exposure registers of each model, as its hooks write them, change
// the brightness of the picture.
TEST_F(HeadTest, GainAndExposureChangeBrightness) {
  struct Case {
    ModelCode model;
    uint32_t width, height;
    std::vector<std::pair<uint32_t, uint32_t>> brighter, darker;
  };
  const Case cases[] = {
      {kModelHXA1, 2048, 1536, {{53, 40}}, {{9, 500}}},
      {kModelR2T, 752, 480, {{53, 63}}, {{11, 100}}},
      {kModelHXE5, 1280, 1024, {{82, 900}}, {{82, 100}}},
      {kModelHXC3, 3264, 2448, {{0x3166, 900}}, {{0x3166, 100}}},
      {kModelHYD4, 1360, 1024, {{6, 0}, {7, 8}}, {{158, 32}, {159, 0}}},
      {kModelHZF6, 1600, 1200, {{6, 0}, {7, 4}}, {{158, 50}, {159, 0}}},
      // The exposure register of this model counts the other way.
      {kModelHZG7, 1228, 2048, {{4, 0x10000 | 800}, {154, 0x802000 | 32}}, {{154, 0x802000 | 100}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Make(c.model, true);
    PlainScene(SceneKind::kFlatGray, 0x4000);
    Run(c.width, c.height);
    const double reference = Mean(ReadFrame(false));
    EXPECT_NEAR(reference, 0x40, 1.0);
    for (auto [address, value] : c.brighter) head_->PokeRegister(address, value);
    const double brighter = Mean(ReadFrame(true));
    Make(c.model, true);
    PlainScene(SceneKind::kFlatGray, 0x4000);
    Run(c.width, c.height);
    for (auto [address, value] : c.darker) head_->PokeRegister(address, value);
    const double darker = Mean(ReadFrame(false));
    EXPECT_GT(brighter, reference * 1.2);
    EXPECT_LT(darker, reference * 0.8);
  }
}

// Which of the four positions of the first 2 × 2 block of the frame, as sent,
// carries red.
int RedPosition(const std::vector<uint8_t>& frame, uint32_t width) {
  const uint8_t block[4] = {frame[0], frame[1], frame[width], frame[width + 1]};
  int best = 0;
  for (int i = 1; i < 4; ++i) {
    if (block[i] > block[best]) best = i;
  }
  return best;
}

// Mirror bits reverse the read-out, so the colour filter phase of the samples
// the head sends changes as it does on a real sensor.
TEST_F(HeadTest, MirrorBitsFlipTheBayerPhase) {
  struct Case {
    uint32_t mirrorBits;  // register 32
    int redAt;            // 0 row 0 col 0, 1 row 0 col 1, 2 row 1 col 0, 3 row 1 col 1
  };
  // The sensor's own phase is G R / B G: red at row 0, column 1.
  const Case cases[] = {{0x0000, 1}, {0x4000, 0}, {0x8000, 3}, {0xC000, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mirrorBits);
    Make(kModelHXA1);
    SceneOptions scene;
    scene.kind = SceneKind::kFlatColor;
    scene.stampFrameNumber = scene.movingMark = false;
    head_->SetScene(scene);
    Window(100, 100, 256, 64);
    ASSERT_TRUE(protocol_.WriteRegister(32, c.mirrorBits >> 8, 0));
    Run(256, 64);
    EXPECT_EQ(RedPosition(ReadFrame(false), 256), c.redAt);
  }
}

TEST_F(HeadTest, WindowAndSubsampleRegistersChooseWhatIsReadOut) {
  // The gray ramp in the lower half rises from left to right, so the first
  // sample of a row tells where on the sensor the window starts.
  struct Case {
    uint32_t x;
    uint32_t step;  // register 35 + 1
    uint32_t column;
    uint32_t sensorColumn;
  };
  const Case cases[] = {
      {0, 1, 0, 0}, {1024, 1, 0, 1024}, {1024, 1, 100, 1124}, {0, 2, 100, 200}, {512, 3, 10, 542}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.x * 100 + c.step);
    Make(kModelHXA1, true);
    PlainScene(SceneKind::kBarsAndGradient);
    Window(c.x, 1000, 512, 64);
    head_->PokeRegister(35, c.step - 1);
    Run(512 / c.step / 8 * 8, 64);
    const std::vector<uint8_t> frame = ReadFrame(false);
    const uint8_t expected = static_cast<uint8_t>(uint64_t{c.sensorColumn} * 0xC000 / 2047 >> 8);
    EXPECT_EQ(frame[c.column], expected);
  }
}

// Fault caught: a head without its lens, or reading from the wrong edge of
// its die, sends the scene upside down for the host's intake of the model
// (the stored default mirrors then turn it over); a two-ended row packed the
// wrong way round.
TEST_F(HeadTest, TheLensAndTheReadOutStartDecideWhichSceneRowComesFirst) {
  struct Case {
    ModelCode model;
    uint32_t width, height;  // stream size: the whole sensor
    bool sceneTopFirst;      // the first row sent is the scene's top (the bars)
  };
  // The lens puts the scene's top along the die's bottom edge.
  const Case cases[] = {
      {kModelHWH8, 8192, 8192, false}, {kModelHXA1, 2048, 1536, true},
      {kModelHXB2, 2592, 1944, true},  {kModelHXE5, 1280, 1024, false},
      {kModelHXC3, 3264, 2448, true},  {kModelR2T, 752, 480, false},
      {kModelHYD4, 1360, 1024, true},  {kModelHZF6, 1600, 1200, false},
      {kModelHZG7, 1228, 2041, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Make(c.model, true);
    PlainScene(SceneKind::kBarsAndGradient);
    Run(c.width, c.height);
    const std::vector<uint8_t> frame = ReadFrame(false);
    // The white bar is at the scene's left edge, the gray ramp starts dark
    // there. The two-ended read-out sends column 0 in a unit's second byte.
    const size_t column0 = c.model == kModelHZG7 ? 1 : 0;
    const size_t lastRow = size_t{c.height - 1} * head_->Stream().rowBytes;
    EXPECT_EQ(frame[column0], c.sceneTopFirst ? 0xC0 : 0);
    EXPECT_EQ(frame[lastRow + column0], c.sceneTopFirst ? 0 : 0xC0);
  }
  // Two-ended: unit k carries column 2455 - k first (the black bar at the
  // right edge) and column k second.
  Make(kModelHZG7, true);
  PlainScene(SceneKind::kBarsAndGradient);
  Run(1228, 2048);
  const std::vector<uint8_t> frame = ReadFrame(false);
  EXPECT_EQ(frame[0], 0);
  EXPECT_EQ(frame[1], 0xC0);
  // Rows below the sensor's 2041 are black.
  EXPECT_EQ(frame[size_t{2045} * 2456 + 1], 0);
}

// Fault caught: a read that starts inside an area (FUSE splits a large read
// into pieces) copies from the wrong row or offset, loses the black rows
// below a window, or drops overlay bytes that straddle a piece boundary.
TEST_F(HeadTest, AFrameReadInPiecesIsTheFrameReadWhole) {
  struct Case {
    const char* name;
    ModelCode model;
    uint32_t width, height;  // stream size; HXA1's window is 40 rows of it
    bool eightBit;
    uint32_t pieceBytes;
  };
  const Case cases[] = {
      {"window rows, then black rows, one sector", kModelHXA1, 256, 64, true, 512},
      {"two-byte rows, pieces across rows", kModelHZF6, 800, 600, false, 3 * 512},
      {"two-ended, large pieces", kModelHZG7, 1228, 64, true, 128 * 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Make(c.model);
    if (c.model == kModelHXA1) Window(0, 0, 256, 40);
    Run(c.width, c.height, c.eightBit);
    const uint32_t bytes = head_->Stream().frameBytes;
    const uint32_t total = (bytes + kSectorSize - 1) / kSectorSize * kSectorSize;
    auto readInPieces = [&] {
      std::vector<uint8_t> frame(total);
      for (uint32_t at = 0; at < total; at += c.pieceBytes) {
        const uint32_t piece = std::min(c.pieceBytes, total - at);
        uint32_t done = 0;
        EXPECT_TRUE(
            head_->ReadAt(VirtualHead::AreaAOffset() + at, frame.data() + at, piece, &done));
        EXPECT_EQ(done, piece);
      }
      frame.resize(bytes);
      return frame;
    };

    // Without overlays every frame of these settings is the same picture.
    PlainScene(SceneKind::kBarsAndGradient);
    const std::vector<uint8_t> whole = ReadFrame(false);
    EXPECT_EQ(readInPieces(), whole);
    // With them, the stamp read back from the pieces is the next frame's.
    head_->SetScene(SceneOptions{});
    const std::vector<uint8_t> stamped = ReadFrame(false);
    const std::optional<uint32_t> first = head_->ReadFrameNumber(stamped.data(), stamped.size());
    const std::vector<uint8_t> pieces = readInPieces();
    const std::optional<uint32_t> next = head_->ReadFrameNumber(pieces.data(), pieces.size());
    ASSERT_TRUE(first.has_value() && next.has_value());
    EXPECT_EQ(*next, *first + 2) << "area A holds every other frame";
  }
}

TEST_F(HeadTest, FramesAlternateBetweenAreasWithRisingNumbers) {
  Make(kModelHXA1);
  Window(0, 0, 256, 64);
  Run(256, 64);
  uint32_t previous = 0;
  for (int i = 0; i < 6; ++i) {
    const bool areaB = i % 2 == 1;
    const std::vector<uint8_t> frame = ReadFrame(areaB);
    const std::optional<uint32_t> number = head_->ReadFrameNumber(frame.data(), frame.size());
    ASSERT_TRUE(number.has_value());
    EXPECT_GT(*number, previous);
    // Area A holds the odd frames of a run, area B the even ones.
    EXPECT_EQ(*number % 2, areaB ? 0u : 1u);
    previous = *number;
  }
  // Frames are paced by the clock: six frames at 50 per second take 120 ms.
  uint32_t waited = 0;
  for (uint32_t ms : clock_.Sleeps()) waited += ms;
  EXPECT_GE(waited, 120u - 8u);

  // A slow reader gets the newest finished frame of the area, not a stale one.
  clock_.Advance(1000);
  const std::vector<uint8_t> late = ReadFrame(false);
  EXPECT_GT(*head_->ReadFrameNumber(late.data(), late.size()), previous + 40);
}

// Fault caught: the frame number drawn where the host's picture does not
// show it the right way up (the stamp belongs to the picture as the lens
// shows it), or read back from the wrong place.
TEST_F(HeadTest, StampIsReadableFromTheUprightPicture) {
  struct Case {
    ModelCode model;
    uint32_t width, height;
    bool sceneTopFirst;
  };
  const Case cases[] = {{kModelHYD4, 1360, 1024, true}, {kModelHZF6, 1600, 1200, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    Make(c.model);
    Run(c.width, c.height, false, 1);
    const std::vector<uint8_t> frame = ReadFrame(false);
    const std::optional<uint32_t> number = head_->ReadFrameNumber(frame.data(), frame.size());
    ASSERT_TRUE(number.has_value());
    const size_t pitch = size_t{c.width} * 2;
    std::vector<uint8_t> upright(frame.size());
    for (uint32_t row = 0; row < c.height; ++row) {
      const uint32_t from = c.sceneTopFirst ? row : c.height - 1 - row;
      std::memcpy(upright.data() + row * pitch, frame.data() + from * pitch, pitch);
    }
    EXPECT_EQ(VirtualHead::ReadStamp(upright.data(), c.width, c.height, pitch, 2), number);
  }
  std::vector<uint8_t> blank(1600 * 8, 0);
  EXPECT_EQ(VirtualHead::ReadStamp(blank.data(), 1600, 8, 1600, 1), std::nullopt);
}

// A head that takes triggers its sensor was never told to wait for, or with
// every trigger source masked off, would hide a host that forgets either.
TEST_F(HeadTest, TriggerNeedsTheSensorsTriggerBitAndASource) {
  Make(kModelHXA1);
  Window(0, 0, 256, 64);
  Run(256, 64, true, 0, /*trigger=*/true);
  // The run command asked for triggers, but the sensor still runs free.
  EXPECT_FALSE(head_->Stream().triggerMode);
  EXPECT_FALSE(head_->Trigger());

  ASSERT_TRUE(protocol_.WriteRegister(30, 0x01, 0x00));
  Run(256, 64, true, 0, true);
  ASSERT_TRUE(head_->Stream().triggerMode);
  EXPECT_FALSE(head_->Trigger()) << "every trigger source is masked off";
  ASSERT_TRUE(protocol_.WriteRegister(30, 0x03, 0x00));
  EXPECT_TRUE(head_->Trigger());
  const TriggerCounters counters = head_->TriggerStats();
  EXPECT_EQ(counters.fired, 3u);
  EXPECT_EQ(counters.ignored, 2u);
  EXPECT_EQ(counters.taken, 1u);

  // The other trigger model: its free-run bit must be cleared.
  Make(kModelHZG7);
  Run(1228, 2048, true, 0, true);
  EXPECT_FALSE(head_->Stream().triggerMode);
  ASSERT_TRUE(protocol_.WriteRegisterWide(32, 0x00, WideDataBits::k24));
  Run(1228, 2048, true, 0, true);
  EXPECT_TRUE(head_->Stream().triggerMode);
}

// Catches a head that presents a triggered frame before its read-out ends,
// names the newer of two unread frames (the older is then never read),
// overwrites an unread frame, keeps unread frames across a restart, or
// stamps no trigger time.
TEST_F(HeadTest, TriggeredFramesAreReadOutAndTakenOldestFirst) {
  Make(kModelHXA1);
  Window(0, 0, 256, 64);
  ASSERT_TRUE(protocol_.WriteRegister(30, 0x03, 0x00));
  Run(256, 64, true, 0, true);
  const uint32_t readoutMs = static_cast<uint32_t>(head_->ReadoutUs() / 1000);
  EXPECT_EQ(readoutMs, 20u);  // one frame at the head's 50 frames a second

  ASSERT_TRUE(head_->Trigger());
  ASSERT_TRUE(head_->Trigger());
  EXPECT_FALSE(head_->Trigger()) << "both areas hold unread frames";
  clock_.Advance(readoutMs - 1);
  EXPECT_EQ(protocol_.ReadFrameReady(), 0) << "the first frame is still being read out";
  clock_.Advance(1);
  EXPECT_EQ(protocol_.ReadFrameReady(), control::kFrameReadyA);
  clock_.Advance(readoutMs);  // the second frame is read out after the first
  EXPECT_EQ(protocol_.ReadFrameReady(), control::kFrameReadyA) << "the oldest first";
  const std::vector<uint8_t> a = ReadFrame(false);
  EXPECT_EQ(protocol_.ReadFrameReady(), control::kFrameReadyB);
  const std::vector<uint8_t> b = ReadFrame(true);
  EXPECT_EQ(protocol_.ReadFrameReady(), 0);

  const std::vector<TriggeredFrame> log = head_->TriggeredFrames();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(head_->ReadFrameNumber(a.data(), a.size()), log[0].number);
  EXPECT_EQ(head_->ReadFrameNumber(b.data(), b.size()), log[0].number + 1);
  EXPECT_EQ(log[1].number, log[0].number + 1);
  for (size_t i = 0; i < log.size(); ++i) {
    // Fired together: the second is read out after the first.
    EXPECT_EQ(log[i].readyUs - log[i].firedUs, 1000 * int64_t{readoutMs} * int64_t(i + 1)) << i;
    EXPECT_GE(log[i].readUs, log[i].readyUs) << i;
  }
  // Unmirrored, this sensor sends the scene's top row first (the host's
  // stored vertical mirror turns it over for its bottom-up intake), so the
  // frame as read is the upright picture.
  EXPECT_EQ(VirtualHead::ReadStamp(a.data(), 256, 64, 256, 1, StampRow::kTriggerTime),
            static_cast<uint32_t>(log[0].firedUs));

  // A restart throws a frame away that the host has not read.
  ASSERT_TRUE(head_->Trigger());
  Run(256, 64, true, 0, true);
  EXPECT_EQ(protocol_.ReadFrameReady(), 0);
  const TriggerCounters counters = head_->TriggerStats();
  EXPECT_EQ(counters.fired, 4u);
  EXPECT_EQ(counters.taken, 3u);
  EXPECT_EQ(counters.overrun, 1u);
  EXPECT_EQ(counters.read, 2u);
  EXPECT_EQ(counters.cleared, 1u);
}

// Catches a steady-rate trigger that waits for the host, fires off its
// times, or fires more or fewer pulses than asked for.
TEST_F(HeadTest, SteadyRateTriggerFiresWhetherOrNotFramesAreRead) {
  Make(kModelHZG7);
  ASSERT_TRUE(protocol_.WriteRegisterWide(32, 0x00, WideDataBits::k24));
  Run(1228, 2048, true, 0, true);
  head_->StartTriggers(10, 5);  // 5 pulses, 100 ms apart on the head's clock
  EXPECT_TRUE(head_->TriggersRunning());
  clock_.Advance(450);
  EXPECT_FALSE(head_->TriggersRunning());
  TriggerCounters counters = head_->TriggerStats();
  EXPECT_EQ(counters.fired, 5u);
  EXPECT_EQ(counters.taken, 2u);  // nothing was read: two areas, then overruns
  EXPECT_EQ(counters.overrun, 3u);
  const std::vector<TriggeredFrame> log = head_->TriggeredFrames();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].firedUs - log[0].firedUs, 100000);

  // The host that armed the head goes away: no more triggers are taken.
  head_->StopRun();
  EXPECT_FALSE(head_->Stream().triggerMode);
  EXPECT_FALSE(head_->Trigger());
  EXPECT_EQ(head_->TriggerStats().cleared, 2u);
}

TEST_F(HeadTest, VolumeOutsideTheThreePlacesReadsAsZerosAndEndsShort) {
  Make(kModelHXA1);
  uint8_t buffer[1024];
  std::memset(buffer, 0xAA, sizeof buffer);
  uint32_t moved = 0;
  ASSERT_TRUE(head_->ReadAt(0, buffer, sizeof buffer, &moved));
  EXPECT_EQ(moved, sizeof buffer);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1023], 0);
  ASSERT_TRUE(head_->ReadAt(head_->volumeSize() - 512, buffer, sizeof buffer, &moved));
  EXPECT_EQ(moved, 512u);
  ASSERT_TRUE(head_->ReadAt(head_->volumeSize(), buffer, sizeof buffer, &moved));
  EXPECT_EQ(moved, 0u);
}

// The host's reader thread reads frames while its application thread talks
// to the registers; neither may disturb the other.
TEST_F(HeadTest, ConcurrentFrameReadsAndRegisterExchanges) {
  Make(kModelHXA1);
  Window(0, 0, 256, 64);
  Run(256, 64);
  std::atomic<bool> stop{false};
  std::atomic<int> frames{0};
  std::atomic<bool> ordered{true};
  std::thread reader([&] {
    SectorProtocol frameReader(head_.get());
    std::vector<uint8_t> frame(256 * 64);
    uint32_t previous = 0;
    bool areaB = false;
    while (!stop.load()) {
      if (frameReader.ReadFrame(areaB, frame.data(), 32) != frame.size()) continue;
      const std::optional<uint32_t> number = head_->ReadFrameNumber(frame.data(), frame.size());
      if (!number || *number <= previous) ordered = false;
      previous = number.value_or(previous);
      areaB = !areaB;
      ++frames;
    }
  });
  for (uint32_t i = 0; i < 300; ++i) {
    ASSERT_TRUE(protocol_.WriteRegister(0x40 + i % 16, i >> 8, i & 0xFF));
    uint8_t high = 0, low = 0;
    ASSERT_TRUE(protocol_.ReadRegister(0x40 + i % 16, &high, &low));
    ASSERT_EQ(high << 8 | low, static_cast<int>(i));
  }
  while (frames.load() < 20) std::this_thread::yield();
  stop = true;
  reader.join();
  EXPECT_TRUE(ordered.load());
}

}  // namespace
}  // namespace varnel
