// The varnelsrc element. See docs/gstreamer.md for what each property does
// and why the formats are what they are.
#include "varnel_src.h"

#include <gst/video/video.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "varnel.h"
#include "varnel_posix.h"

GST_DEBUG_CATEGORY_STATIC(varnel_src_debug);
#define GST_CAT_DEFAULT varnel_src_debug

namespace {

constexpr uint32_t kFrameMessage = 0x8002;
constexpr uint32_t kErrorMessage = 0x8003;
constexpr int kErrorFrameRead = 8;
constexpr int kErrorMemory = 5;
// How long one wait for a message lasts before the element looks at its
// flushing flag again; a stop never waits longer than this.
constexpr int kPollMs = 100;

// The element's colour modes: the library's colour mode numbers, plus the raw
// mosaic and automatic negotiation.
enum Mode : int {
  kModeAuto = -1,
  kModeBayer = 0,
  kModeGray8 = 8,
  kModeGray10 = 10,
  kModeGray12 = 12,
  kModeGray14 = 14,
  kModeGray16 = 16,
  kModeBgr = 24,
  kModeBgrx = 32,
  kModeBgr48_10 = 30,
  kModeBgr48_12 = 36,
  kModeBgr48_14 = 42,
  kModeBgr48 = 48,
  kModeBgra64_10 = 640,
  kModeBgra64_12 = 768,
  kModeBgra64_14 = 896,
  kModeBgra64 = 64,
};

enum Trigger : int { kTriggerOff = 0, kTriggerSoftware = 1, kTriggerExternal = 2 };
enum AutoExposure : int { kAutoKeep = -1, kAutoOff = 0, kAutoExposureTime = 1, kAutoGain = 2 };

// The library's Bayer modes as GStreamer's mosaic formats (row 0 left, row 0
// right, row 1 left, row 1 right).
constexpr const char* kBayerFormats[4] = {"gbrg", "rggb", "bggr", "grbg"};

// Bits a deep mode's samples carry.
int SampleBits(int mode) {
  switch (mode) {
    case kModeGray10:
    case kModeBgra64_10:
      return 10;
    case kModeGray12:
    case kModeBgra64_12:
      return 12;
    case kModeGray14:
    case kModeBgra64_14:
      return 14;
    case kModeGray16:
    case kModeBgra64:
      return 16;
    default:
      return 8;
  }
}

bool IsBgr48(int mode) {
  return mode == kModeBgr48_10 || mode == kModeBgr48_12 || mode == kModeBgr48_14 ||
         mode == kModeBgr48;
}

// The GStreamer video format a library mode is delivered as (the mosaic has
// none: it is video/x-bayer).
GstVideoFormat FormatOfMode(int mode) {
  switch (mode) {
    case kModeGray8:
      return GST_VIDEO_FORMAT_GRAY8;
    case kModeGray10:
    case kModeGray12:
    case kModeGray14:
    case kModeGray16:
      return GST_VIDEO_FORMAT_GRAY16_LE;
    case kModeBgr:
      return GST_VIDEO_FORMAT_BGR;
    case kModeBgrx:
      return GST_VIDEO_FORMAT_BGRx;
    case kModeBgra64_10:
    case kModeBgra64_12:
    case kModeBgra64_14:
    case kModeBgra64:
      return GST_VIDEO_FORMAT_BGRA64_LE;
    default:
      return GST_VIDEO_FORMAT_UNKNOWN;
  }
}

// Formats offered when the mode is negotiated, best first.
constexpr int kNegotiatedModes[] = {kModeBgr,    kModeBgrx,   kModeGray8,
                                    kModeGray16, kModeBgra64, kModeBayer};

GType ModeType() {
  static GType type = 0;
  static const GEnumValue kValues[] = {
      {kModeAuto, "Negotiated with downstream", "auto"},
      {kModeBayer, "Raw Bayer mosaic, 8 bits (video/x-bayer)", "bayer"},
      {kModeGray8, "Monochrome 8 bits (GRAY8)", "gray8"},
      {kModeGray10, "Monochrome 10 bits (GRAY16_LE, scaled to 16)", "gray10"},
      {kModeGray12, "Monochrome 12 bits (GRAY16_LE, scaled to 16)", "gray12"},
      {kModeGray14, "Monochrome 14 bits (GRAY16_LE, scaled to 16)", "gray14"},
      {kModeGray16, "Monochrome 16 bits (GRAY16_LE)", "gray16"},
      {kModeBgr, "Colour 24 bits (BGR)", "bgr"},
      {kModeBgrx, "Colour 32 bits (BGRx)", "bgrx"},
      {kModeBgr48_10, "Colour 30 bits in 48: no GStreamer format, refused", "bgr30"},
      {kModeBgr48_12, "Colour 36 bits in 48: no GStreamer format, refused", "bgr36"},
      {kModeBgr48_14, "Colour 42 bits in 48: no GStreamer format, refused", "bgr42"},
      {kModeBgr48, "Colour 48 bits: no GStreamer format, refused", "bgr48"},
      {kModeBgra64_10, "Colour 10 bits in 64 (BGRA64_LE, scaled to 16)", "bgra64-10"},
      {kModeBgra64_12, "Colour 12 bits in 64 (BGRA64_LE, scaled to 16)", "bgra64-12"},
      {kModeBgra64_14, "Colour 14 bits in 64 (BGRA64_LE, scaled to 16)", "bgra64-14"},
      {kModeBgra64, "Colour 64 bits (BGRA64_LE)", "bgra64"},
      {0, nullptr, nullptr}};
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstVarnelSrcMode", kValues));
  }
  return type;
}

GType TriggerType() {
  static GType type = 0;
  static const GEnumValue kValues[] = {
      {kTriggerOff, "Free-running stream", "off"},
      {kTriggerSoftware, "One frame for each \"trigger\" action signal", "software"},
      {kTriggerExternal, "One frame for each pulse at the camera's trigger input", "external"},
      {0, nullptr, nullptr}};
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstVarnelSrcTrigger", kValues));
  }
  return type;
}

GType AutoExposureType() {
  static GType type = 0;
  static const GEnumValue kValues[] = {{kAutoKeep, "As stored for the camera", "stored"},
                                       {kAutoOff, "Off", "off"},
                                       {kAutoExposureTime, "By exposure time", "exposure"},
                                       {kAutoGain, "By gain", "gain"},
                                       {0, nullptr, nullptr}};
  if (g_once_init_enter(&type)) {
    g_once_init_leave(&type, g_enum_register_static("GstVarnelSrcAutoExposure", kValues));
  }
  return type;
}

const char* ErrorWords(int code) {
  switch (code) {
    case 1:
      return "no camera driver";
    case 2:
      return "the device could not be selected";
    case 3:
      return "a worker thread could not be created";
    case 4:
      return "the preview window could not be created";
    case 5:
      return "memory or buffer problem";
    case 6:
      return "the camera refused a register or sync command";
    case 7:
      return "capture window not allowed";
    case 8:
      return "a frame could not be read";
    case 9:
      return "argument out of range";
    case 11:
      return "operation not supported";
    default:
      return "unknown error";
  }
}

enum Property {
  kPropDevice = 1,
  kPropCameraType,
  kPropMode,
  kPropWindow,
  kPropSubsample,
  kPropGain,
  kPropExposure,
  kPropAutoExposure,
  kPropTrigger,
  kPropTimeout,
  kPropFramesRead,
  kPropFramesDropped,
};

}  // namespace

struct _GstVarnelSrc {
  GstPushSrc parent;

  // Properties (guarded by the object lock).
  gchar* device;
  gint cameraType;
  gint mode;
  gchar* window;
  gint subsample;
  gint gain;
  gint exposure;
  gint autoExposure;
  gint trigger;
  guint timeoutSeconds;

  // The open camera (from start to stop).
  CameraHandle handle;
  HWND queue;
  gchar* driveName;
  gint activeMode;  // the library mode of the negotiated caps (kModeBayer: 8 with raw gray)
  gint bayerPhase;
  GstVideoInfo info;
  gboolean haveInfo;
  gboolean acquiring;
  gsize frameBytes;
  gint grayMode, grayGains[4], grayOffsets[4];
  gboolean grayChanged;

  // Streaming thread state.
  GstClockTime lastPts;
  GstClockTime frameDuration;
  gboolean discont;
  std::atomic<gboolean>* flushing;
  std::atomic<guint64>* framesRead;
  std::atomic<guint64>* framesDropped;

  // Software triggers asked for and not yet served.
  GMutex triggerLock;
  GCond triggerCond;
  gint pendingTriggers;
};

G_DEFINE_TYPE(GstVarnelSrc, gst_varnel_src, GST_TYPE_PUSH_SRC)

namespace {

guint triggerSignal = 0;

GstCaps* TemplateCaps() {
  GstCaps* caps = gst_caps_from_string(
      "video/x-raw, format=(string){ BGR, BGRx, GRAY8, GRAY16_LE, BGRA64_LE }, "
      "width=(int)[1, 65535], height=(int)[1, 65535], framerate=(fraction)[0/1, MAX]; "
      "video/x-bayer, format=(string){ bggr, rggb, grbg, gbrg }, "
      "width=(int)[1, 65535], height=(int)[1, 65535], framerate=(fraction)[0/1, MAX]");
  return caps;
}

// The size of the picture the library delivers: the capture window (the
// whole sensor on the models whose window the library keeps at full size),
// divided by the sub-sampling. The first frame's own size is checked against
// it, and the caps follow the frame if they differ.
void PictureSize(CameraHandle handle, int* width, int* height) {
  int w = Varnel_Width(handle), h = Varnel_Height(handle);
  const int type = Varnel_GetCameraType(handle, 0);
  if (type >= 6 && type <= 8) {
    CameraInfo info{};
    info.size = sizeof info;
    if (Varnel_GetCameraInfo(handle, &info) == 1) w = info.maxWidth, h = info.maxHeight;
  }
  const int sub = Varnel_GetSubSample(handle);
  const int factor = sub >= 1 && sub <= 3 ? 1 << sub : 1;
  *width = std::max(1, w / factor);
  *height = std::max(1, h / factor);
}

GstCaps* CapsForMode(GstVarnelSrc* self, int mode, int width, int height) {
  if (mode == kModeBayer) {
    return gst_caps_new_simple("video/x-bayer", "format", G_TYPE_STRING,
                               kBayerFormats[self->bayerPhase & 3], "width", G_TYPE_INT, width,
                               "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 0, 1,
                               nullptr);
  }
  return gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING,
                             gst_video_format_to_string(FormatOfMode(mode)), "width", G_TYPE_INT,
                             width, "height", G_TYPE_INT, height, "framerate", GST_TYPE_FRACTION, 0,
                             1, nullptr);
}

// Pops every pending error code into one line of words.
std::string PendingErrors(CameraHandle handle) {
  std::string text;
  for (int code, n = 0; n < 20 && (code = Varnel_GetLastError(handle)) != 0; ++n) {
    char part[96];
    std::snprintf(part, sizeof part, "%serror %d (%s)", text.empty() ? "" : ", ", code,
                  ErrorWords(code));
    text += part;
  }
  return text.empty() ? "no error code recorded" : text;
}

// Picks the drive named by `device`: empty for the first, a letter ("V" or
// "V:"), or an index. Returns the index, or -1.
int FindDrive(const char* device, char names[][256], int count) {
  if (device == nullptr || *device == '\0') return count > 0 ? 0 : -1;
  if (g_ascii_isalpha(device[0]) &&
      (device[1] == '\0' || (device[1] == ':' && device[2] == '\0'))) {
    for (int i = 0; i < count; ++i) {
      if (g_ascii_toupper(names[i][0]) == g_ascii_toupper(device[0])) return i;
    }
    return -1;
  }
  char* end = nullptr;
  const long index = std::strtol(device, &end, 10);
  if (end == device || *end != '\0' || index < 0 || index >= count) return -1;
  return static_cast<int>(index);
}

bool ParseWindow(const char* text, int* width, int* height, int* x, int* y) {
  *x = *y = 0;
  int consumed = 0;
  if (std::sscanf(text, "%dx%d%n", width, height, &consumed) != 2) return false;
  if (text[consumed] == '+') {
    int more = 0;
    if (std::sscanf(text + consumed, "+%d+%d%n", x, y, &more) != 2) return false;
    consumed += more;
  }
  return text[consumed] == '\0' && *width > 0 && *height > 0 && *x >= 0 && *y >= 0;
}

void SaveGray(GstVarnelSrc* self) {
  const CameraHandle h = self->handle;
  self->grayMode = Varnel_GetGrayMode(h, nullptr);
  self->grayGains[0] = Varnel_GetGrayGainR(h, nullptr);
  self->grayGains[1] = Varnel_GetGrayGainG1(h, nullptr);
  self->grayGains[2] = Varnel_GetGrayGainG2(h, nullptr);
  self->grayGains[3] = Varnel_GetGrayGainB(h, nullptr);
  self->grayOffsets[0] = Varnel_GetGrayOffsetR(h, nullptr);
  self->grayOffsets[1] = Varnel_GetGrayOffsetG1(h, nullptr);
  self->grayOffsets[2] = Varnel_GetGrayOffsetG2(h, nullptr);
  self->grayOffsets[3] = Varnel_GetGrayOffsetB(h, nullptr);
}

void SetGray(CameraHandle h, int mode, const int* gains, const int* offsets) {
  Varnel_SetGrayMode(h, mode);
  Varnel_SetGrayGainR(h, gains[0]), Varnel_SetGrayGainG1(h, gains[1]);
  Varnel_SetGrayGainG2(h, gains[2]), Varnel_SetGrayGainB(h, gains[3]);
  Varnel_SetGrayOffsetR(h, offsets[0]), Varnel_SetGrayOffsetG1(h, offsets[1]);
  Varnel_SetGrayOffsetG2(h, offsets[2]), Varnel_SetGrayOffsetB(h, offsets[3]);
}

// The raw mosaic is the library's 8-bit monochrome picture without gray
// processing: gray mode 0, unit gains, no offsets. The library stores the
// gray values when the camera closes, so the element puts back what it found.
void UseRawGray(GstVarnelSrc* self) {
  if (self->grayChanged) return;
  SaveGray(self);
  static const int kUnitGains[4] = {128, 128, 128, 128};
  static const int kNoOffsets[4] = {0, 0, 0, 0};
  SetGray(self->handle, 0, kUnitGains, kNoOffsets);
  self->grayChanged = TRUE;
}

void RestoreGray(GstVarnelSrc* self) {
  if (!self->grayChanged) return;
  SetGray(self->handle, self->grayMode, self->grayGains, self->grayOffsets);
  self->grayChanged = FALSE;
}

// Turns the library's deep samples (the mode's bits, right-aligned) into the
// full-range samples GStreamer's 16-bit formats mean, and makes the 64-bit
// colour pictures opaque.
void FinishSamples(GstVarnelSrc* self, guint8* data) {
  const int mode = self->activeMode;
  const GstVideoFormat format = FormatOfMode(mode);
  if (format != GST_VIDEO_FORMAT_GRAY16_LE && format != GST_VIDEO_FORMAT_BGRA64_LE) return;
  const int shift = 16 - SampleBits(mode);
  const int width = GST_VIDEO_INFO_WIDTH(&self->info);
  const int height = GST_VIDEO_INFO_HEIGHT(&self->info);
  const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&self->info, 0);
  const bool colour = format == GST_VIDEO_FORMAT_BGRA64_LE;
  const uint32_t limit = (1u << SampleBits(mode)) - 1;
  for (int y = 0; y < height; ++y) {
    auto* row = reinterpret_cast<uint16_t*>(data + static_cast<size_t>(y) * stride);
    const int samples = colour ? width * 4 : width;
    for (int i = 0; i < samples; ++i) {
      if (colour && (i & 3) == 3) {
        row[i] = GUINT16_TO_LE(0xFFFF);
        continue;
      }
      const uint32_t value = std::min<uint32_t>(GUINT16_FROM_LE(row[i]), limit);
      row[i] = GUINT16_TO_LE(static_cast<uint16_t>(value << shift));
    }
  }
}

gboolean Fail(GstVarnelSrc* self, const char* what) {
  const std::string errors = PendingErrors(self->handle);
  GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("%s", what),
                    ("camera %s: %s", self->driveName ? self->driveName : "-", errors.c_str()));
  return FALSE;
}

// --- GObject ----------------------------------------------------------------

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* spec) {
  GstVarnelSrc* self = GST_VARNEL_SRC(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case kPropDevice:
      g_free(self->device);
      self->device = g_value_dup_string(value);
      break;
    case kPropCameraType:
      self->cameraType = g_value_get_int(value);
      break;
    case kPropMode:
      self->mode = g_value_get_enum(value);
      break;
    case kPropWindow:
      g_free(self->window);
      self->window = g_value_dup_string(value);
      break;
    case kPropSubsample:
      self->subsample = g_value_get_int(value);
      break;
    case kPropGain:
      self->gain = g_value_get_int(value);
      break;
    case kPropExposure:
      self->exposure = g_value_get_int(value);
      break;
    case kPropAutoExposure:
      self->autoExposure = g_value_get_enum(value);
      break;
    case kPropTrigger:
      self->trigger = g_value_get_enum(value);
      break;
    case kPropTimeout:
      self->timeoutSeconds = g_value_get_uint(value);
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* spec) {
  GstVarnelSrc* self = GST_VARNEL_SRC(object);
  GST_OBJECT_LOCK(self);
  switch (id) {
    case kPropDevice:
      g_value_set_string(value, self->device);
      break;
    case kPropCameraType:
      g_value_set_int(value, self->cameraType);
      break;
    case kPropMode:
      g_value_set_enum(value, self->mode);
      break;
    case kPropWindow:
      g_value_set_string(value, self->window);
      break;
    case kPropSubsample:
      g_value_set_int(value, self->subsample);
      break;
    case kPropGain:
      g_value_set_int(value, self->gain);
      break;
    case kPropExposure:
      g_value_set_int(value, self->exposure);
      break;
    case kPropAutoExposure:
      g_value_set_enum(value, self->autoExposure);
      break;
    case kPropTrigger:
      g_value_set_enum(value, self->trigger);
      break;
    case kPropTimeout:
      g_value_set_uint(value, self->timeoutSeconds);
      break;
    case kPropFramesRead:
      g_value_set_uint64(value, self->framesRead->load());
      break;
    case kPropFramesDropped:
      g_value_set_uint64(value, self->framesDropped->load());
      break;
    default:
      G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, spec);
      break;
  }
  GST_OBJECT_UNLOCK(self);
}

void Finalize(GObject* object) {
  GstVarnelSrc* self = GST_VARNEL_SRC(object);
  g_free(self->device);
  g_free(self->window);
  g_free(self->driveName);
  delete self->flushing;
  delete self->framesRead;
  delete self->framesDropped;
  g_mutex_clear(&self->triggerLock);
  g_cond_clear(&self->triggerCond);
  G_OBJECT_CLASS(gst_varnel_src_parent_class)->finalize(object);
}

void FireTrigger(GstVarnelSrc* self) {
  g_mutex_lock(&self->triggerLock);
  ++self->pendingTriggers;
  g_cond_broadcast(&self->triggerCond);
  g_mutex_unlock(&self->triggerLock);
}

// --- GstBaseSrc -----------------------------------------------------------

void CloseCamera(GstVarnelSrc* self) {
  if (self->handle != 0) {
    if (self->acquiring) Varnel_StopPreview(self->handle);
    RestoreGray(self);
    Varnel_Close(self->handle);
    while (Varnel_GetLastError(self->handle) != 0) {
    }
    Varnel_Release(self->handle);
    self->handle = 0;
  }
  if (self->queue != nullptr) {
    VarnelPosix_DestroyMessageQueue(self->queue);
    self->queue = nullptr;
  }
  self->acquiring = FALSE;
  self->haveInfo = FALSE;
}

gboolean Start(GstBaseSrc* base) {
  GstVarnelSrc* self = GST_VARNEL_SRC(base);
  GST_OBJECT_LOCK(self);
  gchar* device = g_strdup(self->device);
  gchar* window = g_strdup(self->window);
  const int type = self->cameraType, mode = self->mode, subsample = self->subsample;
  const int gain = self->gain, exposure = self->exposure, autoExposure = self->autoExposure;
  GST_OBJECT_UNLOCK(self);

  self->framesRead->store(0);
  self->framesDropped->store(0);
  self->flushing->store(FALSE);
  self->lastPts = GST_CLOCK_TIME_NONE;
  self->frameDuration = GST_CLOCK_TIME_NONE;
  self->discont = FALSE;
  self->pendingTriggers = 0;
  self->activeMode = kModeAuto;

  gboolean ok = FALSE;
  char names[26][256] = {};
  int count = 0, index = -1;
  int windowWidth = 0, windowHeight = 0, windowX = 0, windowY = 0;
  if (IsBgr48(mode)) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                      ("Colour mode %d (three 16-bit samples a pixel) has no GStreamer format; "
                       "use mode bgra64 (or bgra64-10, -12, -14) for deep colour",
                       mode),
                      (nullptr));
    goto done;
  }
  if (window != nullptr && *window != '\0' &&
      !ParseWindow(window, &windowWidth, &windowHeight, &windowX, &windowY)) {
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                      ("Capture window '%s' is not WIDTHxHEIGHT[+X+Y]", window), (nullptr));
    goto done;
  }
  self->queue = VarnelPosix_CreateMessageQueue();
  self->handle = self->queue ? Varnel_Initialize(self->queue) : 0;
  if (self->handle == 0) {
    GST_ELEMENT_ERROR(self, RESOURCE, FAILED, ("The camera library could not be initialised"),
                      (nullptr));
    goto done;
  }
  count = Varnel_EnumDevice(self->handle, &names[0][0]);
  index = FindDrive(device, names, std::min(count, 26));
  if (index < 0) {
    GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                      ("No camera drive '%s' (%d camera drive%s found)",
                       device && *device ? device : "(first)", count, count == 1 ? "" : "s"),
                      ("Camera drives are fixed drives without a file system; see the drives "
                       "directory (VARNEL_DRIVES)"));
    goto done;
  }
  g_free(self->driveName);
  self->driveName = g_strdup(names[index]);
  if (Varnel_SetDeviceNumber(self->handle, index) != 1 ||
      Varnel_SetCameraType(self->handle, type) != 1) {
    const std::string errors = PendingErrors(self->handle);
    GST_ELEMENT_ERROR(self, RESOURCE, OPEN_READ,
                      ("Camera %s could not be opened as camera type %d", names[index], type),
                      ("%s", errors.c_str()));
    goto done;
  }
  if (subsample >= 0 && Varnel_SetSubSample(self->handle, subsample) != 1) {
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("Sub-sample %d was refused", subsample),
                      (nullptr));
    goto done;
  }
  if (windowWidth > 0 && Varnel_SetCaptureWindowEx(self->handle, 0, windowX, windowWidth, 0,
                                                   windowY, windowHeight) != 1) {
    const std::string errors = PendingErrors(self->handle);
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS,
                      ("Capture window %s does not fit camera %s", window, names[index]),
                      ("%s", errors.c_str()));
    goto done;
  }
  if (gain >= 0 && Varnel_SetGlobalGain(self->handle, gain) != 1) {
    const std::string errors = PendingErrors(self->handle);
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("Gain %d was refused", gain),
                      ("%s", errors.c_str()));
    goto done;
  }
  if (exposure >= 0 && Varnel_SetExposureTime(self->handle, exposure) != 1) {
    const std::string errors = PendingErrors(self->handle);
    GST_ELEMENT_ERROR(self, RESOURCE, SETTINGS, ("Exposure time %d was refused", exposure),
                      ("%s", errors.c_str()));
    goto done;
  }
  if (autoExposure >= 0) Varnel_SetAutoIris(self->handle, autoExposure);
  self->bayerPhase = Varnel_GetBayerMode(self->handle, nullptr) & 3;
  ok = TRUE;
done:
  g_free(device);
  g_free(window);
  if (!ok) CloseCamera(self);
  return ok;
}

gboolean Stop(GstBaseSrc* base) {
  CloseCamera(GST_VARNEL_SRC(base));
  return TRUE;
}

GstCaps* GetCaps(GstBaseSrc* base, GstCaps* filter) {
  GstVarnelSrc* self = GST_VARNEL_SRC(base);
  GstCaps* caps;
  if (self->handle == 0) {
    caps = TemplateCaps();
  } else if (self->haveInfo) {
    caps = self->activeMode == kModeBayer
               ? CapsForMode(self, kModeBayer, GST_VIDEO_INFO_WIDTH(&self->info),
                             GST_VIDEO_INFO_HEIGHT(&self->info))
               : gst_video_info_to_caps(&self->info);
    gst_caps_set_simple(caps, "framerate", GST_TYPE_FRACTION, 0, 1, nullptr);
  } else {
    int width = 0, height = 0;
    PictureSize(self->handle, &width, &height);
    GST_OBJECT_LOCK(self);
    const int mode = self->mode;
    GST_OBJECT_UNLOCK(self);
    caps = gst_caps_new_empty();
    if (mode != kModeAuto) {
      gst_caps_append(caps, CapsForMode(self, mode, width, height));
    } else {
      for (int m : kNegotiatedModes) gst_caps_append(caps, CapsForMode(self, m, width, height));
    }
  }
  if (filter != nullptr) {
    GstCaps* both = gst_caps_intersect_full(filter, caps, GST_CAPS_INTERSECT_FIRST);
    gst_caps_unref(caps);
    caps = both;
  }
  return caps;
}

gboolean SetCaps(GstBaseSrc* base, GstCaps* caps) {
  GstVarnelSrc* self = GST_VARNEL_SRC(base);
  if (self->handle == 0) return FALSE;
  const GstStructure* s = gst_caps_get_structure(caps, 0);
  int mode = kModeAuto;
  GstVideoInfo info;
  gst_video_info_init(&info);
  int width = 0, height = 0;
  gst_structure_get_int(s, "width", &width);
  gst_structure_get_int(s, "height", &height);
  GST_OBJECT_LOCK(self);
  const int wanted = self->mode;
  GST_OBJECT_UNLOCK(self);
  if (gst_structure_has_name(s, "video/x-bayer")) {
    mode = kModeBayer;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_GRAY8, width, height);
  } else {
    if (!gst_video_info_from_caps(&info, caps)) return FALSE;
    const GstVideoFormat format = GST_VIDEO_INFO_FORMAT(&info);
    if (wanted != kModeAuto && FormatOfMode(wanted) == format) {
      mode = wanted;
    } else {
      for (int m : kNegotiatedModes) {
        if (m != kModeBayer && FormatOfMode(m) == format) mode = m;
      }
    }
  }
  if (mode == kModeAuto) return FALSE;
  if (self->acquiring && mode != self->activeMode) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                      ("The picture format cannot change while the camera streams"), (nullptr));
    return FALSE;
  }
  const int libraryMode = mode == kModeBayer ? kModeGray8 : mode;
  if (Varnel_SetColorMode(self->handle, libraryMode) != 1) {
    return Fail(self, "The camera library refused the colour mode");
  }
  if (mode == kModeBayer) {
    UseRawGray(self);
  } else {
    RestoreGray(self);
  }
  self->activeMode = mode;
  self->info = info;
  self->haveInfo = TRUE;
  self->frameBytes = GST_VIDEO_INFO_SIZE(&info);
  gst_base_src_set_blocksize(base, static_cast<guint>(self->frameBytes));
  GST_INFO_OBJECT(self, "library colour mode %d for %" GST_PTR_FORMAT, libraryMode, caps);
  return TRUE;
}

gboolean StartAcquisition(GstVarnelSrc* self) {
  GST_OBJECT_LOCK(self);
  const int trigger = self->trigger;
  GST_OBJECT_UNLOCK(self);
  int started = 1;
  if (trigger == kTriggerOff) {
    started = Varnel_CallBackPreview(self->handle, self->queue, nullptr, 0, 1);
  } else if (trigger == kTriggerExternal) {
    started = Varnel_Trigger(self->handle, self->queue, nullptr, 0, 1);
  }
  if (started != 1) {
    const std::string errors = PendingErrors(self->handle);
    GST_ELEMENT_ERROR(self, RESOURCE, READ, ("Camera %s did not start", self->driveName),
                      ("%s", errors.c_str()));
    return FALSE;
  }
  self->acquiring = TRUE;
  return TRUE;
}

// The next frame of the stream: waits for a frame message, then takes every
// message already waiting (a frame whose message is not the newest was
// replaced before the element could take it: it counts as dropped), then
// copies the newest picture. Every message posted after that copy belongs to
// a newer frame, so no frame is pushed twice.
enum class Wait { kFrame, kFlushing, kFailed };

// The library reports a head whose frame reads keep failing (error 8). A
// drive that vanishes from the list altogether is caught here too: while no
// frame comes, the element looks once a second whether the camera's drive is
// still listed (on a handle of its own, so the streaming handle's device list
// stays as it is).
constexpr guint kPresenceCheckMs = 1000;

bool DriveStillThere(const char* driveName) {
  const CameraHandle probe = Varnel_Initialize(nullptr);
  if (probe == 0) return true;
  char names[26][256] = {};
  const int count = std::min(Varnel_EnumDevice(probe, &names[0][0]), 26);
  bool found = false;
  for (int i = 0; i < count; ++i) found = found || std::strcmp(names[i], driveName) == 0;
  Varnel_Release(probe);
  return found;
}

Wait WaitForFrame(GstVarnelSrc* self, GstClockTime* arrival, guint64* frames, int* width,
                  int* height) {
  GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
  GST_OBJECT_LOCK(self);
  // Triggered frames come when the trigger fires: only a stream times out.
  const guint timeoutMs = self->trigger == kTriggerOff ? self->timeoutSeconds * 1000 : 0;
  GST_OBJECT_UNLOCK(self);
  guint waited = 0;
  *frames = 0;
  VarnelPosixMessage message{};
  Wait result = Wait::kFailed;
  for (;;) {
    if (self->flushing->load()) {
      result = Wait::kFlushing;
      break;
    }
    const int got = VarnelPosix_ReadMessage(self->queue, &message, *frames ? 0 : kPollMs);
    if (got < 0) break;
    if (got == 0) {
      if (*frames) {
        result = Wait::kFrame;
        break;
      }
      waited += kPollMs;
      if (waited % kPresenceCheckMs == 0 && !DriveStillThere(self->driveName)) {
        GST_ELEMENT_ERROR(self, RESOURCE, NOT_FOUND,
                          ("Camera %s is gone: its drive is no longer attached (the head was "
                           "unplugged or switched off)",
                           self->driveName),
                          ("%s", PendingErrors(self->handle).c_str()));
        break;
      }
      if (timeoutMs && waited >= timeoutMs) {
        GST_ELEMENT_ERROR(self, RESOURCE, READ,
                          ("Camera %s sent no frame for %u s", self->driveName, timeoutMs / 1000),
                          ("%s", PendingErrors(self->handle).c_str()));
        break;
      }
      continue;
    }
    if (message.message == kErrorMessage && message.lParam == kErrorFrameRead) {
      GST_ELEMENT_ERROR(self, RESOURCE, READ,
                        ("Camera %s stopped delivering frames: a frame could not be read (error "
                         "8); the head may have been unplugged",
                         self->driveName),
                        ("%s", PendingErrors(self->handle).c_str()));
      break;
    }
    if (message.message != kFrameMessage) continue;
    if (message.wParam == 0) {
      const int code = static_cast<int>(message.lParam);
      GST_ELEMENT_ERROR(self, RESOURCE, READ,
                        ("Camera %s could not deliver a frame: error %d (%s)", self->driveName,
                         code, ErrorWords(code)),
                        ("%s", PendingErrors(self->handle).c_str()));
      break;
    }
    if (*frames == 0) {
      *arrival = clock ? gst_clock_get_time(clock) : GST_CLOCK_TIME_NONE;
      const FrameInfo* info = reinterpret_cast<const FrameInfo*>(message.wParam);
      const int32_t tenths = info->frameRate;
      if (tenths > 0) self->frameDuration = gst_util_uint64_scale_int(GST_SECOND, 10, tenths);
    }
    // The newest frame's size: the picture copied next is that frame's.
    const FrameInfo* info = reinterpret_cast<const FrameInfo*>(message.wParam);
    *width = info->width;
    *height = info->height;
    ++*frames;
  }
  if (clock) gst_object_unref(clock);
  return result;
}

Wait WaitForSoftwareTrigger(GstVarnelSrc* self) {
  g_mutex_lock(&self->triggerLock);
  while (self->pendingTriggers == 0 && !self->flushing->load()) {
    g_cond_wait_until(&self->triggerCond, &self->triggerLock,
                      g_get_monotonic_time() + kPollMs * G_TIME_SPAN_MILLISECOND);
  }
  const bool fire = self->pendingTriggers > 0 && !self->flushing->load();
  if (fire) --self->pendingTriggers;
  g_mutex_unlock(&self->triggerLock);
  return fire ? Wait::kFrame : Wait::kFlushing;
}

// The library's pictures have a size of their own (rounded by the
// sub-sampling, or the whole sensor on some models): when the frames differ
// from the size the caps were made with, the caps follow the frames.
gboolean Resize(GstVarnelSrc* self, int width, int height) {
  GST_INFO_OBJECT(self, "frames are %d x %d, caps said %d x %d", width, height,
                  GST_VIDEO_INFO_WIDTH(&self->info), GST_VIDEO_INFO_HEIGHT(&self->info));
  GstCaps* caps = CapsForMode(self, self->activeMode, width, height);
  const gboolean ok = gst_base_src_set_caps(GST_BASE_SRC(self), caps);
  gst_caps_unref(caps);
  if (!ok) {
    GST_ELEMENT_ERROR(self, CORE, NEGOTIATION,
                      ("Camera %s delivers %d x %d pictures, which downstream does not accept",
                       self->driveName, width, height),
                      (nullptr));
  }
  return ok;
}

GstFlowReturn Create(GstPushSrc* push, GstBuffer** out) {
  GstVarnelSrc* self = GST_VARNEL_SRC(push);
  GstBaseSrc* base = GST_BASE_SRC(push);
  if (!self->haveInfo) return GST_FLOW_NOT_NEGOTIATED;
  if (!self->acquiring && !StartAcquisition(self)) return GST_FLOW_ERROR;
  GST_OBJECT_LOCK(self);
  const int trigger = self->trigger;
  GST_OBJECT_UNLOCK(self);

  GstClockTime arrival = GST_CLOCK_TIME_NONE;
  guint64 frames = 1;
  Wait wait;
  if (trigger == kTriggerSoftware) {
    wait = WaitForSoftwareTrigger(self);
    if (wait == Wait::kFrame && Varnel_SnapShot(self->handle, nullptr, 0, 1) != 1) {
      const std::string errors = PendingErrors(self->handle);
      GST_ELEMENT_ERROR(self, RESOURCE, READ,
                        ("Camera %s could not take a triggered frame", self->driveName),
                        ("%s", errors.c_str()));
      wait = Wait::kFailed;
    }
    if (wait == Wait::kFrame) {
      GstClock* clock = gst_element_get_clock(GST_ELEMENT(self));
      if (clock) {
        arrival = gst_clock_get_time(clock);
        gst_object_unref(clock);
      }
    }
  } else {
    int width = 0, height = 0;
    wait = WaitForFrame(self, &arrival, &frames, &width, &height);
    if (wait == Wait::kFrame && width > 0 && height > 0 &&
        (width != GST_VIDEO_INFO_WIDTH(&self->info) ||
         height != GST_VIDEO_INFO_HEIGHT(&self->info)) &&
        !Resize(self, width, height)) {
      return GST_FLOW_NOT_NEGOTIATED;
    }
  }
  if (wait == Wait::kFlushing) return GST_FLOW_FLUSHING;
  if (wait == Wait::kFailed) return GST_FLOW_ERROR;

  GstBuffer* buffer = gst_buffer_new_allocate(nullptr, self->frameBytes, nullptr);
  GstMapInfo map;
  gst_buffer_map(buffer, &map, GST_MAP_WRITE);
  const int copied = Varnel_GetImage(self->handle, map.data, static_cast<int>(map.size), 1);
  // Messages that came in while the picture was copied announce frames that
  // were replaced by it or came after it was taken: the latter are next.
  if (trigger == kTriggerOff || trigger == kTriggerExternal) {
    VarnelPosixMessage message{};
    for (int n = VarnelPosix_PendingMessages(self->queue); n > 0; --n) {
      if (VarnelPosix_ReadMessage(self->queue, &message, 0) != 1) break;
      if (message.message == kFrameMessage && message.wParam != 0) ++frames;
    }
  }
  if (copied != 1) {
    gst_buffer_unmap(buffer, &map);
    gst_buffer_unref(buffer);
    const std::string errors = PendingErrors(self->handle);
    // A picture larger than the negotiated one: the camera changed its size.
    GST_ELEMENT_ERROR(self, RESOURCE, READ,
                      ("The picture of camera %s could not be copied", self->driveName),
                      ("%s", errors.c_str()));
    return GST_FLOW_ERROR;
  }
  FinishSamples(self, map.data);
  gst_buffer_unmap(buffer, &map);

  const guint64 dropped = frames - 1;
  self->framesRead->fetch_add(frames);
  if (dropped) self->framesDropped->fetch_add(dropped);

  const GstClockTime baseTime = gst_element_get_base_time(GST_ELEMENT(self));
  GstClockTime pts = GST_CLOCK_TIME_NONE;
  if (GST_CLOCK_TIME_IS_VALID(arrival) && arrival >= baseTime) pts = arrival - baseTime;
  if (GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(self->lastPts) &&
      pts <= self->lastPts) {
    pts = self->lastPts + 1;
  }
  if (dropped && GST_CLOCK_TIME_IS_VALID(pts) && GST_CLOCK_TIME_IS_VALID(self->lastPts)) {
    // The frames that never came out fill the time between the last pushed
    // frame and this one: downstream sees that stretch as a gap.
    const GstClockTime gapStart =
        self->lastPts + (GST_CLOCK_TIME_IS_VALID(self->frameDuration)
                             ? std::min(self->frameDuration, (pts - self->lastPts) / 2)
                             : (pts - self->lastPts) / 2);
    GstEvent* gap = gst_event_new_gap(gapStart, pts - gapStart);
    gst_pad_push_event(GST_BASE_SRC_PAD(base), gap);
    GST_DEBUG_OBJECT(self, "%" G_GUINT64_FORMAT " frame(s) dropped before %" GST_TIME_FORMAT,
                     dropped, GST_TIME_ARGS(pts));
  }
  GST_BUFFER_PTS(buffer) = pts;
  GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
  GST_BUFFER_DURATION(buffer) = self->frameDuration;
  GST_BUFFER_OFFSET(buffer) = self->framesRead->load() - 1;
  GST_BUFFER_OFFSET_END(buffer) = self->framesRead->load();
  if (dropped || self->discont || !GST_CLOCK_TIME_IS_VALID(self->lastPts)) {
    GST_BUFFER_FLAG_SET(buffer, GST_BUFFER_FLAG_DISCONT);
  }
  self->discont = FALSE;
  if (GST_CLOCK_TIME_IS_VALID(pts)) self->lastPts = pts;
  *out = buffer;
  return GST_FLOW_OK;
}

gboolean Unlock(GstBaseSrc* base) {
  GstVarnelSrc* self = GST_VARNEL_SRC(base);
  self->flushing->store(TRUE);
  g_mutex_lock(&self->triggerLock);
  g_cond_broadcast(&self->triggerCond);
  g_mutex_unlock(&self->triggerLock);
  return TRUE;
}

gboolean UnlockStop(GstBaseSrc* base) {
  GstVarnelSrc* self = GST_VARNEL_SRC(base);
  self->flushing->store(FALSE);
  self->discont = TRUE;
  return TRUE;
}

gboolean Query(GstBaseSrc* base, GstQuery* query) {
  GstVarnelSrc* self = GST_VARNEL_SRC(base);
  if (GST_QUERY_TYPE(query) == GST_QUERY_LATENCY) {
    // A frame is pushed as soon as it is copied, so the latency a live
    // source adds is about one frame period (taken from the library's frame
    // rate once frames come, a 30th of a second before).
    const GstClockTime latency =
        GST_CLOCK_TIME_IS_VALID(self->frameDuration) ? self->frameDuration : GST_SECOND / 30;
    gst_query_set_latency(query, TRUE, latency, GST_CLOCK_TIME_NONE);
    return TRUE;
  }
  return GST_BASE_SRC_CLASS(gst_varnel_src_parent_class)->query(base, query);
}

GstCaps* Fixate(GstBaseSrc* base, GstCaps* caps) {
  caps = gst_caps_make_writable(caps);
  caps = gst_caps_truncate(caps);
  GstStructure* s = gst_caps_get_structure(caps, 0);
  gst_structure_fixate_field_nearest_fraction(s, "framerate", 0, 1);
  return GST_BASE_SRC_CLASS(gst_varnel_src_parent_class)->fixate(base, caps);
}

// The element's own order of formats wins over downstream's: a colour camera
// stays colour when downstream (videoconvert, an encoder) takes anything.
gboolean Negotiate(GstBaseSrc* base) {
  GstPad* pad = GST_BASE_SRC_PAD(base);
  GstCaps* ours = gst_pad_query_caps(pad, nullptr);
  GstCaps* theirs = gst_pad_peer_query_caps(pad, ours);
  GstCaps* caps = gst_caps_intersect_full(ours, theirs, GST_CAPS_INTERSECT_FIRST);
  gst_caps_unref(ours);
  gst_caps_unref(theirs);
  if (gst_caps_is_empty(caps)) {
    gst_caps_unref(caps);
    GST_ELEMENT_ERROR(base, CORE, NEGOTIATION,
                      ("Downstream accepts none of the formats this camera delivers"), (nullptr));
    return FALSE;
  }
  caps = Fixate(base, caps);
  const gboolean ok = gst_base_src_set_caps(base, caps);
  gst_caps_unref(caps);
  return ok;
}

}  // namespace

static void gst_varnel_src_class_init(GstVarnelSrcClass* klass) {
  GObjectClass* object = G_OBJECT_CLASS(klass);
  GstElementClass* element = GST_ELEMENT_CLASS(klass);
  GstBaseSrcClass* base = GST_BASE_SRC_CLASS(klass);
  GstPushSrcClass* push = GST_PUSH_SRC_CLASS(klass);
  object->set_property = SetProperty;
  object->get_property = GetProperty;
  object->finalize = Finalize;

  const auto flags = static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                              GST_PARAM_MUTABLE_READY);
  const auto readOnly = static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS);
  g_object_class_install_property(
      object, kPropDevice,
      g_param_spec_string("device", "Device",
                          "Camera drive: a letter (\"V\" or \"V:\") or an index into the "
                          "camera drives found; empty for the first",
                          "", flags));
  g_object_class_install_property(
      object, kPropCameraType,
      g_param_spec_int("camera-type", "Camera type",
                       "The library's camera type 0..10 (varnelcam list shows the models)", 0, 10,
                       1, flags));
  g_object_class_install_property(
      object, kPropMode,
      g_param_spec_enum("mode", "Colour mode",
                        "Colour mode; auto picks the first format downstream accepts", ModeType(),
                        kModeAuto, flags));
  g_object_class_install_property(
      object, kPropWindow,
      g_param_spec_string("window", "Capture window",
                          "WIDTHxHEIGHT[+X+Y] on the sensor; empty keeps the stored window", "",
                          flags));
  g_object_class_install_property(
      object, kPropSubsample,
      g_param_spec_int("subsample", "Sub-sampling",
                       "0 full, 1 half, 2 quarter resolution; -1 keeps the stored value", -1, 2, -1,
                       flags));
  g_object_class_install_property(
      object, kPropGain,
      g_param_spec_int("gain", "Gain", "Global gain; -1 keeps the stored value", -1, 1023, -1,
                       flags));
  g_object_class_install_property(
      object, kPropExposure,
      g_param_spec_int("exposure", "Exposure time",
                       "Exposure time 1..6400; -1 keeps the stored value", -1, 6400, -1, flags));
  g_object_class_install_property(
      object, kPropAutoExposure,
      g_param_spec_enum("auto-exposure", "Automatic exposure", "Automatic brightness control",
                        AutoExposureType(), kAutoKeep, flags));
  g_object_class_install_property(
      object, kPropTrigger,
      g_param_spec_enum("trigger", "Trigger", "Where frames are triggered from", TriggerType(),
                        kTriggerOff, flags));
  g_object_class_install_property(
      object, kPropTimeout,
      g_param_spec_uint("timeout", "Timeout",
                        "Seconds without a frame after which a streaming camera counts as "
                        "failed (0: wait for ever; triggered modes always wait)",
                        0, 3600, 30, flags));
  g_object_class_install_property(
      object, kPropFramesRead,
      g_param_spec_uint64("frames-read", "Frames read",
                          "Frames the library announced since the start", 0, G_MAXUINT64, 0,
                          readOnly));
  g_object_class_install_property(
      object, kPropFramesDropped,
      g_param_spec_uint64("frames-dropped", "Frames dropped",
                          "Announced frames replaced by a newer one before they could be "
                          "pushed (each shows as a gap downstream)",
                          0, G_MAXUINT64, 0, readOnly));
  triggerSignal = g_signal_new_class_handler(
      "trigger", G_TYPE_FROM_CLASS(klass),
      static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION), G_CALLBACK(FireTrigger),
      nullptr, nullptr, nullptr, G_TYPE_NONE, 0);

  gst_element_class_set_static_metadata(element, "Varnel camera source", "Source/Video/Hardware",
                                        "Frames of a Varnel camera head through the camera library",
                                        "Varnel SDK developers");
  GstCaps* caps = TemplateCaps();
  gst_element_class_add_pad_template(
      element, gst_pad_template_new("src", GST_PAD_SRC, GST_PAD_ALWAYS, caps));
  gst_caps_unref(caps);

  base->start = Start;
  base->stop = Stop;
  base->get_caps = GetCaps;
  base->set_caps = SetCaps;
  base->fixate = Fixate;
  base->negotiate = Negotiate;
  base->unlock = Unlock;
  base->unlock_stop = UnlockStop;
  base->query = Query;
  push->create = Create;

  GST_DEBUG_CATEGORY_INIT(varnel_src_debug, "varnelsrc", 0, "Varnel camera source");
}

static void gst_varnel_src_init(GstVarnelSrc* self) {
  self->device = g_strdup("");
  self->cameraType = 1;
  self->mode = kModeAuto;
  self->window = g_strdup("");
  self->subsample = -1;
  self->gain = -1;
  self->exposure = -1;
  self->autoExposure = kAutoKeep;
  self->trigger = kTriggerOff;
  self->timeoutSeconds = 30;
  self->flushing = new std::atomic<gboolean>(FALSE);
  self->framesRead = new std::atomic<guint64>(0);
  self->framesDropped = new std::atomic<guint64>(0);
  g_mutex_init(&self->triggerLock);
  g_cond_init(&self->triggerCond);
  gst_base_src_set_live(GST_BASE_SRC(self), TRUE);
  gst_base_src_set_format(GST_BASE_SRC(self), GST_FORMAT_TIME);
}

gboolean gst_varnel_src_register(GstPlugin* plugin) {
  return gst_element_register(plugin, "varnelsrc", GST_RANK_NONE, GST_TYPE_VARNEL_SRC);
}

namespace {

gboolean StaticPluginInit(GstPlugin* plugin) { return gst_varnel_src_register(plugin); }

}  // namespace

gboolean gst_varnel_register_static_plugin(void) {
  return gst_plugin_register_static(
      GST_VERSION_MAJOR, GST_VERSION_MINOR, "varnel", "Varnel camera heads", StaticPluginInit,
      VARNEL_SDK_VERSION, "Proprietary", "varnel-sdk", "varnel-sdk", "https://varnel.invalid/");
}
