// Shared helpers of the colour engine tests: mosaics, engines and an
// independent reading of the engine's phase table.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "engine/color_converter.h"
#include "engine/gray_converter.h"

namespace varnel::enginetest {

// The engine's phase table as the documentation states it, row 0 and row 1,
// kept here apart from the library's own table so that a mistake there shows.
inline char ColourAt(int phase, int x, int y) {
  static const char* const kRows[4][2] = {{"GR", "BG"}, {"BG", "GR"}, {"RG", "GB"}, {"GB", "RG"}};
  return kRows[phase][y & 1][x & 1];
}

// The colour that shares the row of a green sample: 'R' or 'B'.
inline char RowColour(int phase, int y) {
  const char a = ColourAt(phase, 0, y);
  return a == 'G' ? ColourAt(phase, 1, y) : a;
}

inline std::vector<uint8_t> RandomMosaic(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> dist(0, 255);
  std::vector<uint8_t> m(static_cast<size_t>(width) * height);
  for (auto& v : m) v = static_cast<uint8_t>(dist(rng));
  return m;
}

// A mosaic whose red, green and blue samples have the given values.
inline std::vector<uint8_t> PlaneMosaic(int width, int height, int phase, int red, int green,
                                        int blue) {
  std::vector<uint8_t> m(static_cast<size_t>(width) * height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const char c = ColourAt(phase, x, y);
      m[static_cast<size_t>(y) * width + x] = static_cast<uint8_t>(c == 'R'   ? red
                                                                   : c == 'G' ? green
                                                                              : blue);
    }
  }
  return m;
}

struct Bgra {
  int b, g, r, a;
  bool operator==(const Bgra&) const = default;
};

inline Bgra PixelAt(const uint8_t* out, int width, int x, int y) {
  const uint8_t* p = out + (static_cast<size_t>(y) * width + x) * 4;
  return {p[0], p[1], p[2], p[3]};
}

inline std::unique_ptr<ColorConverter> MakeColorEngine(int width, int height, bool vector) {
  auto e = std::make_unique<ColorConverter>();
  e->SetSize(width, height);
  e->SetFormat(kEngineFormatBgra32);
  e->SetVectorFormsAllowed(vector);
  e->Allocate();
  return e;
}

// Runs one 8-bit frame through an engine (a copy: the engine works in it).
inline bool Submit(ColorEngine& e, const std::vector<uint8_t>& frame) {
  std::vector<uint8_t> copy = frame;
  return e.SubmitFrame(copy.data(), copy.size());
}

}  // namespace varnel::enginetest
