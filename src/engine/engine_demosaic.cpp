// Scalar (bilinear) forms of the colour engine's demosaic.
#include "engine/engine_demosaic.h"

#include <cstddef>

namespace varnel {

namespace {

// Where the samples of the bilinear formula lie relative to (x, y), for one
// parity of x and y. Offsets are in bytes for a given pitch.
struct BilinearTaps {
  ptrdiff_t red[4];  // a, b, c, d (weights 9, 3, 3, 1)
  ptrdiff_t blue[4];
  ptrdiff_t green[2];
};

// The four samples of one colour around the centre of the 2x2 block whose
// bottom right sample is (x, y): a inside the block, b on a's row on the other
// side of the centre, c in a's column on the other side, d diagonal.
void ColourTaps(int ax, int ay, int x, int y, int pitch, ptrdiff_t* taps) {
  const int bx = (ax == x - 1) ? ax + 2 : ax - 2;
  const int cy = (ay == y - 1) ? ay + 2 : ay - 2;
  auto at = [&](int px, int py) {
    return static_cast<ptrdiff_t>(py - y) * pitch + static_cast<ptrdiff_t>(px - x);
  };
  taps[0] = at(ax, ay);
  taps[1] = at(bx, ay);
  taps[2] = at(ax, cy);
  taps[3] = at(bx, cy);
}

// Builds the taps for (x, y) of the given parity; x and y are taken as 2 or 3
// so that only their parities matter.
BilinearTaps MakeTaps(EnginePhase phase, int x, int y, int pitch) {
  BilinearTaps t{};
  int greens = 0;
  for (int dy = -1; dy <= 0; ++dy) {
    for (int dx = -1; dx <= 0; ++dx) {
      const int px = x + dx;
      const int py = y + dy;
      switch (EngineSiteAt(phase, px, py)) {
        case EngineSite::kRed:
          ColourTaps(px, py, x, y, pitch, t.red);
          break;
        case EngineSite::kBlue:
          ColourTaps(px, py, x, y, pitch, t.blue);
          break;
        default:
          t.green[greens++] = static_cast<ptrdiff_t>(dy) * pitch + dx;
          break;
      }
    }
  }
  return t;
}

// Taps for the four parities, indexed by (y & 1) * 2 + (x & 1).
struct TapTable {
  BilinearTaps byParity[4];
  TapTable(EnginePhase phase, int pitch) {
    for (int py = 0; py < 2; ++py) {
      for (int px = 0; px < 2; ++px) byParity[py * 2 + px] = MakeTaps(phase, 2 + px, 2 + py, pitch);
    }
  }
};

inline BilinearSums SumsAt(const uint8_t* p, const BilinearTaps& t) {
  BilinearSums s;
  s.red = 9 * p[t.red[0]] + 3 * p[t.red[1]] + 3 * p[t.red[2]] + p[t.red[3]];
  s.blue = 9 * p[t.blue[0]] + 3 * p[t.blue[1]] + 3 * p[t.blue[2]] + p[t.blue[3]];
  s.greenPair = p[t.green[0]] + p[t.green[1]];
  return s;
}

inline void StorePixel(uint8_t* px, int blue, int green, int red) {
  px[0] = static_cast<uint8_t>(blue);
  px[1] = static_cast<uint8_t>(green);
  px[2] = static_cast<uint8_t>(red);
  px[3] = 255;
}

// Red or blue by the bilinear formula: the product of the sum and the gain
// factor, 255 from 0x80000 on, else shifted right by 11.
inline int LimitedRedBlue(int sum, int factor) {
  const int64_t product = int64_t{sum} * factor;
  return product >= 0x80000 ? 255 : static_cast<int>(product >> 11);
}

inline int LimitedGreen(int greenPair, int gain) {
  const int64_t product = int64_t{gain} * (greenPair >> 1);
  return product >= 0x8000 ? 255 : static_cast<int>(product >> 7);
}

template <typename PixelFn>
void ForEachInterior(const uint8_t* raw, int width, int height, EnginePhase phase, PixelFn fn) {
  if (raw == nullptr || width < 5 || height < 5) return;
  const TapTable table(phase, width);
  for (int y = 2; y <= height - 3; ++y) {
    const uint8_t* row = raw + static_cast<size_t>(y) * width;
    for (int x = 2; x <= width - 3; ++x) {
      fn(x, y, SumsAt(row + x, table.byParity[(y & 1) * 2 + (x & 1)]));
    }
  }
}

}  // namespace

BilinearSums EngineBilinearSums(const uint8_t* raw, int pitch, EnginePhase phase, int x, int y) {
  const BilinearTaps t = MakeTaps(phase, 2 + (x & 1), 2 + (y & 1), pitch);
  return SumsAt(raw + static_cast<ptrdiff_t>(y) * pitch + x, t);
}

EngineColor EngineBilinearColor(const BilinearSums& sums, const EngineGains& gains) {
  EngineColor c;
  c.red = static_cast<int>((int64_t{sums.red} * gains.red) >> 11);
  c.blue = static_cast<int>((int64_t{sums.blue} * gains.blue) >> 11);
  c.green = static_cast<int>((int64_t{gains.green} * (sums.greenPair >> 1)) >> 7);
  return c;
}

void EngineScalarDemosaic(const uint8_t* raw, int width, int height, EnginePhase phase,
                          const EngineGains& gains, uint8_t* out, int outStride) {
  if (out == nullptr) return;
  ForEachInterior(raw, width, height, phase, [&](int x, int y, const BilinearSums& s) {
    StorePixel(out + static_cast<size_t>(y) * outStride + static_cast<size_t>(x) * 4,
               LimitedRedBlue(s.blue, gains.blue), LimitedGreen(s.greenPair, gains.green),
               LimitedRedBlue(s.red, gains.red));
  });
}

void EngineScalarTwoGreen(const uint8_t* raw, int width, int height, EnginePhase phase,
                          uint8_t* out, int outStride) {
  if (out == nullptr) return;
  ForEachInterior(raw, width, height, phase, [&](int x, int y, const BilinearSums& s) {
    const int v = s.greenPair >> 1;
    StorePixel(out + static_cast<size_t>(y) * outStride + static_cast<size_t>(x) * 4, v, v, v);
  });
}

void EngineScalarGray(const uint8_t* raw, int width, int height, EnginePhase phase, uint8_t* out,
                      int outStride, int outBytesPerPixel) {
  if (out == nullptr) return;
  ForEachInterior(raw, width, height, phase, [&](int x, int y, const BilinearSums& s) {
    const int red = (s.red * 128) >> 11;
    const int blue = (s.blue * 128) >> 11;
    const int green = s.greenPair >> 1;
    const int v = (green * 59 + blue * 11 + red * 30 + 50) / 100;
    uint8_t* px =
        out + static_cast<size_t>(y) * outStride + static_cast<size_t>(x) * outBytesPerPixel;
    if (outBytesPerPixel == 1) {
      px[0] = static_cast<uint8_t>(v);
    } else {
      StorePixel(px, v, v, v);
    }
  });
}

}  // namespace varnel
