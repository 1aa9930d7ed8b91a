// Instruction probes on Windows. Each probe instruction lives in a small
// assembly function with a known recovery point. While a probe runs, a
// vectored exception handler is registered; when an illegal-instruction fault
// is raised inside the probe code it moves the instruction pointer to the
// recovery point, which returns 0 to the caller. Nothing is unwound and no
// state is shared between threads, so probes may run on any thread at once.
#include <windows.h>

#include <cstdint>

#include "imaging/cpu_features.h"
#include "platform/cpu_probe.h"

namespace varnel {

#if defined(__i386__)

// The probes use the cdecl convention: the result is in EAX. The instruction
// probes push nothing, so their recovery point can return straight to the
// caller; the identification routine saves EBX and EDI and has a recovery
// point of its own that restores them.
asm(R"(
    .text
    .p2align 4
_varnel_probe_begin:
_varnel_probe_mmx:
    pxor    %mm0, %mm0
    emms
    movl    $1, %eax
    ret
_varnel_probe_sse:
    xorps   %xmm0, %xmm0
    movl    $1, %eax
    ret
_varnel_probe_sse2:
    xorpd   %xmm0, %xmm0
    movl    $1, %eax
    ret
_varnel_probe_3dnow:
    pfrcp   %mm0, %mm0
    emms
    movl    $1, %eax
    ret
_varnel_probe_faulted:
    xorl    %eax, %eax
    ret
_varnel_cpuid_begin:
_varnel_cpuid:
    pushl   %ebx
    pushl   %edi
    movl    12(%esp), %eax
    movl    16(%esp), %edi
    xorl    %ecx, %ecx
    cpuid
    movl    %eax, 0(%edi)
    movl    %ebx, 4(%edi)
    movl    %ecx, 8(%edi)
    movl    %edx, 12(%edi)
    popl    %edi
    popl    %ebx
    movl    $1, %eax
    ret
_varnel_cpuid_faulted:
    popl    %edi
    popl    %ebx
    xorl    %eax, %eax
    ret
)");

extern "C" {
int varnel_probe_mmx();
int varnel_probe_sse();
int varnel_probe_sse2();
int varnel_probe_3dnow();
int varnel_cpuid(uint32_t function, uint32_t* registers);
// Labels, not functions: only their addresses are used.
void varnel_probe_begin();
void varnel_probe_faulted();
void varnel_cpuid_begin();
void varnel_cpuid_faulted();
}

namespace {

bool Within(DWORD address, void (*begin)(), void (*end)()) {
  return address >= reinterpret_cast<DWORD>(begin) && address < reinterpret_cast<DWORD>(end);
}

LONG CALLBACK OnProbeException(EXCEPTION_POINTERS* pointers) {
  const DWORD code = pointers->ExceptionRecord->ExceptionCode;
  if (code != EXCEPTION_ILLEGAL_INSTRUCTION && code != EXCEPTION_PRIV_INSTRUCTION) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT* context = pointers->ContextRecord;
  if (Within(context->Eip, varnel_probe_begin, varnel_probe_faulted)) {
    context->Eip = reinterpret_cast<DWORD>(varnel_probe_faulted);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (Within(context->Eip, varnel_cpuid_begin, varnel_cpuid_faulted)) {
    context->Eip = reinterpret_cast<DWORD>(varnel_cpuid_faulted);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// Keeps the handler registered for one probe. Registering per probe leaves
// nothing behind in the host process once detection is over.
class ProbeGuard {
 public:
  ProbeGuard() : handle_(AddVectoredExceptionHandler(1, OnProbeException)) {}
  ~ProbeGuard() {
    if (handle_ != nullptr) RemoveVectoredExceptionHandler(handle_);
  }
  bool Armed() const { return handle_ != nullptr; }

 private:
  void* handle_;
};

}  // namespace

bool PlatformCpuid(uint32_t function, uint32_t registers[4]) {
  ProbeGuard guard;
  if (!guard.Armed()) return false;
  return varnel_cpuid(function, registers) == 1;
}

int PlatformProbeInstruction(int32_t bit) {
  int (*probe)() = nullptr;
  switch (bit) {
    case kCpuMmx:
      probe = varnel_probe_mmx;
      break;
    case kCpuSse:
      probe = varnel_probe_sse;
      break;
    case kCpuSse2:
      probe = varnel_probe_sse2;
      break;
    case kCpu3DNow:
      probe = varnel_probe_3dnow;
      break;
    default:
      return 1;
  }
  ProbeGuard guard;
  if (!guard.Armed()) return 0;
  return probe();
}

#else

bool PlatformCpuid(uint32_t, uint32_t[4]) { return false; }
int PlatformProbeInstruction(int32_t bit) {
  return (bit == kCpuMmx || bit == kCpuSse || bit == kCpuSse2 || bit == kCpu3DNow) ? 0 : 1;
}

#endif

}  // namespace varnel
