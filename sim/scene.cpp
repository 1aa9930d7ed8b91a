#include "sim/scene.h"

#include <algorithm>
#include <cstring>

#include "sim/head_impl.h"

namespace varnel {

using namespace sim;

uint32_t VirtualHead::Impl::SceneLevel(const SceneOptions& opts, uint32_t x, uint32_t y,
                                       int color) const {
  uint32_t rgb[3];
  switch (opts.kind) {
    case SceneKind::kFlatColor:
      rgb[0] = opts.flatColor[0], rgb[1] = opts.flatColor[1], rgb[2] = opts.flatColor[2];
      break;
    case SceneKind::kFlatGray:
      rgb[0] = rgb[1] = rgb[2] = opts.flatLevel;
      break;
    case SceneKind::kBarsAndGradient:
    default:
      if (y < traits.height / 2) {
        // White, yellow, cyan, green, magenta, red, blue, black.
        static constexpr uint8_t kBars[8] = {7, 3, 6, 2, 5, 1, 4, 0};  // bit0 R, bit1 G, bit2 B
        const uint8_t bar = kBars[uint64_t{x} * 8 / traits.width];
        for (int c = 0; c < 3; ++c) rgb[c] = (bar >> c & 1) ? kSceneOn : 0;
      } else {
        rgb[0] = rgb[1] = rgb[2] =
            static_cast<uint32_t>(uint64_t{x} * kSceneOn / std::max<uint32_t>(traits.width - 1, 1));
      }
      break;
  }
  return color < 0 ? (rgb[0] * 77 + rgb[1] * 150 + rgb[2] * 29) >> 8 : rgb[color];
}

std::shared_ptr<const Rendering> VirtualHead::Impl::RenderBase(const Layout& layout,
                                                               const SceneOptions& opts) const {
  auto rendering = std::make_shared<Rendering>();
  rendering->rowBytes = layout.rowBytes;
  rendering->frameBytes = layout.frameBytes;
  if (layout.frameBytes == 0) return rendering;
  rendering->rowOf.assign(layout.frameBytes / layout.rowBytes, -1);
  // A sample shows the scene point the lens puts on its sensor pixel, through
  // the colour filter over that pixel.
  int8_t slotOf[4] = {-1, -1, -1, -1};  // distinct row (by key) -> index into rows
  for (uint32_t pr = 0; pr < layout.pictureHeight; ++pr) {
    const int32_t sy = layout.rowMap[pr];
    if (sy < 0) continue;
    const uint32_t sceneRow = layout.SceneRow(static_cast<uint32_t>(sy));
    const uint32_t key = (sceneRow < traits.height / 2 ? 0 : 2) | (sy & 1);
    if (slotOf[key] < 0) {
      slotOf[key] = static_cast<int8_t>(rendering->rows.size() / layout.rowBytes);
      rendering->rows.resize(rendering->rows.size() + layout.rowBytes, 0);
      uint8_t* cached = rendering->rows.data() + size_t{uint32_t(slotOf[key])} * layout.rowBytes;
      for (uint32_t pc = 0; pc < layout.pictureWidth; ++pc) {
        const int32_t sx = layout.columnMap[pc];
        if (sx < 0) continue;
        const int color = layout.monochrome ? -1 : FilterColor(sx, sy, layout.phase);
        const uint64_t level =
            uint64_t{SceneLevel(opts, sx, sceneRow, color)} * layout.permille / 1000;
        layout.Encode(static_cast<uint32_t>(std::min<uint64_t>(level, 0xFFFF)),
                      cached + layout.ByteInRow(pc));
      }
    }
    rendering->rowOf[pr] = slotOf[key];
  }
  return rendering;
}

std::vector<Patch> VirtualHead::Impl::Overlay(const Layout& layout,
                                              const std::vector<uint32_t>& columns,
                                              const std::vector<uint32_t>& rows,
                                              const SceneOptions& opts, uint32_t number,
                                              std::optional<uint32_t> triggerTime) const {
  std::vector<Patch> patches;
  // The overlays belong to the picture as the lens shows it: they are drawn
  // into the upright picture of what the frame carries, so they mirror with
  // it and stand upright wherever the picture does.
  const bool stamp = opts.stampFrameNumber;
  const bool mark = opts.movingMark;
  if (!stamp && !mark) return patches;
  const auto width = static_cast<uint32_t>(columns.size());
  const auto height = static_cast<uint32_t>(rows.size());
  auto put = [&](uint32_t column, uint32_t row, uint16_t level) {
    if (column >= width || row >= height) return;
    const int64_t offset = layout.FrameOffset(columns[column], rows[row]);
    if (offset < 0) return;
    uint8_t bytes[2];
    layout.Encode(level, bytes);
    for (uint32_t i = 0; i < layout.bytesPerSample; ++i) {
      if (offset + i < layout.frameBytes) {
        patches.push_back({static_cast<uint32_t>(offset + i), bytes[i]});
      }
    }
  };
  // 32 cells of 4 × 8 pixels, bit 0 first: the upper half of a cell shows
  // the bit, the lower half its complement, so a reader can tell a stamp
  // from a picture.
  auto putStamp = [&](uint32_t value, uint32_t top) {
    for (uint32_t bit = 0; bit < 32; ++bit) {
      const bool on = (value >> bit & 1) != 0;
      for (uint32_t dy = 0; dy < 8; ++dy) {
        const uint16_t level = (dy < 4) == on ? kOverlayOn : 0;
        for (uint32_t dx = 0; dx < 4; ++dx) put(bit * 4 + dx, top + dy, level);
      }
    }
  };
  const uint32_t timeRow = static_cast<uint32_t>(StampRow::kTriggerTime);
  if (stamp && width >= 128 && height >= 8) {
    putStamp(number, static_cast<uint32_t>(StampRow::kFrameNumber));
    if (triggerTime && height >= timeRow + 8) putStamp(*triggerTime, timeRow);
  }
  if (mark && width >= 64 && height >= 48) {
    const uint32_t travel = width - 48;
    const uint32_t left = 16 + (number * 4) % travel;
    const uint32_t top = height / 2 - 8;
    for (uint32_t dy = 0; dy < 16; ++dy) {
      for (uint32_t dx = 0; dx < 16; ++dx) put(left + dx, top + dy, kOverlayOn);
    }
  }
  std::sort(patches.begin(), patches.end());
  return patches;
}

std::shared_ptr<const Frame> VirtualHead::Impl::MakeFrame(uint32_t number,
                                                          std::optional<uint32_t> triggerTime) {
  Layout layout = ComputeLayout();
  const SceneOptions opts = scene;
  const bool sameScene = cachedScene.kind == opts.kind &&
                         std::equal(std::begin(opts.flatColor), std::end(opts.flatColor),
                                    std::begin(cachedScene.flatColor)) &&
                         cachedScene.flatLevel == opts.flatLevel;
  if (!cachedBase || !sameScene || !layout.SameRendering(cachedLayout)) {
    cachedBase = RenderBase(layout, opts);
    cachedScene = opts;
    cachedLayout = std::move(layout);
    cachedColumns = cachedLayout.UprightColumns();
    cachedRows = cachedLayout.UprightRows();
  }
  auto frame = std::make_shared<Frame>();
  frame->base = cachedBase;
  frame->patches = Overlay(cachedLayout, cachedColumns, cachedRows, opts, number, triggerTime);
  frame->number = number;
  ++counters.framesRendered;
  return frame;
}

void VirtualHead::SetScene(const SceneOptions& scene) {
  std::lock_guard lock(impl_->mutex);
  impl_->scene = scene;
}

SceneOptions VirtualHead::Scene() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->scene;
}

std::optional<uint32_t> VirtualHead::ReadStamp(const uint8_t* picture, uint32_t width,
                                               uint32_t height, size_t rowPitch,
                                               uint32_t bytesPerSample, StampRow stampRow) {
  const uint32_t top = static_cast<uint32_t>(stampRow);
  if (picture == nullptr || width < 128 || height < top + 8 || bytesPerSample < 1 ||
      bytesPerSample > 2) {
    return std::nullopt;
  }
  auto bright = [&](uint32_t column, uint32_t row) {
    const uint8_t* sample = picture + row * rowPitch + size_t{column} * bytesPerSample;
    uint8_t top = sample[0];
    if (bytesPerSample == 2) top = std::max(top, sample[1]);
    return top >= 0x80;
  };
  uint32_t number = 0;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const bool upper = bright(bit * 4 + 1, top + 1);
    if (upper == bright(bit * 4 + 1, top + 5)) return std::nullopt;
    if (upper) number |= 1u << bit;
  }
  return number;
}

namespace {

std::optional<uint32_t> ReadFrameNumberIn(const Layout& layout, const void* frame, size_t size) {
  const std::vector<uint32_t> columns = layout.UprightColumns();
  const std::vector<uint32_t> rows = layout.UprightRows();
  if (frame == nullptr || columns.size() < 128 || rows.size() < 8) return std::nullopt;
  const auto* bytes = static_cast<const uint8_t*>(frame);
  auto bright = [&](uint32_t column, uint32_t row) -> std::optional<bool> {
    const int64_t offset = layout.FrameOffset(columns[column], rows[row]);
    if (offset < 0 || static_cast<uint64_t>(offset) >= size) return std::nullopt;
    return bytes[offset] >= 0x80;
  };
  uint32_t number = 0;
  for (uint32_t bit = 0; bit < 32; ++bit) {
    const std::optional<bool> upper = bright(bit * 4 + 1, 1);
    const std::optional<bool> lower = bright(bit * 4 + 1, 5);
    if (!upper || !lower || *upper == *lower) return std::nullopt;
    if (*upper) number |= 1u << bit;
  }
  return number;
}

}  // namespace

std::optional<uint32_t> VirtualHead::ReadFrameNumber(const void* frame, size_t size,
                                                     bool eitherMirrorH) const {
  Layout layout, other;
  {
    std::lock_guard lock(impl_->mutex);
    layout = impl_->ComputeLayout();
    if (eitherMirrorH) other = impl_->ComputeLayout(true);
  }
  const std::optional<uint32_t> number = ReadFrameNumberIn(layout, frame, size);
  if (!eitherMirrorH) return number;
  const std::optional<uint32_t> mirrored = ReadFrameNumberIn(other, frame, size);
  if (number && mirrored && *number != *mirrored) return std::nullopt;
  return number ? number : mirrored;
}

}  // namespace varnel
