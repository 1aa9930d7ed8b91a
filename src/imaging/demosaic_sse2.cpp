// SSE2 demosaic interior: 16 output pixels per step.
//
// Every term of the bilinear formula depends only on the parity of the output
// column, so one step splits each mosaic row into its even and odd columns
// (eight 16-bit lanes each, by masking and shifting one 16-byte load) and
// forms the even and the odd outputs without any per-lane selection.
#include "imaging/demosaic.h"

#include "imaging/demosaic_kernel.h"

#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varnel {

#if defined(__SSE2__)
namespace {

inline __m128i Load16(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline __m128i Even(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(0x00FF)); }
inline __m128i Odd(__m128i v) { return _mm_srli_epi16(v, 8); }
inline __m128i Add(__m128i a, __m128i b) { return _mm_adds_epu16(a, b); }
inline __m128i Times3(__m128i a) { return Add(Add(a, a), a); }

// The horizontal interpolation of a row's red or blue samples for the even
// and odd output columns x0 + 2i and x0 + 2i + 1 (x0 even), and the green of
// the same row among columns x - 1 and x.
struct RowTerms {
  __m128i evenH, oddH, evenGreen, oddGreen;
};

// `colorParity` is the parity of the columns that carry the row's red or blue.
template <bool kWithGreen>
inline RowTerms LoadRowTerms(const uint8_t* row, int x0, int colorParity) {
  RowTerms t;
  const __m128i left = Load16(row + x0 - 2), here = Load16(row + x0);
  if (colorParity == 0) {
    const __m128i c3 = Times3(Even(here));
    t.evenH = Add(c3, Even(left));                 // 3 s[x] + s[x-2]
    t.oddH = Add(c3, Even(Load16(row + x0 + 2)));  // 3 s[x-1] + s[x+1]
    if (kWithGreen) {
      t.evenGreen = Odd(left);  // s[x-1]
      t.oddGreen = Odd(here);   // s[x]
    }
  } else {
    const __m128i leftOdd = Odd(left), hereOdd = Odd(here);
    t.evenH = Add(Times3(leftOdd), hereOdd);                // 3 s[x-1] + s[x+1]
    t.oddH = Add(Times3(hereOdd), leftOdd);                 // 3 s[x] + s[x-2]
    if (kWithGreen) t.evenGreen = t.oddGreen = Even(here);  // s[x], s[x-1]
  }
  return t;
}

// ((sum >> 4) * k) >> 7, at most 510; the store limits it to 255.
inline __m128i Gain(__m128i sum, __m128i k) {
  return _mm_srli_epi16(_mm_mullo_epi16(_mm_srli_epi16(sum, 4), k), 7);
}

// Stores the two pixel pairs of p, each the low 6 bytes of a 64-bit lane, at
// d and d + 6. Each 8-byte store spills 2 bytes onto the next pixel, which the
// caller writes afterwards; with kExact the second pair is written as exactly
// 6 bytes.
template <bool kExact>
inline void StorePairs(uint8_t* d, __m128i p) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), p);
  if constexpr (kExact) {
    const __m128i high = _mm_unpackhi_epi64(p, p);
    const int first4 = _mm_cvtsi128_si32(high);
    const uint16_t last2 = static_cast<uint16_t>(_mm_extract_epi16(high, 2));
    std::memcpy(d + 6, &first4, 4);
    std::memcpy(d + 10, &last2, 2);
  } else {
    // movhps through the builtin, which makes no aligned access of its own.
    _mm_storeh_pi(reinterpret_cast<__m64*>(d + 6), _mm_castsi128_ps(p));
  }
}

// Even and odd B, G, R (16-bit lanes, at most 510) -> 16 pixels at d. A pixel
// pair (even, odd) is the three 16-bit words (B G), (R B'), (G' R'), which
// are interleaved into the 64-bit lanes of four registers, two pairs each.
template <bool kExact>
inline void StoreBgr16(uint8_t* d, __m128i be, __m128i bo, __m128i ge, __m128i go, __m128i re,
                       __m128i ro) {
  // Saturating packs give the bytes [even 0..7, odd 0..7] of each colour.
  const __m128i z = _mm_setzero_si128();
  const __m128i b = _mm_packus_epi16(be, bo), g = _mm_packus_epi16(ge, go);
  const __m128i r = _mm_packus_epi16(re, ro);
  const __m128i w0 = _mm_unpacklo_epi8(b, g);                     // B G
  const __m128i w1 = _mm_unpacklo_epi8(r, _mm_srli_si128(b, 8));  // R B'
  const __m128i w2 = _mm_unpackhi_epi8(g, r);                     // G' R'
  const __m128i w01Lo = _mm_unpacklo_epi16(w0, w1), w01Hi = _mm_unpackhi_epi16(w0, w1);
  const __m128i w2Lo = _mm_unpacklo_epi16(w2, z), w2Hi = _mm_unpackhi_epi16(w2, z);
  StorePairs<false>(d, _mm_unpacklo_epi32(w01Lo, w2Lo));
  StorePairs<false>(d + 12, _mm_unpackhi_epi32(w01Lo, w2Lo));
  StorePairs<false>(d + 24, _mm_unpacklo_epi32(w01Hi, w2Hi));
  StorePairs<kExact>(d + 36, _mm_unpackhi_epi32(w01Hi, w2Hi));
}

}  // namespace

bool HaveDemosaicSse2() { return true; }

int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g) {
  if (v.Empty()) return 1;
  if (!VectorDemosaicAllowed(g, v.dstBpp) || v.srcBpp != 1) return DemosaicInteriorScalar(v, g);
  const int w = v.Width(), h = v.Height();
  if (w < 5 || h < 5) return 1;
  const uint32_t kR = GainFactor(g.red), kB = GainFactor(g.blue);
  const __m128i vkR = _mm_set1_epi16(static_cast<short>(kR));
  const __m128i vkB = _mm_set1_epi16(static_cast<short>(kB));
  // Column parity of red (blue has the other), counted from the rectangle.
  const int redParity = (g.phase >> 1) & 1, blueParity = redParity ^ 1;
  auto isRed = [&](int row) { return CanonicalRow(g.phase, row) == 1; };
  auto parityOf = [&](int row) { return isRed(row) ? redParity : blueParity; };

  // Output rows y and y + 1 together: they read mosaic rows y - 2 .. y + 2,
  // and each row's horizontal terms serve both.
  auto pairOfRows = [&](int y) {
    const uint8_t* rows[5];
    for (int i = 0; i < 5; ++i) rows[i] = v.SrcPixel(v.left, v.top + y - 2 + i);
    const int p[5] = {parityOf(y - 2), parityOf(y - 1), parityOf(y), parityOf(y + 1),
                      parityOf(y + 2)};
    const bool redAtY = isRed(y);
    uint8_t* dst0 = v.DstPixel(v.left, v.top + y);
    uint8_t* dst1 = v.DstPixel(v.left, v.top + y + 1);
    const __m128i kAtY = redAtY ? vkR : vkB, kOther = redAtY ? vkB : vkR;
    // One step of 16 pixels from column x (of either parity: the terms are
    // formed relative to x). `exact` keeps the last store inside the step.
    auto step = [&](int x, auto exact) {
      const int flip = x & 1;
      const RowTerms t0 = LoadRowTerms<false>(rows[0], x, p[0] ^ flip);
      const RowTerms t1 = LoadRowTerms<true>(rows[1], x, p[1] ^ flip);
      const RowTerms t2 = LoadRowTerms<true>(rows[2], x, p[2] ^ flip);
      const RowTerms t3 = LoadRowTerms<true>(rows[3], x, p[3] ^ flip);
      const RowTerms t4 = LoadRowTerms<false>(rows[4], x, p[4] ^ flip);
      // Row y's colour lies on mosaic rows y - 2, y, y + 2; the other colour
      // on rows y - 1 and y + 1.
      const __m128i e3 = Times3(t2.evenH), o3 = Times3(t2.oddH);
      const __m128i ownE0 = Gain(Add(e3, t0.evenH), kAtY), ownO0 = Gain(Add(o3, t0.oddH), kAtY);
      const __m128i othE0 = Gain(Add(Times3(t1.evenH), t3.evenH), kOther);
      const __m128i othO0 = Gain(Add(Times3(t1.oddH), t3.oddH), kOther);
      const __m128i ownE1 = Gain(Add(e3, t4.evenH), kAtY), ownO1 = Gain(Add(o3, t4.oddH), kAtY);
      const __m128i othE1 = Gain(Add(Times3(t3.evenH), t1.evenH), kOther);
      const __m128i othO1 = Gain(Add(Times3(t3.oddH), t1.oddH), kOther);
      const __m128i ge0 = _mm_srli_epi16(Add(t1.evenGreen, t2.evenGreen), 1);
      const __m128i go0 = _mm_srli_epi16(Add(t1.oddGreen, t2.oddGreen), 1);
      const __m128i ge1 = _mm_srli_epi16(Add(t2.evenGreen, t3.evenGreen), 1);
      const __m128i go1 = _mm_srli_epi16(Add(t2.oddGreen, t3.oddGreen), 1);
      constexpr bool kExact = decltype(exact)::value;
      if (redAtY) {
        StoreBgr16<kExact>(dst0 + 3 * x, othE0, othO0, ge0, go0, ownE0, ownO0);
        StoreBgr16<kExact>(dst1 + 3 * x, othE1, othO1, ge1, go1, ownE1, ownO1);
      } else {
        StoreBgr16<kExact>(dst0 + 3 * x, ownE0, ownO0, ge0, go0, othE0, othO0);
        StoreBgr16<kExact>(dst1 + 3 * x, ownE1, ownO1, ge1, go1, othE1, othO1);
      }
    };
    // A step reads columns x - 2 .. x + 16 + 1; its spilling store lands on
    // pixels after the step, which the following steps write again.
    int x = 2;
    for (; x + 16 + 1 <= w - 3; x += 16) step(x, std::false_type{});
    // The last step ends exactly at column w - 3 (overlapping the previous
    // one, which gives the same values again) and spills nothing.
    const int last = w - 3 - (16 - 1);
    if (last >= 2) {
      for (int row : {y, y + 1}) {
        if (x < last) DemosaicRowVectorTail(v, g.phase, kR, kB, row, x, last - 1);
      }
      step(last, std::true_type{});
    } else {
      for (int row : {y, y + 1}) DemosaicRowVectorTail(v, g.phase, kR, kB, row, x, w - 3);
    }
  };

  int y = 2;
  for (; y + 1 <= h - 3; y += 2) pairOfRows(y);
  if (y <= h - 3) {
    // An odd number of interior rows: the last pair overlaps the previous one.
    if (y - 1 >= 2) {
      pairOfRows(y - 1);
    } else {
      DemosaicRowVectorTail(v, g.phase, kR, kB, y, 2, w - 3);
    }
  }
  return 1;
}

#else

bool HaveDemosaicSse2() { return false; }
int DemosaicInteriorSse2(const RegionView& v, const BayerGains& g) {
  return DemosaicInteriorScalar(v, g);
}

#endif

}  // namespace varnel
