// The colour matrix of the colour engine and the padded work buffer of its
// vector demosaic.
//
// Contrast, brightness, saturation and hue are each turned into a 4x4 matrix
// that acts on the row vector (R, G, B, 1): the first three rows belong to the
// input red, green and blue, the fourth row holds the offsets added to each
// output channel. A colour v becomes v * M, and a product A * B applies A
// first, then B. The engine applies the product in fixed point (128ths) after
// the vector demosaic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnel {

// A 4x4 single-precision matrix, row by row.
struct ColorMatrix {
  std::array<std::array<float, 4>, 4> m{};

  static ColorMatrix Identity();
  // The ordinary matrix product: (*this * other) applies *this first.
  ColorMatrix operator*(const ColorMatrix& other) const;
};

// The product matrix in fixed point: each entry is round-to-nearest-even of
// the floating-point entry times 128, row by row. The entries are held in 32
// bits: a strong brightness combined with strong contrast gives offsets (row
// four) beyond the 16-bit range (255 * 2 - 128 = 382, times 128 = 48896), and
// a 16-bit copy would wrap them round to a wrong colour.
struct FixedColorMatrix {
  std::array<int32_t, 16> entry{};

  int32_t At(int row, int column) const { return entry[row * 4 + column]; }
  bool IsIdentity() const;
  // Applies the matrix to one gain-scaled colour with the separate positive
  // and negative sums: out = (positive >> 7) - (negative >> 7), limited to
  // 0..255. Sums are 32-bit, so they never wrap.
  void Apply(int red, int green, int blue, int* outRed, int* outGreen, int* outBlue) const;
};

class ColorMatrixStage {
 public:
  // Luminance weights used by saturation and hue.
  static constexpr float kLumRed = 0.3086f;
  static constexpr float kLumGreen = 0.6094f;
  static constexpr float kLumBlue = 0.082f;

  ColorMatrixStage();

  // Each setter stores the value, returns at once when it equals the last
  // value, and otherwise rebuilds its matrix and the product. Out-of-range
  // values are clamped: contrast and saturation to -10..10, brightness to
  // -255..255.
  void SetContrast(int value);
  void SetBrightness(int value);
  void SetSaturation(int value);
  void SetHue(int degrees);

  int Contrast() const { return contrast_; }
  int Brightness() const { return brightness_; }
  int Saturation() const { return saturation_; }
  int Hue() const { return hue_; }
  // True when any of the four adjustments is non-zero: the vector colour
  // demosaic then applies the fixed-point product.
  bool IsActive() const {
    return contrast_ != 0 || brightness_ != 0 || saturation_ != 0 || hue_ != 0;
  }

  // Red, green and blue gains of the vector forms, in 128ths.
  void SetGains(int red, int green, int blue);
  int RedGain() const { return redGain_; }
  int GreenGain() const { return greenGain_; }
  int BlueGain() const { return blueGain_; }

  const ColorMatrix& ContrastMatrix() const { return contrastMatrix_; }
  const ColorMatrix& BrightnessMatrix() const { return brightnessMatrix_; }
  const ColorMatrix& SaturationMatrix() const { return saturationMatrix_; }
  const ColorMatrix& HueMatrix() const { return hueMatrix_; }
  const ColorMatrix& Product() const { return product_; }
  const FixedColorMatrix& FixedProduct() const { return fixed_; }
  // Entry i (row by row) of the fixed-point product is greater than 0.
  bool IsPositive(int i) const { return positive_[i]; }

  // The matrices on their own, for the setters and for tests.
  static ColorMatrix BuildContrast(int value);
  static ColorMatrix BuildBrightness(int value);
  static ColorMatrix BuildSaturation(int value);
  static ColorMatrix BuildHue(int degrees);
  static FixedColorMatrix ToFixed(const ColorMatrix& matrix);

  // The padded copy of a frame that the vector demosaic reads. Rows are
  // kWorkPitch bytes apart; the frame starts kWorkTop rows down and kWorkLeft
  // bytes in, and everything around it reads as 0, so that every 5x5
  // neighbourhood of a frame sample, and every 16-sample step of a row, lies
  // inside the buffer.
  static constexpr int kWorkTop = 2;
  static constexpr int kWorkLeft = 5;
  static int WorkPitch(int width) { return ((width + 16) / 16) * 16 + 11; }
  static int WorkRows(int height) { return height + 4 + (height & 1); }
  // Zero bytes after the last row, for loads wider than the padding.
  static constexpr int kWorkSlack = 64;
  // Makes the buffer for this size (zero-filled) when the size changed.
  void ResizeWork(int width, int height);
  // Copies a frame of width x height 8-bit samples (rows of `framePitch`
  // bytes) into the buffer. ResizeWork must have been called for that size.
  void CopyIntoWork(const uint8_t* frame, int framePitch);
  const uint8_t* WorkOrigin() const;  // the first frame sample in the buffer
  int WorkWidth() const { return width_; }
  int WorkHeight() const { return height_; }
  int Pitch() const { return pitch_; }

 private:
  void RebuildProduct();

  int width_ = 0;
  int height_ = 0;
  int pitch_ = 0;
  std::vector<uint8_t> work_;

  int contrast_ = 0;
  int brightness_ = 0;
  int saturation_ = 0;
  int hue_ = 0;
  int redGain_ = 128;
  int greenGain_ = 128;
  int blueGain_ = 128;

  std::array<bool, 16> positive_{};
  ColorMatrix contrastMatrix_;
  ColorMatrix brightnessMatrix_;
  ColorMatrix saturationMatrix_;
  ColorMatrix hueMatrix_;
  ColorMatrix product_;
  FixedColorMatrix fixed_;
};

}  // namespace varnel
