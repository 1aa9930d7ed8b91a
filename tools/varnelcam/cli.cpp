// varnelcam: the parts the subcommands share.
#include "cli.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sys/stat.h>
#include <vector>

#include "device/model_code.h"
#include "imaging/color_modes.h"
#include "instance/frame_intake.h"

#ifndef _WIN32
#include <signal.h>

#include "varnel_posix.h"
#endif

namespace varnelcam {

const char* ErrorText(int code) {
  switch (code) {
    case 1:
      return "no camera driver attached to the instance";
    case 2:
      return "the camera drive could not be selected, or another program is using the camera";
    case 3:
      return "a worker thread or its event could not be created";
    case 4:
      return "the preview window could not be created";
    case 5:
      return "memory or buffer problem (or no picture taken yet)";
    case 6:
      return "the camera refused a register or sync command";
    case 7:
      return "capture window not allowed or not valid";
    case 8:
      return "a frame could not be read from the camera";
    case 9:
      return "argument out of range";
    case 11:
      return "operation not supported";
    default:
      return "unknown error code";
  }
}

std::string FrameLossText(intptr_t code) {
  const std::string words =
      "error " + std::to_string(code) + " (" + ErrorText(static_cast<int>(code)) + ")";
  // The library says so within a second of the camera's reads failing: it
  // was pulled out, lost its power or link, or its volume went away.
  if (code == 8) return "the camera stopped sending frames: " + words;
  return "frame not delivered: " + words;
}

namespace {

// Prints "varnelcam: WHAT failed: error N (words)" for every code the handle
// has pending, newest first; false when there was none.
bool PrintPendingCodes(CameraHandle handle, const std::string& what) {
  bool any = false;
  for (int code = Varnel_GetLastError(handle); code != 0; code = Varnel_GetLastError(handle)) {
    std::fprintf(stderr, "varnelcam: %s failed: error %d (%s)\n", what.c_str(), code,
                 ErrorText(code));
    any = true;
  }
  return any;
}

}  // namespace

int ReportFailure(CameraHandle handle, const std::string& what) {
  if (!PrintPendingCodes(handle, what)) {
    std::fprintf(stderr, "varnelcam: %s failed (the library gave no error code)\n", what.c_str());
  }
  return kExitFailed;
}

int ReportSaveFailure(CameraHandle handle, const std::string& path) {
  const std::string what = "saving '" + path + "'";
  if (PrintPendingCodes(handle, what)) return kExitFailed;
  const std::string why = WhyNotWritable(path);
  return Complain(kExitFailed, what + " failed: " +
                                   (why.empty() ? "the system did not let the library write the "
                                                  "whole file (a full disk, an I/O error)"
                                                : why));
}

namespace {

// The signal that asked the command to end, 0 while none has.
std::atomic<int> gInterrupted{0};

// Waits for a message are cut into slices this long, so that Ctrl-C ends
// them soon whatever their timeout.
constexpr int kInterruptSliceMs = 100;

#ifdef _WIN32
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
    gInterrupted = SIGINT;
    return TRUE;
  }
  return FALSE;
}
#else
void OnSignal(int signal) { gInterrupted = signal; }
#endif

}  // namespace

void CatchInterrupt() {
#ifdef _WIN32
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
#endif
}

bool Interrupted() { return gInterrupted.load() != 0; }

int InterruptedStatus() {
  const int signal = gInterrupted.load();
  return signal != 0 ? 128 + signal : kExitInterrupted;
}

std::string HeadModelOnDrive(const std::string& drive) {
  if (drive.size() < 2 || drive[1] != ':') return "";
  const char letter = drive[0];
  std::vector<std::string> roots;
#ifdef _WIN32
  roots.push_back(std::string(1, letter) + ":\\");
#else
  // Where the library finds the drive: its drives directory.
  std::string directory;
  if (const char* drives = std::getenv("VARNEL_DRIVES"); drives != nullptr && *drives != '\0') {
    directory = drives;
  } else if (const char* config = std::getenv("XDG_CONFIG_HOME");
             config != nullptr && *config != '\0') {
    directory = std::string(config) + "/varnel/drives";
  } else if (const char* home = std::getenv("HOME"); home != nullptr) {
    directory = std::string(home) + "/.config/varnel/drives";
  }
  for (char c : {static_cast<char>(std::tolower(static_cast<unsigned char>(letter))),
                 static_cast<char>(std::toupper(static_cast<unsigned char>(letter)))}) {
    roots.push_back(directory + "/" + c + ":/");
  }
#endif
  for (const std::string& root : roots) {
    std::ifstream file(root + "model");
    std::string model;
    if (file && std::getline(file, model)) {
      int type = -1;
      // Only a model the library drives counts: anything else is not a head.
      if (ParseCameraType(model, &type) && model.size() >= 3) return ModelOfType(type);
    }
  }
  return "";
}

int Complain(int status, const std::string& message) {
  std::fprintf(stderr, "varnelcam: %s\n", message.c_str());
  return status;
}

std::string FormatSeconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%g s", seconds);
  return text;
}

bool WantsHelp(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) return true;
  }
  return false;
}

bool TakeValue(int argc, char** argv, int* i, std::string* value) {
  const char* option = argv[*i];
  if (*i + 1 >= argc || std::strncmp(argv[*i + 1], "--", 2) == 0) {
    std::fprintf(stderr, "varnelcam: %s needs a value\n", option);
    return false;
  }
  *value = argv[++*i];
  if (value->empty()) {
    std::fprintf(stderr, "varnelcam: %s needs a value, not an empty one\n", option);
    return false;
  }
  return true;
}

bool ParseInt(const std::string& option, const std::string& text, long minimum, long maximum,
              long* value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno != 0 || parsed < minimum || parsed > maximum) {
    std::fprintf(stderr, "varnelcam: %s wants a whole number from %ld to %ld, not '%s'\n",
                 option.c_str(), minimum, maximum, text.c_str());
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseDouble(const std::string& option, const std::string& text, double minimum, double maximum,
                 double* value) {
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !(parsed >= minimum && parsed <= maximum)) {
    std::fprintf(stderr, "varnelcam: %s wants a number from %g to %g, not '%s'\n", option.c_str(),
                 minimum, maximum, text.c_str());
    return false;
  }
  *value = parsed;
  return true;
}

bool ParseWindow(const std::string& text, int* width, int* height, int* x, int* y) {
  int consumed = 0;
  int w = 0, h = 0, x0 = 0, y0 = 0;
  const int fields =
      std::sscanf(text.c_str(), "%dx%d%n+%d+%d%n", &w, &h, &consumed, &x0, &y0, &consumed);
  if ((fields != 2 && fields != 4) || consumed != static_cast<int>(text.size()) || w <= 0 ||
      h <= 0 || x0 < 0 || y0 < 0) {
    return false;
  }
  *width = w, *height = h, *x = x0, *y = y0;
  return true;
}

const CameraTypeName kCameraTypes[9] = {{0, "HWH8"}, {1, "HXA1"}, {2, "HXB2"},
                                        {3, "HXE5"}, {4, "HXC3"}, {5, "R2T"},
                                        {6, "HYD4"}, {7, "HZF6"}, {8, "HZG7"}};

const char* ModelOfType(int type) {
  if (type == 9 || type == 10) type = 1;
  for (const CameraTypeName& entry : kCameraTypes) {
    if (entry.type == type) return entry.model;
  }
  return "?";
}

bool TakesTriggers(int type) { return type == 1 || type == 9 || type == 10 || type == 8; }

bool WindowIsFixed(int type) { return type >= 6 && type <= 8; }

int RegisterAddressLimit(int type) {
  if (type == 4) return 0xFFFF;
  return WindowIsFixed(type) ? 0x3FF : 0xFF;
}

const char* GainUnit(int type) {
  switch (type) {
    case 0:
    case 3:
    case 4:
      return "stored only: this model has no gain register";
    case 6:
    case 7:
      return "steps of the sensor's gain, wide registers 6 and 7";
    case 8:
      return "steps of the sensor's gain, wide register 4";
    default:
      return "steps of the sensor's gain, register 53 (0x35)";
  }
}

const char* ExposureUnit(int type) {
  switch (type) {
    case 0:
      return "stored only: this model has no exposure register";
    case 3:
      return "units of the sensor's exposure register 82";
    case 4:
      return "units of the sensor's exposure register 0x3166";
    case 5:
      return "units of the sensor's exposure register 11";
    case 6:
    case 7:
      return "units of the sensor's exposure, wide registers 158 and 159, sent as 8..1068";
    case 8:
      return "units of the sensor's exposure, wide register 154";
    default:
      return "units of the sensor's exposure register 9";
  }
}

bool IsColorMode(int mode) { return varnel::FindColorMode(mode) != nullptr; }

std::string ColorModeList() {
  std::string list;
  for (const varnel::ColorModeEntry& entry : varnel::kColorModes) {
    list += (list.empty() ? "" : ", ") + std::to_string(entry.mode);
  }
  return list;
}

int SignificantBitsOf(int type, int mode) {
  const varnel::ColorModeEntry* entry = varnel::FindColorMode(mode);
  if (entry == nullptr || !varnel::IsDeepClass(entry->colorClass)) return 8;
  if (type == 9 || type == 10) type = 1;
  if (type < 0 || type > 8) return varnel::SignificantBits(entry->bitDepth);
  return std::min(varnel::SignificantBits(entry->bitDepth),
                  varnel::IntakeSignificantBits(varnel::kModelList[type], entry->bitDepth));
}

std::string WhyNotWritable(const std::string& path) {
  struct stat status {};
  const bool existed = ::stat(path.c_str(), &status) == 0;
  if (existed && S_ISDIR(status.st_mode)) return std::strerror(EISDIR);
  errno = 0;
  // Appending changes nothing in a file that is there; a new one is removed
  // again, so that a failure later leaves no empty file behind.
  FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return std::strerror(errno != 0 ? errno : EACCES);
  std::fclose(file);
  if (!existed) std::remove(path.c_str());
  return "";
}

std::string CountOf(long count, const char* noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

bool ParseCameraType(const std::string& text, int* type) {
  std::string upper = text;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  for (const CameraTypeName& entry : kCameraTypes) {
    if (upper == entry.model) {
      *type = entry.type;
      return true;
    }
  }
  char* end = nullptr;
  const long number = std::strtol(text.c_str(), &end, 10);
  if (!text.empty() && *end == '\0' && number >= 0 && number <= 10) {
    *type = static_cast<int>(number);
    return true;
  }
  return false;
}

const char* const kCameraOptionsHelp =
    "camera options:\n"
    "  --virtual MODEL[:LETTER]  start an in-process virtual camera head of MODEL on\n"
    "                            drive LETTER (default V) and use it\n"
    "  --head-fps N              frame rate of that virtual head (default: its pixel\n"
    "                            clock over the frame size)\n"
    "  --device N|X:             camera drive by index or letter (default: the first)\n"
    "  --type T                  camera type 0..10 or model name (default: the\n"
    "                            virtual head's model, else 1 = HXA1)\n";

int CameraOptions::Take(int argc, char** argv, int* i) {
  const std::string arg = argv[*i];
  auto value = [&](std::string* out) { return TakeValue(argc, argv, i, out); };
  std::string text;
  if (arg == "--virtual") {
    if (!value(&text)) return -1;
    const size_t colon = text.find(':');
    virtualModel = text.substr(0, colon);
    if (colon != std::string::npos) {
      const std::string letter = text.substr(colon + 1);
      if (letter.size() != 1 || !std::isalpha(static_cast<unsigned char>(letter[0]))) {
        std::fprintf(stderr, "varnelcam: bad drive letter '%s'\n", letter.c_str());
        return -1;
      }
      virtualLetter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter[0])));
    }
    return 1;
  }
  if (arg == "--head-fps") {
    if (!value(&text) || !ParseDouble(arg, text, 0.0, 100000.0, &virtualFps)) return -1;
    return 1;
  }
  if (arg == "--device") {
    if (!value(&device)) return -1;
    // A drive is named by its index in the list or by its letter; anything
    // else can name none.
    const bool index = device.find_first_not_of("0123456789") == std::string::npos;
    const bool letter = std::isalpha(static_cast<unsigned char>(device[0])) &&
                        (device.size() == 1 || (device.size() == 2 && device[1] == ':'));
    if (!index && !letter) {
      std::fprintf(stderr,
                   "varnelcam: --device wants a drive's index in the list (0, 1, ...) or its "
                   "letter (V or V:), not '%s'\n",
                   device.c_str());
      return -1;
    }
    return 1;
  }
  if (arg == "--type") {
    if (!value(&text)) return -1;
    if (!ParseCameraType(text, &type)) {
      std::fprintf(stderr, "varnelcam: unknown camera type '%s' (0..10 or a model name: %s)\n",
                   text.c_str(), kVirtualModels);
      return -1;
    }
    return 1;
  }
  return 0;
}

int BitsPerPixelOfMode(int mode) {
  switch (mode) {
    case 8:
      return 8;
    case 10:
    case 12:
    case 14:
    case 16:
      return 16;
    case 24:
      return 24;
    case 32:
      return 32;
    case 30:
    case 36:
    case 42:
    case 48:
      return 48;
    default:
      return 64;
  }
}

std::optional<uint32_t> ReadFrameStamp(const uint8_t* picture, int width, int height,
                                       int bitsPerPixel, int stampRow) {
  // The head draws 32 cells of 4 x 8 pixels, bit 0 first: a cell's upper four
  // rows show the bit at full scale, its lower four the complement. A cell is
  // read at one pixel inside each half, so demosaicing (which blends only
  // neighbours) cannot change what is read; a pixel counts as bright when its
  // brightest colour sample is at least half scale.
  if (picture == nullptr || width < 128 || stampRow < 0 || height < stampRow + 8) {
    return std::nullopt;
  }
  const int pixelBytes = bitsPerPixel / 8;
  const int rowBytes = RowBytes(width, bitsPerPixel);
  // Only colour samples count (not the fourth byte of 32-bit pixels); deep
  // samples are 16 bits each, and either byte may hold the top bits.
  const int sampleBytes = bitsPerPixel == 32 ? 3 : bitsPerPixel == 64 ? 6 : pixelBytes;
  auto bright = [&](int x, int y) {
    const uint8_t* pixel = picture + static_cast<size_t>(y) * rowBytes + x * pixelBytes;
    uint8_t top = 0;
    for (int b = 0; b < sampleBytes; ++b) top = pixel[b] > top ? pixel[b] : top;
    return top >= 0x80;
  };
  uint32_t number = 0;
  for (int bit = 0; bit < 32; ++bit) {
    const bool upper = bright(bit * 4 + 1, stampRow + 2);
    if (upper == bright(bit * 4 + 1, stampRow + 5)) return std::nullopt;
    if (upper) number |= 1u << bit;
  }
  return number;
}

// ---- Frame window -------------------------------------------------------------

#ifdef _WIN32
FrameWindow::FrameWindow() {
  WNDCLASSEXA windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = GetModuleHandleA(nullptr);
  windowClass.lpszClassName = "VarnelcamFrameWindow";
  RegisterClassExA(&windowClass);
  window_ = CreateWindowExA(0, "VarnelcamFrameWindow", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            windowClass.hInstance, nullptr);
}
FrameWindow::~FrameWindow() { DestroyWindow(window_); }

std::optional<FrameWindow::Message> FrameWindow::Next(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    MSG msg;
    if (PeekMessageA(&msg, window_, 0, 0, PM_REMOVE)) {
      return Message{msg.message, static_cast<uintptr_t>(msg.wParam),
                     static_cast<intptr_t>(msg.lParam)};
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || Interrupted()) return std::nullopt;
    MsgWaitForMultipleObjects(
        0, nullptr, FALSE, static_cast<DWORD>(std::min<long long>(left.count(), kInterruptSliceMs)),
        QS_POSTMESSAGE | QS_SENDMESSAGE);  // the preview window's thread serves sent messages
  }
}
#else
FrameWindow::FrameWindow() { window_ = VarnelPosix_CreateMessageQueue(); }
FrameWindow::~FrameWindow() { VarnelPosix_DestroyMessageQueue(window_); }

std::optional<FrameWindow::Message> FrameWindow::Next(int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    VarnelPosixMessage message{};
    const int slice = static_cast<int>(
        std::max<long long>(0, std::min<long long>(left.count(), kInterruptSliceMs)));
    if (VarnelPosix_ReadMessage(window_, &message, slice) == 1) {
      return Message{message.message, message.wParam, message.lParam};
    }
    if (left.count() <= kInterruptSliceMs || Interrupted()) return std::nullopt;
  }
}
#endif

// ---- Session ------------------------------------------------------------------

Session::~Session() {
  if (handle_ != 0) {
    Varnel_Close(handle_);
    while (Varnel_GetLastError(handle_) != 0) {
    }
    Varnel_Release(handle_);
  }
  // The head goes only after the library has let go of its drive.
  virtual_.reset();
}

std::vector<std::string> Session::Drives() {
  // The library fills max(10, count) slots: room for every drive letter.
  std::vector<char> names(VARNEL_MAX_DEVICES * VARNEL_DEVICE_NAME_SIZE, 0);
  const int count = Varnel_EnumDevice(handle_, names.data());
  std::vector<std::string> drives;
  for (int i = 0; i < count && i < VARNEL_MAX_DEVICES; ++i)
    drives.emplace_back(&names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE]);
  return drives;
}

int Session::Open(const CameraOptions& options, bool selectCamera) {
  int status = kExitOk;
  if (!options.virtualModel.empty()) {
    virtual_ = StartVirtualCamera(options.virtualModel, options.virtualLetter, options.virtualFps,
                                  &status);
    if (!virtual_) return status;
  }
  // The error messages are read from the stack, not from the window: the
  // window is for frames.
  handle_ = Varnel_Initialize(nullptr);
  if (handle_ == 0) return Complain(kExitFailed, "the library could not create a camera instance");
  if (Varnel_GetLastError(handle_) != 0) {
    return Complain(kExitFailed, "the library could not initialise (error 5: " +
                                     std::string(ErrorText(5)) + ")");
  }
  if (!selectCamera) return kExitOk;
  return Select(options);
}

int Session::Select(const CameraOptions& options) {
  const std::vector<std::string> drives = Drives();
  while (Varnel_GetLastError(handle_) != 0) {
  }
  if (drives.empty()) {
    return Complain(kExitNoCamera,
                    "no camera found: no camera drive is attached (use --virtual HXA1 for a "
                    "virtual camera head)");
  }
  int index = 0;
  if (!options.virtualModel.empty() && options.device.empty()) {
    // The head just started is the camera the user means.
    const std::string letter = std::string(1, options.virtualLetter) + ":";
    for (size_t i = 0; i < drives.size(); ++i) {
      if (drives[i] == letter) index = static_cast<int>(i);
    }
  } else if (!options.device.empty()) {
    std::string wanted = options.device;
    for (char& c : wanted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (wanted.size() == 1 && std::isalpha(static_cast<unsigned char>(wanted[0]))) wanted += ":";
    index = -1;
    for (size_t i = 0; i < drives.size(); ++i) {
      if (drives[i] == wanted) index = static_cast<int>(i);
    }
    if (index < 0) {
      char* end = nullptr;
      const long number = std::strtol(options.device.c_str(), &end, 10);
      if (*end == '\0' && number >= 0 && number < static_cast<long>(drives.size())) {
        index = static_cast<int>(number);
      }
    }
    if (index < 0) {
      std::string list;
      for (const std::string& d : drives) list += " " + d;
      return Complain(kExitNoCamera,
                      "no camera found at '" + options.device + "' (camera drives:" + list + ")");
    }
  }
  drive_ = drives[static_cast<size_t>(index)];
  if (Varnel_SetDeviceNumber(handle_, index) != 1) {
    return ReportFailure(handle_, "selecting camera drive " + drive_);
  }

  return SetType(options, true);
}

int Session::SelectTypeOnly(const CameraOptions& options) { return SetType(options, false); }

int Session::SetType(const CameraOptions& options, bool withDrive) {
  type_ = options.type;
  if (type_ < 0) {
    type_ = 1;
    if (!options.virtualModel.empty()) ParseCameraType(options.virtualModel, &type_);
  }
  // The call returns 1 with errors 2 and 7 as well, so the codes decide.
  // Error 7 alone means the stored window did not fit and the whole sensor
  // is used instead: worth saying, not worth stopping for. Error 2 means no
  // camera drive could be selected; without a drive that is what was asked
  // for, and the type's stored settings are loaded all the same.
  const bool set = Varnel_SetCameraType(handle_, type_) == 1;
  bool fatal = !set;
  std::vector<int> codes;
  for (int code = Varnel_GetLastError(handle_); code != 0; code = Varnel_GetLastError(handle_)) {
    if (code == 2 && !withDrive) continue;
    codes.push_back(code);
    if (code != 7) fatal = true;
  }
  for (int code : codes) {
    if (code == 7 && !fatal) {
      std::fprintf(stderr,
                   "varnelcam: note: the stored window does not fit the %s (error 7): the whole "
                   "sensor is used\n",
                   ModelOfType(type_));
      continue;
    }
    std::fprintf(stderr, "varnelcam: setting camera type %d (%s)%s failed: error %d (%s)\n", type_,
                 ModelOfType(type_), withDrive ? (" on " + drive_).c_str() : "", code,
                 ErrorText(code));
  }
  if (fatal && codes.empty()) {
    std::fprintf(stderr, "varnelcam: setting camera type %d (%s) failed\n", type_,
                 ModelOfType(type_));
  }
  if (fatal) return kExitFailed;
  return kExitOk;
}

}  // namespace varnelcam
