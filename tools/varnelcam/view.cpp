// varnelcam view: a live picture. On Linux an SDL2 window fed by the
// callback path, with the rates and counters in its title; on Windows the
// library's own preview window.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "cli.h"

#if defined(VARNELCAM_HAVE_SDL2)
#include <SDL.h>
#endif

namespace varnelcam {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kViewHelp =
    "usage: varnelcam view [options]\n"
    "\n"
    "Shows the camera's live picture in a window: on Linux an SDL window with the\n"
    "frame rate and counters in its title (close it or press q / Esc to stop), on\n"
    "Windows the library's own preview window. Ctrl-C stops it as cleanly (exit\n"
    "status 130). Without a display it says so and exits with status 2.\n"
    "\n"
    "  --frames N         close after N frames\n"
    "  --seconds S        close after S seconds\n"
    "  --save FILE        when closing, save the picture last shown as FILE (PNG)\n"
    "  --hold             keep showing the last picture after --frames/--seconds\n"
    "                     until the window is closed\n"
    "  --at X,Y           place the window's top-left corner at X,Y\n"
    "  --timeout S        give up when no frame comes for S seconds (default 30)\n\n";

struct ViewOptions {
  long frames = 0;
  double seconds = 0;
  double timeout = kDefaultTimeoutMs / 1000.0;
  std::string save;
  bool hold = false;
  bool placed = false;
  int x = 0, y = 0;
};

int ParseView(int argc, char** argv, CameraOptions* options, CaptureOptions* capture,
              ViewOptions* view) {
  for (int i = 0; i < argc; ++i) {
    int taken = options->Take(argc, argv, &i);
    if (taken == 0) taken = capture->Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    std::string value;
    if ((arg == "--frames" || arg == "--seconds" || arg == "--timeout" || arg == "--save" ||
         arg == "--at") &&
        !TakeValue(argc, argv, &i, &value)) {
      return kExitUsage;
    }
    if (arg == "--frames") {
      if (!ParseInt(arg, value, 1, 100000000, &view->frames)) return kExitUsage;
    } else if (arg == "--seconds") {
      if (!ParseDouble(arg, value, 0.001, 1e6, &view->seconds)) return kExitUsage;
    } else if (arg == "--timeout") {
      if (!ParseDouble(arg, value, 0.001, 86400, &view->timeout)) return kExitUsage;
    } else if (arg == "--save") {
      view->save = value;
    } else if (arg == "--hold") {
      view->hold = true;
    } else if (arg == "--at") {
      if (std::sscanf(value.c_str(), "%d,%d", &view->x, &view->y) != 2) {
        return Complain(kExitUsage, "--at wants X,Y, not '" + value + "'");
      }
      view->placed = true;
    } else {
      std::fprintf(stderr, "varnelcam: unknown option '%s' for view (see varnelcam view --help)\n",
                   argv[i]);
      return kExitUsage;
    }
  }
  // The file is tried before anything is shown, not when the window closes.
  if (!view->save.empty()) {
    const std::string why = WhyNotWritable(view->save);
    if (!why.empty()) return Complain(kExitUsage, "cannot write '" + view->save + "': " + why);
  }
  return kExitOk;
}

int SaveShown(CameraHandle h, const std::string& path) {
  if (path.empty()) return kExitOk;
  std::string name = path;
  if (Varnel_SaveImage(h, name.data(), VARNEL_FILE_PNG) != 1) return ReportSaveFailure(h, path);
  std::printf("wrote %s\n", path.c_str());
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

#if defined(_WIN32)

int CommandView(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      std::printf("%s%s%s", kViewHelp, kCaptureOptionsHelp, kCameraOptionsHelp);
      return kExitOk;
    }
  }
  CameraOptions options;
  CaptureOptions capture;
  ViewOptions view;
  if (const int status = ParseView(argc, argv, &options, &capture, &view); status != kExitOk) {
    return status;
  }
  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  if (const int status = capture.Apply(h, session.type()); status != kExitOk) return status;
  if (view.placed) {
    int width = 0, height = 0;
    PictureSize(h, session.type(), &width, &height);
    Varnel_SetPreviewWindow(h, nullptr, view.x, view.y, width, height);
  }
  CatchInterrupt();
  if (Varnel_Preview(h) != 1) return ReportFailure(h, "starting the preview window");
  std::printf("previewing %s (%s) in the library's window\n", session.driveName().c_str(),
              ModelOfType(session.type()));
  std::fflush(stdout);
  const Clock::time_point start = Clock::now();
  bool quit = false;
  while (!quit && !Interrupted()) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) quit = true;
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (view.seconds &&
        std::chrono::duration<double>(Clock::now() - start).count() >= view.seconds) {
      break;
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
  }
  Varnel_StopPreview(h);
  std::printf("view: previewed for %.1f s\n",
              std::chrono::duration<double>(Clock::now() - start).count());
  std::fflush(stdout);
  const int status = SaveShown(h, view.save);
  return status == kExitOk && Interrupted() ? InterruptedStatus() : status;
}

#elif defined(VARNELCAM_HAVE_SDL2)

namespace {

// Turns one picture of the library (rows top first, padded to four bytes)
// into the window's 24-bit BGR rows; monochrome pictures are spread to the
// three colours, deep samples shortened to their top byte.
void ToBgr24(const uint8_t* picture, int width, int height, int bits, int significantBits,
             std::vector<uint8_t>* out) {
  out->resize(static_cast<size_t>(width) * height * 3);
  const int rowBytes = RowBytes(width, bits);
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = picture + static_cast<size_t>(y) * rowBytes;
    uint8_t* dst = out->data() + static_cast<size_t>(y) * width * 3;
    for (int x = 0; x < width; ++x, dst += 3) {
      switch (bits) {
        case 8:
          dst[0] = dst[1] = dst[2] = row[x];
          break;
        case 16: {
          const unsigned value = row[2 * x] | row[2 * x + 1] << 8;
          dst[0] = dst[1] = dst[2] = static_cast<uint8_t>(value >> (significantBits - 8));
          break;
        }
        case 24:
        case 32: {
          const uint8_t* p = row + x * (bits / 8);
          dst[0] = p[0], dst[1] = p[1], dst[2] = p[2];
          break;
        }
        default: {  // 48 and 64: 16-bit blue, green, red
          const uint8_t* p = row + x * (bits / 8);
          for (int c = 0; c < 3; ++c) {
            const unsigned value = p[2 * c] | p[2 * c + 1] << 8;
            dst[c] = static_cast<uint8_t>(value >> (significantBits - 8));
          }
        }
      }
    }
  }
}

}  // namespace

int CommandView(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-h") || !std::strcmp(argv[i], "--help")) {
      std::printf("%s%s%s", kViewHelp, kCaptureOptionsHelp, kCameraOptionsHelp);
      return kExitOk;
    }
  }
  CameraOptions options;
  CaptureOptions capture;
  ViewOptions view;
  if (const int status = ParseView(argc, argv, &options, &capture, &view); status != kExitOk) {
    return status;
  }
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0')) {
    return Complain(kExitUsage, "no display: view needs a graphical session (DISPLAY is not set)");
  }
  // With an X display named, X is what the user means: SDL would try
  // Wayland first and complain about it on the error stream.
  if (display != nullptr && *display != '\0') SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
  if (SDL_Init(SDL_INIT_VIDEO) != 0) {
    return Complain(kExitUsage, std::string("no display: ") + SDL_GetError());
  }
  struct SdlQuit {
    ~SdlQuit() { SDL_Quit(); }
  } sdlQuit;
  // When the display named cannot be reached SDL falls back to drivers that
  // draw nowhere a person can see: that is no display either.
  const char* driver = SDL_GetCurrentVideoDriver();
  const std::string driverName = driver != nullptr ? driver : "";
  if (driverName != "x11" && driverName != "wayland") {
    return Complain(kExitUsage, "no display: cannot open '" +
                                    std::string(display ? display : wayland) + "' (SDL chose '" +
                                    driverName + "')");
  }

  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  if (const int status = capture.Apply(h, session.type()); status != kExitOk) return status;
  int width = 0, height = 0;
  PictureSize(h, session.type(), &width, &height);
  const int mode = Varnel_GetColorMode(h);
  const int bits = BitsPerPixelOfMode(mode);
  std::vector<uint8_t> buffer(static_cast<size_t>(RowBytes(width, bits)) * height);

  // A picture larger than the screen is shown scaled down, whole.
  int windowWidth = width, windowHeight = height;
  SDL_Rect usable;
  if (SDL_GetDisplayUsableBounds(0, &usable) == 0 && usable.w > 0 && usable.h > 0) {
    const double scale = std::min(
        {1.0, static_cast<double>(usable.w) / width, static_cast<double>(usable.h) / height});
    windowWidth = std::max(1, static_cast<int>(width * scale));
    windowHeight = std::max(1, static_cast<int>(height * scale));
  }
  const std::string baseTitle =
      std::string("varnelcam view - ") + ModelOfType(session.type()) + " on " + session.driveName();
  SDL_Window* window =
      SDL_CreateWindow(baseTitle.c_str(), view.placed ? view.x : SDL_WINDOWPOS_CENTERED,
                       view.placed ? view.y : SDL_WINDOWPOS_CENTERED, windowWidth, windowHeight, 0);
  if (window == nullptr) return Complain(kExitUsage, std::string("no display: ") + SDL_GetError());
  // SDL's software renderer onto the window's own surface (no OpenGL
  // underneath either): it needs no OpenGL driver (a headless machine or a
  // remote display has none that works well), shows the picture's colours
  // exactly, and keeps up with the frame rates of these picture sizes.
  SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
  SDL_Renderer* renderer = SDL_CreateRenderer(window, -1, SDL_RENDERER_SOFTWARE);
  SDL_Texture* texture = renderer ? SDL_CreateTexture(renderer, SDL_PIXELFORMAT_BGR24,
                                                      SDL_TEXTUREACCESS_STREAMING, width, height)
                                  : nullptr;
  if (texture == nullptr) {
    const std::string why = SDL_GetError();
    if (renderer) SDL_DestroyRenderer(renderer);
    SDL_DestroyWindow(window);
    return Complain(kExitFailed, "the window cannot show pictures: " + why);
  }
  std::vector<uint8_t> shown;
  auto show = [&]() {
    ToBgr24(buffer.data(), width, height, bits, SignificantBitsOf(session.type(), mode), &shown);
    SDL_UpdateTexture(texture, nullptr, shown.data(), width * 3);
    SDL_RenderClear(renderer);
    SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
  };

  int status = kExitOk;
  // After SDL_Init, which puts a handler of its own in place.
  CatchInterrupt();
  if (Varnel_CallBackPreview(h, session.window().handle(), buffer.data(),
                             static_cast<int>(buffer.size()), 1) != 1) {
    status = ReportFailure(h, "starting the stream");
  }
  const Clock::time_point start = Clock::now();
  Clock::time_point lastFrame = start, firstFrame = start, lastTitle = start;
  long delivered = 0;
  bool quit = false;
  std::optional<uint32_t> firstStamp;
  uint32_t lastStamp = 0;
  const int timeoutMs = static_cast<int>(view.timeout * 1000);
  while (status == kExitOk && !quit) {
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
      if (event.type == SDL_QUIT ||
          (event.type == SDL_KEYDOWN &&
           (event.key.keysym.sym == SDLK_q || event.key.keysym.sym == SDLK_ESCAPE))) {
        quit = true;
      }
    }
    if (view.frames && delivered >= view.frames) break;
    if (view.seconds &&
        std::chrono::duration<double>(Clock::now() - start).count() >= view.seconds) {
      break;
    }
    std::optional<FrameWindow::Message> message = session.window().Next(15);
    if (Interrupted()) break;
    if (!message) {
      if (std::chrono::duration<double>(Clock::now() - lastFrame).count() * 1000 >= timeoutMs) {
        status = Complain(kExitFailed, "no frame for " + FormatSeconds(view.timeout));
      }
      continue;
    }
    if (message->message != kFrameMessage) continue;
    if (message->wParam == 0) {
      status = Complain(kExitFailed, FrameLossText(message->lParam));
      break;
    }
    lastFrame = Clock::now();
    if (delivered++ == 0) firstFrame = lastFrame;
    if (const std::optional<uint32_t> stamp = ReadFrameStamp(buffer.data(), width, height, bits)) {
      if (!firstStamp) firstStamp = *stamp;
      lastStamp = std::max(lastStamp, *stamp);
    }
    show();
    if (std::chrono::duration<double>(lastFrame - lastTitle).count() >= 0.5) {
      lastTitle = lastFrame;
      const double seconds = std::chrono::duration<double>(lastFrame - firstFrame).count();
      char title[256];
      if (firstStamp) {
        const long read = static_cast<long>(lastStamp - *firstStamp) + 1;
        std::snprintf(title, sizeof title, "%s - %.1f fps - read %ld delivered %ld dropped %ld",
                      baseTitle.c_str(), seconds > 0 ? (delivered - 1) / seconds : 0.0, read,
                      delivered, read > delivered ? read - delivered : 0);
      } else {
        std::snprintf(title, sizeof title, "%s - %.1f fps - delivered %ld", baseTitle.c_str(),
                      seconds > 0 ? (delivered - 1) / seconds : 0.0, delivered);
      }
      SDL_SetWindowTitle(window, title);
    }
  }
  Varnel_StopPreview(h);
  if (status == kExitOk && delivered > 0) {
    // The picture shown last and the one saved are the same: the last one
    // the library made, copied again now that nothing overwrites it.
    if (Varnel_GetImage(h, buffer.data(), static_cast<int>(buffer.size()), 1) == 1) show();
    status = SaveShown(h, view.save);
    std::printf("view: %s shown\n", CountOf(delivered, "frame").c_str());
    std::fflush(stdout);
    while (status == kExitOk && view.hold && !quit && !Interrupted()) {
      SDL_Event event;
      if (SDL_WaitEventTimeout(&event, 100)) {
        if (event.type == SDL_QUIT ||
            (event.type == SDL_KEYDOWN &&
             (event.key.keysym.sym == SDLK_q || event.key.keysym.sym == SDLK_ESCAPE))) {
          quit = true;
        } else if (event.type == SDL_WINDOWEVENT) {
          SDL_RenderClear(renderer);
          SDL_RenderCopy(renderer, texture, nullptr, nullptr);
          SDL_RenderPresent(renderer);
        }
      }
    }
  }
  SDL_DestroyTexture(texture);
  SDL_DestroyRenderer(renderer);
  SDL_DestroyWindow(window);
  return status == kExitOk && Interrupted() ? InterruptedStatus() : status;
}

#else

int CommandView(int, char**) {
  return Complain(kExitUsage, "no display: this varnelcam was built without a window system");
}

#endif

}  // namespace varnelcam
