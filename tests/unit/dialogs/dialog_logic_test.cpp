// The dialogs' logic without windows (the windows themselves are driven under
// Wine in tests/win32): what Apply does to the camera dialog's copy of the
// store, how the analog dialog limits and swaps, what "Default" gives.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include "dialogs/analog_dialog.h"
#include "dialogs/camera_dialog.h"
#include "dialogs/filter_dialog.h"

namespace varnel {
namespace {

SizeTable TableWith(int count, int size) {
  SizeTable table;
  table.count = count;
  table.main.size = size;
  for (int i = 0; i < count; ++i) {
    table.entries[static_cast<size_t>(i)] = SizePreset{2048, 1536, 100 + i, 50 + i, 0, 0, 10};
  }
  return table;
}

// Fault caught: "Custom" + Apply with all 100 presets writing a 101st entry
// past the table, Apply without a selection storing preset -1, an added
// preset landing anywhere but before "Custom", a replaced one not rewritten.
TEST(CameraDialogLogicTest, ApplyAddsReplacesOrRefusesAPreset) {
  struct Case {
    const char* name;
    int count, size, selection;
    SizeListChange::Kind kind;
    int countAfter, sizeAfter;
  };
  const Case cases[] = {
      {"Custom with room", 3, 1, 3, SizeListChange::kAdded, 4, 3},
      {"Custom with a full table", 100, 5, 100, SizeListChange::kNone, 100, 5},
      {"no selection", 3, 1, -1, SizeListChange::kNone, 3, 1},
      {"selection past Custom", 3, 2, 7, SizeListChange::kNone, 3, 2},
      {"a stored preset", 3, 0, 2, SizeListChange::kReplaced, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SizeTable before = TableWith(c.count, c.size);
    std::vector<SizeTable> saved;
    CameraDialog dialog(kModelHXA1, before, [&](const SizeTable& t) {
      saved.push_back(t);
      return true;
    });
    CameraDialogControls controls;
    controls.colorSelection = 5;
    controls.sizeSelection = c.selection;
    controls.fields = SizeFields{2048, 1536, 640, 480, 8, 4};
    const SizeListChange change = dialog.Apply(controls);
    EXPECT_EQ(change.kind, c.kind);
    EXPECT_EQ(change.selection, c.sizeAfter);
    ASSERT_EQ(saved.size(), 1u);
    const SizeTable& table = saved[0];
    EXPECT_EQ(table.count, c.countAfter);
    EXPECT_EQ(table.main.size, c.sizeAfter);
    if (c.kind == SizeListChange::kNone) {
      for (int i = 0; i < kSizePresetSlots; ++i) {
        EXPECT_EQ(table.entries[i].width, before.entries[i].width) << "entry " << i;
      }
      continue;
    }
    const SizePreset& preset = table.entries[static_cast<size_t>(c.sizeAfter)];
    EXPECT_EQ(change.item, c.sizeAfter);
    EXPECT_EQ(change.text, "640 x 480");
    EXPECT_EQ(preset.width, 640);
    EXPECT_EQ(preset.height, 480);
    EXPECT_EQ(preset.hStart, 8);
    EXPECT_EQ(preset.vStart, 4);
    EXPECT_EQ(preset.bufferCount, 10);
  }
}

// Fault caught: a colour list entry stored as the wrong class or bit depth,
// the stored mode selecting another entry when the dialog opens, a wait
// time beyond the store's range wrapping negative, values of controls that
// are absent (sync buttons of the English template) overwriting the store.
TEST(CameraDialogLogicTest, ListsAndEditsMapToStoredValues) {
  for (int index = 0; index < kColorListSize; ++index) {
    SizeTable table = TableWith(1, 0);
    table.main.color = kColorList[index].colorClass;
    table.main.bwMode = kColorList[index].bwMode;
    EXPECT_EQ(CameraDialog(kModelHXA1, table, nullptr).ColorSelection(), index) << index;
  }
  struct Case {
    const char* name;
    int colorSelection;
    std::optional<uint32_t> waitTime;
    std::optional<bool> syncV;
    int color, bwMode, storedWait, storedSyncV;
  };
  const Case cases[] = {
      {"Color 48bit", 7, 25u, std::nullopt, 4, 4, 25, 1},
      {"Monochrome 12bit", 2, std::nullopt, false, 1, 2, 33, 0},
      {"no colour selection", -1, 0xFFFFFFFFu, true, 2, 0, INT_MAX, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SizeTable table = TableWith(1, 0);
    table.main.waitTime = 33;
    table.main.syncV = 1;
    SizeTable saved;
    CameraDialog dialog(kModelHWH8, table, [&](const SizeTable& t) {
      saved = t;
      return true;
    });
    CameraDialogControls controls;
    controls.colorSelection = c.colorSelection;
    controls.sizeSelection = 0;
    controls.waitTime = c.waitTime;
    controls.syncVPositive = c.syncV;
    dialog.Apply(controls);
    EXPECT_EQ(saved.main.color, c.color);
    EXPECT_EQ(saved.main.bwMode, c.bwMode);
    EXPECT_EQ(saved.main.waitTime, c.storedWait);
    EXPECT_EQ(saved.main.syncV, c.storedSyncV);
  }
}

class FakeAnalog final : public AnalogTarget {
 public:
  explicit FakeAnalog(ModelCode model) : model_(model) {}
  ModelCode Model() const override { return model_; }
  ValueRange GainRange() override { return {0, 63}; }
  ValueRange ExposureRange() override { return {1, 6400}; }
  int Gain() override { return gain; }
  int Exposure() override { return exposure; }
  void SetGain(int value) override { sentGains.push_back(gain = value); }
  void SetExposure(int value) override { exposure = value; }
  bool MirrorV() override { return mirrorV; }
  bool MirrorH() override { return mirrorH; }
  void SetMirrorV(bool on) override { mirrorV = on; }
  void SetMirrorH(bool on) override { mirrorH = on; }
  int BayerPhase() override { return phase; }
  void SetBayerPhase(int value) override { phase = value; }
  int AutoIris() override { return autoIris; }
  void SetAutoIris(int mode) override { autoIris = mode; }

  int gain = 10, exposure = 100, phase = 0, autoIris = 0;
  bool mirrorV = false, mirrorH = false;
  std::vector<int> sentGains;

 private:
  ModelCode model_;
};

// Fault caught: a typed gain sent unlimited (300 reaching a 0..63 register
// as 44), "Default" sending a value outside the range.
TEST(AnalogDialogLogicTest, SentValuesStayInTheRowsRange) {
  const int cases[][2] = {{300, 63}, {-4, 0}, {63, 63}, {0, 0}, {31, 31}, {INT_MIN, 0}};
  FakeAnalog target(kModelHXA1);
  AnalogDialog dialog(target);
  for (const auto& [typed, sent] : cases) {
    EXPECT_EQ(dialog.GainChanged(typed), sent) << typed;
    EXPECT_EQ(target.sentGains.back(), sent) << typed;
  }
  EXPECT_EQ(dialog.ExposureChanged(0), 1);
  FakeAnalog hzf6(kModelHZF6);
  AnalogDialog defaults(hzf6);
  defaults.Default();
  EXPECT_EQ(hzf6.gain, 63);  // 512 by the model's table, limited to 0..63 here
  EXPECT_EQ(hzf6.exposure, 64);
}

// Fault caught: the two automatic modes set together, or unchecking one
// leaving the camera in it.
TEST(AnalogDialogLogicTest, OneAutomaticModeHolds) {
  FakeAnalog target(kModelHXA1);
  AnalogDialog dialog(target);
  dialog.AutoExposureChanged(true);
  dialog.AutoGainChanged(true);
  EXPECT_EQ(target.autoIris, 2);
  EXPECT_FALSE(dialog.AutoExposureChecked());
  dialog.AutoGainChanged(false);
  EXPECT_EQ(target.autoIris, 0);
}

class FakeBlock final : public FilterBlockAccess {
 public:
  int Read(int index) override { return values.at(static_cast<size_t>(index)); }
  void Write(int index, int value) override { values.at(static_cast<size_t>(index)) = value; }
  std::array<int, 30> values{};
};

// Fault caught: "Default" giving another model's Bayer phase, or the phase of
// the picture at the model's default mirrors when the mirrors are set
// otherwise; touching the gray values when there is no gray page, or leaving
// them when there is.
TEST(FilterDialogLogicTest, DefaultPerModelMirrorsAndColourClass) {
  struct Case {
    const char* name;
    ModelCode model;
    int colorClass;
    int mirrorV, mirrorH;
    int phase;
    int grayGain;
  };
  const Case cases[] = {{"HXA1 colour, default mirror", kModelHXA1, 2, 1, 0, 3, 7},
                        {"HXA1 colour, unmirrored", kModelHXA1, 2, 0, 0, 2, 7},
                        {"HZF6 colour, default mirror", kModelHZF6, 2, 1, 0, 1, 7},
                        {"HZF6 colour, both mirrors", kModelHZF6, 4, 0, 1, 2, 7},
                        {"R2T mono", kModelR2T, 0, 0, 0, 3, 128},
                        {"HXE5 mono, mirror H", kModelHXE5, 1, 0, 1, 3, 128},
                        {"HZG7 colour", kModelHZG7, 5, 0, 0, 1, 7},
                        {"HWH8 colour, default mirror", kModelHWH8, 3, 1, 0, 3, 7}};
  for (const Case& c : cases) {
    FakeBlock block;
    block.values.fill(7);
    FilterDialog dialog(block, c.model, c.colorClass, c.mirrorV, c.mirrorH);
    dialog.Default();
    EXPECT_EQ(block.values[0], 0) << c.name;
    EXPECT_EQ(block.values[8], 100) << c.name;
    EXPECT_EQ(block.values[9], c.phase) << c.name;
    EXPECT_EQ(block.values[12], c.grayGain) << c.name;
    EXPECT_EQ(block.values[11], 7) << c.name;  // the gray mode is not a default
  }
}

}  // namespace
}  // namespace varnel
