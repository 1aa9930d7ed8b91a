// SSE2 form of the colour engine's vector demosaic: sixteen pixels per step
// in 128-bit registers (the routines themselves are in
// engine_demosaic_vector.h).
#include "engine/engine_demosaic.h"
#include "imaging/simd_registers.h"
// After the registers, which it is instantiated with.
#include "engine/engine_demosaic_vector.h"

namespace varnel {

EngineVectorRoutine SelectEngineVectorRoutine(EngineVectorFamily family, EnginePhase phase) {
  return engine_vector::SelectRoutine<engine_vector::EngineLanes<Sse2Registers>>(family, phase);
}

}  // namespace varnel
