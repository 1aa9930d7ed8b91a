// varnelcam info: what the library's pixel routines will use on this
// processor. The C interface does not report it, so this part (like
// --virtual) reaches past it, to the same selection code the library runs.
#include <cstdint>
#include <cstdio>

#include "cli.h"
#include "engine/color_converter.h"
#include "imaging/cpu_features.h"
#include "imaging/frame_pipeline.h"

namespace varnelcam {

void PrintProcessor() {
  varnel::CpuFeatures features{};
  const int32_t bits = varnel::DetectCpuFeatures(&features);
  std::printf("processor: %s, %s (family %d, model %d, stepping %d)\n", features.vendor,
              features.modelName, features.family, features.model, features.stepping);
  struct Named {
    int32_t bit;
    const char* name;
  };
  const Named names[] = {{varnel::kCpuMmx, "MMX"},
                         {varnel::kCpuSse, "SSE"},
                         {varnel::kCpuSse2, "SSE2"},
                         {varnel::kCpu3DNow, "3DNow!"},
                         {varnel::kCpuSse3, "SSE3"}};
  std::printf("features:");
  bool any = false;
  for (const Named& n : names) {
    if ((bits & n.bit) == 0) continue;
    any = true;
    const bool usable = (features.usableBits & n.bit) != 0;
    std::printf(" %s%s", n.name, usable ? "" : " (reported, not usable)");
  }
  std::printf("%s\n", any ? "" : " none");
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
  std::printf("pixel routines: %s\n", form);

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
  std::printf("demosaic: %s (frame pipeline), %s (colour engine)\n",
              varnel::DemosaicFormName(pipeline), engineForm);
}

}  // namespace varnelcam
