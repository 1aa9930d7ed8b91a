// The demosaic bodies as region routines.
#include <cstdlib>

#include "imaging/demosaic.h"
#include "imaging/pixel_routines.h"
#include "imaging/tone_kernels.h"

namespace varnel {
namespace {

template <int (*Body)(const RegionView&, const BayerGains&, DemosaicRows)>
int RunWithGains(const RegionView& view, void* user) {
  const BayerGains* gains = ParamRecord<const BayerGains>(user);
  return gains == nullptr ? 0 : Body(view, *gains, DemosaicRows{});
}

int MmxBody(const RegionView& v, const BayerGains& g, DemosaicRows) {
  return DemosaicInteriorMmx(v, g);
}

template <int kBits>
int DeepBody(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return DemosaicDeep(v, g, kBits, rows);
}

}  // namespace

int DemosaicInteriorScalarRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DemosaicInteriorScalar>(VARNEL_REGION_VIEW, user);
}
int DemosaicInteriorMmxRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<MmxBody>(VARNEL_REGION_VIEW, user);
}
int DemosaicInteriorSse2Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DemosaicInteriorSse2>(VARNEL_REGION_VIEW, user);
}
int DemosaicInteriorAvx2Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DemosaicInteriorAvx2>(VARNEL_REGION_VIEW, user);
}
int DemosaicBorderRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DemosaicBorder>(VARNEL_REGION_VIEW, user);
}
int DemosaicDeep10Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DeepBody<10>>(VARNEL_REGION_VIEW, user);
}
int DemosaicDeep12Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DeepBody<12>>(VARNEL_REGION_VIEW, user);
}
int DemosaicDeep14Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DeepBody<14>>(VARNEL_REGION_VIEW, user);
}
int DemosaicDeep16Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)extra;
  return RunWithGains<DeepBody<16>>(VARNEL_REGION_VIEW, user);
}

bool HaveAvx2Forms() {
#if defined(__i386__) || defined(__x86_64__)
  // The compiler's check includes the system's support for the AVX register
  // state, so a processor with AVX2 under a system that does not save it
  // counts as without. Every *_avx2.cpp file is built with the same flags, so
  // the demosaic's answer holds for all of them.
  static const bool have = DemosaicAvx2Built() && __builtin_cpu_supports("avx2");
  return have;
#else
  return false;
#endif
}

bool HaveAvx512Forms() {
#if defined(__i386__) || defined(__x86_64__)
  // As for AVX2, the compiler's check includes the system's support for the
  // AVX-512 register state. VARNEL_NO_AVX512 (any value) keeps the AVX2
  // forms: for comparing the two, and for processors that slow their clock
  // for 512-bit work.
  static const bool have = std::getenv("VARNEL_NO_AVX512") == nullptr && HaveAvx2Forms() &&
                           Avx512TonesBuilt() && __builtin_cpu_supports("avx512f") &&
                           __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
  return have;
#else
  return false;
#endif
}

bool HaveAvx512VbmiForms() {
#if defined(__i386__) || defined(__x86_64__)
  static const bool have =
      HaveAvx512Forms() && Avx512VbmiMapBuilt() && __builtin_cpu_supports("avx512vbmi");
  return have;
#else
  return false;
#endif
}

bool HaveDemosaicAvx2() { return HaveAvx2Forms(); }

SimdLevel ChooseSimdLevel(const CpuFeatures& cpu) {
  if (!UseSse2(cpu) || !HaveDemosaicSse2()) return SimdLevel::kScalar;
  return HaveAvx2Forms() ? SimdLevel::kAvx2 : SimdLevel::kSse2;
}

RegionRoutine DeepDemosaicFor(int bitDepthCode) {
  switch (bitDepthCode) {
    case 2:
      return DemosaicDeep12Routine;
    case 3:
      return DemosaicDeep14Routine;
    case 4:
      return DemosaicDeep16Routine;
    default:
      return DemosaicDeep10Routine;
  }
}

}  // namespace varnel
