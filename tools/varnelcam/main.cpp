// varnelcam: the command-line tool over the camera library's C interface.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli.h"

namespace {

constexpr const char* kUsage =
    "usage: varnelcam <command> [options]     (varnelcam <command> --help for more)\n"
    "       varnelcam --version\n"
    "\n"
    "commands:\n"
    "  list       the camera drives found and the camera types\n"
    "  info       library version, drives, and the camera's limits and settings\n"
    "  snap       take one frame: bmp, raw, jpg, png or tif, and/or the raw\n"
    "             Bayer mosaic as DNG\n"
    "  stream     stream frames with a live display of fps, link MB/s and the\n"
    "             read / delivered / dropped counters; save every Nth frame\n"
    "  trigger    arm triggered acquisition, fire or wait for triggers, count frames\n"
    "  view       a live picture in a window\n"
    "  serve      serve the camera over RTSP (JPEG or raw RTP video)\n"
    "  reg        read or write a sensor register\n"
    "  settings   show or change the settings stored for a camera type\n"
    "\n"
    "Every camera command takes --virtual MODEL[:LETTER] to start an in-process\n"
    "virtual camera head first, so all of it works without a camera; MODEL is one\n"
    "of HWH8, HXA1, HXB2, HXE5, HXC3, R2T, HYD4, HZF6, HZG7.\n"
    "\n"
    "Exit status: 0 done, 1 the camera or the library failed (the library's error\n"
    "codes are printed in words), 2 bad command line or no display, 3 no camera.\n"
    "\n"
    "Camera drives are fixed drives whose free-space query fails: a camera volume\n"
    "carries no file system. On Linux they come from the drives directory named by\n"
    "VARNEL_DRIVES (laid out like a Wine prefix's dosdevices).\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return varnelcam::kExitUsage;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return varnelcam::kExitOk;
  }
  if (command == "--version" || command == "version") {
    const uint32_t library = Varnel_GetDllVersion();
    std::printf("varnelcam %s (library %u.%u.%u, 0x%08X)\n", VARNELCAM_VERSION,
                (library >> 16) & 0xFF, (library >> 8) & 0xFF, library & 0xFF, library);
    return varnelcam::kExitOk;
  }
  struct Entry {
    const char* name;
    int (*run)(int, char**);
  };
  static const Entry kCommands[] = {
      {"list", varnelcam::CommandList},       {"info", varnelcam::CommandInfo},
      {"snap", varnelcam::CommandSnap},       {"stream", varnelcam::CommandStream},
      {"trigger", varnelcam::CommandTrigger}, {"view", varnelcam::CommandView},
      {"reg", varnelcam::CommandReg},         {"settings", varnelcam::CommandSettings},
      {"serve", varnelcam::CommandServe},
  };
  for (const Entry& entry : kCommands) {
    if (command == entry.name) return entry.run(argc - 2, argv + 2);
  }
  std::fprintf(stderr, "varnelcam: unknown command '%s'\n\n%s", command.c_str(), kUsage);
  return varnelcam::kExitUsage;
}
