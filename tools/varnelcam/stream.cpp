// varnelcam stream: live acquisition through the callback path, with a
// one-line display of the rates and the frame counters.
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
#include <string>
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

std::string Line(const Counters& c, double seconds, int linkBytesPerSample) {
  char text[256];
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

}  // namespace

int CommandStream(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::printf(
          "usage: varnelcam stream [options]\n"
          "\n"
          "Streams frames and shows the delivered frame rate, the link's MB/s and the\n"
          "read / delivered / dropped counters: one line updated in place on a\n"
          "terminal, a line a second otherwise, and a summary at the end.\n"
          "\n"
          "  --frames N         stop after N delivered frames\n"
          "  --seconds S        stop after S seconds (default 5 without --frames)\n"
          "  --save-every N     save every Nth delivered frame ...\n"
          "  --save-dir DIR     ... into DIR (default .) as frame-NNNNNN.FORMAT\n"
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
  long frames = 0, saveEvery = 0;
  double seconds = 0, timeout = kDefaultTimeoutMs / 1000.0;
  std::string saveDir = ".", saveFormat = "png";
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
    if (arg == "--frames") {
      if (!ParseInt(arg, value, 1, 100000000, &frames)) return kExitUsage;
    } else if (arg == "--seconds") {
      if (!ParseDouble(arg, value, 0.001, 1e6, &seconds)) return kExitUsage;
    } else if (arg == "--save-every") {
      if (!ParseInt(arg, value, 1, 100000000, &saveEvery)) return kExitUsage;
    } else if (arg == "--save-dir") {
      saveDir = value;
    } else if (arg == "--save-format") {
      saveFormat = value;
    } else if (arg == "--timeout") {
      if (!ParseDouble(arg, value, 0.001, 86400, &timeout)) return kExitUsage;
    } else {
      std::fprintf(stderr,
                   "varnelcam: unknown option '%s' for stream (see varnelcam stream --help)\n",
                   argv[i]);
      return kExitUsage;
    }
  }
  if (frames == 0 && seconds == 0) seconds = 5;
  static const struct {
    const char* name;
    int code;
  } kSaveFormats[] = {{"bmp", VARNEL_FILE_BMP},
                      {"raw", VARNEL_FILE_RAW},
                      {"jpg", VARNEL_FILE_JPEG_100},
                      {"png", VARNEL_FILE_PNG},
                      {"tif", VARNEL_FILE_TIFF}};
  int saveCode = -1;
  for (const auto& f : kSaveFormats) {
    if (saveFormat == f.name) saveCode = f.code;
  }
  if (saveCode < 0) {
    return Complain(kExitUsage,
                    "unknown --save-format '" + saveFormat + "' (bmp, raw, jpg, png, tif)");
  }
  // A directory the frames cannot go to is found before the camera starts:
  // the first file is tried (and removed again).
  auto framePath = [&](long number) {
    char name[64];
    std::snprintf(name, sizeof name, "/frame-%06ld.%s", number, saveFormat.c_str());
    return saveDir + name;
  };
  if (saveEvery) {
    const std::string why = WhyNotWritable(framePath(saveEvery));
    if (!why.empty()) {
      return Complain(kExitUsage, "cannot save frames into '" + saveDir + "': " + why);
    }
  }

  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  if (const int status = capture.Apply(h, session.type()); status != kExitOk) return status;

  int width = 0, height = 0;
  PictureSize(h, session.type(), &width, &height);
  const int mode = Varnel_GetColorMode(h);
  const int bits = BitsPerPixelOfMode(mode);
  // Deep modes move two bytes a sample over the link, the others one.
  const int linkBytesPerSample = (mode >= 10 && mode <= 16) || (mode >= 30 && mode != 32) ? 2 : 1;
  std::vector<uint8_t> buffer(static_cast<size_t>(RowBytes(width, bits)) * height);
  if (Varnel_CallBackPreview(h, session.window().handle(), buffer.data(),
                             static_cast<int>(buffer.size()), 1) != 1) {
    return ReportFailure(h, "starting the stream");
  }
  const bool terminal = VARNELCAM_ISATTY(1) != 0;
  std::printf(
      "streaming from %s (%s)%s\n", session.driveName().c_str(), ModelOfType(session.type()),
      frames ? (", " + CountOf(frames, "frame")).c_str() : (", " + FormatSeconds(seconds)).c_str());
  std::fflush(stdout);

  Counters counters;
  const Clock::time_point start = Clock::now();
  Clock::time_point firstFrame{}, lastFrame{}, lastShown = start;
  const int timeoutMs = static_cast<int>(timeout * 1000);
  int status = kExitOk;
  long saved = 0;
  auto elapsed = [&](Clock::time_point until) {
    return counters.delivered > 1 ? std::chrono::duration<double>(until - firstFrame).count() : 0.0;
  };
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (frames && counters.delivered >= frames) break;
    if (seconds && std::chrono::duration<double>(now - start).count() >= seconds) break;
    int wait = timeoutMs;
    if (seconds) {
      const double left = seconds - std::chrono::duration<double>(now - start).count();
      wait = std::min(wait, static_cast<int>(left * 1000) + 1);
    }
    std::optional<FrameWindow::Message> message = session.window().Next(wait);
    if (!message) {
      if (seconds && std::chrono::duration<double>(Clock::now() - start).count() >= seconds &&
          counters.delivered > 0) {
        break;
      }
      if (std::chrono::duration<double>(Clock::now() - (counters.delivered ? lastFrame : start))
                  .count() *
              1000 >=
          timeoutMs) {
        status = Complain(kExitFailed, "no frame for " + FormatSeconds(timeout));
        break;
      }
      continue;
    }
    if (message->message != kFrameMessage) continue;
    if (message->wParam == 0) {
      status = Complain(kExitFailed, FrameLossText(message->lParam));
      break;
    }
    const FrameInfo info = *reinterpret_cast<const FrameInfo*>(message->wParam);
    lastFrame = Clock::now();
    if (counters.delivered == 0) firstFrame = lastFrame;
    ++counters.delivered;
    counters.width = info.width, counters.height = info.height;
    counters.bitsPerPixel = info.bitsPerPixel;
    counters.Stamp(ReadFrameStamp(buffer.data(), info.width, info.height, info.bitsPerPixel));
    if (saveEvery && counters.delivered % saveEvery == 0) {
      std::string path = framePath(counters.delivered);
      if (Varnel_SaveImage(h, path.data(), saveCode) != 1) {
        status = ReportSaveFailure(h, path);
        break;
      }
      ++saved;
      if (!terminal) std::printf("saved %s\n", path.c_str());
    }
    const double sinceShown = std::chrono::duration<double>(lastFrame - lastShown).count();
    if ((terminal && sinceShown >= 0.25) || (!terminal && sinceShown >= 1.0)) {
      lastShown = lastFrame;
      const std::string line = Line(counters, elapsed(lastFrame), linkBytesPerSample);
      if (terminal) {
        std::printf("\r%s\033[K", line.c_str());
      } else {
        std::printf("%s\n", line.c_str());
      }
      std::fflush(stdout);
    }
  }
  // Frames the library announced while it was being stopped are not
  // counted: the counters cover the frames the tool took in.
  Varnel_StopPreview(h);
  const std::string line = Line(counters, elapsed(lastFrame), linkBytesPerSample);
  if (terminal) std::printf("\r\033[K");
  std::printf("%s\n", line.c_str());
  // One rate: frames after the first over the time since the first, as the
  // live line gives it. (The library's own meter in FrameInfo averages over
  // its last second and starts at 0, so it trails in the first seconds.)
  char rate[64] = ", a rate needs two frames";
  if (counters.delivered > 1 && elapsed(lastFrame) > 0) {
    std::snprintf(rate, sizeof rate, " in %.2f s: %.1f fps", elapsed(lastFrame),
                  (counters.delivered - 1) / elapsed(lastFrame));
  }
  std::printf("stream: %s delivered%s%s\n", CountOf(counters.delivered, "frame").c_str(), rate,
              saved ? (", " + std::to_string(saved) + " saved").c_str() : "");
  if (status == kExitOk && counters.delivered == 0) {
    status = Complain(kExitFailed, "no frame was delivered");
  }
  return status;
}

}  // namespace varnelcam
