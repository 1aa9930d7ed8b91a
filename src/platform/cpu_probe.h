// The platform half of processor detection: the identification instruction
// and the instruction probes, each run under a guard that turns an
// illegal-instruction fault into a result instead of a crash (a signal handler
// on Linux, a vectored exception handler on Windows).
#pragma once

#include <cstdint>

namespace varnel {

// Runs identification function `function` and stores EAX, EBX, ECX, EDX in
// `registers`. Returns false when the instruction faulted or the build target
// is not an x86 processor.
bool PlatformCpuid(uint32_t function, uint32_t registers[4]);

// Runs one instruction of the extension `bit` (1 MMX, 2 SSE, 4 SSE2, 8 3DNow!)
// under the guard: 1 when it ran, 0 when it faulted. Other bit values: 1.
int PlatformProbeInstruction(int32_t bit);

}  // namespace varnel
