// The pixel conversion routines, each with the common RegionRoutine signature
// (the scalers with the WholeImageRoutine signature), so that a DibImage can
// run any of them through ConvertRegion or ConvertWhole.
//
// Parameterised routines take in `user` the address of a slot holding the
// address of their record: BayerGains, GrayGains, HslAdjust, or one int for
// gamma, contrast, sharpness and brightness. With a null slot or record they
// do nothing and return 0. A rectangle with no rows or columns writes nothing.
#pragma once

#include <cstdint>

#include "imaging/region_routine.h"

namespace varnel {

#define VARNEL_REGION_ROUTINE_PARAMS                                                              \
  uint8_t *destination, const uint8_t *source, const PixelRect &sourceRect, int32_t x, int32_t y, \
      int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel, int32_t destinationStride,   \
      int32_t sourceStride, void *user, int32_t extra

// --- Bayer demosaic (BayerGains) ----------------------------------------------
// 8-bit raw to 24 or 32 bits, interior (2 <= x <= width-3, 2 <= y <= height-3).
// The MMX and SSE2 forms round as described in demosaic.h and run the scalar
// form for a 32-bit destination or a gain above 200.
int DemosaicInteriorScalarRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int DemosaicInteriorMmxRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int DemosaicInteriorSse2Routine(VARNEL_REGION_ROUTINE_PARAMS);
// The SSE2 form twice as wide, bit-identical to it; only where HaveDemosaicAvx2().
int DemosaicInteriorAvx2Routine(VARNEL_REGION_ROUTINE_PARAMS);
// 8-bit raw: the two outer rows and columns on each side.
int DemosaicBorderRoutine(VARNEL_REGION_ROUTINE_PARAMS);
// 16-bit raw to 48 or 64 bits with 10, 12, 14 or 16 significant bits.
int DemosaicDeep10Routine(VARNEL_REGION_ROUTINE_PARAMS);
int DemosaicDeep12Routine(VARNEL_REGION_ROUTINE_PARAMS);
int DemosaicDeep14Routine(VARNEL_REGION_ROUTINE_PARAMS);
int DemosaicDeep16Routine(VARNEL_REGION_ROUTINE_PARAMS);
// The deep demosaic for a BitDepthCode (2, 3, 4; anything else 10 bits).
RegionRoutine DeepDemosaicFor(int bitDepthCode);

// --- measurements -------------------------------------------------------------
// Automatic white balance over the rectangle of an 8- or 16-bit raw image
// (source bytes per pixel 1 or 2). Writes red and blue gains (percent, at most
// 400) and green 100 into the BayerGains record and returns 1; returns 0 and
// keeps the record's gains when a colour has a zero mean.
int MeasureWhiteBalanceRoutine(VARNEL_REGION_ROUTINE_PARAMS);
// Automatic gray gains over an 8-bit raw image: G1 = 128, the others scaled to
// G1's mean and limited to 0..255, written into the GrayGains record; returns 1,
// or 0 with the gains kept when a channel has a zero mean.
int MeasureGrayGainsRoutine(VARNEL_REGION_ROUTINE_PARAMS);
// Mean of 8-bit samples (0 for an empty rectangle).
int RegionMean8Routine(VARNEL_REGION_ROUTINE_PARAMS);
// Mean of bits 2..9 of 16-bit samples.
int RegionMean16Routine(VARNEL_REGION_ROUTINE_PARAMS);

// --- gray gains and offsets (GrayGains), in place on 8-bit raw ----------------
// All three forms give identical results (offsets and all four phases).
int GrayGainsScalarRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int GrayGainsMmxRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int GrayGainsSse2Routine(VARNEL_REGION_ROUTINE_PARAMS);

// --- colour to gray: 24/32-bit colour to 8-bit (G*59 + R*30 + B*11) / 100 ------
int ColorToGrayRoutine(VARNEL_REGION_ROUTINE_PARAMS);

// --- reductions and copies for display and files ------------------------------
int ReduceMono10To8Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 2..9
int ReduceMono12To8Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 4..11
int ReduceMono14To8Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 6..13
int ReduceMono16To8Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 8..15
int ReduceMono10To8ReversedRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int Copy32To24Routine(VARNEL_REGION_ROUTINE_PARAMS);        // 24 or 32 -> 24
int ReduceWideTo24Routine(VARNEL_REGION_ROUTINE_PARAMS);    // 48/64 -> 24, bits 2..9
int ReduceWide12To24Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 4..11
int ReduceWide14To24Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 6..13
int ReduceWide16To24Routine(VARNEL_REGION_ROUTINE_PARAMS);  // bits 8..15
int ReduceWideTo24ReversedRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int CopyRowsReversedRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int SwapRedBlue24Routine(VARNEL_REGION_ROUTINE_PARAMS);
int Copy32OpaqueRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int WidenMono16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int WidenWide48Routine(VARNEL_REGION_ROUTINE_PARAMS);
int WidenWide64OpaqueRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int WidenWide48SwapRedBlueRoutine(VARNEL_REGION_ROUTINE_PARAMS);
int WidenWide64SwapRedBlueOpaqueRoutine(VARNEL_REGION_ROUTINE_PARAMS);
// The mono reduction for a BitDepthCode (10-bit for codes other than 2, 3, 4).
RegionRoutine MonoTo8For(int bitDepthCode);
// The preview reduction of deep colour for a BitDepthCode, taking the top
// eight significant bits (10-bit for codes other than 2, 3, 4).
RegionRoutine WideTo24For(int bitDepthCode);

// --- nearest-neighbour scalers (rows reversed) --------------------------------
int ScaleNearestMono8Routine(uint8_t* destination, const uint8_t* source,
                             const PixelRect& destinationRect, const PixelRect& sourceRect,
                             int32_t destinationWidth, int32_t destinationHeight,
                             int32_t sourceWidth, int32_t sourceHeight,
                             int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel,
                             int32_t destinationStride, int32_t sourceStride, void* user,
                             int32_t extra);
int ScaleNearestBgr24Routine(uint8_t* destination, const uint8_t* source,
                             const PixelRect& destinationRect, const PixelRect& sourceRect,
                             int32_t destinationWidth, int32_t destinationHeight,
                             int32_t sourceWidth, int32_t sourceHeight,
                             int32_t destinationBytesPerPixel, int32_t sourceBytesPerPixel,
                             int32_t destinationStride, int32_t sourceStride, void* user,
                             int32_t extra);

// --- tone and colour filters --------------------------------------------------
// Hue and saturation (HslAdjust), colour forms only.
int HueSaturationBgr8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int HueSaturationBgr16Routine(VARNEL_REGION_ROUTINE_PARAMS);
// One int parameter each. Mono forms map every sample, colour forms B, G, R.
// The 16-bit forms treat samples as 10-bit; larger samples are taken as 1023.
int GammaMono8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int GammaMono16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int GammaBgr8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int GammaBgr16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int ContrastMono8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int ContrastMono16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int ContrastBgr8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int ContrastBgr16Routine(VARNEL_REGION_ROUTINE_PARAMS);
// Sharpness reads the source (the work copy) and writes the destination.
int SharpnessMono8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int SharpnessMono16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int SharpnessBgr8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int SharpnessBgr16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int BrightnessMono8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int BrightnessMono16Routine(VARNEL_REGION_ROUTINE_PARAMS);
int BrightnessBgr8Routine(VARNEL_REGION_ROUTINE_PARAMS);
int BrightnessBgr16Routine(VARNEL_REGION_ROUTINE_PARAMS);

}  // namespace varnel
