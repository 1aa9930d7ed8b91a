#include "instance/two_ended_intake.h"

#include "imaging/cpu_features.h"

namespace varnel {

bool ChooseUnfoldTwoEndedSse2(const CpuFeatures& features) {
  return HaveUnfoldTwoEndedSse2() && UseSse2(features);
}

void UnfoldTwoEndedRow(const uint8_t* units, int count, uint8_t* row, bool mirrored) {
  if (count <= 0) return;
  static const bool vector = ChooseUnfoldTwoEndedSse2(ProcessCpuFeatures());
  int k = vector ? UnfoldTwoEndedRowSse2(units, count, row, mirrored) : 0;
  const int nearByte = mirrored ? 0 : 1;
  uint8_t* right = row + 2 * count - 1;
  for (; k < count; ++k) {
    row[k] = units[2 * k + nearByte];
    right[-k] = units[2 * k + 1 - nearByte];
  }
}

}  // namespace varnel
