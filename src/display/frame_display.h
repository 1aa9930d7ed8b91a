// Drawing the current frame into the preview window.
//
// The frame of each colour class is first made displayable (8-bit grey for
// the monochrome classes, 24-bit colour for the others), then drawn either as
// it is, when the window's client area has exactly the frame's size, or
// through the display image, a copy scaled to the client area.
#pragma once

#include "imaging/pixel_format.h"

namespace varnel {

class DibImage;
class PreviewWindow;

// The instance's images as the drawing uses them.
struct DisplayImages {
  DibImage* mono8 = nullptr;   // class 0's frame, and class 1's displayable copy
  DibImage* mono16 = nullptr;  // class 1's frame
  DibImage* bgr24 = nullptr;   // class 2's frame, and the displayable copy of 3, 4, 5
  DibImage* bgr32 = nullptr;
  DibImage* bgr48 = nullptr;
  DibImage* bgr64 = nullptr;
  DibImage* display = nullptr;  // the scaled copy, owned by the drawing
};

// Paints the frame of `colorClass` into `window`. Draws nothing (and converts
// nothing) when there is no window, it is hidden, its client area is empty or
// it has no device context, or the images the class needs are missing.
void DrawFrame(PreviewWindow* window, const DisplayImages& images, int colorClass,
               BitDepthCode bitDepth);

// Sizes the display image to the window's client area for `colorClass`, as
// a start does before the first frame; nothing happens for a window that
// would not be drawn into.
void PrepareDisplayImage(PreviewWindow* window, DibImage* display, int colorClass);

}  // namespace varnel
