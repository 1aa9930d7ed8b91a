// Frames per second through the whole library as an application sees them:
// Varnel_CallBackPreview at each model's full size in 24-bit colour, every
// frame taken in, demosaicked, drawn into the preview window and copied into
// the application's buffer, announced by a message that the benchmark reads.
//
// The head is paced at the link's bandwidth (550 MB/s over the bytes of one
// frame as it crosses the link), so link_fps is the reference in the same run:
// the goal is dropped = 0 and fps >= 0.99 x link_fps.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "api/handle_registry.h"
#include "bench_session.h"
#include "device/model_code.h"
#include "device/sensor_device.h"
#include "driver/camera_driver.h"
#include "instance/camera_instance.h"
#include "platform/process_time.h"
#include "sim/virtual_head.h"
#include "varnel.h"
#include "varnel_posix.h"

namespace varnel {
namespace {

constexpr double kLinkBytesPerSecond = 550e6;
constexpr int kMinimumFrames = 200;
constexpr auto kMinimumTime = std::chrono::seconds(3);
constexpr int kWarmUpFrames = 5;
constexpr char16_t kBenchLetter = u'V';

using Session = BenchSession;

// Chooses the head at `letter` and the model's full window in 24-bit colour;
// with `neutral` also unit gains, gamma off and no wait time (otherwise the
// settings a new user gets).
bool SelectAt(Session& s, int type, char16_t letter, bool neutral, int* width, int* height) {
  std::vector<char> names(32 * 256);
  const int count = Varnel_EnumDevice(s.handle, names.data());
  const std::string drive = std::string(1, static_cast<char>(letter)) + ":";
  for (int i = 0; i < count; ++i) {
    if (std::string(&names[static_cast<size_t>(i) * 256]) != drive) continue;
    if (Varnel_SetDeviceNumber(s.handle, i) != 1 || Varnel_SetCameraType(s.handle, type) != 1) {
      return false;
    }
    CameraInfo info{};
    info.size = sizeof info;
    if (Varnel_GetCameraInfo(s.handle, &info) != 1) return false;
    // Full size is the larger window the camera really delivers: the
    // instance's limit, or the sensor's where it is smaller (HXC3's sensor
    // clamps the instance's 5000 x 5000 to 3264 x 2448).
    int sensorWidth = 0;
    int sensorHeight = 0;
    Registry().Lookup(s.handle)->CurrentDriver()->GetSensorDevice()->GetMaxSize(&sensorWidth,
                                                                                &sensorHeight);
    const int w = std::min(info.maxWidth, sensorWidth);
    const int h = std::min(info.maxHeight, sensorHeight);
    Varnel_SetCaptureWindowEx(s.handle, w, 0, w, h, 0, h);
    if (neutral) {
      // Neutral colour: unit gains, gamma off.
      for (const auto& [id, value] : {std::pair{11, 100}, {7, 100}, {8, 100}, {9, 100}}) {
        Varnel_SetFilterValue(s.handle, id, value);
      }
      Varnel_SetWaitTime(s.handle, 0);
    }
    Varnel_SetColorMode(s.handle, 24);
    // A short start tells the window every start uses (three models have a
    // fixed one) and the frame's size on the link.
    if (Varnel_StartPreview(s.handle) != 1) return false;
    *width = Varnel_Width(s.handle);
    *height = Varnel_Height(s.handle);
    Varnel_StopPreview(s.handle);
    while (Varnel_GetLastError(s.handle) != 0) {
    }
    return true;
  }
  return false;
}

bool Select(Session& s, int type, int* width, int* height) {
  return SelectAt(s, type, kBenchLetter, true, width, height);
}

void BM_CallBackPreview(benchmark::State& state, int type) {
  for (auto _ : state) {
    Session s;
    s.head = std::make_shared<VirtualHead>(kModelList[type]);
    if (!s.head->AttachTo(kBenchLetter)) {
      state.SkipWithError("cannot attach the virtual head");
      return;
    }
    s.handle = Varnel_Initialize(nullptr);
    s.queue = VarnelPosix_CreateMessageQueue();
    int width = 0;
    int height = 0;
    if (!Select(s, type, &width, &height)) {
      state.SkipWithError("cannot select the camera");
      return;
    }
    const double frameBytes = s.head->Stream().frameBytes;
    const double linkFps = kLinkBytesPerSecond / frameBytes;
    s.head->SetFrameRate(linkFps);

    std::vector<uint8_t> buffer(static_cast<size_t>((width * 3 + 3) & ~3) * height);
    if (Varnel_CallBackPreview(s.handle, s.queue, buffer.data(), static_cast<int>(buffer.size()),
                               1) != 1) {
      state.SkipWithError("the preview did not start");
      return;
    }
    CameraDriver* driver = Registry().Lookup(s.handle)->CurrentDriver();
    const auto started = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point first;
    std::chrono::steady_clock::time_point last;
    int frames = 0;
    uint32_t firstNumber = 0;
    DriverCounters atFirst;
    double cpuAtFirst = 0;
    int tooSmall = 0;
    // Messages are taken in batches, with a millisecond's pause when none is
    // waiting: woken for each of 1500 frames a second, the benchmark's own
    // thread would take a good share of the two threads' processor time.
    auto lastMessage = std::chrono::steady_clock::now();
    for (;;) {
      VarnelPosixMessage message{};
      if (VarnelPosix_ReadMessage(s.queue, &message, 0) != 1) {
        if (std::chrono::steady_clock::now() - lastMessage > std::chrono::seconds(30)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        continue;
      }
      lastMessage = std::chrono::steady_clock::now();
      if (message.message != 0x8002) continue;
      if (message.wParam == 0) {
        ++tooSmall;
        continue;
      }
      const auto now = std::chrono::steady_clock::now();
      ++frames;
      // The rate is measured from a frame after the start-up (opening,
      // sending every setting, the first exposure) to the last.
      if (frames == kWarmUpFrames) {
        first = now;
        firstNumber = s.head->LastDeliveredFrame();
        atFirst = driver->Counters();
        cpuAtFirst = ProcessCpuSeconds();
      }
      last = now;
      if (frames >= kWarmUpFrames + kMinimumFrames && now - started >= kMinimumTime) break;
      if (now - started > std::chrono::seconds(60)) break;
    }
    // Frames lost on the way: the driver's drops, and frames the head made
    // that the reader never fetched (the head hands out only the newest).
    const DriverCounters atLast = driver->Counters();
    const uint32_t lastNumber = s.head->LastDeliveredFrame();
    const double cpuSpan = ProcessCpuSeconds() - cpuAtFirst;
    Varnel_StopPreview(s.handle);
    const double fetched = static_cast<double>((atLast.framesRead + atLast.framesDiscarded) -
                                               (atFirst.framesRead + atFirst.framesDiscarded));
    const double skipped = std::max(0.0, double(lastNumber - firstNumber) - fetched);
    const double dropped =
        static_cast<double>(atLast.framesDropped - atFirst.framesDropped) + skipped + tooSmall;

    const double span = std::chrono::duration<double>(last - first).count();
    const int measured = frames - kWarmUpFrames;
    state.SetIterationTime(std::chrono::duration<double>(last - started).count());
    state.counters["fps"] = measured > 0 && span > 0 ? measured / span : 0.0;
    state.counters["link_fps"] = linkFps;
    state.counters["fps_ratio"] = measured > 0 && span > 0 ? measured / span / linkFps : 0.0;
    state.counters["dropped"] = dropped;
    // Cores the process (head, library, this thread) kept busy meanwhile.
    state.counters["cores_busy"] = span > 0 ? cpuSpan / span : 0.0;
    state.counters["frames"] = measured;
    state.counters["frame_MB"] = frameBytes / 1e6;
    state.counters["width"] = width;
    state.counters["height"] = height;
  }
}

// Reference in the same run: the copies no acquisition path can avoid for a
// frame of the model's full size, one frame read into memory (N bytes) and
// the 24-bit picture copied into the application's buffer (3N), with memcpy.
// Its fps is what the machine's memory allows at best while this runs; the
// whole path also demosaics, takes the frame in, draws and copies the raw
// frame between its stages.
void BM_CallBackPreviewMemoryFloor(benchmark::State& state, int width, int height) {
  const size_t frame = static_cast<size_t>(width) * height;
  std::vector<uint8_t> wire(frame, 1), pool(frame), image(frame * 3, 2), application(frame * 3);
  for (auto _ : state) {
    std::memcpy(pool.data(), wire.data(), frame);
    std::memcpy(application.data(), image.data(), frame * 3);
    benchmark::DoNotOptimize(application.data());
    benchmark::ClobberMemory();
  }
  state.counters["fps"] =
      benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

// Memory of this process, in MB: resident now and at its peak.
void MemoryCounters(benchmark::State& state) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    for (const char* key : {"VmRSS:", "VmHWM:"}) {
      if (line.rfind(key, 0) == 0) {
        state.counters[key[2] == 'R' ? "rss_MB" : "peak_rss_MB"] =
            std::stod(line.substr(std::strlen(key))) / 1024.0;
      }
    }
  }
}

// Four cameras of one application at once, each with its own head, handle
// and message queue, streaming through Varnel_CallBackPreview in 24-bit
// colour at its model's full size, every frame copied into the
// application's buffer. The heads run at their pixel clock's rate (each row
// beside its head's rate: the goal is 0 dropped and fps >= 0.99 x head_fps,
// on the settings a new user gets otherwise, its 10 ms wait time included),
// or at the link's rate with no wait time (the aggregate beside
// BM_CallBackPreview of one camera in the same run).
constexpr auto kFourCamerasWarmUp = std::chrono::seconds(2);
constexpr auto kFourCamerasSpan = std::chrono::seconds(10);

struct FourCamera {
  const char* name;
  int type;
  char16_t letter;
};
constexpr FourCamera kFourCameras[] = {
    {"HXA1", 1, u'K'}, {"HXB2", 2, u'L'}, {"HZF6", 7, u'M'}, {"HZG7", 8, u'N'}};

void BM_FourCameras(benchmark::State& state, bool linkRate) {
  for (auto _ : state) {
    // The application's four cameras, each picked by its drive letter and
    // set to its full size.
    struct Camera {
      Session s;
      std::vector<uint8_t> buffer;
      double headFps = 0;
      int frames = 0;
      uint32_t firstNumber = 0;
      DriverCounters atFirst;
      std::chrono::steady_clock::time_point first, last;
    };
    std::vector<std::unique_ptr<Camera>> cameras;
    for (const FourCamera& c : kFourCameras) {
      auto camera = std::make_unique<Camera>();
      Session& s = camera->s;
      s.head = std::make_shared<VirtualHead>(kModelList[c.type]);
      if (!s.head->AttachTo(c.letter)) {
        state.SkipWithError("cannot attach a virtual head");
        return;
      }
      s.handle = Varnel_Initialize(nullptr);
      s.queue = VarnelPosix_CreateMessageQueue();
      int width = 0, height = 0;
      if (!SelectAt(s, c.type, c.letter, linkRate, &width, &height)) {
        state.SkipWithError("cannot select a camera");
        return;
      }
      const double frameBytes = s.head->Stream().frameBytes;
      if (linkRate) s.head->SetFrameRate(kLinkBytesPerSecond / frameBytes);
      camera->buffer.resize(static_cast<size_t>((width * 3 + 3) & ~3) * height);
      cameras.push_back(std::move(camera));
    }
    for (auto& camera : cameras) {
      if (Varnel_CallBackPreview(camera->s.handle, camera->s.queue, camera->buffer.data(),
                                 static_cast<int>(camera->buffer.size()), 1) != 1) {
        state.SkipWithError("a preview did not start");
        return;
      }
      camera->headFps = 1e6 / camera->s.head->ReadoutUs();
    }
    // Messages of all four queues, taken in turn, with a millisecond's
    // pause when none is waiting.
    const auto started = std::chrono::steady_clock::now();
    auto lastMessage = started;
    // Each camera's rate is measured from its first frame after a warm-up
    // (the four starts, and the frames the readers held meanwhile) to its
    // last, over at least ten seconds.
    auto enough = [&](const Camera& c) {
      return c.frames > kWarmUpFrames && c.last - c.first >= kFourCamerasSpan;
    };
    int tooSmall = 0;
    // The processor time of the whole process (heads, library and this
    // thread) over the measured span: how many cores it kept busy.
    double cpuAtWarmUp = -1;
    std::chrono::steady_clock::time_point wallAtWarmUp;
    for (;;) {
      bool any = false;
      if (cpuAtWarmUp < 0 && std::chrono::steady_clock::now() - started >= kFourCamerasWarmUp) {
        cpuAtWarmUp = ProcessCpuSeconds();
        wallAtWarmUp = std::chrono::steady_clock::now();
      }
      for (auto& camera : cameras) {
        VarnelPosixMessage message{};
        while (VarnelPosix_ReadMessage(camera->s.queue, &message, 0) == 1) {
          any = true;
          if (message.message != 0x8002) continue;
          if (message.wParam == 0) {
            ++tooSmall;
            continue;
          }
          const auto now = std::chrono::steady_clock::now();
          if (camera->frames == 0 && now - started < kFourCamerasWarmUp) continue;
          if (++camera->frames == kWarmUpFrames) {
            camera->first = now;
            camera->firstNumber = camera->s.head->LastDeliveredFrame();
            camera->atFirst = Registry().Lookup(camera->s.handle)->CurrentDriver()->Counters();
          }
          camera->last = now;
        }
      }
      const auto now = std::chrono::steady_clock::now();
      if (any) lastMessage = now;
      if (std::all_of(cameras.begin(), cameras.end(), [&](const auto& c) { return enough(*c); }))
        break;
      if (now - lastMessage > std::chrono::seconds(30) || now - started > std::chrono::seconds(120))
        break;
      if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    state.counters["cores_busy"] =
        (ProcessCpuSeconds() - cpuAtWarmUp) /
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallAtWarmUp).count();
    MemoryCounters(state);
    double aggregateMBps = 0;
    double worstRatio = 1e9;
    double dropped = tooSmall;
    for (size_t i = 0; i < cameras.size(); ++i) {
      Camera& c = *cameras[i];
      CameraDriver* driver = Registry().Lookup(c.s.handle)->CurrentDriver();
      const DriverCounters atLast = driver->Counters();
      const uint32_t lastNumber = c.s.head->LastDeliveredFrame();
      const double fetched =
          static_cast<double>((atLast.framesRead + atLast.framesDiscarded) -
                              (c.atFirst.framesRead + c.atFirst.framesDiscarded));
      const double skipped = std::max(0.0, double(lastNumber - c.firstNumber) - fetched);
      const double lost =
          static_cast<double>(atLast.framesDropped - c.atFirst.framesDropped) + skipped;
      const double span = std::chrono::duration<double>(c.last - c.first).count();
      const int measured = c.frames - kWarmUpFrames;
      const double fps = measured > 0 && span > 0 ? measured / span : 0.0;
      const std::string name = kFourCameras[i].name;
      state.counters[name + "_fps"] = fps;
      state.counters[name + "_head_fps"] = c.headFps;
      state.counters[name + "_fps_ratio"] = fps / c.headFps;
      state.counters[name + "_dropped"] = lost;
      dropped += lost;
      worstRatio = std::min(worstRatio, fps / c.headFps);
      aggregateMBps += fps * c.s.head->Stream().frameBytes / 1e6;
    }
    for (auto& camera : cameras) Varnel_StopPreview(camera->s.handle);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    state.counters["dropped"] = dropped;
    state.counters["worst_fps_ratio"] = worstRatio;
    state.counters["link_MBps"] = aggregateMBps;
  }
}

void RegisterAcquisitionBenchmarks() {
  static const char* const kNames[] = {"HWH8", "HXA1", "HXB2", "HXE5", "HXC3",
                                       "R2T",  "HYD4", "HZF6", "HZG7"};
  // The full sizes the streaming benchmark reaches (see Select).
  static const int kFullSize[9][2] = {{5000, 8192}, {2048, 1536}, {2560, 1920},
                                      {1280, 1024}, {3264, 2448}, {752, 480},
                                      {1360, 1024}, {1600, 1200}, {2456, 2038}};
  for (const bool linkRate : {false, true}) {
    benchmark::RegisterBenchmark(linkRate ? "BM_FourCameras/link_rate" : "BM_FourCameras/head_rate",
                                 BM_FourCameras, linkRate)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
  }
  for (int type = 0; type < 9; ++type) {
    benchmark::RegisterBenchmark((std::string("BM_CallBackPreview/") + kNames[type]).c_str(),
                                 BM_CallBackPreview, type)
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        (std::string("BM_CallBackPreviewMemoryFloor/") + kNames[type]).c_str(),
        BM_CallBackPreviewMemoryFloor, kFullSize[type][0], kFullSize[type][1])
        ->Unit(benchmark::kMillisecond);
  }
}

const bool kRegistered = (RegisterAcquisitionBenchmarks(), true);

}  // namespace
}  // namespace varnel
