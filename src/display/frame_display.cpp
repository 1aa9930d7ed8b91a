#include "display/frame_display.h"

#include "imagefile/dib_image.h"
#include "imaging/pixel_routines.h"
#include "platform/preview_window.h"

namespace varnel {

namespace {

bool Usable(const DibImage* image) { return image != nullptr && !image->Empty(); }

// The client area when the window would show anything, else false.
bool DrawableClient(const PreviewWindow* window, int* width, int* height) {
  if (window == nullptr || !window->IsVisible() || !window->HasDeviceContext()) return false;
  return window->ClientSize(width, height) && *width > 0 && *height > 0;
}

bool IsMonoClass(int colorClass) {
  return colorClass == kColorClassMono8 || colorClass == kColorClassMono16;
}

// Makes the frame of `colorClass` displayable and returns the image that
// holds it: 8-bit grey or 24-bit colour. Null when an image is missing.
DibImage* DisplayableFrame(const DisplayImages& images, int colorClass, BitDepthCode bitDepth) {
  switch (colorClass) {
    case kColorClassMono8:
      return Usable(images.mono8) ? images.mono8 : nullptr;
    case kColorClassMono16:
      if (!Usable(images.mono16) || !Usable(images.mono8)) return nullptr;
      images.mono8->ConvertRegion(MonoTo8For(bitDepth), images.mono16, nullptr, 0, 0);
      return images.mono8;
    case kColorClassBgr24:
      return Usable(images.bgr24) ? images.bgr24 : nullptr;
    case kColorClassBgr32:
      if (!Usable(images.bgr32) || !Usable(images.bgr24)) return nullptr;
      images.bgr24->ConvertRegion(Copy32To24Routine, images.bgr32, nullptr, 0, 0);
      return images.bgr24;
    case kColorClassBgr48:
    case kColorClassBgr64: {
      const DibImage* wide = colorClass == kColorClassBgr48 ? images.bgr48 : images.bgr64;
      if (!Usable(wide) || !Usable(images.bgr24)) return nullptr;
      images.bgr24->ConvertRegion(WideTo24For(bitDepth), wide, nullptr, 0, 0);
      return images.bgr24;
    }
    default:
      return nullptr;
  }
}

// Re-creates the display image at the client size when its size or depth
// differs; false when it cannot be had.
bool SizeDisplayImage(DibImage* display, int width, int height, int colorClass) {
  if (display == nullptr) return false;
  const uint16_t bitCount = IsMonoClass(colorClass) ? 8 : 24;
  if (!display->Empty() && display->Width() == width && display->Height() == height &&
      display->BitCount() == bitCount) {
    return true;
  }
  display->Release();
  // Create gives an 8-bit image the grey ramp as its colour table.
  return display->Create(width, height, bitCount);
}

PreviewBitmap BitmapOf(const DibImage& image, bool topRowFirst, const RgbQuad* grey) {
  PreviewBitmap bitmap;
  bitmap.width = image.Width();
  bitmap.height = image.Height();
  bitmap.bitCount = image.BitCount();
  bitmap.stride = image.Stride();
  bitmap.pixels = image.Pixels();
  bitmap.topRowFirst = topRowFirst;
  bitmap.colorTable = image.BitCount() == 8 ? grey : nullptr;
  return bitmap;
}

const RgbQuad* GreyTable() {
  static const struct Table {
    RgbQuad entries[kColorTableSize];
    Table() {
      for (int i = 0; i < kColorTableSize; ++i) {
        const uint8_t level = static_cast<uint8_t>(i);
        entries[i] = RgbQuad{level, level, level, 0};
      }
    }
  } table;
  return table.entries;
}

}  // namespace

void DrawFrame(PreviewWindow* window, const DisplayImages& images, int colorClass,
               BitDepthCode bitDepth) {
  int width = 0;
  int height = 0;
  // A hidden or empty window costs no conversion and no scaling.
  if (!DrawableClient(window, &width, &height)) return;
  DibImage* frame = DisplayableFrame(images, colorClass, bitDepth);
  if (frame == nullptr) return;

  // At exactly the frame's size the frame is drawn as it is (top row first);
  // the deep monochrome class always goes through the display image.
  if (width == frame->Width() && height == frame->Height() && colorClass != kColorClassMono16) {
    window->Draw(BitmapOf(*frame, true, GreyTable()));
    return;
  }
  if (!SizeDisplayImage(images.display, width, height, colorClass)) return;
  // The scalers write the rows in reverse order: the display image holds the
  // bottom row first, as a bottom-up bitmap expects.
  images.display->ConvertWhole(
      IsMonoClass(colorClass) ? ScaleNearestMono8Routine : ScaleNearestBgr24Routine, frame, nullptr,
      nullptr);
  window->Draw(BitmapOf(*images.display, false, GreyTable()));
}

void PrepareDisplayImage(PreviewWindow* window, DibImage* display, int colorClass) {
  int width = 0;
  int height = 0;
  if (!DrawableClient(window, &width, &height)) return;
  SizeDisplayImage(display, width, height, colorClass);
}

}  // namespace varnel
