// Bayer demosaic bodies over one region. The scalar interior keeps every bit
// until its final shift; the MMX and SSE2 interiors shift the colour sums by 4
// before the gain so that the product fits an unsigned 16-bit lane, and may
// therefore differ from the scalar form by up to 2 in red and blue (never in
// green, and not at all with gains of 100). The vector bodies fall back to the
// scalar one when their preconditions do not hold (a 32-bit destination, a
// gain above 200, or a source that is not one byte per sample).
#pragma once

#include "imaging/region_params.h"
#include "imaging/region_view.h"

namespace varnel {

int DemosaicInteriorScalar(const RegionView& v, const BayerGains& g);
int DemosaicInteriorMmx(const RegionView& v, const BayerGains& g);
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g);
// The SSE2 form twice as wide; bit-identical to it. Runs only where the
// processor and the system offer AVX2 (HaveDemosaicAvx2).
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g);
// Whether this build carries the vector forms (only x86 builds do).
bool HaveDemosaicMmx();
bool HaveDemosaicSse2();
// Whether this build carries the AVX2 form and this processor and system can
// run it (checked once, outside any AVX2 code).
bool HaveDemosaicAvx2();
bool DemosaicAvx2Built();

// The two outer rows and columns on each side, 8-bit raw; always scalar.
int DemosaicBorder(const RegionView& v, const BayerGains& g);

// 16-bit raw to 48 or 64 bits; samples have `significantBits` (10, 12, 14, 16;
// any other value means 10). The outer two rows and columns are not written.
int DemosaicDeep(const RegionView& v, const BayerGains& g, int significantBits);

}  // namespace varnel
