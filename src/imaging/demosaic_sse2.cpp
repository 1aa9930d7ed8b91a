// SSE2 demosaic: the interior of 8-bit raw data (16 output pixels per step)
// in its two forms, the vector rounding of the 24-bit class and the scalar
// formula for 24- and 32-bit destinations and any settable gain, and the deep
// demosaic of 16-bit raw data (8 pixels per step), all written once over the
// register width in demosaic_vector.h.
#include "imaging/demosaic.h"

#if defined(__SSE2__)
#include "imaging/simd_registers.h"
// After the registers, which it is instantiated with.
#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__SSE2__)

bool HaveDemosaicSse2() { return true; }

int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorRoundingFor<Sse2Registers>(v, g, rows);
}

int DemosaicInteriorScalarSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalarFormulaFor<Sse2Registers>(v, g, rows);
}

int DemosaicDeepSse2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  return DemosaicDeepFor<Sse2Registers>(v, g, significantBits, rows);
}

#else

bool HaveDemosaicSse2() { return false; }
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalar(v, g, rows);
}
int DemosaicInteriorScalarSse2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalar(v, g, rows);
}
int DemosaicDeepSse2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  return DemosaicDeep(v, g, significantBits, rows);
}

#endif

}  // namespace varnel
