// The vector hue and saturation and sharpen kernels, written once over the
// register width. tone_filters_sse2.cpp and tone_filters_avx2.cpp include
// this header and instantiate the templates with lanes structs of their own
// (in anonymous namespaces, so that no instantiation is shared between
// objects built with different instruction-set flags; see demosaic_vector.h).
//
// A lanes struct L works on 16-bit lanes:
//   L::Vec, L::kLanes           the register and its number of 16-bit lanes;
//   Set1, Zero, Add, Sub, Max, Min (signed), CmpEq, CmpGt (signed), And,
//   AndNot (~a & b), Or, Srli, Slli, MulLo, MulHiU (unsigned high half), Abs,
//   Sign (v negated where ref < 0; the callers' v is 0 wherever ref is),
//   MinU (unsigned minimum);
//   L::Mask                     what the comparisons give: a register of
//                               all-ones lanes, or a mask register;
//   CmpEq, CmpGt (signed) -> Mask, MaskAnd, MaskAndNot (~a & b),
//   Blend (mask ? a : b), Drop (mask ? 0 : v), AddWhere / SubWhere
//   (mask ? v + a : v, v - a);
//   L::Quotients(dPos, den, absNum, s, q)
//                               s = floor(255 dPos / den) and
//                               q = floor(64 absNum / dPos) for 1 <= den,
//                               dPos <= 255 and absNum <= dPos, exactly.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "imaging/region_params.h"
#include "imaging/tone_kernels.h"

namespace varnel {

// The mask operations for register widths without mask registers, where a
// comparison gives a register of all-ones lanes: a lanes struct derives from
// RegisterMasks<itself> and provides And, AndNot, Add, Sub and Blend.
template <class L>
struct RegisterMasks {
  template <class V>
  static V MaskAnd(V a, V b) {
    return L::And(a, b);
  }
  template <class V>
  static V MaskAndNot(V a, V b) {
    return L::AndNot(a, b);
  }
  template <class V>
  static V Drop(V mask, V v) {
    return L::AndNot(mask, v);
  }
  template <class V>
  static V AddWhere(V mask, V v, V a) {
    return L::Add(v, L::And(mask, a));
  }
  template <class V>
  static V SubWhere(V mask, V v, V a) {
    return L::Sub(v, L::And(mask, a));
  }
};

// One register of pixels through the hue and saturation filter: b, g, r hold
// 8-bit values (0..255) in 16-bit lanes and receive the results. Follows
// AdjustHsl of tone_filters.cpp step by step for a lightness offset of 0, a
// hue shift within -360..360 and a saturation offset within -1024..1024 (the
// kernels' callers check HslVectorAllowed).
template <class L>
[[gnu::always_inline]] inline void HueSaturationLanes(typename L::Vec& b, typename L::Vec& g,
                                                      typename L::Vec& r, typename L::Vec hueShift,
                                                      typename L::Vec saturationShift) {
  using Vec = typename L::Vec;
  const Vec zero = L::Zero();
  const Vec mx = L::Max(L::Max(b, g), r), mn = L::Min(L::Min(b, g), r);
  const Vec sum = L::Add(mx, mn);
  const Vec l = L::Srli(sum, 1);
  const Vec d = L::Sub(mx, mn);
  const auto grayIn = L::CmpEq(d, zero);
  // Saturation d * 255 / (max + min) below 256, else / (510 - max - min);
  // both divisors are at least d, so at least 1 where d is.
  const Vec den = L::Max(L::Min(sum, L::Sub(L::Set1(510), sum)), L::Set1(1));
  const Vec dPos = L::Max(d, L::Set1(1));
  // Hue: the sector of the largest channel (red first, then green) and the
  // difference of the other two, in [-d, d].
  const auto isR = L::CmpEq(mx, r);
  const auto isG = L::MaskAndNot(isR, L::CmpEq(mx, g));
  const Vec num = L::Blend(isR, L::Sub(g, b), L::Blend(isG, L::Sub(b, r), L::Sub(r, g)));
  const Vec base = L::Drop(isR, L::Blend(isG, L::Set1(120), L::Set1(240)));
  Vec s, q;
  L::Quotients(dPos, den, L::Abs(num), s, q);
  // Division truncates toward zero: the quotient of |num| takes num's sign.
  Vec h = L::Drop(grayIn, L::Add(base, L::Sign(q, num)));
  s = L::Drop(grayIn, s);
  // Shift the hue, once back into 0..359 from either side.
  h = L::Add(h, hueShift);
  h = L::AddWhere(L::CmpGt(zero, h), h, L::Set1(360));
  h = L::SubWhere(L::CmpGt(h, L::Set1(359)), h, L::Set1(360));
  Vec sat = L::Add(s, saturationShift);
  const auto grayOut = L::CmpGt(L::Set1(1), sat);
  sat = L::Min(sat, L::Set1(255));
  // q = l + s - (l s >> 8) from lightness 128 up, else l (s + 255) >> 8; the
  // latter is the high half of (l << 8) (s + 255), which stays in 16 bits.
  const Vec qUpper = L::Sub(L::Add(l, sat), L::Srli(L::MulLo(l, sat), 8));
  const Vec qLower = L::MulHiU(L::Slli(l, 8), L::Add(sat, L::Set1(255)));
  const Vec qq = L::Blend(L::CmpGt(l, L::Set1(127)), qUpper, qLower);
  const Vec p = L::Sub(L::Add(l, l), qq);
  const Vec spread = L::Sub(qq, p);
  // A channel at hue t: p + spread * w >> 6 with w = t below 60, 64 (that is
  // q) below 180, 240 - t below 240, and 0 (p) from 240 on or below 0.
  auto channel = [&](Vec t) {
    const Vec ramp = L::Max(L::Min(t, L::Sub(L::Set1(240), t)), zero);
    const auto top = L::MaskAnd(L::CmpGt(t, L::Set1(59)), L::CmpGt(L::Set1(180), t));
    const Vec w = L::Blend(top, L::Set1(64), ramp);
    // At most 256 (lightness 128 at full saturation gives q = 256): limited
    // to 255 as the scalar filter clamps.
    const Vec v = L::Min(L::Add(p, L::Srli(L::MulLo(spread, w), 6)), L::Set1(255));
    return L::Blend(grayOut, l, v);
  };
  Vec tRed = L::Add(h, L::Set1(120));
  tRed = L::SubWhere(L::CmpGt(tRed, L::Set1(359)), tRed, L::Set1(360));
  r = channel(tRed);
  g = channel(h);
  b = channel(L::Sub(h, L::Set1(120)));
}

// A row of n pixels in the format of Px, which provides
//   Px::kBytes                  bytes per pixel;
//   Px::kOverread               pixels after a step that its loads may touch;
//   Px::Extra                   what a step keeps from its load for its store;
//   Px::Load(src, b, g, r, extra), Px::Store(dst, b, g, r, extra)
//                               L::kLanes pixels as 8-bit values in 16-bit
//                               lanes (16-bit samples: the top 8 of their 10
//                               bits), and back; the store writes exactly
//                               the step's pixels.
// The pixels after the last whole step go through a buffer on the stack.
template <class L, class Px>
void HueSaturationRowLanes(uint8_t* dst, const uint8_t* src, int n, const HslAdjust& a) {
  using Vec = typename L::Vec;
  constexpr int kLanes = L::kLanes;
  const Vec hueShift = L::Set1(a.hue), saturationShift = L::Set1(a.saturation);
  auto step = [&](uint8_t * d, const uint8_t* s) __attribute__((always_inline)) {
    Vec b, g, r;
    typename Px::Extra extra;
    Px::Load(s, b, g, r, extra);
    HueSaturationLanes<L>(b, g, r, hueShift, saturationShift);
    Px::Store(d, b, g, r, extra);
  };
  int x = 0;
  for (; x + kLanes + Px::kOverread <= n; x += kLanes) {
    step(dst + static_cast<ptrdiff_t>(x) * Px::kBytes,
         src + static_cast<ptrdiff_t>(x) * Px::kBytes);
  }
  while (x < n) {
    const int m = std::min(kLanes, n - x);
    alignas(32) uint8_t buffer[kLanes * Px::kBytes + 32] = {};
    std::memcpy(buffer, src + static_cast<ptrdiff_t>(x) * Px::kBytes,
                static_cast<size_t>(m) * Px::kBytes);
    step(buffer, buffer);
    std::memcpy(dst + static_cast<ptrdiff_t>(x) * Px::kBytes, buffer,
                static_cast<size_t>(m) * Px::kBytes);
    x += m;
  }
}

// The hue and saturation row for every pixel format a kernel file provides:
// the scalar kernel outside the range the vector arithmetic is exact for.
template <class L, class P24, class P32, class P48, class P64>
void HueSaturationRowByFormat(uint8_t* dst, const uint8_t* src, int n, int bytesPerPixel,
                              const HslAdjust& adjust) {
  if (!HslVectorAllowed(adjust)) {
    HueSaturationRowScalar(dst, bytesPerPixel, src, bytesPerPixel, n, bytesPerPixel >= 6, adjust);
    return;
  }
  switch (bytesPerPixel) {
    case 3:
      return HueSaturationRowLanes<L, P24>(dst, src, n, adjust);
    case 4:
      return HueSaturationRowLanes<L, P32>(dst, src, n, adjust);
    case 6:
      return HueSaturationRowLanes<L, P48>(dst, src, n, adjust);
    case 8:
      return HueSaturationRowLanes<L, P64>(dst, src, n, adjust);
  }
}

// Scalar access to one sample of a row for the sharpen kernel's outer columns
// and short rows (a template on the kernel's own sample struct, so that every
// object keeps its own copy).
template <class Sm>
struct SampleAccess {
  static constexpr int kSampleBytes = Sm::kWide ? 2 : 1;
  static int Raw(const uint8_t* row, int i) {
    return kSampleBytes == 2 ? row[2 * i] | row[2 * i + 1] << 8 : row[i];
  }
  static int Clamped(const uint8_t* row, int i) { return std::min(Raw(row, i), Sm::kMax); }
  static void Put(uint8_t* row, int i, int v) {
    row[kSampleBytes * i] = static_cast<uint8_t>(v);
    if (kSampleBytes == 2) row[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  static void Copy(uint8_t* dst, const uint8_t* src, int i) {
    for (int b = 0; b < kSampleBytes; ++b) dst[kSampleBytes * i + b] = src[kSampleBytes * i + b];
  }
  // The kernels' brightness, lane arithmetic included.
  static int Brighten(int v, const BrightnessVector& post) {
    const uint32_t sum = ((static_cast<uint32_t>(v) * post.kHi) & 0xFFFF) +
                         ((static_cast<uint32_t>(v) * post.kLo) >> 16);
    return std::min<int>(static_cast<int>((sum & 0xFFFF) >> post.extraShift), Sm::kMax);
  }
};

// The sharpen kernel over the samples of a row. Sm provides, for 8- or 16-bit
// samples:
//   Sm::kWide, Sm::kMax         16-bit samples, and the largest filtered value;
//   Sm::LoadClamped(p)          L::kLanes samples from p, limited to kMax;
//   Sm::LoadRaw(p)              the same samples as they are (16-bit: raw);
//   Sm::Store(p, v)             L::kLanes samples (8-bit: saturated).
// `kSamples` samples per pixel (1, 3 or 4; with 4 the fourth is copied).
// Besides the 16-bit operations listed at the top, L provides LoadU16,
// StoreU16, Srl (shift by a run-time count) and FourthOfFour (the lanes of a
// fourth sample).
template <class L, class Sm, int kSamples>
void SharpenRowLanes(uint8_t* dst, const uint8_t* const rows[4], int n,
                     const SharpenVector& sharpen, const BrightnessVector* post,
                     uint16_t* columnSum) {
  using Vec = typename L::Vec;
  using A = SampleAccess<Sm>;
  constexpr int kLanes = L::kLanes;
  constexpr int kSampleBytes = A::kSampleBytes;
  const int count = n * kSamples;
  // Sums of the four rows per sample (at most 4 x 1023).
  {
    const uint8_t *r0 = rows[0], *r1 = rows[1], *r2 = rows[2], *r3 = rows[3];
    int i = 0;
    for (; i + kLanes <= count; i += kLanes) {
      const int at = i * kSampleBytes;
      const Vec sum = L::Add(L::Add(Sm::LoadClamped(r0 + at), Sm::LoadClamped(r1 + at)),
                             L::Add(Sm::LoadClamped(r2 + at), Sm::LoadClamped(r3 + at)));
      L::StoreU16(columnSum + i, sum);
    }
    for (; i < count; ++i) {
      int sum = 0;
      for (int r = 0; r < 4; ++r) sum += A::Clamped(rows[r], i);
      columnSum[i] = static_cast<uint16_t>(sum);
    }
  }
  const uint8_t* center = rows[2];
  const Vec k = L::Set1(static_cast<int16_t>(sharpen.k));
  const Vec kHi = L::Set1(post != nullptr ? static_cast<int16_t>(post->kHi) : 0);
  const Vec kLo = L::Set1(post != nullptr ? static_cast<int16_t>(post->kLo) : 0);
  const int postShift = post != nullptr ? post->extraShift : 0;
  const Vec top = L::Set1(Sm::kMax);
  // Samples i .. i + kLanes - 1, all of interior pixels: the 4x4 box of the
  // sample's channel is the column sums 2, 1 and 0 pixels before and 1 after.
  // With kPost the brightness follows.
  auto interior = [&](int i, auto withPost) __attribute__((always_inline)) {
    auto brighten = [&](Vec v) {
      if constexpr (!decltype(withPost)::value) return v;
      const Vec sum = L::Add(L::MulLo(v, kHi), L::MulHiU(v, kLo));
      return L::Min(L::Srl(sum, postShift), top);
    };
    const Vec near = L::Add(L::LoadU16(columnSum + i - kSamples), L::LoadU16(columnSum + i));
    const Vec far =
        L::Add(L::LoadU16(columnSum + i - 2 * kSamples), L::LoadU16(columnSum + i + kSamples));
    const Vec blur = L::Srli(L::Add(near, far), 4);
    const Vec s = Sm::LoadClamped(center + i * kSampleBytes);
    const Vec e = L::Sub(s, blur);
    const Vec t = L::Sign(L::MulHiU(L::Slli(L::Abs(e), 2), k), e);
    Vec v = brighten(L::Max(L::Min(L::Add(s, t), top), L::Zero()));
    if constexpr (kSamples == 4) {
      v = L::Blend(L::FourthOfFour(), Sm::LoadRaw(center + i * kSampleBytes), v);
    }
    Sm::Store(dst + i * kSampleBytes, v);
  };
  auto scalarSample = [&](int i) {
    const int blur = (columnSum[i - 2 * kSamples] + columnSum[i - kSamples] + columnSum[i] +
                      columnSum[i + kSamples]) >>
                     4;
    const int s = A::Clamped(center, i);
    const int e = s - blur;
    const int magnitude =
        static_cast<int>(((static_cast<uint32_t>(e < 0 ? -e : e) << 2) * sharpen.k) >> 16);
    const int v = std::clamp(s + (e < 0 ? -magnitude : magnitude), 0, Sm::kMax);
    A::Put(dst, i, post != nullptr ? A::Brighten(v, *post) : v);
  };
  const int first = 2 * kSamples, end = (n - 2) * kSamples;
  auto interiorRun = [&](auto withPost) {
    int i = first;
    for (; i + kLanes <= end; i += kLanes) interior(i, withPost);
    // The last step ends at the last interior sample; it overlaps the one
    // before, which computed the same values from the same source.
    if (i < end) interior(end - kLanes, withPost);
  };
  if (end - first >= kLanes) {
    if (post != nullptr) {
      interiorRun(std::true_type{});
    } else {
      interiorRun(std::false_type{});
    }
  } else {
    for (int i = first; i < end; ++i) {
      if (kSamples == 4 && i % 4 == 3) {
        A::Copy(dst, center, i);
      } else {
        scalarSample(i);
      }
    }
  }
  // The two outer columns on each side keep the source's samples, brightened
  // like every other sample when brightness follows.
  for (int from : {0, end}) {
    for (int i = from; i < from + first; ++i) {
      if (post == nullptr || (kSamples == 4 && i % 4 == 3)) {
        A::Copy(dst, center, i);
      } else {
        A::Put(dst, i, A::Brighten(A::Clamped(center, i), *post));
      }
    }
  }
}

// The sharpen row for every sample layout: 8-bit samples through Sm8, 16-bit
// through Sm16, one, three or four a pixel.
template <class L, class Sm8, class Sm16>
void SharpenRowByFormat(uint8_t* dst, const uint8_t* const rows[4], int n, int bytesPerPixel,
                        const SharpenVector& sharpen, const BrightnessVector* post,
                        uint16_t* scratch) {
  switch (bytesPerPixel) {
    case 1:
      return SharpenRowLanes<L, Sm8, 1>(dst, rows, n, sharpen, post, scratch);
    case 3:
      return SharpenRowLanes<L, Sm8, 3>(dst, rows, n, sharpen, post, scratch);
    case 4:
      return SharpenRowLanes<L, Sm8, 4>(dst, rows, n, sharpen, post, scratch);
    case 2:
      return SharpenRowLanes<L, Sm16, 1>(dst, rows, n, sharpen, post, scratch);
    case 6:
      return SharpenRowLanes<L, Sm16, 3>(dst, rows, n, sharpen, post, scratch);
    case 8:
      return SharpenRowLanes<L, Sm16, 4>(dst, rows, n, sharpen, post, scratch);
  }
}

}  // namespace varnel
