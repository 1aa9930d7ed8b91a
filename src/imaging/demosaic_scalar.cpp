// Scalar Bayer demosaic: the 8-bit interior and border, and the deep (10- to
// 16-bit) interior.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

namespace varnel {
namespace {

// Sample reader for 8-bit or little-endian 16-bit samples.
template <typename Sample>
inline uint32_t ReadSample(const uint8_t* p) {
  if constexpr (sizeof(Sample) == 1) {
    return *p;
  } else {
    return LoadSample16(p);
  }
}

template <typename Sample>
inline void WriteBgr(uint8_t* p, uint32_t b, uint32_t g, uint32_t r) {
  if constexpr (sizeof(Sample) == 1) {
    p[0] = static_cast<uint8_t>(b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
  } else {
    StoreSample16(p, b);
    StoreSample16(p + 2, g);
    StoreSample16(p + 4, r);
  }
}

// Output row `y` (relative to the rectangle), columns from..to, with the
// scalar formula. Sample is the raw sample type; kBits the significant bits of
// the output.
template <typename Sample, int kBits>
void DemosaicRowRange(const RegionView& v, const BayerGains& g, int y, int from, int to) {
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  constexpr uint32_t kMax = (1u << kBits) - 1;
  const ptrdiff_t sStep = v.srcBpp, sStride = v.srcStride;
  // The taps depend only on the parities of x and y.
  const DemosaicTaps taps[2] = {ComputeDemosaicTaps(g.phase, 0, y),
                                ComputeDemosaicTaps(g.phase, 1, y)};
  const uint8_t* srcRow = v.SrcPixel(v.left, v.top + y);
  uint8_t* dstRow = v.DstPixel(v.left, v.top + y);
  for (int x = from; x <= to; ++x) {
    const uint8_t* p = srcRow + x * sStep;
    auto at = [&](int dx, int dy) { return ReadSample<Sample>(p + dy * sStride + dx * sStep); };
    const DemosaicSums s = DemosaicPixelSums(taps[x & 1], at);
    WriteBgr<Sample>(dstRow + static_cast<ptrdiff_t>(x) * v.dstBpp,
                     ApplyGainScalar<kBits>(s.blue, kB), std::min(s.green, kMax),
                     ApplyGainScalar<kBits>(s.red, kR));
  }
}

// Interior pass: 2 <= x <= width - 3, 2 <= y <= height - 3 of the rectangle,
// the rows of the band only.
template <typename Sample, int kBits>
void DemosaicInteriorRows(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return;
  const int yLast = std::min(h - 3, rows.end - 1);
  for (int y = std::max(2, rows.begin); y <= yLast; ++y) {
    DemosaicRowRange<Sample, kBits>(v, g, y, 2, w - 3);
  }
}

// Moves a position outside 0..size-1 by 4 towards the inside, which keeps its
// colour. Rectangles narrower than 4 still need a position of the same parity
// inside, found in steps of 2; a single row or column has only position 0.
inline int BorderRemap(int p, int size) {
  if (p >= 0 && p < size) return p;
  if (size < 2) return 0;
  p = p < 0 ? p + 4 : p - 4;
  while (p < 0) p += 2;
  while (p >= size) p -= 2;
  return p;
}

}  // namespace

int DemosaicInteriorScalar(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  DemosaicInteriorRows<uint8_t, 8>(v, g, rows);
  return 1;
}

int DemosaicBorder(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  const int w = v.Width(), h = v.Height();
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  DemosaicTaps taps[2][2];
  for (int py = 0; py < 2; ++py) {
    for (int px = 0; px < 2; ++px) taps[py][px] = ComputeDemosaicTaps(g.phase, px, py);
  }
  // Byte offsets of the four columns x - 2 .. x + 1 that pixel x reads, moved
  // inside the image.
  auto columnOffsets = [&](int x, ptrdiff_t* out) {
    for (int dx = -2; dx <= 1; ++dx) {
      out[dx + 2] = static_cast<ptrdiff_t>(BorderRemap(x + dx, w)) * v.srcBpp;
    }
  };
  auto pixel = [&](const uint8_t* const* rows, uint8_t* dstRow, int x, int y,
                   const ptrdiff_t* cols) {
    auto at = [&](int dx, int dy) -> uint32_t { return rows[dy + 2][cols[dx + 2]]; };
    const DemosaicSums s = DemosaicPixelSums(taps[y & 1][x & 1], at);
    uint8_t* d = dstRow + static_cast<ptrdiff_t>(x) * v.dstBpp;
    d[0] = static_cast<uint8_t>(ApplyGainScalar<8>(s.blue, kB));
    d[1] = static_cast<uint8_t>(std::min<uint32_t>(s.green, 255));
    d[2] = static_cast<uint8_t>(ApplyGainScalar<8>(s.red, kR));
  };
  // The left and right two columns (fewer in narrow images) never change.
  int edgeColumns[4], edgeCount = 0;
  for (int x : {0, 1, w - 2, w - 1}) {
    if (x >= 0 && x < w && (edgeCount == 0 || x > edgeColumns[edgeCount - 1])) {
      edgeColumns[edgeCount++] = x;
    }
  }
  ptrdiff_t edgeOffsets[4][4];
  for (int i = 0; i < edgeCount; ++i) columnOffsets(edgeColumns[i], edgeOffsets[i]);

  for (int y = std::max(0, rows.begin), yEnd = std::min(h, rows.end); y < yEnd; ++y) {
    // The four rows a pixel of this row reads (y - 2 .. y + 1), moved inside.
    const uint8_t* rows[4];
    for (int dy = -2; dy <= 1; ++dy) {
      rows[dy + 2] = v.SrcPixel(v.left, v.top + BorderRemap(y + dy, h));
    }
    uint8_t* dstRow = v.DstPixel(v.left, v.top + y);
    for (int i = 0; i < edgeCount; ++i) pixel(rows, dstRow, edgeColumns[i], y, edgeOffsets[i]);
    if (y < 2 || y >= h - 2) {
      // Top and bottom rows: the columns between the edges read inside, so
      // every sample lies at a fixed offset from the pixel's column. The
      // offsets depend only on the column's parity: each parity runs as one
      // loop over its columns with the sample addresses formed once.
      const ptrdiff_t sStep = v.srcBpp, dStep = v.dstBpp;
      for (int parity = 0; parity < 2; ++parity) {
        const DemosaicTaps& t = taps[y & 1][parity];
        // A sample is rows[dy + 2][x * sStep + dx * sStep]; the column term
        // is added to x first, so no address before a row is ever formed.
        struct Tap {
          const uint8_t* row;
          ptrdiff_t dx;
        };
        auto tap = [&](int dx, int dy) { return Tap{rows[dy + 2], dx}; };
        const Tap tg1 = tap(t.g1x, t.g1y), tg2 = tap(t.g2x, t.g2y);
        const Tap tra = tap(t.rax, t.ray), trb = tap(t.rbx, t.ray);
        const Tap trc = tap(t.rax, t.rcy), trd = tap(t.rbx, t.rcy);
        const Tap tba = tap(t.bax, t.bay), tbb = tap(t.bbx, t.bay);
        const Tap tbc = tap(t.bax, t.bcy), tbd = tap(t.bbx, t.bcy);
        for (int x = 2 + ((parity - 2) & 1); x <= w - 3; x += 2) {
          auto at = [&](const Tap& p) -> uint32_t { return p.row[(x + p.dx) * sStep]; };
          const uint32_t green = (at(tg1) + at(tg2)) >> 1;
          const uint32_t red = 9u * at(tra) + 3u * at(trb) + 3u * at(trc) + at(trd);
          const uint32_t blue = 9u * at(tba) + 3u * at(tbb) + 3u * at(tbc) + at(tbd);
          uint8_t* d = dstRow + x * dStep;
          d[0] = static_cast<uint8_t>(ApplyGainScalar<8>(blue, kB));
          d[1] = static_cast<uint8_t>(green);
          d[2] = static_cast<uint8_t>(ApplyGainScalar<8>(red, kR));
        }
      }
    }
  }
  return 1;
}

int DemosaicDeep(const RegionView& v, const BayerGains& g, int significantBits, DemosaicRows rows) {
  if (v.Empty()) return 1;
  switch (significantBits) {
    case 12:
      DemosaicInteriorRows<uint16_t, 12>(v, g, rows);
      break;
    case 14:
      DemosaicInteriorRows<uint16_t, 14>(v, g, rows);
      break;
    case 16:
      DemosaicInteriorRows<uint16_t, 16>(v, g, rows);
      break;
    default:
      DemosaicInteriorRows<uint16_t, 10>(v, g, rows);
      break;
  }
  return 1;
}

void DemosaicRowScalar(const RegionView& v, const BayerGains& g, int row, int from, int to) {
  DemosaicRowRange<uint8_t, 8>(v, g, row, from, to);
}

void DemosaicRowDeep(const RegionView& v, const BayerGains& g, int significantBits, int row,
                     int from, int to) {
  switch (significantBits) {
    case 12:
      DemosaicRowRange<uint16_t, 12>(v, g, row, from, to);
      break;
    case 14:
      DemosaicRowRange<uint16_t, 14>(v, g, row, from, to);
      break;
    case 16:
      DemosaicRowRange<uint16_t, 16>(v, g, row, from, to);
      break;
    default:
      DemosaicRowRange<uint16_t, 10>(v, g, row, from, to);
      break;
  }
}

void DemosaicRowVectorRounding(const RegionView& v, const BayerGains& g, int y, int from, int to) {
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  const DemosaicTaps taps[2] = {ComputeDemosaicTaps(g.phase, 0, y),
                                ComputeDemosaicTaps(g.phase, 1, y)};
  const uint8_t* srcRow = v.SrcPixel(v.left, v.top + y);
  uint8_t* dstRow = v.DstPixel(v.left, v.top + y);
  const ptrdiff_t sStep = v.srcBpp, sStride = v.srcStride;
  for (int x = from; x <= to; ++x) {
    const uint8_t* p = srcRow + x * sStep;
    auto at = [&](int dx, int dy) -> uint32_t { return p[dy * sStride + dx * sStep]; };
    const DemosaicSums s = DemosaicPixelSums(taps[x & 1], at);
    uint8_t* d = dstRow + static_cast<ptrdiff_t>(x) * v.dstBpp;
    d[0] = static_cast<uint8_t>(ApplyGainVector(s.blue, kB));
    d[1] = static_cast<uint8_t>(std::min<uint32_t>(s.green, 255));
    d[2] = static_cast<uint8_t>(ApplyGainVector(s.red, kR));
  }
}

}  // namespace varnel
