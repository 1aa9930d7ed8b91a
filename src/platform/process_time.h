// Processor time the calling process has used. The pipeline timing program
// counts it instead of the wall time, because the machines it runs on are
// shared: the wall time of a frame grows with every other program that
// wants the processor, the processor time the frame costs does not.
#pragma once

namespace varnel {

// User plus system time of the whole process in seconds, from an arbitrary
// start; only differences are meaningful. The resolution is the system's
// (nanoseconds on Linux; under Wine the host's scheduler tick, 10 ms or
// better), so measured spans should be long against it.
double ProcessCpuSeconds();

}  // namespace varnel
