// AVX2 form of the colour engine's vector demosaic: the SSE2 form twice as
// wide, thirty-two pixels per step, with the same results bit for bit. Each
// 128-bit half of a register holds the sixteen pixels the SSE2 form holds in
// one register: the low half the first sixteen of the step, the high half the
// next sixteen.
#include "engine/engine_demosaic.h"

#if defined(__AVX2__)
#include "imaging/simd_registers.h"
// After the registers, which it is instantiated with.
#include "engine/engine_demosaic_vector.h"
#endif

namespace varnel {

#if defined(__AVX2__)

bool EngineVectorAvx2Built() { return true; }

EngineVectorRoutine SelectEngineVectorRoutineAvx2(EngineVectorFamily family, EnginePhase phase) {
  return engine_vector::SelectRoutine<engine_vector::EngineLanes<Avx2Registers>>(family, phase);
}

#else

bool EngineVectorAvx2Built() { return false; }

EngineVectorRoutine SelectEngineVectorRoutineAvx2(EngineVectorFamily family, EnginePhase phase) {
  return SelectEngineVectorRoutine(family, phase);
}

#endif

}  // namespace varnel
