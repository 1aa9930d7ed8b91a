// Where the three places of a camera volume lie, in bytes.
#pragma once

#include <cstdint>

#include "device/sector_protocol.h"

namespace varnel::sim {

constexpr uint64_t kControlOffset = uint64_t{5216} * kSectorSize;
constexpr uint64_t kAreaAOffset = uint64_t{5280} * kSectorSize;
constexpr uint64_t kAreaBOffset = uint64_t{38048} * kSectorSize;
constexpr uint64_t kAreaSpan = kAreaBOffset - kAreaAOffset;  // 16 MiB

}  // namespace varnel::sim
