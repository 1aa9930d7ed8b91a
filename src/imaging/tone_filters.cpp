// The tone and colour filters: hue and saturation, gamma, contrast, sharpness
// and brightness, each in the mono and colour forms of 8- and 16-bit samples.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "imaging/demosaic_kernel.h"
#include "imaging/pixel_routines.h"
#include "imaging/tone_kernels.h"
#include "imaging/tone_tables.h"

namespace varnel {
namespace {

// A form: 8- or 16-bit samples, one (mono) or three (colour) per pixel.
// The 16-bit forms treat samples as 10-bit: a larger sample is read as 1023
// so that no table is ever read past its end.
template <bool kWide>
struct Samples {
  static constexpr int kMax = kWide ? 1023 : 255;
  static constexpr int kBytes = kWide ? 2 : 1;
  static int Load(const uint8_t* p) {
    if constexpr (kWide) {
      return std::min<int>(LoadSample16(p), kMax);
    } else {
      return *p;
    }
  }
  static void Store(uint8_t* p, int v) {
    if constexpr (kWide) {
      StoreSample16(p, static_cast<uint32_t>(v));
    } else {
      *p = static_cast<uint8_t>(v);
    }
  }
};

// Maps every sample of the rectangle (channels per pixel) through the table.
// Rows are addressed by the stride in every form.
template <bool kWide>
int MapThroughTable(const RegionView& v, int channels, const std::vector<int>& table) {
  using S = Samples<kWide>;
  if (v.Empty()) return 1;
  const int w = v.Width();
  if constexpr (!kWide) {
    uint8_t narrow[256];
    for (int i = 0; i < 256; ++i) narrow[i] = static_cast<uint8_t>(table[i]);
    for (int y = v.top; y < v.bottom; ++y) {
      const uint8_t* s = v.SrcPixel(v.left, y);
      uint8_t* d = v.DstPixel(v.left, y);
      if (v.srcBpp == channels && v.dstBpp == channels) {
        // Packed samples: the row is one run.
        for (int i = 0; i < w * channels; ++i) d[i] = narrow[s[i]];
      } else {
        for (int x = 0; x < w; ++x) {
          for (int c = 0; c < channels; ++c) d[x * v.dstBpp + c] = narrow[s[x * v.srcBpp + c]];
        }
      }
    }
  } else {
    for (int y = v.top; y < v.bottom; ++y) {
      const uint8_t* s = v.SrcPixel(v.left, y);
      uint8_t* d = v.DstPixel(v.left, y);
      for (int x = 0; x < w; ++x) {
        for (int c = 0; c < channels; ++c) {
          S::Store(d + x * v.dstBpp + c * S::kBytes,
                   table[S::Load(s + x * v.srcBpp + c * S::kBytes)]);
        }
      }
    }
  }
  return 1;
}

inline const int* IntParam(void* user) { return ParamRecord<const int>(user); }

template <bool kWide>
int Gamma(const RegionView& v, void* user, int channels) {
  const int* g = IntParam(user);
  if (g == nullptr) return 0;
  return MapThroughTable<kWide>(v, channels, BuildGammaTable(*g, Samples<kWide>::kMax));
}
template <bool kWide>
int Contrast(const RegionView& v, void* user, int channels) {
  const int* c = IntParam(user);
  if (c == nullptr) return 0;
  return MapThroughTable<kWide>(v, channels, BuildContrastTable(*c, Samples<kWide>::kMax));
}
template <bool kWide>
int Brightness(const RegionView& v, void* user, int channels) {
  const int* b = IntParam(user);
  if (b == nullptr) return 0;
  return MapThroughTable<kWide>(v, channels, BuildBrightnessTable(*b, Samples<kWide>::kMax));
}

// One output row of the unsharp mask: rows[0..3] are the source rows y-2..y+1
// (rows[2] the row itself), `columnSum` room for n x channels ints.
template <bool kWide>
void SharpenRow(uint8_t* dst, int dstBpp, const uint8_t* const rows[4], int srcBpp, int n,
                int channels, const int* diff, int* columnSum) {
  using S = Samples<kWide>;
  std::fill(columnSum, columnSum + static_cast<ptrdiff_t>(n) * channels, 0);
  for (int r = 0; r < 4; ++r) {
    const uint8_t* row = rows[r];
    for (int x = 0; x < n; ++x) {
      for (int c = 0; c < channels; ++c) {
        columnSum[x * channels + c] +=
            S::Load(row + static_cast<ptrdiff_t>(x) * srcBpp + c * S::kBytes);
      }
    }
  }
  const uint8_t* srcRow = rows[2];
  for (int x = 2; x <= n - 3; ++x) {
    for (int c = 0; c < channels; ++c) {
      const int blur = (columnSum[(x - 2) * channels + c] + columnSum[(x - 1) * channels + c] +
                        columnSum[x * channels + c] + columnSum[(x + 1) * channels + c]) >>
                       4;
      const int s = S::Load(srcRow + static_cast<ptrdiff_t>(x) * srcBpp + c * S::kBytes);
      const int out = std::clamp(s + diff[s - blur + S::kMax], 0, S::kMax);
      S::Store(dst + static_cast<ptrdiff_t>(x) * dstBpp + c * S::kBytes, out);
    }
  }
}

// Unsharp mask: for 2 <= x <= width-3, 2 <= y <= height-3 of the rectangle,
// out = s + D[s - blur + max], blur = mean of the 4x4 block of the source at
// columns x-2..x+1 and rows y-2..y+1; the outer rows and columns are not
// written.
template <bool kWide>
int Sharpness(const RegionView& v, void* user, int channels) {
  using S = Samples<kWide>;
  const int* a = IntParam(user);
  if (a == nullptr) return 0;
  if (v.Empty()) return 1;
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return 1;
  const std::vector<int> diff = BuildSharpnessTable(*a, S::kMax);
  std::vector<int> columnSum(static_cast<size_t>(w) * channels);
  for (int y = 2; y <= h - 3; ++y) {
    const uint8_t* rows[4];
    for (int r = 0; r < 4; ++r) rows[r] = v.SrcPixel(v.left, v.top + y - 2 + r);
    SharpenRow<kWide>(v.DstPixel(v.left, v.top + y), v.dstBpp, rows, v.srcBpp, w, channels,
                      diff.data(), columnSum.data());
  }
  return 1;
}

// One pixel of the hue and saturation filter on 8-bit values.
void AdjustHsl(int& b, int& g, int& r, int hueShift, int lightnessOffset, int saturationOffset) {
  const int mx = std::max({b, g, r}), mn = std::min({b, g, r});
  int l = (mx + mn) >> 1, s = 0, h = 0;
  if (mx != mn) {
    const int d = mx - mn;
    s = mx + mn < 256 ? d * 255 / (mx + mn) : d * 255 / (510 - mx - mn);
    if (mx == r) {
      h = ((g - b) * 64) / d;
    } else if (mx == g) {
      h = ((b - r) * 64) / d + 120;
    } else {
      h = ((r - g) * 64) / d + 240;
    }
  }
  h += hueShift;
  if (h < 0) {
    h += 360;
  } else if (h >= 360) {
    h -= 360;
  }
  s += saturationOffset;
  l += lightnessOffset;
  if (s <= 0) {
    // A lightness moved out of range by an offset is clamped rather than
    // wrapped to its low byte, which would turn white into a dark gray.
    b = g = r = std::clamp(l, 0, 255);
    return;
  }
  s = std::min(s, 255);
  const int q = l >= 128 ? l + s - ((l * s) >> 8) : (l * (s + 255)) >> 8;
  const int p = 2 * l - q;
  const int d = q - p;
  // A negative remainder (hue still below 0 after the single wrap) gives p.
  auto channel = [&](int hue) {
    const int t = hue % 360;
    int value;
    if (t < 0 || t >= 240) {
      value = p;
    } else if (t < 60) {
      value = p + ((d * t) >> 6);
    } else if (t < 180) {
      value = q;
    } else {
      value = p + ((d * (240 - t)) >> 6);
    }
    return std::clamp(value, 0, 255);
  };
  r = channel(h + 120);
  g = channel(h);
  b = channel(h - 120);
}

// One row of n pixels of the hue and saturation filter.
template <bool kWide>
void HueSaturationRow(uint8_t* dst, int dstBpp, const uint8_t* src, int srcBpp, int n,
                      const HslAdjust& a) {
  using S = Samples<kWide>;
  // Limits far outside the settable ranges keep every intermediate in an int.
  const int hueShift = std::clamp(a.hue, -3600, 3600);
  const int lightness = std::clamp(a.lightness, -4096, 4096);
  const int saturation = std::clamp(a.saturation, -4096, 4096);
  constexpr int kShift = kWide ? 2 : 0;
  for (int x = 0; x < n; ++x) {
    const uint8_t* s = src + static_cast<ptrdiff_t>(x) * srcBpp;
    uint8_t* d = dst + static_cast<ptrdiff_t>(x) * dstBpp;
    int b = S::Load(s) >> kShift, g = S::Load(s + S::kBytes) >> kShift,
        r = S::Load(s + 2 * S::kBytes) >> kShift;
    AdjustHsl(b, g, r, hueShift, lightness, saturation);
    S::Store(d, b << kShift);
    S::Store(d + S::kBytes, g << kShift);
    S::Store(d + 2 * S::kBytes, r << kShift);
  }
}

template <bool kWide>
int HueSaturation(const RegionView& v, void* user) {
  const HslAdjust* a = ParamRecord<const HslAdjust>(user);
  if (a == nullptr) return 0;
  if (v.Empty()) return 1;
  for (int y = v.top; y < v.bottom; ++y) {
    HueSaturationRow<kWide>(v.DstPixel(v.left, y), v.dstBpp, v.SrcPixel(v.left, y), v.srcBpp,
                            v.Width(), *a);
  }
  return 1;
}

}  // namespace

#define VARNEL_FILTER_ROUTINE(Name, Body)  \
  int Name(VARNEL_REGION_ROUTINE_PARAMS) { \
    (void)extra;                           \
    return Body(VARNEL_REGION_VIEW, user); \
  }
#define VARNEL_FILTER_ROUTINE_CH(Name, Body, channels) \
  int Name(VARNEL_REGION_ROUTINE_PARAMS) {             \
    (void)extra;                                       \
    return Body(VARNEL_REGION_VIEW, user, channels);   \
  }

VARNEL_FILTER_ROUTINE(HueSaturationBgr8Routine, HueSaturation<false>)
VARNEL_FILTER_ROUTINE(HueSaturationBgr16Routine, HueSaturation<true>)
VARNEL_FILTER_ROUTINE_CH(GammaMono8Routine, Gamma<false>, 1)
VARNEL_FILTER_ROUTINE_CH(GammaMono16Routine, Gamma<true>, 1)
VARNEL_FILTER_ROUTINE_CH(GammaBgr8Routine, Gamma<false>, 3)
VARNEL_FILTER_ROUTINE_CH(GammaBgr16Routine, Gamma<true>, 3)
VARNEL_FILTER_ROUTINE_CH(ContrastMono8Routine, Contrast<false>, 1)
VARNEL_FILTER_ROUTINE_CH(ContrastMono16Routine, Contrast<true>, 1)
VARNEL_FILTER_ROUTINE_CH(ContrastBgr8Routine, Contrast<false>, 3)
VARNEL_FILTER_ROUTINE_CH(ContrastBgr16Routine, Contrast<true>, 3)
VARNEL_FILTER_ROUTINE_CH(SharpnessMono8Routine, Sharpness<false>, 1)
VARNEL_FILTER_ROUTINE_CH(SharpnessMono16Routine, Sharpness<true>, 1)
VARNEL_FILTER_ROUTINE_CH(SharpnessBgr8Routine, Sharpness<false>, 3)
VARNEL_FILTER_ROUTINE_CH(SharpnessBgr16Routine, Sharpness<true>, 3)
VARNEL_FILTER_ROUTINE_CH(BrightnessMono8Routine, Brightness<false>, 1)
VARNEL_FILTER_ROUTINE_CH(BrightnessMono16Routine, Brightness<true>, 1)
VARNEL_FILTER_ROUTINE_CH(BrightnessBgr8Routine, Brightness<false>, 3)
VARNEL_FILTER_ROUTINE_CH(BrightnessBgr16Routine, Brightness<true>, 3)

#undef VARNEL_FILTER_ROUTINE
#undef VARNEL_FILTER_ROUTINE_CH

void HueSaturationRowScalar(uint8_t* dst, int dstBpp, const uint8_t* src, int srcBpp, int n,
                            bool wide, const HslAdjust& adjust) {
  if (wide) {
    HueSaturationRow<true>(dst, dstBpp, src, srcBpp, n, adjust);
  } else {
    HueSaturationRow<false>(dst, dstBpp, src, srcBpp, n, adjust);
  }
}

void SharpenRowScalar(uint8_t* dst, int dstBpp, const uint8_t* const rows[4], int srcBpp, int n,
                      int channels, bool wide, const int* diff, int* columnSum) {
  if (wide) {
    SharpenRow<true>(dst, dstBpp, rows, srcBpp, n, channels, diff, columnSum);
  } else {
    SharpenRow<false>(dst, dstBpp, rows, srcBpp, n, channels, diff, columnSum);
  }
}

}  // namespace varnel
