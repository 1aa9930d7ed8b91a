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

// The interpolated values a pixel can need. The weights are in sixteenths of
// the sample values:
//   kGreenAtRB: centre 8, direct neighbours 4, samples two away in row and
//               column -2 (green at a red or blue sample);
//   kAlongRow:  centre 10, row neighbours 8, diagonals -2, two away in the row
//               -2, two away in the column +1 (red at a green sample of a red
//               row, blue at a green sample of a blue row);
//   kAlongCol:  the same turned by 90 degrees (red at a green sample of a blue
//               row, blue at a green sample of a red row);
//   kDiagonal:  centre 12, diagonals 4, two away in row and column -3 (red at
//               blue, blue at red);
//   kCentre:    the sample itself.
enum Kernel : int { kCentre = 0, kGreenAtRB = 1, kAlongRow = 2, kAlongCol = 3, kDiagonal = 4 };

// Which kernel gives colour `channel` (0 red, 1 green, 2 blue) at a site.
constexpr Kernel KernelFor(EngineSite site, int channel) {
  switch (site) {
    case EngineSite::kRed:
      return channel == 0 ? kCentre : channel == 1 ? kGreenAtRB : kDiagonal;
    case EngineSite::kBlue:
      return channel == 2 ? kCentre : channel == 1 ? kGreenAtRB : kDiagonal;
    case EngineSite::kGreenOnRedRow:
      return channel == 1 ? kCentre : channel == 0 ? kAlongRow : kAlongCol;
    case EngineSite::kGreenOnBlueRow:
    default:
      return channel == 1 ? kCentre : channel == 2 ? kAlongRow : kAlongCol;
  }
}

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

// Computes the five kernels for eight pixels. Sums stay within -3060..7140,
// well inside the 16-bit range; the additions saturate all the same.
inline void Kernels(const Taps& t, __m128i* k) {
  const __m128i c2 = _mm_slli_epi16(t.centre, 1);
  const __m128i c8 = _mm_slli_epi16(t.centre, 3);
  const __m128i far = _mm_adds_epi16(t.row2, t.col2);
  const __m128i diag2 = _mm_slli_epi16(t.diag, 1);

  k[kCentre] = t.centre;

  // 8c + 4 (row1 + col1) - 2 (row2 + col2)
  __m128i g = _mm_adds_epi16(c8, _mm_slli_epi16(_mm_adds_epi16(t.row1, t.col1), 2));
  g = _mm_subs_epi16(g, _mm_slli_epi16(far, 1));
  k[kGreenAtRB] = Finish16(g);

  // 10c - 2 diag is shared by both green-site kernels.
  const __m128i c10 = _mm_subs_epi16(_mm_adds_epi16(c8, c2), diag2);
  // 10c + 8 row1 - 2 diag - 2 row2 + col2
  __m128i r = _mm_adds_epi16(c10, _mm_slli_epi16(t.row1, 3));
  r = _mm_adds_epi16(_mm_subs_epi16(r, _mm_slli_epi16(t.row2, 1)), t.col2);
  k[kAlongRow] = Finish16(r);
  // 10c + 8 col1 - 2 diag - 2 col2 + row2
  __m128i cl = _mm_adds_epi16(c10, _mm_slli_epi16(t.col1, 3));
  cl = _mm_adds_epi16(_mm_subs_epi16(cl, _mm_slli_epi16(t.col2, 1)), t.row2);
  k[kAlongCol] = Finish16(cl);

  // 12c + 4 diag - 3 (row2 + col2)
  __m128i d =
      _mm_adds_epi16(_mm_adds_epi16(c8, _mm_slli_epi16(t.centre, 2)), _mm_slli_epi16(t.diag, 2));
  d = _mm_subs_epi16(d, _mm_adds_epi16(far, _mm_slli_epi16(far, 1)));
  k[kDiagonal] = Finish16(d);
}

// (v * gain + 64) >> 7, limited to 255; v is 0..255 and gain 0..65535. The
// product can pass 16 bits (gains above 257), so its high half decides
// saturation.
inline __m128i MulGain(__m128i v, __m128i gain) {
  const __m128i lo = _mm_mullo_epi16(v, gain);
  const __m128i hi = _mm_mulhi_epu16(v, gain);
  const __m128i rounded = _mm_srli_epi16(_mm_adds_epu16(lo, _mm_set1_epi16(64)), 7);
  const __m128i fits = _mm_cmpeq_epi16(hi, _mm_setzero_si128());
  const __m128i limited = _mm_min_epi16(rounded, _mm_set1_epi16(255));
  return Select(fits, limited, _mm_set1_epi16(255));
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

// Unpacks 16 bytes into two halves of eight 16-bit lanes.
inline void Widen(__m128i v, __m128i* lo, __m128i* hi) {
  const __m128i zero = _mm_setzero_si128();
  *lo = _mm_unpacklo_epi8(v, zero);
  *hi = _mm_unpackhi_epi8(v, zero);
}

// One row of the picture whose even columns are `EvenSite` and odd columns
// `OddSite`.
template <EngineVectorFamily Family, EngineSite EvenSite, EngineSite OddSite>
void ProcessRow(const uint8_t* src, int pitch, int width, const __m128i gain[3],
                const MatrixLanes* matrix, uint8_t* dst) {
  // Lane 0 of every 16-bit vector is an even column because every step starts
  // at a column that is a multiple of 16.
  const __m128i evenLanes = _mm_set1_epi32(0x0000FFFF);
  for (int x0 = 0; x0 < width; x0 += 16) {
    const uint8_t* s = src + x0;
    __m128i lo[13], hi[13];
    const uint8_t* at[13] = {s,
                             s - 1,
                             s + 1,
                             s - pitch,
                             s + pitch,
                             s - 2,
                             s + 2,
                             s - 2 * pitch,
                             s + 2 * pitch,
                             s - pitch - 1,
                             s - pitch + 1,
                             s + pitch - 1,
                             s + pitch + 1};
    for (int i = 0; i < 13; ++i) Widen(Load(at[i]), &lo[i], &hi[i]);

    __m128i channel8[3];
    __m128i halves[2][3];
    for (int h = 0; h < 2; ++h) {
      const __m128i* v = h == 0 ? lo : hi;
      Taps t;
      t.centre = v[0];
      t.row1 = _mm_add_epi16(v[1], v[2]);
      t.col1 = _mm_add_epi16(v[3], v[4]);
      t.row2 = _mm_add_epi16(v[5], v[6]);
      t.col2 = _mm_add_epi16(v[7], v[8]);
      t.diag = _mm_add_epi16(_mm_add_epi16(v[9], v[10]), _mm_add_epi16(v[11], v[12]));
      __m128i k[5];
      Kernels(t, k);
      __m128i c[3];
      for (int ch = 0; ch < 3; ++ch) {
        c[ch] = MulGain(Select(evenLanes, k[KernelFor(EvenSite, ch)], k[KernelFor(OddSite, ch)]),
                        gain[ch]);
      }
      if constexpr (Family == EngineVectorFamily::kColorWithMatrix) {
        ApplyMatrix(&c[0], &c[1], &c[2], *matrix);
      }
      if constexpr (Family == EngineVectorFamily::kGray) {
        const __m128i y = Luminance(c[0], c[1], c[2]);
        c[0] = c[1] = c[2] = y;
      }
      for (int ch = 0; ch < 3; ++ch) halves[h][ch] = c[ch];
    }
    for (int ch = 0; ch < 3; ++ch) channel8[ch] = _mm_packus_epi16(halves[0][ch], halves[1][ch]);
    StorePixels(dst + static_cast<size_t>(x0) * 4, channel8[2], channel8[1], channel8[0],
                width - x0);
  }
}

template <EngineVectorFamily Family, EnginePhase Phase>
void VectorDemosaic(const EngineVectorParams& p) {
  if (p.origin == nullptr || p.out == nullptr || p.width <= 0 || p.height <= 0) return;
  if (Family == EngineVectorFamily::kColorWithMatrix && p.matrix == nullptr) return;
  auto gainLane = [](int g) { return _mm_set1_epi16(static_cast<short>(std::clamp(g, 0, 65535))); };
  const __m128i gain[3] = {gainLane(p.gains.red), gainLane(p.gains.green), gainLane(p.gains.blue)};
  MatrixLanes lanes;
  const MatrixLanes* matrix = nullptr;
  if constexpr (Family == EngineVectorFamily::kColorWithMatrix) {
    lanes = MakeMatrixLanes(*p.matrix);
    matrix = &lanes;
  }
  constexpr EngineSite kEven0 = EngineSiteAt(Phase, 0, 0);
  constexpr EngineSite kOdd0 = EngineSiteAt(Phase, 1, 0);
  constexpr EngineSite kEven1 = EngineSiteAt(Phase, 0, 1);
  constexpr EngineSite kOdd1 = EngineSiteAt(Phase, 1, 1);
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.origin + static_cast<ptrdiff_t>(y) * p.pitch;
    uint8_t* dst = p.out + static_cast<ptrdiff_t>(y) * p.outStride;
    if ((y & 1) == 0) {
      ProcessRow<Family, kEven0, kOdd0>(src, p.pitch, p.width, gain, matrix, dst);
    } else {
      ProcessRow<Family, kEven1, kOdd1>(src, p.pitch, p.width, gain, matrix, dst);
    }
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
