#include "dialogs/filter_dialog.h"

#include "dialogs/dialog_ids.h"
#include "settings/settings_store.h"

namespace varnel {

// clang-format off
const FilterRow kImageRows[kImageRowCount] = {
    {"&Brightness", IDC_BRIGHTNESS_BAR, IDC_BRIGHTNESS_EDIT, IDC_BRIGHTNESS_SPIN, 0, -255, 255, 64, false},
    {"&Contrast", IDC_CONTRAST_BAR, IDC_CONTRAST_EDIT, IDC_CONTRAST_SPIN, 1, -127, 127, 32, false},
    {"&Hue", IDC_HUE_BAR, IDC_HUE_EDIT, IDC_HUE_SPIN, 2, -360, 360, 90, true},
    {"&Saturation", IDC_SATURATION_BAR, IDC_SATURATION_EDIT, IDC_SATURATION_SPIN, 3, -255, 255, 64, true},
    {"Shar&pness", IDC_SHARPNESS_BAR, IDC_SHARPNESS_EDIT, IDC_SHARPNESS_SPIN, 4, 0, 30, 4, false},
    {"&R Gain", IDC_R_GAIN_BAR, IDC_R_GAIN_EDIT, IDC_R_GAIN_SPIN, 5, 0, 400, 32, true},
    {"&G Gain", IDC_G_GAIN_BAR, IDC_G_GAIN_EDIT, IDC_G_GAIN_SPIN, 6, 0, 400, 32, true},
    {"&B Gain", IDC_B_GAIN_BAR, IDC_B_GAIN_EDIT, IDC_B_GAIN_SPIN, 7, 0, 400, 32, true},
    {"&Gamma", IDC_GAMMA_BAR, IDC_GAMMA_EDIT, IDC_GAMMA_SPIN, 8, 0, 200, 32, false},
};

const FilterRow kGrayRows[kGrayRowCount] = {
    {"Red", IDC_GRAY_GAIN_R_BAR, IDC_GRAY_GAIN_R_EDIT, IDC_GRAY_GAIN_R_SPIN, 12, 0, 400, 32, false},
    {"Green1", IDC_GRAY_GAIN_G1_BAR, IDC_GRAY_GAIN_G1_EDIT, IDC_GRAY_GAIN_G1_SPIN, 13, 0, 400, 32, false},
    {"Green2", IDC_GRAY_GAIN_G2_BAR, IDC_GRAY_GAIN_G2_EDIT, IDC_GRAY_GAIN_G2_SPIN, 14, 0, 400, 32, false},
    {"Blue", IDC_GRAY_GAIN_B_BAR, IDC_GRAY_GAIN_B_EDIT, IDC_GRAY_GAIN_B_SPIN, 15, 0, 400, 32, false},
    {"Red", IDC_GRAY_OFFSET_R_BAR, IDC_GRAY_OFFSET_R_EDIT, IDC_GRAY_OFFSET_R_SPIN, 16, -255, 255, 32, false},
    {"Green1", IDC_GRAY_OFFSET_G1_BAR, IDC_GRAY_OFFSET_G1_EDIT, IDC_GRAY_OFFSET_G1_SPIN, 17, -255, 255, 32, false},
    {"Green2", IDC_GRAY_OFFSET_G2_BAR, IDC_GRAY_OFFSET_G2_EDIT, IDC_GRAY_OFFSET_G2_SPIN, 18, -255, 255, 32, false},
    {"Blue", IDC_GRAY_OFFSET_B_BAR, IDC_GRAY_OFFSET_B_EDIT, IDC_GRAY_OFFSET_B_SPIN, 19, -255, 255, 32, false},
};
// clang-format on

FilterDialog::FilterDialog(FilterBlockAccess& block, ModelCode model, int colorClass, int mirrorV,
                           int mirrorH)
    : block_(block),
      model_(model),
      monochrome_(colorClass == 0 || colorClass == 1),
      mirrorV_(mirrorV),
      mirrorH_(mirrorH) {}

int FilterDialog::BayerPhaseButton() const {
  const int phase = block_.Read(kFilterIndexBayerPhase);
  return phase >= 0 && phase <= 3 ? phase : -1;
}

void FilterDialog::WhiteBalanceOnce() {
  block_.Write(kFilterIndexAutoWhiteBalance, 1);
  block_.Write(kFilterIndexWhiteBalanceOnce0, 1);
  block_.Write(kFilterIndexWhiteBalanceOnce1, 1);
}

void FilterDialog::WhiteBalanceAllFrames(bool checked) {
  block_.Write(kFilterIndexAutoWhiteBalance, checked ? 1 : 0);
  block_.Write(kFilterIndexWhiteBalanceOnce0, 0);
  block_.Write(kFilterIndexWhiteBalanceOnce1, 0);
}

bool FilterDialog::WhiteBalanceAllFramesChecked() const {
  const bool once = block_.Read(kFilterIndexWhiteBalanceOnce0) != 0 &&
                    block_.Read(kFilterIndexWhiteBalanceOnce1) != 0;
  return block_.Read(kFilterIndexAutoWhiteBalance) != 0 && !once;
}

void FilterDialog::Default() {
  for (int index = 0; index <= 4; ++index) block_.Write(index, 0);
  for (int index = 5; index <= 8; ++index) block_.Write(index, 100);
  // The model's phase, for the picture as the mirrors leave it.
  block_.Write(kFilterIndexBayerPhase, BayerPhaseForMirrors(model_, mirrorV_, mirrorH_));
  if (!HasGrayPage()) return;
  for (int index = 12; index <= 15; ++index) block_.Write(index, 128);
  for (int index = 16; index <= 19; ++index) block_.Write(index, 0);
}

}  // namespace varnel
