// Processor detection and the choice between scalar and vector routines.
//
// Detection asks the processor which instruction-set extensions it has, then
// runs one instruction of each under a guard: a processor may report an
// extension that the operating system does not let a program use (no saved
// SSE state, or 3DNow! on processors that no longer carry it), and such an
// extension must count as not usable rather than crash the caller.
#pragma once

#include <cstdint>

namespace varnel {

// Feature bits.
inline constexpr int32_t kCpuMmx = 1;
inline constexpr int32_t kCpuSse = 2;
inline constexpr int32_t kCpuSse2 = 4;
inline constexpr int32_t kCpu3DNow = 8;
inline constexpr int32_t kCpuSse3 = 16;
inline constexpr int32_t kCpuEcxBit8 = 32;  // function 1, ECX bit 8
// The six bits that detection examines.
inline constexpr int32_t kCpuExaminedBits = 63;

inline constexpr int kCpuVendorSize = 13;     // 12 characters and NUL
inline constexpr int kCpuModelNameSize = 30;  // including NUL

struct CpuFeatures {
  char vendor[kCpuVendorSize];
  char modelName[kCpuModelNameSize];
  // Bits 8..11 of the signature; when those are 15, (bits 20..27) * 16 + 15.
  int32_t family;
  int32_t model;         // bits 4..7 of the signature
  int32_t stepping;      // bits 0..3 of the signature
  int32_t featureBits;   // extensions the processor reports
  int32_t usableBits;    // reported extensions that also passed the probe
  int32_t examinedBits;  // always kCpuExaminedBits once filled
};

// The four registers one identification function returns.
struct CpuidRegisters {
  uint32_t eax = 0;
  uint32_t ebx = 0;
  uint32_t ecx = 0;
  uint32_t edx = 0;
};

// Where detection gets its answers. The system source runs the real
// instructions; tests give their own to cover vendors, families and probes
// that fault.
class CpuSource {
 public:
  virtual ~CpuSource() = default;
  // Runs identification function `function`. Returns false when the
  // identification instruction itself is not available (it faulted).
  virtual bool Identify(uint32_t function, CpuidRegisters& out) = 0;
  // As ProbeInstruction below.
  virtual int Probe(int32_t bit) = 0;
};

// The real processor.
CpuSource& SystemCpuSource();

// Detects the features of the processor seen through `source` (the real one
// by default). Returns the feature bits; with a record also fills it (zeroed
// first). Returns 0 and leaves the record untouched when the identification
// instruction is not available.
int32_t DetectCpuFeatures(CpuFeatures* record);
int32_t DetectCpuFeatures(CpuFeatures* record, CpuSource& source);

// Runs one instruction of the extension `bit` (kCpuMmx, kCpuSse, kCpuSse2 or
// kCpu3DNow) under a guard: 1 when it ran, 0 when it raised an exception. Any
// other bit value returns 1 without running anything.
int ProbeInstruction(int32_t bit);

// Writes the model name for a vendor string, family and model into `name`
// (at least kCpuModelNameSize bytes); "Unknown" for anything not in the table.
void NameProcessor(int32_t family, int32_t model, const char* vendor, char* name);

// The feature bits of this process's processor, detected on first use (safely
// from any thread) and never refreshed. These are the bits the processor
// reports; a routine selection asks ProcessCpuFeatures() instead, whose
// usable bits say what this system really runs.
int32_t ProcessCpuFeatureBits();
// The whole record of this process's processor, detected once like the bits.
const CpuFeatures& ProcessCpuFeatures();

// Routine selection: an extension is used only when the processor reports it
// and the probe ran it.
constexpr bool CpuUsable(const CpuFeatures& features, int32_t bit) {
  return (features.featureBits & features.usableBits & bit) == bit;
}
constexpr bool UseSse2(const CpuFeatures& features) { return CpuUsable(features, kCpuSse2); }
constexpr bool UseMmx(const CpuFeatures& features) { return CpuUsable(features, kCpuMmx); }

// The form a routine with scalar, MMX and SSE2 variants runs in: SSE2 first,
// then MMX, else scalar.
enum class VectorForm { kScalar, kMmx, kSse2 };
constexpr VectorForm ChooseVectorForm(const CpuFeatures& features) {
  return UseSse2(features)  ? VectorForm::kSse2
         : UseMmx(features) ? VectorForm::kMmx
                            : VectorForm::kScalar;
}

// The instruction set of the routines that exist in SSE2 and AVX2 forms
// besides the scalar one (the AVX2 forms give the SSE2 forms' results).
enum class SimdLevel { kScalar, kSse2, kAvx2 };
// SSE2 when reported and usable, AVX2 on top when this build carries the AVX2
// forms and the processor and system can run them; else scalar.
SimdLevel ChooseSimdLevel(const CpuFeatures& cpu);
// Whether this build carries the AVX2 forms and the processor and system can
// run them (one check per process, outside any AVX2 code; AVX2 is not among
// the bits the record examines).
bool HaveAvx2Forms();
// Whether this build carries the AVX-512 forms of the tone filters (16-bit
// lanes: F, BW and VL) and the processor and system can run them; the same
// with VBMI for the 8-bit tone map. They stand in for the AVX2 forms where
// the level is AVX2, with the same results.
bool HaveAvx512Forms();
bool HaveAvx512VbmiForms();

}  // namespace varnel
