// Row kernels of the tone and colour filters, the building blocks of both the
// region routines (pixel_routines.h) and the frame pipeline, which runs them
// band by band while the rows are still in the cache.
//
// Every filter has a scalar row kernel, which the region routines use and
// which is the reference; hue and saturation and sharpness also have SSE2
// and AVX2 kernels that give the scalar result bit for bit (they take the
// same divisions and tables in exact integer or floating-point arithmetic,
// and run the scalar kernel for parameters outside the range where that holds).
// The per-sample maps (gamma, contrast, brightness) are lookup tables,
// composed into one table where the order of the steps allows it (tone_map.h).
#pragma once

#include <cstdint>

#include "imaging/cpu_features.h"
#include "imaging/region_params.h"

namespace varnel {

// --- hue and saturation --------------------------------------------------------
// n pixels of `src` into `dst` (the same row for the in-place filter). `wide`:
// 16-bit samples (taken as 10-bit), else 8-bit. A fourth sample is not written.
void HueSaturationRowScalar(uint8_t* dst, int dstBpp, const uint8_t* src, int srcBpp, int n,
                            bool wide, const HslAdjust& adjust);
// The vector kernels compute the scalar result for records inside these
// limits (the pipeline's lightness offset is always 0); outside them they run
// the scalar kernel.
inline bool HslVectorAllowed(const HslAdjust& a) {
  return a.lightness == 0 && a.hue >= -360 && a.hue <= 360 && a.saturation >= -1024 &&
         a.saturation <= 1024;
}
// Source and destination have the same format: 3 or 4 bytes per pixel (8-bit
// samples) or 6 or 8 (16-bit samples).
void HueSaturationRowSse2(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                          const HslAdjust& adjust);
void HueSaturationRowAvx2(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                          const HslAdjust& adjust);
// Thirty-two pixels a step; only where HaveAvx512Forms() (cpu_features.h).
void HueSaturationRowAvx512(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                            const HslAdjust& adjust);
// 24-bit pixels with AVX-512 VBMI's byte permutes for the loads and stores;
// HueSaturationRowAvx512 takes it where HaveAvx512VbmiForms().
void HueSaturationRow24Avx512Vbmi(uint8_t* dst, const uint8_t* src, int n, const HslAdjust& adjust);

// --- sharpness -----------------------------------------------------------------
// One output row of n pixels: rows[0..3] are the source rows y-2..y+1 (rows[2]
// the row itself). Columns 2..n-3 get s + diff[s - blur + max]; the others are
// not written. `channels` samples per pixel are filtered; `columnSum` has room
// for n x channels ints.
void SharpenRowScalar(uint8_t* dst, int dstBpp, const uint8_t* const rows[4], int srcBpp, int n,
                      int channels, bool wide, const int* diff, int* columnSum);

// trunc(a x e / 10), the difference table of the unsharp mask, as
// sign(e) x (((|e| << 2) x k) >> 16) for every |e| up to the largest sample;
// `valid` only when that was checked to hold for every |e| (a from 0 to about
// 40).
struct SharpenVector {
  bool valid = false;
  uint16_t k = 0;
  int amount = 0;
};
SharpenVector MakeSharpenVector(int amount, int maxValue);

// Brightness as min(max, (v x (kHi x 65536 + kLo)) >> (16 + extraShift)),
// `valid` only when that gives the brightness table's value for every sample.
struct BrightnessVector {
  bool valid = false;
  uint16_t kHi = 0, kLo = 0;
  int extraShift = 0;
  int maxValue = 255;
};
BrightnessVector MakeBrightnessVector(int brightness, int maxValue);

// The vector sharpen kernels write the whole destination row: columns 2..n-3
// sharpened, the two outer columns on each side (and a fourth sample) copied
// from rows[2]; then, with `post`, brightness over every sample except a
// fourth. bytesPerPixel: 1, 2, 3, 4, 6 or 8 (2, 6 and 8: 16-bit samples);
// n >= 5. `scratch` has room for n x bytesPerPixel + 64 16-bit values.
void SharpenRowSse2(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                    const SharpenVector& sharpen, const BrightnessVector* post, uint16_t* scratch);
void SharpenRowAvx2(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                    const SharpenVector& sharpen, const BrightnessVector* post, uint16_t* scratch);
void SharpenRowAvx512(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                      const SharpenVector& sharpen, const BrightnessVector* post,
                      uint16_t* scratch);
// A 10-bit tone map (1024 entries as 32-bit values) over 16-bit samples with
// AVX2 gathers: `count` samples in a run, or n pixels of four samples whose
// fourth is copied. Samples above 1023 are read as 1023.
void MapSamples16Avx2(uint8_t* dst, const uint8_t* src, int count, const int32_t* table);
void MapPixels64Avx2(uint8_t* dst, const uint8_t* src, int n, const int32_t* table);
// An 8-bit tone map (256 entries) over `count` samples with AVX-512 VBMI;
// with `keepFourth` every fourth sample (from the first's index 3) is copied.
// Only where HaveAvx512VbmiForms().
void MapBytesAvx512Vbmi(uint8_t* dst, const uint8_t* src, int count, bool keepFourth,
                        const uint8_t* table);

// Whether this build carries the AVX-512 forms (the compiler could make them).
bool Avx512TonesBuilt();
bool Avx512VbmiMapBuilt();

// The same row with the scalar kernel (for builds without the vector kernels).
void SharpenRowPortable(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                        const SharpenVector& sharpen, const BrightnessVector* post);

}  // namespace varnel
