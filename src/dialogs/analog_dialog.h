// The analog dialog without its window: the gain and exposure rows on the
// camera's own ranges, the mirrors, the automatic mode and "Default", each
// change sent to the camera at once.
//
// The dialog works on the instance through AnalogTarget, which sends a value
// to the sensor and keeps it in the instance's analog values. The instance
// keeps copies from before the dialog and sends them back unless the dialog
// ends with OK.
#pragma once

#include "device/model_code.h"
#include "device/sensor_device.h"

namespace varnel {

// The instance's analog values and its sensor, as the dialog reaches them.
class AnalogTarget {
 public:
  virtual ~AnalogTarget() = default;
  virtual ModelCode Model() const = 0;
  virtual ValueRange GainRange() = 0;
  virtual ValueRange ExposureRange() = 0;
  // The values the instance holds (the frame thread's automatic mode may
  // change gain and exposure while the dialog is open).
  virtual int Gain() = 0;
  virtual int Exposure() = 0;
  // Send to the sensor and keep in the instance.
  virtual void SetGain(int gain) = 0;
  virtual void SetExposure(int exposure) = 0;
  virtual bool MirrorV() = 0;
  virtual bool MirrorH() = 0;
  // Send to the sensor and keep in the instance; a flag that changes moves
  // the instance's Bayer phase with the picture, as Varnel_SetMirrorV and
  // Varnel_SetMirrorH do.
  virtual void SetMirrorV(bool on) = 0;
  virtual void SetMirrorH(bool on) = 0;
  virtual int BayerPhase() = 0;
  virtual void SetBayerPhase(int phase) = 0;
  virtual int AutoIris() = 0;
  virtual void SetAutoIris(int mode) = 0;
};

// How one row of trackbar, edit and up-down is set up.
struct AnalogRow {
  int minimum = 0;
  int maximum = 0;
  int tickFrequency = 0;
  int value = 0;
};

class AnalogDialog {
 public:
  explicit AnalogDialog(AnalogTarget& target);

  ModelCode Model() const { return target_.Model(); }

  // The rows as the page opens (or reloads): the camera's range, a tick
  // every eighth of it, the value the instance holds.
  AnalogRow GainRow();
  AnalogRow ExposureRow();

  // A gain or exposure typed into its edit or set with its trackbar: limited
  // to the range the row was set up with, sent to the camera and kept.
  // Returns the value sent (what the edit should show once it is left).
  int GainChanged(int typed);
  int ExposureChanged(int typed);

  // "Mirror V" and "Mirror H": the flag to the camera, the Bayer phase moved
  // with the picture (by the target, so the exports and the dialog agree).
  void MirrorVChanged(bool checked);
  void MirrorHChanged(bool checked);
  bool MirrorV() { return target_.MirrorV(); }
  bool MirrorH() { return target_.MirrorH(); }

  // "Auto Iris": at most one of "Gain" (mode 2) and "Exposure" (mode 1).
  void AutoGainChanged(bool checked);
  void AutoExposureChanged(bool checked);
  bool AutoGainChecked() { return target_.AutoIris() == 2; }
  bool AutoExposureChecked() { return target_.AutoIris() == 1; }

  // "Default": the model's gain and exposure, sent to the camera (limited to
  // its ranges like anything else the page sends).
  void Default();

 private:
  AnalogRow RowFor(ValueRange range, int value) const;

  AnalogTarget& target_;
  // The ranges the rows were set up with when the page opened.
  ValueRange gainRange_;
  ValueRange exposureRange_;
};

// The gain and exposure "Default" gives on a head of `model`.
void AnalogDefaults(ModelCode model, int* gain, int* exposure);

}  // namespace varnel
