#include "engine/color_engine.h"

#include "platform/resources.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "engine/basic_exception.h"
#include "platform/engine_file.h"

namespace varnel {

namespace {

constexpr size_t kHeaderBytes = 40;
constexpr size_t kPaletteBytes = 256 * 4;
constexpr size_t kFileHeaderBytes = 14;
constexpr int32_t kPixelsPerMetre = 3780;

bool ValidDimension(int v) { return v >= 1 && v <= kEngineMaxDimension; }

void PutU16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The header as the 40 bytes of a file, little-endian whatever the host.
void SerializeHeader(const BitmapInfoHeader& h, uint8_t* p) {
  PutU32(p + 0, h.size);
  PutU32(p + 4, static_cast<uint32_t>(h.width));
  PutU32(p + 8, static_cast<uint32_t>(h.height));
  PutU16(p + 12, h.planes);
  PutU16(p + 14, h.bitCount);
  PutU32(p + 16, h.compression);
  PutU32(p + 20, h.sizeImage);
  PutU32(p + 24, static_cast<uint32_t>(h.xPelsPerMeter));
  PutU32(p + 28, static_cast<uint32_t>(h.yPelsPerMeter));
  PutU32(p + 32, h.clrUsed);
  PutU32(p + 36, h.clrImportant);
}

void GrayPalette(uint8_t* p) {
  for (int i = 0; i < 256; ++i) {
    p[i * 4 + 0] = static_cast<uint8_t>(i);
    p[i * 4 + 1] = static_cast<uint8_t>(i);
    p[i * 4 + 2] = static_cast<uint8_t>(i);
    p[i * 4 + 3] = 255;
  }
}

int InputBytesPerPixel(int inputFormat) {
  switch (inputFormat) {
    case kEngineFormat565:
    case kEngineFormat555:
    case kEngineFormatRaw16:
      return 2;
    case kEngineFormatBgr24:
      return 3;
    case kEngineFormatBgra32:
      return 4;
    default:
      return 1;
  }
}

// ASCII case-insensitive three-way comparison of the last three characters
// of a file name with a three-letter extension (like StrCmpIW on the tail).
template <typename Char>
int CompareTail(const std::basic_string<Char>& name, const char* ext) {
  const size_t n = name.size();
  const size_t start = n >= 3 ? n - 3 : 0;
  size_t i = start;
  size_t j = 0;
  for (; i < n && ext[j] != '\0'; ++i, ++j) {
    uint32_t a = static_cast<uint32_t>(name[i]);
    uint32_t b = static_cast<uint8_t>(ext[j]);
    if (a >= 'A' && a <= 'Z') a += 'a' - 'A';
    if (b >= 'A' && b <= 'Z') b += 'a' - 'A';
    if (a != b) return a < b ? -1 : 1;
  }
  if (i < n) return 1;
  if (ext[j] != '\0') return -1;
  return 0;
}

}  // namespace

ColorEngine::ColorEngine() { header_.size = 0; }

ColorEngine::~ColorEngine() = default;

bool ColorEngine::SetFormat(int code) {
  if (code < kEngineFormatRaw || code > kEngineFormatRaw16) return false;
  format_ = code;
  return true;
}

int ColorEngine::GetStride() const {
  switch (format_) {
    case kEngineFormatRaw:
    case kEngineFormatRaw16:
      return outputStride_;
    case kEngineFormatGray8:
      return Gray8Stride();
    case kEngineFormat565:
    case kEngineFormat555:
      return (width_ * 16 + 31) / 32 * 4;
    case kEngineFormatBgr24:
      return (width_ * 24 + 31) / 32 * 4;
    case kEngineFormatBgra32:
      return width_ * 4;
    default:
      return 0;
  }
}

uint8_t* ColorEngine::GetImageBuffer() {
  if (format_ == kEngineFormatRaw16) return buffer16_.empty() ? nullptr : buffer16_.data();
  if (format_ == kEngineFormatRaw) return GetRawBuffer();
  return OutputBuffer();
}

size_t ColorEngine::OutputPixelOffset() const {
  return (allocatedFormat_ == kEngineFormatGray8 && !output_.empty()) ? kHeaderBytes + kPaletteBytes
                                                                      : 0;
}

void ColorEngine::Release() {
  output_ = {};
  raw_ = {};
  buffer16_ = {};
  header_ = BitmapInfoHeader{};
  header_.size = 0;
  allocated_ = false;
  allocatedFormat_ = -1;
}

int ColorEngine::Save(const std::filesystem::path&) { return 0; }

void ColorEngine::FillHeader(int bitCount, uint32_t sizeImage) {
  header_ = BitmapInfoHeader{};
  header_.size = 40;
  header_.width = width_;
  header_.height = height_;
  header_.planes = 1;
  header_.bitCount = static_cast<uint16_t>(bitCount);
  header_.compression = 0;
  header_.sizeImage = sizeImage;
  header_.xPelsPerMeter = kPixelsPerMetre;
  header_.yPelsPerMeter = kPixelsPerMetre;
  if (bitCount == 8) {
    header_.clrUsed = 256;
    header_.clrImportant = 256;
  }
}

bool ColorEngine::Allocate() {
  Release();
  if (!ValidDimension(width_) || !ValidDimension(height_)) return false;
  if (ResourceRefused(ResourceKind::kMemory,
                      static_cast<size_t>(width_) * static_cast<size_t>(height_))) {
    return false;
  }
  try {
    AllocateBuffers();
  } catch (const std::bad_alloc&) {
    // Out of memory is a failed Allocate, not an exception in the driver.
    Release();
    return false;
  }
  allocated_ = true;
  allocatedFormat_ = format_;
  allocatedWidth_ = width_;
  allocatedHeight_ = height_;
  allocatedEightBit_ = eightBitRaw_;
  allocatedKeepRaw_ = keepRaw_;
  return true;
}

void ColorEngine::AllocateBuffers() {
  const size_t w = static_cast<size_t>(width_);
  const size_t h = static_cast<size_t>(height_);
  const size_t sampleBytes = static_cast<size_t>(RawSampleBytes());
  switch (format_) {
    case kEngineFormatRaw16:
      buffer16_.assign(w * 2 * h, 0);
      outputStride_ = width_ * 2;
      FillHeader(16, static_cast<uint32_t>(w * 2 * h));
      break;
    case kEngineFormatGray8: {
      const size_t stride = static_cast<size_t>(Gray8Stride());
      output_.assign(kHeaderBytes + kPaletteBytes + stride * h, 0);
      outputStride_ = Gray8Stride();
      FillHeader(8, static_cast<uint32_t>(stride * h));
      SerializeHeader(header_, output_.data());
      GrayPalette(output_.data() + kHeaderBytes);
      break;
    }
    case kEngineFormat565:
    case kEngineFormat555:
      outputStride_ = GetStride();
      output_.assign(static_cast<size_t>(outputStride_) * h, 0);
      FillHeader(16, static_cast<uint32_t>(output_.size()));
      break;
    case kEngineFormatBgr24:
      // A 24-bit output needs a 24-bit image; a raw-sized buffer would be
      // overrun by the first frame.
      outputStride_ = GetStride();
      output_.assign(static_cast<size_t>(outputStride_) * h, 0);
      FillHeader(24, static_cast<uint32_t>(output_.size()));
      break;
    case kEngineFormatBgra32:
      output_.assign(w * 4 * h, 0xFF);
      outputStride_ = width_ * 4;
      if (keepRaw_) raw_.assign(w * h * sampleBytes, 0);
      FillHeader(32, static_cast<uint32_t>(w * 4 * h));
      break;
    case kEngineFormatRaw:
    default:
      raw_.assign(w * sampleBytes * h, 0);
      outputStride_ = static_cast<int>(w * sampleBytes);
      FillHeader(32, static_cast<uint32_t>(w * 4 * h));
      break;
  }
}

bool ColorEngine::BuffersMatch() const {
  if (!allocated_ || allocatedFormat_ != format_ || allocatedWidth_ != width_ ||
      allocatedHeight_ != height_ || allocatedEightBit_ != eightBitRaw_) {
    return false;
  }
  // Keeping the raw copy needs the copy that Allocate makes for it.
  return !(format_ == kEngineFormatBgra32 && keepRaw_ && !allocatedKeepRaw_);
}

bool ColorEngine::SubmitFrame(uint8_t* frame, size_t bytes) {
  if (frame == nullptr || !BuffersMatch()) return false;
  const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  if (inputFormat_ != kEngineFormatRaw) return SubmitColorInput(frame, bytes);

  const size_t need = samples * static_cast<size_t>(RawSampleBytes());
  if (bytes < need) return false;
  if (ProcessesInto(format_)) {
    if (keepRaw_ && raw_.size() >= need) std::memcpy(raw_.data(), frame, need);
    ProcessFrame(frame);
    return true;
  }
  if (format_ == kEngineFormatRaw) {
    // Rows of the output stride, which for the raw format is the row of
    // samples itself: the frame is copied as a whole.
    std::memcpy(raw_.data(), frame, std::min(need, raw_.size()));
    return true;
  }
  return false;
}

bool ColorEngine::SubmitColorInput(const uint8_t* frame, size_t bytes) {
  const size_t w = static_cast<size_t>(width_);
  const size_t h = static_cast<size_t>(height_);
  const size_t bpp = static_cast<size_t>(InputBytesPerPixel(inputFormat_));
  // Rows are input-pitch bytes apart; a pitch shorter than a row cannot be
  // one, and the rows are then taken as packed.
  const size_t srcStride = std::max(static_cast<size_t>(std::max(inputPitch_, 0)), w * bpp);
  const size_t need = srcStride * (h - 1) + w * bpp;
  if (bytes < need) return false;

  auto copyRows = [&](std::vector<uint8_t>& dst, size_t dstStride) {
    for (size_t y = 0; y < h; ++y)
      std::memcpy(dst.data() + y * dstStride, frame + y * srcStride, w * bpp);
  };
  auto widen = [&](auto pixel) {
    uint8_t* out = OutputPixels();
    const size_t dstStride = static_cast<size_t>(outputStride_);
    for (size_t y = 0; y < h; ++y) {
      const uint8_t* s = frame + y * srcStride;
      uint8_t* d = out + y * dstStride;
      for (size_t x = 0; x < w; ++x) pixel(s + x * bpp, d + x * 4);
    }
  };

  const int in = inputFormat_;
  const int out = format_;
  if ((in == kEngineFormat565 && out == kEngineFormat565) ||
      (in == kEngineFormat555 && out == kEngineFormat555) ||
      (in == kEngineFormatBgr24 && out == kEngineFormatBgr24) ||
      (in == kEngineFormatBgra32 && out == kEngineFormatBgra32)) {
    copyRows(output_, static_cast<size_t>(outputStride_));
    return true;
  }
  if (in == kEngineFormatRaw16 && out == kEngineFormatRaw16) {
    copyRows(buffer16_, static_cast<size_t>(outputStride_));
    return true;
  }
  if (out != kEngineFormatBgra32) return false;
  switch (in) {
    case kEngineFormat565:
      widen([](const uint8_t* s, uint8_t* d) {
        const unsigned a = s[0] | (s[1] << 8);
        d[0] = static_cast<uint8_t>((a & 0x1F) << 3);
        d[1] = static_cast<uint8_t>(((a >> 5) & 0x3F) << 2);
        d[2] = static_cast<uint8_t>(((a >> 11) & 0x1F) << 3);
        d[3] = 255;
      });
      return true;
    case kEngineFormat555:
      widen([](const uint8_t* s, uint8_t* d) {
        const unsigned a = s[0] | (s[1] << 8);
        d[0] = static_cast<uint8_t>((a & 0x1F) << 3);
        d[1] = static_cast<uint8_t>(((a >> 5) & 0x1F) << 3);
        d[2] = static_cast<uint8_t>(((a >> 10) & 0x1F) << 3);
        d[3] = 255;
      });
      return true;
    case kEngineFormatBgr24:
      widen([](const uint8_t* s, uint8_t* d) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        d[3] = 255;
      });
      return true;
    default:
      return false;
  }
}

void ColorEngine::ReorderTwoTapRow(uint8_t* row, int width, std::vector<uint8_t>& scratch) {
  if (width < 2) return;
  const size_t w = static_cast<size_t>(width);
  scratch.assign(row, row + w);
  const size_t half = w / 2;
  for (size_t i = 0; i < half; ++i) {
    row[i] = scratch[2 * i];
    row[w - 1 - i] = scratch[2 * i + 1];
  }
  // With an odd width one even sample is left over; it is the next one in
  // left-to-right order, so it takes the middle place.
  if (w % 2 != 0) row[half] = scratch[w - 1];
}

void ColorEngine::PrepareRawFrame(uint8_t* frame, bool allowTwoTap) {
  const size_t samples = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  const size_t frameBytes = samples * static_cast<size_t>(RawSampleBytes());
  const bool reorder = allowTwoTap && twoTap_;
  if (reorder && inputPitch_ >= 2) {
    // Never more rows than the frame holds, whatever the configured rows.
    const size_t pitch = static_cast<size_t>(inputPitch_);
    const size_t rows = std::min(static_cast<size_t>(std::max(inputRows_, 0)), frameBytes / pitch);
    for (size_t y = 0; y < rows; ++y) ReorderTwoTapRow(frame + y * pitch, inputPitch_, scratch_);
  }
  if (!eightBitRaw_ && !reorder) {
    for (size_t i = 0; i < samples; ++i) frame[i] = frame[2 * i];
  }
}

EngineSnapshot ColorEngine::TakeSnapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  EngineSnapshot s;
  s.gains.red = redGain_;
  s.gains.green = greenGain_;
  s.gains.blue = blueGain_;
  s.phase = phase_;
  s.whiteBalanceMode = whiteBalanceMode_;
  s.defectCorrection = defectCorrection_;
  s.defectThreshold = defectThreshold_;
  s.colorFlag = colorFlag_;
  s.matrixActive = matrix_.IsActive();
  s.matrix = matrix_.FixedProduct();
  return s;
}

void ColorEngine::StoreMeasuredGains(const EngineGains& gains) {
  std::lock_guard<std::mutex> lock(mutex_);
  redGain_ = gains.red;
  greenGain_ = gains.green;
  blueGain_ = gains.blue;
}

// --- image settings -----------------------------------------------------------

void ColorEngine::SetColorFlag(bool color) {
  std::lock_guard<std::mutex> lock(mutex_);
  colorFlag_ = color;
}

bool ColorEngine::GetColorFlag() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return colorFlag_;
}

void ColorEngine::SetWhiteBalanceMode(int mode) {
  if (mode < 0 || mode > 2) return;
  std::lock_guard<std::mutex> lock(mutex_);
  whiteBalanceMode_ = mode;
}

int ColorEngine::GetWhiteBalanceMode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return whiteBalanceMode_;
}

void ColorEngine::SetDefectCorrection(bool enabled, int threshold) {
  std::lock_guard<std::mutex> lock(mutex_);
  defectCorrection_ = enabled;
  defectThreshold_ = std::clamp(threshold, 0, 255);
}

bool ColorEngine::GetDefectCorrection(int* threshold) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (threshold != nullptr) *threshold = defectThreshold_;
  return defectCorrection_;
}

void ColorEngine::SetBayerPhase(int phase) {
  if (phase < 0 || phase >= kEnginePhaseCount) return;
  std::lock_guard<std::mutex> lock(mutex_);
  phase_ = phase;
}

int ColorEngine::GetBayerPhase() {
  std::lock_guard<std::mutex> lock(mutex_);
  return phase_;
}

void ColorEngine::SetRedGain(int gain) {
  std::lock_guard<std::mutex> lock(mutex_);
  redGain_ = std::clamp(gain, 0, kEngineMaxGain);
}

int ColorEngine::GetRedGain() {
  std::lock_guard<std::mutex> lock(mutex_);
  return redGain_;
}

void ColorEngine::SetGreenGain(int gain) {
  std::lock_guard<std::mutex> lock(mutex_);
  greenGain_ = std::clamp(gain, 0, kEngineMaxGain);
}

int ColorEngine::GetGreenGain() {
  std::lock_guard<std::mutex> lock(mutex_);
  return greenGain_;
}

void ColorEngine::SetBlueGain(int gain) {
  std::lock_guard<std::mutex> lock(mutex_);
  blueGain_ = std::clamp(gain, 0, kEngineMaxGain);
}

int ColorEngine::GetBlueGain() {
  std::lock_guard<std::mutex> lock(mutex_);
  return blueGain_;
}

// The matrix is rebuilt under the same lock as the other settings, so a
// frame never reads a product that is half rewritten.
void ColorEngine::SetContrast(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  contrast_ = value;
  matrix_.SetContrast(value);
}

void ColorEngine::SetBrightness(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  brightness_ = value;
  matrix_.SetBrightness(value);
}

void ColorEngine::SetSaturation(int value) {
  std::lock_guard<std::mutex> lock(mutex_);
  saturation_ = value;
  matrix_.SetSaturation(value);
}

void ColorEngine::SetHue(int degrees) {
  std::lock_guard<std::mutex> lock(mutex_);
  hue_ = degrees;
  matrix_.SetHue(degrees);
}

int ColorEngine::GetContrast() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return contrast_;
}

int ColorEngine::GetBrightness() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return brightness_;
}

int ColorEngine::GetSaturation() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return saturation_;
}

int ColorEngine::GetHue() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hue_;
}

// --- configuration ------------------------------------------------------------

bool ColorEngine::SetSize(int width, int height) {
  if (!ValidDimension(width) || !ValidDimension(height)) return false;
  width_ = width;
  height_ = height;
  rowPitch_ = width;
  inputPitch_ = width;
  inputRows_ = height;
  return true;
}

bool ColorEngine::SetRowPitch(int pitch) {
  if (!ValidDimension(pitch)) return false;
  rowPitch_ = pitch;
  return true;
}

bool ColorEngine::SetInputPitch(int pitch) {
  if (pitch < 1 || pitch > 4 * kEngineMaxDimension) return false;
  inputPitch_ = pitch;
  return true;
}

bool ColorEngine::SetInputRows(int rows) {
  if (!ValidDimension(rows)) return false;
  inputRows_ = rows;
  return true;
}

bool ColorEngine::SetInputFormat(int code) {
  if (code < kEngineFormatRaw || code > kEngineFormatRaw16 || code == kEngineFormatGray8)
    return false;
  inputFormat_ = code;
  return true;
}

// --- saving -------------------------------------------------------------------

int ColorEngine::SaveImage(const std::filesystem::path& fileName) {
  const auto& name = fileName.native();
  if (CompareTail(name, "raw") == 0) return WriteRaw(fileName);
  const int bmp = CompareTail(name, "bmp");
  if (bmp != 0) return bmp;
  return WriteBitmap(fileName) ? 1 : 0;
}

int ColorEngine::WriteRaw(const std::filesystem::path& fileName) {
  if (raw_.empty()) return 0;
  EngineFileWriter file;
  if (!file.Create(fileName)) return 0;
  // A short or failed write is a failed save, whatever the close says.
  if (!file.Write(raw_.data(), raw_.size())) return 0;
  return file.Close() ? 1 : 0;
}

bool ColorEngine::WriteBitmap(const std::filesystem::path& fileName) {
  // Only the 32-bit and the 8-bit palettised images are written as bitmaps;
  // another format holds no image of the size the file header announces.
  const bool eightBit = allocatedFormat_ == kEngineFormatGray8;
  const bool thirtyTwo = allocatedFormat_ == kEngineFormatBgra32;
  if (!allocated_ || (!eightBit && !thirtyTwo) || output_.empty()) return false;

  const uint32_t pixelBytes = static_cast<uint32_t>(OutputSize());
  const uint32_t offset =
      static_cast<uint32_t>(kFileHeaderBytes + kHeaderBytes + (eightBit ? kPaletteBytes : 0));
  uint8_t head[kFileHeaderBytes + kHeaderBytes + kPaletteBytes] = {};
  head[0] = 'B';
  head[1] = 'M';
  PutU32(head + 2, pixelBytes + offset);
  PutU32(head + 10, offset);
  BitmapInfoHeader info = header_;
  info.height = -header_.height;  // top row first
  SerializeHeader(info, head + kFileHeaderBytes);
  if (eightBit)
    std::memcpy(head + kFileHeaderBytes + kHeaderBytes, output_.data() + kHeaderBytes,
                kPaletteBytes);

  // The writer closes the file on every path, the throwing ones included.
  EngineFileWriter file;
  auto fail = [&file]() {
    throw basic_exception(file.LastError(), SystemErrorText(file.LastError()));
  };
  if (!file.Create(fileName)) fail();
  if (!file.Write(head, offset)) fail();
  if (!file.Write(OutputPixels(), pixelBytes)) fail();
  if (!file.Close()) fail();
  return true;
}

}  // namespace varnel
