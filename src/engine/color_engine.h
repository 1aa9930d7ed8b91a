// The colour engine: the image processor that a sensor device owns and that
// the driver's dispatcher thread feeds with every frame read from the camera.
//
// SubmitFrame takes each frame in the camera's input format and converts it
// into the engine's output format. Raw Bayer frames go through ProcessFrame,
// which the two kinds of engine implement: the colour converter (demosaic,
// white balance, hot pixels, colour matrix) and the gray converter.
//
// Output format codes: 0 raw copy, 1 8-bit palettised, 2 16-bit 5-6-5,
// 3 16-bit 5-5-5, 4 24-bit, 5 32-bit B, G, R, A, 6 16-bit raw copy.
// Input format codes: 0 raw Bayer samples, 2 5-6-5, 3 5-5-5, 4 24-bit,
// 5 32-bit, 6 16-bit raw.
//
// Threads: the image settings (phase, white-balance mode, hot-pixel pair,
// gains, colour flag and the colour adjustments) are read and written under
// one lock; ProcessFrame takes a snapshot of them under the lock and works
// outside it, so a setter called during a frame takes effect from the next
// frame. The format, size and buffer operations are not locked: the owner
// configures the engine before frames flow, and one thread submits frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <vector>

#include "device/sensor_engine.h"
#include "engine/color_matrix_stage.h"
#include "engine/engine_demosaic.h"
#include "engine/engine_phase.h"
#include "engine/image_processor.h"

namespace varnel {

// Output and input format codes.
inline constexpr int kEngineFormatRaw = 0;
inline constexpr int kEngineFormatGray8 = 1;
inline constexpr int kEngineFormat565 = 2;
inline constexpr int kEngineFormat555 = 3;
inline constexpr int kEngineFormatBgr24 = 4;
inline constexpr int kEngineFormatBgra32 = 5;
inline constexpr int kEngineFormatRaw16 = 6;

// Sizes the engine accepts: large enough for any camera window, small enough
// that every buffer size fits comfortably in 32 bits.
inline constexpr int kEngineMaxDimension = 16384;

// The image settings as one frame sees them.
struct EngineSnapshot {
  EngineGains gains;
  EnginePhase phase = 0;
  int whiteBalanceMode = 0;
  bool defectCorrection = false;
  int defectThreshold = 255;
  bool colorFlag = true;
  bool matrixActive = false;
  FixedColorMatrix matrix;
};

class ColorEngine : public ImageProcessor, public SensorEngine {
 public:
  ColorEngine();
  ~ColorEngine() override;
  ColorEngine(const ColorEngine&) = delete;
  ColorEngine& operator=(const ColorEngine&) = delete;

  // --- ImageProcessor ---
  int GetFormat() const override { return format_; }
  bool SetFormat(int code) override;
  int GetWidth() const override { return width_; }
  int GetHeight() const override { return height_; }
  int GetStride() const override;
  uint8_t* GetImageBuffer() override;
  const BitmapInfoHeader* GetBitmapHeader() const override { return &header_; }
  bool IsAllocated() const override { return allocated_; }
  size_t GetRawSize() const override { return raw_.size(); }
  uint8_t* GetRawBuffer() override { return raw_.empty() ? nullptr : raw_.data(); }
  void Release() override;
  // The base writes nothing and returns 0.
  int Save(const std::filesystem::path& fileName) override;

  // (Re)creates the buffers for the current size and format. False (and no
  // buffers) when the size is outside 1..kEngineMaxDimension.
  virtual bool Allocate();
  // Converts one raw frame of width x height samples (8-bit, or 16-bit of
  // which the first byte is used) in place of the engine's buffers. The frame
  // itself is used as scratch space (two-tap order, 16-bit reduction and
  // hot-pixel correction happen in it).
  virtual void ProcessFrame(uint8_t* frame) = 0;
  // The entry point for each frame from the camera: converts `bytes` bytes in
  // the input format into the output format. False, with nothing written,
  // when the frame is null or shorter than the input format needs, or the
  // buffers do not match the current format and size (Allocate was not
  // called after a change); true when a pair of formats was handled, false
  // for a pair that has no conversion.
  virtual bool SubmitFrame(uint8_t* frame, size_t bytes);

  // --- SensorEngine: image settings, each under the lock ---
  void SetColorFlag(bool color) override;
  bool GetColorFlag() const;
  void SetWhiteBalanceMode(int mode) override;
  int GetWhiteBalanceMode() const;
  // Hot-pixel correction on or off and its threshold, set together.
  void SetDefectCorrection(bool enabled, int threshold) override;
  bool GetDefectCorrection(int* threshold) const;
  // Phases outside 0..3 are refused (the phase is kept).
  void SetBayerPhase(int phase) override;
  int GetBayerPhase() override;
  // Gains in 128ths (128 = x1), limited to 0..kEngineMaxGain.
  void SetRedGain(int gain) override;
  int GetRedGain() override;
  void SetGreenGain(int gain) override;
  int GetGreenGain() override;
  void SetBlueGain(int gain) override;
  int GetBlueGain() override;
  // The colour adjustments: the value is recorded as passed, then the colour
  // matrix is rebuilt when it changed.
  void SetContrast(int value) override;
  void SetBrightness(int value) override;
  void SetSaturation(int value) override;
  void SetHue(int degrees) override;
  int GetContrast() const;
  int GetBrightness() const;
  int GetSaturation() const;
  int GetHue() const;
  bool IsEightBitRaw() const override { return eightBitRaw_; }

  // --- configuration, not locked ---
  // Sets width and height, and with them the row pitch of the hot-pixel pass
  // and the input pitch to the width and the two-tap rows to the height;
  // set those afterwards when they differ. False for sizes outside
  // 1..kEngineMaxDimension (nothing changes).
  bool SetSize(int width, int height);
  int GetRowPitch() const { return rowPitch_; }
  bool SetRowPitch(int pitch);
  int GetInputPitch() const { return inputPitch_; }
  bool SetInputPitch(int pitch);
  int GetInputRows() const { return inputRows_; }
  bool SetInputRows(int rows);
  int GetInputFormat() const { return inputFormat_; }
  // Accepts 0 and 2..6.
  bool SetInputFormat(int code);
  bool GetKeepRaw() const { return keepRaw_; }
  void SetKeepRaw(bool keep) { keepRaw_ = keep; }
  void SetEightBitRaw(bool eightBit) { eightBitRaw_ = eightBit; }
  bool GetTwoTap() const { return twoTap_; }
  void SetTwoTap(bool twoTap) { twoTap_ = twoTap; }

  // The buffers as they are, for the converters and for tests.
  uint8_t* OutputBuffer() { return output_.empty() ? nullptr : OutputPixels(); }
  size_t OutputSize() const { return output_.size() - OutputPixelOffset(); }

  static constexpr int kEngineMaxGain = 1023;

  // Two-tap reordering of one row of `width` samples in place: even samples
  // fill the left half left to right, odd samples the right half right to
  // left. With an odd width the last even sample takes the middle place.
  static void ReorderTwoTapRow(uint8_t* row, int width, std::vector<uint8_t>& scratch);

 protected:
  // The output formats that ProcessFrame fills (raw input).
  virtual bool ProcessesInto(int format) const { return format == kEngineFormatBgra32; }

  EngineSnapshot TakeSnapshot() const;
  // Stores measured gains (already in 128ths) under the lock.
  void StoreMeasuredGains(const EngineGains& gains);
  // Bytes per raw sample of the frames: 1, or 2 for 16-bit samples.
  int RawSampleBytes() const { return eightBitRaw_ ? 1 : 2; }
  // Two-tap reordering (when set and `allowTwoTap`) and then, for 16-bit
  // samples without two-tap reordering, the reduction to the first byte of
  // each sample, in place on a frame of width x height samples.
  void PrepareRawFrame(uint8_t* frame, bool allowTwoTap);
  // Writes the current image as a bitmap or raw file by the name's
  // extension; the engines' Save.
  int SaveImage(const std::filesystem::path& fileName);

  uint8_t* OutputPixels() { return output_.data() + OutputPixelOffset(); }
  size_t OutputPixelOffset() const;
  // The 8-bit image's stride (rows padded to 4 bytes).
  int Gray8Stride() const { return (width_ + 3) & ~3; }

  ColorMatrixStage matrix_;
  std::vector<uint8_t> scratch_;

 private:
  // Makes the buffers and the header of the current format and size.
  void AllocateBuffers();
  bool WriteBitmap(const std::filesystem::path& fileName);
  int WriteRaw(const std::filesystem::path& fileName);
  void FillHeader(int bitCount, uint32_t sizeImage);
  bool BuffersMatch() const;
  bool SubmitColorInput(const uint8_t* frame, size_t bytes);

  mutable std::mutex mutex_;
  // Guarded by mutex_.
  EnginePhase phase_ = 0;
  int whiteBalanceMode_ = 0;
  bool defectCorrection_ = false;
  int defectThreshold_ = 255;
  int redGain_ = 128;
  int greenGain_ = 128;
  int blueGain_ = 128;
  bool colorFlag_ = true;
  int contrast_ = 0;
  int brightness_ = 0;
  int saturation_ = 0;
  int hue_ = 0;

  // Configuration and buffers (one thread).
  int format_ = kEngineFormatBgra32;
  int inputFormat_ = kEngineFormatRaw;
  bool allocated_ = false;
  bool keepRaw_ = false;
  bool eightBitRaw_ = true;
  bool twoTap_ = false;
  int width_ = 752;
  int height_ = 400;
  int rowPitch_ = 752;
  int inputPitch_ = 752;
  int inputRows_ = 480;
  int outputStride_ = 0;
  BitmapInfoHeader header_;
  // The output image; for format 1 one block of header, palette and pixels.
  std::vector<uint8_t> output_;
  std::vector<uint8_t> raw_;
  std::vector<uint8_t> buffer16_;
  // What Allocate made the buffers for.
  int allocatedFormat_ = -1;
  int allocatedWidth_ = 0;
  int allocatedHeight_ = 0;
  bool allocatedEightBit_ = true;
  bool allocatedKeepRaw_ = false;
};

}  // namespace varnel
