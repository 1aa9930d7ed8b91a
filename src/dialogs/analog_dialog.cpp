#include "dialogs/analog_dialog.h"

#include <algorithm>

namespace varnel {

namespace {

int Limit(int value, ValueRange range) {
  // A sensor that reports an empty range still gets its minimum, never a
  // value from outside.
  if (range.maximum < range.minimum) return range.minimum;
  return std::clamp(value, range.minimum, range.maximum);
}

}  // namespace

void AnalogDefaults(ModelCode model, int* gain, int* exposure) {
  if (model == kModelHXJ9 || model == kModelHXA1 || model == kModelHXB2 || model == kModelHWH8) {
    *gain = 14, *exposure = 1095;
  } else if (model == kModelHYD4 || model == kModelHZF6) {
    *gain = 512, *exposure = 64;
  } else if (model == kModelHZG7) {
    *gain = 128, *exposure = 64;
  } else {
    *gain = 16, *exposure = 480;
  }
}

AnalogDialog::AnalogDialog(AnalogTarget& target)
    : target_(target), gainRange_(target.GainRange()), exposureRange_(target.ExposureRange()) {}

AnalogRow AnalogDialog::RowFor(ValueRange range, int value) const {
  AnalogRow row;
  row.minimum = range.minimum;
  row.maximum = range.maximum;
  row.tickFrequency = (range.maximum - range.minimum) / 8;
  row.value = value;
  return row;
}

AnalogRow AnalogDialog::GainRow() {
  gainRange_ = target_.GainRange();
  return RowFor(gainRange_, target_.Gain());
}

AnalogRow AnalogDialog::ExposureRow() {
  exposureRange_ = target_.ExposureRange();
  return RowFor(exposureRange_, target_.Exposure());
}

int AnalogDialog::GainChanged(int typed) {
  // A register takes only the low bits of what it is sent: an unlimited 300
  // on a 0..63 sensor would arrive as a different, valid-looking gain.
  const int value = Limit(typed, gainRange_);
  target_.SetGain(value);
  return value;
}

int AnalogDialog::ExposureChanged(int typed) {
  const int value = Limit(typed, exposureRange_);
  target_.SetExposure(value);
  return value;
}

void AnalogDialog::MirrorVChanged(bool checked) { target_.SetMirrorV(checked); }

void AnalogDialog::MirrorHChanged(bool checked) { target_.SetMirrorH(checked); }

void AnalogDialog::AutoGainChanged(bool checked) { target_.SetAutoIris(checked ? 2 : 0); }

void AnalogDialog::AutoExposureChanged(bool checked) { target_.SetAutoIris(checked ? 1 : 0); }

void AnalogDialog::Default() {
  int gain = 0;
  int exposure = 0;
  AnalogDefaults(target_.Model(), &gain, &exposure);
  GainChanged(gain);
  ExposureChanged(exposure);
}

}  // namespace varnel
