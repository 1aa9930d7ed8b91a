// Colour to gray, and the reductions and copies that prepare frames for the
// display and the file writers.
#include <algorithm>
#include <cstring>

#include "imaging/cpu_features.h"
#include "imaging/demosaic_kernel.h"
#include "imaging/pixel_routines.h"
#include "imaging/reduction_kernels.h"

namespace varnel {
namespace {

// The vector kernels this processor runs, found once per process.
SimdLevel ReductionLevel() {
  static const SimdLevel level = [] {
    CpuFeatures cpu{};
    DetectCpuFeatures(&cpu);
    return ChooseSimdLevel(cpu);
  }();
  return level;
}

// Visits the rectangle row by row and calls op(source row, destination row,
// pixels). With `reversed`, destination row i takes source row bottom - 1 - i.
template <typename Op>
int ForEachRow(const RegionView& v, bool reversed, Op&& op) {
  if (v.Empty()) return 1;
  for (int i = 0; i < v.Height(); ++i) {
    const int srcRow = reversed ? v.bottom - 1 - i : v.top + i;
    op(v.SrcPixel(v.left, srcRow), v.DstPixel(v.left, v.top + i), v.Width());
  }
  return 1;
}

// Visits the rectangle and calls op(source pixel, destination pixel). With
// `reversed`, destination row i takes source row bottom - 1 - i.
template <typename Op>
int ForEachPixel(const RegionView& v, bool reversed, Op&& op) {
  if (v.Empty()) return 1;
  const int w = v.Width(), h = v.Height();
  for (int i = 0; i < h; ++i) {
    const int srcRow = reversed ? v.bottom - 1 - i : v.top + i;
    const uint8_t* s = v.SrcPixel(v.left, srcRow);
    uint8_t* d = v.DstPixel(v.left, v.top + i);
    for (int x = 0; x < w; ++x) {
      op(s + static_cast<ptrdiff_t>(x) * v.srcBpp, d + static_cast<ptrdiff_t>(x) * v.dstBpp);
    }
  }
  return 1;
}

// The rows of 16-bit samples whose samples all go to 8-bit samples in a
// row of their own: the vector kernel over the run of samples.
void NarrowRun(uint8_t* d, const uint8_t* s, int count, int shift) {
  if (ReductionLevel() == SimdLevel::kAvx2) {
    NarrowSamplesAvx2(d, s, count, shift);
  } else {
    NarrowSamplesSse2(d, s, count, shift);
  }
}

template <int kShift>
int ReduceMono(const RegionView& v, bool reversed) {
  if (ReductionLevel() != SimdLevel::kScalar && v.srcBpp == 2 && v.dstBpp == 1) {
    return ForEachRow(v, reversed,
                      [](const uint8_t* s, uint8_t* d, int n) { NarrowRun(d, s, n, kShift); });
  }
  return ForEachPixel(v, reversed, [](const uint8_t* s, uint8_t* d) {
    *d = static_cast<uint8_t>(LoadSample16(s) >> kShift);
  });
}

template <int kShift>
int ReduceWide(const RegionView& v, bool reversed) {
  if (ReductionLevel() != SimdLevel::kScalar && v.dstBpp == 3) {
    if (v.srcBpp == 6) {
      return ForEachRow(
          v, reversed, [](const uint8_t* s, uint8_t* d, int n) { NarrowRun(d, s, 3 * n, kShift); });
    }
    if (v.srcBpp == 8 && ReductionLevel() == SimdLevel::kAvx2) {
      return ForEachRow(v, reversed, [](const uint8_t* s, uint8_t* d, int n) {
        NarrowPixels64To24Avx2(d, s, n, kShift);
      });
    }
  }
  return ForEachPixel(v, reversed, [](const uint8_t* s, uint8_t* d) {
    for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(LoadSample16(s + 2 * c) >> kShift);
  });
}

// Widens three 16-bit samples by 6 bits, optionally exchanging blue and red
// and setting an opaque fourth sample.
template <bool kSwap, bool kOpaque>
int WidenWide(const RegionView& v) {
  return ForEachPixel(v, false, [](const uint8_t* s, uint8_t* d) {
    uint16_t in[3];
    for (int c = 0; c < 3; ++c) in[c] = LoadSample16(s + 2 * c);
    for (int c = 0; c < 3; ++c) StoreSample16(d + 2 * c, (kSwap ? in[2 - c] : in[c]) << 6);
    if (kOpaque) StoreSample16(d + 6, 0xFFFF);
  });
}

}  // namespace

int ColorToGrayRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ForEachPixel(VARNEL_REGION_VIEW, false, [](const uint8_t* s, uint8_t* d) {
    *d = static_cast<uint8_t>((s[1] * 59 + s[2] * 30 + s[0] * 11) / 100);
  });
}

int ReduceMono10To8Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceMono<2>(VARNEL_REGION_VIEW, false);
}
int ReduceMono12To8Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceMono<4>(VARNEL_REGION_VIEW, false);
}
int ReduceMono14To8Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceMono<6>(VARNEL_REGION_VIEW, false);
}
int ReduceMono16To8Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceMono<8>(VARNEL_REGION_VIEW, false);
}
int ReduceMono10To8ReversedRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceMono<2>(VARNEL_REGION_VIEW, true);
}

int Copy32To24Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.dstBpp == 3 && v.srcBpp == 3 && v.src != v.dst) {
    return ForEachRow(v, false, [](const uint8_t* s, uint8_t* d, int n) {
      std::memcpy(d, s, static_cast<size_t>(n) * 3);
    });
  }
  if (v.dstBpp == 3 && v.srcBpp == 4 && v.src != v.dst && ReductionLevel() == SimdLevel::kAvx2) {
    return ForEachRow(v, false,
                      [](const uint8_t* s, uint8_t* d, int n) { DropFourthByteAvx2(d, s, n); });
  }
  return ForEachPixel(v, false, [](const uint8_t* s, uint8_t* d) { std::memcpy(d, s, 3); });
}

int ReduceWideTo24Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceWide<2>(VARNEL_REGION_VIEW, false);
}
int ReduceWide12To24Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceWide<4>(VARNEL_REGION_VIEW, false);
}
int ReduceWide14To24Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceWide<6>(VARNEL_REGION_VIEW, false);
}
int ReduceWide16To24Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceWide<8>(VARNEL_REGION_VIEW, false);
}
int ReduceWideTo24ReversedRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ReduceWide<2>(VARNEL_REGION_VIEW, true);
}

// Copies the rectangle's own bytes of each row (not the whole stride from the
// left column, which would run past the row, and past the buffer on the last
// row, for a rectangle that does not start at column 0).
int CopyRowsReversedRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  const RegionView v = VARNEL_REGION_VIEW;
  if (v.Empty()) return 1;
  const size_t bytes = static_cast<size_t>(v.Width()) * std::min(v.srcBpp, v.dstBpp);
  for (int i = 0; i < v.Height(); ++i) {
    std::memmove(v.DstPixel(v.left, v.top + i), v.SrcPixel(v.left, v.bottom - 1 - i), bytes);
  }
  return 1;
}

int SwapRedBlue24Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ForEachPixel(VARNEL_REGION_VIEW, false, [](const uint8_t* s, uint8_t* d) {
    const uint8_t b = s[0], g = s[1], r = s[2];
    d[0] = r, d[1] = g, d[2] = b;
  });
}

int Copy32OpaqueRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ForEachPixel(VARNEL_REGION_VIEW, false, [](const uint8_t* s, uint8_t* d) {
    const uint8_t a = s[3];
    std::memmove(d, s, 3);
    d[3] = static_cast<uint8_t>(255 - a);
  });
}

int WidenMono16Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return ForEachPixel(VARNEL_REGION_VIEW, false, [](const uint8_t* s, uint8_t* d) {
    StoreSample16(d, static_cast<uint32_t>(LoadSample16(s)) << 4);
  });
}
int WidenWide48Routine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return WidenWide<false, false>(VARNEL_REGION_VIEW);
}
int WidenWide64OpaqueRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return WidenWide<false, true>(VARNEL_REGION_VIEW);
}
int WidenWide48SwapRedBlueRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return WidenWide<true, false>(VARNEL_REGION_VIEW);
}
int WidenWide64SwapRedBlueOpaqueRoutine(VARNEL_REGION_ROUTINE_PARAMS) {
  (void)user, (void)extra;
  return WidenWide<true, true>(VARNEL_REGION_VIEW);
}

RegionRoutine MonoTo8For(int bitDepthCode) {
  switch (bitDepthCode) {
    case 2:
      return ReduceMono12To8Routine;
    case 3:
      return ReduceMono14To8Routine;
    case 4:
      return ReduceMono16To8Routine;
    default:
      return ReduceMono10To8Routine;
  }
}

RegionRoutine WideTo24For(int bitDepthCode) {
  switch (bitDepthCode) {
    case 2:
      return ReduceWide12To24Routine;
    case 3:
      return ReduceWide14To24Routine;
    case 4:
      return ReduceWide16To24Routine;
    default:
      return ReduceWideTo24Routine;
  }
}

}  // namespace varnel
