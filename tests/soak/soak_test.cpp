// The long soak: a stream of at least 100,000 frames (VARNEL_SOAK_FRAMES
// changes the number) through the C interface while the application changes
// settings, makes register requests, copies pictures out and saves them, and
// between stretches of streaming takes snapshots and saves them. Run under
// ThreadSanitizer (the "soak" test preset); not part of the default runs.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/handle_registry.h"
#include "driver/camera_driver.h"
#include "instance/camera_instance.h"
#include "support/camera_session.h"
#include "support/test_clock.h"
#include "support/temp_dir.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'S';
constexpr int kWidth = 192, kHeight = 64;  // wide and tall enough for the stamp
constexpr double kHeadFramesPerSecond = 120;
constexpr int kFramesPerStretch = 5000;
constexpr int kRegister = 0x2A;  // a plain register of the HXA1 head

int SoakFrames() {
  const char* text = std::getenv("VARNEL_SOAK_FRAMES");
  const int frames = text != nullptr ? std::atoi(text) : 0;
  return frames > 0 ? frames : 100000;
}

// The library's clock: time moves only by sleeping, and a pause really waits
// a fiftieth of its length, so the protocol's pauses (the snapshot's 500 ms
// start) cost little while the reader still gets a real moment to answer a
// register request the application waits for. Nothing is recorded, so a
// long run uses no more memory than a short one.
class FastClock final : public Clock {
 public:
  uint32_t TickCount() override { return now_.load(); }
  uint32_t TimeMs() override { return now_.load(); }
  void Sleep(uint32_t milliseconds) override {
    now_.fetch_add(milliseconds);
    std::this_thread::sleep_for(std::chrono::microseconds(20 + 20 * int64_t{milliseconds}));
  }

 private:
  std::atomic<uint32_t> now_{1000};
};

// Fault caught: races between the application's changes and the frame
// threads (ThreadSanitizer), a stream that stalls under steady changes and
// requests, frames handed out of camera order, frames lost from the counts
// (read != delivered + dropped), register answers that are not a value the
// register ever held, snapshots or saves that fail between stretches of
// streaming, and anything that builds up over a long run.
TEST(SoakTest, StreamWithSettingsRegistersSnapshotsAndSaves) {
  FastClock clock;
  ScopedCurrentClock installed(&clock);
  // The head keeps real time at a steady rate: a head that made frames as
  // fast as they are read would have the reader render and throw away many
  // frames for each one the frame path handles.
  HeadOptions options;
  options.framesPerSecond = kHeadFramesPerSecond;
  CameraSession s(kModelHXA1, 1, kLetter, options);
  ASSERT_TRUE(s.Ready());
  const CameraHandle h = s.Handle();
  ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, 0, kWidth, 0, 0, kHeight), 1);
  ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
  ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
  CameraDriver* driver = Registry().Lookup(h)->CurrentDriver();
  ASSERT_NE(driver, nullptr);
  const DriverCounters start = driver->Counters();

  const int target = SoakFrames();
  Picture stream = MakePicture(kWidth, kHeight, 3);
  Picture copy = MakePicture(kWidth, kHeight, 3);
  const int size = static_cast<int>(stream.bytes.size());
  MessageSink sink;
  const std::filesystem::path pictures = UniqueTempDirectory("varnel-soak");
  ASSERT_FALSE(pictures.empty());

  std::set<int> registerValues = {static_cast<int>(s.Head().PeekRegister(kRegister))};
  int frames = 0, stretches = 0, changes = 0, writes = 0, reads = 0, answered = 0;
  int copies = 0, stamped = 0, snapshots = 0, saves = 0, streamingSaves = 0;
  while (frames < target) {
    ASSERT_EQ(Varnel_CallBackPreview(h, sink.Window(), stream.bytes.data(), size, 1), 1)
        << ::testing::PrintToString(s.Errors());
    ++stretches;
    std::optional<uint32_t> lastStamp;
    for (int i = 0; i < kFramesPerStretch && frames < target; ++i) {
      ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value())
          << "the stream stalled after " << frames << " frames";
      ++frames;
      if (i % 5 == 0) {  // a setting the frame path or the sensor reads
        switch ((i / 5) % 5) {
          case 0:
            Varnel_SetGlobalGain(h, 20 + (i / 25) % 20);
            break;
          case 1:
            Varnel_SetExposureTime(h, 300 + (i / 25) % 200);
            break;
          case 2:
            Varnel_SetBrightness(h, (i / 25) % 30);
            break;
          case 3:
            Varnel_SetGamma(h, 90 + (i / 25) % 20);
            break;
          default:
            Varnel_SetContrast(h, (i / 25) % 20);
        }
        ++changes;
      }
      if (i % 7 == 0) {  // register requests, deferred to the reader
        const int value = (frames * 13) & 0xFFFF;
        if (Varnel_WriteRegister(h, kRegister, value) == 1) registerValues.insert(value);
        ++writes;
        int valid = 0;
        const int read = Varnel_ReadRegister(h, kRegister, &valid);
        ++reads;
        if (valid == 1) {
          ++answered;
          EXPECT_EQ(registerValues.count(read), 1u) << "register answered " << read;
        }
      }
      if (i % 50 == 0) {  // the picture of the latest frame, copied out
        ASSERT_EQ(Varnel_GetImage(h, copy.bytes.data(), size, 1), 1);
        ++copies;
        if (std::optional<uint32_t> stamp = StampOf(copy)) {
          ++stamped;
          if (lastStamp) {
            EXPECT_GE(*stamp, *lastStamp) << "frames out of camera order";
          }
          lastStamp = stamp;
        }
      }
      if (i % 1000 == 500) {  // the latest frame saved while the stream goes on
        std::string name = (pictures / "streaming.bmp").string();
        EXPECT_EQ(Varnel_SaveImage(h, name.data(), VARNEL_FILE_BMP), 1)
            << ::testing::PrintToString(s.Errors());
        ++streamingSaves;
      }
    }
    ASSERT_EQ(Varnel_StopPreview(h), 1);
    sink.Drain();

    // Between stretches: snapshots, each newer than the one before, saved.
    std::optional<uint32_t> lastSnap;
    for (int k = 0; k < 3; ++k) {
      ASSERT_EQ(Varnel_SnapShot(h, copy.bytes.data(), size, 1), 1)
          << ::testing::PrintToString(s.Errors());
      ++snapshots;
      if (std::optional<uint32_t> stamp = StampOf(copy)) {
        if (lastSnap) {
          EXPECT_GT(*stamp, *lastSnap) << "a snapshot repeated an older frame";
        }
        lastSnap = stamp;
      }
    }
    const int format = stretches % 2 == 0 ? VARNEL_FILE_PNG : VARNEL_FILE_BMP;
    std::string name = (pictures / ("soak" + std::to_string(stretches % 4))).string() +
                       (format == VARNEL_FILE_PNG ? ".png" : ".bmp");
    for (int code : s.Errors()) {
      EXPECT_EQ(code, 6) << "only unanswered register reads may record errors";
    }
    EXPECT_EQ(Varnel_SaveImage(h, name.data(), format), 1) << ::testing::PrintToString(s.Errors());
    EXPECT_GT(std::filesystem::file_size(name), 0u);
    ++saves;
    ASSERT_EQ(Varnel_StopPreview(h), 1);
  }

  const DriverCounters end = driver->Counters();
  const uint64_t read = end.framesRead - start.framesRead;
  const uint64_t delivered = end.framesDelivered - start.framesDelivered;
  const uint64_t dropped = end.framesDropped - start.framesDropped;
  const uint64_t discarded = end.framesDiscarded - start.framesDiscarded;
  EXPECT_EQ(read, delivered + dropped);
  EXPECT_GE(delivered, static_cast<uint64_t>(frames));
  EXPECT_GT(stamped, copies / 2) << "too few pictures carried a readable frame number";
  for (int code : s.Errors()) {
    EXPECT_EQ(code, 6) << "only unanswered register reads may record errors";
  }
  std::filesystem::remove_all(pictures);
  std::printf(
      "soak: %d frame messages in %d stretches; driver read %llu = delivered %llu + dropped "
      "%llu (discarded after changes %llu); %d setting changes, %d register writes, %d reads "
      "(%d answered), %d pictures copied out (%d stamped), %d snapshots, %d saves between "
      "stretches and %d while streaming\n",
      frames, stretches, static_cast<unsigned long long>(read),
      static_cast<unsigned long long>(delivered), static_cast<unsigned long long>(dropped),
      static_cast<unsigned long long>(discarded), changes, writes, reads, answered, copies, stamped,
      snapshots, saves, streamingSaves);
}

}  // namespace
}  // namespace varnel::testing
