// varnelcam: what the subcommands share — exit statuses, option parsing, the
// camera session over the public C interface, the frame window the library
// posts to, and error reporting in words.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "varnel.h"

namespace varnelcam {

// Exit statuses, the same for every subcommand (the README lists them).
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;    // the library or the camera failed
inline constexpr int kExitUsage = 2;     // bad command line; `view` without a display
inline constexpr int kExitNoCamera = 3;  // no camera drive, or the named one is missing
// Ctrl-C ended the command: the camera was stopped, the summary printed and
// the settings stored (128 + SIGINT, as a shell reports an interrupted job;
// a SIGTERM ends it the same way with 143, see InterruptedStatus).
inline constexpr int kExitInterrupted = 130;

inline constexpr uint32_t kFrameMessage = 0x8002;
inline constexpr uint32_t kErrorMessage = 0x8003;

// Bound for one event the tool waits for (a frame, a trigger): only a camera
// that stopped answering waits this long.
inline constexpr int kDefaultTimeoutMs = 30000;

// The library's error codes in words (the codes of varnel.h).
const char* ErrorText(int code);

// What a frame message without a frame (wParam 0, the code in lParam) means,
// in words: for streams, code 8 is a camera that stopped sending frames.
std::string FrameLossText(intptr_t code);

// Prints "varnelcam: WHAT failed: error N (words)" for every code the handle
// has pending (newest first), and returns kExitFailed.
int ReportFailure(CameraHandle handle, const std::string& what);

// Reports a Varnel_SaveImage of `path` that failed and returns kExitFailed:
// the library's codes in words when it recorded some, else (the system would
// not let it create or fill the file) the system's reason where it can be
// found again.
int ReportSaveFailure(CameraHandle handle, const std::string& path);
// From this call on, Ctrl-C (SIGINT and SIGTERM; on Windows the console's
// Ctrl-C, Ctrl-Break and close) no longer kills the program but asks the
// running command to end: it stops the camera, prints its summary and
// releases the camera (which stores the settings). A second Ctrl-C while it
// does so is taken as the first.
void CatchInterrupt();
// Whether Ctrl-C has been pressed (or SIGTERM sent) since CatchInterrupt.
bool Interrupted();
// The status to exit with after an interruption: 128 + the signal's number,
// as a shell reports a job the signal ended (130 for Ctrl-C, 143 for
// SIGTERM; 130 for every console event on Windows).
int InterruptedStatus();

// Prints "varnelcam: MESSAGE" to the error stream and returns `status`.
int Complain(int status, const std::string& message);

// "2.5 s".
std::string FormatSeconds(double seconds);

// Whether -h or --help is among the arguments.
bool WantsHelp(int argc, char** argv);

// Takes the value of the option at argv[*i], moving *i past it. False, after
// saying the value is missing, when nothing follows, the next word is another
// option ("--..."), or the value is empty.
bool TakeValue(int argc, char** argv, int* i, std::string* value);

// Parsing helpers. Each returns false (after printing why) on a bad value.
bool ParseInt(const std::string& option, const std::string& text, long minimum, long maximum,
              long* value);
bool ParseDouble(const std::string& option, const std::string& text, double minimum, double maximum,
                 double* value);

// "WIDTHxHEIGHT" or "WIDTHxHEIGHT+X+Y" with a positive size and an origin of
// 0 or more; false for anything else.
bool ParseWindow(const std::string& text, int* width, int* height, int* x, int* y);

// The camera types of the library and the model each selects (types 9 and
// 10 select the same driver as 1).
struct CameraTypeName {
  int type;
  const char* model;
};
extern const CameraTypeName kCameraTypes[9];
// "HXA1" or "1" → type; false for anything else.
bool ParseCameraType(const std::string& text, int* type);
const char* ModelOfType(int type);
// Whether the camera type takes triggers (HXA1 and HZG7 do).
bool TakesTriggers(int type);
// Whether the camera type always captures its whole sensor (HYD4, HZF6 and
// HZG7 do: their window cannot be chosen).
bool WindowIsFixed(int type);
// The largest sensor register address of the camera type's model: 255,
// 65535 on HXC3 (16-bit addresses), 1023 on HYD4, HZF6, HZG7 (10-bit ones).
int RegisterAddressLimit(int type);
// What the camera type's gain and exposure values are: the sensor register
// each is written to, in whose units the value is counted (the library sends
// both unchanged), or that the model has none.
const char* GainUnit(int type);
const char* ExposureUnit(int type);

// Whether the library takes `mode` as a colour mode, and all of them as text
// ("8, 10, ...").
bool IsColorMode(int mode);
std::string ColorModeList();
// The bits of each sample the camera type's pictures carry in `mode`: 8 for
// the 8-bit modes; for the deep ones those the model's sensor delivers (10
// on the models whose frames carry 10 bits in every deep mode), at most the
// mode's own.
int SignificantBitsOf(int type, int mode);

// Why a file cannot be written at `path`, in the operating system's words
// ("No such file or directory"); empty when it can. A file that does not
// exist yet is created and removed again; one that exists is only opened.
std::string WhyNotWritable(const std::string& path);

// Options every camera subcommand takes.
struct CameraOptions {
  std::string virtualModel;  // --virtual MODEL[:LETTER]: empty when not given
  char virtualLetter = 'V';
  double virtualFps = 0.0;  // --head-fps: the virtual head's frame rate (0: its pixel clock)
  std::string device;       // --device N or X:, empty = the first camera drive
  int type = -1;            // --type, -1 = the virtual head's model, else type 1

  // Takes the option at argv[*i] (and its value) when it is one of these.
  // Returns 1 when taken, 0 when not one of them, -1 on a bad value.
  int Take(int argc, char** argv, int* i);
};
extern const char* const kCameraOptionsHelp;

// Capture format options of the acquiring subcommands.
struct CaptureOptions {
  int mode = -1;            // --mode: colour mode (bits per pixel), -1 = as stored
  int subsample = -1;       // --subsample 0|1|2, -1 = as stored
  int waitTime = -1;        // --wait-time MS before each streamed frame, -1 = as stored
  bool window = false;      // --window WxH[+X+Y], or --window full
  bool fullWindow = false;  // --window full: the largest window the camera reports
  int width = 0, height = 0, x = 0, y = 0;

  int Take(int argc, char** argv, int* i);  // as CameraOptions::Take
  // Applies what was given to the camera of `type`; kExitOk or the status to
  // exit with (kExitUsage for a window the model cannot take).
  int Apply(CameraHandle handle, int type) const;
};
extern const char* const kCaptureOptionsHelp;

// Width and height of the pictures acquisition delivers with the handle's
// current window and sub-sampling (the three models with a fixed window
// always deliver their whole sensor).
void PictureSize(CameraHandle handle, int type, int* width, int* height);

// Where the library posts frame and error messages: a message queue on
// Linux, a message-only window on Windows.
class FrameWindow {
 public:
  FrameWindow();
  ~FrameWindow();
  FrameWindow(const FrameWindow&) = delete;
  FrameWindow& operator=(const FrameWindow&) = delete;

  HWND handle() const { return window_; }

  struct Message {
    uint32_t message = 0;
    uintptr_t wParam = 0;
    intptr_t lParam = 0;
  };
  // The next message, waiting up to `timeoutMs`; empty when none came, or
  // at once when Ctrl-C was pressed (Interrupted()).
  std::optional<Message> Next(int timeoutMs);

 private:
  HWND window_ = nullptr;
};

// What became of the triggers a virtual head was fired with.
struct HeadTriggerCounts {
  uint64_t fired = 0;    // pulses on its trigger input
  uint64_t taken = 0;    // pulses that started a frame
  uint64_t cleared = 0;  // frames a stop or restart threw away unread
  uint64_t read = 0;     // frames the library read
};

// An in-process virtual camera head on a drive letter (virtual_head.cpp):
// the one place the tool reaches past the C interface, since the head is not
// part of the library.
class VirtualCamera {
 public:
  virtual ~VirtualCamera() = default;
  // Fires the head's trigger input; false when it started no frame (the
  // head is not waiting for triggers, or holds two frames not yet read).
  virtual bool FireTrigger() = 0;
  // Whether the head runs in trigger mode.
  virtual bool Armed() = 0;
  // Fires `count` triggers at a steady rate, whether or not the frames are
  // read, as a production line does.
  virtual void StartTriggers(double hz, uint64_t count) = 0;
  virtual bool TriggersRunning() = 0;
  virtual HeadTriggerCounts TriggerCounts() = 0;
  // Milliseconds the head takes to read out one frame of the current stream.
  virtual double ReadoutMs() = 0;
};
// Empty (after printing why) when the model is unknown or the letter taken.
std::unique_ptr<VirtualCamera> StartVirtualCamera(const std::string& model, char letter, double fps,
                                                  int* status);
extern const char* const kVirtualModels;

// One camera handle on a chosen drive and camera type, with the virtual head
// started first when asked for; released on destruction.
class Session {
 public:
  Session() = default;
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Initialises the library and, when `selectCamera`, selects the drive and
  // the camera type. Returns kExitOk or the status to exit with (the reason
  // has been printed).
  int Open(const CameraOptions& options, bool selectCamera = true);
  // Selects the drive and the camera type on a session opened without them.
  int Select(const CameraOptions& options);
  // Chooses the camera type without a drive: the settings the library stores
  // for it are loaded, and nothing reaches a camera.
  int SelectTypeOnly(const CameraOptions& options);

  CameraHandle handle() const { return handle_; }
  FrameWindow& window() { return window_; }
  VirtualCamera* virtualCamera() { return virtual_.get(); }
  const std::string& driveName() const { return drive_; }
  int type() const { return type_; }

  // The drives the library lists ("X:" each).
  std::vector<std::string> Drives();

 private:
  int SetType(const CameraOptions& options, bool withDrive);

  FrameWindow window_;
  std::unique_ptr<VirtualCamera> virtual_;
  CameraHandle handle_ = 0;
  std::string drive_;
  int type_ = -1;
};

// The model of the camera on `drive` ("V:") as its camera head tells it, or
// empty when it cannot: a virtual head served by varnel-camsim has a file
// `model` in the drive's root, which a camera's own volume (no file system)
// has not.
std::string HeadModelOnDrive(const std::string& drive);

// Bytes one row of the copies takes for `bitsPerPixel` (rows padded to four
// bytes, as the library copies them).
inline int RowBytes(int width, int bitsPerPixel) { return ((width * (bitsPerPixel / 8)) + 3) & ~3; }
// Bits per pixel of the pictures a colour mode gives (8, 16, 24, 32, 48, 64).
int BitsPerPixelOfMode(int mode);

// The stamps a virtual camera head puts into each picture's top-left
// corner, read from an upright copy (top row first): the frame number in the
// top eight rows, and on triggered frames the trigger's time in the eight
// below (the low 32 bits of the wall clock's microseconds). Empty when the
// picture carries none (a real camera, a sub-sampled picture, a mirrored one).
inline constexpr int kFrameNumberStampRow = 0;
inline constexpr int kTriggerTimeStampRow = 8;
std::optional<uint32_t> ReadFrameStamp(const uint8_t* picture, int width, int height,
                                       int bitsPerPixel, int stampRow = kFrameNumberStampRow);

// Prints the processor as the system names it, what the library's own
// detection makes of it, every feature the library uses, and the pixel
// routines and demosaic forms it chooses there (diagnostics.cpp).
void PrintProcessor();

// Prints the camera settings `settings show` lists under the same names
// (window, colour mode, sub-sample, wait time, mirrors, automatic
// brightness, gain, exposure) with their ranges and units; with
// `filters`, the filter, gray and Bayer values too (settings.cpp).
void PrintSettings(CameraHandle handle, int type, bool filters);

// "N frame" or "N frames".
std::string CountOf(long count, const char* noun);

// Subcommands.
int CommandList(int argc, char** argv);
int CommandInfo(int argc, char** argv);
int CommandSnap(int argc, char** argv);
int CommandStream(int argc, char** argv);
int CommandTrigger(int argc, char** argv);
int CommandReg(int argc, char** argv);
int CommandSettings(int argc, char** argv);
int CommandView(int argc, char** argv);
int CommandServe(int argc, char** argv);

// Writes the 8- or 16-bit mosaic `samples` (rows top first, `rowBytes`
// apart) as a DNG whose colour filter pattern starts with `phase` (the
// library's Bayer mode 0..3) and whose white level is the largest value of
// `significantBits`. False after printing why.
bool WriteDng(const std::string& path, const uint8_t* samples, int width, int height, int rowBytes,
              int bitsPerSample, int significantBits, int phase, const std::string& model);

}  // namespace varnelcam
