// Where the colours and the gray-gain channels of a Bayer mosaic lie for each
// BayerPhase. Positions are counted from the first column and row of the
// rectangle a routine works on; the column phase restarts on every row, so
// rectangles of odd width read every row with the same layout.
#pragma once

#include <cstdint>

namespace varnel {

enum class BayerColor : uint8_t { kRed, kGreen, kBlue };

// Phase 0 reads G B / R G; odd phases exchange the rows, phases 2 and 3 the
// columns. Only the two low bits of the phase count.
inline int CanonicalRow(int phase, int row) { return (row & 1) ^ (phase & 1); }
inline int CanonicalCol(int phase, int col) { return (col & 1) ^ ((phase >> 1) & 1); }

inline BayerColor ColorAt(int phase, int col, int row) {
  const int r = CanonicalRow(phase, row);
  const int c = CanonicalCol(phase, col);
  if (r == c) return BayerColor::kGreen;
  return r == 1 ? BayerColor::kRed : BayerColor::kBlue;
}

// Gray-gain channel index (0 R, 1 G1, 2 G2, 3 B): phase 0 reads G1 R / B G2.
inline int GrayChannelAt(int phase, int col, int row) {
  static constexpr int kCanonical[2][2] = {{1, 0}, {3, 2}};
  return kCanonical[CanonicalRow(phase, row)][CanonicalCol(phase, col)];
}

}  // namespace varnel
