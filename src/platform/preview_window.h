// The preview window seam: a window the library creates for a preview, paints
// each processed frame into through a device context it keeps for the
// window's whole life, and destroys when the capture stops.
//
// On Windows it is a real window of a class registered for it. On Linux there
// is no window system to show it on: the window is an off-screen stand-in
// that keeps the last picture drawn into it, so that the preview exports work
// and tests can read back what a real window would show.
//
// Threads: the window is created and destroyed on the thread that calls the
// exported start and stop functions; Draw runs on the instance's frame thread
// while the window exists (the instance serialises the two with its frame
// lock). ReadShown may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/dib_storage.h"
#include "platform/window_messages.h"

namespace varnel {

// Where and how big the window is made.
struct PreviewWindowRequest {
  // With a parent: a child window at exactly x, y, width, height. Without
  // one: a top-level window whose client area is the frame divided by the
  // sub-sample factor (1, 2, 4, 8 for 0..3), centred on the screen.
  WindowHandle parent = nullptr;
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  int frameWidth = 0;
  int frameHeight = 0;
  int subSample = 0;
  // The address that, with the time, makes the window class name unique.
  const void* owner = nullptr;
};

// One picture handed to the window: 8-bit grey (drawn through `colorTable`,
// 256 entries) or 24-bit B, G, R; rows `stride` bytes apart (a multiple of 4,
// as a device-independent bitmap keeps them).
struct PreviewBitmap {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  int stride = 0;
  const uint8_t* pixels = nullptr;
  // True when the first row in memory is the top of the picture.
  bool topRowFirst = true;
  const RgbQuad* colorTable = nullptr;
};

// What a window shows: rows top first, `stride` bytes apart.
struct ShownPicture {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  int stride = 0;
  std::vector<uint8_t> pixels;
};

class PreviewWindow {
 public:
  // Releases the device context, destroys the window and unregisters its class.
  virtual ~PreviewWindow() = default;

  virtual WindowHandle Handle() const = 0;
  // Takes the device context the frames are painted through; false when the
  // system gives none.
  virtual bool TakeDeviceContext() = 0;
  virtual bool HasDeviceContext() const = 0;
  virtual bool IsVisible() const = 0;
  // The client area's size; false when it cannot be had.
  virtual bool ClientSize(int* width, int* height) const = 0;
  // Paints the top-left client-width x client-height pixels of `bitmap` at
  // the client area's origin, the picture's top row at the top.
  virtual void Draw(const PreviewBitmap& bitmap) = 0;
  // Reads back what the client area shows, as 8-bit grey when the last
  // picture drawn was grey and 24-bit B, G, R otherwise. False when nothing
  // can be read (nothing drawn yet, or the system refuses).
  virtual bool ReadShown(ShownPicture* picture) const = 0;
};

// Creates and shows the window; null when the system cannot make it.
std::unique_ptr<PreviewWindow> CreatePreviewWindow(const PreviewWindowRequest& request);

// The client size of a top-level window: the frame divided by 1, 2, 4 or 8
// for sub-sample 0..3 (any other value keeps the full size).
inline void TopLevelClientSize(const PreviewWindowRequest& request, int* width, int* height) {
  const int divisor = request.subSample >= 1 && request.subSample <= 3 ? 1 << request.subSample : 1;
  *width = request.frameWidth / divisor;
  *height = request.frameHeight / divisor;
}

}  // namespace varnel
