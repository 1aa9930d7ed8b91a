// Row kernels of the reductions for display and files: 16-bit samples to
// their 8-bit part, and pixels of four samples to three. The vector kernels
// give exactly what the scalar reductions give (a shift and the low byte) and
// are picked at run time by the reduction routines (reductions.cpp).
#pragma once

#include <cstdint>

namespace varnel {

// dst[i] = low byte of (16-bit sample i >> shift), for `count` samples.
void NarrowSamplesSse2(uint8_t* dst, const uint8_t* src, int count, int shift);
void NarrowSamplesAvx2(uint8_t* dst, const uint8_t* src, int count, int shift);
// n pixels of four 16-bit samples to three bytes each (the fourth dropped).
void NarrowPixels64To24Avx2(uint8_t* dst, const uint8_t* src, int n, int shift);
// n pixels of four bytes to three (the fourth dropped).
void DropFourthByteAvx2(uint8_t* dst, const uint8_t* src, int n);

}  // namespace varnel
