// The frame intake per model: row order, two-ended read-out, software
// mirror, deep-sample rules, sub-sampling and the bounds of every copy.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "imagefile/dib_image.h"
#include "instance/frame_intake.h"
#include "instance/two_ended_intake.h"

namespace varnel {
namespace {

// A frame of `width` x `rows` samples whose sample (x, y) has the value
// `value(x, y)` (one byte, or the two-byte deep encoding of a 16-bit value
// given as bytes hi, lo).
struct Frame {
  std::vector<uint8_t> bytes;
  RawFrame view;
};

Frame MakeFrame(int width, int rows, int bytesPerSample, int pictureWidth, int pictureHeight,
                uint8_t (*value)(int x, int y, int byte)) {
  Frame f;
  f.bytes.resize(static_cast<size_t>(width) * rows * bytesPerSample);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int b = 0; b < bytesPerSample; ++b) {
        f.bytes[(static_cast<size_t>(y) * width + x) * bytesPerSample + b] = value(x, y, b);
      }
    }
  }
  f.view = RawFrame{f.bytes.data(), f.bytes.size(), width,        rows,
                    bytesPerSample, pictureWidth,   pictureHeight};
  return f;
}

uint8_t Coordinates(int x, int y, int) { return static_cast<uint8_t>(y * 16 + x); }

unsigned At16(const DibImage& image, int x, int y) {
  const uint8_t* p = image.Row(y) + 2 * x;
  return p[0] | p[1] << 8;
}

// Fault caught: the deep-sample rules of each model and bit depth decoded
// wrongly (the documented examples: 0xFF 0x03 -> 1023, 0x80 0x00 -> 512,
// 16 bits 0x12 0x34 -> 0x1234), or the bottom-up models taking the code's
// bits instead of their own.
TEST(FrameIntakeTest, DeepSampleRules) {
  struct Case {
    const char* name;
    ModelCode model;
    BitDepthCode code;
    uint8_t first, second;
    unsigned expected;
  };
  const Case cases[] = {
      {"10-bit full", kModelHWH8, 1, 0xFF, 0x03, 1023},
      {"10-bit half", kModelHWH8, 1, 0x80, 0x00, 512},
      {"10-bit ignores high bits of byte 1", kModelHWH8, 1, 0x80, 0xFF, 515},
      {"12-bit", kModelHYD4, 2, 0xAB, 0x0C, 0xABC},
      {"14-bit", kModelHZF6, 3, 0xFF, 0x3F, 0x3FFF},
      {"16-bit", kModelHXC3, 4, 0x12, 0x34, 0x1234},
      {"bottom-up always 10-bit", kModelHXA1, 4, 0x12, 0x34, 0x12 * 4},
      {"HXB2 12-bit when asked", kModelHXB2, 2, 0xAB, 0x0C, 0xABC},
      {"HXB2 10-bit otherwise", kModelHXB2, 4, 0xAB, 0x0C, 0xAB * 4},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes(16 * 4 * 2);
    for (size_t i = 0; i < bytes.size(); i += 2) bytes[i] = c.first, bytes[i + 1] = c.second;
    const RawFrame frame{bytes.data(), bytes.size(), 16, 4, 2, 16, 4};
    DibImage image;
    ASSERT_TRUE(image.Create(16, 4, 16));
    IntakeSettings settings;
    settings.model = c.model;
    settings.bitDepth = c.code;
    ASSERT_TRUE(IntakeFrame(frame, settings, image)) << c.name;
    EXPECT_EQ(At16(image, 3, 2), c.expected) << c.name;
  }
}

// Fault caught: copies bounded by only one of the two buffers: a frame with
// a longer row pitch than the image (rows must be read at the frame's own
// pitch), a frame shorter than its header says (never read past its bytes),
// a sensor picture larger or smaller than the image (only the common part
// is written, the rest of the image untouched).
TEST(FrameIntakeTest, EveryCopyIsBoundedByBothBuffers) {
  struct Case {
    const char* name;
    ModelCode model;
    int frameWidth, frameRows, pictureWidth, pictureHeight;
    size_t frameBytes;  // 0: the whole frame
    int imageWidth, imageHeight;
    int rowsWritten, columnsWritten;
  };
  const Case cases[] = {
      {"pitch longer than the picture", kModelHWH8, 16, 8, 10, 8, 0, 10, 8, 8, 10},
      {"frame shorter than announced", kModelHWH8, 16, 8, 16, 8, 16 * 5, 16, 8, 5, 16},
      {"picture larger than the image", kModelHXC3, 32, 20, 32, 20, 0, 16, 10, 10, 16},
      {"picture smaller than the image", kModelHXC3, 8, 4, 8, 4, 0, 16, 10, 4, 8},
      {"two-ended wider than the image", kModelHZG7, 24, 6, 24, 6, 0, 16, 6, 6, 16},
      {"bottom-up frame short", kModelHXA1, 16, 8, 16, 8, 16 * 3, 16, 8, 3, 16},
  };
  for (const Case& c : cases) {
    Frame frame =
        MakeFrame(c.frameWidth, c.frameRows, 1, c.pictureWidth, c.pictureHeight, Coordinates);
    if (c.frameBytes != 0) {
      frame.bytes.resize(c.frameBytes);
      frame.bytes.shrink_to_fit();  // a read past the end is caught by the sanitizer
      frame.view.data = frame.bytes.data();
      frame.view.size = c.frameBytes;
    }
    DibImage image;
    ASSERT_TRUE(image.Create(c.imageWidth, c.imageHeight, 8));
    for (int y = 0; y < c.imageHeight; ++y) std::memset(image.Row(y), 0xEE, image.Stride());
    IntakeSettings settings;
    settings.model = c.model;
    ASSERT_TRUE(IntakeFrame(frame.view, settings, image)) << c.name;
    int written = 0, wrong = 0;
    for (int y = 0; y < c.imageHeight; ++y) {
      for (int x = 0; x < c.imageWidth; ++x) {
        const uint8_t v = image.Row(y)[x];
        if (v == 0xEE) continue;
        ++written;
        // The general copy keeps rows; the bottom-up copy puts the frame's
        // row r at picture row pictureHeight - 1 - r.
        const int frameY = c.model == kModelHXA1 ? c.pictureHeight - 1 - y : y;
        const int frameX = c.model == kModelHZG7
                               ? (x < c.frameWidth / 2 ? 2 * x + 1 : 2 * (c.frameWidth - 1 - x))
                               : x;
        wrong += v != Coordinates(frameX, frameY, 0);
      }
    }
    EXPECT_EQ(written, c.rowsWritten * c.columnsWritten) << c.name;
    EXPECT_EQ(wrong, 0) << c.name;
  }
}

}  // namespace
}  // namespace varnel

namespace varnel {
namespace {

// Fault caught: the vector unfolding of the two-ended read-out placing a
// byte differently from the rule (second byte of unit k in column k, first
// in the column k from the right edge; mirrored the other way round), at
// every length around its sixteen-unit steps.
TEST(FrameIntakeTest, TwoEndedUnfoldingAtEveryLength) {
  for (int count = 0; count <= 40; ++count) {
    for (bool mirrored : {false, true}) {
      std::vector<uint8_t> units(2 * count), row(2 * count, 0xEE);
      for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<uint8_t>(i + 1);
      UnfoldTwoEndedRow(units.data(), count, row.data(), mirrored);
      for (int k = 0; k < count; ++k) {
        const uint8_t first = units[2 * k], second = units[2 * k + 1];
        ASSERT_EQ(row[k], mirrored ? first : second) << count << " " << mirrored << " " << k;
        ASSERT_EQ(row[2 * count - 1 - k], mirrored ? second : first) << count << " " << k;
      }
    }
  }
}

}  // namespace
}  // namespace varnel
