// The colour engine's own numbering of the Bayer mosaic.
//
// The colour engine numbers the four possible arrangements of the mosaic
// differently from the frame pipeline (imaging/pixel_format.h, BayerPhase).
// Both tables are kept, each under its own name, so that a phase handed to
// the engine is never read with the pipeline's table or the other way round.
//
// Rows and columns are counted from 0 at the first sample in memory:
//
//   engine phase | row 0       | row 1
//   -------------+-------------+------------
//        0       | G R G R ... | B G B G ...
//        1       | B G B G ... | G R G R ...
//        2       | R G R G ... | G B G B ...
//        3       | G B G B ... | R G R G ...
#pragma once

namespace varnel {

// A Bayer phase by the engine's table (0..3). Not interchangeable with
// BayerPhase.
using EnginePhase = int;

inline constexpr int kEnginePhaseCount = 4;

// What a sample of the mosaic carries. The two greens are told apart by the
// colour that shares their row, because the 5x5 kernels treat them
// differently.
enum class EngineSite : int {
  kRed = 0,
  kBlue = 1,
  kGreenOnRedRow = 2,
  kGreenOnBlueRow = 3,
};

// The site of the sample at (x, y) for an engine phase. Only the parities of
// x and y matter; phases outside 0..3 are read as phase 0.
inline constexpr EngineSite EngineSiteAt(EnginePhase phase, int x, int y) {
  const bool oddX = (x & 1) != 0;
  const bool oddY = (y & 1) != 0;
  switch (phase) {
    case 1:  // B G / G R
      if (!oddY) return oddX ? EngineSite::kGreenOnBlueRow : EngineSite::kBlue;
      return oddX ? EngineSite::kRed : EngineSite::kGreenOnRedRow;
    case 2:  // R G / G B
      if (!oddY) return oddX ? EngineSite::kGreenOnRedRow : EngineSite::kRed;
      return oddX ? EngineSite::kBlue : EngineSite::kGreenOnBlueRow;
    case 3:  // G B / R G
      if (!oddY) return oddX ? EngineSite::kBlue : EngineSite::kGreenOnBlueRow;
      return oddX ? EngineSite::kGreenOnRedRow : EngineSite::kRed;
    default:  // 0: G R / B G
      if (!oddY) return oddX ? EngineSite::kRed : EngineSite::kGreenOnRedRow;
      return oddX ? EngineSite::kGreenOnBlueRow : EngineSite::kBlue;
  }
}

inline constexpr bool IsGreenSite(EngineSite site) {
  return site == EngineSite::kGreenOnRedRow || site == EngineSite::kGreenOnBlueRow;
}

}  // namespace varnel
