#include "imaging/cpu_features.h"

#include <cstring>

#include "platform/cpu_probe.h"

namespace varnel {

namespace {

class SystemSource final : public CpuSource {
 public:
  bool Identify(uint32_t function, CpuidRegisters& out) override {
    uint32_t registers[4] = {};
    if (!PlatformCpuid(function, registers)) return false;
    out = CpuidRegisters{registers[0], registers[1], registers[2], registers[3]};
    return true;
  }
  int Probe(int32_t bit) override { return PlatformProbeInstruction(bit); }
};

struct NameEntry {
  int32_t family;
  int32_t modelFirst;  // -1 with modelLast -1: any model
  int32_t modelLast;
  const char* name;
};

constexpr NameEntry kIntelNames[] = {
    {4, 0, 1, "INTEL 486DX"},         {4, 2, 2, "INTEL 486SX"},
    {4, 3, 3, "INTEL 486DX2"},        {4, 4, 4, "INTEL 486SL"},
    {4, 5, 5, "INTEL 486SX2"},        {4, 7, 7, "INTEL 486DX2E"},
    {4, 8, 8, "INTEL 486DX4"},        {5, 1, 3, "INTEL Pentium"},
    {5, 4, 4, "INTEL Pentium-MMX"},   {6, 1, 1, "INTEL Pentium-Pro"},
    {6, 3, 3, "INTEL Pentium-II"},    {6, 5, 5, "INTEL Pentium-II"},
    {6, 6, 6, "INTEL Celeron"},       {6, 7, 8, "INTEL Pentium-III"},
    {6, 10, 10, "INTEL Pentium-III"}, {15, 0, 0, "INTEL Pentium-4"},
};

constexpr NameEntry kAmdNames[] = {
    {4, -1, -1, "AMD Am486"}, {5, 0, 3, "AMD K5"},    {5, 6, 7, "AMD K6"},
    {5, 8, 8, "AMD K6-2"},    {5, 9, 15, "AMD K6-3"}, {6, -1, -1, "AMD ATHLON"},
};

template <size_t N>
const char* Lookup(const NameEntry (&table)[N], int32_t family, int32_t model) {
  for (const NameEntry& entry : table) {
    if (entry.family != family) continue;
    if (entry.modelFirst < 0 || (model >= entry.modelFirst && model <= entry.modelLast)) {
      return entry.name;
    }
  }
  return nullptr;
}

void CopyVendor(const CpuidRegisters& function0, char (&vendor)[kCpuVendorSize]) {
  // The vendor string is EBX, EDX, ECX in that order, four characters each.
  std::memcpy(vendor, &function0.ebx, 4);
  std::memcpy(vendor + 4, &function0.edx, 4);
  std::memcpy(vendor + 8, &function0.ecx, 4);
  vendor[12] = '\0';
}

}  // namespace

CpuSource& SystemCpuSource() {
  static SystemSource source;
  return source;
}

void NameProcessor(int32_t family, int32_t model, const char* vendor, char* name) {
  const char* found = nullptr;
  if (vendor != nullptr) {
    if (std::strcmp(vendor, "GenuineIntel") == 0) {
      found = Lookup(kIntelNames, family, model);
    } else if (std::strcmp(vendor, "AuthenticAMD") == 0) {
      found = Lookup(kAmdNames, family, model);
    } else if (std::strcmp(vendor, "CyrixInstead") == 0) {
      found = "Cyrix";
    } else if (std::strcmp(vendor, "CentaurHauls") == 0) {
      found = "Centaur";
    }
  }
  const char* text = found ? found : "Unknown";
  std::strncpy(name, text, kCpuModelNameSize - 1);
  name[kCpuModelNameSize - 1] = '\0';
}

int32_t DetectCpuFeatures(CpuFeatures* record) {
  return DetectCpuFeatures(record, SystemCpuSource());
}

int32_t DetectCpuFeatures(CpuFeatures* record, CpuSource& source) {
  CpuidRegisters function0;
  if (!source.Identify(0, function0)) return 0;

  // A processor whose highest standard function is 0 has no signature or
  // feature words; what function 1 would return there is undefined, so it
  // counts as reporting nothing.
  CpuidRegisters function1;
  if (function0.eax < 1 || !source.Identify(1, function1)) function1 = CpuidRegisters{};

  uint32_t extendedEdx = 0;
  CpuidRegisters extendedMax;
  if (source.Identify(0x80000000u, extendedMax) && extendedMax.eax >= 0x80000001u) {
    CpuidRegisters extended;
    if (source.Identify(0x80000001u, extended)) extendedEdx = extended.edx;
  }

  // In the order the extensions are examined: MMX, 3DNow!, SSE, SSE2, SSE3,
  // ECX bit 8.
  const struct {
    int32_t bit;
    bool reported;
  } checks[] = {
      {kCpuMmx, (function1.edx & (1u << 23)) != 0}, {kCpu3DNow, (extendedEdx & (1u << 31)) != 0},
      {kCpuSse, (function1.edx & (1u << 25)) != 0}, {kCpuSse2, (function1.edx & (1u << 26)) != 0},
      {kCpuSse3, (function1.ecx & (1u << 0)) != 0}, {kCpuEcxBit8, (function1.ecx & (1u << 8)) != 0},
  };
  int32_t featureBits = 0;
  int32_t usableBits = 0;
  for (const auto& check : checks) {
    if (!check.reported) continue;
    featureBits |= check.bit;
    if (source.Probe(check.bit) == 1) usableBits |= check.bit;
  }

  if (record != nullptr) {
    std::memset(record, 0, sizeof *record);
    const uint32_t signature = function1.eax;
    const auto baseFamily = static_cast<int32_t>((signature >> 8) & 0xF);
    record->family =
        baseFamily == 15 ? static_cast<int32_t>((signature >> 20) & 0xFF) * 16 + 15 : baseFamily;
    record->model = static_cast<int32_t>((signature >> 4) & 0xF);
    record->stepping = static_cast<int32_t>(signature & 0xF);
    record->featureBits = featureBits;
    record->usableBits = usableBits;
    CopyVendor(function0, record->vendor);
    NameProcessor(record->family, record->model, record->vendor, record->modelName);
    record->examinedBits = kCpuExaminedBits;
  }
  return featureBits;
}

int ProbeInstruction(int32_t bit) { return PlatformProbeInstruction(bit); }

int32_t ProcessCpuFeatureBits() {
  // A function-local static is initialised once even when several threads
  // ask first at the same time.
  static const int32_t bits = DetectCpuFeatures(nullptr);
  return bits;
}

const CpuFeatures& ProcessCpuFeatures() {
  static const CpuFeatures features = [] {
    CpuFeatures record{};
    DetectCpuFeatures(&record);
    return record;
  }();
  return features;
}

}  // namespace varnel
