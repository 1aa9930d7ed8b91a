// varnelcam settings: the settings the library keeps for the user, shown and
// changed under one name each. `info` prints the camera's part of them under
// the same names, and the Python package's properties use them with _ for -.
//
// Most of them go through the C interface (the library stores the mirror,
// automatic brightness, gain, exposure and filter values itself when the
// handle is released). The window, colour mode, sub-sample and wait time are
// stored by the library's camera dialog only, which Linux does not have: for
// them the tool writes the settings store itself, with the library's own
// store code, after the library has accepted the value.
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "cli.h"
#include "imaging/color_modes.h"
#include "platform/registry.h"
#include "settings/settings_store.h"

namespace varnelcam {

namespace {

enum class Kind {
  kWindow,
  kColorMode,
  kSubsample,
  kWaitTime,
  kMirrorH,
  kMirrorV,
  kAutoIris,
  kFilter,  // the filter store of the C interface, `filter` its identifier
};

constexpr int kGainFilter = 13;
constexpr int kExposureFilter = 18;

struct Setting {
  const char* name;
  Kind kind;
  int filter;
  long minimum, maximum;  // the camera's own for gain and exposure
  const char* meaning;    // null: the range says it all
};

// In the order `settings show` lists them.
constexpr Setting kSettings[] = {
    {"window", Kind::kWindow, 0, 0, 0, nullptr},
    {"color-mode", Kind::kColorMode, 0, 0, 0, "bits per pixel"},
    {"subsample", Kind::kSubsample, 0, 0, 2, "0 full, 1 half, 2 quarter resolution"},
    {"wait-time", Kind::kWaitTime, 0, 0, INT_MAX, "milliseconds before each streamed frame"},
    {"mirror-h", Kind::kMirrorH, 0, 0, 1, nullptr},
    {"mirror-v", Kind::kMirrorV, 0, 0, 1, nullptr},
    {"auto-iris", Kind::kAutoIris, 0, 0, 2, "0 off, 1 by exposure, 2 by gain"},
    {"gain", Kind::kFilter, kGainFilter, 0, 0, nullptr},
    {"exposure", Kind::kFilter, kExposureFilter, 0, 0, nullptr},
    {"brightness", Kind::kFilter, 1, -255, 255, nullptr},
    {"contrast", Kind::kFilter, 2, -127, 127, nullptr},
    {"hue", Kind::kFilter, 3, -360, 360, nullptr},
    {"saturation", Kind::kFilter, 4, -255, 255, nullptr},
    {"sharpness", Kind::kFilter, 5, 0, 30, nullptr},
    {"bayer-gain-red", Kind::kFilter, 7, 0, 400, nullptr},
    {"bayer-gain-green", Kind::kFilter, 8, 0, 400, nullptr},
    {"bayer-gain-blue", Kind::kFilter, 9, 0, 400, nullptr},
    {"bayer-gain-auto", Kind::kFilter, 10, 0, 1, nullptr},
    {"gamma", Kind::kFilter, 11, 0, 200, "100 leaves the picture unchanged"},
    {"bayer-mode", Kind::kFilter, 12, 0, 3, "colour filter phase"},
    {"gray-mode", Kind::kFilter, 19, 0, 2, nullptr},
    {"gray-gain-r", Kind::kFilter, 20, 0, 255, "128 = x1"},
    {"gray-gain-g1", Kind::kFilter, 21, 0, 255, "128 = x1"},
    {"gray-gain-g2", Kind::kFilter, 22, 0, 255, "128 = x1"},
    {"gray-gain-b", Kind::kFilter, 23, 0, 255, "128 = x1"},
    {"gray-offset-r", Kind::kFilter, 24, -255, 255, nullptr},
    {"gray-offset-g1", Kind::kFilter, 25, -255, 255, nullptr},
    {"gray-offset-g2", Kind::kFilter, 26, -255, 255, nullptr},
    {"gray-offset-b", Kind::kFilter, 27, -255, 255, nullptr},
};

// The names earlier versions of the tool used; taken with a note.
constexpr std::pair<const char*, const char*> kOldNames[] = {
    {"global-gain", "gain"},       {"exposure-time", "exposure"}, {"capture-window", "window"},
    {"colour-mode", "color-mode"}, {"sub-sample", "subsample"},
};

const Setting* FindSetting(const std::string& name) {
  for (const Setting& setting : kSettings) {
    if (name == setting.name) return &setting;
  }
  return nullptr;
}

// The range of a setting as the camera of `type` takes it, with what the
// values mean.
std::string RangeText(const Setting& setting, const CameraInfo& info, int type) {
  std::string range;
  switch (setting.kind) {
    case Kind::kWindow:
      return WindowIsFixed(type) ? "fixed: the whole sensor"
                                 : "WIDTHxHEIGHT+X+Y within " + std::to_string(info.maxWidth) +
                                       " x " + std::to_string(info.maxHeight);
    case Kind::kColorMode:
      range = "one of " + ColorModeList();
      break;
    case Kind::kWaitTime:
      range = "0 or more";
      break;
    default:
      if (setting.filter == kGainFilter) {
        return std::to_string(info.gainMin) + ".." + std::to_string(info.gainMax) + "; " +
               GainUnit(type);
      }
      if (setting.filter == kExposureFilter) {
        return std::to_string(info.exposureMin) + ".." + std::to_string(info.exposureMax) + "; " +
               ExposureUnit(type);
      }
      range = std::to_string(setting.minimum) + ".." + std::to_string(setting.maximum);
  }
  return setting.meaning != nullptr ? range + ": " + setting.meaning : range;
}

std::string WindowText(CameraHandle h) {
  int hTotal = 0, hStart = 0, width = 0, vTotal = 0, vStart = 0, height = 0;
  Varnel_GetCaptureWindowEx(h, &hTotal, &hStart, &width, &vTotal, &vStart, &height);
  return std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(hStart) + "+" +
         std::to_string(vStart);
}

// The setting's current value as text; false when the library gives none.
bool ValueText(CameraHandle h, const Setting& setting, std::string* text) {
  int valid = 1;
  int value = 0;
  switch (setting.kind) {
    case Kind::kWindow:
      *text = WindowText(h);
      return true;
    case Kind::kColorMode:
      value = Varnel_GetColorMode(h);
      break;
    case Kind::kSubsample:
      value = Varnel_GetSubSample(h);
      break;
    case Kind::kWaitTime:
      value = Varnel_GetWaitTime(h);
      break;
    case Kind::kMirrorH:
      value = Varnel_GetMirrorH(h);
      break;
    case Kind::kMirrorV:
      value = Varnel_GetMirrorV(h);
      break;
    case Kind::kAutoIris:
      value = Varnel_GetAutoIris(h, &valid);
      break;
    case Kind::kFilter:
      value = Varnel_GetFilterValue(h, setting.filter, &valid);
      break;
  }
  *text = std::to_string(value);
  return valid == 1;
}

void PrintSetting(CameraHandle h, const Setting& setting, const CameraInfo& info, int type) {
  std::string value;
  if (!ValueText(h, setting, &value)) value = "unavailable";
  std::printf("%-16s %-14s (%s)\n", setting.name, value.c_str(),
              RangeText(setting, info, type).c_str());
}

// Reads the stored main values and presets, lets `change` edit them and
// writes them back: the camera dialog's way of storing them.
bool ChangeStore(const std::function<void(varnel::SizeTable&)>& change) {
  varnel::SizeTable table;
  if (!varnel::LoadSizeTable(varnel::CurrentRegistry(), nullptr, &table)) return false;
  change(table);
  return varnel::SaveSizeTable(varnel::CurrentRegistry(), table);
}

// Sets one setting to `text` on the handle (and, for the values only the
// camera dialog stores, in the store). kExitOk, or the status to exit with
// after saying why.
int Apply(CameraHandle h, int type, const Setting& setting, const std::string& text,
          const CameraInfo& info) {
  const std::string range = RangeText(setting, info, type);
  if (setting.kind == Kind::kWindow) {
    int width = 0, height = 0, x = 0, y = 0;
    if (WindowIsFixed(type)) {
      return Complain(kExitUsage, std::string("window: a ") + ModelOfType(type) +
                                      " always captures its whole sensor");
    }
    if (!ParseWindow(text, &width, &height, &x, &y) ||
        static_cast<long>(x) + width > info.maxWidth ||
        static_cast<long>(y) + height > info.maxHeight) {
      return Complain(kExitUsage, "window wants " + range + ", not '" + text + "'");
    }
    if (Varnel_SetCaptureWindowEx(h, info.maxWidth, x, width, info.maxHeight, y, height) != 1) {
      return ReportFailure(h, "setting window " + text);
    }
    int v[6] = {};
    Varnel_GetCaptureWindowEx(h, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    const bool stored = ChangeStore([&](varnel::SizeTable& table) {
      // The preset in use is the one the library loads for the camera.
      if (table.main.size < 0 || table.main.size >= table.count) table.main.size = 0;
      if (table.count == 0) table.count = 1;
      varnel::SizePreset& preset = table.entries[static_cast<size_t>(table.main.size)];
      preset.hTotal = v[0], preset.hStart = v[1], preset.width = v[2];
      preset.vTotal = v[3], preset.vStart = v[4], preset.height = v[5];
    });
    return stored ? kExitOk : Complain(kExitFailed, "the settings store could not be written");
  }
  long minimum = setting.minimum, maximum = setting.maximum;
  if (setting.filter == kGainFilter) minimum = info.gainMin, maximum = info.gainMax;
  if (setting.filter == kExposureFilter) minimum = info.exposureMin, maximum = info.exposureMax;
  long value = 0;
  if (setting.kind == Kind::kColorMode) {
    char* end = nullptr;
    value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || !IsColorMode(static_cast<int>(value))) {
      return Complain(kExitUsage, "color-mode wants " + range + ", not '" + text + "'");
    }
  } else if (!ParseInt(setting.name, text, minimum, maximum, &value)) {
    return kExitUsage;
  }
  const int v = static_cast<int>(value);
  const std::string what = std::string("setting ") + setting.name + " to " + text;
  switch (setting.kind) {
    case Kind::kColorMode: {
      if (Varnel_SetColorMode(h, v) != 1) return ReportFailure(h, what);
      const varnel::ColorModeEntry* entry = varnel::FindColorMode(v);
      if (!ChangeStore([&](varnel::SizeTable& table) {
            table.main.color = entry->colorClass;
            table.main.bwMode = entry->bitDepth;
          })) {
        return Complain(kExitFailed, "the settings store could not be written");
      }
      return kExitOk;
    }
    case Kind::kSubsample:
      if (Varnel_SetSubSample(h, v) != 1) {
        return Complain(kExitFailed, what + ": refused, it leaves the window no picture");
      }
      return ChangeStore([&](varnel::SizeTable& table) { table.main.subSample = v; })
                 ? kExitOk
                 : Complain(kExitFailed, "the settings store could not be written");
    case Kind::kWaitTime:
      Varnel_SetWaitTime(h, v);
      return ChangeStore([&](varnel::SizeTable& table) { table.main.waitTime = v; })
                 ? kExitOk
                 : Complain(kExitFailed, "the settings store could not be written");
    case Kind::kMirrorH:
      Varnel_SetMirrorH(h, v);
      return Varnel_GetMirrorH(h) == v ? kExitOk : ReportFailure(h, what);
    case Kind::kMirrorV:
      Varnel_SetMirrorV(h, v);
      return Varnel_GetMirrorV(h) == v ? kExitOk : ReportFailure(h, what);
    case Kind::kAutoIris:
      return Varnel_SetAutoIris(h, v) == 1 ? kExitOk : ReportFailure(h, what);
    case Kind::kFilter:
      return Varnel_SetFilterValue(h, setting.filter, v) == 1 ? kExitOk : ReportFailure(h, what);
    case Kind::kWindow:
      break;
  }
  return kExitOk;
}

std::string SettingNames() {
  std::string names;
  for (const Setting& setting : kSettings)
    names += (names.empty() ? "" : ", ") + std::string(setting.name);
  return names;
}

}  // namespace

void PrintSettings(CameraHandle h, int type, bool filters) {
  CameraInfo info{};
  info.size = sizeof info;
  Varnel_GetCameraInfo(h, &info);
  for (const Setting& setting : kSettings) {
    if (!filters && setting.kind == Kind::kFilter && setting.filter != kGainFilter &&
        setting.filter != kExposureFilter) {
      continue;
    }
    PrintSetting(h, setting, info, type);
  }
  while (Varnel_GetLastError(h) != 0) {
  }
}

int CommandSettings(int argc, char** argv) {
  const bool help = WantsHelp(argc, argv);
  if (help || argc < 1) {
    std::fprintf(help ? stdout : stderr,
                 "usage: varnelcam settings show [camera options]\n"
                 "       varnelcam settings set NAME=VALUE... [camera options]\n"
                 "\n"
                 "Shows or changes the settings the library keeps for you: those it loads\n"
                 "when a camera type is chosen. No camera is needed: --type (or --virtual's\n"
                 "model) says whose limits and defaults apply. Every setting `show` lists\n"
                 "can be set, each within the range `show` gives:\n"
                 "  %s\n"
                 "window is WIDTHxHEIGHT or WIDTHxHEIGHT+X+Y. gain and exposure are the\n"
                 "sensor's own register values, sent unchanged: exposure counts in the\n"
                 "units of the model's exposure register, whose duration the camera does\n"
                 "not report. Each model's register is named in `show`.\n\n%s",
                 SettingNames().c_str(), kCameraOptionsHelp);
    return help ? kExitOk : kExitUsage;
  }
  const std::string action = argv[0];
  if (action != "show" && action != "set") {
    return Complain(kExitUsage, "settings wants show or set, not '" + action + "'");
  }
  CameraOptions options;
  std::vector<std::pair<const Setting*, std::string>> assignments;
  for (int i = 1; i < argc; ++i) {
    const int taken = options.Take(argc, argv, &i);
    if (taken < 0) return kExitUsage;
    if (taken == 1) continue;
    const std::string arg = argv[i];
    const size_t equals = arg.find('=');
    if (action != "set" || equals == std::string::npos || arg[0] == '-') {
      return Complain(kExitUsage, "unknown option '" + arg + "' for settings " + action +
                                      " (see varnelcam settings --help)");
    }
    std::string name = arg.substr(0, equals);
    for (const auto& [old, now] : kOldNames) {
      if (name == old) {
        std::fprintf(stderr, "varnelcam: note: '%s' is now called '%s'\n", old, now);
        name = now;
      }
    }
    const Setting* setting = FindSetting(name);
    if (setting == nullptr) {
      return Complain(kExitUsage,
                      "unknown setting '" + name + "' (the settings: " + SettingNames() + ")");
    }
    assignments.emplace_back(setting, arg.substr(equals + 1));
  }
  if (action == "set" && assignments.empty()) {
    return Complain(kExitUsage, "settings set needs NAME=VALUE");
  }
  Session session;
  if (const int status = session.Open(options, false); status != kExitOk) return status;
  if (const int status = session.SelectTypeOnly(options); status != kExitOk) return status;
  const CameraHandle h = session.handle();
  const int type = session.type();
  CameraInfo info{};
  info.size = sizeof info;
  if (Varnel_GetCameraInfo(h, &info) != 1) return ReportFailure(h, "reading the camera's limits");

  if (action == "set") {
    for (const auto& [setting, text] : assignments) {
      if (const int status = Apply(h, type, *setting, text, info); status != kExitOk) {
        return status;
      }
      std::string value;
      ValueText(h, *setting, &value);
      std::printf("%s = %s\n", setting->name, value.c_str());
    }
    std::printf("stored for camera type %d (%s)\n", type, ModelOfType(type));
    return kExitOk;
  }
  std::printf("settings stored for camera type %d (%s)\n", type, ModelOfType(type));
  PrintSettings(h, type, true);
  return kExitOk;
}

}  // namespace varnelcam
