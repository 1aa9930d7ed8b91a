// The preview window on Linux: an off-screen window that keeps the last
// picture drawn into it. It has the size a real window would have, is visible
// and has a device context once taken, so the drawing code runs exactly as on
// Windows; what it drew can be read back.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "imaging/row_copy.h"
#include "platform/preview_window.h"

namespace varnel {

namespace {

class HeadlessPreviewWindow final : public PreviewWindow {
 public:
  HeadlessPreviewWindow(int width, int height) : width_(width), height_(height) {}

  WindowHandle Handle() const override { return const_cast<HeadlessPreviewWindow*>(this); }
  bool TakeDeviceContext() override {
    deviceContext_ = true;
    return true;
  }
  bool HasDeviceContext() const override { return deviceContext_; }
  bool IsVisible() const override { return true; }
  bool ClientSize(int* width, int* height) const override {
    *width = width_;
    *height = height_;
    return true;
  }

  void Draw(const PreviewBitmap& bitmap) override {
    if (bitmap.pixels == nullptr || (bitmap.bitCount != 8 && bitmap.bitCount != 24)) return;
    // A real device context shows the part of the picture that covers the
    // client area; the rest of the area keeps what it showed before.
    const int bytesPerPixel = bitmap.bitCount / 8;
    const int rows = std::min(height_, bitmap.height);
    const int rowBytes = std::min(width_, bitmap.width) * bytesPerPixel;
    std::lock_guard<std::mutex> lock(mutex_);
    if (shown_.bitCount != bitmap.bitCount) {
      shown_.bitCount = bitmap.bitCount;
      shown_.width = width_;
      shown_.height = height_;
      shown_.stride = (width_ * bytesPerPixel + 3) & ~3;
      shown_.pixels.assign(static_cast<size_t>(shown_.stride) * static_cast<size_t>(height_), 0);
    }
    if (rows > 0 && rowBytes > 0) {
      // A bottom-up bitmap's first rows in memory are the picture's last.
      const uint8_t* first =
          bitmap.pixels +
          static_cast<size_t>(bitmap.topRowFirst ? 0 : bitmap.height - rows) * bitmap.stride;
      CopyRows(shown_.pixels.data(), shown_.stride, first, bitmap.stride,
               static_cast<size_t>(rowBytes), rows, !bitmap.topRowFirst);
    }
    drawn_ = true;
  }

  bool ReadShown(ShownPicture* picture) const override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!drawn_ || picture == nullptr) return false;
    *picture = shown_;
    return true;
  }

 private:
  const int width_;
  const int height_;
  bool deviceContext_ = false;
  mutable std::mutex mutex_;
  ShownPicture shown_;
  bool drawn_ = false;
};

}  // namespace

std::unique_ptr<PreviewWindow> CreatePreviewWindow(const PreviewWindowRequest& request) {
  int width = request.width;
  int height = request.height;
  if (request.parent == nullptr) TopLevelClientSize(request, &width, &height);
  // A window whose size is negative has an empty client area, as on Windows.
  width = std::max(width, 0);
  height = std::max(height, 0);
  return std::unique_ptr<PreviewWindow>(new (std::nothrow) HeadlessPreviewWindow(width, height));
}

}  // namespace varnel
