// Tone maps, and the constants of the vector sharpen and brightness kernels.
#include "imaging/tone_map.h"

#include <algorithm>
#include <cstring>

#include "imaging/demosaic_kernel.h"
#include "imaging/tone_kernels.h"
#include "imaging/tone_tables.h"

namespace varnel {

ToneMap::ToneMap(int maxValue) : maxValue_(maxValue), table_(maxValue + 1), table32_(maxValue + 1) {
  for (int i = 0; i <= maxValue; ++i) table_[i] = table32_[i] = static_cast<uint16_t>(i);
}

void ToneMap::Then(const std::vector<int>& table) {
  for (uint16_t& v : table_) v = static_cast<uint16_t>(std::clamp(table[v], 0, maxValue_));
  for (int i = 0; i <= maxValue_; ++i) table32_[i] = table_[i];
  identity_ = false;
  for (int i = 0; i <= maxValue_ && identity_; ++i) identity_ = table_[i] == i;
  pairs_.clear();
  bytes_.clear();
}

int ToneMap::Map(int sample) const { return table_[std::clamp(sample, 0, maxValue_)]; }

void ToneMap::BuildPairs() const {
  // Entry (high << 8 | low) maps the two bytes low, high in memory order.
  pairs_.resize(65536);
  for (int high = 0; high < 256; ++high) {
    const uint16_t h = static_cast<uint16_t>(table_[high] << 8);
    uint16_t* out = pairs_.data() + (high << 8);
    for (int low = 0; low < 256; ++low) out[low] = static_cast<uint16_t>(h | table_[low]);
  }
}

void ToneMap::Prepare(SimdLevel level) const {
  if (maxValue_ != 255 || identity_) return;
  if (pairs_.empty()) BuildPairs();
  if (level == SimdLevel::kAvx2 && HaveAvx512VbmiForms() && bytes_.empty()) BuildBytes();
}

void ToneMap::BuildBytes() const {
  bytes_.resize(256);
  for (int i = 0; i < 256; ++i) bytes_[i] = static_cast<uint8_t>(table_[i]);
}

void ToneMap::ApplyRow(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                       SimdLevel level) const {
  if (maxValue_ == 255) {
    if (level == SimdLevel::kAvx2 && HaveAvx512VbmiForms() &&
        (bytesPerPixel == 1 || bytesPerPixel == 3 || bytesPerPixel == 4)) {
      if (bytes_.empty()) BuildBytes();
      MapBytesAvx512Vbmi(dst, src, n * bytesPerPixel, bytesPerPixel == 4, bytes_.data());
      return;
    }
    if (pairs_.empty()) BuildPairs();
    const uint16_t* pairs = pairs_.data();
    auto mapPair = [pairs](uint8_t* d, const uint8_t* s) {
      uint16_t v;
      std::memcpy(&v, s, 2);
      v = pairs[v];
      std::memcpy(d, &v, 2);
    };
    if (bytesPerPixel == 4) {
      for (int x = 0; x < n; ++x) {
        mapPair(dst + 4 * x, src + 4 * x);
        dst[4 * x + 2] = static_cast<uint8_t>(table_[src[4 * x + 2]]);
        dst[4 * x + 3] = src[4 * x + 3];
      }
      return;
    }
    // Mono and 24-bit rows are one run of samples: eight at a time through
    // four pair lookups, then the rest.
    const int count = n * bytesPerPixel;
    int i = 0;
    for (; i + 8 <= count; i += 8) {
      uint64_t v;
      std::memcpy(&v, src + i, 8);
      const uint64_t out = static_cast<uint64_t>(pairs[v & 0xFFFF]) |
                           static_cast<uint64_t>(pairs[(v >> 16) & 0xFFFF]) << 16 |
                           static_cast<uint64_t>(pairs[(v >> 32) & 0xFFFF]) << 32 |
                           static_cast<uint64_t>(pairs[v >> 48]) << 48;
      std::memcpy(dst + i, &out, 8);
    }
    for (; i < count; ++i) dst[i] = static_cast<uint8_t>(table_[src[i]]);
    return;
  }
  if (level == SimdLevel::kAvx2 && maxValue_ == 1023) {
    if (bytesPerPixel == 8) {
      MapPixels64Avx2(dst, src, n, table32_.data());
    } else {
      MapSamples16Avx2(dst, src, n * bytesPerPixel / 2, table32_.data());
    }
    return;
  }
  const uint16_t* table = table_.data();
  const int top = maxValue_;
  auto mapSample = [table, top](uint8_t* d, const uint8_t* s) {
    const uint16_t v = table[std::min<int>(LoadSample16(s), top)];
    StoreSample16(d, v);
  };
  if (bytesPerPixel == 8) {
    for (int x = 0; x < n; ++x) {
      for (int c = 0; c < 3; ++c) mapSample(dst + 8 * x + 2 * c, src + 8 * x + 2 * c);
      std::memmove(dst + 8 * x + 6, src + 8 * x + 6, 2);
    }
    return;
  }
  const int count = n * bytesPerPixel / 2;
  for (int i = 0; i < count; ++i) mapSample(dst + 2 * i, src + 2 * i);
}

SharpenVector MakeSharpenVector(int amount, int maxValue) {
  SharpenVector v;
  v.amount = amount;
  if (amount < 0 || amount > 40 || maxValue > 16383) return v;
  const uint32_t k = (static_cast<uint32_t>(amount) * 16384 + 9) / 10;
  if (k > 65535) return v;
  for (int e = 0; e <= maxValue; ++e) {
    if (((static_cast<uint32_t>(e) << 2) * k) >> 16 != static_cast<uint32_t>(amount * e / 10)) {
      return v;
    }
  }
  v.valid = true;
  v.k = static_cast<uint16_t>(k);
  return v;
}

BrightnessVector MakeBrightnessVector(int brightness, int maxValue) {
  BrightnessVector v;
  v.maxValue = maxValue;
  if (brightness < -255 || brightness > 255 || (maxValue != 255 && maxValue != 1023)) return v;
  const std::vector<int> table = BuildBrightnessTable(brightness, maxValue);
  // The table is trunc(f x i) with f = N / 255 formed in floating point; the
  // exact quotient i x N / 255 is that value or, where it is a whole number
  // and the rounding of f fell below, one less. Both are tried in fixed
  // point with a multiplier fine enough that only those points can differ.
  const uint64_t n = brightness < 0 ? 255 - static_cast<uint64_t>(-brightness)
                                    : 255 + 10 * static_cast<uint64_t>(brightness);
  const int shift = maxValue == 255 ? 16 : 18;
  const uint64_t exact = ((n << shift) + 254) / 255;
  for (const uint64_t k : {exact, exact - 1}) {
    const uint32_t kHi = static_cast<uint32_t>(k >> 16), kLo = static_cast<uint32_t>(k & 0xFFFF);
    bool all = kHi <= 65535;
    for (int i = 0; all && i <= maxValue; ++i) {
      // The 16-bit lane arithmetic of the kernels, done in scalar.
      const uint32_t sum = ((i * kHi) & 0xFFFF) + ((i * kLo) >> 16);
      all = sum <= 65535 &&
            std::min<uint32_t>(sum >> (shift - 16), maxValue) == static_cast<uint32_t>(table[i]);
    }
    if (all) {
      v.valid = true;
      v.kHi = static_cast<uint16_t>(kHi);
      v.kLo = static_cast<uint16_t>(kLo);
      v.extraShift = shift - 16;
      return v;
    }
  }
  return v;
}

void SharpenRowPortable(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                        const SharpenVector& sharpen, const BrightnessVector* post) {
  const bool wide = bytesPerPixel == 2 || bytesPerPixel >= 6;
  const int maxValue = wide ? 1023 : 255;
  const int channels = bytesPerPixel == 1 || bytesPerPixel == 2 ? 1 : 3;
  const std::vector<int> diff = BuildSharpnessTable(sharpen.amount, maxValue);
  std::vector<int> columnSum(static_cast<size_t>(n) * channels);
  std::memcpy(dst, rows[2], static_cast<size_t>(n) * bytesPerPixel);
  SharpenRowScalar(dst, bytesPerPixel, rows, bytesPerPixel, n, channels, wide, diff.data(),
                   columnSum.data());
  if (post == nullptr) return;
  const int sampleBytes = wide ? 2 : 1;
  for (int x = 0; x < n; ++x) {
    for (int c = 0; c < channels; ++c) {
      uint8_t* p = dst + x * bytesPerPixel + c * sampleBytes;
      int v = wide ? std::min(p[0] | p[1] << 8, maxValue) : p[0];
      const uint32_t sum = ((static_cast<uint32_t>(v) * post->kHi) & 0xFFFF) +
                           ((static_cast<uint32_t>(v) * post->kLo) >> 16);
      v = std::min<int>(static_cast<int>((sum & 0xFFFF) >> post->extraShift), maxValue);
      p[0] = static_cast<uint8_t>(v);
      if (wide) p[1] = static_cast<uint8_t>(v >> 8);
    }
  }
}

}  // namespace varnel
