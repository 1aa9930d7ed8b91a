// varnelcam info: the processor, and what the library's pixel routines will
// use on it. The C interface does not report it, so this part (like
// --virtual) reaches past it, to the same detection and selection code the
// library runs.
//
// The library's detection names a processor from its own table of older
// models, which knows nothing of current ones (a current server processor
// comes out as a Pentium-III there), and its feature bits stop at SSE3. So
// the name printed first is the one the system gives, and the features are
// every one the library chooses routines by, the AVX2 and AVX-512 ones too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli.h"
#include "engine/color_converter.h"
#include "imaging/cpu_features.h"
#include "imaging/frame_pipeline.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace varnelcam {

namespace {

// The processor's name as the operating system gives it; empty when it
// gives none.
std::string SystemProcessorName() {
  std::string name;
#ifdef _WIN32
  char text[256] = {};
  DWORD size = sizeof text;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0,
                    KEY_READ, &key) == ERROR_SUCCESS) {
    DWORD type = 0;
    if (RegQueryValueExA(key, "ProcessorNameString", nullptr, &type, reinterpret_cast<BYTE*>(text),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ) {
      name.assign(text, strnlen(text, sizeof text));
    }
    RegCloseKey(key);
  }
#else
  if (FILE* cpuinfo = std::fopen("/proc/cpuinfo", "r")) {
    char line[512];
    while (name.empty() && std::fgets(line, sizeof line, cpuinfo) != nullptr) {
      if (std::strncmp(line, "model name", 10) != 0) continue;
      const char* colon = std::strchr(line, ':');
      if (colon != nullptr) name = colon + 1;
    }
    std::fclose(cpuinfo);
  }
#endif
  const size_t first = name.find_first_not_of(" \t");
  const size_t last = name.find_last_not_of(" \t\r\n");
  return first == std::string::npos ? "" : name.substr(first, last - first + 1);
}

// Whether the processor and system can run the extension, as the compiler's
// own check (which includes the system's saving of the register state) says.
bool ProcessorRuns(const char* feature) {
#if defined(__i386__) || defined(__x86_64__)
  if (std::strcmp(feature, "avx2") == 0) return __builtin_cpu_supports("avx2");
  if (std::strcmp(feature, "avx512") == 0) {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vl");
  }
  if (std::strcmp(feature, "avx512vbmi") == 0) return __builtin_cpu_supports("avx512vbmi");
#endif
  (void)feature;
  return false;
}

// " AVX2", or " AVX2 (not used: ...)" when the processor has it but the
// library does not run it; nothing when the processor lacks it.
std::string WideFeature(const char* name, const char* feature, bool used) {
  if (!ProcessorRuns(feature)) return "";
  if (used) return std::string(" ") + name;
  const bool switchedOff =
      std::strncmp(feature, "avx512", 6) == 0 && std::getenv("VARNEL_NO_AVX512") != nullptr;
  return std::string(" ") + name +
         (switchedOff ? " (not used: VARNEL_NO_AVX512)" : " (not used: not in this build)");
}

}  // namespace

void PrintProcessor() {
  varnel::CpuFeatures features{};
  const int32_t bits = varnel::DetectCpuFeatures(&features);
  const std::string system = SystemProcessorName();
  std::printf("processor: %s\n", system.empty() ? "(the system gives no name)" : system.c_str());
  std::printf(
      "  library's detection: %s, family %d, model %d, stepping %d (its table of processors: "
      "%s)\n",
      features.vendor, features.family, features.model, features.stepping, features.modelName);
  struct Named {
    int32_t bit;
    const char* name;
  };
  const Named names[] = {{varnel::kCpuMmx, "MMX"},
                         {varnel::kCpuSse, "SSE"},
                         {varnel::kCpuSse2, "SSE2"},
                         {varnel::kCpu3DNow, "3DNow!"},
                         {varnel::kCpuSse3, "SSE3"}};
  std::string list;
  for (const Named& n : names) {
    if ((bits & n.bit) == 0) continue;
    const bool usable = (features.usableBits & n.bit) != 0;
    list += std::string(" ") + n.name + (usable ? "" : " (reported, not usable)");
  }
  list += WideFeature("AVX2", "avx2", varnel::HaveAvx2Forms());
  list += WideFeature("AVX-512", "avx512", varnel::HaveAvx512Forms());
  list += WideFeature("AVX-512-VBMI", "avx512vbmi", varnel::HaveAvx512VbmiForms());
  std::printf("  features the library uses:%s\n", list.empty() ? " none" : list.c_str());

  const char* form = "scalar";
  switch (varnel::ChooseVectorForm(features)) {
    case varnel::VectorForm::kSse2:
      form = "SSE2";
      break;
    case varnel::VectorForm::kMmx:
      form = "MMX";
      break;
    case varnel::VectorForm::kScalar:
      break;
  }
  // The demosaic forms the library runs, asked of the code that picks them:
  // the frame pipeline's for an 8-bit frame into a 24-bit image at gains the
  // vector forms take (up to 200; 100 is unit gain), and the colour engine's.
  constexpr int kUnitGain = 100;
  constexpr int kBgr24Bytes = 3;
  const varnel::DemosaicForm pipeline = varnel::DemosaicFormRun(
      varnel::ChooseDemosaicForm(features, kUnitGain, kUnitGain, kUnitGain, kBgr24Bytes));
  const varnel::ColorConverter engine;
  const char* engineForm = engine.UsesAvx2()          ? "AVX2"
                           : engine.UsesVectorForms() ? "SSE2"
                                                      : "scalar";
  const char* tones = varnel::HaveAvx512Forms()   ? "AVX-512"
                      : varnel::HaveAvx2Forms()   ? "AVX2"
                      : varnel::UseSse2(features) ? "SSE2"
                                                  : "scalar";
  std::printf(
      "  pixel routines: %s; demosaic: %s (frame pipeline), %s (colour engine); "
      "tone filters: %s\n",
      form, varnel::DemosaicFormName(pipeline), engineForm, tones);
}

}  // namespace varnelcam
