// Lookup tables of the tone filters. Each is built afresh for every call from
// the filter's value; `maxValue` is 255 for the 8-bit forms and 1023 for the
// 16-bit forms (which treat samples as 10-bit), and every table has
// maxValue + 1 entries.
#pragma once

#include <vector>

namespace varnel {

// Gamma: T follows maxValue * (i / maxValue)^e, rounded by the search of the
// smallest k with log10(k - 1) <= m <= log10(k + 1).
std::vector<int> BuildGammaTable(int gamma, int maxValue);
// The gamma exponent for a gamma value (100 gives 1).
double GammaExponent(int gamma);
// Contrast: a straight line through the middle that clips c (4c for 10-bit)
// at both ends. Values outside -127..127 are taken as the nearest end.
std::vector<int> BuildContrastTable(int contrast, int maxValue);
// Brightness: trunc(f * i) limited to maxValue, f = 1 - |b| / 255 below 0 and
// 1 + 10 b / 255 above.
std::vector<int> BuildBrightnessTable(int brightness, int maxValue);
// Sharpness difference table: D[k] = a * (k - maxValue) / 10, k = 0..2 maxValue.
std::vector<int> BuildSharpnessTable(int amount, int maxValue);

}  // namespace varnel
