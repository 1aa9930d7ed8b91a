// A camera handle on an in-process virtual camera head, for the tests that
// drive acquisition through the C interface (with the frame window of
// message_sink.h that collects the messages the library posts).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/model_code.h"
#include "sim/virtual_head.h"
#include "support/message_sink.h"
#include "support/settings_store_guard.h"
#include "varnel.h"
#ifndef _WIN32
#include "varnel_posix.h"
#endif

namespace varnel::testing {

// Camera types as Varnel_SetCameraType numbers the nine models.
struct ModelEntry {
  const char* name;
  ModelCode code;
  int type;
};
inline constexpr ModelEntry kModels[] = {
    {"HWH8", kModelHWH8, 0}, {"HXA1", kModelHXA1, 1}, {"HXB2", kModelHXB2, 2},
    {"HXE5", kModelHXE5, 3}, {"HXC3", kModelHXC3, 4}, {"R2T", kModelR2T, 5},
    {"HYD4", kModelHYD4, 6}, {"HZF6", kModelHZF6, 7}, {"HZG7", kModelHZG7, 8},
};

// Whether the instance's window can be chosen on the model (three models
// always capture their whole sensor).
inline bool WindowSettable(ModelCode model) {
  return model != kModelHYD4 && model != kModelHZF6 && model != kModelHZG7;
}

// The window acquisition uses: the one set, or the whole sensor on the three
// models whose window is fixed (a start writes it into Width and Height).
inline void AcquisitionSize(CameraHandle handle, ModelCode model, int* width, int* height) {
  if (model == kModelHYD4) {
    *width = 1360, *height = 1024;
  } else if (model == kModelHZF6) {
    *width = 1600, *height = 1200;
  } else if (model == kModelHZG7) {
    *width = 2456, *height = 2038;
  } else {
    *width = Varnel_Width(handle), *height = Varnel_Height(handle);
  }
}

// Sets a capture window of width x height at the sensor's origin where the
// model lets the window be chosen; true when set or not settable.
inline bool ChooseWindow(CameraHandle handle, ModelCode model, int width, int height) {
  return !WindowSettable(model) ||
         Varnel_SetCaptureWindowEx(handle, 0, 0, width, 0, 0, height) == 1;
}

// One handle with a virtual head of `model` attached at `letter`, the device
// chosen and the camera type set, on a settings store of its own that starts
// empty: every setting is what a new user gets, except 8-bit monochrome, set
// through the interface.
class CameraSession {
 public:
  CameraSession(ModelCode model, int type, char16_t letter, const HeadOptions& options = {})
      : model_(model), type_(type), letter_(letter) {
    store_.Clear();
    handle_ = Varnel_Initialize(nullptr);
    head_ = std::make_shared<VirtualHead>(model, options);
    attached_ = head_->AttachTo(letter);
    selected_ = attached_ && SelectHead();
  }
  ~CameraSession() {
    Varnel_Release(handle_);
    if (head_) head_->Detach();
  }
  CameraSession(const CameraSession&) = delete;
  CameraSession& operator=(const CameraSession&) = delete;

  bool Ready() const { return handle_ != 0 && selected_; }
  CameraHandle Handle() const { return handle_; }
  VirtualHead& Head() { return *head_; }
  ModelCode Model() const { return model_; }

  // Replaces the head by a fresh one at the same letter (after a removal).
  void ReplaceHead(const HeadOptions& options = {}) {
    if (head_) head_->Detach();
    head_ = std::make_shared<VirtualHead>(model_, options);
    attached_ = head_->AttachTo(letter_);
  }

  // Drains the error stack, oldest last as popped (newest first).
  std::vector<int> Errors() {
    std::vector<int> codes;
    for (int code = Varnel_GetLastError(handle_); code != 0; code = Varnel_GetLastError(handle_)) {
      codes.push_back(code);
    }
    return codes;
  }

  // A static scene (no frame stamp, no moving mark): every frame alike.
  void StaticScene() {
    SceneOptions scene = head_->Scene();
    scene.stampFrameNumber = false;
    scene.movingMark = false;
    head_->SetScene(scene);
  }

 private:
  bool SelectHead() {
    std::vector<char> names(32 * 256);
    const int count = Varnel_EnumDevice(handle_, names.data());
    const std::string wanted = std::string(1, static_cast<char>(letter_)) + ":";
    for (int i = 0; i < count; ++i) {
      if (wanted == &names[static_cast<size_t>(i) * 256]) {
        if (Varnel_SetDeviceNumber(handle_, i) != 1 || Varnel_SetCameraType(handle_, type_) != 1) {
          return false;
        }
        // A new handle's window is the 800 x 600 of no camera; on a smaller
        // sensor the type falls back to the full sensor and says so (7).
        for (int code : Errors()) {
          if (code != 7) return false;
        }
        if (Varnel_SetColorMode(handle_, 8) != 1) return false;
        return Errors().empty();
      }
    }
    return false;
  }

  SettingsStoreGuard store_;
  ModelCode model_;
  int type_;
  char16_t letter_;
  CameraHandle handle_ = 0;
  std::shared_ptr<VirtualHead> head_;
  bool attached_ = false;
  bool selected_ = false;
};

// A picture as the library copied it out: rows top first.
struct Picture {
  int width = 0;
  int height = 0;
  int bytesPerPixel = 0;
  int stride = 0;
  std::vector<uint8_t> bytes;

  const uint8_t* Pixel(int x, int y) const {
    return bytes.data() + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * bytesPerPixel;
  }
  unsigned Sample16(int x, int y, int channel = 0) const {
    const uint8_t* p = Pixel(x, y) + channel * 2;
    return p[0] | p[1] << 8;
  }
};

inline int StrideOf(int width, int bytesPerPixel) { return (width * bytesPerPixel + 3) & ~3; }

inline Picture MakePicture(int width, int height, int bytesPerPixel) {
  Picture p;
  p.width = width;
  p.height = height;
  p.bytesPerPixel = bytesPerPixel;
  p.stride = StrideOf(width, bytesPerPixel);
  p.bytes.assign(static_cast<size_t>(p.stride) * height, 0);
  return p;
}

// The frame number stamped at the top-left corner of a picture of any class:
// each pixel is taken as the top eight bits of its brightest channel
// (`significantBits` of the deep channels). The stamp is read one pixel in
// from the picture's top and left edges, inside its cells, because the deep
// colour demosaic leaves the two outermost rows and columns dark.
inline std::optional<uint32_t> StampOf(const Picture& picture, int significantBits = 8) {
  const int channelBytes = picture.bytesPerPixel == 2 || picture.bytesPerPixel >= 6 ? 2 : 1;
  const int channels = picture.bytesPerPixel / channelBytes;
  const int used = channels == 4 ? 3 : channels;
  const int w = std::min(picture.width - 1, 160);
  const int h = std::min(picture.height - 1, 8);
  if (w < 128 || h < 8) return std::nullopt;
  std::vector<uint8_t> grey(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      unsigned brightest = 0;
      for (int c = 0; c < used; ++c) {
        unsigned v = channelBytes == 1 ? picture.Pixel(x + 1, y + 1)[c]
                                       : picture.Sample16(x + 1, y + 1, c) >> (significantBits - 8);
        brightest = std::max(brightest, v);
      }
      grey[static_cast<size_t>(y) * w + x] = static_cast<uint8_t>(std::min(brightest, 255u));
    }
  }
  return VirtualHead::ReadStamp(grey.data(), static_cast<uint32_t>(w), static_cast<uint32_t>(h),
                                static_cast<size_t>(w), 1);
}

}  // namespace varnel::testing
