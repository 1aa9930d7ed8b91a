// DibImage: geometry and allocation, failures that must leave the image empty,
// colour tables, and the clipping that decides which rows every conversion
// routine sees.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "imagefile/dib_image.h"

namespace varnel {
namespace {

void ExpectEmpty(const DibImage& image, const char* what) {
  EXPECT_TRUE(image.Empty()) << what;
  EXPECT_EQ(image.Pixels(), nullptr) << what;
  EXPECT_EQ(image.Width(), 0) << what;
  EXPECT_EQ(image.Height(), 0) << what;
  EXPECT_EQ(image.Stride(), 0) << what;
  EXPECT_EQ(image.BitCount(), 0) << what;
  EXPECT_EQ(image.DeviceContext(), nullptr) << what;
  BitmapInfoHeader emptyHeader;
  EXPECT_EQ(std::memcmp(&image.Header(), &emptyHeader, sizeof emptyHeader), 0) << what;
  EXPECT_EQ(image.Header().size, 40u) << what;
}

TEST(DibImageTest, CreateFillsHeaderStrideAndZeroedPixels) {
  struct Case {
    int32_t width, height;
    uint16_t bitCount;
    int32_t stride;
  };
  const Case cases[] = {
      {642, 10, 24, 1928}, {642, 10, 8, 644}, {1, 1, 8, 4},       {3, 2, 8, 4},  {5, 1, 8, 8},
      {2, 3, 24, 8},       {1, 1, 16, 4},     {3, 1, 16, 8},      {1, 1, 32, 4}, {1, 4, 48, 8},
      {3, 1, 48, 20},      {3, 2, 64, 24},    {641, 7, 24, 1924},
  };
  for (const Case& c : cases) {
    DibImage image;
    ASSERT_TRUE(image.Create(c.width, c.height, c.bitCount)) << c.width << "x" << c.bitCount;
    EXPECT_EQ(image.Stride(), c.stride) << c.width << "x" << c.bitCount;
    EXPECT_EQ(image.Width(), c.width);
    EXPECT_EQ(image.Height(), c.height);
    EXPECT_EQ(image.BitCount(), c.bitCount);
    EXPECT_EQ(image.BytesPerPixel(), c.bitCount / 8);
    const BitmapInfoHeader& h = image.Header();
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.width, c.width);
    EXPECT_EQ(h.height, c.height);  // positive: a bottom-up bitmap to GDI
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.bitCount, c.bitCount);
    EXPECT_EQ(h.compression, 0u);
    EXPECT_EQ(h.sizeImage + h.clrUsed + h.clrImportant, 0u);
    EXPECT_EQ(h.xPelsPerMeter | h.yPelsPerMeter, 0);
    ASSERT_NE(image.Pixels(), nullptr);
    const std::vector<uint8_t> zeros(image.ImageSize(), 0);
    EXPECT_EQ(std::memcmp(image.Pixels(), zeros.data(), zeros.size()), 0);
    // The whole buffer is writable (ASan reports a short block here).
    std::memset(image.Pixels(), 0xA5, image.ImageSize());
  }
}

TEST(DibImageTest, FailedCreateLeavesTheImageEmpty) {
  struct Case {
    int32_t width, height;
    uint16_t bitCount;
  };
  const Case cases[] = {
      {0, 10, 8},    {10, 0, 8},         {-1, 10, 24},     {10, -5, 24},
      {10, 10, 0},   {10, 10, 4},        {10, 10, 12},     {10, 10, 40},
      {10, 10, 128}, {40000, 40000, 32}, {INT_MAX, 1, 64}, {INT_MAX, INT_MAX, 8},
  };
  for (const Case& c : cases) {
    DibImage image;
    ASSERT_TRUE(image.Create(4, 4, 24));
    EXPECT_FALSE(image.Create(c.width, c.height, c.bitCount))
        << c.width << "x" << c.height << "x" << c.bitCount;
    ExpectEmpty(image, "after a failed Create");
  }
}

TEST(DibImageTest, ReleaseTwiceAndReuse) {
  DibImage image;
  image.Release();
  ExpectEmpty(image, "never created");
  ASSERT_TRUE(image.Create(8, 8, 8));
  image.Release();
  image.Release();
  ExpectEmpty(image, "released twice");
  ASSERT_TRUE(image.Create(3, 3, 32));
  EXPECT_EQ(image.Stride(), 12);
}

std::vector<RgbQuad> Table(const DibImage& image) {
  std::vector<RgbQuad> table(kColorTableSize);
  EXPECT_EQ(image.GetColorTable(0, kColorTableSize, table.data()), kColorTableSize);
  return table;
}

std::vector<RgbQuad> GrayRamp() {
  std::vector<RgbQuad> ramp;
  for (int i = 0; i < kColorTableSize; ++i) {
    const auto v = static_cast<uint8_t>(i);
    ramp.push_back({v, v, v, 0});
  }
  return ramp;
}

TEST(DibImageTest, ColorTableModes) {
  DibImage image;
  ASSERT_TRUE(image.Create(16, 4, 8));
  EXPECT_EQ(Table(image), GrayRamp());

  const RgbQuad custom[3] = {{1, 2, 3, 0}, {4, 5, 6, 0}, {7, 8, 9, 0}};
  EXPECT_TRUE(image.SetColorTable(DibImage::kColorTableEntries, custom, 10, 3));
  std::vector<RgbQuad> expected = GrayRamp();
  expected[10] = custom[0];
  expected[11] = custom[1];
  expected[12] = custom[2];
  EXPECT_EQ(Table(image), expected);

  // Modes other than 0 and 2 change nothing; entries past 255 are dropped.
  EXPECT_TRUE(image.SetColorTable(1, custom, 0, 3));
  EXPECT_TRUE(image.SetColorTable(3, custom, 0, 3));
  EXPECT_TRUE(image.SetColorTable(DibImage::kColorTableEntries, custom, 254, 3));
  expected[254] = custom[0];
  expected[255] = custom[1];
  EXPECT_EQ(Table(image), expected);

  EXPECT_TRUE(image.SetColorTable(DibImage::kColorTableGrayRamp));
  EXPECT_EQ(Table(image), GrayRamp());
}

TEST(DibImageTest, CopyFormatTakesGeometryAndColorTableButNotPixels) {
  DibImage source;
  ASSERT_TRUE(source.Create(642, 5, 8));
  std::vector<RgbQuad> custom(kColorTableSize);
  for (int i = 0; i < kColorTableSize; ++i) {
    custom[i] = {static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2), 7, 0};
  }
  source.SetColorTable(DibImage::kColorTableEntries, custom.data(), 0, kColorTableSize);
  std::memset(source.Pixels(), 0x77, source.ImageSize());

  DibImage copy;
  ASSERT_TRUE(copy.Create(3, 3, 32));
  ASSERT_TRUE(copy.CopyFormat(&source));
  EXPECT_EQ(std::memcmp(&copy.Header(), &source.Header(), sizeof(BitmapInfoHeader)), 0);
  EXPECT_EQ(copy.Width(), 642);
  EXPECT_EQ(copy.Height(), 5);
  EXPECT_EQ(copy.Stride(), 644);
  EXPECT_EQ(copy.BitCount(), 8);
  EXPECT_NE(copy.Pixels(), source.Pixels());
  const std::vector<uint8_t> zeros(copy.ImageSize(), 0);
  EXPECT_EQ(std::memcmp(copy.Pixels(), zeros.data(), zeros.size()), 0);
  EXPECT_EQ(Table(copy), custom);

  // A copy of the copy carries the table on again, and its pixels are its own.
  DibImage second;
  ASSERT_TRUE(second.CopyFormat(&copy));
  EXPECT_EQ(Table(second), custom);
  source.Release();
  std::memset(copy.Pixels(), 1, copy.ImageSize());
  EXPECT_EQ(second.Pixels()[0], 0);
}

TEST(DibImageTest, FailedCopyFormatLeavesTheImageEmpty) {
  DibImage never;
  DibImage image;
  ASSERT_TRUE(image.Create(4, 4, 24));
  EXPECT_FALSE(image.CopyFormat(nullptr));
  ExpectEmpty(image, "null source");
  ASSERT_TRUE(image.Create(4, 4, 24));
  EXPECT_FALSE(image.CopyFormat(&never));
  ExpectEmpty(image, "empty source");
}

#ifdef _WIN32
// GDI has 8- to 32-bit DIB sections; deeper images fall back to plain memory.
TEST(DibImageTest, StorageIsADibSectionWhereGdiAllowsIt) {
  for (uint16_t bits : {8, 16, 24, 32}) {
    DibImage image;
    ASSERT_TRUE(image.Create(10, 10, bits));
    EXPECT_NE(image.DeviceContext(), nullptr) << bits;
    EXPECT_NE(image.Bitmap(), nullptr) << bits;
  }
  for (uint16_t bits : {48, 64}) {
    DibImage image;
    ASSERT_TRUE(image.Create(10, 10, bits));
    EXPECT_EQ(image.DeviceContext(), nullptr) << bits;
    EXPECT_NE(image.Pixels(), nullptr) << bits;
  }
}
#endif

// --- ConvertRegion ------------------------------------------------------------

struct Call {
  int count = 0;
  uint8_t* destination = nullptr;
  const uint8_t* source = nullptr;
  PixelRect rect;
  int32_t x = -1, y = -1;
  int32_t destinationBpp = 0, sourceBpp = 0, destinationStride = 0, sourceStride = 0;
  void* user = nullptr;
  int32_t extra = 0;
};
Call g_call;

int RecordRegion(uint8_t* destination, const uint8_t* source, const PixelRect& rect, int32_t x,
                 int32_t y, int32_t destinationBpp, int32_t sourceBpp, int32_t destinationStride,
                 int32_t sourceStride, void* user, int32_t extra) {
  ++g_call.count;
  g_call = {g_call.count, destination,       source,       rect, x,    y, destinationBpp,
            sourceBpp,    destinationStride, sourceStride, user, extra};
  return 7;
}

// A 16-bit copy that follows the documented addressing exactly: whatever the
// clipping hands it, it writes only there.
int CopyRegion16(uint8_t* destination, const uint8_t* source, const PixelRect& rect, int32_t x,
                 int32_t y, int32_t destinationBpp, int32_t sourceBpp, int32_t destinationStride,
                 int32_t sourceStride, void*, int32_t) {
  for (int32_t row = rect.top; row < rect.bottom; ++row) {
    for (int32_t column = rect.left; column < rect.right; ++column) {
      std::memcpy(destination + (y + row - rect.top) * destinationStride +
                      (x + column - rect.left) * destinationBpp,
                  source + row * sourceStride + column * sourceBpp, 2);
    }
  }
  return 1;
}

constexpr int32_t kDestW = 100, kDestH = 80, kSrcW = 60, kSrcH = 50;

struct ClipCase {
  const char* what;
  bool whole;  // no rectangle: the whole source
  PixelRect rect;
  int32_t x, y;
  bool called;
  PixelRect expectedRect;  // in buffer rows
  int32_t expectedX, expectedY;
};

// Destination 100 x 80, source 60 x 50. Buffer rows count from the other end:
// y' = 80 - clipped bottom, source rows 50 - bottom .. 50 - top.
const ClipCase kClipCases[] = {
    {"whole source at the origin", true, {}, 0, 0, true, {0, 0, 60, 50}, 0, 30},
    {"inner region", false, {10, 5, 30, 25}, 20, 10, true, {10, 25, 30, 45}, 20, 50},
    {"past the right and bottom of this image", true, {}, 70, 60, true, {0, 30, 30, 50}, 70, 0},
    {"negative position", true, {}, -10, -20, true, {10, 0, 60, 30}, 0, 50},
    {"region starting left of and above the source",
     false,
     {-10, -5, 20, 15},
     0,
     0,
     true,
     {0, 35, 20, 50},
     10,
     60},
    {"negative region and negative position",
     false,
     {-10, -10, 20, 20},
     -5,
     -15,
     true,
     {0, 30, 20, 45},
     5,
     65},
    {"region past the source's right and bottom",
     false,
     {40, 30, 100, 90},
     0,
     0,
     true,
     {40, 0, 60, 20},
     0,
     60},
    {"exactly the last row and column",
     false,
     {59, 49, 60, 50},
     99,
     79,
     true,
     {59, 0, 60, 1},
     99,
     0},
    {"wholly right of this image", true, {}, 100, 0, false, {}, 0, 0},
    {"wholly left of this image", true, {}, -60, 0, false, {}, 0, 0},
    {"wholly below this image", true, {}, 0, 80, false, {}, 0, 0},
    {"wholly above this image", true, {}, 0, -50, false, {}, 0, 0},
    {"wholly right of the source", false, {60, 0, 70, 10}, 0, 0, false, {}, 0, 0},
    {"wholly below the source", false, {0, 50, 10, 60}, 0, 0, false, {}, 0, 0},
    {"wholly left of and above the source", false, {-20, -20, -5, -5}, 0, 0, false, {}, 0, 0},
    {"zero width", false, {10, 10, 10, 20}, 0, 0, false, {}, 0, 0},
    {"inverted", false, {20, 20, 10, 10}, 0, 0, false, {}, 0, 0},
    {"position at the largest integer", true, {}, INT_MAX, INT_MAX, false, {}, 0, 0},
    {"position at the smallest integer", true, {}, INT_MIN, 0, false, {}, 0, 0},
    {"region reaching the largest integer",
     false,
     {0, 0, INT_MAX, INT_MAX},
     10,
     10,
     true,
     {0, 0, 60, 50},
     10,
     20},
};

TEST(ConvertRegionTest, ClipsAndTurnsRowsAsDocumented) {
  DibImage destination;
  DibImage source;
  ASSERT_TRUE(destination.Create(kDestW, kDestH, 24));
  ASSERT_TRUE(source.Create(kSrcW, kSrcH, 16));
  int user = 0;
  for (const ClipCase& c : kClipCases) {
    g_call = {};
    const int result = destination.ConvertRegion(RecordRegion, &source, c.whole ? nullptr : &c.rect,
                                                 c.x, c.y, &user, 99);
    EXPECT_EQ(g_call.count, c.called ? 1 : 0) << c.what;
    EXPECT_EQ(result, c.called ? 7 : 0) << c.what;
    if (!c.called || g_call.count != 1) continue;
    EXPECT_EQ(g_call.rect, c.expectedRect)
        << c.what << ": got " << g_call.rect.left << "," << g_call.rect.top << ","
        << g_call.rect.right << "," << g_call.rect.bottom;
    EXPECT_EQ(g_call.x, c.expectedX) << c.what;
    EXPECT_EQ(g_call.y, c.expectedY) << c.what;
    EXPECT_EQ(g_call.destination, destination.Pixels());
    EXPECT_EQ(g_call.source, source.Pixels());
    EXPECT_EQ(g_call.destinationBpp, 3);
    EXPECT_EQ(g_call.sourceBpp, 2);
    EXPECT_EQ(g_call.destinationStride, 300);
    EXPECT_EQ(g_call.sourceStride, 120);
    EXPECT_EQ(g_call.user, &user);
    EXPECT_EQ(g_call.extra, 99);
  }
}

// Independent of how the clipping is computed: after a copy every source pixel
// that survives must sit where the region's top-left corner was placed at
// (x, y), counting rows top-down as the caller does (buffer row = height - 1 -
// picture row), and nothing outside that may change.
TEST(ConvertRegionTest, CopiedPixelsLandWhereTheRegionWasPlaced) {
  DibImage source;
  ASSERT_TRUE(source.Create(kSrcW, kSrcH, 16));
  for (int32_t row = 0; row < kSrcH; ++row) {
    for (int32_t column = 0; column < kSrcW; ++column) {
      // Tag = picture position + 1, so 0 means "not written".
      const uint16_t tag = static_cast<uint16_t>((kSrcH - 1 - row) * kSrcW + column + 1);
      std::memcpy(source.Row(row) + column * 2, &tag, 2);
    }
  }
  for (const ClipCase& c : kClipCases) {
    DibImage destination;
    ASSERT_TRUE(destination.Create(kDestW, kDestH, 16));
    const PixelRect region = c.whole ? PixelRect{0, 0, kSrcW, kSrcH} : c.rect;
    destination.ConvertRegion(CopyRegion16, &source, c.whole ? nullptr : &c.rect, c.x, c.y);
    int mismatches = 0;
    for (int64_t pictureRow = 0; pictureRow < kDestH; ++pictureRow) {
      for (int64_t column = 0; column < kDestW; ++column) {
        // Which source pixel should land here, if any.
        const int64_t sx = column - c.x + region.left;
        const int64_t sy = pictureRow - c.y + region.top;
        const bool inRegion = sx >= region.left && sx < region.right && sy >= region.top &&
                              sy < region.bottom && sx >= 0 && sx < kSrcW && sy >= 0 && sy < kSrcH;
        const uint16_t expected = inRegion ? static_cast<uint16_t>(sy * kSrcW + sx + 1) : 0;
        uint16_t got;
        std::memcpy(&got,
                    destination.Row(static_cast<int32_t>(kDestH - 1 - pictureRow)) + column * 2, 2);
        if (got != expected) ++mismatches;
      }
    }
    EXPECT_EQ(mismatches, 0) << c.what;
  }
}

TEST(ConvertRegionTest, OntoItselfMeasuresTheMirroredBufferRows) {
  // The automatic exposure measures regions of an image onto itself at the
  // region's own position; the routine then sees buffer rows h - bottom up to
  // h - top.
  DibImage image;
  ASSERT_TRUE(image.Create(100, 80, 8));
  const PixelRect region{10, 8, 20, 16};
  g_call = {};
  EXPECT_EQ(image.ConvertRegion(RecordRegion, &image, &region, 10, 8), 7);
  EXPECT_EQ(g_call.rect, (PixelRect{10, 64, 20, 72}));
  EXPECT_EQ(g_call.x, 10);
  EXPECT_EQ(g_call.y, 64);
  EXPECT_EQ(g_call.destination, g_call.source);
}

TEST(ConvertRegionTest, NothingIsCalledWithoutARoutineSourceOrPixels) {
  DibImage image;
  DibImage empty;
  ASSERT_TRUE(image.Create(10, 10, 8));
  g_call = {};
  EXPECT_EQ(image.ConvertRegion(nullptr, &image, nullptr, 0, 0), 0);
  EXPECT_EQ(image.ConvertRegion(RecordRegion, nullptr, nullptr, 0, 0), 0);
  EXPECT_EQ(image.ConvertRegion(RecordRegion, &empty, nullptr, 0, 0), 0);
  EXPECT_EQ(empty.ConvertRegion(RecordRegion, &image, nullptr, 0, 0), 0);
  EXPECT_EQ(g_call.count, 0);
}

// --- ConvertWhole -------------------------------------------------------------

struct WholeCall {
  int count = 0;
  PixelRect destinationRect, sourceRect;
  int32_t dw = 0, dh = 0, sw = 0, sh = 0, dbpp = 0, sbpp = 0, dstride = 0, sstride = 0;
  void* user = nullptr;
  int32_t extra = 0;
};
WholeCall g_whole;

int RecordWhole(uint8_t*, const uint8_t*, const PixelRect& destinationRect,
                const PixelRect& sourceRect, int32_t dw, int32_t dh, int32_t sw, int32_t sh,
                int32_t dbpp, int32_t sbpp, int32_t dstride, int32_t sstride, void* user,
                int32_t extra) {
  g_whole = {g_whole.count + 1, destinationRect, sourceRect, dw,   dh, sw, sh, dbpp, sbpp,
             dstride,           sstride,         user,       extra};
  return 5;
}

TEST(ConvertWholeTest, PassesBothGeometriesWithoutClipping) {
  DibImage destination;
  DibImage source;
  ASSERT_TRUE(destination.Create(33, 20, 24));
  ASSERT_TRUE(source.Create(64, 48, 8));
  int user = 0;

  g_whole = {};
  EXPECT_EQ(destination.ConvertWhole(RecordWhole, &source, nullptr, nullptr, &user, 3), 5);
  EXPECT_EQ(g_whole.destinationRect, (PixelRect{0, 0, 33, 20}));
  EXPECT_EQ(g_whole.sourceRect, (PixelRect{0, 0, 64, 48}));
  EXPECT_EQ(g_whole.dw, 33);
  EXPECT_EQ(g_whole.dh, 20);
  EXPECT_EQ(g_whole.sw, 64);
  EXPECT_EQ(g_whole.sh, 48);
  EXPECT_EQ(g_whole.dbpp, 3);
  EXPECT_EQ(g_whole.sbpp, 1);
  EXPECT_EQ(g_whole.dstride, 100);
  EXPECT_EQ(g_whole.sstride, 64);
  EXPECT_EQ(g_whole.user, &user);
  EXPECT_EQ(g_whole.extra, 3);

  // Given rectangles go through unchanged, even outside the images.
  const PixelRect d{-5, 2, 50, 30};
  const PixelRect s{1, -1, 70, 40};
  EXPECT_EQ(destination.ConvertWhole(RecordWhole, &source, &d, &s), 5);
  EXPECT_EQ(g_whole.destinationRect, d);
  EXPECT_EQ(g_whole.sourceRect, s);

  const int before = g_whole.count;
  DibImage empty;
  EXPECT_EQ(destination.ConvertWhole(nullptr, &source, nullptr, nullptr), 0);
  EXPECT_EQ(destination.ConvertWhole(RecordWhole, nullptr, nullptr, nullptr), 0);
  EXPECT_EQ(destination.ConvertWhole(RecordWhole, &empty, nullptr, nullptr), 0);
  EXPECT_EQ(empty.ConvertWhole(RecordWhole, &source, nullptr, nullptr), 0);
  EXPECT_EQ(g_whole.count, before);
}

}  // namespace
}  // namespace varnel
