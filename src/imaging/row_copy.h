// Copying rows of pixels between images and buffers of frame size.
#pragma once

#include <cstddef>
#include <cstdint>

#include "imaging/cpu_features.h"

namespace varnel {

// Copies `rows` rows of `rowBytes` bytes, row r of the source to row r of
// the destination, or to row rows - 1 - r with `reverse`. A copy of a frame's
// size (1 MiB or more) writes with non-temporal stores where the processor has
// SSE2: the destination is then written straight to memory, instead of every
// line of it being read into the cache first and pushing out the frame the
// next step reads. Smaller copies use memcpy.
void CopyRows(uint8_t* destination, ptrdiff_t destinationStride, const uint8_t* source,
              ptrdiff_t sourceStride, size_t rowBytes, int rows, bool reverse = false);

// Whether CopyRows writes a large copy with the non-temporal SSE2 stores on a
// processor with `features`: only where the form is built and SSE2 is both
// reported and usable.
bool ChooseStreamingCopy(const CpuFeatures& features);

// The non-temporal form of one row (SSE2 file); false when it is not built.
bool HaveStreamingCopySse2();
void CopyRowStreamingSse2(uint8_t* destination, const uint8_t* source, size_t bytes);
// Orders the non-temporal stores before anything that follows.
void StreamingCopyFenceSse2();

}  // namespace varnel
