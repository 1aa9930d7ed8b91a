// Fuzz target for the public C interface: the input is a program of export
// calls, run against in-process virtual camera heads whose faults the program
// chooses too.
//
// A program is a model choice followed by steps. A step is one of the 118
// exports with arguments taken from the input (handles live, released or
// invented; windows null, live, destroyed or invented; pointers null or to
// buffers of exactly the size passed, small, short of a frame or a frame's
// size; integers at their boundaries or anywhere), or an action on the
// camera: switch faults on or off (stuck busy, status 0, refused registers,
// busy polls, slow answers, slow transfers, failing transfers, short and
// failed frame reads), remove the head, attach a new one, trigger it, or let
// the threads run a little.
//
// What must hold: nothing crashes or trips a sanitizer; no call keeps the
// application's thread waiting longer than the library's longest wait (a
// capture's start pause plus the single-frame timeout, on the clock the
// library sleeps on); every error code popped is one the interface documents; a
// release answers 1 exactly for a live handle; and after the program every
// handle is released, the process has as many threads and open files as
// before it, and the leak check finds no memory left.
// Hangs are caught by the fuzzer's time-out per input.
#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/api_calls.h"
#include "device/model_code.h"
#include "platform/clock.h"
#include "sim/virtual_head.h"
#include "varnel.h"
#include "varnel_posix.h"

namespace varnel::fuzz {

namespace {

// The clock the library and the heads sleep on while fuzzing. Time moves only
// by sleeping, so the protocol's pauses (and a camera's slow answers) cost
// next to no real time, and each thread's slept total tells how long a call
// would have kept it on a real clock. Each sleep also waits a few real
// microseconds so that threads pacing themselves do not spin.
class FuzzClock final : public Clock {
 public:
  explicit FuzzClock(bool tally) : tally_(tally) {}
  uint32_t TickCount() override { return now_.load(); }
  uint32_t TimeMs() override { return now_.load(); }
  void Sleep(uint32_t milliseconds) override {
    now_.fetch_add(milliseconds);
    if (tally_) threadSlept_ += milliseconds;
    std::this_thread::sleep_for(std::chrono::microseconds(milliseconds == 0 ? 1 : 20));
  }
  static uint64_t ThreadSlept() { return threadSlept_; }

 private:
  const bool tally_;
  std::atomic<uint32_t> now_{1000};
  static thread_local uint64_t threadSlept_;
};
thread_local uint64_t FuzzClock::threadSlept_ = 0;

// The library sleeps on one clock, the heads on another: the bound below is
// on the waits the library itself takes. A head's slowness (slow transfers,
// busy polls) makes each exchange take longer, but the library bounds the
// number of exchanges (the poll budget), not the head's speed, so the two
// are not added up.
FuzzClock* gClock = nullptr;
FuzzClock* gHeadClock = nullptr;
// VARNEL_FUZZ_TRACE=1 prints each step of a program (to read a crash input).
bool gTrace = false;
std::string gDirectory;
std::string gPictures;  // where SaveImage writes; emptied after each program

// The longest a call may keep the application's thread: the snapshot's start
// pause (500 ms) or the capture's (700 ms), then the single-frame wait of
// 6000 ms, with the protocol's short pauses around them. A release or stop
// joins threads but does not wait on the camera itself.
constexpr uint64_t kCallBoundMs = 700 + 6000 + 1000;

// Error codes the interface documents.
bool DocumentedError(int code) { return (code >= 0 && code <= 9) || code == 11; }

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "api fuzz: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

constexpr char16_t kLetter = u'V';

// The most a program keeps in buffers handed to streaming and triggered
// instances: at least one buffer of the largest size a call is given (64 MB).
constexpr size_t kKeptBytesBound = size_t{96} << 20;

}  // namespace

struct Program::State {
  std::vector<CameraHandle> live;
  std::vector<CameraHandle> released;
  std::vector<HWND> queues;
  std::vector<HWND> destroyedQueues;
  // Buffers handed to the library stay alive until their handle is released:
  // a streaming or triggered instance writes into them after the call.
  std::map<CameraHandle, std::vector<std::unique_ptr<uint8_t[]>>> kept;
  std::map<CameraHandle, size_t> keptBytesOf;
  size_t keptBytes = 0;
  std::vector<std::shared_ptr<VirtualHead>> heads;
  ModelCode model = kModelHXA1;
  int files = 0;
};

Program::Program(const uint8_t* data, size_t size) : input_(data, size), state_(new State) {}
Program::~Program() = default;

int Program::Int() {
  static const int kBoundaries[] = {
      0,     1,       -1,      2,           3,           4,   8,    9,    10,   11,   16,
      24,    32,      48,      64,          255,         256, 1023, 1024, 4095, 4096, 65535,
      65536, INT_MAX, INT_MIN, INT_MAX - 1, INT_MIN + 1, 640, 480,  768,  896,  100};
  switch (input_.ConsumeIntegralInRange<int>(0, 3)) {
    case 0:
      return kBoundaries[input_.ConsumeIntegralInRange<size_t>(0, std::size(kBoundaries) - 1)];
    case 1:
      return input_.ConsumeIntegralInRange<int>(-4, 40);
    case 2:
      return input_.ConsumeIntegralInRange<int>(0, 4096);
    default:
      return input_.ConsumeIntegral<int>();
  }
}

CameraHandle Program::Handle() {
  lastHandle_ = PickHandle();
  return lastHandle_;
}

CameraHandle Program::PickHandle() {
  State& s = *state_;
  switch (input_.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
      return 0;
    case 1:
      if (!s.released.empty()) {
        return s.released[input_.ConsumeIntegralInRange<size_t>(0, s.released.size() - 1)];
      }
      [[fallthrough]];
    case 2:
      return static_cast<CameraHandle>(input_.ConsumeIntegral<uint32_t>());
    default:
      if (s.live.empty()) {
        const CameraHandle handle = Varnel_Initialize(nullptr);
        if (handle != 0) s.live.push_back(handle);
        return handle;
      }
      return s.live[input_.ConsumeIntegralInRange<size_t>(0, s.live.size() - 1)];
  }
}

HWND Program::Window() {
  State& s = *state_;
  switch (input_.ConsumeIntegralInRange<int>(0, 4)) {
    case 0:
      return nullptr;
    case 1:
      if (!s.destroyedQueues.empty()) return s.destroyedQueues.back();
      [[fallthrough]];
    case 2:
      return reinterpret_cast<HWND>(static_cast<uintptr_t>(input_.ConsumeIntegral<uint32_t>()));
    default:
      if (s.queues.empty() || input_.ConsumeBool()) {
        if (s.queues.size() < 8) s.queues.push_back(VarnelPosix_CreateMessageQueue());
      }
      return s.queues.empty() ? nullptr : s.queues.back();
  }
}

int* Program::IntOut() {
  if (input_.ConsumeBool()) return nullptr;
  scratch_.push_back(std::make_unique<uint8_t[]>(sizeof(int)));
  return reinterpret_cast<int*>(scratch_.back().get());
}

CameraInfo* Program::Info() {
  if (input_.ConsumeIntegralInRange<int>(0, 5) == 0) return nullptr;
  static const int kSizes[] = {0, 35, 36, 4, -1, 40};
  const int declared = kSizes[input_.ConsumeIntegralInRange<size_t>(0, std::size(kSizes) - 1)];
  const size_t bytes = std::max<size_t>(sizeof(CameraInfo), declared > 0 ? declared : 0);
  scratch_.push_back(std::make_unique<uint8_t[]>(bytes));
  auto* info = reinterpret_cast<CameraInfo*>(scratch_.back().get());
  info->size = declared;
  return info;
}

char* Program::DriveNames() {
  if (input_.ConsumeIntegralInRange<int>(0, 4) == 0) return nullptr;
  // The interface asks for max(10, drives) slots; at most two heads are
  // attached here, so ten slots are what a careful caller passes.
  scratch_.push_back(std::make_unique<uint8_t[]>(10 * 256));
  return reinterpret_cast<char*>(scratch_.back().get());
}

Buffer Program::NameBuffer() {
  static const int kSizes[] = {0, 1, 18, 19, 64, 256};
  const int size = kSizes[input_.ConsumeIntegralInRange<size_t>(0, std::size(kSizes) - 1)];
  if (input_.ConsumeIntegralInRange<int>(0, 4) == 0) return {nullptr, size};
  scratch_.push_back(std::make_unique<uint8_t[]>(static_cast<size_t>(size)));
  return {scratch_.back().get(), size};
}

char* Program::FileName() {
  static const char* kNames[] = {"a.bmp", "b.raw",  "c.jpg",    "d.png",
                                 "e.tif", "f",      "g.JPEG",   "missing/dir/h.png",
                                 "",      "i.tiff", "j.bmp.png"};
  switch (input_.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
      return nullptr;
    case 1: {  // a very long name
      names_.push_back(gPictures + "/" + std::string(input_.ConsumeIntegralInRange(1, 5000), 'n'));
      break;
    }
    default:
      names_.push_back(gPictures + "/" + std::to_string(state_->files++) +
                       kNames[input_.ConsumeIntegralInRange<size_t>(0, std::size(kNames) - 1)]);
  }
  return names_.back().data();
}

Buffer Program::FrameBuffer(CameraHandle handle) {
  State& s = *state_;
  // The size the current window and colour mode need, as a careful caller
  // computes it (rows padded to four bytes).
  const int mode = Varnel_GetColorMode(handle);
  const int bytesPerPixel = mode == 8                                              ? 1
                            : mode == 24                                           ? 3
                            : mode == 32                                           ? 4
                            : mode == 48 || mode == 30 || mode == 36 || mode == 42 ? 6
                            : mode == 64                                           ? 8
                                                                                   : 2;
  const int shift = std::clamp(Varnel_GetSubSample(handle), 0, 3);
  // A refused window stays stored, so these may be anything.
  const int64_t width = std::clamp(Varnel_Width(handle), 0, 1 << 16) >> shift;
  const int64_t height = std::clamp(Varnel_Height(handle), 0, 1 << 16) >> shift;
  const int64_t needed = ((width * bytesPerPixel + 3) / 4) * 4 * height;
  int64_t size = 0;
  switch (input_.ConsumeIntegralInRange<int>(0, 6)) {
    case 0:
      return {nullptr, Int()};
    case 1:
      size = 0;
      break;
    case 2:
      size = input_.ConsumeIntegralInRange<int>(1, 64);
      break;
    case 3:
      size = needed - 1;
      break;
    case 4:
      size = needed + input_.ConsumeIntegralInRange<int>(0, 64);
      break;
    default:
      size = needed;
  }
  size = std::clamp<int64_t>(size, 0, 64 << 20);
  // What the program keeps for its instances is bounded, so that hours of
  // programs stay far below the fuzzer's memory limit: beyond the bound the
  // call gets a null buffer, which the interface takes as any caller's.
  if (s.keptBytes + static_cast<size_t>(size) > kKeptBytesBound) return {nullptr, 0};
  // Not cleared: the library only writes into it, and pages it never writes
  // cost the process nothing.
  std::unique_ptr<uint8_t[]> bytes(new uint8_t[static_cast<size_t>(size) + (size == 0 ? 1 : 0)]);
  void* data = bytes.get();
  s.keptBytes += static_cast<size_t>(size);
  s.keptBytesOf[handle] += static_cast<size_t>(size);
  s.kept[handle].push_back(std::move(bytes));
  return {data, static_cast<int>(size)};
}

void Program::Released(CameraHandle handle) {
  State& s = *state_;
  auto it = std::find(s.live.begin(), s.live.end(), handle);
  if (it == s.live.end()) Fail("a release answered 1 for a handle that was not live");
  s.live.erase(it);
  s.released.push_back(handle);
  // Every thread of the instance has ended: its buffers can go.
  s.kept.erase(handle);
  s.keptBytes -= s.keptBytesOf[handle];
  s.keptBytesOf.erase(handle);
}

void Program::CameraAction() {
  State& s = *state_;
  std::shared_ptr<VirtualHead> head = s.heads.empty() ? nullptr : s.heads.back();
  switch (input_.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
    case 1: {  // switch faults on
      if (!head) return;
      HeadFaults faults;
      faults.statusStuckBusy = input_.ConsumeIntegralInRange<int>(0, 5) == 0;
      faults.statusZero = input_.ConsumeIntegralInRange<int>(0, 5) == 0;
      faults.otherDirectionOnly = input_.ConsumeIntegralInRange<int>(0, 5) == 0;
      for (int n = input_.ConsumeIntegralInRange<int>(0, 3); n > 0; --n) {
        faults.refusedRegisters.insert(input_.ConsumeIntegralInRange<uint32_t>(0, 0x3FF));
      }
      faults.busyPolls = input_.ConsumeIntegralInRange<uint32_t>(0, 150);
      faults.answerDelayMs = input_.ConsumeIntegralInRange<uint32_t>(0, 200);
      faults.transferDelayMs = input_.ConsumeIntegralInRange<uint32_t>(0, 30);
      faults.failAfterTransfers = input_.ConsumeIntegralInRange<int64_t>(-1, 400);
      faults.shortFrameReads = input_.ConsumeIntegralInRange<uint32_t>(0, 6);
      faults.failedFrameReads = input_.ConsumeIntegralInRange<uint32_t>(0, 6);
      head->SetFaults(faults);
      ++totalFaults_;
      if (gTrace) {
        std::fprintf(stderr,
                     "  faults: stuck %d zero %d other %d refused %zu busyPolls %u answer %u ms "
                     "transfer %u ms failAfter %lld short %u failed %u\n",
                     faults.statusStuckBusy, faults.statusZero, faults.otherDirectionOnly,
                     faults.refusedRegisters.size(), faults.busyPolls, faults.answerDelayMs,
                     faults.transferDelayMs, static_cast<long long>(faults.failAfterTransfers),
                     faults.shortFrameReads, faults.failedFrameReads);
      }
      return;
    }
    case 2:  // a healthy camera again
      if (head) head->SetFaults(HeadFaults{});
      return;
    case 3:  // unplugged
      if (head && !head->removed()) {
        head->Remove();
        ++totalRemovals_;
      }
      return;
    case 4: {  // plugged in again (or another model)
      if (head && !head->removed()) return;
      HeadOptions options;
      options.clock = gHeadClock;
      options.monochrome = input_.ConsumeBool();
      const ModelCode model =
          input_.ConsumeBool() ? s.model : kModelList[input_.ConsumeIntegralInRange(0, 8)];
      auto fresh = std::make_shared<VirtualHead>(model, options);
      if (fresh->AttachTo(kLetter)) s.heads.push_back(fresh);
      return;
    }
    case 5:
      if (head) head->Trigger();
      return;
    case 6: {  // the application reads its messages
      for (HWND queue : s.queues) {
        VarnelPosixMessage message;
        while (VarnelPosix_ReadMessage(queue, &message, 0) == 1) {
        }
      }
      if (!s.queues.empty() && input_.ConsumeBool()) {
        VarnelPosix_DestroyMessageQueue(s.queues.back());
        s.destroyedQueues.push_back(s.queues.back());
        s.queues.pop_back();
      }
      return;
    }
    default:  // the threads run for a while
      std::this_thread::sleep_for(
          std::chrono::microseconds(input_.ConsumeIntegralInRange(0, 3000)));
      return;
  }
}

namespace {

// Entries of a /proc/self directory: the process's threads or open files.
size_t CountEntries(const char* directory) {
  std::error_code error;
  size_t count = 0;
  for (std::filesystem::directory_iterator it(directory, error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace

void Program::Run() {
  State& s = *state_;
  const size_t threadsBefore = CountEntries("/proc/self/task");
  const size_t filesBefore = CountEntries("/proc/self/fd");
  std::error_code ignored;
  std::filesystem::remove(gDirectory + "/registry.reg", ignored);
  s.model = kModelList[input_.ConsumeIntegralInRange(0, 8)];
  HeadOptions options;
  options.clock = gHeadClock;
  options.monochrome = input_.ConsumeBool();
  auto head = std::make_shared<VirtualHead>(s.model, options);
  if (!head->AttachTo(kLetter)) Fail("drive letter taken");
  s.heads.push_back(head);
  // Most programs start from a selected camera, as applications do.
  if (input_.ConsumeBool()) {
    const CameraHandle handle = Varnel_Initialize(nullptr);
    if (handle != 0) {
      s.live.push_back(handle);
      char names[10][256];
      if (Varnel_EnumDevice(handle, &names[0][0]) > 0) Varnel_SetDeviceNumber(handle, 0);
      Varnel_SetCameraType(handle, input_.ConsumeIntegralInRange(0, 10));
    }
  }

  const auto& calls = ApiCalls();
  for (int step = 0; step < 48 && input_.remaining_bytes() > 0; ++step) {
    const int choice = input_.ConsumeIntegralInRange<int>(0, static_cast<int>(calls.size()) + 24);
    if (choice >= static_cast<int>(calls.size())) {
      CameraAction();
      continue;
    }
    const ApiCall& call = calls[static_cast<size_t>(choice)];
    const uint64_t before = FuzzClock::ThreadSlept();
    const int64_t result = call.run(*this);
    const uint64_t slept = FuzzClock::ThreadSlept() - before;
    ++totalCalls_;
    if (gTrace) {
      std::fprintf(stderr, "  %s -> %lld (%llu ms)\n", call.name, static_cast<long long>(result),
                   static_cast<unsigned long long>(slept));
    }
    if (slept > kCallBoundMs) {
      Fail(std::string(call.name) + " kept the application's thread " + std::to_string(slept) +
           " ms");
    }
    if (call.kind == ApiCall::kGetLastError && !DocumentedError(static_cast<int>(result))) {
      Fail("Varnel_GetLastError popped undocumented code " + std::to_string(result));
    }
    if (call.kind == ApiCall::kInitialize && result != 0) {
      s.live.push_back(static_cast<CameraHandle>(result));
    }
    if (call.kind == ApiCall::kRelease && result == 1) Released(lastHandle_);
    if (call.kind == ApiCall::kRelease && result != 1 &&
        std::find(s.live.begin(), s.live.end(), lastHandle_) != s.live.end()) {
      Fail("a release refused a live handle");
    }
    scratch_.clear();
    names_.clear();
  }

  // The application ends: every handle released (joining every thread), then
  // the heads and the queues go.
  while (!s.live.empty()) {
    const CameraHandle handle = s.live.back();
    if (Varnel_Release(handle) != 1) Fail("a live handle was not released at the end");
    Released(handle);
  }
  for (auto& h : s.heads) h->Detach();
  for (HWND queue : s.queues) VarnelPosix_DestroyMessageQueue(queue);
  std::filesystem::remove_all(gPictures, ignored);
  std::filesystem::create_directories(gPictures, ignored);
  // Every thread the library started has been joined, every volume and file
  // it opened closed.
  if (CountEntries("/proc/self/task") != threadsBefore) Fail("a thread outlived its handle");
  if (CountEntries("/proc/self/fd") != filesBefore) Fail("a file or volume was left open");
}

}  // namespace varnel::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string base = "/dev/shm";
  if (access(base.c_str(), W_OK) != 0) base = std::filesystem::temp_directory_path().string();
  std::string directory = base + "/varnel-api-fuzz-XXXXXX";
  if (mkdtemp(directory.data()) == nullptr) varnel::fuzz::Fail("no temporary directory");
  varnel::fuzz::gDirectory = directory;
  // Settings and drives of the fuzzer's own: no real drive is enumerated and
  // no user setting is read or changed.
  setenv("VARNEL_REGISTRY", (directory + "/registry.reg").c_str(), 1);
  std::filesystem::create_directories(directory + "/drives");
  setenv("VARNEL_DRIVES", (directory + "/drives").c_str(), 1);
  varnel::fuzz::gPictures = directory + "/pictures";
  std::filesystem::create_directories(varnel::fuzz::gPictures);
  varnel::fuzz::gTrace = std::getenv("VARNEL_FUZZ_TRACE") != nullptr;
  static varnel::fuzz::FuzzClock clock(true);
  static varnel::fuzz::FuzzClock headClock(false);
  varnel::fuzz::gClock = &clock;
  varnel::fuzz::gHeadClock = &headClock;
  varnel::SetCurrentClock(&clock);
  static std::string removeAtExit;
  removeAtExit = directory;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(removeAtExit, ignored);
    std::fprintf(stderr, "api fuzz: %llu export calls, %llu fault settings, %llu removals\n",
                 static_cast<unsigned long long>(varnel::fuzz::Program::TotalCalls()),
                 static_cast<unsigned long long>(varnel::fuzz::Program::TotalFaults()),
                 static_cast<unsigned long long>(varnel::fuzz::Program::TotalRemovals()));
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  varnel::fuzz::Program program(data, size);
  program.Run();
  return 0;
}
