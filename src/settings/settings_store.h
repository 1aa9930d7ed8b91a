// The settings that survive the process: one set per user, shared by every
// camera instance and every camera model, kept in the current user's registry
// under "Software\Holvik\VarnelRadeSdk" (docs/settings.md lists every value).
//
// The main key holds the capture-mode values and points at one of up to 100
// stored capture windows ("Size_00".."Size_99"); the subkeys "Gain", "Filter"
// and "Gray" hold the analog, image filter and gray filter values. Every value
// is a REG_DWORD read into a signed 32-bit field.
//
// Reading never trusts the store: a value that is missing, of another type or
// size, or outside its field's domain leaves the field as it was; gain and
// exposure are clamped to the current sensor's ranges. The filter and gray
// values are kept as stored (the dialogs may store values beyond the setters'
// ranges, and the frame pipeline clamps them). Nothing here records error
// codes: a missing key gives defaults.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "device/model_code.h"
#include "device/sensor_device.h"
#include "imaging/filter_settings.h"
#include "platform/registry.h"

namespace varnel {

inline constexpr const char* kSettingsKeyPath = "Software\\Holvik\\VarnelRadeSdk";
inline constexpr int kSizePresetSlots = 100;

// One stored capture window, in the order the instance keeps it.
struct SizePreset {
  int32_t hTotal = 0;        // TH: sensor area the window lies in
  int32_t vTotal = 0;        // TV
  int32_t width = 0;         // EH: effective width, the frame width
  int32_t height = 0;        // EV
  int32_t hStart = 0;        // EHS
  int32_t vStart = 0;        // EVS
  int32_t bufferCount = 10;  // Buf: stored and reported only
};

// The capture-mode values of the main key.
struct CameraSettings {
  int32_t size = 0;       // Size: index of the preset in use, 0..99
  int32_t color = 0;      // Color: ColorClass 0..5
  int32_t subSample = 0;  // SubSample 0..3
  int32_t waitTime = 10;  // WaitTime: milliseconds, 0 or more
  int32_t clock = 0;      // Clock 0/1: stored and shown only
  int32_t syncV = 0;      // SyncV 0/1
  int32_t syncH = 0;      // SyncH 0/1
  int32_t bwMode = 0;     // BwMode: BitDepthCode 0..4
};

// What a store without the main key is given on the first run.
inline constexpr CameraSettings kFirstRunCameraSettings{0, 2, 0, 10, 0, 0, 0, 0};

// The subkey "Gain".
struct AnalogSettings {
  int32_t globalGain = 0;    // Global
  int32_t exposureTime = 0;  // Exposure
  int32_t mirrorV = 0;       // V_Mirror 0/1
  int32_t mirrorH = 0;       // H_Mirror 0/1
  int32_t autoIris = 0;      // AutoIris: 0 off, 1 exposure, 2 gain
};

// Every stored preset and the main values, as the camera dialog edits them.
struct SizeTable {
  std::array<SizePreset, kSizePresetSlots> entries{};
  int count = 0;  // entries in use, from entry 0
  CameraSettings main;
};

// The camera whose limits LoadSizeTable shows as each entry's totals.
struct TableCamera {
  ModelCode model = 0;
  int maxWidth = 0;  // as the sensor reports them; 0 when it reports nothing
  int maxHeight = 0;
};

// Reads the current preset (the entry the main value Size names) into
// *preset. On the first run (no main key) creates the key with the first-run
// main values and the entry "Size_00" holding the model's full area
// (maxWidth x maxHeight), puts that entry into *preset and returns false.
// Returns true only when the stored preset was read; when Size or its entry
// cannot be read, *preset is unchanged.
bool LoadSizePreset(Registry& registry, int maxWidth, int maxHeight, SizePreset* preset);

// Reads the main values into *settings. False when the main key is missing.
bool LoadCameraSettings(Registry& registry, CameraSettings* settings);

// The stored presets from "Size_00" upward to the first one missing (at most
// 100); a value missing in an entry reads as 0 (Buf as 10). False when the
// main key is missing.
bool ReadSizePresets(Registry& registry, std::vector<SizePreset>* presets);

// The model defaults of the analog, filter and gray values: what a store
// without the subkey gives. HZF6 sets only the vertical mirror and leaves the
// other analog values (the caller passes the sensor's own).
void ApplyAnalogDefaults(ModelCode model, AnalogSettings* analog);
void ApplyFilterDefaults(ModelCode model, FilterSettings* filters);
void ApplyGrayDefaults(FilterSettings* filters);

// The vertical mirror flag and the Bayer phase a model starts with: its
// default mirror turns the lens's image upright, and the phase names the
// colours of that upright picture's first samples.
int DefaultMirrorV(ModelCode model);
int DefaultBayerPhase(ModelCode model);
// A mirror flag that changes moves the picture's mosaic by one row (vertical)
// or one column (horizontal): phase 0 <-> 1, 2 <-> 3, or 0 <-> 2, 1 <-> 3.
// Phases outside 0..3 stay as they are.
int PhaseAfterMirrorChange(int phase, bool vertical);
// The Bayer phase of a model's picture with the given mirror flags.
int BayerPhaseForMirrors(ModelCode model, int mirrorV, int mirrorH);

// Whose values a subkey held when it was loaded. The subkeys "Gain" and
// "Filter" are shared by every model, but the mirrors, gain and exposure they
// hold and the Bayer phase mean something else on each model: each save
// names its model in the value `Model`, and a load for another model takes
// the model's own defaults for those values. A subkey without `Model` (one
// written by an earlier version) is taken as it is.
enum class StoredFor {
  kNothing,     // no subkey: defaults
  kThisModel,   // the values were read
  kOtherModel,  // the model-specific values were another model's: defaults
};

// Reads the subkey "Gain" into *analog. `fresh` is what the model starts with
// when nothing is stored for it (its defaults over its sensor's own values);
// a missing subkey gives `fresh`, one saved for another model gives `fresh`
// with the stored AutoIris. Gain and exposure are clamped to `gainRange` and
// `exposureRange`, the current sensor's.
StoredFor LoadAnalogSettings(Registry& registry, ModelCode model, const AnalogSettings& fresh,
                             ValueRange gainRange, ValueRange exposureRange,
                             AnalogSettings* analog);
// Reads the subkey "Filter" into filter ints 0..9. A missing subkey applies
// the filter defaults; one saved for another model keeps *filters' Bayer
// phase (the caller's default) and reads the rest.
StoredFor LoadFilterSettings(Registry& registry, ModelCode model, FilterSettings* filters);
// Reads the subkey "Gray" into filter ints 12..19; when it is missing applies
// the gray defaults and returns false.
bool LoadGraySettings(Registry& registry, FilterSettings* filters);

// Create the main key and the subkey and write every value of it ("Gain" and
// "Filter" with the `Model` they were set on). False when a key cannot be
// created or the writes cannot be stored.
bool SaveAnalogSettings(Registry& registry, ModelCode model, const AnalogSettings& analog);
bool SaveFilterSettings(Registry& registry, ModelCode model, const FilterSettings& filters);
bool SaveGraySettings(Registry& registry, const FilterSettings& filters);

// The camera dialog's copy of the store. *table starts empty (all entries 0
// with Buf 10, count 0, the dialog's initial main values). Reads entries from
// "Size_00" to the first one missing; with a camera, each entry's totals
// become 8192 x 8192 on HWH8 heads and the sensor's maximum size (800 x 600
// when it reports none) on the others. False when the main key is missing.
bool LoadSizeTable(Registry& registry, const TableCamera* camera, SizeTable* table);
// Writes the first `count` entries, stopping at the first that cannot be
// created, and the main values. Size is written as it is when it names an
// entry written now, and as 0 otherwise, so that it never points past them.
bool SaveSizeTable(Registry& registry, const SizeTable& table);

}  // namespace varnel
