#include "engine/white_balance.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace varnel {

namespace {

// Truncates toward zero; a value that is not finite or lies beyond the int
// range gives no answer.
bool TruncToInt(double v, int* out) {
  if (!std::isfinite(v) || v >= 2147483647.0 || v <= -2147483648.0) return false;
  *out = static_cast<int>(v);
  return true;
}

int PercentTo128ths(int percent) { return static_cast<int>((int64_t{percent} * 128) / 100); }

}  // namespace

WhiteBalanceResult MeasureGrayWorld(const uint8_t* raw, int width, int height, EnginePhase phase) {
  WhiteBalanceResult r;
  if (raw == nullptr || width <= 0 || height <= 0) return r;
  uint64_t sum[3] = {0, 0, 0};  // red, green, blue
  uint64_t count[3] = {0, 0, 0};
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = raw + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      const EngineSite site = EngineSiteAt(phase, x, y);
      const int c = site == EngineSite::kRed ? 0 : site == EngineSite::kBlue ? 2 : 1;
      sum[c] += row[x];
      ++count[c];
    }
  }
  if (count[0] == 0 || count[1] == 0 || count[2] == 0) return r;
  const double mR = static_cast<double>(sum[0]) / static_cast<double>(count[0]);
  const double mG = static_cast<double>(sum[1]) / static_cast<double>(count[1]);
  const double mB = static_cast<double>(sum[2]) / static_cast<double>(count[2]);
  // A colour without any light has no gain that would balance it.
  if (mR <= 0.0 || mG <= 0.0 || mB <= 0.0) return r;
  const double t = mR + mG + mB;
  const double k = 1.0 / ((t / mG) * (1.0 / 3.0));
  if (!TruncToInt(k * (t / mR) * (1.0 / 3.0) * 100.0, &r.red)) return r;
  if (!TruncToInt(k * (t / mB) * (1.0 / 3.0) * 100.0, &r.blue)) return r;
  r.green = 100;
  r.valid = true;
  return r;
}

WhiteBalanceResult MeasureWhitePatch(const uint8_t* raw, int width, int height, EnginePhase phase) {
  WhiteBalanceResult r;
  r.valid = true;
  r.red = 128;
  r.green = 100;
  r.blue = 128;
  if (raw == nullptr || width < 5 || height < 5) return r;

  int64_t n = 0;
  double sumY = 0.0, sumCb = 0.0, sumCr = 0.0;
  for (int y = 2; y <= height - 3; ++y) {
    for (int x = 2; x <= width - 3; ++x) {
      const BilinearSums s = EngineBilinearSums(raw, width, phase, x, y);
      const double red = s.red >> 4;
      const double blue = s.blue >> 4;
      const double green = s.greenPair >> 1;
      const double lum = 0.587 * green + 0.299 * red + 0.114 * blue;
      const double cb = 0.5 * blue - (0.1687 * red + 0.3313 * green);
      const double cr = 0.5 * red - 0.4187 * green - 0.0813 * blue;
      if (lum - std::fabs(cb) - std::fabs(cr) > 190.5) {
        ++n;
        sumY += lum;
        sumCb += cb;
        sumCr += cr;
      }
    }
  }
  if (n == 0) return r;
  const double ym = sumY / static_cast<double>(n);
  const double cbm = sumCb / static_cast<double>(n);
  const double crm = sumCr / static_cast<double>(n);
  const double m = 0.3313 * ym - 0.114 * cbm - 0.2366 * crm;
  const double t = -0.0813 * ym - 0.1441 * cbm;
  const double o = 0.4187 * ym - 0.1441 * cbm - 0.299 * crm;
  const double l = 0.5 * ym + 0.866 * cbm;
  const double u = -0.1687 * ym - 0.2365 * crm;
  const double h = 0.5 * ym + 0.701 * crm;
  const double redDivisor = t * u - l * h;
  const double blueDivisor = l * h - t * u;
  WhiteBalanceResult none;
  if (redDivisor == 0.0 || blueDivisor == 0.0) return none;
  if (!TruncToInt((m * t - o * l) / redDivisor * 128.0, &r.red)) return none;
  if (!TruncToInt((m * h - o * u) / blueDivisor * 128.0, &r.blue)) return none;
  return r;
}

EngineGains ToEngineGains(const WhiteBalanceResult& result, int mode) {
  auto limit = [](int g) { return std::clamp(g, kMinEngineGain, kMaxEngineGain); };
  EngineGains g;
  if (mode == kWhiteBalanceGrayWorld) {
    g.red = limit(PercentTo128ths(result.red));
    g.blue = limit(PercentTo128ths(result.blue));
  } else {
    g.red = limit(result.red);
    g.blue = limit(result.blue);
  }
  // Both measurements give green in percent (100 = x1).
  g.green = limit(PercentTo128ths(result.green));
  return g;
}

int CorrectHotPixels(uint8_t* raw, int pitch, int rows, EnginePhase phase, int threshold,
                     const EngineGains& gains) {
  if (raw == nullptr || pitch < 5 || rows < 5) return 0;
  int corrected = 0;
  const ptrdiff_t p = pitch;
  for (int y = 2; y <= rows - 3; ++y) {
    uint8_t* row = raw + static_cast<ptrdiff_t>(y) * p;
    for (int x = 2; x <= pitch - 3; ++x) {
      uint8_t* s = row + x;
      const int mean = (s[-2 * p] + s[-2] + s[2] + s[2 * p]) / 4;
      if (*s - mean < threshold) continue;
      const EngineColor c = EngineBilinearColor(EngineBilinearSums(raw, pitch, phase, x, y), gains);
      const int differing = (std::abs(c.red - c.green) > 30) + (std::abs(c.red - c.blue) > 30) +
                            (std::abs(c.green - c.blue) > 30);
      if (differing >= 2) {
        *s = static_cast<uint8_t>(mean);
        ++corrected;
      }
    }
  }
  return corrected;
}

}  // namespace varnel
