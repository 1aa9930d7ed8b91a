#include "settings/settings_store.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace varnel {

namespace {

constexpr const char* kGainKey = "Gain";
// The model whose values "Gain" and "Filter" hold.
constexpr const char* kModelValue = "Model";
constexpr const char* kFilterKey = "Filter";
constexpr const char* kGrayKey = "Gray";

std::string SubkeyPath(const char* name) { return std::string(kSettingsKeyPath) + "\\" + name; }

std::string PresetPath(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "Size_%02d", index);
  return SubkeyPath(name);
}

// What a stored value may hold before it is put into its field.
enum class Domain {
  kAny,       // taken as stored
  kFlag,      // read as 0/1
  kRange,     // kept only inside [min, max]
  kNotBelow,  // kept only when min or more
};

struct Field {
  const char* name;
  Domain domain = Domain::kAny;
  int32_t min = 0;
  int32_t max = 0;
};

// Reads one value into *field when it is there, a REG_DWORD of four bytes
// and inside its domain; otherwise the field keeps what it held.
void ReadField(RegistryKey& key, const Field& spec, int32_t* field) {
  int32_t value = 0;
  if (!key.ReadDword(spec.name, &value)) return;
  switch (spec.domain) {
    case Domain::kAny:
      break;
    case Domain::kFlag:
      value = value != 0 ? 1 : 0;
      break;
    case Domain::kRange:
      if (value < spec.min || value > spec.max) return;
      break;
    case Domain::kNotBelow:
      if (value < spec.min) return;
      break;
  }
  *field = value;
}

// The values of a preset subkey, in the instance's order. The window is
// checked against the model by the instance's size check, not here.
const Field kPresetFields[] = {{"TH"}, {"TV"}, {"EH"}, {"EV"}, {"EHS"}, {"EVS"}, {"Buf"}};

int32_t* PresetField(SizePreset* preset, int index) {
  int32_t* fields[] = {&preset->hTotal, &preset->vTotal, &preset->width,      &preset->height,
                       &preset->hStart, &preset->vStart, &preset->bufferCount};
  return fields[index];
}

void ReadPreset(RegistryKey& key, SizePreset* preset) {
  for (int i = 0; i < 7; ++i) ReadField(key, kPresetFields[i], PresetField(preset, i));
}

bool WritePreset(RegistryKey& key, const SizePreset& preset) {
  SizePreset copy = preset;
  bool ok = true;
  for (int i = 0; i < 7; ++i)
    ok = key.WriteDword(kPresetFields[i].name, *PresetField(&copy, i)) && ok;
  return ok;
}

// The main values, in the order they are read and written.
const Field kMainFields[] = {
    {"Size", Domain::kRange, 0, kSizePresetSlots - 1},
    {"Color", Domain::kRange, 0, 5},
    {"SubSample", Domain::kRange, 0, 3},
    {"WaitTime", Domain::kNotBelow, 0, 0},
    {"Clock", Domain::kFlag},
    {"SyncV", Domain::kFlag},
    {"SyncH", Domain::kFlag},
    {"BwMode", Domain::kRange, 0, 4},
};

int32_t* MainField(CameraSettings* s, int index) {
  int32_t* fields[] = {&s->size,  &s->color, &s->subSample, &s->waitTime,
                       &s->clock, &s->syncV, &s->syncH,     &s->bwMode};
  return fields[index];
}

void ReadMain(RegistryKey& key, CameraSettings* settings) {
  for (int i = 0; i < 8; ++i) ReadField(key, kMainFields[i], MainField(settings, i));
}

bool WriteMain(RegistryKey& key, const CameraSettings& settings) {
  CameraSettings copy = settings;
  bool ok = true;
  for (int i = 0; i < 8; ++i) ok = key.WriteDword(kMainFields[i].name, *MainField(&copy, i)) && ok;
  return ok;
}

// Filter ints 0..9 and 12..19 under their stored names.
struct BlockField {
  Field field;
  int FilterSettings::*member;
};

const BlockField kFilterFields[] = {
    {{"Brightness"}, &FilterSettings::brightness},
    {{"Contrast"}, &FilterSettings::contrast},
    {{"Hue"}, &FilterSettings::hue},
    {{"Saturation"}, &FilterSettings::saturation},
    {{"Sharpness"}, &FilterSettings::sharpness},
    {{"R_Gain"}, &FilterSettings::bayerGainRed},
    {{"G_Gain"}, &FilterSettings::bayerGainGreen},
    {{"B_Gain"}, &FilterSettings::bayerGainBlue},
    {{"Gamma"}, &FilterSettings::gamma},
    {{"BayerMode", Domain::kRange, 0, 3}, &FilterSettings::bayerPhase},
};

const BlockField kGrayFields[] = {
    {{"GainR1"}, &FilterSettings::grayGainR},      {{"GainG1"}, &FilterSettings::grayGainG1},
    {{"GainG2"}, &FilterSettings::grayGainG2},     {{"GainB1"}, &FilterSettings::grayGainB},
    {{"OffsetR1"}, &FilterSettings::grayOffsetR},  {{"OffsetG1"}, &FilterSettings::grayOffsetG1},
    {{"OffsetG2"}, &FilterSettings::grayOffsetG2}, {{"OffsetB1"}, &FilterSettings::grayOffsetB},
};

template <size_t N>
bool LoadBlock(Registry& registry, const char* subkey, const BlockField (&fields)[N],
               FilterSettings* filters) {
  auto session = registry.Begin(RegistryAccess::kRead);
  if (session->OpenKey(kSettingsKeyPath) == nullptr) return false;
  auto key = session->OpenKey(SubkeyPath(subkey));
  if (key == nullptr) return false;
  for (const BlockField& f : fields) ReadField(*key, f.field, &(filters->*f.member));
  return true;
}

// The model a subkey says its values were saved for; 0 when it does not say.
ModelCode StoredModel(RegistryKey& key) {
  int32_t model = 0;
  return key.ReadDword(kModelValue, &model) ? static_cast<ModelCode>(model) : 0;
}

bool WriteModel(RegistryKey& key, ModelCode model) {
  return key.WriteDword(kModelValue, static_cast<int32_t>(model));
}

template <size_t N>
bool SaveBlock(Registry& registry, const char* subkey, const BlockField (&fields)[N],
               const FilterSettings& filters, ModelCode model) {
  auto session = registry.Begin(RegistryAccess::kWrite);
  if (session->CreateKey(kSettingsKeyPath) == nullptr) return false;
  auto key = session->CreateKey(SubkeyPath(subkey));
  if (key == nullptr) return false;
  bool ok = true;
  for (const BlockField& f : fields) ok = key->WriteDword(f.field.name, filters.*f.member) && ok;
  if (model != 0) ok = WriteModel(*key, model) && ok;
  return session->Commit() && ok;
}

const Field kAnalogFields[] = {
    {"Global"},
    {"Exposure"},
    {"V_Mirror", Domain::kFlag},
    {"H_Mirror", Domain::kFlag},
    {"AutoIris", Domain::kRange, 0, 2},
};

int32_t* AnalogField(AnalogSettings* a, int index) {
  int32_t* fields[] = {&a->globalGain, &a->exposureTime, &a->mirrorV, &a->mirrorH, &a->autoIris};
  return fields[index];
}

int32_t Clamp(int32_t value, ValueRange range) {
  if (range.minimum > range.maximum) return value;
  return std::clamp(value, static_cast<int32_t>(range.minimum),
                    static_cast<int32_t>(range.maximum));
}

// The first run: the main key with its first-run values and one preset, the
// model's full area.
bool CreateFirstRun(RegistrySession& session, const SizePreset& preset) {
  auto main = session.CreateKey(kSettingsKeyPath);
  auto entry = session.CreateKey(PresetPath(0));
  if (main == nullptr || entry == nullptr) return false;
  const bool written = WritePreset(*entry, preset) && WriteMain(*main, kFirstRunCameraSettings);
  return session.Commit() && written;
}

}  // namespace

bool LoadSizePreset(Registry& registry, int maxWidth, int maxHeight, SizePreset* preset) {
  auto session = registry.Begin(RegistryAccess::kRead);
  if (session->OpenKey(kSettingsKeyPath) == nullptr) {
    // First run. The key is looked for again under the writers' lock: another
    // process may have created it meanwhile, and its values are then read.
    session = registry.Begin(RegistryAccess::kWrite);
    if (session->OpenKey(kSettingsKeyPath) == nullptr) {
      const SizePreset full{maxWidth, maxHeight, maxWidth, maxHeight, 0, 0, 10};
      // The full area is what the instance uses also when the store cannot
      // be written, so that a first run behaves alike either way.
      *preset = full;
      CreateFirstRun(*session, full);
      return false;
    }
  }
  auto main = session->OpenKey(kSettingsKeyPath);
  if (main == nullptr) return false;
  int32_t size = -1;
  ReadField(*main, kMainFields[0], &size);
  if (size < 0) return false;
  auto entry = session->OpenKey(PresetPath(size));
  if (entry == nullptr) return false;
  ReadPreset(*entry, preset);
  return true;
}

bool LoadCameraSettings(Registry& registry, CameraSettings* settings) {
  auto session = registry.Begin(RegistryAccess::kRead);
  auto main = session->OpenKey(kSettingsKeyPath);
  if (main == nullptr) return false;
  ReadMain(*main, settings);
  return true;
}

bool ReadSizePresets(Registry& registry, std::vector<SizePreset>* presets) {
  presets->clear();
  auto session = registry.Begin(RegistryAccess::kRead);
  if (session->OpenKey(kSettingsKeyPath) == nullptr) return false;
  for (int i = 0; i < kSizePresetSlots; ++i) {
    auto entry = session->OpenKey(PresetPath(i));
    if (entry == nullptr) break;
    SizePreset preset;
    ReadPreset(*entry, &preset);
    presets->push_back(preset);
  }
  return true;
}

void ApplyAnalogDefaults(ModelCode model, AnalogSettings* analog) {
  if (model == kModelHZF6) {
    analog->mirrorV = 1;
  } else if (model == kModelHYD4 || model == kModelHZG7) {
    analog->mirrorV = 0;
    analog->globalGain = 128;
    analog->exposureTime = 64;
  } else if (model == kModelHXJ9 || model == kModelHXA1 || model == kModelHXB2 ||
             model == kModelHWH8) {
    analog->mirrorV = 1;
    analog->globalGain = 14;
    analog->exposureTime = 1095;
    analog->autoIris = 0;
  } else {
    analog->globalGain = 16;
    analog->exposureTime = 480;
    analog->autoIris = 0;
  }
}

void ApplyFilterDefaults(ModelCode model, FilterSettings* filters) {
  filters->brightness = 0;
  filters->contrast = 0;
  filters->hue = 0;
  filters->saturation = 0;
  filters->sharpness = 0;
  filters->bayerGainRed = 100;
  filters->bayerGainGreen = 100;
  filters->bayerGainBlue = 100;
  filters->gamma = 100;
  // Ints 20..28: the reserved ints and the white-balance flags.
  for (int& reserved : filters->reserved20) reserved = 0;
  filters->autoWhiteBalance = 0;
  filters->whiteBalanceOnce[0] = 0;
  filters->whiteBalanceOnce[1] = 0;
  filters->reserved28 = 0;
  filters->bayerPhase = DefaultBayerPhase(model);
}

int DefaultMirrorV(ModelCode model) {
  return model == kModelHZF6 || model == kModelHXJ9 || model == kModelHXA1 || model == kModelHXB2 ||
                 model == kModelHWH8
             ? 1
             : 0;
}

int DefaultBayerPhase(ModelCode model) {
  const bool phase3 = model == kModelR2T || model == kModelHXJ9 || model == kModelHXA1 ||
                      model == kModelHXB2 || model == kModelHXC3 || model == kModelHYD4 ||
                      model == kModelHWH8;
  return phase3 ? 3 : 1;
}

int PhaseAfterMirrorChange(int phase, bool vertical) {
  if (phase < 0 || phase > 3) return phase;
  return vertical ? phase ^ 1 : phase ^ 2;
}

int BayerPhaseForMirrors(ModelCode model, int mirrorV, int mirrorH) {
  int phase = DefaultBayerPhase(model);
  if ((mirrorV != 0) != (DefaultMirrorV(model) != 0)) phase = PhaseAfterMirrorChange(phase, true);
  if (mirrorH != 0) phase = PhaseAfterMirrorChange(phase, false);
  return phase;
}

void ApplyGrayDefaults(FilterSettings* filters) {
  filters->grayGainR = 128;
  filters->grayGainG1 = 128;
  filters->grayGainG2 = 128;
  filters->grayGainB = 128;
  filters->grayOffsetR = 0;
  filters->grayOffsetG1 = 0;
  filters->grayOffsetG2 = 0;
  filters->grayOffsetB = 0;
}

StoredFor LoadAnalogSettings(Registry& registry, ModelCode model, const AnalogSettings& fresh,
                             ValueRange gainRange, ValueRange exposureRange,
                             AnalogSettings* analog) {
  auto session = registry.Begin(RegistryAccess::kRead);
  std::unique_ptr<RegistryKey> key;
  if (session->OpenKey(kSettingsKeyPath) != nullptr) key = session->OpenKey(SubkeyPath(kGainKey));
  *analog = fresh;
  StoredFor outcome = StoredFor::kNothing;
  if (key != nullptr) {
    const ModelCode stored = StoredModel(*key);
    if (stored != 0 && stored != model) {
      // Another model's mirrors, gain and exposure would turn this model's
      // picture over or expose it wrongly; only the automatic mode carries.
      ReadField(*key, kAnalogFields[4], &analog->autoIris);
      outcome = StoredFor::kOtherModel;
    } else {
      for (int i = 0; i < 5; ++i) ReadField(*key, kAnalogFields[i], AnalogField(analog, i));
      outcome = StoredFor::kThisModel;
    }
  }
  // A gain stored by a wide-gain model must not reach a narrow one (which
  // would take its low byte).
  analog->globalGain = Clamp(analog->globalGain, gainRange);
  analog->exposureTime = Clamp(analog->exposureTime, exposureRange);
  return outcome;
}

StoredFor LoadFilterSettings(Registry& registry, ModelCode model, FilterSettings* filters) {
  auto session = registry.Begin(RegistryAccess::kRead);
  std::unique_ptr<RegistryKey> key;
  if (session->OpenKey(kSettingsKeyPath) != nullptr) key = session->OpenKey(SubkeyPath(kFilterKey));
  if (key == nullptr) {
    ApplyFilterDefaults(model, filters);
    return StoredFor::kNothing;
  }
  const ModelCode stored = StoredModel(*key);
  const int phase = filters->bayerPhase;
  for (const BlockField& f : kFilterFields) ReadField(*key, f.field, &(filters->*f.member));
  if (stored != 0 && stored != model) {
    // The Bayer phase names the colours of another model's sensor.
    filters->bayerPhase = phase;
    return StoredFor::kOtherModel;
  }
  return StoredFor::kThisModel;
}

bool LoadGraySettings(Registry& registry, FilterSettings* filters) {
  if (LoadBlock(registry, kGrayKey, kGrayFields, filters)) return true;
  ApplyGrayDefaults(filters);
  return false;
}

bool SaveAnalogSettings(Registry& registry, ModelCode model, const AnalogSettings& analog) {
  auto session = registry.Begin(RegistryAccess::kWrite);
  if (session->CreateKey(kSettingsKeyPath) == nullptr) return false;
  auto key = session->CreateKey(SubkeyPath(kGainKey));
  if (key == nullptr) return false;
  AnalogSettings copy = analog;
  bool ok = true;
  for (int i = 0; i < 5; ++i)
    ok = key->WriteDword(kAnalogFields[i].name, *AnalogField(&copy, i)) && ok;
  if (model != 0) ok = WriteModel(*key, model) && ok;
  return session->Commit() && ok;
}

bool SaveFilterSettings(Registry& registry, ModelCode model, const FilterSettings& filters) {
  return SaveBlock(registry, kFilterKey, kFilterFields, filters, model);
}

bool SaveGraySettings(Registry& registry, const FilterSettings& filters) {
  return SaveBlock(registry, kGrayKey, kGrayFields, filters, 0);
}

bool LoadSizeTable(Registry& registry, const TableCamera* camera, SizeTable* table) {
  auto session = registry.Begin(RegistryAccess::kRead);
  auto main = session->OpenKey(kSettingsKeyPath);
  if (main == nullptr) return false;
  int count = 0;
  for (; count < kSizePresetSlots; ++count) {
    auto entry = session->OpenKey(PresetPath(count));
    if (entry == nullptr) break;
    SizePreset& preset = table->entries[count];
    ReadPreset(*entry, &preset);
    if (camera == nullptr) continue;
    if (camera->model == kModelHWH8) {
      preset.hTotal = 8192;
      preset.vTotal = 8192;
    } else if (camera->maxWidth > 0 && camera->maxHeight > 0) {
      preset.hTotal = camera->maxWidth;
      preset.vTotal = camera->maxHeight;
    } else {
      preset.hTotal = 800;
      preset.vTotal = 600;
    }
  }
  table->count = count;
  ReadMain(*main, &table->main);
  return true;
}

bool SaveSizeTable(Registry& registry, const SizeTable& table) {
  auto session = registry.Begin(RegistryAccess::kWrite);
  auto main = session->CreateKey(kSettingsKeyPath);
  if (main == nullptr) return false;
  const int count = std::clamp(table.count, 0, kSizePresetSlots);
  int written = 0;
  bool ok = true;
  for (; written < count; ++written) {
    auto entry = session->CreateKey(PresetPath(written));
    if (entry == nullptr) break;
    ok = WritePreset(*entry, table.entries[written]) && ok;
  }
  CameraSettings values = table.main;
  if (values.size < 0 || values.size >= written) values.size = 0;
  ok = WriteMain(*main, values) && ok;
  return session->Commit() && ok;
}

}  // namespace varnel
