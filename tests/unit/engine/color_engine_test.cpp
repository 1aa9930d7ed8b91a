// The colour engine's buffers, frame submission and the steps of the colour
// pipeline around the demosaic: two-tap order, 16-bit reduction, white
// balance and hot pixels.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/white_balance.h"
#include "engine_test_util.h"

namespace varnel {
namespace {

using enginetest::Bgra;
using enginetest::MakeColorEngine;
using enginetest::PixelAt;
using enginetest::PlaneMosaic;
using enginetest::RandomMosaic;
using enginetest::Submit;

TEST(ColorEngine, DefaultsAndFormatCodes) {
  ColorConverter e;
  EXPECT_EQ(e.GetFormat(), 5);
  EXPECT_EQ(e.GetWidth(), 752);
  EXPECT_EQ(e.GetHeight(), 400);
  EXPECT_EQ(e.GetInputRows(), 480);
  EXPECT_EQ(e.GetRedGain(), 128);
  EXPECT_EQ(e.GetGreenGain(), 128);
  EXPECT_EQ(e.GetBlueGain(), 128);
  int threshold = 0;
  EXPECT_FALSE(e.GetDefectCorrection(&threshold));
  EXPECT_EQ(threshold, 255);
  EXPECT_TRUE(e.IsEightBitRaw());
  EXPECT_FALSE(e.IsAllocated()) << "nothing is allocated before Allocate";
  EXPECT_EQ(e.GetImageBuffer(), nullptr);

  for (int bad : {-1, 7, 100}) {
    EXPECT_FALSE(e.SetFormat(bad)) << bad;
    EXPECT_EQ(e.GetFormat(), 5) << "a refused code keeps the format";
  }
  for (int good = 0; good <= 6; ++good) EXPECT_TRUE(e.SetFormat(good)) << good;
}

TEST(ColorEngine, AllocateMakesTheBuffersOfEachFormat) {
  const int w = 10, h = 3;
  const struct {
    int format;
    bool eightBit, keepRaw;
    int stride;
    size_t output, raw, bitCount;
  } cases[] = {
      {0, true, false, 10, 0, 30, 32},   {0, false, false, 20, 0, 60, 32},
      {1, true, false, 12, 36, 0, 8},    {2, true, false, 20, 60, 0, 16},
      {3, true, false, 20, 60, 0, 16},   {4, true, false, 32, 96, 0, 24},
      {5, true, false, 40, 120, 0, 32},  {5, true, true, 40, 120, 30, 32},
      {5, false, true, 40, 120, 60, 32}, {6, true, false, 20, 0, 0, 16},
  };
  for (const auto& c : cases) {
    ColorConverter e;
    e.SetSize(w, h);
    e.SetFormat(c.format);
    e.SetEightBitRaw(c.eightBit);
    e.SetKeepRaw(c.keepRaw);
    ASSERT_TRUE(e.Allocate()) << c.format;
    EXPECT_TRUE(e.IsAllocated());
    EXPECT_EQ(e.GetStride(), c.stride) << "format " << c.format;
    EXPECT_EQ(e.GetRawSize(), c.raw) << "format " << c.format;
    EXPECT_EQ(e.OutputBuffer() == nullptr ? 0 : e.OutputSize(), c.output) << "format " << c.format;
    EXPECT_EQ(e.GetBitmapHeader()->bitCount, c.bitCount) << "format " << c.format;
    EXPECT_NE(e.GetImageBuffer(), nullptr) << "format " << c.format;
    if (c.format == 5) {
      EXPECT_EQ(e.OutputBuffer()[7], 0xFF) << "32-bit pixels start as 0xFFFFFFFF";
    }
    e.Release();
    EXPECT_FALSE(e.IsAllocated());
    EXPECT_EQ(e.GetBitmapHeader()->width, 0);
    EXPECT_EQ(e.GetRawBuffer(), nullptr);
  }
}

TEST(ColorEngine, SubmitConvertsEachInputOutputPair) {
  const int w = 2, h = 2;
  const struct {
    int input, output;
    std::vector<uint8_t> frame;
    bool handled;
    std::vector<uint8_t> want;  // the first bytes of the image buffer
  } cases[] = {
      // 5-6-5: 0xF800 red, 0x07E0 green, 0x001F blue, 0x0000 black.
      {2,
       5,
       {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0x00, 0x00},
       true,
       {0, 0, 248, 255, 0, 252, 0, 255, 248, 0, 0, 255, 0, 0, 0, 255}},
      // 5-5-5: 0x7C00 red, 0x03E0 green, 0x001F blue, 0x7FFF white.
      {3,
       5,
       {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0xFF, 0x7F},
       true,
       {0, 0, 248, 255, 0, 248, 0, 255, 248, 0, 0, 255, 248, 248, 248, 255}},
      {2, 2, {1, 2, 3, 4, 5, 6, 7, 8}, true, {1, 2, 3, 4, 5, 6, 7, 8}},
      {3, 3, {1, 2, 3, 4, 5, 6, 7, 8}, true, {1, 2, 3, 4, 5, 6, 7, 8}},
      {6, 6, {1, 2, 3, 4, 5, 6, 7, 8}, true, {1, 2, 3, 4, 5, 6, 7, 8}},
      // 24-bit rows (6 bytes) land in 8-byte output rows.
      {4,
       4,
       {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
       true,
       {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12}},
      {4, 5, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, true, {1, 2, 3, 255, 4, 5, 6, 255}},
      {5, 5, std::vector<uint8_t>(16, 9), true, std::vector<uint8_t>(16, 9)},
      {0, 0, {9, 8, 7, 6}, true, {9, 8, 7, 6}},
      // No conversion for these pairs: nothing is written.
      {2, 0, std::vector<uint8_t>(8, 1), false, {}},
      {6, 5, std::vector<uint8_t>(8, 1), false, {}},
      {5, 2, std::vector<uint8_t>(16, 1), false, {}},
  };
  for (const auto& c : cases) {
    ColorConverter e;
    e.SetSize(w, h);
    ASSERT_TRUE(e.SetInputFormat(c.input));
    ASSERT_TRUE(e.SetFormat(c.output));
    ASSERT_TRUE(e.Allocate());
    std::vector<uint8_t> frame = c.frame;
    EXPECT_EQ(e.SubmitFrame(frame.data(), frame.size()), c.handled) << c.input << "->" << c.output;
    if (!c.handled) continue;
    const uint8_t* img = e.GetImageBuffer();
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(std::vector<uint8_t>(img, img + c.want.size()), c.want)
        << c.input << "->" << c.output;
  }
}

TEST(ColorEngine, RefusesFramesItCannotHandle) {
  auto e = MakeColorEngine(8, 8, false);
  std::vector<uint8_t> frame(64, 100);
  EXPECT_FALSE(e->SubmitFrame(nullptr, 64));
  EXPECT_FALSE(e->SubmitFrame(frame.data(), 63)) << "a short frame";
  e->SetEightBitRaw(false);
  EXPECT_FALSE(e->SubmitFrame(frame.data(), 64)) << "buffers made for 8-bit samples";
  e->SetEightBitRaw(true);
  e->SetFormat(kEngineFormatRaw);
  EXPECT_FALSE(e->SubmitFrame(frame.data(), 64)) << "format changed after Allocate";
  e->SetFormat(kEngineFormatBgra32);
  e->SetKeepRaw(true);
  EXPECT_FALSE(e->SubmitFrame(frame.data(), 64)) << "keep raw set after Allocate";
  e->SetKeepRaw(false);
  EXPECT_TRUE(e->SubmitFrame(frame.data(), 64));

  ColorConverter fresh;
  EXPECT_FALSE(fresh.SubmitFrame(frame.data(), frame.size())) << "never allocated";
  EXPECT_FALSE(fresh.SetSize(0, 10));
  EXPECT_FALSE(fresh.SetSize(10, -1));
  EXPECT_FALSE(fresh.SetSize(kEngineMaxDimension + 1, 10));
  EXPECT_FALSE(fresh.SetInputFormat(1));
  EXPECT_FALSE(fresh.SetInputFormat(7));
}

TEST(ColorEngine, ScalarFormsLeaveFramesBelowFiveByFiveUntouched) {
  const int sizes[][2] = {{4, 4}, {1, 1}, {3, 9}, {9, 4}};
  for (const auto& s : sizes) {
    auto e = MakeColorEngine(s[0], s[1], false);
    ASSERT_TRUE(Submit(*e, RandomMosaic(s[0], s[1], 3)));
    const uint8_t* out = e->OutputBuffer();
    for (size_t i = 0; i < e->OutputSize(); ++i) ASSERT_EQ(out[i], 0xFF) << s[0] << "x" << s[1];
  }
}

TEST(ColorEngine, TwoTapReorderingOfOneRow) {
  const struct {
    std::vector<uint8_t> in, want;
  } cases[] = {
      {{0, 1, 2, 3, 4, 5}, {0, 2, 4, 5, 3, 1}},
      {{0, 1, 2, 3, 4}, {0, 2, 4, 3, 1}},
      {{7, 9}, {7, 9}},
      {{5}, {5}},
  };
  std::vector<uint8_t> scratch;
  for (const auto& c : cases) {
    std::vector<uint8_t> row = c.in;
    ColorEngine::ReorderTwoTapRow(row.data(), static_cast<int>(row.size()), scratch);
    EXPECT_EQ(row, c.want);
  }
}

// Undoes the two-tap order of one row: the camera's interleaved form of a
// natural row.
std::vector<uint8_t> Interleave(const std::vector<uint8_t>& natural, int w, int h) {
  std::vector<uint8_t> out(natural.size());
  for (int y = 0; y < h; ++y) {
    const uint8_t* n = natural.data() + y * w;
    uint8_t* o = out.data() + y * w;
    for (int i = 0; i < w / 2; ++i) {
      o[2 * i] = n[i];
      o[2 * i + 1] = n[w - 1 - i];
    }
  }
  return out;
}

TEST(ColorEngine, TwoTapFramesDemosaicLikeTheirNaturalOrder) {
  const int w = 16, h = 9;
  const auto natural = RandomMosaic(w, h, 11);
  for (bool vector : {false, true}) {
    auto plain = MakeColorEngine(w, h, vector);
    ASSERT_TRUE(Submit(*plain, natural));
    auto twoTap = MakeColorEngine(w, h, vector);
    twoTap->SetTwoTap(true);
    // More configured rows than the frame has must not run past it.
    ASSERT_TRUE(twoTap->SetInputRows(480));
    ASSERT_TRUE(Submit(*twoTap, Interleave(natural, w, h)));
    EXPECT_EQ(0, std::memcmp(plain->OutputBuffer(), twoTap->OutputBuffer(), plain->OutputSize()))
        << (vector ? "vector" : "scalar");
  }
}

TEST(ColorEngine, SixteenBitSamplesUseTheirFirstByte) {
  const int w = 12, h = 7;
  const auto eight = RandomMosaic(w, h, 21);
  const auto noise = RandomMosaic(w, h, 22);
  std::vector<uint8_t> sixteen(eight.size() * 2);
  for (size_t i = 0; i < eight.size(); ++i) {
    sixteen[2 * i] = eight[i];
    sixteen[2 * i + 1] = noise[i];
  }
  for (bool vector : {false, true}) {
    auto a = MakeColorEngine(w, h, vector);
    ASSERT_TRUE(Submit(*a, eight));
    ColorConverter b;
    b.SetSize(w, h);
    b.SetEightBitRaw(false);
    b.SetKeepRaw(true);
    b.SetVectorFormsAllowed(vector);
    ASSERT_TRUE(b.Allocate());
    ASSERT_EQ(b.GetRawSize(), sixteen.size());
    ASSERT_TRUE(Submit(b, sixteen));
    EXPECT_EQ(0, std::memcmp(a->OutputBuffer(), b.OutputBuffer(), a->OutputSize()));
    EXPECT_EQ(0, std::memcmp(b.GetRawBuffer(), sixteen.data(), sixteen.size()))
        << "the raw copy keeps the frame as it came";
  }
}

TEST(WhiteBalance, GrayWorldGivesPercentAndTheEngineStores128ths) {
  const int w = 16, h = 8;
  for (int phase = 0; phase < 4; ++phase) {
    const auto m = PlaneMosaic(w, h, phase, 50, 100, 200);
    const WhiteBalanceResult r = MeasureGrayWorld(m.data(), w, h, phase);
    ASSERT_TRUE(r.valid);
    EXPECT_EQ(r.red, 200) << phase;
    EXPECT_EQ(r.green, 100);
    EXPECT_EQ(r.blue, 50) << phase;

    auto e = MakeColorEngine(w, h, false);
    e->SetBayerPhase(phase);
    e->SetWhiteBalanceMode(kWhiteBalanceGrayWorld);
    ASSERT_TRUE(Submit(*e, m));
    EXPECT_EQ(e->GetRedGain(), 256);
    EXPECT_EQ(e->GetGreenGain(), 128);
    EXPECT_EQ(e->GetBlueGain(), 64);
    // The measured gains balance this very frame.
    EXPECT_EQ(PixelAt(e->OutputBuffer(), w, 6, 4), (Bgra{100, 100, 100, 255})) << phase;
  }
}

TEST(WhiteBalance, GrayWorldWithoutOneColourKeepsTheGains) {
  const int w = 8, h = 8;
  auto e = MakeColorEngine(w, h, false);
  e->SetRedGain(150);
  e->SetWhiteBalanceMode(kWhiteBalanceGrayWorld);
  ASSERT_TRUE(Submit(*e, PlaneMosaic(w, h, 0, 0, 100, 100)));
  EXPECT_EQ(e->GetRedGain(), 150);
  EXPECT_EQ(e->GetBlueGain(), 128);
  EXPECT_FALSE(MeasureGrayWorld(std::vector<uint8_t>(64, 0).data(), w, h, 0).valid);
}

TEST(WhiteBalance, WhitePatchWithoutBrightPositionGivesItsStartValues) {
  const struct { int w, h, value; } cases[] = {{16, 16, 180}, {16, 4, 255}, {3, 20, 255}};
  for (const auto& c : cases) {
    const std::vector<uint8_t> m(static_cast<size_t>(c.w) * c.h, static_cast<uint8_t>(c.value));
    const WhiteBalanceResult r = MeasureWhitePatch(m.data(), c.w, c.h, 0);
    EXPECT_TRUE(r.valid);
    EXPECT_EQ(r.red, 128);
    EXPECT_EQ(r.green, 100);
    EXPECT_EQ(r.blue, 128);

    auto e = MakeColorEngine(c.w, c.h, false);
    e->SetRedGain(90);
    e->SetWhiteBalanceMode(kWhiteBalanceWhitePatch);
    ASSERT_TRUE(Submit(*e, m));
    // Green 100 is x1 and is stored as 128 like the others.
    EXPECT_EQ(e->GetRedGain(), 128);
    EXPECT_EQ(e->GetGreenGain(), 128);
    EXPECT_EQ(e->GetBlueGain(), 128);
  }
}

TEST(WhiteBalance, WhitePatchCorrectsAColourCast) {
  // A bright patch with less red and blue than green: the gains bring red
  // and blue up to green.
  const int w = 16, h = 12;
  const struct { int r, g, b; } casts[] = {{200, 240, 220}, {240, 230, 205}, {230, 230, 230}};
  for (const auto& c : casts) {
    const auto m = PlaneMosaic(w, h, 1, c.r, c.g, c.b);
    const WhiteBalanceResult res = MeasureWhitePatch(m.data(), w, h, 1);
    ASSERT_TRUE(res.valid);
    EXPECT_NEAR(res.red, 128.0 * c.g / c.r, 2.0) << c.r << "," << c.g << "," << c.b;
    EXPECT_NEAR(res.blue, 128.0 * c.g / c.b, 2.0) << c.r << "," << c.g << "," << c.b;
    EXPECT_EQ(res.green, 100);
  }
}

TEST(HotPixels, CorrectedOnlyWhereTwoColourDifferencesExceed30) {
  const int w = 12, h = 12;
  const int phase = 2;  // R G / G B: (6, 6) is red
  const struct {
    int red, green, blue;  // the scene around the hot red sample
    int hot, threshold;
    bool corrected;
  } cases[] = {
      // Red 187 against green and blue 100: two differences exceed 30.
      {100, 100, 100, 255, 100, true},
      // Red 187, green 150, blue 160: only |R - G| exceeds 30.
      {100, 150, 160, 255, 100, false},
      // Red 187 beside green 190 and blue 190: no difference exceeds 30.
      {100, 190, 190, 255, 100, false},
      // The excess (155) is below the threshold: not even tested.
      {100, 100, 100, 255, 156, false},
      // Exactly at the threshold counts.
      {100, 100, 100, 255, 155, true},
  };
  for (const auto& c : cases) {
    auto m = PlaneMosaic(w, h, phase, c.red, c.green, c.blue);
    m[6 * w + 6] = static_cast<uint8_t>(c.hot);
    const int count = CorrectHotPixels(m.data(), w, h, phase, c.threshold, EngineGains{});
    EXPECT_EQ(count, c.corrected ? 1 : 0) << c.green << "," << c.blue << " t=" << c.threshold;
    EXPECT_EQ(m[6 * w + 6], c.corrected ? c.red : c.hot);
  }
}

TEST(HotPixels, TheEngineCorrectsBeforeDemosaicOnlyWhenOn) {
  const int w = 12, h = 12;
  for (bool on : {false, true}) {
    auto e = MakeColorEngine(w, h, false);
    e->SetBayerPhase(2);
    e->SetDefectCorrection(on, 100);
    auto m = PlaneMosaic(w, h, 2, 100, 100, 100);
    m[6 * w + 6] = 255;
    ASSERT_TRUE(Submit(*e, m));
    // The pixel whose block has the hot sample at its bottom right.
    EXPECT_EQ(PixelAt(e->OutputBuffer(), w, 6, 6).r, on ? 100 : 187);
  }
}

}  // namespace
}  // namespace varnel
