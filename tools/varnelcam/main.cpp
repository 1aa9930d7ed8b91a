// varnelcam: the command-line tool over the camera library.
//
//   varnelcam info [--virtual MODEL[:LETTER]]
//   varnelcam --help
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "device/model_code.h"
#include "engine/color_converter.h"
#include "imaging/cpu_features.h"
#include "imaging/frame_pipeline.h"
#include "instance/drive_enumeration.h"
#include "varnel.h"
#include "sim/virtual_head.h"

namespace {

constexpr const char* kUsage =
    "usage: varnelcam <command> [options]\n"
    "\n"
    "commands:\n"
    "  info      print the library version, the processor features the pixel\n"
    "            routines can use, the demosaic forms the library runs, and the\n"
    "            camera drives found\n"
    "\n"
    "options of info:\n"
    "  --virtual MODEL[:LETTER]\n"
    "            first attach an in-process virtual camera head of MODEL (HWH8,\n"
    "            HXA1, HXB2, HXE5, HXC3, R2T, HYD4, HZF6 or HZG7) at drive LETTER\n"
    "            (default V), so that it is listed like an attached camera\n"
    "\n"
    "  -h, --help  show this text\n"
    "\n"
    "Camera drives are fixed drives whose free-space query fails: a camera\n"
    "volume carries no file system. On Linux the drives come from the drives\n"
    "directory named by VARNEL_DRIVES (laid out like a Wine prefix's dosdevices).\n";

bool ParseModel(const std::string& text, varnel::ModelCode* model) {
  for (varnel::ModelCode code : varnel::kModelList) {
    char name[5] = {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF),
                    static_cast<char>((code >> 16) & 0xFF), static_cast<char>((code >> 24) & 0xFF),
                    0};
    if (text == name) {
      *model = code;
      return true;
    }
  }
  return false;
}

void PrintFeatures() {
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
  std::printf("demosaic: %s (frame pipeline), %s (colour engine)\n",
              varnel::DemosaicFormName(pipeline), engine.UsesVectorForms() ? "SSE2" : "scalar");
}

int Info(int argc, char** argv) {
  std::shared_ptr<varnel::VirtualHead> head;
  for (int i = 0; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--virtual" && i + 1 < argc) {
      std::string modelArg = argv[++i];
      char letter = 'V';
      const size_t colon = modelArg.find(':');
      if (colon != std::string::npos) {
        const std::string letterText = modelArg.substr(colon + 1);
        modelArg.resize(colon);
        if (letterText.size() != 1 || !std::isalpha(static_cast<unsigned char>(letterText[0]))) {
          std::fprintf(stderr, "varnelcam: bad drive letter '%s'\n", letterText.c_str());
          return 2;
        }
        letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letterText[0])));
      }
      varnel::ModelCode model = 0;
      if (!ParseModel(modelArg, &model)) {
        std::fprintf(stderr, "varnelcam: unknown model '%s'\n", modelArg.c_str());
        return 2;
      }
      head = std::make_shared<varnel::VirtualHead>(model);
      if (!head->AttachTo(static_cast<char16_t>(letter))) {
        std::fprintf(stderr, "varnelcam: drive %c: is taken\n", letter);
        return 1;
      }
    } else {
      std::fprintf(stderr, "varnelcam: unknown option '%s' for info\n%s", arg.c_str(), kUsage);
      return 2;
    }
  }

  std::printf("library version: 0x%08X\n", Varnel_GetDllVersion());
  PrintFeatures();

  int letters[varnel::kMaxDriveSlots];
  const int count = varnel::EnumerateCameraDrives(letters);
  std::printf("camera drives: %d\n", count);
  for (int i = 0; i < count; ++i) std::printf("  %c:\n", static_cast<char>(letters[i]));
  if (head) head->Detach();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string command = argv[1];
  if (command == "-h" || command == "--help" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "info") return Info(argc - 2, argv + 2);
  std::fprintf(stderr, "varnelcam: unknown command '%s'\n%s", command.c_str(), kUsage);
  return 2;
}
