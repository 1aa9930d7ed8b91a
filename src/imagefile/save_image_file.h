// Saving a frame image to a file: the one entry of the file writers.
//
// The format is chosen by its number alone and the file name is used exactly
// as given (no extension is added or checked). The writers record no error
// codes: the caller (the camera instance) records them.
#pragma once

#include <cstdint>

#include "imagefile/dib_image.h"

namespace varnel {

// The format numbers of Varnel_SaveImage.
enum SaveFormat : uint32_t {
  kSaveFormatBmp = 0,
  kSaveFormatRaw = 1,
  kSaveFormatJpeg100 = 2,
  kSaveFormatJpeg70 = 3,
  kSaveFormatJpeg20 = 4,
  kSaveFormatPng = 5,
  kSaveFormatTiff = 6,
};

// Why a save cannot even start. Each of these is found before any file is
// touched, so none of them creates a file.
enum class SaveRefusal {
  kNone,           // the request is sound; the writer will try
  kNoFileName,     // the name is null or empty
  kEmptyImage,     // no image, or one that holds no pixels
  kUnknownFormat,  // a format number above 6 (negative numbers included)
  kImageMismatch,  // the image's bit count is not its colour class's, or the
                   // significant bits do not fit the class
};

// Checks a save request without touching anything.
SaveRefusal CheckSaveRequest(const char* fileName, const DibImage* image, int colorClass,
                             int significantBits, int format);

// Writes `image`, the frame image of `colorClass` (0..5) whose deep samples
// carry `significantBits` (8 for the 8-bit classes, 10..16 for the deep ones),
// to `fileName` in `format`. Returns true when the whole file was written and
// closed; false for a refused request (no file created) or a failed write (a
// file may be left, incomplete). Safe to call from several threads at once
// for different images and files.
bool SaveImageFile(const char* fileName, const DibImage* image, int colorClass, int significantBits,
                   int format);

}  // namespace varnel
