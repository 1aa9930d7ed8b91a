#include "dialogs/camera_dialog.h"

#include <climits>
#include <cstdio>

#include "instance/model_limits.h"

namespace varnel {

const ColorListEntry kColorList[kColorListSize] = {
    {"Monochrome 8bit", "\xE7\x99\xBD\xE9\xBB\x92 8bit", 0, 0},
    {"Monochrome 10bit *", "\xE7\x99\xBD\xE9\xBB\x92 10bit \xE2\x80\xBB", 1, 1},
    {"Monochrome 12bit *", "\xE7\x99\xBD\xE9\xBB\x92 12bit \xE2\x80\xBB", 1, 2},
    {"Monochrome 14bit *", "\xE7\x99\xBD\xE9\xBB\x92 14bit \xE2\x80\xBB", 1, 3},
    {"Monochrome 16bit *", "\xE7\x99\xBD\xE9\xBB\x92 16bit \xE2\x80\xBB", 1, 4},
    {"Color 24bit", "\xE3\x82\xAB\xE3\x83\xA9\xE3\x83\xBC 24bit", 2, 0},
    {"Color 32bit", "\xE3\x82\xAB\xE3\x83\xA9\xE3\x83\xBC 32bit", 3, 0},
    {"Color 48bit *", "\xE3\x82\xAB\xE3\x83\xA9\xE3\x83\xBC 48bit \xE2\x80\xBB", 4, 4},
    {"Color 64bit *", "\xE3\x82\xAB\xE3\x83\xA9\xE3\x83\xBC 64bit \xE2\x80\xBB", 5, 4},
};

namespace {

SizeFields FieldsOf(const SizePreset& preset) {
  return SizeFields{static_cast<uint32_t>(preset.hTotal), static_cast<uint32_t>(preset.vTotal),
                    static_cast<uint32_t>(preset.width),  static_cast<uint32_t>(preset.height),
                    static_cast<uint32_t>(preset.hStart), static_cast<uint32_t>(preset.vStart)};
}

// The edits are read as unsigned numbers and stored as the store's signed
// fields, as typed: the size check catches impossible windows when the
// instance loads them.
void StoreFields(const SizeFields& fields, SizePreset* preset) {
  preset->hTotal = static_cast<int32_t>(fields.hTotal);
  preset->vTotal = static_cast<int32_t>(fields.vTotal);
  preset->width = static_cast<int32_t>(fields.width);
  preset->height = static_cast<int32_t>(fields.height);
  preset->hStart = static_cast<int32_t>(fields.hStart);
  preset->vStart = static_cast<int32_t>(fields.vStart);
}

}  // namespace

std::string SizeItemText(const SizePreset& preset) {
  char text[32];
  std::snprintf(text, sizeof text, "%d x %d", static_cast<int>(preset.width),
                static_cast<int>(preset.height));
  return text;
}

CameraDialog::CameraDialog(ModelCode model, const SizeTable& table,
                           std::function<bool(const SizeTable&)> save)
    : model_(model), table_(table), save_(std::move(save)) {
  // The models with a fixed window always capture their whole sensor: the
  // selected preset shows (and is saved as) exactly that.
  int width = 0;
  int height = 0;
  const int size = table_.main.size;
  if (FixedWindowSize(model_, &width, &height) && size >= 0 && size < kSizePresetSlots) {
    SizePreset& preset = table_.entries[static_cast<size_t>(size)];
    preset.hTotal = preset.width = width;
    preset.vTotal = preset.height = height;
    preset.hStart = preset.vStart = 0;
  }
}

int CameraDialog::ColorSelection() const {
  const int color = table_.main.color;
  if (color == 0) return 0;
  if (color == 1) return table_.main.bwMode;
  return color + 3;
}

std::vector<std::string> CameraDialog::SizeItems(DialogLanguage language) const {
  std::vector<std::string> items;
  for (int i = 0; i < table_.count; ++i) {
    items.push_back(SizeItemText(table_.entries[static_cast<size_t>(i)]));
  }
  items.push_back(language == DialogLanguage::kJapanese ? "\xE3\x82\xAB\xE3\x82\xB9\xE3\x82\xBF"
                                                          "\xE3\x83\xA0"
                                                        : "Custom");
  return items;
}

SizeFields CameraDialog::Fields() const {
  const int size = table_.main.size;
  if (size < 0 || size >= kSizePresetSlots) return SizeFields{};
  return FieldsOf(table_.entries[static_cast<size_t>(size)]);
}

bool CameraDialog::WindowFixed() const {
  int width = 0;
  int height = 0;
  return FixedWindowSize(model_, &width, &height);
}

std::optional<SizeFields> CameraDialog::SizeSelected(int index) const {
  // The size in use changes only when Apply takes the selection.
  if (index < 0 || index >= table_.count) return std::nullopt;
  return FieldsOf(table_.entries[static_cast<size_t>(index)]);
}

SizeListChange CameraDialog::Apply(const CameraDialogControls& controls) {
  CameraSettings& main = table_.main;
  if (controls.colorSelection >= 0 && controls.colorSelection < kColorListSize) {
    main.color = kColorList[controls.colorSelection].colorClass;
    main.bwMode = kColorList[controls.colorSelection].bwMode;
  } else {
    main.color = 2;
    main.bwMode = 0;
  }
  // Lists without a selection and edits without a number keep the values
  // the dialog opened with.
  if (controls.subSampleSelection >= 0) main.subSample = controls.subSampleSelection;
  if (controls.clockSelection >= 0) main.clock = controls.clockSelection;
  if (controls.waitTime) {
    main.waitTime = *controls.waitTime > static_cast<uint32_t>(INT_MAX)
                        ? INT_MAX
                        : static_cast<int32_t>(*controls.waitTime);
  }
  // The sync buttons exist only in the Japanese template and mean something
  // only on HWH8 heads: elsewhere the stored polarity is kept, not reset.
  if (controls.syncVPositive) main.syncV = *controls.syncVPositive ? 1 : 0;
  if (controls.syncHPositive) main.syncH = *controls.syncHPositive ? 1 : 0;

  SizeListChange change;
  const int count = table_.count;
  const int selection = controls.sizeSelection;
  if (selection == count && count < kSizePresetSlots) {
    // "Custom": the edited window becomes a new preset before "Custom".
    SizePreset& preset = table_.entries[static_cast<size_t>(count)];
    preset = SizePreset{};
    StoreFields(controls.fields, &preset);
    table_.count = count + 1;
    main.size = count;
    change.kind = SizeListChange::kAdded;
    change.item = count;
    change.text = SizeItemText(preset);
  } else if (selection >= 0 && selection < count) {
    SizePreset& preset = table_.entries[static_cast<size_t>(selection)];
    StoreFields(controls.fields, &preset);
    main.size = selection;
    change.kind = SizeListChange::kReplaced;
    change.item = selection;
    change.text = SizeItemText(preset);
  }
  // Otherwise nothing was selected, or "Custom" was chosen with all 100
  // presets in use: no preset is written and the size in use stays.
  change.selection = main.size;
  if (save_) save_(table_);
  return change;
}

}  // namespace varnel
