// The image and gray filter dialog without its window: its rows, which
// controls a colour class enables, and what each control does to the
// instance's live filter block.
//
// Every change goes into the block at once, so the next frame shows it; the
// instance keeps a copy from before the dialog and puts it back unless the
// dialog ends with OK. The dialog never writes the settings store.
#pragma once

#include <cstddef>

#include "device/model_code.h"

namespace varnel {

// The instance's filter block as the dialog reaches it: one int at a time,
// by its index in the block (0..29), each access taking the block's lock.
class FilterBlockAccess {
 public:
  virtual ~FilterBlockAccess() = default;
  virtual int Read(int index) = 0;
  virtual void Write(int index, int value) = 0;
};

// Indices of the block the dialog uses.
inline constexpr int kFilterIndexBayerPhase = 9;
inline constexpr int kFilterIndexGrayMode = 11;
inline constexpr int kFilterIndexAutoWhiteBalance = 25;
inline constexpr int kFilterIndexWhiteBalanceOnce0 = 26;
inline constexpr int kFilterIndexWhiteBalanceOnce1 = 27;
inline constexpr int kFilterIndexAutoGrayGain = 29;

// One row: a label, a trackbar, an edit and an up-down over one int of the
// block.
struct FilterRow {
  const char* label;
  int trackbar;
  int edit;
  int upDown;
  int index;
  int minimum;
  int maximum;
  int tickFrequency;
  bool colourOnly;  // greyed out for the monochrome classes
};

inline constexpr size_t kImageRowCount = 9;
inline constexpr size_t kGrayRowCount = 8;
extern const FilterRow kImageRows[kImageRowCount];
extern const FilterRow kGrayRows[kGrayRowCount];

class FilterDialog {
 public:
  // `mirrorV` and `mirrorH`: the instance's mirror flags, which decide the
  // Bayer phase "Default" gives.
  FilterDialog(FilterBlockAccess& block, ModelCode model, int colorClass, int mirrorV, int mirrorH);

  ModelCode Model() const { return model_; }
  // The monochrome classes (0, 1) get the "Gray Filter" tab, and only the
  // rows that apply to a gray picture on the image page.
  bool Monochrome() const { return monochrome_; }
  bool HasGrayPage() const { return monochrome_; }
  bool RowEnabled(const FilterRow& row) const { return !(row.colourOnly && monochrome_); }
  // White balance ("Once", "All frames") and Bayer Mode on the image page.
  bool ImageButtonsEnabled() const { return !monochrome_; }

  int Value(int index) const { return block_.Read(index); }
  // A row's edit or trackbar: the value goes into the block as it is (the
  // edit takes numbers beyond the trackbar's range; the pipeline clamps).
  void SetValue(int index, int value) { block_.Write(index, value); }

  // Bayer Mode button 0..3.
  void SetBayerPhase(int phase) { block_.Write(kFilterIndexBayerPhase, phase); }
  // The Bayer Mode button to check: -1 for a phase outside 0..3.
  int BayerPhaseButton() const;

  // "Once" on the image page: white balance on the next frame only.
  void WhiteBalanceOnce();
  // "All frames" on the image page: white balance on every frame while
  // checked.
  void WhiteBalanceAllFrames(bool checked);
  // Whether "All frames" shows as checked: balancing on every frame, not a
  // single balance still waiting.
  bool WhiteBalanceAllFramesChecked() const;

  // Gray page "Filter mode" 0 (Bayer), 1 (Bayer convert), 2 (Grayscale).
  void SetGrayMode(int mode) { block_.Write(kFilterIndexGrayMode, mode); }
  int GrayMode() const { return block_.Read(kFilterIndexGrayMode); }
  // Gray page "Auto Gain": "Once" measures the gains on the next frame,
  // "All frames" on every frame while checked.
  void GrayAutoGainOnce() { block_.Write(kFilterIndexAutoGrayGain, 1); }
  void GrayAutoGainAllFrames(bool checked) {
    block_.Write(kFilterIndexAutoGrayGain, checked ? -1 : 0);
  }
  bool GrayAutoGainAllFramesChecked() const { return block_.Read(kFilterIndexAutoGrayGain) < 0; }

  // "Default": neutral image filters and the model's Bayer phase for the
  // picture as the mirrors leave it; with the
  // gray page also unit gray gains and no offsets. The modes and automatic
  // requests stay as they are.
  void Default();

 private:
  FilterBlockAccess& block_;
  ModelCode model_;
  bool monochrome_;
  int mirrorV_;
  int mirrorH_;
};

}  // namespace varnel
