// The row unfolding of the two-ended read-out, with a vector form.
#pragma once

#include <cstdint>

#include "imaging/cpu_features.h"

namespace varnel {

// Unfolds `units` two-byte units of one row into 2 x `units` pixels: the
// second byte of unit k goes to column k, the first to column 2 x units - 1 - k
// (with `mirrored` the other way round).
void UnfoldTwoEndedRow(const uint8_t* units, int count, uint8_t* row, bool mirrored);

// Whether the unfolding runs its SSE2 form on a processor with `features`:
// only where the form is built and SSE2 is both reported and usable.
bool ChooseUnfoldTwoEndedSse2(const CpuFeatures& features);

// The SSE2 form (32 units per step); false when it is not built.
bool HaveUnfoldTwoEndedSse2();
// Unfolds the first count - count % 16 units; returns how many it did.
int UnfoldTwoEndedRowSse2(const uint8_t* units, int count, uint8_t* row, bool mirrored);

}  // namespace varnel
