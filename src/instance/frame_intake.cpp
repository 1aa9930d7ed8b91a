#include "instance/frame_intake.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "imagefile/dib_image.h"
#include "instance/two_ended_intake.h"

namespace varnel {

namespace {

// Picture coordinate of the `index`-th kept sample when every `factor`-th
// 2 x 2 block is kept.
inline int KeptCoordinate(int index, int factor) { return (index / 2) * 2 * factor + (index & 1); }

// How many samples of an extent of `extent` are kept.
int KeptExtent(int extent, int factor) {
  if (extent <= 0) return 0;
  const int block = 2 * factor;
  return extent / block * 2 + std::min(extent % block, 2);
}

// One deep sample as a 16-bit value of `bits` significant bits.
inline unsigned DeepValue(const uint8_t* sample, int bytesPerSample, int shift) {
  if (bytesPerSample == 1) return static_cast<unsigned>(sample[0]) << shift;
  return static_cast<unsigned>(sample[0]) << shift | (sample[1] & ((1u << shift) - 1u));
}

inline void Store16(uint8_t* to, unsigned value) {
  to[0] = static_cast<uint8_t>(value);
  to[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace

IntakeKind IntakeKindFor(ModelCode model) {
  if (model == kModelHXA1 || model == kModelHXJ9 || model == kModelR2T || model == kModelHXE5 ||
      model == kModelHXB2) {
    return IntakeKind::kBottomUp;
  }
  if (model == kModelHZG7) return IntakeKind::kTwoEnded;
  return IntakeKind::kGeneral;
}

bool SensorMirrors(ModelCode model) {
  return model == kModelHXA1 || model == kModelHXJ9 || model == kModelR2T || model == kModelHXB2;
}

int IntakeSignificantBits(ModelCode model, BitDepthCode bitDepth) {
  if (IntakeKindFor(model) == IntakeKind::kBottomUp) {
    return model == kModelHXB2 && bitDepth == 2 ? 12 : 10;
  }
  return bitDepth >= 2 && bitDepth <= 4 ? SignificantBits(bitDepth) : 10;
}

bool IntakeFrame(const RawFrame& frame, const IntakeSettings& settings, DibImage& destination) {
  if (frame.data == nullptr || destination.Empty()) return false;
  const int destinationBits = destination.BitCount();
  if (destinationBits != 8 && destinationBits != 16) return false;
  const bool deep = destinationBits == 16;
  const IntakeKind kind = IntakeKindFor(settings.model);
  const int bytesPerSample =
      kind == IntakeKind::kTwoEnded ? 1 : std::clamp(frame.bytesPerSample, 1, 2);
  if (frame.frameWidth <= 0 || frame.frameRows <= 0) return false;
  const size_t pitch = static_cast<size_t>(frame.frameWidth) * bytesPerSample;
  const int rowsHeld = static_cast<int>(std::min<size_t>(frame.frameRows, frame.size / pitch));

  // The picture: at most what the frame's rows hold across; the two-ended
  // rows carry whole units (two samples each).
  int pictureWidth = std::min(frame.pictureWidth, frame.frameWidth);
  if (kind == IntakeKind::kTwoEnded) pictureWidth = frame.frameWidth / 2 * 2;
  const int pictureHeight = frame.pictureHeight;
  const int factor = 1 << std::clamp(settings.subSample, 0, 3);
  const int keptWidth = KeptExtent(pictureWidth, factor);
  const int keptHeight = KeptExtent(pictureHeight, factor);
  const int columns = std::min(destination.Width(), keptWidth);
  const int rows = std::min(destination.Height(), keptHeight);
  if (columns <= 0 || rows <= 0) return true;

  // The heads whose sensor mirrors its read-out need no more; the flags are
  // for the others. The software mirror flips the part of the picture the
  // image shows, so the mirrored image is the unmirrored one flipped also
  // where the sensor reads a larger picture than the image holds.
  const bool software = !SensorMirrors(settings.model);
  const bool mirrorH = software && settings.mirrorH;
  const bool mirrorV = software && settings.mirrorV;
  // Every flip, and the bottom-up copy, runs over an even extent, so that
  // the picture starts on the same colour of the mosaic whatever the
  // window's size: an odd extent is flipped as if it had one more row (or
  // column), the picture then starting one further on. The Bayer phase thus
  // depends on the mirror flags only, as the exports and the dialogs assume.
  auto even = [](int extent) { return extent + (extent & 1); };
  const int flipColumns = even(columns);
  const int flipRows = even(rows);
  const int bottomUpHeight = even(pictureHeight);
  // Deep samples are decoded to the bits the model's rule gives; an 8-bit
  // destination from two-byte samples keeps their first byte, the top bits.
  const int sampleShift =
      std::clamp(IntakeSignificantBits(settings.model, settings.bitDepth) - 8, 0, 8);

  // Byte offset, inside a frame row, of the sample of each destination column.
  const bool straight = !mirrorH && factor == 1 && kind != IntakeKind::kTwoEnded;
  // The two-ended read-out at full size into an 8-bit image that holds the
  // whole row: one pass over the units.
  const bool twoEndedWhole = kind == IntakeKind::kTwoEnded && factor == 1 && !deep &&
                             columns == pictureWidth && columns % 2 == 0;
  std::vector<int> columnOffset;
  if (!straight && !twoEndedWhole) {
    columnOffset.resize(static_cast<size_t>(columns));
    const int units = pictureWidth / 2;
    for (int j = 0; j < columns; ++j) {
      const int kept = mirrorH ? flipColumns - 1 - j : j;
      const int column = KeptCoordinate(kept, factor);
      int offset = column * bytesPerSample;
      if (kind == IntakeKind::kTwoEnded) {
        // Unit k carries column k in its second byte and the column k places
        // from the right edge in its first.
        offset = column < units ? 2 * column + 1 : 2 * (pictureWidth - 1 - column);
      }
      // A column beyond the frame's rows (the one an odd flip reaches) is
      // left as it was.
      if (column >= frame.frameWidth || offset < 0) offset = -1;
      columnOffset[static_cast<size_t>(j)] = offset;
    }
  }

  for (int i = 0; i < rows; ++i) {
    const int keptRow = mirrorV ? flipRows - 1 - i : i;
    const int pictureRow = KeptCoordinate(keptRow, factor);
    const int frameRow =
        kind == IntakeKind::kBottomUp ? bottomUpHeight - 1 - pictureRow : pictureRow;
    // A row the frame does not hold (a short frame, or the row an odd flip
    // reaches) is left as it was, like every part of the image the frame
    // does not cover.
    if (frameRow < 0 || frameRow >= rowsHeld) continue;
    const uint8_t* from = frame.data + static_cast<size_t>(frameRow) * pitch;
    uint8_t* to = destination.Row(i);
    if (straight) {
      if (!deep && bytesPerSample == 1) {
        std::memcpy(to, from, static_cast<size_t>(columns));
      } else if (!deep) {
        for (int j = 0; j < columns; ++j) to[j] = from[2 * j];
      } else {
        for (int j = 0; j < columns; ++j) {
          Store16(to + 2 * j, DeepValue(from + j * bytesPerSample, bytesPerSample, sampleShift));
        }
      }
      continue;
    }
    if (twoEndedWhole) {
      UnfoldTwoEndedRow(from, columns / 2, to, mirrorH);
      continue;
    }
    const int* offsets = columnOffset.data();
    if (!deep) {
      for (int j = 0; j < columns; ++j) {
        if (offsets[j] >= 0) to[j] = from[offsets[j]];
      }
    } else {
      for (int j = 0; j < columns; ++j) {
        if (offsets[j] >= 0) {
          Store16(to + 2 * j, DeepValue(from + offsets[j], bytesPerSample, sampleShift));
        }
      }
    }
  }
  return true;
}

}  // namespace varnel
