// varnelcam stream: live acquisition through the callback path, with a
// one-line display of the rates and the frame counters; with --all from
// every camera attached at once, a line for each.
//
// Counters:
//   delivered  frame messages the library posted to the tool;
//   read       frames the camera sent from the first delivered one to the
//              last, known from the frame numbers a virtual camera head
//              stamps into its pictures ("-" for a camera that stamps none);
//   dropped    read - delivered: frames the camera sent that never reached
//              the tool (the library or the tool fell behind).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define VARNELCAM_ISATTY(fd) _isatty(fd)
#else
#include <unistd.h>
#define VARNELCAM_ISATTY(fd) isatty(fd)
#endif

#include "cli.h"

namespace varnelcam {

namespace {

using Clock = std::chrono::steady_clock;

struct Counters {
  long delivered = 0;
  bool stamped = false;  // every delivered picture so far carried a frame number
  uint32_t firstStamp = 0;
  uint32_t lastStamp = 0;
  int width = 0, height = 0, bitsPerPixel = 0;
  long saved = 0;
  double seconds = 0;  // from the first delivered frame to the last

  void Stamp(std::optional<uint32_t> stamp) {
    if (!stamp) {
      stamped = false;
      return;
    }
    if (delivered == 1) {
      stamped = true;
      firstStamp = lastStamp = *stamp;
    } else if (*stamp > lastStamp) {
      lastStamp = *stamp;
    }
  }
  long Read() const { return stamped ? static_cast<long>(lastStamp - firstStamp) + 1 : -1; }
  long Dropped() const {
    const long read = Read();
    return read < 0 ? -1 : (read > delivered ? read - delivered : 0);
  }
};

std::string Line(const Counters& c, int linkBytesPerSample) {
  char text[256];
  const double seconds = c.seconds;
  const double fps = seconds > 0 && c.delivered > 1 ? (c.delivered - 1) / seconds : 0.0;
  const long read = c.Read();
  // The link carries every frame the camera sent, at the stream's sample size.
  const double linkFrames =
      read >= 0 ? static_cast<double>(read) : static_cast<double>(c.delivered);
  const double megabytes = linkFrames * c.width * c.height * linkBytesPerSample / 1e6;
  const double mbps = seconds > 0 ? megabytes / seconds : 0.0;
  char readText[32], droppedText[32];
  if (read >= 0) {
    std::snprintf(readText, sizeof readText, "%ld", read);
    std::snprintf(droppedText, sizeof droppedText, "%ld", c.Dropped());
  } else {
    std::strcpy(readText, "-");
    std::strcpy(droppedText, "-");
  }
  std::snprintf(text, sizeof text,
                "%dx%d %2d-bit  %6.1f fps  link %7.1f MB/s  read %s  delivered %ld  dropped %s",
                c.width, c.height, c.bitsPerPixel, fps, mbps, readText, c.delivered, droppedText);
  return text;
}

// The summary of one camera's stream. One rate: frames after the first over
// the time since the first, as the live line gives it. (The library's own
// meter in FrameInfo averages over its last second and starts at 0, so it
// trails in the first seconds.)
std::string Summary(const Counters& c) {
  char rate[64] = ", a rate needs two frames";
  if (c.delivered > 1 && c.seconds > 0) {
    std::snprintf(rate, sizeof rate, " in %.2f s: %.1f fps", c.seconds,
                  (c.delivered - 1) / c.seconds);
  }
  return CountOf(c.delivered, "frame") + " delivered" + rate +
         (c.saved ? ", " + std::to_string(c.saved) + " saved" : std::string());
}

// What the user asked of every camera's stream.
struct StreamRequest {
  long frames = 0, saveEvery = 0;
  double seconds = 0, timeout = kDefaultTimeoutMs / 1000.0;
  std::string saveDir = ".", saveFormat = "png";
  int saveCode = -1;
  bool announce = true;  // print each saved file's name (not on a terminal)

  // Where delivered frame `number` is saved; `prefix` names the camera when
  // several save at once ("V-").
  std::string FramePath(const std::string& prefix, long number) const {
    char name[64];
    std::snprintf(name, sizeof name, "/%sframe-%06ld.%s", prefix.c_str(), number,
                  saveFormat.c_str());
    return saveDir + name;
  }
};

// One camera's stream, from opening the camera to releasing it. With --all
// each runs on a thread of its own (a window the library posts to belongs
// to the thread that made it), and the main thread shows their counters.
class CameraStream {
 public:
  CameraStream(const CameraOptions& options, const CaptureOptions& capture,
               const StreamRequest& request, std::string label)
      : options_(options), capture_(capture), request_(request), label_(std::move(label)) {}

  // Opens the camera and starts the stream; kExitOk or the status to exit with.
  int Start() {
    session_ = std::make_unique<Session>();
    if (const int status = session_->Open(options_); status != kExitOk) return status;
    const CameraHandle h = session_->handle();
    CaptureOptions capture = capture_;
    if (capture.window && !capture.fullWindow && !label_.empty() &&
        WindowIsFixed(session_->type())) {
      // With --all, a window the model cannot take does not keep the
      // camera from streaming its whole sensor.
      std::fprintf(stderr, "varnelcam: note: %s has a fixed window; its whole sensor is used\n",
                   label_.substr(0, label_.find_last_not_of(' ') + 1).c_str());
      capture.window = false;
    }
    if (const int status = capture.Apply(h, session_->type()); status != kExitOk) return status;
    int width = 0, height = 0;
    PictureSize(h, session_->type(), &width, &height);
    const int mode = Varnel_GetColorMode(h);
    // Deep modes move two bytes a sample over the link, the others one.
    linkBytesPerSample_ = (mode >= 10 && mode <= 16) || (mode >= 30 && mode != 32) ? 2 : 1;
    buffer_.resize(static_cast<size_t>(RowBytes(width, BitsPerPixelOfMode(mode))) * height);
    if (Varnel_CallBackPreview(h, session_->window().handle(), buffer_.data(),
                               static_cast<int>(buffer_.size()), 1) != 1) {
      return ReportFailure(h, Prefixed("starting the stream"));
    }
    return kExitOk;
  }

  // Takes frames until the request is met, no frame comes within the
  // timeout, the camera fails or Ctrl-C; `shown` is called whenever the live
  // line is due. Then stops the stream. Returns the exit status.
  template <typename Shown>
  int Run(bool terminal, Shown shown) {
    const CameraHandle h = session_->handle();
    const Clock::time_point start = Clock::now();
    Clock::time_point firstFrame{}, lastFrame{}, lastShown = start;
    const int timeoutMs = static_cast<int>(request_.timeout * 1000);
    const double seconds = request_.seconds;
    int status = kExitOk;
    for (;;) {
      const Clock::time_point now = Clock::now();
      if (request_.frames && Snapshot().delivered >= request_.frames) break;
      if (seconds && std::chrono::duration<double>(now - start).count() >= seconds) break;
      int wait = timeoutMs;
      if (seconds) {
        const double left = seconds - std::chrono::duration<double>(now - start).count();
        wait = std::min(wait, static_cast<int>(left * 1000) + 1);
      }
      std::optional<FrameWindow::Message> message = session_->window().Next(wait);
      if (Interrupted()) {
        status = InterruptedStatus();
        break;
      }
      const long delivered = Snapshot().delivered;
      if (!message) {
        if (seconds && std::chrono::duration<double>(Clock::now() - start).count() >= seconds &&
            delivered > 0) {
          break;
        }
        if (std::chrono::duration<double>(Clock::now() - (delivered ? lastFrame : start)).count() *
                1000 >=
            timeoutMs) {
          status =
              Complain(kExitFailed, Prefixed("no frame for " + FormatSeconds(request_.timeout)));
          break;
        }
        continue;
      }
      if (message->message != kFrameMessage) continue;
      // The buffer holds the newest frame the library copied: when the tool
      // fell behind, the frame messages already waiting are of frames
      // overwritten since, so the newest of them counts and the others'
      // frames were never seen (dropped).
      while (message->wParam != 0) {
        std::optional<FrameWindow::Message> newer = session_->window().Next(0);
        if (!newer) break;
        if (newer->message == kFrameMessage) message = newer;
      }
      if (message->wParam == 0) {
        status = Complain(kExitFailed, Prefixed(FrameLossText(message->lParam)));
        break;
      }
      const FrameInfo info = *reinterpret_cast<const FrameInfo*>(message->wParam);
      const std::optional<uint32_t> stamp =
          ReadFrameStamp(buffer_.data(), info.width, info.height, info.bitsPerPixel);
      Counters c;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        Counters& k = counters_;
        // The next frame can reach the buffer before its own message comes,
        // so that the message before it already showed it: a numbered
        // picture is counted once.
        if (stamp && k.stamped && *stamp <= k.lastStamp) continue;
        lastFrame = Clock::now();
        if (k.delivered == 0) firstFrame = lastFrame;
        ++k.delivered;
        k.width = info.width, k.height = info.height;
        k.bitsPerPixel = info.bitsPerPixel;
        k.Stamp(stamp);
        k.seconds =
            k.delivered > 1 ? std::chrono::duration<double>(lastFrame - firstFrame).count() : 0.0;
        c = k;
      }
      if (request_.saveEvery && c.delivered % request_.saveEvery == 0) {
        std::string path = request_.FramePath(FilePrefix(), c.delivered);
        if (Varnel_SaveImage(h, path.data(), request_.saveCode) != 1) {
          status = ReportSaveFailure(h, path);
          break;
        }
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++counters_.saved;
        }
        if (request_.announce) std::printf("saved %s\n", path.c_str());
      }
      const double sinceShown = std::chrono::duration<double>(lastFrame - lastShown).count();
      if ((terminal && sinceShown >= 0.25) || (!terminal && sinceShown >= 1.0)) {
        lastShown = lastFrame;
        shown();
      }
    }
    // Frames the library announced while it was being stopped are not
    // counted: the counters cover the frames the tool took in.
    Varnel_StopPreview(h);
    if (status == kExitOk && Snapshot().delivered == 0) {
      status = Complain(kExitFailed, Prefixed("no frame was delivered"));
    }
    return status;
  }

  Counters Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return counters_;
  }
  // The live line and the last line of this camera.
  std::string LiveLine() const { return label_ + Line(Snapshot(), linkBytesPerSample_); }
  std::string SummaryLine() const { return "stream: " + label_ + Summary(Snapshot()); }
  Session& session() { return *session_; }
  // Releases the camera (which stores its settings) and lets the head go,
  // on the thread that opened it.
  void Close() { session_.reset(); }

 private:
  std::string Prefixed(const std::string& what) const { return label_ + what; }
  // Files saved by several cameras at once carry the drive letter.
  std::string FilePrefix() const {
    return label_.empty() ? "" : std::string(1, static_cast<char>(label_[0])) + "-";
  }

  CameraOptions options_;
  CaptureOptions capture_;
  const StreamRequest& request_;
  const std::string label_;  // "V: HXA1  " with --all, else empty
  std::unique_ptr<Session> session_;
  std::vector<uint8_t> buffer_;
  int linkBytesPerSample_ = 1;
  mutable std::mutex mutex_;
  Counters counters_;
};

// --all: the camera drives and, for each, the options that select it: the
// model the head tells, else the camera type asked for (or 1).
int AllCameras(const CameraOptions& options, std::vector<CameraOptions>* cameras) {
  Session list;
  if (const int status = list.Open(options, false); status != kExitOk) return status;
  const std::vector<std::string> drives = list.Drives();
  while (Varnel_GetLastError(list.handle()) != 0) {
  }
  if (drives.empty()) {
    return Complain(kExitNoCamera,
                    "no camera found: no camera drive is attached (use --virtual HXA1 for a "
                    "virtual camera head)");
  }
  for (const std::string& drive : drives) {
    CameraOptions camera = options;
    camera.virtualModel.clear();  // the head, if any, is running already
    camera.device = drive;
    const std::string model = HeadModelOnDrive(drive);
    if (!options.virtualModel.empty() && drive == std::string(1, options.virtualLetter) + ":") {
      ParseCameraType(options.virtualModel, &camera.type);
    } else if (!model.empty()) {
      ParseCameraType(model, &camera.type);
    } else if (camera.type < 0) {
      camera.type = 1;
    }
    cameras->push_back(camera);
  }
  return kExitOk;
}

}  // namespace

int CommandStream(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "usage: varnelcam stream [options]\n"
          "\n"
          "Streams frames and shows the delivered frame rate, the link's MB/s and the\n"
          "read / delivered / dropped counters: one line updated in place on a\n"
          "terminal, a line a second otherwise, and a summary at the end. Ctrl-C\n"
          "ends it as cleanly as --seconds does (exit status 130).\n"
          "\n"
          "  --all              stream from every camera attached at once, one line\n"
          "                     each; each camera's type is the model its head tells\n"
          "                     (a virtual head does), else --type (default 1)\n"
          "  --frames N         stop after N delivered frames (each camera)\n"
          "  --seconds S        stop after S seconds (default 5 without --frames)\n"
          "  --save-every N     save every Nth delivered frame ...\n"
          "  --save-dir DIR     ... into DIR (default .) as frame-NNNNNN.FORMAT\n"
          "                     (with --all: X-frame-NNNNNN.FORMAT, X the drive)\n"
          "  --save-format F    bmp, raw, jpg, png or tif (default png)\n"
          "  --timeout S        give up when no frame comes for S seconds (default 30)\n"
          "\n"
          "read counts the frames the camera sent (from the frame numbers a virtual\n"
          "head stamps into its pictures; '-' when the camera stamps none), dropped\n"
          "those that never reached the tool.\n\n%s%s",
          kCaptureOptionsHelp, kCameraOptionsHelp);
      return kExitOk;
    }
  }
  CameraOptions options;
  CaptureOptions capture;
  StreamRequest request;
  bool all = false;
  for (int i = 0; i < argc; ++i) {
    int taken = options.Take(argc, argv, &i);
    if (taken == 0) taken = capture.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    std::string value;
    if ((arg == "--frames" || arg == "--seconds" || arg == "--save-every" || arg == "--save-dir" ||
         arg == "--save-format" || arg == "--timeout") &&
        !TakeValue(argc, argv, &i, &value)) {
      return kExitUsage;
    }
    if (arg == "--all") {
      all = true;
    } else if (arg == "--frames") {
      if (!ParseInt(arg, value, 1, 100000000, &request.frames)) return kExitUsage;
    } else if (arg == "--seconds") {
      if (!ParseDouble(arg, value, 0.001, 1e6, &request.seconds)) return kExitUsage;
    } else if (arg == "--save-every") {
      if (!ParseInt(arg, value, 1, 100000000, &request.saveEvery)) return kExitUsage;
    } else if (arg == "--save-dir") {
      request.saveDir = value;
    } else if (arg == "--save-format") {
      request.saveFormat = value;
    } else if (arg == "--timeout") {
      if (!ParseDouble(arg, value, 0.001, 86400, &request.timeout)) return kExitUsage;
    } else {
      std::fprintf(stderr,
                   "varnelcam: unknown option '%s' for stream (see varnelcam stream --help)\n",
                   argv[i]);
      return kExitUsage;
    }
  }
  if (all && !options.device.empty()) {
    return Complain(kExitUsage, "--all streams from every camera: it takes no --device");
  }
  if (request.frames == 0 && request.seconds == 0) request.seconds = 5;
  static const struct {
    const char* name;
    int code;
  } kSaveFormats[] = {{"bmp", VARNEL_FILE_BMP},
                      {"raw", VARNEL_FILE_RAW},
                      {"jpg", VARNEL_FILE_JPEG_100},
                      {"png", VARNEL_FILE_PNG},
                      {"tif", VARNEL_FILE_TIFF}};
  for (const auto& f : kSaveFormats) {
    if (request.saveFormat == f.name) request.saveCode = f.code;
  }
  if (request.saveCode < 0) {
    return Complain(kExitUsage,
                    "unknown --save-format '" + request.saveFormat + "' (bmp, raw, jpg, png, tif)");
  }
  // A directory the frames cannot go to is found before the camera starts:
  // the first file is tried (and removed again).
  if (request.saveEvery) {
    const std::string why = WhyNotWritable(request.FramePath("", request.saveEvery));
    if (!why.empty()) {
      return Complain(kExitUsage, "cannot save frames into '" + request.saveDir + "': " + why);
    }
  }
  const bool terminal = VARNELCAM_ISATTY(1) != 0;
  request.announce = !terminal;
  const std::string length = request.frames ? ", " + CountOf(request.frames, "frame")
                                            : ", " + FormatSeconds(request.seconds);
  CatchInterrupt();

  if (!all) {
    CameraStream camera(options, capture, request, "");
    if (const int status = camera.Start(); status != kExitOk) return status;
    Session& session = camera.session();
    std::printf("streaming from %s (%s)%s\n", session.driveName().c_str(),
                ModelOfType(session.type()), length.c_str());
    std::fflush(stdout);
    const int status = camera.Run(terminal, [&] {
      if (terminal) {
        std::printf("\r%s\033[K", camera.LiveLine().c_str());
      } else {
        std::printf("%s\n", camera.LiveLine().c_str());
      }
      std::fflush(stdout);
    });
    if (terminal) std::printf("\r\033[K");
    std::printf("%s\n%s\n", camera.LiveLine().c_str(), camera.SummaryLine().c_str());
    std::fflush(stdout);
    camera.Close();
    return status;
  }

  // --all: one stream a camera, each on its own thread.
  std::unique_ptr<VirtualCamera> head;
  if (!options.virtualModel.empty()) {
    int status = kExitOk;
    head = StartVirtualCamera(options.virtualModel, options.virtualLetter, options.virtualFps,
                              &status);
    if (!head) return status;
  }
  std::vector<CameraOptions> selections;
  if (const int status = AllCameras(options, &selections); status != kExitOk) return status;
  std::vector<std::unique_ptr<CameraStream>> cameras;
  std::string names;
  for (const CameraOptions& selection : selections) {
    char label[32];
    std::snprintf(label, sizeof label, "%s %-4s  ", selection.device.c_str(),
                  ModelOfType(selection.type));
    cameras.push_back(std::make_unique<CameraStream>(selection, capture, request, label));
    names +=
        (names.empty() ? "" : ", ") + selection.device + " (" + ModelOfType(selection.type) + ")";
  }
  std::printf("streaming from %zu cameras: %s%s\n", cameras.size(), names.c_str(), length.c_str());
  std::fflush(stdout);
  std::vector<int> statuses(cameras.size(), kExitOk);
  std::vector<std::thread> threads;
  std::mutex doneMutex;
  size_t done = 0;
  for (size_t i = 0; i < cameras.size(); ++i) {
    threads.emplace_back([&, i] {
      int status = cameras[i]->Start();
      if (status == kExitOk) status = cameras[i]->Run(terminal, [] {});
      cameras[i]->Close();
      statuses[i] = status;
      std::lock_guard<std::mutex> lock(doneMutex);
      ++done;
    });
  }
  // The live lines: in place on a terminal, every second otherwise.
  bool shownOnce = false;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(doneMutex);
      if (done == cameras.size()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(terminal ? 250 : 1000));
    if (terminal && shownOnce) std::printf("\033[%zuA", cameras.size());
    for (const auto& camera : cameras) {
      std::printf(terminal ? "\r%s\033[K\n" : "%s\n", camera->LiveLine().c_str());
    }
    shownOnce = true;
    std::fflush(stdout);
  }
  for (std::thread& t : threads) t.join();
  if (terminal && shownOnce) std::printf("\033[%zuA\033[J", cameras.size());
  for (const auto& camera : cameras) std::printf("%s\n", camera->LiveLine().c_str());
  for (const auto& camera : cameras) std::printf("%s\n", camera->SummaryLine().c_str());
  // The cameras were released (and their settings stored) on their threads;
  // the head they may have streamed from goes now.
  head.reset();
  for (int status : statuses) {
    if (status > 128) return status;
  }
  for (int status : statuses) {
    if (status != kExitOk) return status;
  }
  return kExitOk;
}

}  // namespace varnelcam
