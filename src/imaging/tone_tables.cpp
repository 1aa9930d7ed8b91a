// Construction of the tone filters' lookup tables.
#include "imaging/tone_tables.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace varnel {

double GammaExponent(int gamma) {
  double e = gamma > 100 ? 1.0 + (gamma - 100) * 0.1 : gamma * 0.01;
  if (e <= 0.001) e = 0.001;
  if (e >= 99.999) e = 99.999;
  return e;
}

std::vector<int> BuildGammaTable(int gamma, int maxValue) {
  const double e = GammaExponent(gamma);
  // log10 of 0..maxValue; entry k + 1 is tested against m, so the search for
  // the smallest k is a lower bound on this increasing sequence.
  std::vector<double> logs(maxValue + 1);
  for (int i = 1; i <= maxValue; ++i) logs[i] = std::log10(static_cast<double>(i));
  const double top = std::log10(static_cast<double>(maxValue));
  std::vector<int> table(maxValue + 1, 0);
  for (int i = 1; i <= maxValue; ++i) {
    const double m = top + e * (logs[i] - top);
    if (m < 0) {
      table[i] = 1;
      continue;
    }
    // Smallest k in 2..maxValue-1 with log10(k + 1) >= m; for such k (and
    // m >= 0) log10(k - 1) <= m holds as well, since k - 1 < k + 1 and either
    // k = 2 (log10(1) = 0) or log10(k) < m.
    const auto it = std::lower_bound(logs.begin() + 3, logs.end(), m);
    const int k = static_cast<int>(it - logs.begin()) - 1;
    table[i] = k <= maxValue - 1 ? k : maxValue;
  }
  return table;
}

std::vector<int> BuildContrastTable(int contrast, int maxValue) {
  const int scale = (maxValue + 1) / 256;  // 1 for 8-bit, 4 for 10-bit
  const int c = std::clamp(contrast, -127, 127) * scale;
  const int half = (maxValue + 1) / 2;
  const double slope = static_cast<double>(maxValue + 1) / (2.0 * (half - c));
  std::vector<int> table(maxValue + 1);
  for (int i = 0; i <= maxValue; ++i) {
    if (i < c) {
      table[i] = 0;
    } else if (i > maxValue - c) {
      table[i] = maxValue;
    } else {
      table[i] = static_cast<int>(slope * (i - c));
    }
  }
  return table;
}

std::vector<int> BuildBrightnessTable(int brightness, int maxValue) {
  double f = 1.0;
  if (brightness < 0) {
    f = 1.0 - std::min(std::abs(static_cast<double>(brightness)), 255.0) / 255.0;
  } else if (brightness > 0) {
    f = 1.0 + static_cast<double>(brightness) * 10.0 / 255.0;
  }
  std::vector<int> table(maxValue + 1);
  for (int i = 0; i <= maxValue; ++i) {
    const double v = f * i;
    table[i] = v >= maxValue ? maxValue : static_cast<int>(v);
  }
  return table;
}

std::vector<int> BuildSharpnessTable(int amount, int maxValue) {
  // Far beyond the settable 0..30; keeps every product inside an int.
  const int a = std::clamp(amount, -100000, 100000);
  std::vector<int> table(2 * maxValue + 1);
  for (int k = 0; k <= 2 * maxValue; ++k) table[k] = a * (k - maxValue) / 10;
  return table;
}

}  // namespace varnel
