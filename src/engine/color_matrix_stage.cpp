#include "engine/color_matrix_stage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varnel {

namespace {

// Rotation and shear steps of the hue matrix. Each is applied after what is
// already in `m` (m becomes m * n).
ColorMatrix RotateAboutRed(float sine, float cosine) {
  ColorMatrix n = ColorMatrix::Identity();
  n.m[1] = {0.0f, cosine, sine, 0.0f};
  n.m[2] = {0.0f, -sine, cosine, 0.0f};
  return n;
}

ColorMatrix RotateAboutGreen(float sine, float cosine) {
  ColorMatrix n = ColorMatrix::Identity();
  n.m[0] = {cosine, 0.0f, -sine, 0.0f};
  n.m[2] = {sine, 0.0f, cosine, 0.0f};
  return n;
}

ColorMatrix RotateAboutBlue(float sine, float cosine) {
  ColorMatrix n = ColorMatrix::Identity();
  n.m[0] = {cosine, sine, 0.0f, 0.0f};
  n.m[1] = {-sine, cosine, 0.0f, 0.0f};
  return n;
}

ColorMatrix ShearAlongBlue(float redShare, float greenShare) {
  ColorMatrix n = ColorMatrix::Identity();
  n.m[0][2] = redShare;
  n.m[1][2] = greenShare;
  return n;
}

int ClampInt(int v, int lo, int hi) { return std::min(std::max(v, lo), hi); }

}  // namespace

ColorMatrix ColorMatrix::Identity() {
  ColorMatrix id;
  for (int i = 0; i < 4; ++i) id.m[i][i] = 1.0f;
  return id;
}

ColorMatrix ColorMatrix::operator*(const ColorMatrix& other) const {
  ColorMatrix r;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += m[i][k] * other.m[k][j];
      r.m[i][j] = sum;
    }
  }
  return r;
}

bool FixedColorMatrix::IsIdentity() const {
  for (int i = 0; i < 16; ++i) {
    if (entry[i] != ((i % 5 == 0) ? 128 : 0)) return false;
  }
  return true;
}

void FixedColorMatrix::Apply(int red, int green, int blue, int* outRed, int* outGreen,
                             int* outBlue) const {
  const int in[3] = {red, green, blue};
  int out[3];
  for (int j = 0; j < 3; ++j) {
    int64_t positive = 0;
    int64_t negative = 0;
    for (int k = 0; k < 3; ++k) {
      const int32_t e = At(k, j);
      if (e > 0) {
        positive += int64_t{e} * in[k];
      } else {
        negative += int64_t{-e} * in[k];
      }
    }
    const int32_t offset = At(3, j);
    if (offset > 0) {
      positive += offset;
    } else {
      negative += -int64_t{offset};
    }
    const int64_t v = (positive >> 7) - (negative >> 7);
    out[j] = static_cast<int>(std::clamp<int64_t>(v, 0, 255));
  }
  *outRed = out[0];
  *outGreen = out[1];
  *outBlue = out[2];
}

ColorMatrixStage::ColorMatrixStage()
    : contrastMatrix_(ColorMatrix::Identity()),
      brightnessMatrix_(ColorMatrix::Identity()),
      saturationMatrix_(ColorMatrix::Identity()),
      hueMatrix_(ColorMatrix::Identity()),
      product_(ColorMatrix::Identity()) {
  fixed_ = ToFixed(product_);
  for (int i = 0; i < 16; ++i) positive_[i] = fixed_.entry[i] > 0;
}

ColorMatrix ColorMatrixStage::BuildContrast(int value) {
  // Contrast about the middle level 128: c = 0.0 .. 2.0 for -10..10.
  const int k = std::min(ClampInt(value, -10, 10) + 10, 20) - 10;
  const float c = static_cast<float>(k) * 0.1f + 1.0f;
  ColorMatrix m = ColorMatrix::Identity();
  for (int i = 0; i < 3; ++i) {
    m.m[i][i] = c;
    m.m[3][i] = 128.0f - 128.0f * c;
  }
  return m;
}

ColorMatrix ColorMatrixStage::BuildBrightness(int value) {
  const int b = std::min(ClampInt(value, -255, 255) + 255, 510) - 255;
  ColorMatrix m = ColorMatrix::Identity();
  for (int i = 0; i < 3; ++i) m.m[3][i] = static_cast<float>(b);
  return m;
}

ColorMatrix ColorMatrixStage::BuildSaturation(int value) {
  // s = 1 keeps the colour, s = 0 leaves the weighted luminance only.
  const float s =
      static_cast<float>(std::min(ClampInt(value, -10, 10) + 10, 20) - 10) * 0.1f + 1.0f;
  const float wR = (1.0f - s) * kLumRed;
  const float wG = (1.0f - s) * kLumGreen;
  const float wB = (1.0f - s) * kLumBlue;
  ColorMatrix m = ColorMatrix::Identity();
  m.m[0] = {wR + s, wR, wR, 0.0f};
  m.m[1] = {wG, wG + s, wG, 0.0f};
  m.m[2] = {wB, wB, wB + s, 0.0f};
  return m;
}

ColorMatrix ColorMatrixStage::BuildHue(int degrees) {
  // A rotation of the colour cube about its gray axis that keeps the
  // luminance: turn the gray axis onto the blue axis, shear so that the
  // luminance plane stays flat, rotate about blue, then undo the shear and
  // the turns.
  ColorMatrix m = ColorMatrix::Identity();
  m = m * RotateAboutRed(0.70710677f, 0.70710677f);
  m = m * RotateAboutGreen(-0.57735026f, 0.8164966f);

  const float lum[3] = {kLumRed, kLumGreen, kLumBlue};
  float l[3];
  for (int j = 0; j < 3; ++j) {
    l[j] = lum[0] * m.m[0][j] + lum[1] * m.m[1][j] + lum[2] * m.m[2][j] + m.m[3][j];
  }
  const float zx = l[0] / l[2];
  const float zy = l[1] / l[2];

  m = m * ShearAlongBlue(zx, zy);
  const float theta = static_cast<float>(degrees) * 0.017453292f;
  m = m * RotateAboutBlue(std::sin(theta), std::cos(theta));
  m = m * ShearAlongBlue(-zx, -zy);
  m = m * RotateAboutGreen(0.57735026f, 0.8164966f);
  m = m * RotateAboutRed(-0.70710677f, 0.70710677f);
  return m;
}

FixedColorMatrix ColorMatrixStage::ToFixed(const ColorMatrix& matrix) {
  FixedColorMatrix f;
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) {
      // nearbyint rounds ties to even in the default rounding mode.
      f.entry[i * 4 + j] =
          static_cast<int32_t>(std::nearbyint(static_cast<double>(matrix.m[i][j]) * 128.0));
    }
  }
  return f;
}

void ColorMatrixStage::SetContrast(int value) {
  if (value == contrast_) return;
  contrast_ = value;
  contrastMatrix_ = BuildContrast(value);
  RebuildProduct();
}

void ColorMatrixStage::SetBrightness(int value) {
  if (value == brightness_) return;
  brightness_ = value;
  brightnessMatrix_ = BuildBrightness(value);
  RebuildProduct();
}

void ColorMatrixStage::SetSaturation(int value) {
  if (value == saturation_) return;
  saturation_ = value;
  saturationMatrix_ = BuildSaturation(value);
  RebuildProduct();
}

void ColorMatrixStage::SetHue(int degrees) {
  if (degrees == hue_) return;
  hue_ = degrees;
  hueMatrix_ = BuildHue(degrees);
  RebuildProduct();
}

void ColorMatrixStage::SetGains(int red, int green, int blue) {
  redGain_ = red;
  greenGain_ = green;
  blueGain_ = blue;
}

void ColorMatrixStage::RebuildProduct() {
  // A colour passes hue first, then saturation, then brightness, then
  // contrast.
  product_ = hueMatrix_ * saturationMatrix_ * brightnessMatrix_ * contrastMatrix_;
  fixed_ = ToFixed(product_);
  for (int i = 0; i < 16; ++i) positive_[i] = fixed_.entry[i] > 0;
}

void ColorMatrixStage::ResizeWork(int width, int height) {
  if (width == width_ && height == height_ && !work_.empty()) return;
  // The new buffer is made first, so that a failed allocation leaves the old
  // size and buffer together.
  const int pitch = WorkPitch(width);
  // The AVX2 form's last step of a row loads 32 bytes from up to 2 columns
  // before its first pixel; on the bottom rows that reaches past the last row
  // by up to 25 bytes, which this slack keeps inside the buffer (the pixels
  // those lanes give are never stored).
  std::vector<uint8_t> work(
      static_cast<size_t>(pitch) * static_cast<size_t>(WorkRows(height)) + kWorkSlack, 0);
  work_.swap(work);
  width_ = width;
  height_ = height;
  pitch_ = pitch;
}

void ColorMatrixStage::CopyIntoWork(const uint8_t* frame, int framePitch) {
  uint8_t* dst = work_.data() + static_cast<size_t>(kWorkTop) * pitch_ + kWorkLeft;
  for (int y = 0; y < height_; ++y) {
    std::memcpy(dst + static_cast<size_t>(y) * pitch_, frame + static_cast<size_t>(y) * framePitch,
                static_cast<size_t>(width_));
  }
}

const uint8_t* ColorMatrixStage::WorkOrigin() const {
  return work_.data() + static_cast<size_t>(kWorkTop) * pitch_ + kWorkLeft;
}

}  // namespace varnel
