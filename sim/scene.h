// The rendered picture of one set of settings and the frames made from it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace varnel::sim {

// Full scale of the overlays (frame stamp, moving mark): independent of gain.
constexpr uint16_t kOverlayOn = 0xFFFF;
// Amplitude of the scene at reference gain and exposure (75 % of full scale),
// leaving head-room for brighter settings.
constexpr uint32_t kSceneOn = 0xC000;

struct Patch {
  uint32_t offset;
  uint8_t value;
  bool operator<(const Patch& other) const { return offset < other.offset; }
};

// The picture for one set of settings, as the frame carries it. Every scene
// depends on the sensor row only through its half and its filter row, so a
// frame holds at most four distinct rows besides black ones: each is rendered
// once and a frame row names the one it shows. Nothing of a frame's size is
// ever allocated or filled, which keeps continuous setting changes (each a new
// rendering) cheap even on a slow host.
struct Rendering {
  uint32_t rowBytes = 0;
  uint64_t frameBytes = 0;
  std::vector<uint8_t> rows;  // the distinct rows, rowBytes each
  std::vector<int8_t> rowOf;  // per frame row: index into rows, -1 = black

  // Copies frame bytes [from, from + count) of the picture; from + count must
  // not pass frameBytes.
  void CopyRange(uint64_t from, uint8_t* out, uint32_t count) const {
    const uint64_t end = from + count;
    for (uint64_t at = from; at < end;) {
      const uint64_t row = at / rowBytes;
      const uint32_t within = static_cast<uint32_t>(at % rowBytes);
      const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(rowBytes - within, end - at));
      const int index = rowOf[row];
      if (index < 0) {
        std::memset(out + (at - from), 0, piece);
      } else {
        std::memcpy(out + (at - from), rows.data() + size_t{uint32_t(index)} * rowBytes + within,
                    piece);
      }
      at += piece;
    }
  }
};

// One delivered frame: the shared rendering of the current settings plus the
// few bytes that differ per frame (stamp and mark). Immutable once made, so
// reads copy from it without the head's lock.
struct Frame {
  std::shared_ptr<const Rendering> base;
  std::vector<Patch> patches;
  uint32_t number = 0;

  void CopyOut(uint64_t from, uint8_t* out, uint32_t count) const {
    const uint64_t size = base ? base->frameBytes : 0;
    uint32_t copied = 0;
    if (from < size) {
      copied = static_cast<uint32_t>(std::min<uint64_t>(count, size - from));
      base->CopyRange(from, out, copied);
    }
    if (copied < count) std::memset(out + copied, 0, count - copied);
    auto it =
        std::lower_bound(patches.begin(), patches.end(),
                         Patch{static_cast<uint32_t>(std::min<uint64_t>(from, UINT32_MAX)), 0});
    for (; it != patches.end() && it->offset < from + count; ++it)
      out[it->offset - from] = it->value;
  }
};

}  // namespace varnel::sim
