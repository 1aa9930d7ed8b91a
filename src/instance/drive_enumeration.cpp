#include "instance/drive_enumeration.h"

#include <cstdint>

#include "platform/drive_table.h"

namespace varnel {

int EnumerateCameraDrives(int (&letters)[kMaxDriveSlots]) {
  for (int& slot : letters) slot = 0;
  int count = 0;
  char letter = 'A';
  // Walk the mask from bit 0 upwards and stop once no higher drive remains.
  for (uint32_t mask = LogicalDrives(); mask != 0; mask >>= 1, ++letter) {
    if ((mask & 1u) == 0) continue;
    uint64_t freeBytes = 0;
    if (DriveTypeOf(letter) == DriveType::kFixed && !QueryFreeSpace(letter, &freeBytes)) {
      // At most 32 bits are walked, so the 32 slots always suffice.
      letters[count++] = letter;
    }
  }
  return count;
}

}  // namespace varnel
