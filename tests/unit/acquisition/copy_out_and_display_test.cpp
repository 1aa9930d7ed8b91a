// The copy of a frame into the application's buffer, the frame-rate meter,
// and the drawing into a preview window (a recording window stands in).
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/frame_copy_out.h"
#include "display/frame_display.h"
#include "imagefile/dib_image.h"
#include "instance/frame_rate_meter.h"
#include "platform/preview_window.h"

namespace varnel {
namespace {

// Fault caught: a frame-sized copy (non-temporal stores) that loses the
// unaligned ends of its rows or their order.
TEST(CopyFrameOutTest, FrameSizedCopiesInBothOrders) {
  DibImage image;
  ASSERT_TRUE(image.Create(1023, 400, 24));  // stride 3072, 1.2 MB
  for (size_t i = 0; i < image.ImageSize(); ++i)
    image.Pixels()[i] = static_cast<uint8_t>(i * 7 + i / 3072);
  std::vector<uint8_t> buffer(image.ImageSize() + 1);
  uint8_t* unaligned = buffer.data() + 1;
  for (int order : {1, 0}) {
    ASSERT_TRUE(CopyFrameOut(image, order, unaligned, static_cast<int>(image.ImageSize())));
    for (int y = 0; y < 400; ++y) {
      ASSERT_EQ(std::memcmp(unaligned + static_cast<size_t>(y) * 3072,
                            image.Row(order ? y : 399 - y), 3072),
                0)
          << "order " << order << " row " << y;
    }
  }
}

// Fault caught: a buffer one byte below stride x height written into, row
// padding dropped, and the row order taken the wrong way round.
TEST(CopyFrameOutTest, SizeAndRowOrder) {
  DibImage image;
  ASSERT_TRUE(image.Create(5, 3, 24));  // stride 16: one byte of padding per row
  for (int y = 0; y < 3; ++y) std::memset(image.Row(y), 10 * (y + 1), 16);
  const int size = 16 * 3;
  std::vector<uint8_t> buffer(size, 0xEE);
  EXPECT_FALSE(CopyFrameOut(image, 1, buffer.data(), size - 1));
  EXPECT_FALSE(CopyFrameOut(image, 1, nullptr, size));
  EXPECT_FALSE(CopyFrameOut(image, 1, buffer.data(), -1));
  EXPECT_EQ(buffer, std::vector<uint8_t>(size, 0xEE));
  ASSERT_TRUE(CopyFrameOut(image, 1, buffer.data(), size));
  EXPECT_EQ(buffer[0], 10);
  EXPECT_EQ(buffer[15], 10);
  EXPECT_EQ(buffer[32], 30);
  ASSERT_TRUE(CopyFrameOut(image, 0, buffer.data(), size));
  EXPECT_EQ(buffer[0], 30);
  EXPECT_EQ(buffer[47], 10);
}

// Fault caught: a rate reported before a whole second has passed, the
// rate's arithmetic (30 frames in 1001 ms give 299 tenths), and the clock's
// wrap at 2^32 read as a huge elapsed time.
TEST(FrameRateMeterTest, TenthsOfFramesPerSecond) {
  struct Case {
    const char* name;
    uint32_t start;
    int frames;
    uint32_t elapsed;  // at the last frame
    int expected;
  };
  const Case cases[] = {
      {"a second is not enough", 1000, 30, 1000, 0},
      {"30 in 1001 ms", 1000, 30, 1001, 299},
      {"across the wrap", 0xFFFFFF00u, 10, 2000, 50},
  };
  for (const Case& c : cases) {
    FrameRateMeter meter;
    meter.Reset(c.start);
    int rate = -1;
    for (int i = 1; i <= c.frames; ++i) {
      rate = meter.CountFrame(c.start + static_cast<uint32_t>(uint64_t{c.elapsed} * i / c.frames));
    }
    EXPECT_EQ(rate, c.expected) << c.name;
  }
}

class RecordingWindow final : public PreviewWindow {
 public:
  RecordingWindow(int width, int height, bool visible) : w_(width), h_(height), visible_(visible) {}
  WindowHandle Handle() const override { return nullptr; }
  bool TakeDeviceContext() override { return true; }
  bool HasDeviceContext() const override { return true; }
  bool IsVisible() const override { return visible_; }
  bool ClientSize(int* width, int* height) const override {
    *width = w_, *height = h_;
    return true;
  }
  void Draw(const PreviewBitmap& bitmap) override {
    ++draws;
    last = bitmap;
  }
  bool ReadShown(ShownPicture*) const override { return false; }
  int draws = 0;
  PreviewBitmap last;

 private:
  int w_, h_;
  bool visible_;
};

// Fault caught: the wrong drawing path (the direct path at exactly the
// frame's size except for deep monochrome; the display image, bottom row
// first, otherwise), a deep frame drawn without its reduction, and a hidden
// window that is drawn into (or costs a display image).
TEST(DrawFrameTest, DirectAndScaledPaths) {
  DibImage mono8, mono16, bgr24, bgr48, display;
  ASSERT_TRUE(mono8.Create(8, 4, 8));
  ASSERT_TRUE(mono16.Create(8, 4, 16));
  ASSERT_TRUE(bgr24.Create(8, 4, 24));
  ASSERT_TRUE(bgr48.Create(8, 4, 48));
  std::memset(mono16.Pixels(), 0xFF, mono16.ImageSize());  // 0xFFFF: reduces to 255
  DisplayImages images;
  images.mono8 = &mono8, images.mono16 = &mono16, images.bgr24 = &bgr24, images.bgr48 = &bgr48;
  images.display = &display;
  struct Case {
    const char* name;
    int colorClass;
    int clientWidth, clientHeight;
    bool visible;
    int draws;
    bool direct;
    int bitCount;
  };
  const Case cases[] = {
      {"mono8 at frame size", 0, 8, 4, true, 1, true, 8},
      {"mono16 is always scaled", 1, 8, 4, true, 1, false, 8},
      {"bgr24 at frame size", 2, 8, 4, true, 1, true, 24},
      {"bgr48 at frame size", 4, 8, 4, true, 1, true, 24},
      {"bgr24 scaled", 2, 16, 8, true, 1, false, 24},
      {"hidden", 2, 16, 8, false, 0, false, 0},
      {"empty client", 0, 0, 4, true, 0, false, 0},
  };
  for (const Case& c : cases) {
    display.Release();
    RecordingWindow window(c.clientWidth, c.clientHeight, c.visible);
    DrawFrame(&window, images, c.colorClass, 4);
    ASSERT_EQ(window.draws, c.draws) << c.name;
    if (c.draws == 0) {
      EXPECT_TRUE(display.Empty()) << c.name;
      continue;
    }
    EXPECT_EQ(window.last.bitCount, c.bitCount) << c.name;
    EXPECT_EQ(window.last.topRowFirst, c.direct) << c.name;
    EXPECT_EQ(window.last.width, c.direct ? 8 : c.clientWidth) << c.name;
    EXPECT_EQ(window.last.pixels == display.Pixels(), !c.direct) << c.name;
  }
  EXPECT_EQ(mono8.Row(0)[0], 255) << "the deep frame was reduced before drawing";
}

}  // namespace
}  // namespace varnel
