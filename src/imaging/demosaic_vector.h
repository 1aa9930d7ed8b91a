// The vector demosaic interior, written once over the register width, the
// sample width and the destination format.
//
// Every term of the bilinear formula depends only on the parity of the output
// column, so one step splits each mosaic row into its even and odd columns
// (lanes twice as wide as a sample, by masking and shifting one load) and
// forms the even and the odd outputs without any per-lane selection.
//
// demosaic_sse2.cpp and demosaic_avx2.cpp include this header after
// simd_registers.h and instantiate the entry templates at the end
// (DemosaicInteriorRoundingFor, DemosaicInteriorScalarFormulaFor,
// DemosaicDeepFor) with their width's registers, which live in an anonymous
// namespace: every instantiation then has internal linkage, so the linker
// can never let the AVX2 build of a function stand in for the SSE2 one. For
// the same reason this header holds templates only.
//
// DemosaicInteriorLanes runs a lanes struct L, which provides:
//   L::Vec                      the register type;
//   L::kStep                    output pixels per step (one register holds
//                               kStep / 2 even or odd columns);
//   L::kSampleBytes             bytes per mosaic sample (1 or 2);
//   L::kPixelBytes              bytes per destination pixel;
//   L::kMargin                  columns kept free after a step: steps run while
//                               x + kStep + kMargin <= w - 3, so that the loads
//                               stay inside the rows and a spilling store
//                               lands only on interior pixels written again;
//   L::kPairs                   pairs of output rows per pass (1 or 2; two
//                               pairs share three mosaic rows' terms but need
//                               more registers);
//   L::Load(p)                  an unaligned load of one register;
//   L::Even(v), L::Odd(v)       the even and odd samples as lanes;
//   L::Add(a, b)                lane addition (the sums never overflow);
//   L::Half(v), L::Double(v)    every lane shifted right or left by 1;
//   L::GainVector(k)            the register Gain takes for multiplier k;
//   L::Gain(sum, kv)            the red or blue output of a sum in sixteenths;
//   L::StoreBgr<kExact>(d, be, bo, ge, go, re, ro)
//                               even and odd B, G, R as kStep pixels at d,
//                               green limited to the largest sample value; the
//                               store may spill past the step's pixels unless
//                               kExact (and keeps a fourth sample as it was);
//   L::Tail(v, g, row, from, to)
//                               the same results for columns from..to of one
//                               row, computed pixel by pixel.
// The lanes structs of the three forms (the vector rounding and the scalar
// formula on 8-bit samples, the deep form on 16-bit samples) follow the step.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>

#include "imaging/demosaic.h"
#include "imaging/demosaic_kernel.h"

namespace varnel {

template <class L>
inline typename L::Vec Times3Lanes(typename L::Vec a) {
  return L::Add(L::Add(a, a), a);
}

// The horizontal interpolation of a row's red or blue samples for the even
// and odd output columns x0 + 2i and x0 + 2i + 1 (x0 even), and the green of
// the same row among columns x - 1 and x.
template <class L>
struct DemosaicRowTerms {
  typename L::Vec evenH, oddH, evenGreen, oddGreen;
};

// `kColorParity` is the parity of the columns (relative to x0) that carry the
// row's red or blue.
template <class L, bool kWithGreen, int kColorParity>
inline DemosaicRowTerms<L> LoadDemosaicRowTerms(const uint8_t* row, int x0) {
  using Vec = typename L::Vec;
  constexpr int kB = L::kSampleBytes;
  DemosaicRowTerms<L> t;
  const Vec left = L::Load(row + (x0 - 2) * kB), here = L::Load(row + x0 * kB);
  if constexpr (kColorParity == 0) {
    const Vec c3 = Times3Lanes<L>(L::Even(here));
    t.evenH = L::Add(c3, L::Even(left));                         // 3 s[x] + s[x-2]
    t.oddH = L::Add(c3, L::Even(L::Load(row + (x0 + 2) * kB)));  // 3 s[x-1] + s[x+1]
    if (kWithGreen) {
      t.evenGreen = L::Odd(left);  // s[x-1]
      t.oddGreen = L::Odd(here);   // s[x]
    }
  } else {
    const Vec leftOdd = L::Odd(left), hereOdd = L::Odd(here);
    t.evenH = L::Add(Times3Lanes<L>(leftOdd), hereOdd);        // 3 s[x-1] + s[x+1]
    t.oddH = L::Add(Times3Lanes<L>(hereOdd), leftOdd);         // 3 s[x] + s[x-2]
    if (kWithGreen) t.evenGreen = t.oddGreen = L::Even(here);  // s[x], s[x-1]
  }
  return t;
}

// The interior rows `rows.begin <= y < rows.end` (relative to the rectangle,
// limited to 2 .. height - 3). The caller has checked that the lanes can take
// these gains, sample width and destination.
template <class L>
int DemosaicInteriorLanes(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  using Vec = typename L::Vec;
  constexpr int kStep = L::kStep;
  if (v.Empty()) return 1;
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return 1;
  const int yFirst = std::max(2, rows.begin), yLast = std::min(h - 3, rows.end - 1);
  if (yFirst > yLast) return 1;
  const Vec vkR = L::GainVector(GainFactor(g.red));
  const Vec vkB = L::GainVector(GainFactor(g.blue));
  // Column parity of red (blue has the other), counted from the rectangle.
  const int redParity = (g.phase >> 1) & 1, blueParity = redParity ^ 1;
  auto isRed = [&](int row) { return CanonicalRow(g.phase, row) == 1; };
  auto parityOf = [&](int row) { return isRed(row) ? redParity : blueParity; };

  // kPairs pairs of output rows y .. y + 2 kPairs - 1 together: they read
  // mosaic rows y - 2 .. y + 2 kPairs, and each row's horizontal terms serve
  // every output row that needs them (a pair alone would form the terms of
  // three of its five rows again for the next pair).
  auto rowsTogether = [&](int y, auto pairs) {
    constexpr int kPairs = decltype(pairs)::value;
    constexpr int kRows = 2 * kPairs + 3;
    const uint8_t* src[kRows];
    int p[kRows];
    for (int i = 0; i < kRows; ++i) {
      src[i] = v.SrcPixel(v.left, v.top + y - 2 + i);
      p[i] = parityOf(y - 2 + i);
    }
    // Every pair starts on a row of the same colour as row y.
    const bool redAtY = isRed(y);
    uint8_t* dst[2 * kPairs];
    for (int i = 0; i < 2 * kPairs; ++i) dst[i] = v.DstPixel(v.left, v.top + y + i);
    const Vec kAtY = redAtY ? vkR : vkB, kOther = redAtY ? vkB : vkR;
    // One step of kStep pixels from column x (of either parity: the terms are
    // formed relative to x). `exact` keeps the last store inside the step.
    // The colour columns' parity alternates from row to row; with the first
    // row's parity a constant the whole step is one straight run of code and
    // the terms stay in registers.
    auto stepWith = [&](int x, auto exact, auto firstParity) {
      constexpr int kFirst = decltype(firstParity)::value;
      DemosaicRowTerms<L> t[kRows];
      [&]<int... kI>(std::integer_sequence<int, kI...>) {
        ((t[kI] = LoadDemosaicRowTerms < L, kI != 0 && kI != kRows - 1,
          kFirst ^ (kI & 1) > (src[kI], x)),
         ...);
      }
      (std::make_integer_sequence<int, kRows>{});
      auto pair = [&](int j) __attribute__((always_inline)) {
        const DemosaicRowTerms<L>* r = t + 2 * j;
        // Row y's colour lies on mosaic rows y - 2, y, y + 2; the other
        // colour on rows y - 1 and y + 1.
        const Vec e3 = Times3Lanes<L>(r[2].evenH), o3 = Times3Lanes<L>(r[2].oddH);
        const Vec ownE0 = L::Gain(L::Add(e3, r[0].evenH), kAtY);
        const Vec ownO0 = L::Gain(L::Add(o3, r[0].oddH), kAtY);
        // 3 a + b and 3 b + a as (a + b) + 2 a and (a + b) + 2 b.
        const Vec sumE = L::Add(r[1].evenH, r[3].evenH), sumO = L::Add(r[1].oddH, r[3].oddH);
        const Vec othE0 = L::Gain(L::Add(sumE, L::Double(r[1].evenH)), kOther);
        const Vec othO0 = L::Gain(L::Add(sumO, L::Double(r[1].oddH)), kOther);
        const Vec ownE1 = L::Gain(L::Add(e3, r[4].evenH), kAtY);
        const Vec ownO1 = L::Gain(L::Add(o3, r[4].oddH), kAtY);
        const Vec othE1 = L::Gain(L::Add(sumE, L::Double(r[3].evenH)), kOther);
        const Vec othO1 = L::Gain(L::Add(sumO, L::Double(r[3].oddH)), kOther);
        const Vec ge0 = L::Half(L::Add(r[1].evenGreen, r[2].evenGreen));
        const Vec go0 = L::Half(L::Add(r[1].oddGreen, r[2].oddGreen));
        const Vec ge1 = L::Half(L::Add(r[2].evenGreen, r[3].evenGreen));
        const Vec go1 = L::Half(L::Add(r[2].oddGreen, r[3].oddGreen));
        constexpr bool kExact = decltype(exact)::value;
        uint8_t* d0 = dst[2 * j] + L::kPixelBytes * x;
        uint8_t* d1 = dst[2 * j + 1] + L::kPixelBytes * x;
        if (redAtY) {
          L::template StoreBgr<kExact>(d0, othE0, othO0, ge0, go0, ownE0, ownO0);
          L::template StoreBgr<kExact>(d1, othE1, othO1, ge1, go1, ownE1, ownO1);
        } else {
          L::template StoreBgr<kExact>(d0, ownE0, ownO0, ge0, go0, othE0, othO0);
          L::template StoreBgr<kExact>(d1, ownE1, ownO1, ge1, go1, othE1, othO1);
        }
      };
      [&]<int... kJ>(std::integer_sequence<int, kJ...>) { (pair(kJ), ...); }
      (std::make_integer_sequence<int, kPairs>{});
    };
    auto step = [&](int x, auto exact) {
      if ((p[0] ^ (x & 1)) == 0) {
        stepWith(x, exact, std::integral_constant<int, 0>{});
      } else {
        stepWith(x, exact, std::integral_constant<int, 1>{});
      }
    };
    // A step reads columns x - 2 .. x + kStep + 1; its spilling store lands on
    // pixels after the step, which the following steps write again.
    int x = 2;
    for (; x + kStep + L::kMargin <= w - 3; x += kStep) step(x, std::false_type{});
    // The last step ends exactly at column w - 3 (overlapping the previous
    // one, which gives the same values again) and spills nothing.
    const int last = w - 3 - (kStep - 1);
    if (last >= 2) {
      for (int i = 0; i < 2 * kPairs; ++i) {
        if (x < last) L::Tail(v, g, y + i, x, last - 1);
      }
      step(last, std::true_type{});
    } else {
      for (int i = 0; i < 2 * kPairs; ++i) L::Tail(v, g, y + i, x, w - 3);
    }
  };
  auto pairOfRows = [&](int y) { rowsTogether(y, std::integral_constant<int, 1>{}); };

  // kPairs pairs per pass while they fit, then single pairs.
  int y = yFirst;
  if constexpr (L::kPairs > 1) {
    for (; y + 2 * L::kPairs - 1 <= yLast; y += 2 * L::kPairs) {
      rowsTogether(y, std::integral_constant<int, L::kPairs>{});
    }
  }
  for (; y + 1 <= yLast; y += 2) pairOfRows(y);
  if (y <= yLast) {
    // One row left: the last pair overlaps the previous one when that row
    // belongs to these rows too (a row before them may already have been
    // worked on by the caller and must not be written again).
    if (y - 1 >= yFirst) {
      pairOfRows(y - 1);
    } else {
      L::Tail(v, g, y, 2, w - 3);
    }
  }
  return 1;
}

// ---- The forms' lanes, over the registers R of simd_registers.h ----------

// 8-bit samples in 16-bit lanes.
template <class R>
struct Samples8Lanes {
  using Vec = typename R::Vec;
  static constexpr int kStep = R::kBytes;
  static constexpr int kSampleBytes = 1;
  // SSE2 works on four output rows per pass (fewer mosaic rows' terms formed
  // twice measured slightly faster than two rows, despite some spills); the
  // wider AVX2 step on two, where four spill more than the shared rows save.
  static constexpr int kPairs = R::kBytes == 16 ? 2 : 1;
  // A 24-bit step reads up to column x + kStep + 1, and its store spills
  // onto pixel x + kStep (SSE2) or x + kStep + 1 (AVX2).
  static constexpr int kMargin24 = R::kBytes == 16 ? 1 : 2;

  static Vec Load(const uint8_t* p) { return R::Load(p); }
  static Vec Even(Vec v) { return R::And(v, R::Set16(0x00FF)); }
  static Vec Odd(Vec v) { return R::template Srli<8>(v); }
  static Vec Add(Vec a, Vec b) { return R::AddSU(a, b); }
  static Vec Half(Vec v) { return R::template Srli<1>(v); }
  static Vec Double(Vec v) { return R::template Slli<1>(v); }

  // Even and odd B, G, R (16-bit lanes, limited to 255 by the packs) as
  // pixels of 24 bits, or of 32 bits whose fourth byte keeps what it held.
  template <bool kExact>
  static void StoreBgr24(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    R::template StoreBgr24<kExact>(d, R::PackUS(be, bo), R::PackUS(ge, go), R::PackUS(re, ro));
  }
  static void StoreBgrx32(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    const Vec z = R::Zero();
    // Each colour's bytes in column order within each 128-bit half.
    auto natural = [](Vec even, Vec odd) {
      const Vec packed = R::PackUS(even, odd);
      return R::UnpackLo8(packed, R::ByteShiftRight8(packed));
    };
    const Vec b = natural(be, bo), g = natural(ge, go), r = natural(re, ro);
    const Vec bgLo = R::UnpackLo8(b, g), bgHi = R::UnpackHi8(b, g);
    const Vec rLo = R::UnpackLo8(r, z), rHi = R::UnpackHi8(r, z);
    const Vec px[4] = {R::UnpackLo16(bgLo, rLo), R::UnpackHi16(bgLo, rLo), R::UnpackLo16(bgHi, rHi),
                       R::UnpackHi16(bgHi, rHi)};
    R::template StoreColumns<true>(d, px, R::Set32(static_cast<int32_t>(0xFF000000u)));
  }
};

// The vector rounding: min(255, ((sum >> 4) * k) >> 7), 24-bit destination.
template <class R>
struct VectorRoundingLanes : Samples8Lanes<R> {
  using Vec = typename R::Vec;
  static constexpr int kPixelBytes = 3;
  static constexpr int kMargin = Samples8Lanes<R>::kMargin24;
  // The lanes take the multipliers times 32 (see Gain); the form runs only for
  // gains up to 200, whose multipliers (at most 256) keep k << 5 in a lane.
  static Vec GainVector(uint32_t k) { return R::Set16(static_cast<int16_t>(k << 5)); }
  // ((sum >> 4) * k) >> 7, at most 510; the store limits it to 255. With the
  // low four bits cleared the sum is 16 (sum >> 4), and the high half of its
  // product with 32 k is (16 (sum >> 4) * 32 k) >> 16, the same value in one
  // multiplication and no shifts.
  static Vec Gain(Vec sum, Vec k32) {
    return R::MulHiU(R::And(sum, R::Set16(static_cast<int16_t>(0xFFF0))), k32);
  }
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    Samples8Lanes<R>::template StoreBgr24<kExact>(d, be, bo, ge, go, re, ro);
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowVectorRounding(v, g, row, from, to);
  }
};

// The scalar formula: min(255, (sum * k) >> 11) is the high half of
// (16 sum) * (2 k): the sum is at most 4080, so 16 sum fits a lane, and 2 k
// does for every multiplier up to kScalarVectorMaxFactor8.
template <class R, int kBytesPerPixel>
struct ScalarFormulaLanes : Samples8Lanes<R> {
  using Vec = typename R::Vec;
  static constexpr int kPixelBytes = kBytesPerPixel;
  static constexpr int kMargin = kBytesPerPixel == 3 ? Samples8Lanes<R>::kMargin24 : 0;
  static Vec GainVector(uint32_t k) { return R::Set16(static_cast<int16_t>(2 * k)); }
  static Vec Gain(Vec sum, Vec k2) { return R::MulHiU(R::template Slli<4>(sum), k2); }
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    if constexpr (kBytesPerPixel == 3) {
      Samples8Lanes<R>::template StoreBgr24<kExact>(d, be, bo, ge, go, re, ro);
    } else {
      Samples8Lanes<R>::StoreBgrx32(d, be, bo, ge, go, re, ro);
    }
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowScalar(v, g, row, from, to);
  }
};

// The deep form: 16-bit samples in 32-bit lanes, the scalar formula. A colour
// sum is at most 16 x 65535, and with a multiplier up to
// kScalarVectorMaxFactorDeep its product stays below 2^31.
template <class R, int kBits, int kBytesPerPixel>
struct DeepLanes {
  using Vec = typename R::Vec;
  static constexpr int kStep = R::kBytes / 2;
  static constexpr int kSampleBytes = 2;
  static constexpr int kPixelBytes = kBytesPerPixel;
  // A step reads up to column x + kStep + 1; the 48-bit store spills onto
  // pixel x + kStep.
  static constexpr int kMargin = kBytesPerPixel == 6 ? 1 : 0;
  static constexpr int kPairs = 1;
  static constexpr int kMax = (1 << kBits) - 1;

  static Vec Load(const uint8_t* p) { return R::Load(p); }
  static Vec Even(Vec v) { return R::And(v, R::Set32(0xFFFF)); }
  static Vec Odd(Vec v) { return R::template Srli32<16>(v); }
  static Vec Add(Vec a, Vec b) { return R::Add32(a, b); }
  static Vec Half(Vec v) { return R::template Srli32<1>(v); }
  static Vec Double(Vec v) { return R::template Slli32<1>(v); }
  static Vec GainVector(uint32_t k) { return R::Set32(static_cast<int32_t>(k)); }
  // min(N, (sum * k) >> 11).
  static Vec Gain(Vec sum, Vec k) {
    return R::MinU32(R::template Srli32<11>(R::MulLo32(sum, k)), R::Set32(kMax));
  }

  // Even and odd B, G, R (32-bit lanes, B and R already limited). Each
  // colour's even and odd values share a 32-bit lane as two 16-bit samples in
  // pixel order; the pixels are built as B, G, R, 0 in 64 bits.
  template <bool kExact>
  static void StoreBgr(uint8_t* d, Vec be, Vec bo, Vec ge, Vec go, Vec re, Vec ro) {
    if constexpr (kBits < 16) {
      ge = R::MinU32(ge, R::Set32(kMax));
      go = R::MinU32(go, R::Set32(kMax));
    }
    const Vec z = R::Zero();
    const Vec b = R::Or(be, R::template Slli32<16>(bo));
    const Vec g = R::Or(ge, R::template Slli32<16>(go));
    const Vec r = R::Or(re, R::template Slli32<16>(ro));
    const Vec bgLo = R::UnpackLo16(b, g), bgHi = R::UnpackHi16(b, g);
    const Vec rLo = R::UnpackLo16(r, z), rHi = R::UnpackHi16(r, z);
    const Vec px[4] = {R::UnpackLo32(bgLo, rLo), R::UnpackHi32(bgLo, rLo), R::UnpackLo32(bgHi, rHi),
                       R::UnpackHi32(bgHi, rHi)};
    if constexpr (kBytesPerPixel == 8) {
      R::template StoreColumns<true>(d, px, R::Set64(0xFFFF000000000000ull));
    } else {
      R::template StoreBgr48<kExact>(d, px);
    }
  }
  static void Tail(const RegionView& v, const BayerGains& g, int row, int from, int to) {
    DemosaicRowDeep(v, g, kBits, row, from, to);
  }
};

// ---- The entry points of one register width --------------------------------

// The scalar formula (24- or 32-bit destinations, any settable gain); gains
// whose multiplier would not fit the lanes run the scalar form.
template <class R>
int DemosaicInteriorScalarFormulaFor(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!ScalarVectorDemosaicAllowed(g, v.srcBpp, v.dstBpp)) {
    return DemosaicInteriorScalar(v, g, rows);
  }
  return v.dstBpp == 3 ? DemosaicInteriorLanes<ScalarFormulaLanes<R, 3>>(v, g, rows)
                       : DemosaicInteriorLanes<ScalarFormulaLanes<R, 4>>(v, g, rows);
}

// The vector rounding; where it may not run, the scalar formula does (this
// form computes that too, faster).
template <class R>
int DemosaicInteriorRoundingFor(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) {
    return DemosaicInteriorScalarFormulaFor<R>(v, g, rows);
  }
  return DemosaicInteriorLanes<VectorRoundingLanes<R>>(v, g, rows);
}

template <class R, int kBits>
int DemosaicDeepForBits(const RegionView& v, const BayerGains& g, DemosaicRows rows) {
  return v.dstBpp == 6 ? DemosaicInteriorLanes<DeepLanes<R, kBits, 6>>(v, g, rows)
                       : DemosaicInteriorLanes<DeepLanes<R, kBits, 8>>(v, g, rows);
}

template <class R>
int DemosaicDeepFor(const RegionView& v, const BayerGains& g, int significantBits,
                    DemosaicRows rows) {
  if (v.Empty()) return 1;
  if (!DeepVectorDemosaicAllowed(g, v.srcBpp, v.dstBpp)) {
    return DemosaicDeep(v, g, significantBits, rows);
  }
  switch (significantBits) {
    case 12:
      return DemosaicDeepForBits<R, 12>(v, g, rows);
    case 14:
      return DemosaicDeepForBits<R, 14>(v, g, rows);
    case 16:
      return DemosaicDeepForBits<R, 16>(v, g, rows);
    default:
      return DemosaicDeepForBits<R, 10>(v, g, rows);
  }
}

}  // namespace varnel
