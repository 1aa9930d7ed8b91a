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
  std::string text;
  if (!TakeValue(argc, argv, i, &text)) return -1;
  long value = 0;
  if (arg == "--mode") {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || !IsColorMode(static_cast<int>(value))) {
      std::fprintf(stderr, "varnelcam: --mode wants one of %s, not '%s'\n", ColorModeList().c_str(),
                   text.c_str());
      return -1;
    }
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
    if (!ParseWindow(text, &width, &height, &x, &y)) {
      std::fprintf(stderr, "varnelcam: --window wants WIDTHxHEIGHT or WIDTHxHEIGHT+X+Y, not '%s'\n",
                   text.c_str());
      return -1;
    }
    window = true;
  }
  return 1;
}

int CaptureOptions::Apply(CameraHandle handle, int type) const {
  if (mode >= 0 && Varnel_SetColorMode(handle, mode) != 1) {
    return ReportFailure(handle, "setting colour mode " + std::to_string(mode));
  }
  if (subsample >= 0 && Varnel_SetSubSample(handle, subsample) != 1) {
    return Complain(kExitFailed, "sub-sample " + std::to_string(subsample) +
                                     " was refused: it leaves the window no picture");
  }
  if (waitTime >= 0 && Varnel_SetWaitTime(handle, waitTime) != 1) {
    return ReportFailure(handle, "setting wait time " + std::to_string(waitTime) + " ms");
  }
  if (fullWindow) {
    // The models with a fixed window always deliver their whole sensor.
    if (WindowIsFixed(type)) return kExitOk;
    CameraInfo info{};
    info.size = sizeof info;
    if (Varnel_GetCameraInfo(handle, &info) != 1 ||
        Varnel_SetCaptureWindowEx(handle, 0, 0, info.maxWidth, 0, 0, info.maxHeight) != 1) {
      return ReportFailure(handle, "setting the full capture window");
    }
    return kExitOk;
  }
  if (!window) return kExitOk;
  // What the model cannot take is said here, with its limits, before the
  // library is asked.
  CameraInfo info{};
  info.size = sizeof info;
  if (Varnel_GetCameraInfo(handle, &info) == 1) {
    const std::string sensor = std::string(ModelOfType(type)) + "'s sensor (" +
                               std::to_string(info.maxWidth) + " x " +
                               std::to_string(info.maxHeight) + ")";
    if (WindowIsFixed(type)) {
      return Complain(kExitUsage, "--window: a " + std::string(ModelOfType(type)) +
                                      " always captures its whole sensor (" +
                                      std::to_string(info.maxWidth) + " x " +
                                      std::to_string(info.maxHeight) + ")");
    }
    if (static_cast<long>(x) + width > info.maxWidth ||
        static_cast<long>(y) + height > info.maxHeight) {
      return Complain(kExitUsage, "--window " + std::to_string(width) + "x" +
                                      std::to_string(height) + "+" + std::to_string(x) + "+" +
                                      std::to_string(y) + " does not fit the " + sensor);
    }
  }
  if (Varnel_SetCaptureWindowEx(handle, 0, x, width, 0, y, height) != 1) {
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
        "Prints the library version, the processor and what the library runs on\n"
        "it, the camera drives and, when a camera is attached, its type, limits and\n"
        "current settings, under the names `varnelcam settings` uses. Gain and\n"
        "exposure are the sensor's own register values: the library sends them\n"
        "unchanged, so each is counted in the units of the model's register (the\n"
        "camera does not report how long one exposure unit lasts). Exits 3 when no\n"
        "camera is attached.\n\n%s",
        kCameraOptionsHelp);
    return kExitOk;
  }
  CameraOptions options;
  if (const int status = TakeCameraOptionsOnly("info", argc, argv, 0, options); status != kExitOk)
    return status;
  const uint32_t version = Varnel_GetDllVersion();
  std::printf("library version: 0x%08X (%u.%u.%u)\n", version, (version >> 16) & 0xFF,
              (version >> 8) & 0xFF, version & 0xFF);
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
  std::fflush(stdout);
  // Without a camera Select says so and gives the status every camera
  // command exits with.
  if (const int status = session.Select(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  std::printf("camera: type %d (%s) on %s%s\n", session.type(), ModelOfType(session.type()),
              session.driveName().c_str(),
              options.virtualModel.empty() ? "" : ", a virtual camera head");
  CameraInfo info{};
  info.size = sizeof info;
  if (Varnel_GetCameraInfo(h, &info) != 1) return ReportFailure(h, "reading the camera's limits");
  std::printf("sensor: up to %d x %d%s\n", info.maxWidth, info.maxHeight,
              WindowIsFixed(session.type()) ? ", always captured whole" : "");
  std::printf("triggers: %s\n", TakesTriggers(session.type()) ? "yes (varnelcam trigger)"
                                                              : "no (this model takes none)");
  PrintSettings(h, session.type(), false);
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

// What a file of `format` holds for a picture of colour mode `mode` whose
// deep samples carry `significantBits`: JPEG always 8 bits a sample, BMP and
// RAW the picture as held, PNG and TIFF its samples with alpha where the
// picture has a fourth one.
std::string FileContents(const FileFormat& format, int mode, int significantBits) {
  const int bits = BitsPerPixelOfMode(mode);
  const bool mono = bits <= 16;
  const bool jpeg = format.code == VARNEL_FILE_JPEG_100;
  const bool alpha = (bits == 32 || bits == 64) &&
                     (format.code == VARNEL_FILE_PNG || format.code == VARNEL_FILE_TIFF);
  const int fileBits = jpeg ? (mono ? 8 : 24) : bits;
  std::string text = std::to_string(fileBits) + "-bit " +
                     (mono    ? "grey"
                      : alpha ? "RGBA"
                              : "colour") +
                     " " + format.extension;
  if (!jpeg && significantBits > 8)
    text += ", " + std::to_string(significantBits) + " significant bits";
  if (fileBits != bits) text += ", from the " + std::to_string(bits) + "-bit picture";
  return text;
}

// kExitOk when `path` (none when empty) can be written, else kExitUsage after
// saying why in the system's words.
int CheckWritable(const std::string& path) {
  if (path.empty()) return kExitOk;
  const std::string why = WhyNotWritable(path);
  if (why.empty()) return kExitOk;
  return Complain(kExitUsage, "cannot write '" + path + "': " + why);
}

// Takes the raw mosaic of the picture just taken: the library's monochrome
// classes without gray processing hold the sensor's samples as they came.
int SnapDng(Session& session, const std::string& path) {
  const CameraHandle h = session.handle();
  const int mode = Varnel_GetColorMode(h);
  // The monochrome mode of the same depth: 8 bits, or for a deep mode (grey
  // or colour) the deep monochrome mode of its significant bits.
  static const int kRawModes[] = {8, 10, 12, 14, 16};
  const int depth = SignificantBitsOf(-1, mode);
  const bool deep = depth > 8;
  const int rawMode = kRawModes[(depth - 8) / 2];
  // The white level is what the sensor's samples reach: a 10-bit sensor's
  // frames peak at 1023 in every deep mode, 16-bit ones included.
  const int significantBits = SignificantBitsOf(session.type(), rawMode);
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
        std::printf(
            "wrote %s (%d x %d Bayer mosaic, CFA %s, %d-bit samples, white level %u: %d "
            "significant bits)\n",
            path.c_str(), width, height, kPatternNames[phase & 3], bits,
            (1u << significantBits) - 1, significantBits);
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
        "Takes one frame and saves it through the library, and says what the file\n"
        "holds: JPEG is always 8 bits a sample; BMP and RAW keep the picture as\n"
        "the library holds it (the deep BMPs in a layout most viewers cannot open);\n"
        "PNG and TIFF keep deep samples.\n"
        "\n"
        "  -o FILE            picture file (default snap.<format>)\n"
        "  --format F         bmp, raw, jpg, png or tif (default: from FILE's\n"
        "                     extension, else png)\n"
        "  --quality Q        JPEG quality 100, 70 or 20 (default 100)\n"
        "  --dng FILE         also (or, without -o and --format, only) write the\n"
        "                     sensor's raw Bayer mosaic as a DNG with its colour\n"
        "                     filter pattern, for your own processing: 8-bit samples,\n"
        "                     or 16-bit ones in a deep mode, with the white level of\n"
        "                     the bits the sensor delivers\n\n%s%s",
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
    std::string value;
    if (arg == "-o" || arg == "--output" || arg == "--dng" || arg == "--format" ||
        arg == "--quality") {
      if (!TakeValue(argc, argv, &i, &value)) return kExitUsage;
    } else {
      return UnknownOption("snap", argv[i]);
    }
    if (arg == "-o" || arg == "--output") {
      output = value;
    } else if (arg == "--dng") {
      dng = value;
    } else if (arg == "--format") {
      formatName = value;
    } else {
      if (!ParseInt(arg, value, 0, 100, &quality)) return kExitUsage;
      if (quality != 100 && quality != 70 && quality != 20) {
        return Complain(kExitUsage, "--quality is 100, 70 or 20, not " + value);
      }
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
  // A file that cannot be written is found before the camera is started.
  if (const int status = CheckWritable(format != nullptr ? output : ""); status != kExitOk) {
    return status;
  }
  if (const int status = CheckWritable(dng); status != kExitOk) return status;

  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  if (const int status = capture.Apply(h, session.type()); status != kExitOk) return status;

  if (format != nullptr) {
    if (Varnel_SnapShot(h, nullptr, 0, 1) != 1) return ReportFailure(h, "snapshot");
    if (Varnel_SaveImage(h, output.data(), fileFormat) != 1) return ReportSaveFailure(h, output);
    int width = 0, height = 0;
    PictureSize(h, session.type(), &width, &height);
    const int mode = Varnel_GetColorMode(h);
    std::printf("wrote %s (%d x %d, %s)\n", output.c_str(), width, height,
                FileContents(*format, mode, SignificantBitsOf(session.type(), mode)).c_str());
    const int bits = BitsPerPixelOfMode(mode);
    if (format->code == VARNEL_FILE_BMP && (bits == 16 || bits >= 48)) {
      std::fprintf(stderr,
                   "varnelcam: note: %s is a %d-bit BMP in the library's own layout, which most "
                   "viewers cannot open; PNG and TIFF keep the deep samples and open everywhere\n",
                   output.c_str(), bits);
    }
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
    std::string value;
    if ((arg == "--frames" || arg == "--timeout" || arg == "--rate") &&
        !TakeValue(argc, argv, &i, &value)) {
      return kExitUsage;
    }
    if (arg == "--frames") {
      if (!ParseInt(arg, value, 1, 1000000, &frames)) return kExitUsage;
    } else if (arg == "--timeout") {
      if (!ParseDouble(arg, value, 0.001, 86400, &timeout)) return kExitUsage;
    } else if (arg == "--rate") {
      if (!ParseDouble(arg, value, 0.001, 10000, &rate)) return kExitUsage;
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
  if (const int status = capture.Apply(h, session.type()); status != kExitOk) return status;
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
          status = InterruptedStatus();
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
        status = InterruptedStatus();
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
  const bool help = WantsHelp(argc, argv);
  if (help || argc < 1) {
    std::fprintf(help ? stdout : stderr,
                 "usage: varnelcam reg read ADDRESS [camera options]\n"
                 "       varnelcam reg write ADDRESS VALUE [camera options]\n"
                 "\n"
                 "Reads or writes a 16-bit sensor register (numbers in decimal or 0x\n"
                 "hexadecimal). Addresses: 0..255; 0..0xFFFF on HXC3 (16-bit addresses);\n"
                 "0..0x3FF on HYD4, HZF6 and HZG7 (10-bit addresses, whose registers hold\n"
                 "up to 24 bits: the low 16 are read and written, a write sets the rest 0).\n"
                 "Values: 0..0xFFFF.\n\n%s",
                 kCameraOptionsHelp);
    return help ? kExitOk : kExitUsage;
  }
  const std::string action = argv[0];
  if (action != "read" && action != "write") {
    return Complain(kExitUsage, "reg wants read or write, not '" + action + "'");
  }
  // The numbers may come before or after the camera options.
  CameraOptions options;
  std::vector<std::string> numbers;
  for (int i = 1; i < argc; ++i) {
    const int taken = options.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    if (std::strncmp(argv[i], "--", 2) == 0) return UnknownOption("reg", argv[i]);
    numbers.emplace_back(argv[i]);
  }
  const size_t wanted = action == "read" ? 1 : 2;
  if (numbers.size() < wanted) {
    return Complain(kExitUsage, "reg " + action + " needs " +
                                    (numbers.empty() ? "an ADDRESS" : "a VALUE") +
                                    (wanted == 2 && numbers.empty() ? " and a VALUE" : ""));
  }
  if (numbers.size() > wanted) {
    return Complain(kExitUsage, "reg " + action + " takes " +
                                    (wanted == 1 ? "one number" : "two numbers") + ", not '" +
                                    numbers[wanted] + "' as well");
  }
  // The address range is the model's: the camera type is known before any
  // camera is opened.
  int type = options.type;
  if (type < 0) {
    type = 1;
    if (!options.virtualModel.empty()) ParseCameraType(options.virtualModel, &type);
  }
  long address = 0, value = 0;
  if (!ParseInt(std::string("ADDRESS (") + ModelOfType(type) + ")", numbers[0], 0,
                RegisterAddressLimit(type), &address)) {
    return kExitUsage;
  }
  if (wanted == 2 && !ParseInt("VALUE", numbers[1], 0, 0xFFFF, &value)) return kExitUsage;
  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  char name[16];
  std::snprintf(name, sizeof name, "0x%02lX", address);
  if (wanted == 2) {
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

}  // namespace varnelcam
