// varnelcam: list, info, snap, trigger, reg and settings.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <optional>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"

namespace varnelcam {

// ---- Capture options -----------------------------------------------------------

const char* const kCaptureOptionsHelp =
    "capture options:\n"
    "  --mode BITS               colour mode: 8, 10, 12, 14, 16 (monochrome), 24, 32,\n"
    "                            30, 36, 42, 48, 64 (colour); default: as stored\n"
    "  --window WxH[+X+Y]|full   capture window on the sensor (default: as stored);\n"
    "                            full: the largest the camera reports\n"
    "  --subsample N             0 full, 1 half, 2 quarter resolution\n"
    "  --wait-time MS            milliseconds the library waits before it handles\n"
    "                            each streamed frame (a new user's is 10, which\n"
    "                            drops frames above about 90 a second; 0 waits\n"
    "                            not at all); default: as stored\n";

int CaptureOptions::Take(int argc, char** argv, int* i) {
  const std::string arg = argv[*i];
  if (arg != "--mode" && arg != "--window" && arg != "--subsample" && arg != "--wait-time") {
    return 0;
  }
  if (*i + 1 >= argc) {
    std::fprintf(stderr, "varnelcam: %s needs a value\n", arg.c_str());
    return -1;
  }
  const std::string text = argv[++*i];
  long value = 0;
  if (arg == "--mode") {
    if (!ParseInt(arg, text, 8, 896, &value)) return -1;
    mode = static_cast<int>(value);
  } else if (arg == "--wait-time") {
    if (!ParseInt(arg, text, 0, 60000, &value)) return -1;
    waitTime = static_cast<int>(value);
  } else if (arg == "--subsample") {
    if (text == "full" || text == "half" || text == "quarter") {
      subsample = text == "full" ? 0 : text == "half" ? 1 : 2;
    } else {
      if (!ParseInt(arg, text, 0, 2, &value)) return -1;
      subsample = static_cast<int>(value);
    }
  } else if (text == "full") {
    window = true;
    fullWindow = true;
  } else {
    int consumed = 0;
    int w = 0, h = 0, x0 = 0, y0 = 0;
    const int fields =
        std::sscanf(text.c_str(), "%dx%d%n+%d+%d%n", &w, &h, &consumed, &x0, &y0, &consumed);
    if ((fields != 2 && fields != 4) || consumed != static_cast<int>(text.size()) || w <= 0 ||
        h <= 0 || x0 < 0 || y0 < 0) {
      std::fprintf(stderr, "varnelcam: --window wants WIDTHxHEIGHT or WIDTHxHEIGHT+X+Y, not '%s'\n",
                   text.c_str());
      return -1;
    }
    window = true;
    width = w, height = h, x = x0, y = y0;
  }
  return 1;
}

int CaptureOptions::Apply(CameraHandle handle) const {
  if (mode >= 0 && Varnel_SetColorMode(handle, mode) != 1) {
    return ReportFailure(handle, "setting colour mode " + std::to_string(mode));
  }
  if (subsample >= 0 && Varnel_SetSubSample(handle, subsample) != 1) {
    return Complain(kExitFailed, "sub-sample " + std::to_string(subsample) + " was refused");
  }
  if (waitTime >= 0 && Varnel_SetWaitTime(handle, waitTime) != 1) {
    return ReportFailure(handle, "setting wait time " + std::to_string(waitTime) + " ms");
  }
  if (fullWindow) {
    // The three models with a fixed window always deliver their whole sensor.
    const int type = Varnel_GetCameraType(handle, 0);
    CameraInfo info{};
    info.size = sizeof info;
    if (type >= 6 && type <= 8) return kExitOk;
    if (Varnel_GetCameraInfo(handle, &info) != 1 ||
        Varnel_SetCaptureWindowEx(handle, 0, 0, info.maxWidth, 0, 0, info.maxHeight) != 1) {
      return ReportFailure(handle, "setting the full capture window");
    }
    return kExitOk;
  }
  if (window && Varnel_SetCaptureWindowEx(handle, 0, x, width, 0, y, height) != 1) {
    return ReportFailure(handle, "setting capture window " + std::to_string(width) + "x" +
                                     std::to_string(height) + "+" + std::to_string(x) + "+" +
                                     std::to_string(y));
  }
  return kExitOk;
}

void PictureSize(CameraHandle handle, int type, int* width, int* height) {
  int w = Varnel_Width(handle);
  int h = Varnel_Height(handle);
  if (type >= 6 && type <= 8) {
    CameraInfo info{};
    info.size = sizeof info;
    if (Varnel_GetCameraInfo(handle, &info) == 1) w = info.maxWidth, h = info.maxHeight;
  }
  const int sub = Varnel_GetSubSample(handle);
  const int factor = sub >= 1 && sub <= 3 ? 1 << sub : 1;
  *width = w / factor;
  *height = h / factor;
}

namespace {

bool WantsHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

int UnknownOption(const char* command, const char* arg) {
  std::fprintf(stderr, "varnelcam: unknown option '%s' for %s (see varnelcam %s --help)\n", arg,
               command, command);
  return kExitUsage;
}

// Reads argv[first..] as camera options only, for the commands that take no
// others. Returns kExitOk, or the exit status after reporting the problem.
int TakeCameraOptionsOnly(const char* command, int argc, char** argv, int first,
                          CameraOptions& options) {
  for (int i = first; i < argc; ++i) {
    const int taken = options.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 0) return UnknownOption(command, argv[i]);
  }
  return kExitOk;
}

void DrainErrors(CameraHandle handle) {
  while (Varnel_GetLastError(handle) != 0) {
  }
}

}  // namespace

// ---- list ----------------------------------------------------------------------

int CommandList(int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::printf(
        "usage: varnelcam list [--virtual MODEL[:LETTER]]\n"
        "\n"
        "Lists the camera drives the library finds, each with its camera's model\n"
        "where the camera head tells it (a virtual head does; a camera cannot, so\n"
        "choose its model with --type on the other commands), and the camera types\n"
        "the library drives.\n\n%s",
        kCameraOptionsHelp);
    return kExitOk;
  }
  CameraOptions options;
  if (const int status = TakeCameraOptionsOnly("list", argc, argv, 0, options); status != kExitOk)
    return status;
  Session session;
  if (const int status = session.Open(options, false); status != kExitOk) return status;
  const std::vector<std::string> drives = session.Drives();
  DrainErrors(session.handle());
  std::printf("camera drives: %zu\n", drives.size());
  for (size_t i = 0; i < drives.size(); ++i) {
    std::string model;
    if (!options.virtualModel.empty() && drives[i] == std::string(1, options.virtualLetter) + ":") {
      int type = 1;
      ParseCameraType(options.virtualModel, &type);
      model = std::string(ModelOfType(type)) + "  (virtual camera head, in this process)";
    } else if (const std::string told = HeadModelOnDrive(drives[i]); !told.empty()) {
      model = told + "  (virtual camera head)";
    } else {
      model = "model unknown (the camera cannot tell it: choose it with --type)";
    }
    std::printf("  %zu  %s  %s\n", i, drives[i].c_str(), model.c_str());
  }
  if (drives.empty()) {
    std::printf("  none attached (varnelcam --virtual HXA1 ... uses a virtual camera head)\n");
  }
  std::printf("camera types:\n");
  for (const CameraTypeName& entry : kCameraTypes) {
    std::printf("  %d%s  %s%s\n", entry.type, entry.type == 1 ? ", 9, 10" : "", entry.model,
                TakesTriggers(entry.type) ? "  (takes triggers)" : "");
  }
  return kExitOk;
}

// ---- info ----------------------------------------------------------------------

int CommandInfo(int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::printf(
        "usage: varnelcam info [camera options]\n"
        "\n"
        "Prints the library version and the camera drives and, when a camera is\n"
        "attached, its type, limits and current settings.\n\n%s",
        kCameraOptionsHelp);
    return kExitOk;
  }
  CameraOptions options;
  if (const int status = TakeCameraOptionsOnly("info", argc, argv, 0, options); status != kExitOk)
    return status;
  const uint32_t version = Varnel_GetDllVersion();
  std::printf("library version: 0x%08X\n", version);
  PrintProcessor();
  Session session;
  if (const int status = session.Open(options, false); status != kExitOk) return status;
  const std::vector<std::string> drives = session.Drives();
  DrainErrors(session.handle());
  std::printf("camera drives: %zu%s", drives.size(), drives.empty() ? "\n" : " (");
  for (size_t i = 0; i < drives.size(); ++i) {
    std::printf("%s%s", i ? " " : "", drives[i].c_str());
  }
  if (!drives.empty()) std::printf(")\n");
  if (drives.empty()) {
    std::printf("no camera attached (varnelcam info --virtual HXA1 shows a virtual one)\n");
    return kExitOk;
  }
  Session& camera = session;
  if (const int status = camera.Select(options); status != kExitOk) return status;
  const CameraHandle h = camera.handle();
  std::printf("camera: type %d (%s) on %s%s\n", camera.type(), ModelOfType(camera.type()),
              camera.driveName().c_str(),
              options.virtualModel.empty() ? "" : ", a virtual camera head");
  CameraInfo info{};
  info.size = sizeof info;
  if (Varnel_GetCameraInfo(h, &info) != 1) return ReportFailure(h, "reading the camera's limits");
  std::printf("sensor: up to %d x %d\n", info.maxWidth, info.maxHeight);
  std::printf("triggers: %s\n", TakesTriggers(camera.type()) ? "yes (varnelcam trigger)"
                                                             : "no (this model takes none)");
  std::printf("gain range: %d..%d, exposure range: %d..%d\n", info.gainMin, info.gainMax,
              info.exposureMin, info.exposureMax);
  int hTotal = 0, hStart = 0, width = 0, vTotal = 0, vStart = 0, height = 0;
  Varnel_GetCaptureWindowEx(h, &hTotal, &hStart, &width, &vTotal, &vStart, &height);
  std::printf("capture window: %d x %d at (%d, %d)\n", width, height, hStart, vStart);
  std::printf("colour mode: %d bits per pixel, sub-sample %d, wait time %d ms\n",
              Varnel_GetColorMode(h), Varnel_GetSubSample(h), Varnel_GetWaitTime(h));
  std::printf("global gain: %d, exposure time: %d\n", Varnel_GetGlobalGain(h, nullptr),
              Varnel_GetExposureTime(h, nullptr));
  DrainErrors(h);
  return kExitOk;
}

// ---- snap ----------------------------------------------------------------------

namespace {

struct FileFormat {
  const char* name;
  const char* extension;
  int code;
};
constexpr FileFormat kFormats[] = {
    {"bmp", "bmp", VARNEL_FILE_BMP},      {"raw", "raw", VARNEL_FILE_RAW},
    {"jpg", "jpg", VARNEL_FILE_JPEG_100}, {"jpeg", "jpg", VARNEL_FILE_JPEG_100},
    {"png", "png", VARNEL_FILE_PNG},      {"tif", "tif", VARNEL_FILE_TIFF},
    {"tiff", "tif", VARNEL_FILE_TIFF},
};

const FileFormat* FindFormat(std::string name) {
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const FileFormat& format : kFormats) {
    if (name == format.name) return &format;
  }
  return nullptr;
}

std::string Extension(const std::string& path) {
  const size_t dot = path.rfind('.');
  const size_t slash = path.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}

// Takes the raw mosaic of the picture just taken: the library's monochrome
// classes without gray processing hold the sensor's samples as they came.
int SnapDng(Session& session, const std::string& path) {
  const CameraHandle h = session.handle();
  const int mode = Varnel_GetColorMode(h);
  const bool deep = mode >= 10 && mode <= 16;
  const int rawMode = deep ? mode : 8;
  const int significantBits = deep ? mode : 8;
  // The gray settings are stored when the handle is released: put back what
  // was there after taking the mosaic.
  const int grayMode = Varnel_GetGrayMode(h, nullptr);
  const int gains[4] = {Varnel_GetGrayGainR(h, nullptr), Varnel_GetGrayGainG1(h, nullptr),
                        Varnel_GetGrayGainG2(h, nullptr), Varnel_GetGrayGainB(h, nullptr)};
  const int offsets[4] = {Varnel_GetGrayOffsetR(h, nullptr), Varnel_GetGrayOffsetG1(h, nullptr),
                          Varnel_GetGrayOffsetG2(h, nullptr), Varnel_GetGrayOffsetB(h, nullptr)};
  auto setGray = [&](int modeValue, const int* g, const int* o) {
    Varnel_SetGrayMode(h, modeValue);
    Varnel_SetGrayGainR(h, g[0]), Varnel_SetGrayGainG1(h, g[1]);
    Varnel_SetGrayGainG2(h, g[2]), Varnel_SetGrayGainB(h, g[3]);
    Varnel_SetGrayOffsetR(h, o[0]), Varnel_SetGrayOffsetG1(h, o[1]);
    Varnel_SetGrayOffsetG2(h, o[2]), Varnel_SetGrayOffsetB(h, o[3]);
  };
  const int unitGains[4] = {128, 128, 128, 128};
  const int noOffsets[4] = {0, 0, 0, 0};
  setGray(0, unitGains, noOffsets);
  int status = kExitOk;
  if (Varnel_SetColorMode(h, rawMode) != 1) {
    status = ReportFailure(h, "choosing the raw mode");
  } else if (Varnel_SnapShot(h, nullptr, 0, 1) != 1) {
    status = ReportFailure(h, "snapshot for the DNG");
  } else {
    int width = 0, height = 0;
    PictureSize(h, session.type(), &width, &height);
    const int bits = deep ? 16 : 8;
    const int rowBytes = RowBytes(width, bits);
    std::vector<uint8_t> mosaic(static_cast<size_t>(rowBytes) * height);
    if (Varnel_GetImage(h, mosaic.data(), static_cast<int>(mosaic.size()), 1) != 1) {
      status = ReportFailure(h, "copying the mosaic");
    } else {
      const int phase = Varnel_GetBayerMode(h, nullptr);
      if (!WriteDng(path, mosaic.data(), width, height, rowBytes, bits, significantBits, phase,
                    ModelOfType(session.type()))) {
        status = kExitFailed;
      } else {
        static const char* kPatternNames[4] = {"GBRG", "RGGB", "BGGR", "GRBG"};
        std::printf("wrote %s (%d x %d, %d-bit Bayer mosaic, CFA %s)\n", path.c_str(), width,
                    height, significantBits, kPatternNames[phase & 3]);
      }
    }
  }
  setGray(grayMode, gains, offsets);
  Varnel_SetColorMode(h, mode);
  DrainErrors(h);
  return status;
}

}  // namespace

int CommandSnap(int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::printf(
        "usage: varnelcam snap [options] [-o FILE] [--dng FILE]\n"
        "\n"
        "Takes one frame and saves it through the library.\n"
        "\n"
        "  -o FILE            picture file (default snap.<format>)\n"
        "  --format F         bmp, raw, jpg, png or tif (default: from FILE's\n"
        "                     extension, else png)\n"
        "  --quality Q        JPEG quality 100, 70 or 20 (default 100)\n"
        "  --dng FILE         also (or, without -o and --format, only) write the\n"
        "                     sensor's raw Bayer mosaic as a DNG with its colour\n"
        "                     filter pattern, for your own processing\n\n%s%s",
        kCaptureOptionsHelp, kCameraOptionsHelp);
    return kExitOk;
  }
  CameraOptions options;
  CaptureOptions capture;
  std::string output, dng, formatName;
  long quality = 100;
  for (int i = 0; i < argc; ++i) {
    int taken = options.Take(argc, argv, &i);
    if (taken == 0) taken = capture.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if ((arg == "-o" || arg == "--output") && hasValue) {
      output = argv[++i];
    } else if (arg == "--dng" && hasValue) {
      dng = argv[++i];
    } else if (arg == "--format" && hasValue) {
      formatName = argv[++i];
    } else if (arg == "--quality" && hasValue) {
      if (!ParseInt(arg, argv[++i], 0, 100, &quality)) return kExitUsage;
      if (quality != 100 && quality != 70 && quality != 20) {
        return Complain(kExitUsage, "--quality is 100, 70 or 20");
      }
    } else {
      return UnknownOption("snap", argv[i]);
    }
  }
  const FileFormat* format = nullptr;
  if (!formatName.empty()) {
    format = FindFormat(formatName);
    if (format == nullptr) {
      return Complain(kExitUsage, "unknown format '" + formatName + "' (bmp, raw, jpg, png, tif)");
    }
  } else if (!output.empty()) {
    format = FindFormat(Extension(output));
    if (format == nullptr) {
      return Complain(kExitUsage, "cannot tell the format of '" + output +
                                      "' from its name: give --format bmp|raw|jpg|png|tif");
    }
  } else if (dng.empty()) {
    format = FindFormat("png");
  }
  if (format != nullptr && output.empty()) output = std::string("snap.") + format->extension;
  int fileFormat = format != nullptr ? format->code : -1;
  if (fileFormat == VARNEL_FILE_JPEG_100) {
    fileFormat = quality == 70   ? VARNEL_FILE_JPEG_70
                 : quality == 20 ? VARNEL_FILE_JPEG_20
                                 : VARNEL_FILE_JPEG_100;
  }

  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  if (const int status = capture.Apply(h); status != kExitOk) return status;

  if (format != nullptr) {
    if (Varnel_SnapShot(h, nullptr, 0, 1) != 1) return ReportFailure(h, "snapshot");
    if (Varnel_SaveImage(h, output.data(), fileFormat) != 1) {
      return ReportFailure(h, "saving '" + output + "'");
    }
    int width = 0, height = 0;
    PictureSize(h, session.type(), &width, &height);
    std::printf("wrote %s (%d x %d, %d-bit %s)\n", output.c_str(), width, height,
                BitsPerPixelOfMode(Varnel_GetColorMode(h)), format->name);
  }
  if (!dng.empty()) return SnapDng(session, dng);
  return kExitOk;
}

// ---- trigger -------------------------------------------------------------------

namespace {

// Wall-clock microseconds since 1970: the clock the virtual head stamps the
// trigger time with, read alike by every process on the machine.
int64_t WallClockUs() {
  return std::chrono::duration_cast<std::chrono::microseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The value at fraction `q` of sorted values (nearest rank).
double Rank(const std::vector<double>& sorted, double q) {
  const size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(sorted.size())));
  return sorted[std::min(sorted.size(), std::max<size_t>(rank, 1)) - 1];
}

}  // namespace

int CommandTrigger(int argc, char** argv) {
  if (WantsHelp(argc, argv)) {
    std::printf(
        "usage: varnelcam trigger [options]\n"
        "\n"
        "Arms triggered acquisition and counts the triggered frames. HXA1 and HZG7\n"
        "cameras take triggers; the other models do not.\n"
        "\n"
        "  --frames N         frames to wait for (default 1)\n"
        "  --rate HZ          fire the virtual head's trigger N times at a steady\n"
        "                     rate, whether or not the last frame has arrived (as a\n"
        "                     production line does), and count the frames lost\n"
        "  --external         wait for triggers from outside (another program, the\n"
        "                     FUSE head's trigger file); without it or --rate the\n"
        "                     virtual head's trigger is fired after each frame\n"
        "  --timeout S        seconds to wait for each frame (default 30)\n"
        "\n"
        "Ends with the frames received of the triggers fired and, when the frames\n"
        "carry the virtual head's trigger time, the latency from each trigger to\n"
        "its frame message reaching the tool (median, 99th percentile, largest),\n"
        "with the head's read-out time of one frame for comparison. Ctrl-C ends it\n"
        "early with that summary (exit status 130).\n\n%s%s",
        kCaptureOptionsHelp, kCameraOptionsHelp);
    return kExitOk;
  }
  CameraOptions options;
  CaptureOptions capture;
  long frames = 1;
  double timeout = kDefaultTimeoutMs / 1000.0;
  double rate = 0;
  bool external = false;
  for (int i = 0; i < argc; ++i) {
    int taken = options.Take(argc, argv, &i);
    if (taken == 0) taken = capture.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    if (arg == "--frames" && i + 1 < argc) {
      if (!ParseInt(arg, argv[++i], 1, 1000000, &frames)) return kExitUsage;
    } else if (arg == "--timeout" && i + 1 < argc) {
      if (!ParseDouble(arg, argv[++i], 0.001, 86400, &timeout)) return kExitUsage;
    } else if (arg == "--rate" && i + 1 < argc) {
      if (!ParseDouble(arg, argv[++i], 0.001, 10000, &rate)) return kExitUsage;
    } else if (arg == "--external") {
      external = true;
    } else {
      return UnknownOption("trigger", argv[i]);
    }
  }
  if (rate > 0 && (external || options.virtualModel.empty())) {
    return Complain(kExitUsage,
                    "--rate fires a virtual head's trigger: it needs --virtual MODEL and no "
                    "--external");
  }
  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  if (const int status = capture.Apply(h); status != kExitOk) return status;
  VirtualCamera* head = external ? nullptr : session.virtualCamera();

  int width = 0, height = 0;
  PictureSize(h, session.type(), &width, &height);
  const int bits = BitsPerPixelOfMode(Varnel_GetColorMode(h));
  std::vector<uint8_t> buffer(static_cast<size_t>(RowBytes(width, bits)) * height);
  CatchInterrupt();
  if (Varnel_Trigger(h, session.window().handle(), buffer.data(), static_cast<int>(buffer.size()),
                     1) != 1) {
    return ReportFailure(h, "arming the trigger");
  }
  char how[96];
  if (head == nullptr) {
    std::snprintf(how, sizeof how, "waiting for external triggers");
  } else if (rate > 0) {
    std::snprintf(how, sizeof how, "firing the virtual head's trigger at %g Hz", rate);
  } else {
    std::snprintf(how, sizeof how, "firing the virtual head's trigger input");
  }
  std::printf("trigger armed on %s (%s): %s\n", session.driveName().c_str(),
              ModelOfType(session.type()), how);
  std::fflush(stdout);
  const int timeoutMs = static_cast<int>(timeout * 1000);
  // The library has started the head in trigger mode before Varnel_Trigger
  // returned; the steady rate starts now, whatever becomes of the frames.
  if (head != nullptr && rate > 0) head->StartTriggers(rate, static_cast<uint64_t>(frames));

  long received = 0;
  long fired = 0;  // by the tool, one trigger after each frame
  std::vector<double> latencies;
  std::optional<uint32_t> firstNumber, lastNumber;
  int status = kExitOk;
  while (received < frames) {
    if (head != nullptr && rate <= 0) {
      // The head takes a trigger once the last frame has been read from it.
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
      while (!head->FireTrigger()) {
        if (Interrupted()) {
          status = kExitInterrupted;
          break;
        }
        if (std::chrono::steady_clock::now() > deadline) {
          status = Complain(kExitFailed, "the camera never became ready for a trigger");
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      if (status != kExitOk) break;
      ++fired;
    }
    std::optional<FrameWindow::Message> message;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    bool nothingMore = false;
    while (std::chrono::steady_clock::now() < deadline) {
      message = session.window().Next(rate > 0 ? 50 : timeoutMs);
      if (message && message->message == kFrameMessage) break;
      message.reset();
      if (Interrupted()) break;
      if (rate > 0) {
        // Every trigger fired, and every frame the head made has been read
        // and announced or thrown away: no frame is on its way any more.
        const HeadTriggerCounts counts = head->TriggerCounts();
        nothingMore = !head->TriggersRunning() && counts.taken == counts.read + counts.cleared &&
                      static_cast<uint64_t>(received) >= counts.read;
        if (nothingMore) break;
      }
    }
    if (!message) {
      if (Interrupted()) {
        status = kExitInterrupted;
      } else if (!nothingMore) {
        status = Complain(kExitFailed, "no triggered frame within " + FormatSeconds(timeout));
      }
      break;
    }
    const int64_t arrivedUs = WallClockUs();
    if (message->wParam == 0) {
      status = Complain(kExitFailed, std::string("a triggered frame was lost: error ") +
                                         std::to_string(message->lParam) + " (" +
                                         ErrorText(static_cast<int>(message->lParam)) + ")");
      break;
    }
    ++received;
    FrameInfo info = *reinterpret_cast<const FrameInfo*>(message->wParam);
    const std::optional<uint32_t> number =
        ReadFrameStamp(buffer.data(), info.width, info.height, info.bitsPerPixel);
    const std::optional<uint32_t> firedAt = ReadFrameStamp(buffer.data(), info.width, info.height,
                                                           info.bitsPerPixel, kTriggerTimeStampRow);
    std::printf("frame %ld: %d x %d, %d-bit", received, info.width, info.height, info.bitsPerPixel);
    if (number) {
      std::printf(", camera frame number %u", *number);
      if (!firstNumber) firstNumber = number;
      lastNumber = number;
    }
    if (number && firedAt) {
      // The stamp keeps the low 32 bits of the microsecond: the difference
      // modulo 2^32 is right for any latency under an hour.
      const uint32_t micros = static_cast<uint32_t>(arrivedUs) - *firedAt;
      latencies.push_back(micros / 1000.0);
      std::printf(", latency %.1f ms", micros / 1000.0);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  Varnel_StopPreview(h);
  if (status == kExitOk && Varnel_GetLastError(h) != 0) status = ReportFailure(h, "trigger");

  // Triggers fired: those of the steady rate, those the tool fired one by
  // one, or, for outside triggers, as many as the camera numbered frames
  // between the first and the last one received.
  long triggers = received;
  if (head != nullptr && rate > 0) {
    triggers = static_cast<long>(head->TriggerCounts().fired);
  } else if (head != nullptr) {
    triggers = fired;
  } else if (firstNumber && lastNumber && *lastNumber >= *firstNumber) {
    triggers = std::max<long>(received, static_cast<long>(*lastNumber - *firstNumber) + 1);
  }
  std::printf("trigger: %ld of %ld frames received", received, triggers);
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    std::printf(", latency median %.1f ms, p99 %.1f ms, max %.1f ms", Rank(latencies, 0.5),
                Rank(latencies, 0.99), latencies.back());
  }
  std::printf("\n");
  if (head != nullptr) {
    std::printf("virtual head: read-out of one frame %.1f ms\n", head->ReadoutMs());
  }
  if (status == kExitOk && received < triggers) {
    status = Complain(kExitFailed, std::to_string(triggers - received) + " of " +
                                       std::to_string(triggers) + " triggers gave no frame");
  }
  return status;
}

// ---- reg -----------------------------------------------------------------------

int CommandReg(int argc, char** argv) {
  if (WantsHelp(argc, argv) || argc < 2) {
    std::fprintf(argc < 2 && !WantsHelp(argc, argv) ? stderr : stdout,
                 "usage: varnelcam reg read ADDRESS [camera options]\n"
                 "       varnelcam reg write ADDRESS VALUE [camera options]\n"
                 "\n"
                 "Reads or writes a 16-bit sensor register (8-bit address; numbers in\n"
                 "decimal or 0x hexadecimal).\n\n%s",
                 kCameraOptionsHelp);
    return WantsHelp(argc, argv) ? kExitOk : kExitUsage;
  }
  const std::string action = argv[0];
  if (action != "read" && action != "write") {
    return Complain(kExitUsage, "reg wants read or write, not '" + action + "'");
  }
  const int values = action == "read" ? 1 : 2;
  if (argc < 1 + values)
    return Complain(kExitUsage,
                    "reg " + action + " needs " + (values == 1 ? "an ADDRESS" : "ADDRESS VALUE"));
  long address = 0, value = 0;
  if (!ParseInt("ADDRESS", argv[1], 0, 0xFF, &address)) return kExitUsage;
  if (values == 2 && !ParseInt("VALUE", argv[2], 0, 0xFFFF, &value)) return kExitUsage;
  CameraOptions options;
  if (const int status = TakeCameraOptionsOnly("reg", argc, argv, 1 + values, options);
      status != kExitOk)
    return status;
  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  char name[16];
  std::snprintf(name, sizeof name, "0x%02lX", address);
  if (values == 2) {
    if (Varnel_WriteRegister(h, static_cast<int>(address), static_cast<int>(value)) != 1) {
      return ReportFailure(h, std::string("writing register ") + name);
    }
    std::printf("register %s <- 0x%04lX (%ld)\n", name, value, value);
    return kExitOk;
  }
  int valid = 0;
  const int read = Varnel_ReadRegister(h, static_cast<int>(address), &valid);
  if (valid != 1) return ReportFailure(h, std::string("reading register ") + name);
  std::printf("register %s = 0x%04X (%d)\n", name, read, read);
  return kExitOk;
}

// ---- settings ------------------------------------------------------------------

namespace {

struct NamedFilter {
  const char* name;
  int id;
  const char* range;
};
// The stored filter, gray and analog values by the names the tool shows.
// Identifiers 14..17 are not listed: the library accepts no value for them.
constexpr NamedFilter kFilters[] = {
    {"brightness", 1, "-255..255"},
    {"contrast", 2, "-127..127"},
    {"hue", 3, "-360..360"},
    {"saturation", 4, "-255..255"},
    {"sharpness", 5, "0..30"},
    {"bayer-gain-red", 7, "0..400"},
    {"bayer-gain-green", 8, "0..400"},
    {"bayer-gain-blue", 9, "0..400"},
    {"bayer-gain-auto", 10, "0/1"},
    {"gamma", 11, "0..200, 100 = none"},
    {"bayer-mode", 12, "0..3"},
    {"global-gain", 13, "per model"},
    {"exposure-time", 18, "1..6400"},
    {"gray-mode", 19, "0..2"},
    {"gray-gain-r", 20, "0..255"},
    {"gray-gain-g1", 21, "0..255"},
    {"gray-gain-g2", 22, "0..255"},
    {"gray-gain-b", 23, "0..255"},
    {"gray-offset-r", 24, "-255..255"},
    {"gray-offset-g1", 25, "-255..255"},
    {"gray-offset-g2", 26, "-255..255"},
    {"gray-offset-b", 27, "-255..255"},
};

}  // namespace

int CommandSettings(int argc, char** argv) {
  if (WantsHelp(argc, argv) || argc < 1) {
    std::fprintf(argc < 1 ? stderr : stdout,
                 "usage: varnelcam settings show [camera options]\n"
                 "       varnelcam settings set NAME=VALUE... [camera options]\n"
                 "\n"
                 "Shows or changes the settings stored for a camera type (the library\n"
                 "loads them when the type is chosen and stores the filter, gray and\n"
                 "analog values when the camera is released). Names for set:\n"
                 "  mirror-h, mirror-v (0/1), auto-iris (0 off, 1 exposure, 2 gain) and\n"
                 "  the filter values `settings show` lists.\n\n%s",
                 kCameraOptionsHelp);
    return argc < 1 ? kExitUsage : kExitOk;
  }
  const std::string action = argv[0];
  if (action != "show" && action != "set") {
    return Complain(kExitUsage, "settings wants show or set, not '" + action + "'");
  }
  CameraOptions options;
  std::vector<std::pair<std::string, long>> assignments;
  for (int i = 1; i < argc; ++i) {
    const int taken = options.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    if (action == "set" && equals != std::string::npos && arg[0] != '-') {
      long value = 0;
      if (!ParseInt(arg.substr(0, equals), arg.substr(equals + 1), -100000000, 100000000, &value)) {
        return kExitUsage;
      }
      assignments.emplace_back(arg.substr(0, equals), value);
    } else {
      return UnknownOption("settings", argv[i]);
    }
  }
  if (action == "set" && assignments.empty()) {
    return Complain(kExitUsage, "settings set needs NAME=VALUE");
  }
  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();

  if (action == "set") {
    for (const auto& [name, value] : assignments) {
      const int v = static_cast<int>(value);
      int ok = 0;
      bool known = true;
      if (name == "mirror-h") {
        Varnel_SetMirrorH(h, v);
        ok = Varnel_GetMirrorH(h) == (v != 0 ? 1 : 0) ? 1 : 0;
      } else if (name == "mirror-v") {
        Varnel_SetMirrorV(h, v);
        ok = Varnel_GetMirrorV(h) == (v != 0 ? 1 : 0) ? 1 : 0;
      } else if (name == "auto-iris") {
        ok = Varnel_SetAutoIris(h, v);
      } else {
        known = false;
        for (const NamedFilter& filter : kFilters) {
          if (name == filter.name) {
            known = true;
            ok = Varnel_SetFilterValue(h, filter.id, v);
          }
        }
      }
      if (!known) {
        return Complain(kExitUsage, "unknown setting '" + name + "' (see varnelcam settings show)");
      }
      if (ok != 1) return ReportFailure(h, "setting " + name + " to " + std::to_string(v));
      std::printf("%s = %d\n", name.c_str(), v);
    }
    std::printf("stored for camera type %d (%s)\n", session.type(), ModelOfType(session.type()));
    return kExitOk;
  }

  std::printf("camera type %d (%s) on %s\n", session.type(), ModelOfType(session.type()),
              session.driveName().c_str());
  int hTotal = 0, hStart = 0, width = 0, vTotal = 0, vStart = 0, height = 0;
  Varnel_GetCaptureWindowEx(h, &hTotal, &hStart, &width, &vTotal, &vStart, &height);
  std::printf("%-18s %d x %d at (%d, %d)\n", "capture-window", width, height, hStart, vStart);
  std::printf("%-18s %d\n", "colour-mode", Varnel_GetColorMode(h));
  std::printf("%-18s %d\n", "sub-sample", Varnel_GetSubSample(h));
  std::printf("%-18s %d ms\n", "wait-time", Varnel_GetWaitTime(h));
  std::printf("%-18s %d\n", "mirror-h", Varnel_GetMirrorH(h));
  std::printf("%-18s %d\n", "mirror-v", Varnel_GetMirrorV(h));
  std::printf("%-18s %d\n", "auto-iris", Varnel_GetAutoIris(h, nullptr));
  for (const NamedFilter& filter : kFilters) {
    int valid = 0;
    const int value = Varnel_GetFilterValue(h, filter.id, &valid);
    if (valid == 1) {
      std::printf("%-18s %-6d (%s)\n", filter.name, value, filter.range);
    } else {
      std::printf("%-18s unavailable\n", filter.name);
    }
  }
  DrainErrors(h);
  return kExitOk;
}

}  // namespace varnelcam
