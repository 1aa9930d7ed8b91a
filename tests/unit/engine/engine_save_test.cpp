// Saving the engine's images: raw and bitmap files by extension, the bitmap
// layout, and failures that must throw without leaking the file.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/basic_exception.h"
#include "engine_test_util.h"
#include "support/temp_dir.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using enginetest::RandomMosaic;
using enginetest::Submit;

class EngineSave : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = testing::UniqueTempDirectory("varnel_engine_save_" + std::string(info->name()));
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  static std::vector<uint8_t> ReadAll(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f),
                                std::istreambuf_iterator<char>());
  }
  static uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
  }

  fs::path dir_;
};

TEST_F(EngineSave, ThirtyTwoBitBitmapIsTopDownWithTheDocumentedSizes) {
  const int w = 752, h = 400;
  auto e = enginetest::MakeColorEngine(w, h, false);
  ASSERT_TRUE(Submit(*e, RandomMosaic(w, h, 8)));
  const fs::path file = dir_ / "frame.bmp";
  EXPECT_NE(e->Save(file), 0);
  const auto b = ReadAll(file);
  ASSERT_EQ(b.size(), static_cast<size_t>(w) * h * 4 + 54);
  EXPECT_EQ(b[0], 'B');
  EXPECT_EQ(b[1], 'M');
  EXPECT_EQ(U32(b, 2), static_cast<uint32_t>(w * h * 4 + 54));
  EXPECT_EQ(U32(b, 6), 0u) << "reserved words";
  EXPECT_EQ(U32(b, 10), 54u);
  EXPECT_EQ(U32(b, 14), 40u);
  EXPECT_EQ(static_cast<int32_t>(U32(b, 18)), w);
  EXPECT_EQ(static_cast<int32_t>(U32(b, 22)), -h) << "a top-down bitmap";
  EXPECT_EQ(b[28], 32);
  // The top row of the image comes first, then the second.
  EXPECT_TRUE(std::equal(b.begin() + 54, b.begin() + 54 + w * 4 * 3, e->OutputBuffer()));
}

TEST_F(EngineSave, EightBitBitmapCarriesThePalette) {
  const int w = 10, h = 6;
  GrayConverter e;
  e.SetSize(w, h);
  e.SetFormat(kEngineFormatGray8);
  ASSERT_TRUE(e.Allocate());
  ASSERT_TRUE(Submit(e, RandomMosaic(w, h, 9)));
  const fs::path file = dir_ / "gray.bmp";
  EXPECT_NE(e.Save(file), 0);
  const auto b = ReadAll(file);
  const int stride = 12;
  ASSERT_EQ(b.size(), static_cast<size_t>(stride) * h + 1078);
  EXPECT_EQ(U32(b, 2), static_cast<uint32_t>(stride * h + 1078));
  EXPECT_EQ(U32(b, 10), 1078u);
  EXPECT_EQ(static_cast<int32_t>(U32(b, 22)), -h);
  EXPECT_EQ(b[28], 8);
  EXPECT_EQ(U32(b, 38), 3780u) << "pixels per metre";
  EXPECT_EQ(U32(b, 46), 256u) << "colours used";
  for (int i : {0, 1, 128, 255}) {
    EXPECT_EQ(b[54 + 4 * i], i);
    EXPECT_EQ(b[54 + 4 * i + 2], i);
    EXPECT_EQ(b[54 + 4 * i + 3], 255);
  }
  EXPECT_TRUE(std::equal(b.begin() + 1078, b.end(), e.GetImageBuffer()));
}

TEST_F(EngineSave, ExtensionDecidesWhatIsWritten) {
  const int w = 8, h = 6;
  const struct {
    const char* name;
    bool keepRaw;
    bool success;
    size_t fileSize;  // 0: no file
  } cases[] = {
      {"a.BMP", false, true, w * h * 4 + 54},
      {"b.bmp", false, true, w * h * 4 + 54},
      {"c.bMp", false, true, w * h * 4 + 54},
      {"d.png", false, true, 0},
      {"e.raw", false, false, 0},
      {"f.RAW", true, true, w * h},
      {"g", false, true, 0},
      {"bmp", false, true, w * h * 4 + 54},
      {"h.bmpx", false, true, 0},
  };
  for (const auto& c : cases) {
    auto e = std::make_unique<ColorConverter>();
    e->SetSize(w, h);
    e->SetKeepRaw(c.keepRaw);
    e->SetVectorFormsAllowed(false);
    ASSERT_TRUE(e->Allocate());
    ASSERT_TRUE(Submit(*e, RandomMosaic(w, h, 1)));
    const fs::path file = dir_ / c.name;
    const int result = e->Save(file);
    EXPECT_EQ(result != 0, c.success) << c.name;
    if (c.fileSize == 0) {
      EXPECT_FALSE(fs::exists(file)) << c.name;
    } else {
      ASSERT_TRUE(fs::exists(file)) << c.name;
      EXPECT_EQ(fs::file_size(file), c.fileSize) << c.name;
    }
  }
}

TEST_F(EngineSave, RawFileHoldsTheFrameAsItCame) {
  const int w = 9, h = 7;
  auto e = std::make_unique<ColorConverter>();
  e->SetSize(w, h);
  e->SetFormat(kEngineFormatRaw);
  ASSERT_TRUE(e->Allocate());
  const auto frame = RandomMosaic(w, h, 4);
  ASSERT_TRUE(Submit(*e, frame));
  const fs::path file = dir_ / "frame.raw";
  EXPECT_EQ(e->Save(file), 1);
  EXPECT_EQ(ReadAll(file), frame);
  EXPECT_EQ(e->Save(dir_ / "frame.bmp"), 0) << "the raw format holds no bitmap";
  EXPECT_FALSE(fs::exists(dir_ / "frame.bmp"));
}

#ifndef _WIN32
int OpenDescriptors() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}
#endif

TEST_F(EngineSave, FailedBitmapWriteThrowsTheSystemErrorAndClosesTheFile) {
  auto e = enginetest::MakeColorEngine(8, 8, false);
  ASSERT_TRUE(Submit(*e, RandomMosaic(8, 8, 2)));
  struct Case {
    fs::path path;
    uint32_t code;  // 0: any non-zero code
  };
  std::vector<Case> cases = {{dir_ / "missing" / "x.bmp", 0}};
#ifdef _WIN32
  cases[0].code = 3;  // ERROR_PATH_NOT_FOUND
#else
  cases[0].code = ENOENT;
  // Creating succeeds but every write fails for want of space.
  if (fs::exists("/dev/full")) {
    fs::create_symlink("/dev/full", dir_ / "full.bmp");
    cases.push_back({dir_ / "full.bmp", ENOSPC});
  }
#endif
#ifndef _WIN32
  const int before = OpenDescriptors();
#endif
  for (const Case& c : cases) {
    try {
      e->Save(c.path);
      ADD_FAILURE() << "no exception for " << c.path;
    } catch (const basic_exception& ex) {
      if (c.code != 0) {
        EXPECT_EQ(ex.Code(), c.code) << c.path;
      }
      EXPECT_NE(ex.Code(), 0u);
      EXPECT_FALSE(ex.Message().empty());
      EXPECT_GT(std::string(ex.what()).size(), 0u);
    }
  }
#ifndef _WIN32
  EXPECT_EQ(OpenDescriptors(), before) << "a failed save leaked a file descriptor";
#endif
  EXPECT_EQ(e->Save(dir_ / "missing" / "x.raw"), 0) << "raw saving reports failure by its result";
}

TEST(BasicException, CarriesCodeTextAndUtf8) {
  const basic_exception ex(5, L"Zugriff verweigert \u00e9\u30a2");
  EXPECT_EQ(ex.Code(), 5u);
  EXPECT_EQ(ex.Message(), L"Zugriff verweigert \u00e9\u30a2");
  EXPECT_STREQ(ex.what(), "Zugriff verweigert \xc3\xa9\xe3\x82\xa2");
  const basic_exception copy = ex;  // thrown objects are copies
  EXPECT_EQ(copy.Message(), ex.Message());
}

}  // namespace
}  // namespace varnel
