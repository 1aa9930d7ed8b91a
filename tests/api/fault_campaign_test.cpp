// The fault campaign: every fault the virtual head can show, injected in each
// acquisition state (idle, previewing, capturing, triggered, in the middle of
// a snapshot, in the middle of a save), through the C interface. In every
// case each call returns within the library's longest wait, the error codes
// are the documented ones, stopping works, and once the head is healthy (or
// plugged in again) the next start delivers frames. Leaks are the sanitizer's
// to find (the suite runs under AddressSanitizer with the leak check); under
// Wine the process's handle count must not grow from case to case.
// The state "during a dialog" exists only on Windows and is in
// tests/win32/dialog_fault_test.cpp.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/camera_session.h"
#include "support/fault_campaign.h"
#include "support/image_readers.h"
#include "support/test_clock.h"
#include "support/temp_dir.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'F';

enum class State { kIdle, kPreviewing, kCapturing, kTriggered, kInSnapShot, kInSave };

const char* Name(State state) {
  switch (state) {
    case State::kIdle:
      return "idle";
    case State::kPreviewing:
      return "previewing";
    case State::kCapturing:
      return "capturing";
    case State::kTriggered:
      return "triggered";
    case State::kInSnapShot:
      return "during a snapshot";
    default:
      return "during a save";
  }
}

class FaultCampaignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    options_.clock = &clock_;
    pictures_ = UniqueTempDirectory("varnel-fault-campaign");
    ASSERT_FALSE(pictures_.empty());
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(pictures_, ignored);
  }

  // Runs one export as the application would, and checks that it came back
  // within the bound.
  int Call(const std::string& what, const std::function<int()>& call) {
    watchdog_.Arm(what);
    const uint64_t before = TallyClock::ThreadSlept();
    const int result = call();
    const uint64_t slept = TallyClock::ThreadSlept() - before;
    watchdog_.Disarm();
    EXPECT_LE(slept, kCallBoundMs) << what << " kept the application's thread";
    if (slept > longest_) longest_ = slept, longestCall_ = what;
    ++calls_;
    return result;
  }

  // One case: enter `state`, inject `fault`, use the camera, recover.
  void RunCase(State state, const Fault& fault) {
    CameraSession s(kModelHXA1, 1, kLetter, options_);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_TRUE(ChooseWindow(h, s.Model(), 256, 64));
    ASSERT_EQ(Varnel_SetColorMode(h, 24), 1);
    ASSERT_EQ(Varnel_SetWaitTime(h, 0), 1);
    std::vector<uint8_t> buffer(static_cast<size_t>(StrideOf(256, 3)) * 64);
    const int size = static_cast<int>(buffer.size());
    MessageSink sink;
    const std::string picture = (pictures_ / "picture.png").string();
    std::vector<char> fileName(picture.begin(), picture.end());
    fileName.push_back('\0');

    const auto inject = [&] { Inject(s, fault); };

    switch (state) {
      case State::kIdle:
        inject();
        break;
      case State::kPreviewing:
        // Streaming without a window: under Wine each window costs a round
        // trip to the display, and the frame path is the same.
        ASSERT_EQ(Varnel_StartPreview(h), 1);
        ASSERT_TRUE(AwaitNewFrame(h));
        inject();
        break;
      case State::kCapturing:
        ASSERT_EQ(Varnel_Capture(h), 1);
        ASSERT_EQ(Varnel_SnapShot(h, buffer.data(), size, 1), 1);
        inject();
        break;
      case State::kTriggered:
        ASSERT_EQ(Varnel_Trigger(h, sink.Window(), buffer.data(), size, 1), 1);
        ASSERT_TRUE(s.Head().Trigger());
        ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs).has_value());
        inject();
        break;
      case State::kInSnapShot: {
        // The fault comes once the snapshot has begun to talk to the head.
        const uint64_t writes = s.Head().Counters().controlWrites;
        std::thread injector([&] {
          for (int i = 0; i < kEventBoundMs && s.Head().Counters().controlWrites == writes; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          inject();
        });
        Call("SnapShot", [&] { return Varnel_SnapShot(h, buffer.data(), size, 1); });
        injector.join();
        break;
      }
      case State::kInSave: {
        ASSERT_EQ(Varnel_SnapShot(h, buffer.data(), size, 1), 1);
        ASSERT_EQ(Varnel_StopPreview(h), 1);
        std::thread injector(inject);
        // The picture is the library's own copy: the head's troubles do not
        // reach it, and the file is whole.
        const int saved = Call(
            "SaveImage", [&] { return Varnel_SaveImage(h, fileName.data(), VARNEL_FILE_PNG); });
        injector.join();
        EXPECT_EQ(saved, 1) << ::testing::PrintToString(s.Errors());
        PngFile png;
        EXPECT_TRUE(ReadPngFile(picture, png)) << "the saved file does not decode";
        EXPECT_EQ(png.picture.width, 256);
        EXPECT_EQ(png.picture.height, 64);
        break;
      }
    }
    ++injected_[state];

    // The application goes on using the camera while it misbehaves.
    int valid = 0;
    Call("WriteRegister", [&] { return Varnel_WriteRegister(h, 0x35, 0x20); });
    Call("ReadRegister", [&] { return Varnel_ReadRegister(h, 0x35, &valid); });
    Call("SetGlobalGain", [&] { return Varnel_SetGlobalGain(h, 12); });
    Call("SetExposureTime", [&] { return Varnel_SetExposureTime(h, 200); });
    Call("SetMirrorV", [&] { return Varnel_SetMirrorV(h, 1); });
    Call("GetMirrorV", [&] { return Varnel_GetMirrorV(h); });
    if (state != State::kPreviewing && state != State::kTriggered) {
      Call("SnapShot", [&] { return Varnel_SnapShot(h, buffer.data(), size, 1); });
    }
    Call("GetImage", [&] { return Varnel_GetImage(h, buffer.data(), size, 1); });
    Call("SaveImage", [&] { return Varnel_SaveImage(h, fileName.data(), VARNEL_FILE_BMP); });
    EXPECT_EQ(Call("StopPreview", [&] { return Varnel_StopPreview(h); }), 1);
    for (int code : s.Errors()) EXPECT_TRUE(Documented(code)) << "error code " << code;
    sink.Drain();

    // The head recovers (or is plugged in again): the next start works.
    Recover(s, fault, options_);
    s.Errors();
    ASSERT_EQ(Call("StartPreview", [&] { return Varnel_StartPreview(h); }), 1)
        << ::testing::PrintToString(s.Errors());
    EXPECT_TRUE(AwaitNewFrame(h)) << "no frame after recovery";
    EXPECT_EQ(Call("Close", [&] { return Varnel_Close(h); }), 1);
    EXPECT_EQ(Call("SnapShot", [&] { return Varnel_SnapShot(h, buffer.data(), size, 1); }), 1)
        << ::testing::PrintToString(s.Errors());
    EXPECT_EQ(Call("StopPreview", [&] { return Varnel_StopPreview(h); }), 1);
  }

  TallyClock clock_;
  ScopedCurrentClock installed_{&clock_};
  HeadOptions options_;
  Watchdog watchdog_;
  std::filesystem::path pictures_;
  std::map<State, int> injected_;
  uint64_t longest_ = 0;
  std::string longestCall_;
  int calls_ = 0;
};

// Fault caught, for each fault of the head in each state: a call that hangs
// or waits past the single-frame bound (a poll loop without a budget, a stop
// that waits for a reader stuck on the head, a retry loop without an end), a
// crash or sanitizer report on a half-read frame or a failed exchange, an
// undocumented error code, a save that depends on the head, and an instance
// that stays broken after the head recovers or comes back.
TEST_F(FaultCampaignTest, EveryFaultInEveryState) {
  const State states[] = {State::kIdle,      State::kPreviewing, State::kCapturing,
                          State::kTriggered, State::kInSnapShot, State::kInSave};
#ifdef _WIN32
  unsigned long handlesAfterFirst = 0;
#endif
  for (State state : states) {
    for (const Fault& fault : kFaults) {
      SCOPED_TRACE(std::string(Name(state)) + ", " + fault.name);
      RunCase(state, fault);
      if (HasFatalFailure()) return;
#ifdef _WIN32
      if (handlesAfterFirst == 0) handlesAfterFirst = ProcessHandles();
#endif
    }
  }
#ifdef _WIN32
  // Every case opens the volume, starts threads and makes events: a handle
  // kept by any of them would show here many times over.
  const unsigned long handlesAtEnd = ProcessHandles();
  if (handlesAfterFirst != 0 && handlesAtEnd != 0) {
    EXPECT_LE(handlesAtEnd, handlesAfterFirst + 8)
        << "handles after the first case " << handlesAfterFirst << ", at the end " << handlesAtEnd;
  }
  std::printf("process handles after the first case %lu, after the last %lu\n", handlesAfterFirst,
              handlesAtEnd);
#endif
  std::string figures;
  for (State state : states) {
    figures += std::string(Name(state)) + " " + std::to_string(injected_[state]) + "; ";
  }
  std::printf(
      "faults injected per state: %s%d calls checked, the longest %s (%llu ms on the "
      "library's clock)\n",
      figures.c_str(), calls_, longestCall_.c_str(), static_cast<unsigned long long>(longest_));
}

}  // namespace
}  // namespace varnel::testing
