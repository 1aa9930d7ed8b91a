// Several cameras in one process, each run from an application thread of
// its own, as an inspection line runs them: the handle registry, the drive
// and device tables, the settings store and its lock, the preview windows,
// the processor detection and the pipeline workers all meet here. These
// cases run under ThreadSanitizer and AddressSanitizer and under Wine.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it builds on.
#include <tlhelp32.h>
#endif

#include "imaging/frame_pipeline.h"
#include "imaging/pipeline_pool.h"
#include "support/camera_session.h"
#include "support/message_sink.h"
#include "support/settings_store_guard.h"
#include "support/wait_until.h"
#include "support/temp_dir.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

struct Camera {
  const char* name;
  ModelCode model;
  int type;
  char16_t letter;
  int width;  // each camera's own window width, so its frames are known by it
};
// Windows tall enough that a frame is split among the pipeline's threads.
constexpr int kHeight = 512;
const Camera kCameras[] = {
    {"HXA1", kModelHXA1, 1, u'K', 320},
    {"HXB2", kModelHXB2, 2, u'L', 352},
    {"HXC3", kModelHXC3, 4, u'M', 384},
};
constexpr int kSharpnessEveryoneSets = 7;

// Problems a camera's thread met, for the main thread to report.
class Problems {
 public:
  void Add(const std::string& what) {
    std::lock_guard<std::mutex> lock(mutex_);
    list_.push_back(what);
  }
  std::vector<std::string> List() {
    std::lock_guard<std::mutex> lock(mutex_);
    return list_;
  }

 private:
  std::mutex mutex_;
  std::vector<std::string> list_;
};

// Selects the drive of `letter` and the camera type on a new handle.
bool SelectCamera(CameraHandle h, const Camera& c) {
  std::vector<char> names(32 * 256);
  const int count = Varnel_EnumDevice(h, names.data());
  const std::string wanted = std::string(1, static_cast<char>(c.letter)) + ":";
  for (int i = 0; i < count; ++i) {
    if (wanted != &names[static_cast<size_t>(i) * 256]) continue;
    if (Varnel_SetDeviceNumber(h, i) != 1) return false;
    Varnel_SetCameraType(h, c.type);  // error 7: the stored window does not fit, replaced
    while (Varnel_GetLastError(h) != 0) {
    }
    return Varnel_SetCaptureWindowEx(h, 0, 0, c.width, 0, 0, kHeight) == 1 &&
           Varnel_SetColorMode(h, 24) == 1;
  }
  return false;
}

// One camera's life, several times over: made, streamed while its settings
// change, a picture saved, stopped (or released while streaming) and
// released, all while the other cameras do the same.
void RunCamera(const Camera& c, const std::filesystem::path& directory, Problems& problems) {
  for (int round = 0; round < 3; ++round) {
    const std::string where = std::string(c.name) + " round " + std::to_string(round) + ": ";
    const CameraHandle h = Varnel_Initialize(nullptr);
    if (h == 0 || !SelectCamera(h, c)) {
      problems.Add(where + "no camera");
      Varnel_Release(h);
      return;
    }
    MessageSink sink;
    std::vector<uint8_t> buffer(static_cast<size_t>(StrideOf(c.width, 3)) * kHeight);
    if (Varnel_CallBackPreview(h, sink.Window(), buffer.data(), static_cast<int>(buffer.size()),
                               1) != 1) {
      problems.Add(where + "the stream did not start");
      Varnel_Release(h);
      return;
    }
    for (int k = 0; k < 6; ++k) {
      const std::optional<PostedMessage> frame = sink.NextOf(kFrameMessage, kEventBoundMs);
      if (!frame || frame->wParam == 0) {
        problems.Add(where + (frame ? "a frame message without a frame, error " +
                                          std::to_string(frame->lParam)
                                    : "no frame message within the bound"));
        break;
      }
      // The record the message points at is this camera's own. The next
      // frame overwrites it while this thread reads (the interface says to
      // copy it at once); the library stores each field atomically, and the
      // fields are read so here.
      auto* record = reinterpret_cast<FrameInfo*>(frame->wParam);
      auto field = [](int32_t& value) { return std::atomic_ref<int32_t>(value).load(); };
      FrameInfo info{};
      info.width = field(record->width);
      info.height = field(record->height);
      info.bitsPerPixel = field(record->bitsPerPixel);
      if (info.width != c.width || info.height != kHeight || info.bitsPerPixel != 24) {
        problems.Add(where + "a frame of " + std::to_string(info.width) + " x " +
                     std::to_string(info.height));
      }
      Varnel_SetHue(h, 30 * k - 60);
      Varnel_SetGamma(h, 80 + 10 * k);
      Varnel_SetSharpness(h, k == 5 ? kSharpnessEveryoneSets : k);
      Varnel_SetGlobalGain(h, 10 + k);
    }
    const std::filesystem::path file =
        directory / (std::string(c.name) + "-" + std::to_string(round) + ".png");
    if (Varnel_SaveImage(h, const_cast<char*>(file.string().c_str()), VARNEL_FILE_PNG) != 1 ||
        std::filesystem::file_size(file) == 0) {
      problems.Add(where + "the picture was not saved");
    }
    // The last round releases the handle while frames still flow.
    if (round < 2) Varnel_StopPreview(h);
    if (Varnel_Release(h) != 1) problems.Add(where + "not released");
  }
}

// Fault caught: state the cameras of one process share without a guard:
// two threads' handles drawn alike or the registry's ring torn by inserts
// and removals at once, one camera's frames or frame record reaching
// another, the pipeline workers of one camera's frame running another's
// slab, a settings save of one release lost or corrupted by another's, a
// preview class or drive claim taken twice.
TEST(MultiCameraThreadsTest, ThreeCamerasStreamChangeSaveAndReleaseAtOnce) {
  SettingsStoreGuard store;
  store.Clear();
  std::vector<std::shared_ptr<VirtualHead>> heads;
  for (const Camera& c : kCameras) {
    HeadOptions options;
    options.framesPerSecond = 60;
    heads.push_back(std::make_shared<VirtualHead>(c.model, options));
    ASSERT_TRUE(heads.back()->AttachTo(c.letter)) << c.name;
  }
  const std::filesystem::path directory = UniqueTempDirectory("varnel-multi");
  ASSERT_FALSE(directory.empty());
  Problems problems;
  std::vector<std::thread> threads;
  for (const Camera& c : kCameras) {
    threads.emplace_back(RunCamera, std::cref(c), std::cref(directory), std::ref(problems));
  }
  for (std::thread& t : threads) t.join();
  for (const std::string& p : problems.List()) ADD_FAILURE() << p;
  // Every release saved its filter values; they all ended on one sharpness,
  // which a new handle reads back whichever save came last.
  const CameraHandle h = Varnel_Initialize(nullptr);
  ASSERT_TRUE(SelectCamera(h, kCameras[0]));
  EXPECT_EQ(Varnel_GetSharpness(h, nullptr), kSharpnessEveryoneSets);
  Varnel_Release(h);
  for (auto& head : heads) head->Detach();
  std::filesystem::remove_all(directory);
}

// The threads of this process now.
int ProcessThreads() {
#ifdef _WIN32
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  const DWORD self = GetCurrentProcessId();
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID == self) ++count;
  }
  CloseHandle(snapshot);
  return count;
#else
  int count = 0;
  for ([[maybe_unused]] const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    ++count;
  }
  return count;
#endif
}

// Fault caught: a thread of the library (a pipeline worker, a driver's
// reader or dispatcher) left running once the last handle is released: it
// would run on in an unloaded library, or be joined at unload, which under
// Windows' loader lock never returns.
TEST(MultiCameraThreadsTest, NoLibraryThreadOutlivesTheLastRelease) {
  SettingsStoreGuard store;
  store.Clear();
  HeadOptions options;
  options.framesPerSecond = 60;
  auto head = std::make_shared<VirtualHead>(kModelHXA1, options);
  ASSERT_TRUE(head->AttachTo(kCameras[0].letter));
  PipelinePool& pool = PipelinePool::Process();
  auto streamTwoCameras = [&] {
    const CameraHandle a = Varnel_Initialize(nullptr);
    const CameraHandle b = Varnel_Initialize(nullptr);
    ASSERT_TRUE(SelectCamera(a, kCameras[0]));
    MessageSink sink;
    ASSERT_EQ(Varnel_CallBackPreview(a, sink.Window(), nullptr, 0, 1), 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(sink.NextOf(kFrameMessage, kEventBoundMs));
    // The frames were split among the workers (on a machine of one core
    // there are none).
    EXPECT_EQ(pool.Workers() > 0, FramePipelineThreads() > 1);
    EXPECT_EQ(Varnel_Release(a), 1);
    // b still holds the pool: its workers stay for b's frames.
    EXPECT_EQ(pool.Workers() > 0, FramePipelineThreads() > 1);
    EXPECT_EQ(Varnel_Release(b), 1);
    EXPECT_EQ(pool.Workers(), 0);
  };
  // A first round lets the system start what it starts once per process.
  streamTwoCameras();
  const int before = ProcessThreads();
  ASSERT_GT(before, 0);
  streamTwoCameras();
  // Release joins what it started before it returns; the system may take a
  // moment to forget a thread that has ended.
  EXPECT_TRUE(WaitUntil([&] { return ProcessThreads() <= before; }))
      << ProcessThreads() << " threads, " << before << " before";
  head->Detach();
}

}  // namespace
}  // namespace varnel::testing
