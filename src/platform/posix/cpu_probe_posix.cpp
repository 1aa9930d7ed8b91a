// Instruction probes on Linux. An instruction that the processor or the system
// does not allow raises SIGILL; while a probe runs, a handler is installed that
// jumps back into the probe with siglongjmp, so the fault becomes the answer
// "not usable" instead of ending the process.
#include <setjmp.h>
#include <signal.h>

#include <mutex>

#include "imaging/cpu_features.h"
#include "platform/cpu_probe.h"

namespace varnel {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// The instructions themselves. Each runs in a function of its own so that no
// value of the caller lives in the registers it touches: the MMX registers
// alias the x87 stack, which the calling convention keeps empty across calls,
// and emms leaves it empty again.
__attribute__((noinline)) void RunMmx(void*) {
  asm volatile("pxor %%mm0, %%mm0\n\temms" ::: "memory");
}

__attribute__((noinline)) void RunSse(void*) { asm volatile("xorps %%xmm0, %%xmm0" ::: "xmm0"); }

__attribute__((noinline)) void RunSse2(void*) { asm volatile("xorpd %%xmm0, %%xmm0" ::: "xmm0"); }

// One 3DNow! reciprocal approximation. Processors made after 3DNow! was
// withdrawn raise an invalid-opcode fault here, so it must run under the guard.
__attribute__((noinline)) void Run3DNow(void*) {
  asm volatile("pfrcp %%mm0, %%mm0\n\temms" ::: "memory");
}

__attribute__((noinline)) void RunCpuid(void* context) {
  auto* registers = static_cast<uint32_t*>(context);
  uint32_t eax = registers[0];
  uint32_t ebx = 0;
  uint32_t ecx = 0;
  uint32_t edx = 0;
  asm volatile("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
  registers[0] = eax;
  registers[1] = ebx;
  registers[2] = ecx;
  registers[3] = edx;
}

// One guarded run at a time in the process: the signal disposition is
// process-wide, and two probes restoring each other's saved disposition could
// leave a foreign handler installed or remove ours while a probe still runs.
std::mutex g_guardMutex;
struct sigaction g_previousAction;
thread_local sigjmp_buf* t_probeReturn = nullptr;

void OnIllegalInstruction(int /*signal*/, siginfo_t* /*info*/, void* /*context*/) {
  if (t_probeReturn != nullptr) siglongjmp(*t_probeReturn, 1);
  // A fault outside a probe (on another thread) is not ours: put the previous
  // disposition back and return, so the instruction faults again under it.
  sigaction(SIGILL, &g_previousAction, nullptr);
}

// Runs body(context) and reports whether it completed without an
// illegal-instruction fault.
bool RunGuarded(void (*body)(void*), void* context) {
  std::lock_guard<std::mutex> lock(g_guardMutex);
  struct sigaction action = {};
  action.sa_sigaction = OnIllegalInstruction;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  if (sigaction(SIGILL, &action, &g_previousAction) != 0) return false;

  sigjmp_buf probeReturn;
  // sigsetjmp saves the signal mask, so SIGILL is unblocked again after the
  // jump out of its handler. It returns non-zero when the handler jumped back.
  const bool faulted = sigsetjmp(probeReturn, 1) != 0;
  if (!faulted) {
    t_probeReturn = &probeReturn;
    body(context);
  }
  t_probeReturn = nullptr;
  sigaction(SIGILL, &g_previousAction, nullptr);
  return !faulted;
}

}  // namespace

bool PlatformCpuid(uint32_t function, uint32_t registers[4]) {
  uint32_t answer[4] = {function, 0, 0, 0};
  if (!RunGuarded(RunCpuid, answer)) return false;
  for (int i = 0; i < 4; ++i) registers[i] = answer[i];
  return true;
}

int PlatformProbeInstruction(int32_t bit) {
  switch (bit) {
    case kCpuMmx:
      return RunGuarded(RunMmx, nullptr) ? 1 : 0;
    case kCpuSse:
      return RunGuarded(RunSse, nullptr) ? 1 : 0;
    case kCpuSse2:
      return RunGuarded(RunSse2, nullptr) ? 1 : 0;
    case kCpu3DNow:
      return RunGuarded(Run3DNow, nullptr) ? 1 : 0;
    default:
      return 1;
  }
}

#else

// Not an x86 processor: there is no identification instruction, so detection
// reports no extensions and every routine runs in its scalar form.
bool PlatformCpuid(uint32_t, uint32_t[4]) { return false; }
int PlatformProbeInstruction(int32_t bit) {
  return (bit == kCpuMmx || bit == kCpuSse || bit == kCpuSse2 || bit == kCpu3DNow) ? 0 : 1;
}

#endif

}  // namespace varnel
