// Fuzz target for the Linux settings store: the input is the whole store file.
//
// Each input goes through three checks:
//  1. The parser takes any bytes: it either reads the file or refuses it as a
//     whole (with a reason and an empty tree).
//  2. What the writer makes of a tree it read, it reads back: the text parses
//     into the same tree, and writing that again gives the same text.
//  3. A file the parser reads goes through the settings loader as the camera
//     instance uses it: every loaded field lies in its documented domain;
//     saving what was loaded and loading again gives the same values; and the
//     save keeps every key and value it does not own as it was.
// Any broken promise stops the run with a message and the input kept.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "platform/registry.h"
#include "platform/registry_file.h"
#include "settings/settings_store.h"

namespace varnel {
namespace {

std::string gStorePath;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "store fuzz: %s\n", what.c_str());
  std::fflush(stderr);
  std::abort();
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

bool SameValue(const RegistryFileValue& a, const RegistryFileValue& b) {
  return a.name == b.name && a.isDword == b.isDword && a.dword == b.dword && a.data == b.data;
}

bool SameKey(const RegistryFileKey& a, const RegistryFileKey& b) {
  if (a.path != b.path || a.values.size() != b.values.size()) return false;
  for (size_t i = 0; i < a.values.size(); ++i) {
    if (!SameValue(a.values[i], b.values[i])) return false;
  }
  return true;
}

bool SameTree(const RegistryFile& a, const RegistryFile& b) {
  if (a.Keys().size() != b.Keys().size()) return false;
  for (size_t i = 0; i < a.Keys().size(); ++i) {
    if (!SameKey(a.Keys()[i], b.Keys()[i])) return false;
  }
  return true;
}

// True for the settings key and the keys below it (names compare without
// regard to case, as the registry's do).
bool IsOurs(std::string_view path) {
  const std::string ours = std::string("HKEY_CURRENT_USER\\") + kSettingsKeyPath;
  if (path.size() < ours.size() || !RegistryNamesEqual(path.substr(0, ours.size()), ours)) {
    return false;
  }
  return path.size() == ours.size() || path[ours.size()] == '\\';
}

void CheckParserAndWriter(std::string_view bytes, RegistryFile* parsed, bool* readable) {
  std::string error;
  *readable = RegistryFile::Parse(bytes, parsed, &error);
  if (!*readable) {
    Check(parsed->Empty(), "a refused file left part of a tree");
    Check(!error.empty(), "a refused file without a reason");
    return;
  }
  const std::string text = parsed->Format();
  RegistryFile again;
  Check(RegistryFile::Parse(text, &again, &error), "written text does not parse: " + error);
  Check(again.Format() == text, "written text changes when read and written again");
  Check(SameTree(*parsed, again), "written text reads back another tree");
}

void WriteStore(std::string_view bytes) {
  std::ofstream out(gStorePath, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  Check(out.good(), "cannot write the store file");
}

bool ReadStoreFile(RegistryFile* file) {
  std::ifstream in(gStorePath, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  return RegistryFile::Parse(bytes, file, &error);
}

struct Loaded {
  CameraSettings main = kFirstRunCameraSettings;
  bool haveMain = false;
  AnalogSettings analog;
  FilterSettings filters{};
  SizeTable table;
  bool haveTable = false;
};

Loaded Load(Registry& registry, ModelCode model, ValueRange gain, ValueRange exposure,
            const TableCamera& camera) {
  Loaded loaded;
  loaded.haveMain = LoadCameraSettings(registry, &loaded.main);
  AnalogSettings fresh;
  ApplyAnalogDefaults(model, &fresh);
  LoadAnalogSettings(registry, model, fresh, gain, exposure, &loaded.analog);
  ApplyFilterDefaults(model, &loaded.filters);
  ApplyGrayDefaults(&loaded.filters);
  LoadFilterSettings(registry, model, &loaded.filters);
  LoadGraySettings(registry, &loaded.filters);
  loaded.haveTable = LoadSizeTable(registry, &camera, &loaded.table);
  return loaded;
}

void CheckDomains(const Loaded& l, ValueRange gain, ValueRange exposure) {
  const CameraSettings& m = l.main;
  Check(m.size >= 0 && m.size < kSizePresetSlots, "Size outside 0..99");
  Check(m.color >= 0 && m.color <= 5, "Color outside 0..5");
  Check(m.subSample >= 0 && m.subSample <= 3, "SubSample outside 0..3");
  Check(m.waitTime >= 0, "negative WaitTime");
  for (int flag : {m.clock, m.syncV, m.syncH})
    Check(flag == 0 || flag == 1, "Clock or sync not 0/1");
  Check(m.bwMode >= 0 && m.bwMode <= 4, "BwMode outside 0..4");
  const AnalogSettings& a = l.analog;
  Check(a.globalGain >= gain.minimum && a.globalGain <= gain.maximum, "gain not clamped");
  Check(a.exposureTime >= exposure.minimum && a.exposureTime <= exposure.maximum,
        "exposure not clamped");
  Check((a.mirrorV == 0 || a.mirrorV == 1) && (a.mirrorH == 0 || a.mirrorH == 1), "mirror not 0/1");
  Check(a.autoIris >= 0 && a.autoIris <= 2, "AutoIris outside 0..2");
  Check(l.filters.bayerPhase >= 0 && l.filters.bayerPhase <= 3, "BayerMode outside 0..3");
  Check(l.table.count >= 0 && l.table.count <= kSizePresetSlots, "size table count");
}

bool SameFilterValues(const FilterSettings& a, const FilterSettings& b) {
  const int* x = reinterpret_cast<const int*>(&a);
  const int* y = reinterpret_cast<const int*>(&b);
  for (int i = 0; i < 20; ++i) {
    if ((i < 10 || i >= 12) && x[i] != y[i]) return false;
  }
  return true;
}

bool SamePreset(const SizePreset& a, const SizePreset& b) {
  return a.hTotal == b.hTotal && a.vTotal == b.vTotal && a.width == b.width &&
         a.height == b.height && a.hStart == b.hStart && a.vStart == b.vStart &&
         a.bufferCount == b.bufferCount;
}

bool SameMain(const CameraSettings& a, const CameraSettings& b) {
  return a.size == b.size && a.color == b.color && a.subSample == b.subSample &&
         a.waitTime == b.waitTime && a.clock == b.clock && a.syncV == b.syncV &&
         a.syncH == b.syncH && a.bwMode == b.bwMode;
}

// Every key outside the settings key is kept in order with its values; inside
// it, every value the store did not write is kept (the store writes dwords).
void CheckOthersKept(const RegistryFile& before, const RegistryFile& after) {
  std::vector<const RegistryFileKey*> theirsBefore, theirsAfter;
  for (const RegistryFileKey& key : before.Keys()) {
    if (!IsOurs(key.path)) theirsBefore.push_back(&key);
  }
  for (const RegistryFileKey& key : after.Keys()) {
    if (!IsOurs(key.path)) theirsAfter.push_back(&key);
  }
  Check(theirsBefore.size() == theirsAfter.size(), "a save added or lost another program's key");
  for (size_t i = 0; i < theirsBefore.size(); ++i) {
    Check(SameKey(*theirsBefore[i], *theirsAfter[i]),
          "a save changed another program's key " + theirsBefore[i]->path);
  }
  for (const RegistryFileKey& key : before.Keys()) {
    if (!IsOurs(key.path)) continue;
    const RegistryFileKey* now = after.FindKey(key.path);
    Check(now != nullptr, "a save lost the key " + key.path);
    for (const RegistryFileValue& value : key.values) {
      const RegistryFileValue* kept = RegistryFile::FindValue(*now, value.name);
      Check(kept != nullptr, "a save lost the value " + value.name + " of " + key.path);
      Check(SameValue(*kept, value) || kept->isDword,
            "a save changed the value " + value.name + " of " + key.path);
    }
  }
}

void CheckLoader(const RegistryFile& parsed, std::string_view bytes) {
  // The camera the settings are loaded for: chosen from the input so that
  // every model's defaults and ranges are reached.
  const size_t pick = bytes.empty() ? 0 : static_cast<uint8_t>(bytes.back());
  const ModelCode model = kModelList[pick % 9];
  const ValueRange gain = (pick & 16) != 0 ? ValueRange{1, 63} : ValueRange{0, 1023};
  const ValueRange exposure = (pick & 32) != 0 ? ValueRange{1, 65535} : ValueRange{-5, 5};
  const TableCamera camera{model, (pick & 64) != 0 ? 1280 : 0, (pick & 64) != 0 ? 1024 : 0};

  WriteStore(bytes);
  Registry& registry = SystemRegistry();
  const Loaded first = Load(registry, model, gain, exposure, camera);
  CheckDomains(first, gain, exposure);

  Check(SaveAnalogSettings(registry, model, first.analog), "analog values not saved");
  Check(SaveFilterSettings(registry, model, first.filters), "filter values not saved");
  Check(SaveGraySettings(registry, first.filters), "gray values not saved");
  if (first.haveTable) Check(SaveSizeTable(registry, first.table), "size table not saved");

  const Loaded second = Load(registry, model, gain, exposure, camera);
  Check(second.haveMain, "no main key after a save");
  Check(first.analog.globalGain == second.analog.globalGain &&
            first.analog.exposureTime == second.analog.exposureTime &&
            first.analog.mirrorV == second.analog.mirrorV &&
            first.analog.mirrorH == second.analog.mirrorH &&
            first.analog.autoIris == second.analog.autoIris,
        "analog values read back differently");
  Check(SameFilterValues(first.filters, second.filters), "filter values read back differently");
  if (first.haveTable) {
    Check(second.haveTable && second.table.count == first.table.count,
          "size table count read back differently");
    for (int i = 0; i < first.table.count; ++i) {
      Check(SamePreset(first.table.entries[i], second.table.entries[i]),
            "size table entry " + std::to_string(i) + " read back differently");
    }
    CameraSettings expected = first.table.main;
    if (expected.size >= first.table.count) expected.size = 0;
    Check(SameMain(expected, second.table.main), "main values read back differently");
    Check(SameMain(second.table.main, second.main), "main values differ between readers");
  }

  RegistryFile after;
  Check(ReadStoreFile(&after), "the saved file does not parse");
  CheckOthersKept(parsed, after);
}

}  // namespace
}  // namespace varnel

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The store lives in memory where the system offers it: a save flushes the
  // file to the disk, which on a real disk would make each input slow.
  std::string base = "/dev/shm";
  if (access(base.c_str(), W_OK) != 0) base = std::filesystem::temp_directory_path().string();
  std::string directory = base + "/varnel-store-fuzz-XXXXXX";
  if (mkdtemp(directory.data()) == nullptr) varnel::Fail("no temporary directory");
  varnel::gStorePath = directory + "/registry.reg";
  setenv("VARNEL_REGISTRY", varnel::gStorePath.c_str(), 1);
  static std::string removeAtExit;
  removeAtExit = directory;
  std::atexit([] {
    std::error_code ignored;
    std::filesystem::remove_all(removeAtExit, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  varnel::RegistryFile parsed;
  bool readable = false;
  varnel::CheckParserAndWriter(bytes, &parsed, &readable);
  // A file the parser refuses is read as an empty store whatever it holds;
  // the file store's tests cover that path, and it would only repeat here.
  if (readable) varnel::CheckLoader(parsed, bytes);
  return 0;
}
