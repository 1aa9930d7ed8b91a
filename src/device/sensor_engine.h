// What a sensor device needs from the colour engine it is attached to.
//
// The sensor device forwards the image settings it holds (Bayer phase, the
// three channel gains, the colour adjustments, the hot-pixel pair and so on)
// to the engine that converts the frames, and asks it for the capture size it
// was configured with, from which the frame transfer size follows. The colour
// engine implements this interface; the sensor device never owns the engine.
#pragma once

namespace varnel {

class SensorEngine {
 public:
  virtual ~SensorEngine() = default;

  // Colour (Bayer) sensor when true; monochrome otherwise.
  virtual void SetColorFlag(bool color) = 0;
  // The one free engine value the sensor keeps for the engine: its
  // white-balance mode (0 none, 1 gray world, 2 white patch).
  virtual void SetWhiteBalanceMode(int mode) = 0;
  // The pair the sensor keeps for the engine: hot-pixel correction on or off
  // and its brightness threshold, set together.
  virtual void SetDefectCorrection(bool enabled, int threshold) = 0;

  virtual void SetBayerPhase(int phase) = 0;
  virtual int GetBayerPhase() = 0;

  // Channel gains 1, 2 and 3 of the sensor are the engine's red, green and
  // blue gains.
  virtual void SetRedGain(int gain) = 0;
  virtual int GetRedGain() = 0;
  virtual void SetGreenGain(int gain) = 0;
  virtual int GetGreenGain() = 0;
  virtual void SetBlueGain(int gain) = 0;
  virtual int GetBlueGain() = 0;

  // Adjustments 1, 2 and 3 of the sensor, and the hue.
  virtual void SetContrast(int value) = 0;
  virtual void SetBrightness(int value) = 0;
  virtual void SetSaturation(int value) = 0;
  virtual void SetHue(int degrees) = 0;

  // The capture size (samples per row, rows) the engine was configured with.
  virtual int GetWidth() const = 0;
  virtual int GetHeight() const = 0;
  // True when the camera delivers one byte per sample; false for two.
  virtual bool IsEightBitRaw() const = 0;
};

}  // namespace varnel
