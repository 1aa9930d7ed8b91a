// Several cameras of one application at once through the shipped library
// (the shared object on Linux, VarnelSdk_Rade.dll under Wine, called through
// its export table), each streaming with Varnel_CallBackPreview in 24-bit
// colour at its model's full size on the settings a new user gets otherwise;
// built for both so that bench/run-four-heads.sh can run the same cameras
// (varnel-camsim heads) through each in turn.
//
// Usage: varnel_four_cameras [--seconds S] [--warm-up S] LETTER:TYPE ...
// Prints one line per camera:
//   camera <letter> <model> <w>x<h> head_fps <f> fps <f> ratio <r> read <n>
//          delivered <n> dropped <n>
// and for the process its memory before the cameras start and at the end:
// [before] memory peak_rss_MB <m> rss_MB <m>. The head's
// rate comes from its `triggers` file (the frame period, readout-us), read
// through the drive's root; read, delivered and dropped count the frames
// from the first after the warm-up to the last, by the frame numbers the
// head stamps into its pictures.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>
#endif

#include "support/message_sink.h"
#include "varnel.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kModels[] = {"HWH8", "HXA1", "HXB2", "HXE5", "HXC3",
                                   "R2T",  "HYD4", "HZF6", "HZG7"};

// The head's frame number: 32 cells of 4 x 8 pixels in the top-left corner,
// bit 0 first, the bit in a cell's upper half and its complement below
// (read from a 24-bit picture, rows top first).
std::optional<uint32_t> FrameNumber(const uint8_t* picture, int width, int height) {
  if (width < 128 || height < 8) return std::nullopt;
  const int stride = (width * 3 + 3) & ~3;
  auto bright = [&](int x, int y) {
    const uint8_t* p = picture + static_cast<size_t>(y) * stride + x * 3;
    return std::max({p[0], p[1], p[2]}) >= 0x80;
  };
  uint32_t number = 0;
  for (int bit = 0; bit < 32; ++bit) {
    const bool upper = bright(bit * 4 + 1, 2);
    if (upper == bright(bit * 4 + 1, 5)) return std::nullopt;
    if (upper) number |= 1u << bit;
  }
  return number;
}

// The root of a camera drive as a path this program can open.
std::string DriveRoot(char letter) {
#ifdef _WIN32
  return std::string(1, letter) + ":\\";
#else
  const char* drives = std::getenv("VARNEL_DRIVES");
  return std::string(drives != nullptr ? drives : ".") + "/" +
         static_cast<char>(std::tolower(static_cast<unsigned char>(letter))) + ":/";
#endif
}

double HeadFps(char letter) {
  std::ifstream report(DriveRoot(letter) + "triggers");
  std::string key;
  double value = 0;
  while (report >> key >> value) {
    if (key == "readout-us" && value > 0) return 1e6 / value;
  }
  return 0;
}

void PrintMemory() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    std::printf("memory peak_rss_MB %.1f rss_MB %.1f\n", counters.PeakWorkingSetSize / 1048576.0,
                counters.WorkingSetSize / 1048576.0);
  }
#else
  std::ifstream status("/proc/self/status");
  double peak = 0, now = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) peak = std::atof(line.c_str() + 6) / 1024.0;
    if (line.rfind("VmRSS:", 0) == 0) now = std::atof(line.c_str() + 6) / 1024.0;
  }
  std::printf("memory peak_rss_MB %.1f rss_MB %.1f\n", peak, now);
#endif
}

struct Camera {
  char letter = 0;
  int type = 0;
  CameraHandle handle = 0;
  std::unique_ptr<varnel::testing::MessageSink> window;
  std::vector<uint8_t> buffer;
  int width = 0, height = 0;
  long delivered = 0, lost = 0;
  std::optional<uint32_t> firstNumber;
  uint32_t lastNumber = 0;
  Clock::time_point first, last;
};

bool Open(Camera& c) {
  c.handle = Varnel_Initialize(nullptr);
  if (c.handle == 0) return false;
  std::vector<char> names(VARNEL_MAX_DEVICES * VARNEL_DEVICE_NAME_SIZE, 0);
  const int count = Varnel_EnumDevice(c.handle, names.data());
  const std::string drive = std::string(1, c.letter) + ":";
  int index = -1;
  for (int i = 0; i < count && i < VARNEL_MAX_DEVICES; ++i) {
    if (drive == &names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE]) index = i;
  }
  if (index < 0 || Varnel_SetDeviceNumber(c.handle, index) != 1) return false;
  Varnel_SetCameraType(c.handle, c.type);  // error 7: the stored window did not fit
  CameraInfo info{};
  info.size = sizeof info;
  if (Varnel_GetCameraInfo(c.handle, &info) != 1) return false;
  // The full size; the three models with a fixed window always deliver it.
  if (c.type < 6) Varnel_SetCaptureWindowEx(c.handle, 0, 0, info.maxWidth, 0, 0, info.maxHeight);
  if (Varnel_SetColorMode(c.handle, 24) != 1) return false;
  while (Varnel_GetLastError(c.handle) != 0) {
  }
  c.width = c.type >= 6 ? info.maxWidth : Varnel_Width(c.handle);
  c.height = c.type >= 6 ? info.maxHeight : Varnel_Height(c.handle);
  c.buffer.resize(static_cast<size_t>((c.width * 3 + 3) & ~3) * c.height);
  c.window = std::make_unique<varnel::testing::MessageSink>();
  return Varnel_CallBackPreview(c.handle, c.window->Window(), c.buffer.data(),
                                static_cast<int>(c.buffer.size()), 1) == 1;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 20, warmUp = 2;
  std::vector<Camera> cameras;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
    } else if (std::strcmp(argv[i], "--warm-up") == 0 && i + 1 < argc) {
      warmUp = std::atof(argv[++i]);
    } else if (std::strlen(argv[i]) >= 3 && argv[i][1] == ':') {
      Camera c;
      c.letter = static_cast<char>(std::toupper(static_cast<unsigned char>(argv[i][0])));
      c.type = std::atoi(argv[i] + 2);
      if (c.type < 0 || c.type > 8) c.type = 1;
      cameras.push_back(std::move(c));
    } else {
      std::fprintf(stderr, "usage: %s [--seconds S] [--warm-up S] LETTER:TYPE ...\n", argv[0]);
      return 2;
    }
  }
  // What the cameras' images and buffers cost: the memory before they
  // start and at the end.
  std::printf("before ");
  PrintMemory();
  for (Camera& c : cameras) {
    if (!Open(c)) {
      std::fprintf(stderr, "camera %c: could not start (error %d)\n", c.letter,
                   c.handle ? Varnel_GetLastError(c.handle) : 0);
      return 1;
    }
  }
  const Clock::time_point start = Clock::now();
  const auto warmUpEnd =
      start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(warmUp));
  const auto end = warmUpEnd + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(seconds));
  while (Clock::now() < end) {
    bool any = false;
    for (Camera& c : cameras) {
      while (std::optional<varnel::testing::PostedMessage> message = c.window->Next(0)) {
        any = true;
        if (message->message != varnel::testing::kFrameMessage) continue;
        const Clock::time_point now = Clock::now();
        if (message->wParam == 0) {
          ++c.lost;
          continue;
        }
        if (now < warmUpEnd) continue;
        const std::optional<uint32_t> number = FrameNumber(c.buffer.data(), c.width, c.height);
        if (c.delivered++ == 0) {
          c.first = now;
          c.firstNumber = number;
        }
        c.last = now;
        if (number) c.lastNumber = std::max(c.lastNumber, *number);
      }
    }
    if (!any) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (Camera& c : cameras) Varnel_StopPreview(c.handle);
  for (Camera& c : cameras) {
    const double span = std::chrono::duration<double>(c.last - c.first).count();
    const double fps = c.delivered > 1 && span > 0 ? (c.delivered - 1) / span : 0.0;
    const double head = HeadFps(c.letter);
    const long read =
        c.firstNumber ? static_cast<long>(c.lastNumber - *c.firstNumber) + 1 : c.delivered;
    std::printf(
        "camera %c %s %dx%d head_fps %.3f fps %.3f ratio %.4f read %ld delivered %ld dropped "
        "%ld\n",
        c.letter, kModels[c.type], c.width, c.height, head, fps, head > 0 ? fps / head : 0.0, read,
        c.delivered, std::max(0L, read - c.delivered) + c.lost);
  }
  PrintMemory();
  for (Camera& c : cameras) Varnel_Release(c.handle);
  return 0;
}
