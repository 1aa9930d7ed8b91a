// What the fault campaign's tests share: the clock that tells how long a call
// kept its thread, the bound every call must keep, the watchdog that ends a
// run whose call never returns, the table of the head's faults, and (under
// Wine) the count of the process's handles.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <cstring>
#include <optional>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "support/camera_session.h"
#ifdef _WIN32
#include <windows.h>
#endif

namespace varnel::testing {

// The clock the library and the head sleep on in the campaign. Time moves
// only by sleeping, so the protocol's pauses and a slow head cost next to no
// real time, and what each thread slept tells how long a call would have kept
// it on a real clock. One thread may be watched: what it slept can be read
// from any other thread (a dialog runs on the application's thread while a
// helper thread works it).
class TallyClock final : public Clock {
 public:
  uint32_t TickCount() override { return now_.load(); }
  uint32_t TimeMs() override { return now_.load(); }
  void Sleep(uint32_t milliseconds) override {
    now_.fetch_add(milliseconds);
    threadSlept_ += milliseconds;
    if (std::this_thread::get_id() == watched_.load()) watchedSlept_.fetch_add(milliseconds);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
  static uint64_t ThreadSlept() { return threadSlept_; }
  void Watch(std::thread::id thread) { watched_.store(thread); }
  uint64_t WatchedSlept() const { return watchedSlept_.load(); }

 private:
  std::atomic<uint32_t> now_{1000};
  std::atomic<std::thread::id> watched_{};
  std::atomic<uint64_t> watchedSlept_{0};
  static inline thread_local uint64_t threadSlept_ = 0;
};

// The longest any call may keep the application's thread: the capture's
// start pause (700 ms) and the single-frame wait (6000 ms), with the short
// pauses of the protocol around them.
inline constexpr uint64_t kCallBoundMs = 700 + 6000 + 1000;

// Ends the process with a message when a call does not return at all (a
// deadlock or an endless loop would otherwise hold the whole run). The bound
// is far above anything a working call needs, on any machine.
class Watchdog {
 public:
  Watchdog()
      : thread_([this] {
          std::unique_lock lock(mutex_);
          while (!done_) {
            if (armed_.empty()) {
              changed_.wait(lock);
              continue;
            }
            const std::string call = armed_;
            if (!changed_.wait_for(lock, std::chrono::minutes(2), [&] { return armed_ != call; })) {
              std::fprintf(stderr, "fault campaign: %s did not return\n", call.c_str());
              std::fflush(stderr);
              std::abort();
            }
          }
        }) {}
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void Arm(const std::string& call) {
    std::lock_guard lock(mutex_);
    armed_ = call;
    changed_.notify_all();
  }
  void Disarm() { Arm(""); }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string armed_;
  bool done_ = false;
  std::thread thread_;
};

struct Fault {
  const char* name;
  bool removal;
  std::function<void(HeadFaults&)> set;
};

// Every fault the virtual head can show.
inline const Fault kFaults[] = {
    {"removal", true, nullptr},
    {"status stuck busy", false, [](HeadFaults& f) { f.statusStuckBusy = true; }},
    {"status 0", false, [](HeadFaults& f) { f.statusZero = true; }},
    {"other direction's bits only", false, [](HeadFaults& f) { f.otherDirectionOnly = true; }},
    {"every register refused", false,
     [](HeadFaults& f) {
       for (uint32_t a = 0; a < 0x400; ++a) f.refusedRegisters.insert(a);
     }},
    {"busy for 150 polls", false, [](HeadFaults& f) { f.busyPolls = 150; }},
    {"slow answers", false, [](HeadFaults& f) { f.answerDelayMs = 300; }},
    {"slow transfers", false, [](HeadFaults& f) { f.transferDelayMs = 40; }},
    {"no transfer answered", false, [](HeadFaults& f) { f.failAfterTransfers = 0; }},
    {"stops answering mid-exchange", false, [](HeadFaults& f) { f.failAfterTransfers = 3; }},
    {"short frame reads", false, [](HeadFaults& f) { f.shortFrameReads = 4; }},
    {"failed frame reads", false, [](HeadFaults& f) { f.failedFrameReads = 4; }},
};

// Removes the head or switches the fault on.
inline void Inject(CameraSession& session, const Fault& fault) {
  if (fault.removal) {
    session.Head().Remove();
  } else {
    HeadFaults faults;
    fault.set(faults);
    session.Head().SetFaults(faults);
  }
}

// Plugs a new head in after a removal, or makes the head healthy again.
inline void Recover(CameraSession& session, const Fault& fault, const HeadOptions& options) {
  if (fault.removal) {
    session.ReplaceHead(options);
  } else {
    session.Head().SetFaults(HeadFaults{});
  }
}

inline bool Documented(int code) { return (code >= 1 && code <= 9) || code == 11; }

// Waits until the picture the instance hands out carries another frame
// number than it did when called (or, with no picture yet, until there is
// one): a frame of the 256 x 64 window in 24-bit colour went through the
// frame path since.
// The frame stamp of a 24-bit picture that may be mirrored either way (the
// stamp belongs to the picture as the lens shows it, so it mirrors with it).
inline std::optional<uint32_t> StampOfMirrored(const Picture& picture) {
  for (int flip = 0; flip < 4; ++flip) {
    Picture upright = MakePicture(picture.width, picture.height, picture.bytesPerPixel);
    for (int y = 0; y < picture.height; ++y) {
      for (int x = 0; x < picture.width; ++x) {
        const int fx = (flip & 1) != 0 ? picture.width - 1 - x : x;
        const int fy = (flip & 2) != 0 ? picture.height - 1 - y : y;
        std::memcpy(upright.bytes.data() + static_cast<size_t>(y) * upright.stride +
                        static_cast<size_t>(x) * picture.bytesPerPixel,
                    picture.Pixel(fx, fy), static_cast<size_t>(picture.bytesPerPixel));
      }
    }
    if (const std::optional<uint32_t> stamp = StampOf(upright)) return stamp;
  }
  return std::nullopt;
}

inline bool AwaitNewFrame(CameraHandle h) {
  Picture picture = MakePicture(256, 64, 3);
  const int size = static_cast<int>(picture.bytes.size());
  std::optional<uint32_t> before;
  if (Varnel_GetImage(h, picture.bytes.data(), size, 1) == 1) before = StampOfMirrored(picture);
  for (int i = 0; i < kEventBoundMs; ++i) {
    if (Varnel_GetImage(h, picture.bytes.data(), size, 1) == 1) {
      const std::optional<uint32_t> now = StampOfMirrored(picture);
      if (now.has_value() && now != before) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return false;
}

#ifdef _WIN32
// Handles the process holds. Where the system does not keep the count (the
// Wine here answers GetProcessHandleCount with 0), the handle values a
// process uses are probed one by one: each value naming an open handle counts.
inline unsigned long ProcessHandles() {
  DWORD count = 0;
  if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
  unsigned long open = 0;
  for (uintptr_t value = 4; value < 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++open;
  }
  return open;
}
#endif

}  // namespace varnel::testing
