#include "sim/readout.h"

#include <algorithm>

#include "device/sector_protocol.h"
#include "sim/head_impl.h"
#include "sim/volume_map.h"

namespace varnel {

using namespace sim;

namespace sim {

uint32_t DepthFromSelect(uint8_t select, uint32_t nativeBits) {
  uint32_t bits;
  switch (select) {
    case 1:
      bits = 8;
      break;
    case 2:
      bits = 10;
      break;
    case 4:
      bits = 12;
      break;
    case 8:
      bits = 14;
      break;
    case 0:
      bits = 16;
      break;
    default:
      bits = nativeBits;
      break;
  }
  return std::min(bits, std::max<uint32_t>(nativeBits, 8));
}

int FilterColor(uint32_t x, uint32_t y, int phase) {
  static constexpr int kPhase0[2][2] = {{1, 2}, {0, 1}};
  return kPhase0[(y & 1) ^ (phase & 1)][(x & 1) ^ ((phase >> 1) & 1)];
}

namespace {

// The frame indices whose map entry is a sensor index, ordered by what
// `key` makes of that index.
template <typename Key>
std::vector<uint32_t> OrderedBy(const std::vector<int32_t>& map, Key key) {
  std::vector<uint32_t> shown;
  for (uint32_t p = 0; p < map.size(); ++p) {
    if (map[p] >= 0) shown.push_back(p);
  }
  std::stable_sort(shown.begin(), shown.end(), [&](uint32_t a, uint32_t b) {
    return key(static_cast<uint32_t>(map[a])) < key(static_cast<uint32_t>(map[b]));
  });
  return shown;
}

}  // namespace

std::vector<uint32_t> Layout::UprightColumns() const {
  // The lens keeps left and right: scene columns are sensor columns.
  return OrderedBy(columnMap, [](uint32_t column) { return column; });
}

std::vector<uint32_t> Layout::UprightRows() const {
  return OrderedBy(rowMap, [this](uint32_t row) { return SceneRow(row); });
}

}  // namespace sim

Layout VirtualHead::Impl::ComputeLayout(bool otherMirrorH) const {
  Layout layout;
  const uint8_t* rs = runSector.data();
  layout.fieldWidth = rs[control::kWidthLow] | rs[control::kWidthHigh] << 8;
  layout.fieldHeight = rs[control::kHeightLow] | rs[control::kHeightHigh] << 8;
  layout.transport = traits.transport;
  const bool twoEnded = traits.transport == Transport::kTwoEnded;
  layout.bytesPerSample = (traits.alwaysEightBit || rs[control::kEightBit] != 0) ? 1 : 2;
  layout.bits =
      layout.bytesPerSample == 1 ? 8 : DepthFromSelect(rs[control::kBitDepth], traits.nativeBits);
  layout.pictureWidth = twoEnded ? 2 * layout.fieldWidth : layout.fieldWidth;
  layout.rowBytes = layout.pictureWidth * layout.bytesPerSample;
  // A frame that does not fit the volume's frame space is cut at the last
  // whole row that fits.
  const uint64_t maxFrame = volumeSize - kAreaBOffset;
  uint32_t height = layout.fieldHeight;
  if (layout.rowBytes > 0 && uint64_t{layout.rowBytes} * height > maxFrame) {
    height = static_cast<uint32_t>(maxFrame / layout.rowBytes);
  }
  layout.pictureHeight = height;
  layout.frameBytes = layout.rowBytes * height;
  layout.monochrome = options.monochrome;
  layout.phase =
      options.bayerPhase >= 0 && options.bayerPhase <= 3 ? options.bayerPhase : traits.bayerPhase;
  layout.permille = Permille();

  int64_t x0 = 0, y0 = 0;
  uint32_t ww = layout.pictureWidth, wh = layout.pictureHeight;
  switch (traits.window) {
    case WindowSource::kStream:
      if (traits.originFromSector) {
        x0 = rs[control::kOriginXLow] | rs[control::kOriginXHigh] << 8;
        y0 = rs[control::kOriginYLow] | rs[control::kOriginYHigh] << 8;
      }
      break;
    case WindowSource::kR2T:
      x0 = Reg(1) & 0xFFFF, y0 = Reg(2) & 0xFFFF;
      ww = (Reg(4) & 0xFFFF) + 1, wh = (Reg(3) & 0xFFFF) + 1;
      break;
    case WindowSource::kHXA1:
      x0 = int64_t{Reg(2) & 0xFFFF} - 32, y0 = int64_t{Reg(1) & 0xFFFF} - 20;
      ww = (Reg(4) & 0xFFFF) + 1, wh = (Reg(3) & 0xFFFF) + 1;
      break;
    case WindowSource::kHXB2:
      x0 = int64_t{Reg(2) & 0xFFFF} - 16, y0 = int64_t{Reg(1) & 0xFFFF} - 54;
      ww = (Reg(4) & 0xFFFF) + 1, wh = (Reg(3) & 0xFFFF) + 1;
      break;
  }
  x0 = std::max<int64_t>(x0, 0), y0 = std::max<int64_t>(y0, 0);

  uint32_t stepX = 1, stepY = 1;
  switch (traits.subsample) {
    case SubsampleRegs::kR2T: {
      auto factor = [](uint32_t value) { return value == 1 ? 2u : value == 2 ? 4u : 1u; };
      stepY = factor(Reg(13) & 0x03);
      stepX = factor((Reg(13) >> 2) & 0x03);
      break;
    }
    case SubsampleRegs::kHX:
      stepY = std::min<uint32_t>((Reg(34) & 0x3F) + 1, 8);
      stepX = std::min<uint32_t>((Reg(35) & 0x3F) + 1, 8);
      break;
    case SubsampleRegs::kNone:
      break;
  }
  switch (traits.mirror) {
    case MirrorRegs::kR2T:
      layout.mirrorH = (Reg(13) & 0x20) != 0;
      layout.mirrorV = (Reg(13) & 0x10) != 0;
      break;
    case MirrorRegs::kHX:
      layout.mirrorH = (Reg(32) & 0x4000) != 0;
      layout.mirrorV = (Reg(32) & 0x8000) != 0;
      break;
    case MirrorRegs::kNone:
      break;
  }
  if (otherMirrorH) layout.mirrorH = !layout.mirrorH;
  layout.windowX = static_cast<uint32_t>(x0), layout.windowY = static_cast<uint32_t>(y0);
  layout.windowWidth = ww, layout.windowHeight = wh;
  layout.stepX = stepX, layout.stepY = stepY;

  // Sub-sampling keeps the colour filter pattern: samples are taken in
  // pairs, skipping whole pairs.
  const bool pairs = !options.monochrome;
  auto windowIndex = [pairs](uint32_t picture, uint32_t step) -> uint64_t {
    return pairs ? uint64_t{picture / 2} * 2 * step + (picture & 1) : uint64_t{picture} * step;
  };
  // The read-out: frame sample p comes from window sample windowIndex(p),
  // counted from the window's far edge when the sensor mirrors.
  auto buildMap = [&](uint32_t count, uint32_t step, uint32_t extent, int64_t origin, bool mirror,
                      uint32_t sensorExtent, std::vector<int32_t>& map) {
    map.assign(count, -1);
    for (uint32_t p = 0; p < count; ++p) {
      const uint64_t w = windowIndex(p, step);
      if (w >= extent) continue;
      const int64_t s =
          mirror ? origin + extent - 1 - static_cast<int64_t>(w) : origin + static_cast<int64_t>(w);
      if (s >= 0 && s < sensorExtent) map[p] = static_cast<int32_t>(s);
    }
  };
  buildMap(layout.pictureWidth, stepX, ww, x0, layout.mirrorH, traits.width, layout.columnMap);
  buildMap(layout.pictureHeight, stepY, wh, y0, layout.mirrorV, traits.height, layout.rowMap);
  layout.sensorHeight = traits.height;
  layout.readOutStart = traits.readOutStart;
  return layout;
}

}  // namespace varnel
