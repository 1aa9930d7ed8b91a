// Processor detection: the model-name table, the signature fields, the feature
// and usable bits seen through a scripted processor, and the real probes on
// the machine the tests run on.
#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "engine/color_converter.h"
#include "imaging/cpu_features.h"
#include "imaging/frame_pipeline.h"
#include "imaging/row_copy.h"
#include "instance/two_ended_intake.h"

namespace varnel {
namespace {

std::string Name(int32_t family, int32_t model, const char* vendor) {
  char name[kCpuModelNameSize];
  std::memset(name, 'x', sizeof name);
  NameProcessor(family, model, vendor, name);
  return name;
}

TEST(NameProcessorTest, NamesEveryRowOfTheTableAndNothingElse) {
  struct Case {
    const char* vendor;
    int32_t family;
    int32_t model;
    const char* expected;
  };
  // clang-format off
  const Case cases[] = {
      {"GenuineIntel", 4, 0, "INTEL 486DX"}, {"GenuineIntel", 4, 1, "INTEL 486DX"},
      {"GenuineIntel", 4, 2, "INTEL 486SX"}, {"GenuineIntel", 4, 3, "INTEL 486DX2"},
      {"GenuineIntel", 4, 4, "INTEL 486SL"}, {"GenuineIntel", 4, 5, "INTEL 486SX2"},
      {"GenuineIntel", 4, 6, "Unknown"}, {"GenuineIntel", 4, 7, "INTEL 486DX2E"},
      {"GenuineIntel", 4, 8, "INTEL 486DX4"}, {"GenuineIntel", 4, 9, "Unknown"},
      {"GenuineIntel", 5, 0, "Unknown"}, {"GenuineIntel", 5, 1, "INTEL Pentium"},
      {"GenuineIntel", 5, 2, "INTEL Pentium"}, {"GenuineIntel", 5, 3, "INTEL Pentium"},
      {"GenuineIntel", 5, 4, "INTEL Pentium-MMX"}, {"GenuineIntel", 5, 5, "Unknown"},
      {"GenuineIntel", 6, 0, "Unknown"}, {"GenuineIntel", 6, 1, "INTEL Pentium-Pro"},
      {"GenuineIntel", 6, 2, "Unknown"}, {"GenuineIntel", 6, 3, "INTEL Pentium-II"},
      {"GenuineIntel", 6, 4, "Unknown"}, {"GenuineIntel", 6, 5, "INTEL Pentium-II"},
      {"GenuineIntel", 6, 6, "INTEL Celeron"}, {"GenuineIntel", 6, 7, "INTEL Pentium-III"},
      {"GenuineIntel", 6, 8, "INTEL Pentium-III"}, {"GenuineIntel", 6, 9, "Unknown"},
      {"GenuineIntel", 6, 10, "INTEL Pentium-III"}, {"GenuineIntel", 6, 11, "Unknown"},
      {"GenuineIntel", 15, 0, "INTEL Pentium-4"}, {"GenuineIntel", 15, 1, "Unknown"},
      {"GenuineIntel", 31, 0, "Unknown"}, {"AuthenticAMD", 4, 0, "AMD Am486"},
      {"AuthenticAMD", 4, 14, "AMD Am486"}, {"AuthenticAMD", 5, 0, "AMD K5"},
      {"AuthenticAMD", 5, 3, "AMD K5"}, {"AuthenticAMD", 5, 4, "Unknown"},
      {"AuthenticAMD", 5, 5, "Unknown"}, {"AuthenticAMD", 5, 6, "AMD K6"},
      {"AuthenticAMD", 5, 7, "AMD K6"}, {"AuthenticAMD", 5, 8, "AMD K6-2"},
      {"AuthenticAMD", 5, 9, "AMD K6-3"}, {"AuthenticAMD", 5, 15, "AMD K6-3"},
      {"AuthenticAMD", 6, 0, "AMD ATHLON"}, {"AuthenticAMD", 6, 10, "AMD ATHLON"},
      {"AuthenticAMD", 15, 4, "Unknown"}, {"CyrixInstead", 4, 9, "Cyrix"},
      {"CyrixInstead", 99, 0, "Cyrix"}, {"CentaurHauls", 6, 13, "Centaur"},
      {"GenuineIntel ", 6, 1, "Unknown"}, {"genuineintel", 6, 1, "Unknown"},
      {"HygonGenuine", 6, 1, "Unknown"}, {"", 6, 1, "Unknown"},
      {nullptr, 6, 1, "Unknown"},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(Name(c.family, c.model, c.vendor), c.expected)
        << (c.vendor ? c.vendor : "(null)") << " family " << c.family << " model " << c.model;
  }
}

// A processor answering from a script, with probes that fault for chosen
// extensions. It records the order in which extensions were probed.
class ScriptedCpu final : public CpuSource {
 public:
  bool available = true;
  std::map<uint32_t, CpuidRegisters> functions;
  int32_t faulting = 0;
  std::vector<int32_t> probed;

  bool Identify(uint32_t function, CpuidRegisters& out) override {
    if (!available) return false;
    auto it = functions.find(function);
    out = it == functions.end() ? CpuidRegisters{} : it->second;
    return true;
  }
  int Probe(int32_t bit) override {
    probed.push_back(bit);
    return (faulting & bit) ? 0 : 1;
  }
};

uint32_t Chars(const char* four) {
  uint32_t value;
  std::memcpy(&value, four, 4);
  return value;
}

ScriptedCpu MakeCpu(const char* vendor, uint32_t signature, uint32_t edx, uint32_t ecx,
                    uint32_t extendedMax = 0, uint32_t extendedEdx = 0) {
  ScriptedCpu cpu;
  cpu.functions[0] = {1, Chars(vendor), Chars(vendor + 8), Chars(vendor + 4)};
  cpu.functions[1] = {signature, 0, ecx, edx};
  cpu.functions[0x80000000u] = {extendedMax, 0, 0, 0};
  cpu.functions[0x80000001u] = {0, 0, 0, extendedEdx};
  return cpu;
}

uint32_t Signature(uint32_t extendedFamily, uint32_t extendedModel, uint32_t family, uint32_t model,
                   uint32_t stepping) {
  return extendedFamily << 20 | extendedModel << 16 | family << 8 | model << 4 | stepping;
}

constexpr uint32_t kEdxMmx = 1u << 23;
constexpr uint32_t kEdxSse = 1u << 25;
constexpr uint32_t kEdxSse2 = 1u << 26;
constexpr uint32_t kEcxSse3 = 1u << 0;
constexpr uint32_t kEcxBit8 = 1u << 8;
constexpr uint32_t kExtEdx3DNow = 1u << 31;

TEST(DetectCpuFeaturesTest, DecodesVendorSignatureAndName) {
  struct Case {
    const char* vendor;
    uint32_t signature;
    int32_t family, model, stepping;
    const char* name;
  };
  const Case cases[] = {
      // Extended family counts only when the base family is 15, and then as
      // extended family * 16 + 15.
      {"GenuineIntel", Signature(1, 0, 15, 2, 3), 31, 2, 3, "Unknown"},
      {"GenuineIntel", Signature(0, 0, 15, 0, 7), 15, 0, 7, "INTEL Pentium-4"},
      {"AuthenticAMD", Signature(0xA, 0, 15, 1, 0), 175, 1, 0, "Unknown"},
      {"GenuineIntel", Signature(1, 0, 6, 8, 1), 6, 8, 1, "INTEL Pentium-III"},
      // The extended model bits are never added to the model.
      {"GenuineIntel", Signature(0, 1, 6, 7, 2), 6, 7, 2, "INTEL Pentium-III"},
      {"GenuineIntel", Signature(0, 0, 6, 9, 5), 6, 9, 5, "Unknown"},
      {"AuthenticAMD", Signature(0, 0, 5, 8, 12), 5, 8, 12, "AMD K6-2"},
      {"CentaurHauls", Signature(0, 0, 6, 15, 15), 6, 15, 15, "Centaur"},
  };
  for (const Case& c : cases) {
    ScriptedCpu cpu = MakeCpu(c.vendor, c.signature, 0, 0);
    CpuFeatures record;
    std::memset(&record, 0x5A, sizeof record);
    EXPECT_EQ(DetectCpuFeatures(&record, cpu), 0);
    EXPECT_STREQ(record.vendor, c.vendor);
    EXPECT_EQ(record.family, c.family) << c.vendor << " " << std::hex << c.signature;
    EXPECT_EQ(record.model, c.model) << std::hex << c.signature;
    EXPECT_EQ(record.stepping, c.stepping) << std::hex << c.signature;
    EXPECT_STREQ(record.modelName, c.name) << std::hex << c.signature;
    EXPECT_EQ(record.featureBits, 0);
    EXPECT_EQ(record.usableBits, 0);
    EXPECT_EQ(record.examinedBits, 63);
    // The record is zeroed before it is filled: nothing of the old pattern
    // survives behind the strings.
    EXPECT_EQ(record.modelName[kCpuModelNameSize - 1], 0);
  }
}

// Every routine selection of the library, asked whether it runs an SSE2 (or
// wider) form for a record.
std::vector<std::pair<const char*, bool>> VectorChoices(const CpuFeatures& f) {
  constexpr int kUnitGain = 100;
  return {
      {"pixel routines", ChooseVectorForm(f) == VectorForm::kSse2},
      {"frame pipeline demosaic",
       ChooseDemosaicForm(f, kUnitGain, kUnitGain, kUnitGain, 3) == VectorForm::kSse2},
      {"gray gains", ChooseGrayGainForm(f) == VectorForm::kSse2},
      {"tone filters and reductions", ChooseSimdLevel(f) != SimdLevel::kScalar},
      {"frame-sized row copies", ChooseStreamingCopy(f)},
      {"two-ended unfolding", ChooseUnfoldTwoEndedSse2(f)},
      {"colour engine", ColorConverter::VectorFormsUsable(f)},
  };
}

// Fault caught: a routine selection that runs SSE2 because the processor
// reports it, on a system whose probe faulted it (or the reverse).
TEST(DetectCpuFeaturesTest, ReportedAndUsableBitsFollowTheProbes) {
  struct Case {
    const char* what;
    uint32_t edx, ecx, extendedMax, extendedEdx;
    int32_t faulting;
    int32_t features, usable;
    std::vector<int32_t> probed;
    VectorForm form;
  };
  const uint32_t allEdx = kEdxMmx | kEdxSse | kEdxSse2;
  // clang-format off
  const Case cases[] = {
      {"everything runs", allEdx, kEcxSse3 | kEcxBit8, 0x80000008u, kExtEdx3DNow, 0,
       63, 63, {1, 8, 2, 4, 16, 32}, VectorForm::kSse2},
      {"SSE2 reported but the system faults it", allEdx, 0, 0, 0, kCpuSse2 | kCpuSse,
       7, 1, {1, 2, 4}, VectorForm::kMmx},
      {"SSE2 and MMX fault", allEdx, 0, 0, 0, kCpuSse2 | kCpuMmx,
       7, 2, {1, 2, 4}, VectorForm::kScalar},
      {"3DNow! reported but faulting", kEdxMmx, 0, 0x80000001u, kExtEdx3DNow, kCpu3DNow,
       9, 1, {1, 8}, VectorForm::kMmx},
      {"no extended functions: function 0x80000001 is not looked at", kEdxMmx, 0,
       0x7FFFFFFFu, kExtEdx3DNow, 0, 1, 1, {1}, VectorForm::kMmx},
      {"highest extended function 0x80000000: 0x80000001 is not there", kEdxMmx, 0,
       0x80000000u, kExtEdx3DNow, 0, 1, 1, {1}, VectorForm::kMmx},
      {"SSE3 and ECX bit 8 alone", 0, kEcxSse3 | kEcxBit8, 0, 0, 0,
       48, 48, {16, 32}, VectorForm::kScalar},
      {"nothing reported, nothing probed", 0, 0, 0, 0, 0,
       0, 0, {}, VectorForm::kScalar},
  };
  // clang-format on
  for (const Case& c : cases) {
    ScriptedCpu cpu = MakeCpu("GenuineIntel", Signature(0, 0, 6, 8, 0), c.edx, c.ecx, c.extendedMax,
                              c.extendedEdx);
    cpu.faulting = c.faulting;
    CpuFeatures record;
    EXPECT_EQ(DetectCpuFeatures(&record, cpu), c.features) << c.what;
    EXPECT_EQ(record.featureBits, c.features) << c.what;
    EXPECT_EQ(record.usableBits, c.usable) << c.what;
    EXPECT_EQ(cpu.probed, c.probed) << c.what;
    EXPECT_EQ(ChooseVectorForm(record), c.form) << c.what;
    EXPECT_EQ(UseSse2(record), c.form == VectorForm::kSse2) << c.what;
    for (const auto& [selection, vector] : VectorChoices(record))
      EXPECT_EQ(vector, c.form == VectorForm::kSse2) << c.what << ": " << selection;
  }
}

TEST(DetectCpuFeaturesTest, WithoutIdentificationReturnsZeroAndLeavesTheRecord) {
  ScriptedCpu cpu = MakeCpu("GenuineIntel", Signature(0, 0, 6, 8, 0), kEdxMmx | kEdxSse2, 0);
  cpu.available = false;
  CpuFeatures record;
  std::memset(&record, 0x5A, sizeof record);
  CpuFeatures before = record;
  EXPECT_EQ(DetectCpuFeatures(&record, cpu), 0);
  EXPECT_EQ(std::memcmp(&record, &before, sizeof record), 0);
  EXPECT_TRUE(cpu.probed.empty());
}

TEST(DetectCpuFeaturesTest, HighestFunctionZeroReportsNoFeatures) {
  ScriptedCpu cpu = MakeCpu("GenuineIntel", Signature(0, 0, 6, 8, 0), kEdxMmx | kEdxSse2, 0);
  cpu.functions[0].eax = 0;
  CpuFeatures record;
  EXPECT_EQ(DetectCpuFeatures(&record, cpu), 0);
  EXPECT_STREQ(record.vendor, "GenuineIntel");
}

// --- the real processor -----------------------------------------------------

#if defined(__x86_64__) || defined(__i386__)

TEST(RealProcessorTest, MmxSseAndSse2AreReportedAndRun) {
  CpuFeatures record;
  const int32_t bits = DetectCpuFeatures(&record);
  EXPECT_EQ(bits, record.featureBits);
  // Every x86 processor these programs run on has SSE2, and both operating
  // systems save its state.
  for (int32_t bit : {kCpuMmx, kCpuSse, kCpuSse2}) {
    EXPECT_TRUE(bits & bit) << bit;
    EXPECT_TRUE(record.usableBits & bit) << bit;
    EXPECT_EQ(ProbeInstruction(bit), 1) << bit;
  }
  EXPECT_EQ(record.usableBits & ~record.featureBits, 0);
  EXPECT_EQ(record.examinedBits, 63);
  EXPECT_EQ(std::strlen(record.vendor), 12u);
  EXPECT_EQ(ChooseVectorForm(record), VectorForm::kSse2);
  EXPECT_EQ(ProcessCpuFeatureBits(), bits);
}

TEST(RealProcessorTest, BitsWithoutAProbeRunNothing) {
  for (int32_t bit : {0, kCpuSse3, kCpuEcxBit8, 3, 64, -1})
    EXPECT_EQ(ProbeInstruction(bit), 1) << bit;
}

bool IsIntel() {
  CpuFeatures record;
  return DetectCpuFeatures(&record) != 0 && std::strcmp(record.vendor, "GenuineIntel") == 0;
}

// Intel processors never had 3DNow!: the reciprocal instruction raises an
// invalid-opcode fault, which the probe must catch. A probe that does not
// really run the instruction would answer 1 here.
TEST(RealProcessorTest, ThreeDNowFaultIsCaught) {
  if (!IsIntel()) GTEST_SKIP() << "3DNow! may run on this vendor's processors";
  CpuFeatures record;
  DetectCpuFeatures(&record);
  EXPECT_FALSE(record.featureBits & kCpu3DNow);
  EXPECT_FALSE(record.usableBits & kCpu3DNow);
  EXPECT_EQ(ProbeInstruction(kCpu3DNow), 0);
  // The guard is gone afterwards and the process still runs vector code.
  EXPECT_EQ(ProbeInstruction(kCpuSse2), 1);
}

TEST(RealProcessorTest, ConcurrentFaultingProbesAreEachCaught) {
  if (!IsIntel()) GTEST_SKIP() << "needs a processor on which 3DNow! faults";
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&wrong] {
      for (int i = 0; i < 50; ++i) {
        if (ProbeInstruction(kCpu3DNow) != 0) ++wrong;
        if (ProbeInstruction(kCpuMmx) != 1) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

extern "C" void HostIllegalInstructionHandler(int) {}

// A host application's own handler for illegal instructions must be in place
// again once detection is over.
TEST(RealProcessorTest, HostHandlerIsRestoredAfterAFaultingProbe) {
  auto* before = std::signal(SIGILL, HostIllegalInstructionHandler);
  ProbeInstruction(kCpu3DNow);
  ProbeInstruction(kCpuSse);
  auto* current = std::signal(SIGILL, before);
  EXPECT_EQ(current, &HostIllegalInstructionHandler);
}

#endif

}  // namespace
}  // namespace varnel
