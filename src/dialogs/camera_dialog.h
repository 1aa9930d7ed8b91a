// The camera settings dialog without its window: what its lists hold and
// select, which controls are enabled on which model, and what Apply does to
// the dialog's copy of the stored presets and capture-mode values.
//
// The dialog works on a copy of the store (SizeTable) that the instance reads
// before it opens, and hands the copy back to be saved on OK and Apply. It
// never talks to the camera.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "device/model_code.h"
#include "settings/settings_store.h"

namespace varnel {

enum class DialogLanguage { kEnglish, kJapanese };

// One entry of the colour list, in list order: the texts and the colour
// class and bit depth code the entry stands for.
struct ColorListEntry {
  const char* english;
  const char* japanese;  // UTF-8
  int colorClass;
  int bwMode;
};
inline constexpr int kColorListSize = 9;
extern const ColorListEntry kColorList[kColorListSize];

// The six numbers of a preset as the size edits show them (1039..1044):
// total width and height, effective width and height, start x and y.
struct SizeFields {
  uint32_t hTotal = 0;
  uint32_t vTotal = 0;
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t hStart = 0;
  uint32_t vStart = 0;

  bool operator==(const SizeFields&) const = default;
};

// What the controls hold when Apply or OK reads them. A selection is -1 when
// the list has none; an optional is empty when its control holds no number
// or does not exist (the sync buttons in the English template, or disabled
// on models that have no sync setting).
struct CameraDialogControls {
  int colorSelection = -1;
  int sizeSelection = -1;
  int subSampleSelection = -1;
  int clockSelection = -1;
  std::optional<uint32_t> waitTime;
  std::optional<bool> syncVPositive;
  std::optional<bool> syncHPositive;
  SizeFields fields;
};

// What Apply did to the size list.
struct SizeListChange {
  enum Kind {
    kNone,      // no preset written: nothing selected, or "Custom" with a full table
    kAdded,     // a new preset inserted before "Custom"
    kReplaced,  // the selected preset rewritten in place
  };
  Kind kind = kNone;
  int item = 0;       // position of the item added or replaced
  std::string text;   // its new text ("%d x %d")
  int selection = 0;  // the item to select afterwards
};

class CameraDialog {
 public:
  // `table` as the store gave it (LoadSizeTable); `save` writes a table back
  // and answers whether the store took it.
  CameraDialog(ModelCode model, const SizeTable& table, std::function<bool(const SizeTable&)> save);

  ModelCode Model() const { return model_; }
  const SizeTable& Table() const { return table_; }

  // ---- what the controls show when the dialog opens ----
  int ColorSelection() const;
  int SizeSelection() const { return table_.main.size; }
  int SubSampleSelection() const { return table_.main.subSample; }
  int ClockSelection() const { return table_.main.clock; }
  uint32_t WaitTime() const { return static_cast<uint32_t>(table_.main.waitTime); }
  bool SyncVPositive() const { return table_.main.syncV != 0; }
  bool SyncHPositive() const { return table_.main.syncH != 0; }
  // The size list's texts: one "%d x %d" per preset, then "Custom".
  std::vector<std::string> SizeItems(DialogLanguage language) const;
  // The size edits' numbers for the selected preset (zeros without one).
  SizeFields Fields() const;

  // ---- enabled controls ----
  // The three models whose window is fixed to the whole sensor.
  bool WindowFixed() const;
  bool SizeEditsEnabled() const { return !WindowFixed(); }
  // The sub-sample and clock lists and the Apply button start enabled only
  // on the models with a fixed window; on the others Apply is enabled by the
  // first change.
  bool ListsEnabled() const { return WindowFixed(); }
  bool ApplyEnabledAtStart() const { return WindowFixed(); }
  bool SyncEnabled() const { return model_ == kModelHWH8; }

  // ---- notifications ----
  // The size list's selection changed to `index`: the preset's numbers for
  // the edits, or nothing for "Custom" (the edits keep what they hold) and
  // for an index outside the list.
  std::optional<SizeFields> SizeSelected(int index) const;

  // Apply (also the first half of OK): the controls' values into the copy,
  // the edited size into a preset; then the copy is saved. Returns what
  // became of the size list.
  SizeListChange Apply(const CameraDialogControls& controls);

 private:
  ModelCode model_;
  SizeTable table_;
  std::function<bool(const SizeTable&)> save_;
};

// "%d x %d" of a preset's effective size.
std::string SizeItemText(const SizePreset& preset);

}  // namespace varnel
