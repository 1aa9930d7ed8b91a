// AVX2 demosaic: the SSE2 forms twice as wide (demosaic_vector.h over the
// 256-bit registers), computing exactly what they compute: 32 output pixels
// per step for 8-bit raw data, 16 for 16-bit. Each 128-bit half of a register
// holds what the SSE2 form holds in one register: the low half the first
// half of the step's pixels, the high half the second.
#include "imaging/demosaic.h"

#if defined(__AVX2__)
#include "imaging/simd_registers.h"
// After the registers, which it is instantiated with.
#include "imaging/demosaic_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)

bool DemosaicAvx2Built() { return true; }

int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorRoundingFor<Avx2Registers>(v, g, rows);
}

int DemosaicInteriorScalarAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalarFormulaFor<Avx2Registers>(v, g, rows);
}

int DemosaicDeepAvx2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  return DemosaicDeepFor<Avx2Registers>(v, g, significantBits, rows);
}

#else

bool DemosaicAvx2Built() { return false; }
int DemosaicInteriorAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorSse2(v, g, rows);
}
int DemosaicInteriorScalarAvx2(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicInteriorScalarSse2(v, g, rows);
}
int DemosaicDeepAvx2(const RegionView& v, const BayerGains& g, int significantBits,
                     DemosaicRows rows) {
  return DemosaicDeepSse2(v, g, significantBits, rows);
}

#endif

}  // namespace varnel
