// Bayer demosaic bodies over one region. The scalar interior keeps every bit
// until its final shift; the MMX and SSE2 interiors shift the colour sums by 4
// before the gain so that the product fits an unsigned 16-bit lane, and may
// therefore differ from the scalar form by up to 2 in red and blue (never in
// green, and not at all with gains of 100). The vector bodies fall back to the
// scalar one when their preconditions do not hold (a 32-bit destination, a
// gain above 200, or a source that is not one byte per sample).
#pragma once

#include <climits>

#include "imaging/region_params.h"
#include "imaging/region_view.h"

namespace varnel {

// A band of output rows, begin <= row < end, counted from the rectangle's top.
// The frame pipeline demosaics a frame band by band so that the filters find
// the rows still in the cache; a routine run over the whole rectangle takes
// every row.
struct DemosaicRows {
  int begin = 0;
  int end = INT_MAX;
};

int DemosaicInteriorScalar(const RegionView& v, const BayerGains& g, DemosaicRows rows = {});
int DemosaicInteriorMmx(const RegionView& v, const BayerGains& g);
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows = {});
// The SSE2 form twice as wide; bit-identical to it. Runs only where the
// processor and the system offer AVX2 (HaveDemosaicAvx2).
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows = {});
// The scalar interior's result (every bit kept until the final shift, 24- or
// 32-bit destinations, any gain), computed with SSE2 or AVX2: where the
// routine selection asks for the scalar form these give it, faster. Gains
// whose multiplier would not fit the lanes (far above the settable range) run
// the scalar form.
int DemosaicInteriorScalarSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows = {});
int DemosaicInteriorScalarAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows = {});
// Whether this build carries the vector forms (only x86 builds do).
bool HaveDemosaicMmx();
bool HaveDemosaicSse2();
// Whether this build carries the AVX2 form and this processor and system can
// run it (checked once, outside any AVX2 code).
bool HaveDemosaicAvx2();
bool DemosaicAvx2Built();

// The two outer rows and columns on each side, 8-bit raw; always scalar. With
// a band, the border pixels of those rows only.
int DemosaicBorder(const RegionView& v, const BayerGains& g, DemosaicRows rows = {});

// 16-bit raw to 48 or 64 bits; samples have `significantBits` (10, 12, 14, 16;
// any other value means 10). The outer two rows and columns are not written.
int DemosaicDeep(const RegionView& v, const BayerGains& g, int significantBits,
                 DemosaicRows rows = {});
// The same results with SSE2 or AVX2 (16-bit samples, 48- or 64-bit
// destinations; anything else, or a multiplier above 2047, runs the scalar
// form).
int DemosaicDeepSse2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows = {});
int DemosaicDeepAvx2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows = {});

// Single rows, pixel by pixel, for the columns from..to (relative to the
// rectangle) of output row `row`: the vector forms finish their rows with
// these. Vector rounding (8-bit), the scalar formula (8-bit), deep samples.
void DemosaicRowVectorRounding(const RegionView& v, const BayerGains& g, int row, int from, int to);
void DemosaicRowScalar(const RegionView& v, const BayerGains& g, int row, int from, int to);
void DemosaicRowDeep(const RegionView& v, const BayerGains& g, int significantBits, int row,
                     int from, int to);

}  // namespace varnel
