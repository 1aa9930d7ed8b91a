// The colour engine's vector demosaic (5x5 gradient-corrected linear
// interpolation on the padded work buffer of the colour matrix stage), written
// once over the register width. engine_demosaic_sse2.cpp (sixteen pixels per
// step) and engine_demosaic_avx2.cpp (thirty-two, bit for bit the same
// results) instantiate it with EngineLanes over their width's registers
// (imaging/simd_registers.h, in an anonymous namespace), so that no
// instantiation is shared between objects built with different
// instruction-set flags.
//
// There are twelve routines: three families (colour with the matrix, colour
// without it, gray) for each of the four engine phases. A phase only decides
// which kernel each of the four positions of the 2x2 pattern takes, so one
// template body serves all four phases of a family; the phase picks, at
// compile time, the sites of the even and odd columns of even and odd rows.
//
// A lanes struct L works on 16-bit lanes (and 32-bit lanes for the matrix):
//   the operations of the registers (simd_registers.h) the routines use, and
//   L::kStep                    pixels per step (two lanes per 16-bit lane:
//                               an even and an odd column);
//   StorePixels(dst, px[4], count)
//                               the four registers of B, G, R, A pixels that
//                               UnpackLo/Hi16 of (B G, R A) made, kStep pixels
//                               in column order, or only `count` of them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "engine/engine_demosaic.h"

namespace varnel {
namespace engine_vector {

template <class R>
struct EngineLanes : R {
  static constexpr int kStep = R::kBytes;
  static void StorePixels(uint8_t* dst, const typename R::Vec px[4], int count) {
    if (count < kStep) {
      // The last step of a row with fewer pixels left.
      R::StoreSome(dst, px, count * 4);
    } else {
      R::template StoreColumns<false>(dst, px, R::Zero());
    }
  }
};

// The kernels, with weights in sixteenths of the sample values:
//   green at a red or blue sample: centre 8, direct neighbours 4, samples two
//     away in row and column -2;
//   along the row: centre 10, row neighbours 8, diagonals -2, two away in the
//     row -2, two away in the column +1 (red at a green sample of a red row,
//     blue at a green sample of a blue row);
//   along the column: the same turned by 90 degrees (red at a green sample of
//     a blue row, blue at a green sample of a red row);
//   diagonal: centre 12, diagonals 4, two away in row and column -3 (red at
//     blue, blue at red);
//   a sample's own colour is the sample itself.

// The neighbourhood of one parity's pixels in 16-bit lanes.
template <class L>
struct Taps {
  typename L::Vec centre;
  typename L::Vec row1;  // left + right
  typename L::Vec col1;  // up + down
  typename L::Vec row2;  // two left + two right
  typename L::Vec col2;  // two up + two down
  typename L::Vec diag;  // the four diagonal neighbours
};

// Limits a kernel sum (sixteenths) below at 0 and rounds it to a sample.
template <class L>
inline typename L::Vec Finish16(typename L::Vec sum) {
  sum = L::Max(sum, L::Zero());
  return L::template Srli<4>(L::AddS(sum, L::Set16(8)));
}

// The colours of one parity's pixels of one site, computing only the kernels
// that site needs. Sums stay within -3060..7140, well inside the 16-bit range;
// the additions saturate all the same.
template <class L, EngineSite Site>
inline void SiteColours(const Taps<L>& t, typename L::Vec rgb[3]) {
  using Vec = typename L::Vec;
  constexpr bool kRedOrBlue = Site == EngineSite::kRed || Site == EngineSite::kBlue;
  const Vec c8 = L::template Slli<3>(t.centre);
  if constexpr (kRedOrBlue) {
    const Vec far = L::AddS(t.row2, t.col2);
    // 8c + 4 (row1 + col1) - 2 (row2 + col2)
    Vec g = L::AddS(c8, L::template Slli<2>(L::AddS(t.row1, t.col1)));
    g = L::SubS(g, L::template Slli<1>(far));
    // 12c + 4 diag - 3 (row2 + col2)
    Vec d = L::AddS(L::AddS(c8, L::template Slli<2>(t.centre)), L::template Slli<2>(t.diag));
    d = L::SubS(d, L::AddS(far, L::template Slli<1>(far)));
    const int own = Site == EngineSite::kRed ? 0 : 2;
    rgb[own] = t.centre;
    rgb[1] = Finish16<L>(g);
    rgb[2 - own] = Finish16<L>(d);
  } else {
    // 10c - 2 diag is shared by both kernels of a green site.
    const Vec c10 =
        L::SubS(L::AddS(c8, L::template Slli<1>(t.centre)), L::template Slli<1>(t.diag));
    // 10c + 8 row1 - 2 diag - 2 row2 + col2
    Vec r = L::AddS(c10, L::template Slli<3>(t.row1));
    r = L::AddS(L::SubS(r, L::template Slli<1>(t.row2)), t.col2);
    // 10c + 8 col1 - 2 diag - 2 col2 + row2
    Vec cl = L::AddS(c10, L::template Slli<3>(t.col1));
    cl = L::AddS(L::SubS(cl, L::template Slli<1>(t.col2)), t.row2);
    // Along the row gives the colour that shares the green's row.
    const int rowColour = Site == EngineSite::kGreenOnRedRow ? 0 : 2;
    rgb[1] = t.centre;
    rgb[rowColour] = Finish16<L>(r);
    rgb[2 - rowColour] = Finish16<L>(cl);
  }
}

// How the gains are applied: all three 128 (x1: only the limit), all at most
// 146 (the product of the largest kernel value, 446, and the gain fits 16
// bits), or any larger.
enum class GainMode { kUnit, kNarrow, kWide };
constexpr int kNarrowGainLimit = 65535 / 446;

// min(255, (v * gain + 64) >> 7); v is a kernel value, 0..446 (the kernels
// overshoot at edges), and gain 0..65535.
template <class L, GainMode Mode>
inline typename L::Vec MulGain(typename L::Vec v, typename L::Vec gain) {
  using Vec = typename L::Vec;
  const Vec limit = L::Set16(255);
  if constexpr (Mode == GainMode::kUnit) {
    return L::Min(v, limit);
  } else {
    const Vec lo = L::MulLo(v, gain);
    // A sum that passes 65535 stops there; shifted it still exceeds 255.
    const Vec rounded = L::template Srli<7>(L::AddSU(lo, L::Set16(64)));
    const Vec limited = L::Min(rounded, limit);
    if constexpr (Mode == GainMode::kNarrow) {
      return limited;
    } else {
      // The product's high half decides saturation.
      const Vec fits = L::CmpEq(L::MulHiU(v, gain), L::Zero());
      return L::Or(L::And(fits, limited), L::AndNot(fits, limit));
    }
  }
}

// The fixed-point colour matrix split by sign, as 16-bit multiplier pairs for
// the multiply-add of pairs and 32-bit offsets.
template <class L>
struct MatrixLanes {
  typename L::Vec positiveRG[3], positiveB[3], negativeRG[3], negativeB[3];
  typename L::Vec positiveOffset[3], negativeOffset[3];
};

template <class L>
MatrixLanes<L> MakeMatrixLanes(const FixedColorMatrix& m) {
  auto magnitude = [](int32_t e) {
    return static_cast<int16_t>(std::min<int32_t>(e < 0 ? -e : e, 32767));
  };
  MatrixLanes<L> lanes;
  for (int j = 0; j < 3; ++j) {
    int16_t pos[3], neg[3];
    for (int k = 0; k < 3; ++k) {
      const int32_t e = m.At(k, j);
      pos[k] = e > 0 ? magnitude(e) : 0;
      neg[k] = e > 0 ? 0 : magnitude(e);
    }
    lanes.positiveRG[j] = L::Set16Pair(pos[0], pos[1]);
    lanes.negativeRG[j] = L::Set16Pair(neg[0], neg[1]);
    lanes.positiveB[j] = L::Set16Pair(pos[2], 0);
    lanes.negativeB[j] = L::Set16Pair(neg[2], 0);
    const int32_t offset = m.At(3, j);
    lanes.positiveOffset[j] = L::Set32(offset > 0 ? offset : 0);
    lanes.negativeOffset[j] = L::Set32(offset > 0 ? 0 : -offset);
  }
  return lanes;
}

// One output channel of half the lanes: (positive >> 7) - (negative >> 7),
// with 32-bit sums.
template <class L>
inline typename L::Vec MatrixChannel(typename L::Vec rg, typename L::Vec b0,
                                     const MatrixLanes<L>& m, int j) {
  using Vec = typename L::Vec;
  Vec pos = L::Add32(L::Madd(rg, m.positiveRG[j]), L::Madd(b0, m.positiveB[j]));
  pos = L::Add32(pos, m.positiveOffset[j]);
  Vec neg = L::Add32(L::Madd(rg, m.negativeRG[j]), L::Madd(b0, m.negativeB[j]));
  neg = L::Add32(neg, m.negativeOffset[j]);
  return L::Sub32(L::template Srai32<7>(pos), L::template Srai32<7>(neg));
}

// Applies the matrix to one parity's pixels in 16-bit lanes (each 0..255).
template <class L>
inline void ApplyMatrix(typename L::Vec rgb[3], const MatrixLanes<L>& m) {
  using Vec = typename L::Vec;
  const Vec zero = L::Zero();
  const Vec rgLo = L::UnpackLo16(rgb[0], rgb[1]), rgHi = L::UnpackHi16(rgb[0], rgb[1]);
  const Vec bLo = L::UnpackLo16(rgb[2], zero), bHi = L::UnpackHi16(rgb[2], zero);
  Vec out[3];
  for (int j = 0; j < 3; ++j) {
    const Vec v = L::Packs32(MatrixChannel<L>(rgLo, bLo, m, j), MatrixChannel<L>(rgHi, bHi, m, j));
    out[j] = L::Min(L::Max(v, zero), L::Set16(255));
  }
  for (int j = 0; j < 3; ++j) rgb[j] = out[j];
}

// (R * 77 >> 8) + (G * 150 >> 8) + (B * 29 >> 8), each product shifted on
// its own. G * 150 reaches 38250, which the logical shift reads correctly.
template <class L>
inline typename L::Vec Luminance(typename L::Vec red, typename L::Vec green, typename L::Vec blue) {
  using Vec = typename L::Vec;
  const Vec r = L::template Srli<8>(L::MulLo(red, L::Set16(77)));
  const Vec g = L::template Srli<8>(L::MulLo(green, L::Set16(150)));
  const Vec b = L::template Srli<8>(L::MulLo(blue, L::Set16(29)));
  return L::Add(L::Add(r, g), b);
}

template <class L>
inline typename L::Vec EvenBytes(typename L::Vec v) {
  return L::And(v, L::Set16(0x00FF));
}
template <class L>
inline typename L::Vec OddBytes(typename L::Vec v) {
  return L::template Srli<8>(v);
}

// Gains, the matrix and the gray weighting for one parity's pixels.
template <class L, EngineVectorFamily Family, GainMode Gains>
inline void Finish(typename L::Vec rgb[3], const typename L::Vec gain[3],
                   const MatrixLanes<L>* matrix) {
  for (int ch = 0; ch < 3; ++ch) rgb[ch] = MulGain<L, Gains>(rgb[ch], gain[ch]);
  if constexpr (Family == EngineVectorFamily::kColorWithMatrix) ApplyMatrix<L>(rgb, *matrix);
  if constexpr (Family == EngineVectorFamily::kGray) {
    const typename L::Vec y = Luminance<L>(rgb[0], rgb[1], rgb[2]);
    rgb[0] = rgb[1] = rgb[2] = y;
  }
}

// One row of the picture whose even columns are `EvenSite` and odd columns
// `OddSite`. Each step takes kStep pixels as even and odd ones in 16-bit
// lanes: one load gives both (its even bytes masked, its odd bytes shifted
// down), and each parity computes only the kernels of its own site.
template <class L, EngineVectorFamily Family, GainMode Gains, EngineSite EvenSite,
          EngineSite OddSite>
void ProcessRow(const uint8_t* src, int pitch, int width, const typename L::Vec gain[3],
                const MatrixLanes<L>* matrix, uint8_t* dst) {
  using Vec = typename L::Vec;
  for (int x0 = 0; x0 < width; x0 += L::kStep) {
    const uint8_t* s = src + x0;
    // Rows -1, 0, +1 at columns x0 - 2, x0, x0 + 2; rows -2 and +2 at x0.
    const Vec upLeft = L::Load(s - pitch - 2), up = L::Load(s - pitch),
              upRight = L::Load(s - pitch + 2);
    const Vec left = L::Load(s - 2), here = L::Load(s), right = L::Load(s + 2);
    const Vec downLeft = L::Load(s + pitch - 2), down = L::Load(s + pitch),
              downRight = L::Load(s + pitch + 2);
    const Vec up2 = L::Load(s - 2 * pitch), down2 = L::Load(s + 2 * pitch);

    // Pixels x0, x0 + 2, ...: neighbours at x - 1 are the odd bytes of the
    // loads at x0 - 2, at x + 1 the odd bytes of the loads at x0.
    Taps<L> even;
    even.centre = EvenBytes<L>(here);
    even.row1 = L::Add(OddBytes<L>(left), OddBytes<L>(here));
    even.col1 = L::Add(EvenBytes<L>(up), EvenBytes<L>(down));
    even.row2 = L::Add(EvenBytes<L>(left), EvenBytes<L>(right));
    even.col2 = L::Add(EvenBytes<L>(up2), EvenBytes<L>(down2));
    even.diag = L::Add(L::Add(OddBytes<L>(upLeft), OddBytes<L>(up)),
                       L::Add(OddBytes<L>(downLeft), OddBytes<L>(down)));
    // Pixels x0 + 1, x0 + 3, ...: neighbours at x - 1 are the even bytes of
    // the loads at x0, at x + 1 the even bytes of the loads at x0 + 2.
    Taps<L> odd;
    odd.centre = OddBytes<L>(here);
    odd.row1 = L::Add(EvenBytes<L>(here), EvenBytes<L>(right));
    odd.col1 = L::Add(OddBytes<L>(up), OddBytes<L>(down));
    odd.row2 = L::Add(OddBytes<L>(left), OddBytes<L>(right));
    odd.col2 = L::Add(OddBytes<L>(up2), OddBytes<L>(down2));
    odd.diag = L::Add(L::Add(EvenBytes<L>(up), EvenBytes<L>(upRight)),
                      L::Add(EvenBytes<L>(down), EvenBytes<L>(downRight)));

    Vec evenRgb[3], oddRgb[3];
    SiteColours<L, EvenSite>(even, evenRgb);
    SiteColours<L, OddSite>(odd, oddRgb);
    Finish<L, Family, Gains>(evenRgb, gain, matrix);
    Finish<L, Family, Gains>(oddRgb, gain, matrix);
    // Every value is 0..255, so even | odd << 8 puts the bytes back in
    // column order.
    Vec channel8[3];
    for (int ch = 0; ch < 3; ++ch) {
      channel8[ch] = L::Or(evenRgb[ch], L::template Slli<8>(oddRgb[ch]));
    }
    const Vec alpha = L::Set16(-1);
    const Vec bgLo = L::UnpackLo8(channel8[2], channel8[1]);
    const Vec bgHi = L::UnpackHi8(channel8[2], channel8[1]);
    const Vec raLo = L::UnpackLo8(channel8[0], alpha);
    const Vec raHi = L::UnpackHi8(channel8[0], alpha);
    const Vec px[4] = {L::UnpackLo16(bgLo, raLo), L::UnpackHi16(bgLo, raLo),
                       L::UnpackLo16(bgHi, raHi), L::UnpackHi16(bgHi, raHi)};
    L::StorePixels(dst + static_cast<size_t>(x0) * 4, px, width - x0);
  }
}

template <class L, EngineVectorFamily Family, GainMode Gains, EnginePhase Phase>
void RunRows(const EngineVectorParams& p, const typename L::Vec gain[3],
             const MatrixLanes<L>* matrix) {
  constexpr EngineSite kEven0 = EngineSiteAt(Phase, 0, 0);
  constexpr EngineSite kOdd0 = EngineSiteAt(Phase, 1, 0);
  constexpr EngineSite kEven1 = EngineSiteAt(Phase, 0, 1);
  constexpr EngineSite kOdd1 = EngineSiteAt(Phase, 1, 1);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.origin + static_cast<ptrdiff_t>(y) * p.pitch;
    uint8_t* dst = p.out + static_cast<ptrdiff_t>(y) * p.outStride;
    if ((y & 1) == 0) {
      ProcessRow<L, Family, Gains, kEven0, kOdd0>(src, p.pitch, p.width, gain, matrix, dst);
    } else {
      ProcessRow<L, Family, Gains, kEven1, kOdd1>(src, p.pitch, p.width, gain, matrix, dst);
    }
  }
}

template <class L, EngineVectorFamily Family, EnginePhase Phase>
void VectorDemosaic(const EngineVectorParams& p) {
  using Vec = typename L::Vec;
  if (p.origin == nullptr || p.out == nullptr || p.width <= 0 || p.height <= 0) return;
  if (Family == EngineVectorFamily::kColorWithMatrix && p.matrix == nullptr) return;
  const int g[3] = {std::clamp(p.gains.red, 0, 65535), std::clamp(p.gains.green, 0, 65535),
                    std::clamp(p.gains.blue, 0, 65535)};
  const Vec gain[3] = {L::Set16(static_cast<int16_t>(g[0])), L::Set16(static_cast<int16_t>(g[1])),
                       L::Set16(static_cast<int16_t>(g[2]))};
  MatrixLanes<L> lanes{};
  const MatrixLanes<L>* matrix = nullptr;
  if constexpr (Family == EngineVectorFamily::kColorWithMatrix) {
    lanes = MakeMatrixLanes<L>(*p.matrix);
    matrix = &lanes;
  }
  if (g[0] == 128 && g[1] == 128 && g[2] == 128) {
    RunRows<L, Family, GainMode::kUnit, Phase>(p, gain, matrix);
  } else if (g[0] <= kNarrowGainLimit && g[1] <= kNarrowGainLimit && g[2] <= kNarrowGainLimit) {
    RunRows<L, Family, GainMode::kNarrow, Phase>(p, gain, matrix);
  } else {
    RunRows<L, Family, GainMode::kWide, Phase>(p, gain, matrix);
  }
}

// The twelve routines of lanes L. Rows: family; columns: engine phase 0..3.
template <class L>
EngineVectorRoutine SelectRoutine(EngineVectorFamily family, EnginePhase phase) {
  using Family = EngineVectorFamily;
  static constexpr EngineVectorRoutine kRoutines[3][kEnginePhaseCount] = {
      {&VectorDemosaic<L, Family::kColorWithMatrix, 0>,
       &VectorDemosaic<L, Family::kColorWithMatrix, 1>,
       &VectorDemosaic<L, Family::kColorWithMatrix, 2>,
       &VectorDemosaic<L, Family::kColorWithMatrix, 3>},
      {&VectorDemosaic<L, Family::kColor, 0>, &VectorDemosaic<L, Family::kColor, 1>,
       &VectorDemosaic<L, Family::kColor, 2>, &VectorDemosaic<L, Family::kColor, 3>},
      {&VectorDemosaic<L, Family::kGray, 0>, &VectorDemosaic<L, Family::kGray, 1>,
       &VectorDemosaic<L, Family::kGray, 2>, &VectorDemosaic<L, Family::kGray, 3>},
  };
  const int f = std::clamp(static_cast<int>(family), 0, 2);
  const int ph = (phase >= 0 && phase < kEnginePhaseCount) ? phase : 0;
  return kRoutines[f][ph];
}

}  // namespace engine_vector
}  // namespace varnel
