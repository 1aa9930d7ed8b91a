// varnelcam serve: the camera over RTSP, as JPEG or raw RTP video, with the
// varnelsrc element and GStreamer's RTSP server. The element is carried in
// the program itself (registered as a static plugin), so it works on the
// in-process virtual head of --virtual as on an attached camera.
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

#ifdef VARNELCAM_HAVE_RTSP
#include <glib-unix.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>
#include <signal.h>

#include "varnel_src.h"
#endif

namespace varnelcam {

namespace {

constexpr const char* kServeHelp =
    "usage: varnelcam serve [options]\n"
    "\n"
    "Serves the camera over RTSP at rtsp://ADDRESS:PORT/PATH until interrupted\n"
    "(or for --seconds). Clients share one stream of the camera; a stock\n"
    "GStreamer client plays it, e.g.\n"
    "  gst-launch-1.0 rtspsrc location=rtsp://127.0.0.1:8554/camera ! \\\n"
    "      rtpjpegdepay ! jpegdec ! videoconvert ! autovideosink\n"
    "\n"
    "  --address A        address to listen on (default 127.0.0.1; 0.0.0.0 for\n"
    "                     every interface)\n"
    "  --port N           port (default 8554; 0 picks a free one, printed)\n"
    "  --path P           mount path (default /camera)\n"
    "  --payload jpeg|raw JPEG (default; --quality 1..100, default 85) or\n"
    "                     uncompressed RTP video (RFC 4175, RGB)\n"
    "  --seconds S        stop after S seconds\n"
    "\n";

}  // namespace

#ifndef VARNELCAM_HAVE_RTSP

int CommandServe(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::printf("%s", kServeHelp);
      return kExitOk;
    }
  }
  return Complain(kExitUsage,
                  "serve is not available: this varnelcam was built without GStreamer's RTSP "
                  "server");
}

#else

namespace {

GMainLoop* servingLoop = nullptr;

gboolean StopServing(gpointer) {
  if (servingLoop != nullptr) g_main_loop_quit(servingLoop);
  return G_SOURCE_REMOVE;
}

// The first error a client's pipeline posts (an unplugged camera, a refused
// mode) ends the server: with the camera gone there is nothing to serve.
void WatchMedia(GstRTSPMediaFactory*, GstRTSPMedia* media, gpointer) {
  GstElement* pipeline = gst_rtsp_media_get_element(media);
  GstBus* bus = gst_element_get_bus(pipeline);
  gst_bus_add_signal_watch(bus);
  g_signal_connect(bus, "message::error", G_CALLBACK(+[](GstBus*, GstMessage* message, gpointer) {
                     GError* error = nullptr;
                     gst_message_parse_error(message, &error, nullptr);
                     std::fprintf(stderr, "varnelcam: %s\n", error ? error->message : "error");
                     if (error) g_error_free(error);
                     StopServing(nullptr);
                   }),
                   nullptr);
  gst_object_unref(bus);
  gst_object_unref(pipeline);
}

}  // namespace

int CommandServe(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0) {
      std::printf("%s%s%s", kServeHelp, kCaptureOptionsHelp, kCameraOptionsHelp);
      return kExitOk;
    }
  }
  CameraOptions options;
  CaptureOptions capture;
  std::string address = "127.0.0.1", path = "/camera", payload = "jpeg";
  long port = 8554, quality = 85;
  double seconds = 0;
  for (int i = 0; i < argc; ++i) {
    int taken = options.Take(argc, argv, &i);
    if (taken == 0) taken = capture.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    std::string value;
    if ((arg == "--address" || arg == "--port" || arg == "--path" || arg == "--payload" ||
         arg == "--quality" || arg == "--seconds") &&
        !TakeValue(argc, argv, &i, &value)) {
      return kExitUsage;
    }
    if (arg == "--address") {
      address = value;
    } else if (arg == "--port") {
      if (!ParseInt(arg, value, 0, 65535, &port)) return kExitUsage;
    } else if (arg == "--path") {
      path = value;
      if (path[0] != '/') return Complain(kExitUsage, "--path must start with /");
    } else if (arg == "--payload") {
      payload = value;
      if (payload != "jpeg" && payload != "raw") {
        return Complain(kExitUsage, "--payload is jpeg or raw, not '" + payload + "'");
      }
    } else if (arg == "--quality") {
      if (!ParseInt(arg, value, 1, 100, &quality)) return kExitUsage;
    } else if (arg == "--seconds") {
      if (!ParseDouble(arg, value, 0.001, 1e7, &seconds)) return kExitUsage;
    } else {
      std::fprintf(stderr,
                   "varnelcam: unknown option '%s' for serve (see varnelcam serve --help)\n",
                   argv[i]);
      return kExitUsage;
    }
  }

  if (capture.waitTime >= 0) {
    // The element opens the camera itself and has no such property.
    return Complain(kExitUsage,
                    "serve takes no --wait-time: the varnelsrc element uses the stored one");
  }
  // The session finds the camera (and starts the virtual head) the way every
  // other command does; the element then opens the same drive itself.
  Session session;
  if (const int status = session.Open(options); status != kExitOk) return status;

  gst_init(nullptr, nullptr);
  if (!gst_varnel_register_static_plugin()) {
    return Complain(kExitFailed, "the varnelsrc element could not be registered");
  }
  std::string source =
      "varnelsrc device=" + session.driveName() + " camera-type=" + std::to_string(session.type());
  if (capture.mode >= 0) source += " mode=" + std::to_string(capture.mode);
  if (capture.subsample >= 0) source += " subsample=" + std::to_string(capture.subsample);
  if (capture.fullWindow) {
    return Complain(kExitUsage, "serve takes --window WxH[+X+Y], not full");
  }
  if (capture.window) {
    source += " window=" + std::to_string(capture.width) + "x" + std::to_string(capture.height) +
              "+" + std::to_string(capture.x) + "+" + std::to_string(capture.y);
  }
  // RTP's JPEG payload carries 4:2:0 YUV, and JPEG's YUV is full range
  // (colorimetry 1:4:0:0, BT.601): the default limited-range I420 would reach
  // decoders with its blacks and whites squeezed in.
  const std::string launch =
      payload == "jpeg"
          ? "( " + source + " ! videoconvert ! video/x-raw,format=I420,colorimetry=1:4:0:0 ! " +
                "jpegenc quality=" + std::to_string(quality) + " ! rtpjpegpay name=pay0 pt=26 )"
          : "( " + source +
                " ! videoconvert ! video/x-raw,format=RGB ! rtpvrawpay name=pay0 pt=96 )";

  GstRTSPServer* server = gst_rtsp_server_new();
  gst_rtsp_server_set_address(server, address.c_str());
  gst_rtsp_server_set_service(server, std::to_string(port).c_str());
  GstRTSPMediaFactory* factory = gst_rtsp_media_factory_new();
  gst_rtsp_media_factory_set_launch(factory, launch.c_str());
  gst_rtsp_media_factory_set_shared(factory, TRUE);
  g_signal_connect(factory, "media-configure", G_CALLBACK(WatchMedia), nullptr);
  GstRTSPMountPoints* mounts = gst_rtsp_server_get_mount_points(server);
  gst_rtsp_mount_points_add_factory(mounts, path.c_str(), factory);
  g_object_unref(mounts);
  const guint sourceId = gst_rtsp_server_attach(server, nullptr);
  if (sourceId == 0) {
    g_object_unref(server);
    return Complain(kExitFailed, "cannot listen on " + address + " port " + std::to_string(port));
  }
  std::printf("serving %s (%s) at rtsp://%s:%d%s (%s)\n", session.driveName().c_str(),
              ModelOfType(session.type()), address.c_str(), gst_rtsp_server_get_bound_port(server),
              path.c_str(), payload == "jpeg" ? "JPEG" : "raw RGB");
  std::fflush(stdout);

  servingLoop = g_main_loop_new(nullptr, FALSE);
  g_unix_signal_add(SIGINT, StopServing, nullptr);
  g_unix_signal_add(SIGTERM, StopServing, nullptr);
  if (seconds > 0) g_timeout_add(static_cast<guint>(seconds * 1000), StopServing, nullptr);
  g_main_loop_run(servingLoop);
  g_main_loop_unref(servingLoop);
  servingLoop = nullptr;
  g_source_remove(sourceId);
  g_object_unref(server);
  std::printf("serve: stopped\n");
  return kExitOk;
}

#endif

}  // namespace varnelcam
