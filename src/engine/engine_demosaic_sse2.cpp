// Vector (SSE2) forms of the colour engine's demosaic: 5x5 gradient-corrected
// linear interpolation, sixteen pixels per step, on the padded work buffer of
// the colour matrix stage.
//
// There are twelve routines: three families (colour with the matrix, colour
// without it, gray) for each of the four engine phases. A phase only decides
// which kernel each of the four positions of the 2x2 pattern takes, so one
// template body serves all four phases of a family; the phase picks, at
// compile time, the sites of the even and odd columns of even and odd rows.
#include <emmintrin.h>

#include <algorithm>
#include <cstring>

#include "engine/engine_demosaic.h"

namespace varnel {

namespace {

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

inline __m128i Load(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Lanes where the condition holds take a, the others b.
inline __m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// The neighbourhood of eight pixels in 16-bit lanes.
struct Taps {
  __m128i centre;
  __m128i row1;  // left + right
  __m128i col1;  // up + down
  __m128i row2;  // two left + two right
  __m128i col2;  // two up + two down
  __m128i diag;  // the four diagonal neighbours
};

// Limits a kernel sum (sixteenths) below at 0 and rounds it to a sample.
inline __m128i Finish16(__m128i sum) {
  sum = _mm_max_epi16(sum, _mm_setzero_si128());
  return _mm_srli_epi16(_mm_adds_epi16(sum, _mm_set1_epi16(8)), 4);
}

// The colours of eight pixels of one site, computing only the kernels that
// site needs. Sums stay within -3060..7140, well inside the 16-bit range; the
// additions saturate all the same.
template <EngineSite Site>
inline void SiteColours(const Taps& t, __m128i rgb[3]) {
  constexpr bool kRedOrBlue = Site == EngineSite::kRed || Site == EngineSite::kBlue;
  const __m128i c8 = _mm_slli_epi16(t.centre, 3);
  if constexpr (kRedOrBlue) {
    const __m128i far = _mm_adds_epi16(t.row2, t.col2);
    // 8c + 4 (row1 + col1) - 2 (row2 + col2)
    __m128i g = _mm_adds_epi16(c8, _mm_slli_epi16(_mm_adds_epi16(t.row1, t.col1), 2));
    g = _mm_subs_epi16(g, _mm_slli_epi16(far, 1));
    // 12c + 4 diag - 3 (row2 + col2)
    __m128i d =
        _mm_adds_epi16(_mm_adds_epi16(c8, _mm_slli_epi16(t.centre, 2)), _mm_slli_epi16(t.diag, 2));
    d = _mm_subs_epi16(d, _mm_adds_epi16(far, _mm_slli_epi16(far, 1)));
    const int own = Site == EngineSite::kRed ? 0 : 2;
    rgb[own] = t.centre;
    rgb[1] = Finish16(g);
    rgb[2 - own] = Finish16(d);
  } else {
    // 10c - 2 diag is shared by both kernels of a green site.
    const __m128i c10 =
        _mm_subs_epi16(_mm_adds_epi16(c8, _mm_slli_epi16(t.centre, 1)), _mm_slli_epi16(t.diag, 1));
    // 10c + 8 row1 - 2 diag - 2 row2 + col2
    __m128i r = _mm_adds_epi16(c10, _mm_slli_epi16(t.row1, 3));
    r = _mm_adds_epi16(_mm_subs_epi16(r, _mm_slli_epi16(t.row2, 1)), t.col2);
    // 10c + 8 col1 - 2 diag - 2 col2 + row2
    __m128i cl = _mm_adds_epi16(c10, _mm_slli_epi16(t.col1, 3));
    cl = _mm_adds_epi16(_mm_subs_epi16(cl, _mm_slli_epi16(t.col2, 1)), t.row2);
    // Along the row gives the colour that shares the green's row.
    const int rowColour = Site == EngineSite::kGreenOnRedRow ? 0 : 2;
    rgb[1] = t.centre;
    rgb[rowColour] = Finish16(r);
    rgb[2 - rowColour] = Finish16(cl);
  }
}

// How the gains are applied: all three 128 (x1: only the limit), all at most
// 146 (the product of the largest kernel value, 446, and the gain fits 16
// bits), or any larger.
enum class GainMode { kUnit, kNarrow, kWide };
constexpr int kNarrowGainLimit = 65535 / 446;

// min(255, (v * gain + 64) >> 7); v is a kernel value, 0..446 (the kernels
// overshoot at edges), and gain 0..65535.
template <GainMode Mode>
inline __m128i MulGain(__m128i v, __m128i gain) {
  const __m128i limit = _mm_set1_epi16(255);
  if constexpr (Mode == GainMode::kUnit) {
    return _mm_min_epi16(v, limit);
  } else {
    const __m128i lo = _mm_mullo_epi16(v, gain);
    // A sum that passes 65535 stops there; shifted it still exceeds 255.
    const __m128i rounded = _mm_srli_epi16(_mm_adds_epu16(lo, _mm_set1_epi16(64)), 7);
    const __m128i limited = _mm_min_epi16(rounded, limit);
    if constexpr (Mode == GainMode::kNarrow) {
      return limited;
    } else {
      // The product's high half decides saturation.
      const __m128i fits = _mm_cmpeq_epi16(_mm_mulhi_epu16(v, gain), _mm_setzero_si128());
      return Select(fits, limited, limit);
    }
  }
}

// The fixed-point colour matrix split by sign, as 16-bit multiplier pairs for
// _mm_madd_epi16 and 32-bit offsets.
struct MatrixLanes {
  __m128i positiveRG[3], positiveB[3], negativeRG[3], negativeB[3];
  __m128i positiveOffset[3], negativeOffset[3];
};

inline int16_t Magnitude16(int32_t e) {
  return static_cast<int16_t>(std::min<int32_t>(e < 0 ? -e : e, 32767));
}

MatrixLanes MakeMatrixLanes(const FixedColorMatrix& m) {
  MatrixLanes lanes;
  for (int j = 0; j < 3; ++j) {
    int16_t pos[3], neg[3];
    for (int k = 0; k < 3; ++k) {
      const int32_t e = m.At(k, j);
      pos[k] = e > 0 ? Magnitude16(e) : 0;
      neg[k] = e > 0 ? 0 : Magnitude16(e);
    }
    lanes.positiveRG[j] =
        _mm_set_epi16(pos[1], pos[0], pos[1], pos[0], pos[1], pos[0], pos[1], pos[0]);
    lanes.negativeRG[j] =
        _mm_set_epi16(neg[1], neg[0], neg[1], neg[0], neg[1], neg[0], neg[1], neg[0]);
    lanes.positiveB[j] = _mm_set_epi16(0, pos[2], 0, pos[2], 0, pos[2], 0, pos[2]);
    lanes.negativeB[j] = _mm_set_epi16(0, neg[2], 0, neg[2], 0, neg[2], 0, neg[2]);
    const int32_t offset = m.At(3, j);
    lanes.positiveOffset[j] = _mm_set1_epi32(offset > 0 ? offset : 0);
    lanes.negativeOffset[j] = _mm_set1_epi32(offset > 0 ? 0 : -offset);
  }
  return lanes;
}

// Four pixels of one output channel: (positive >> 7) - (negative >> 7), with
// 32-bit sums.
inline __m128i MatrixChannel4(__m128i rg, __m128i b0, const MatrixLanes& m, int j) {
  __m128i pos =
      _mm_add_epi32(_mm_madd_epi16(rg, m.positiveRG[j]), _mm_madd_epi16(b0, m.positiveB[j]));
  pos = _mm_add_epi32(pos, m.positiveOffset[j]);
  __m128i neg =
      _mm_add_epi32(_mm_madd_epi16(rg, m.negativeRG[j]), _mm_madd_epi16(b0, m.negativeB[j]));
  neg = _mm_add_epi32(neg, m.negativeOffset[j]);
  return _mm_sub_epi32(_mm_srai_epi32(pos, 7), _mm_srai_epi32(neg, 7));
}

// Applies the matrix to eight pixels in 16-bit lanes (each 0..255).
inline void ApplyMatrix(__m128i* red, __m128i* green, __m128i* blue, const MatrixLanes& m) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i rgLo = _mm_unpacklo_epi16(*red, *green);
  const __m128i rgHi = _mm_unpackhi_epi16(*red, *green);
  const __m128i bLo = _mm_unpacklo_epi16(*blue, zero);
  const __m128i bHi = _mm_unpackhi_epi16(*blue, zero);
  __m128i out[3];
  for (int j = 0; j < 3; ++j) {
    const __m128i lo = MatrixChannel4(rgLo, bLo, m, j);
    const __m128i hi = MatrixChannel4(rgHi, bHi, m, j);
    __m128i v = _mm_packs_epi32(lo, hi);
    v = _mm_max_epi16(v, zero);
    out[j] = _mm_min_epi16(v, _mm_set1_epi16(255));
  }
  *red = out[0];
  *green = out[1];
  *blue = out[2];
}

// (R * 77 >> 8) + (G * 150 >> 8) + (B * 29 >> 8), each product shifted on
// its own. G * 150 reaches 38250, which the logical shift reads correctly.
inline __m128i Luminance(__m128i red, __m128i green, __m128i blue) {
  const __m128i r = _mm_srli_epi16(_mm_mullo_epi16(red, _mm_set1_epi16(77)), 8);
  const __m128i g = _mm_srli_epi16(_mm_mullo_epi16(green, _mm_set1_epi16(150)), 8);
  const __m128i b = _mm_srli_epi16(_mm_mullo_epi16(blue, _mm_set1_epi16(29)), 8);
  return _mm_add_epi16(_mm_add_epi16(r, g), b);
}

// Stores sixteen B, G, R, 255 pixels (64 bytes); with fewer than sixteen
// pixels left in the row, only those are written.
inline void StorePixels(uint8_t* dst, __m128i blue8, __m128i green8, __m128i red8, int count) {
  const __m128i alpha = _mm_set1_epi8(static_cast<char>(0xFF));
  const __m128i bgLo = _mm_unpacklo_epi8(blue8, green8);
  const __m128i bgHi = _mm_unpackhi_epi8(blue8, green8);
  const __m128i raLo = _mm_unpacklo_epi8(red8, alpha);
  const __m128i raHi = _mm_unpackhi_epi8(red8, alpha);
  const __m128i px[4] = {_mm_unpacklo_epi16(bgLo, raLo), _mm_unpackhi_epi16(bgLo, raLo),
                         _mm_unpacklo_epi16(bgHi, raHi), _mm_unpackhi_epi16(bgHi, raHi)};
  if (count >= 16) {
    for (int i = 0; i < 4; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 16 * i), px[i]);
    return;
  }
  alignas(16) uint8_t tail[64];
  for (int i = 0; i < 4; ++i) _mm_store_si128(reinterpret_cast<__m128i*>(tail + 16 * i), px[i]);
  std::memcpy(dst, tail, static_cast<size_t>(count) * 4);
}

inline __m128i EvenBytes(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }
inline __m128i OddBytes(__m128i v) { return _mm_srli_epi16(v, 8); }

// Gains, the matrix and the gray weighting for eight pixels.
template <EngineVectorFamily Family, GainMode Gains>
inline void Finish(__m128i rgb[3], const __m128i gain[3], const MatrixLanes* matrix) {
  for (int ch = 0; ch < 3; ++ch) rgb[ch] = MulGain<Gains>(rgb[ch], gain[ch]);
  if constexpr (Family == EngineVectorFamily::kColorWithMatrix) {
    ApplyMatrix(&rgb[0], &rgb[1], &rgb[2], *matrix);
  }
  if constexpr (Family == EngineVectorFamily::kGray) {
    const __m128i y = Luminance(rgb[0], rgb[1], rgb[2]);
    rgb[0] = rgb[1] = rgb[2] = y;
  }
}

// One row of the picture whose even columns are `EvenSite` and odd columns
// `OddSite`. Each step takes sixteen pixels as eight even and eight odd ones
// in 16-bit lanes: one 16-byte load gives both (its even bytes masked, its
// odd bytes shifted down), and each parity computes only the kernels of its
// own site.
template <EngineVectorFamily Family, GainMode Gains, EngineSite EvenSite, EngineSite OddSite>
void ProcessRow(const uint8_t* src, int pitch, int width, const __m128i gain[3],
                const MatrixLanes* matrix, uint8_t* dst) {
  for (int x0 = 0; x0 < width; x0 += 16) {
    const uint8_t* s = src + x0;
    // Rows -1, 0, +1 at columns x0 - 2, x0, x0 + 2; rows -2 and +2 at x0.
    const __m128i upLeft = Load(s - pitch - 2), up = Load(s - pitch), upRight = Load(s - pitch + 2);
    const __m128i left = Load(s - 2), here = Load(s), right = Load(s + 2);
    const __m128i downLeft = Load(s + pitch - 2), down = Load(s + pitch),
                  downRight = Load(s + pitch + 2);
    const __m128i up2 = Load(s - 2 * pitch), down2 = Load(s + 2 * pitch);

    // Pixels x0, x0 + 2, ...: neighbours at x - 1 are the odd bytes of the
    // loads at x0 - 2, at x + 1 the odd bytes of the loads at x0.
    Taps even;
    even.centre = EvenBytes(here);
    even.row1 = _mm_add_epi16(OddBytes(left), OddBytes(here));
    even.col1 = _mm_add_epi16(EvenBytes(up), EvenBytes(down));
    even.row2 = _mm_add_epi16(EvenBytes(left), EvenBytes(right));
    even.col2 = _mm_add_epi16(EvenBytes(up2), EvenBytes(down2));
    even.diag = _mm_add_epi16(_mm_add_epi16(OddBytes(upLeft), OddBytes(up)),
                              _mm_add_epi16(OddBytes(downLeft), OddBytes(down)));
    // Pixels x0 + 1, x0 + 3, ...: neighbours at x - 1 are the even bytes of
    // the loads at x0, at x + 1 the even bytes of the loads at x0 + 2.
    Taps odd;
    odd.centre = OddBytes(here);
    odd.row1 = _mm_add_epi16(EvenBytes(here), EvenBytes(right));
    odd.col1 = _mm_add_epi16(OddBytes(up), OddBytes(down));
    odd.row2 = _mm_add_epi16(OddBytes(left), OddBytes(right));
    odd.col2 = _mm_add_epi16(OddBytes(up2), OddBytes(down2));
    odd.diag = _mm_add_epi16(_mm_add_epi16(EvenBytes(up), EvenBytes(upRight)),
                             _mm_add_epi16(EvenBytes(down), EvenBytes(downRight)));

    __m128i evenRgb[3], oddRgb[3];
    SiteColours<EvenSite>(even, evenRgb);
    SiteColours<OddSite>(odd, oddRgb);
    Finish<Family, Gains>(evenRgb, gain, matrix);
    Finish<Family, Gains>(oddRgb, gain, matrix);
    // Every value is 0..255, so even | odd << 8 puts the sixteen bytes back
    // in column order.
    __m128i channel8[3];
    for (int ch = 0; ch < 3; ++ch)
      channel8[ch] = _mm_or_si128(evenRgb[ch], _mm_slli_epi16(oddRgb[ch], 8));
    StorePixels(dst + static_cast<size_t>(x0) * 4, channel8[2], channel8[1], channel8[0],
                width - x0);
  }
}

template <EngineVectorFamily Family, GainMode Gains, EnginePhase Phase>
void RunRows(const EngineVectorParams& p, const __m128i gain[3], const MatrixLanes* matrix) {
  constexpr EngineSite kEven0 = EngineSiteAt(Phase, 0, 0);
  constexpr EngineSite kOdd0 = EngineSiteAt(Phase, 1, 0);
  constexpr EngineSite kEven1 = EngineSiteAt(Phase, 0, 1);
  constexpr EngineSite kOdd1 = EngineSiteAt(Phase, 1, 1);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.origin + static_cast<ptrdiff_t>(y) * p.pitch;
    uint8_t* dst = p.out + static_cast<ptrdiff_t>(y) * p.outStride;
    if ((y & 1) == 0) {
      ProcessRow<Family, Gains, kEven0, kOdd0>(src, p.pitch, p.width, gain, matrix, dst);
    } else {
      ProcessRow<Family, Gains, kEven1, kOdd1>(src, p.pitch, p.width, gain, matrix, dst);
    }
  }
}

template <EngineVectorFamily Family, EnginePhase Phase>
void VectorDemosaic(const EngineVectorParams& p) {
  if (p.origin == nullptr || p.out == nullptr || p.width <= 0 || p.height <= 0) return;
  if (Family == EngineVectorFamily::kColorWithMatrix && p.matrix == nullptr) return;
  const int g[3] = {std::clamp(p.gains.red, 0, 65535), std::clamp(p.gains.green, 0, 65535),
                    std::clamp(p.gains.blue, 0, 65535)};
  const __m128i gain[3] = {_mm_set1_epi16(static_cast<short>(g[0])),
                           _mm_set1_epi16(static_cast<short>(g[1])),
                           _mm_set1_epi16(static_cast<short>(g[2]))};
  MatrixLanes lanes{};
  const MatrixLanes* matrix = nullptr;
  if constexpr (Family == EngineVectorFamily::kColorWithMatrix) {
    lanes = MakeMatrixLanes(*p.matrix);
    matrix = &lanes;
  }
  if (g[0] == 128 && g[1] == 128 && g[2] == 128) {
    RunRows<Family, GainMode::kUnit, Phase>(p, gain, matrix);
  } else if (g[0] <= kNarrowGainLimit && g[1] <= kNarrowGainLimit && g[2] <= kNarrowGainLimit) {
    RunRows<Family, GainMode::kNarrow, Phase>(p, gain, matrix);
  } else {
    RunRows<Family, GainMode::kWide, Phase>(p, gain, matrix);
  }
}

using Family = EngineVectorFamily;

// Rows: family; columns: engine phase 0..3.
constexpr EngineVectorRoutine kRoutines[3][kEnginePhaseCount] = {
    {&VectorDemosaic<Family::kColorWithMatrix, 0>, &VectorDemosaic<Family::kColorWithMatrix, 1>,
     &VectorDemosaic<Family::kColorWithMatrix, 2>, &VectorDemosaic<Family::kColorWithMatrix, 3>},
    {&VectorDemosaic<Family::kColor, 0>, &VectorDemosaic<Family::kColor, 1>,
     &VectorDemosaic<Family::kColor, 2>, &VectorDemosaic<Family::kColor, 3>},
    {&VectorDemosaic<Family::kGray, 0>, &VectorDemosaic<Family::kGray, 1>,
     &VectorDemosaic<Family::kGray, 2>, &VectorDemosaic<Family::kGray, 3>},
};

}  // namespace

EngineVectorRoutine SelectEngineVectorRoutine(EngineVectorFamily family, EnginePhase phase) {
  const int f = std::clamp(static_cast<int>(family), 0, 2);
  const int ph = (phase >= 0 && phase < kEnginePhaseCount) ? phase : 0;
  return kRoutines[f][ph];
}

}  // namespace varnel
