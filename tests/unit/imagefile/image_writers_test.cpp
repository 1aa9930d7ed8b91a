// The file writers seen from outside: every file is decoded by an independent
// reader (libpng, libjpeg and libtiff's read side, the BMP layout parsed from
// its published form) and compared with the frame it was written from, in
// every colour mode; refused and failing saves are checked for what they
// leave behind.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <png.h>
#include <tiff.h>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "frame_patterns.h"
#include "support/image_readers.h"
#include "imagefile/save_image_file.h"

namespace varnel {
namespace {

namespace fs = std::filesystem;
using testing::BitCountOf;
using testing::ColorMode;
using testing::DecodedPicture;
using testing::kColorModes;
using testing::MakeFrame;

constexpr int kWidth = 37;  // odd, so that most bit counts pad their rows
constexpr int kHeight = 23;

class ImageWritersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() / ("varnel_writers_" + std::string(info->name()) + "_" +
                                        std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string PathOf(const std::string& name) const { return (dir_ / name).string(); }

  std::set<std::string> Listing() const {
    std::set<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(dir_)) {
      names.insert(entry.path().lexically_relative(dir_).generic_string());
    }
    return names;
  }

  fs::path dir_;
};

bool Save(const std::string& path, const DibImage& image, const ColorMode& m, int format) {
  return SaveImageFile(path.c_str(), &image, m.colorClass, m.bits, format);
}

// Fault caught: BMP rows written top-down under a bottom-up header (the
// picture upside down), padding dropped or invented, a wrong data offset or
// file size, the header not the image's own, the 8-bit colour table missing.
TEST_F(ImageWritersTest, BmpHoldsTheImageHeaderPaletteAndRowsBottomUp) {
  for (const ColorMode& m : kColorModes) {
    const auto frame = MakeFrame(m, kWidth, kHeight);
    ASSERT_TRUE(frame) << m.name;
    const std::string path = PathOf("frame.bmp");
    ASSERT_TRUE(Save(path, *frame, m, kSaveFormatBmp)) << m.name;
    testing::BmpFile bmp;
    ASSERT_TRUE(testing::ReadBmpFile(path, bmp)) << m.name;
    const uint32_t offset = frame->BitCount() == 8 ? 1078 : 54;
    EXPECT_EQ(bmp.type, 0x4D42) << m.name;
    EXPECT_EQ(bmp.dataOffset, offset) << m.name;
    EXPECT_EQ(bmp.fileSize, offset + frame->ImageSize()) << m.name;
    EXPECT_EQ(fs::file_size(path), offset + frame->ImageSize()) << m.name;
    EXPECT_EQ(bmp.headerSize, 40u) << m.name;
    EXPECT_EQ(bmp.width, kWidth) << m.name;
    EXPECT_EQ(bmp.height, kHeight) << m.name;  // positive: bottom-up
    EXPECT_EQ(bmp.planes, 1) << m.name;
    EXPECT_EQ(bmp.bitCount, frame->BitCount()) << m.name;
    EXPECT_EQ(bmp.compression, 0u) << m.name;
    if (frame->BitCount() == 8) {
      ASSERT_EQ(bmp.colorTable.size(), 1024u) << m.name;
      for (int i = 0; i < 256; ++i) {
        const uint8_t level = static_cast<uint8_t>(i);
        const uint8_t entry[4] = {level, level, level, 0};
        ASSERT_EQ(std::memcmp(&bmp.colorTable[4 * i], entry, 4), 0) << m.name << " entry " << i;
      }
    }
    ASSERT_EQ(bmp.pixels.size(), frame->ImageSize()) << m.name;
    for (int k = 0; k < kHeight; ++k) {
      const uint8_t* fileRow = bmp.pixels.data() + static_cast<size_t>(k) * frame->Stride();
      ASSERT_EQ(std::memcmp(fileRow, frame->Row(kHeight - 1 - k), frame->Stride()), 0)
          << m.name << ": file row " << k << " is not buffer row " << kHeight - 1 - k;
    }
  }
}

// Fault caught: RAW reordered, stripped of its padding, given a header, or cut
// short.
TEST_F(ImageWritersTest, RawIsTheBufferAsHeld) {
  for (const ColorMode& m : kColorModes) {
    const auto frame = MakeFrame(m, kWidth, kHeight);
    ASSERT_TRUE(frame) << m.name;
    const std::string path = PathOf("frame.raw");
    ASSERT_TRUE(Save(path, *frame, m, kSaveFormatRaw)) << m.name;
    const std::vector<uint8_t> bytes = testing::ReadWholeFile(path);
    ASSERT_EQ(bytes.size(), frame->ImageSize()) << m.name;
    EXPECT_EQ(std::memcmp(bytes.data(), frame->Pixels(), bytes.size()), 0) << m.name;
  }
}

// Fault caught: a wrong PNG colour type or depth, blue and red exchanged,
// 16-bit samples in the wrong byte order, deep samples shifted too far (12-
// and 14-bit overflowing) or not far enough, the 32-bit fourth byte taken as
// alpha as it is (a transparent picture), padding written into the rows, the
// picture upside down.
TEST_F(ImageWritersTest, PngDecodesToTheSamplesOfEveryColourMode) {
  for (const ColorMode& m : kColorModes) {
    const auto frame = MakeFrame(m, kWidth, kHeight);
    ASSERT_TRUE(frame) << m.name;
    const std::string path = PathOf("frame.png");
    ASSERT_TRUE(Save(path, *frame, m, kSaveFormatPng)) << m.name;
    testing::PngFile png;
    ASSERT_TRUE(testing::ReadPngFile(path, png)) << m.name;
    const int expectedType[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY,
                                PNG_COLOR_TYPE_RGB,  PNG_COLOR_TYPE_RGB_ALPHA,
                                PNG_COLOR_TYPE_RGB,  PNG_COLOR_TYPE_RGB_ALPHA};
    EXPECT_EQ(png.colorType, expectedType[m.colorClass]) << m.name;
    EXPECT_FALSE(png.interlaced) << m.name;
    const DecodedPicture expected = testing::ExpectedWide(*frame, m);
    EXPECT_EQ(png.picture.width, expected.width) << m.name;
    EXPECT_EQ(png.picture.height, expected.height) << m.name;
    EXPECT_EQ(png.picture.bitsPerSample, expected.bitsPerSample) << m.name;
    ASSERT_EQ(png.picture.channels, expected.channels) << m.name;
    EXPECT_TRUE(png.picture.samples == expected.samples) << m.name;
  }
}

// Fault caught: as for PNG, and a TIFF in several strips, compressed, with
// padding in the strip, or with a fourth sample that readers take for a
// transparent alpha (the 32-bit form's unused zero) or for no alpha at all.
TEST_F(ImageWritersTest, TiffDecodesToTheSamplesOfEveryColourModeFromOneStrip) {
  for (const ColorMode& m : kColorModes) {
    const auto frame = MakeFrame(m, kWidth, kHeight);
    ASSERT_TRUE(frame) << m.name;
    const std::string path = PathOf("frame.tif");
    ASSERT_TRUE(Save(path, *frame, m, kSaveFormatTiff)) << m.name;
    testing::TiffFile tiff;
    ASSERT_TRUE(testing::ReadTiffFile(path, tiff)) << m.name;
    const DecodedPicture expected = testing::ExpectedWide(*frame, m);
    EXPECT_EQ(tiff.strips, 1u) << m.name;
    EXPECT_EQ(tiff.rowsPerStrip, static_cast<uint32_t>(kHeight)) << m.name;
    EXPECT_EQ(tiff.compression, COMPRESSION_NONE) << m.name;
    EXPECT_EQ(tiff.planarConfig, PLANARCONFIG_CONTIG) << m.name;
    EXPECT_EQ(tiff.photometric, m.colorClass <= 1 ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB)
        << m.name;
    const std::vector<uint16_t> extra = expected.channels == 4
                                            ? std::vector<uint16_t>{EXTRASAMPLE_UNASSALPHA}
                                            : std::vector<uint16_t>{};
    EXPECT_EQ(tiff.extraSamples, extra) << m.name;
    EXPECT_EQ(tiff.picture.width, expected.width) << m.name;
    EXPECT_EQ(tiff.picture.height, expected.height) << m.name;
    EXPECT_EQ(tiff.picture.bitsPerSample, expected.bitsPerSample) << m.name;
    ASSERT_EQ(tiff.picture.channels, expected.channels) << m.name;
    EXPECT_TRUE(tiff.picture.samples == expected.samples) << m.name;
  }
}

// Fault caught: a baseline (not progressive) JPEG, qualities mixed up or
// ignored, deep samples reduced by a fixed amount whatever their depth (a
// dark or wrapped 12-, 14- or 16-bit picture), blue and red exchanged, the
// picture upside down.
TEST_F(ImageWritersTest, JpegIsProgressiveCloseToTheFrameAndShrinksWithQuality) {
  struct Quality {
    int format;
    double minPsnr;
  };
  const Quality qualities[] = {
      {kSaveFormatJpeg100, 45}, {kSaveFormatJpeg70, 38}, {kSaveFormatJpeg20, 30}};
  for (const ColorMode& m : kColorModes) {
    const auto frame = MakeFrame(m, kWidth * 3, kHeight * 3);
    ASSERT_TRUE(frame) << m.name;
    const DecodedPicture expected = testing::ExpectedJpeg(*frame, m);
    uintmax_t sizes[3] = {};
    for (int q = 0; q < 3; ++q) {
      const std::string path = PathOf("frame" + std::to_string(q) + ".jpg");
      ASSERT_TRUE(Save(path, *frame, m, qualities[q].format)) << m.name;
      testing::JpegFile jpeg;
      ASSERT_TRUE(testing::ReadJpegFile(path, jpeg)) << m.name;
      EXPECT_TRUE(jpeg.progressive) << m.name;
      ASSERT_EQ(jpeg.picture.channels, expected.channels) << m.name;
      ASSERT_EQ(jpeg.picture.width, expected.width) << m.name;
      ASSERT_EQ(jpeg.picture.height, expected.height) << m.name;
      EXPECT_GE(testing::Psnr(jpeg.picture, expected), qualities[q].minPsnr)
          << m.name << " format " << qualities[q].format;
      sizes[q] = fs::file_size(path);
    }
    EXPECT_GT(sizes[0], sizes[1]) << m.name;
    EXPECT_GT(sizes[1], sizes[2]) << m.name;
  }
}

// Fault caught: deep samples moved by the fixed shifts of 10-bit pictures
// whatever their depth (a 14-bit 0x2000 shifted by 4 wraps to 0: black), or
// 10-bit pictures no longer written as they always were.
TEST_F(ImageWritersTest, DeepSamplesKeepTheirTopBitsAtEveryDepth) {
  struct Case {
    const char* name;
    int colorClass, bits;
    uint32_t held;
    uint16_t wide;    // PNG and TIFF sample
    uint8_t reduced;  // JPEG sample
  };
  const Case cases[] = {
      {"mono 10 top", 1, 10, 1023, 16368, 255},
      {"mono 10 341", 1, 10, 341, 5456, 85},
      {"mono 12 top", 1, 12, 4095, 65520, 255},
      {"mono 14 0x2000", 1, 14, 0x2000, 0x8000, 128},
      {"mono 16 0x8001", 1, 16, 0x8001, 0x8001, 128},
      {"colour 10 top", 4, 10, 1023, 65472, 255},
      {"colour 10 341", 5, 10, 341, 21824, 85},
      {"colour 12 0x800", 4, 12, 0x800, 0x8000, 128},
      {"colour 14 0x2000", 5, 14, 0x2000, 0x8000, 128},
      {"colour 16 top", 4, 16, 65535, 65535, 255},
  };
  for (const Case& c : cases) {
    const ColorMode m{c.name, c.colorClass, c.bits, 0};
    DibImage frame;
    ASSERT_TRUE(frame.Create(8, 8, BitCountOf(c.colorClass)));
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < frame.BytesPerPixel() * 8; x += 2) {
        frame.Row(y)[x] = static_cast<uint8_t>(c.held);
        frame.Row(y)[x + 1] = static_cast<uint8_t>(c.held >> 8);
      }
    }
    testing::PngFile png;
    ASSERT_TRUE(Save(PathOf("d.png"), frame, m, kSaveFormatPng)) << c.name;
    ASSERT_TRUE(testing::ReadPngFile(PathOf("d.png"), png)) << c.name;
    EXPECT_EQ(png.picture.At(5, 6, 0), c.wide) << c.name;
    testing::TiffFile tiff;
    ASSERT_TRUE(Save(PathOf("d.tif"), frame, m, kSaveFormatTiff)) << c.name;
    ASSERT_TRUE(testing::ReadTiffFile(PathOf("d.tif"), tiff)) << c.name;
    EXPECT_EQ(tiff.picture.At(5, 6, 0), c.wide) << c.name;
    testing::JpegFile jpeg;
    ASSERT_TRUE(Save(PathOf("d.jpg"), frame, m, kSaveFormatJpeg100)) << c.name;
    ASSERT_TRUE(testing::ReadJpegFile(PathOf("d.jpg"), jpeg)) << c.name;
    EXPECT_NEAR(jpeg.picture.At(5, 6, 0), c.reduced, 1) << c.name;
  }
}

// Fault caught: a refused save that still creates (or truncates) a file: a
// null name or image, an image without pixels, an unknown format (negative
// numbers included), an image that is not its class's, a name the system
// refuses, a directory that does not exist, a picture too large for JPEG.
TEST_F(ImageWritersTest, RefusedAndImpossibleSavesCreateNoFile) {
  const ColorMode colour = kColorModes[5];  // 24-bit
  const auto frame = MakeFrame(colour, kWidth, kHeight);
  ASSERT_TRUE(frame);
  const DibImage empty;
  fs::create_directories(dir_ / "folder");
  { std::ofstream(dir_ / "plain.txt") << "x"; }
  const std::string missing = PathOf("missing/frame.out");
  const std::string throughFile = PathOf("plain.txt/frame.out");
  const std::string folder = PathOf("folder");
  const std::string good = PathOf("frame.out");
#if defined(_WIN32)
  const std::string pipe = PathOf("bad|name.png");
  const std::string question = PathOf("bad?name.png");
#endif

  struct Case {
    const char* name;
    const char* fileName;
    const DibImage* image;
    int colorClass, bits;
    int format;  // -2: every format
  };
  const Case cases[] = {
    {"null name", nullptr, frame.get(), 2, 8, -2},
    {"null image", good.c_str(), nullptr, 2, 8, -2},
    {"image without pixels", good.c_str(), &empty, 2, 8, -2},
    {"format 7", good.c_str(), frame.get(), 2, 8, 7},
    {"format -1", good.c_str(), frame.get(), 2, 8, -1},
    {"format 0x7fffffff", good.c_str(), frame.get(), 2, 8, 0x7FFFFFFF},
    {"24-bit image as class 3", good.c_str(), frame.get(), 3, 8, -2},
    {"24-bit image as class 9", good.c_str(), frame.get(), 9, 8, -2},
    {"missing directory", missing.c_str(), frame.get(), 2, 8, -2},
    {"path through a file", throughFile.c_str(), frame.get(), 2, 8, -2},
    {"a directory", folder.c_str(), frame.get(), 2, 8, -2},
    {"empty name", "", frame.get(), 2, 8, -2},
#if defined(_WIN32)
    // Characters Windows does not allow in a file name.
    {"name with |", pipe.c_str(), frame.get(), 2, 8, -2},
    {"name with ?", question.c_str(), frame.get(), 2, 8, -2},
#endif
  };
  const std::set<std::string> before = Listing();
  for (const Case& c : cases) {
    for (int format = 0; format <= 6; ++format) {
      if (c.format != -2 && format > 0) break;
      const int f = c.format == -2 ? format : c.format;
      EXPECT_FALSE(SaveImageFile(c.fileName, c.image, c.colorClass, c.bits, f))
          << c.name << " format " << f;
      EXPECT_EQ(Listing(), before) << c.name << " format " << f;
    }
  }

  // Deep classes need their significant bits: 8 is not a deep depth.
  const auto deep = MakeFrame(kColorModes[1], kWidth, kHeight);
  EXPECT_FALSE(SaveImageFile(good.c_str(), deep.get(), 1, 8, kSaveFormatPng));
  EXPECT_EQ(Listing(), before);

  // JPEG holds at most 65500 pixels a side.
  DibImage wide;
  ASSERT_TRUE(wide.Create(65501, 1, 8));
  EXPECT_FALSE(SaveImageFile(good.c_str(), &wide, 0, 8, kSaveFormatJpeg70));
  EXPECT_EQ(Listing(), before);
}

// Fault caught: saving over an existing, longer file that is not truncated
// (the old tail stays behind the new picture).
TEST_F(ImageWritersTest, SavingOverALongerFileReplacesIt) {
  const ColorMode m = kColorModes[5];
  const auto big = MakeFrame(m, 200, 100);
  const auto small = MakeFrame(m, kWidth, kHeight);
  ASSERT_TRUE(big && small);
  for (int format = 0; format <= 6; ++format) {
    const std::string path = PathOf("over" + std::to_string(format));
    ASSERT_TRUE(Save(path, *small, m, format)) << format;
    const std::vector<uint8_t> alone = testing::ReadWholeFile(path);
    ASSERT_TRUE(Save(path, *big, m, kSaveFormatBmp)) << format;
    ASSERT_TRUE(Save(path, *small, m, format)) << format;
    EXPECT_TRUE(testing::ReadWholeFile(path) == alone) << format;
  }
}

// Number of descriptors the process holds, or -1 where the system does not
// show them (Windows). Under Wine the path would list the descriptors of the
// emulator's own process, which come and go with its work, not ours.
int OpenDescriptors() {
#if defined(_WIN32)
  return -1;
#else
  std::error_code error;
  int n = 0;
  for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++n;
  }
  return error ? -1 : n;
#endif
}

// Fault caught: unchecked writes or close (a full disk reported as a saved
// picture), libjpeg's standard error exit ending the process, a handle left
// open on the failure path. Small pictures fail when the writer's last
// buffer goes out, large ones in the middle of the stream.
TEST_F(ImageWritersTest, FullDiskFailsEveryFormatAndLeavesNothingOpen) {
#if defined(_WIN32)
  // Under Wine the machine's root is drive Z:.
  const std::string full = "Z:\\dev\\full";
#else
  const std::string full = "/dev/full";
#endif
  // The device must open, or every save would fail before writing anything.
  std::FILE* probe = std::fopen(full.c_str(), "wb");
  if (probe == nullptr) GTEST_SKIP() << "no full device";
  std::fclose(probe);
  for (const ColorMode& m : {kColorModes[0], kColorModes[4], kColorModes[5], kColorModes[12]}) {
    for (const int side : {8, 700}) {
      const auto frame = MakeFrame(m, side, side);
      ASSERT_TRUE(frame);
      // Noise, so that even the compressed formats outgrow their buffers.
      std::mt19937 noise(side);
      for (size_t i = 0; i < frame->ImageSize(); ++i) frame->Pixels()[i] = noise() & 0xFF;
      for (int format = 0; format <= 6; ++format) {
        const int open = OpenDescriptors();
        EXPECT_FALSE(Save(full, *frame, m, format))
            << m.name << " " << side << " format " << format;
        if (open >= 0) {
          EXPECT_EQ(OpenDescriptors(), open) << m.name << " " << side << " format " << format;
        }
      }
    }
  }
}

#if !defined(_WIN32)
// Saves in a child process whose files may grow to `limit` bytes (a disk
// that fills up exactly there); true when the save reported success.
bool SavesWithFileLimit(const std::string& path, const DibImage& image, const ColorMode& m,
                        int format, rlim_t limit) {
  const pid_t child = fork();
  if (child == 0) {
    // A write past the limit then fails with EFBIG instead of ending the
    // process.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit size{limit, limit};
    setrlimit(RLIMIT_FSIZE, &size);
    _exit(Save(path, image, m, format) ? 1 : 0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

// Fault caught: a write whose failure a writer does not check, at whatever
// point of the file the disk fills up: the last byte of a picture (the TIFF
// directory, written at the end; the PNG end chunk; the JPEG end marker), its
// middle, its first byte. A picture cut short must never be reported saved.
TEST_F(ImageWritersTest, FilesCutShortAtAnyPointAreNotReportedSaved) {
  for (const ColorMode& m : {kColorModes[0], kColorModes[4], kColorModes[12]}) {
    const auto frame = MakeFrame(m, kWidth, kHeight);
    ASSERT_TRUE(frame);
    for (int format = 0; format <= 6; ++format) {
      const std::string path = PathOf("cut." + std::to_string(format));
      ASSERT_TRUE(Save(path, *frame, m, format)) << m.name << " format " << format;
      const auto whole = static_cast<rlim_t>(fs::file_size(path));
      for (const rlim_t limit : {whole - 1, whole / 2, rlim_t{1}}) {
        EXPECT_FALSE(SavesWithFileLimit(path, *frame, m, format, limit))
            << m.name << " format " << format << ": " << limit << " of " << whole << " bytes";
      }
      EXPECT_TRUE(SavesWithFileLimit(path, *frame, m, format, whole))
          << m.name << " format " << format << ": a limit the file fits in";
    }
  }
}
#endif

// Fault caught: writer state shared between calls (the PNG writer's file,
// structures and recovery point in process-wide variables), so that two
// threads saving at once write into each other's files.
TEST_F(ImageWritersTest, TwoThreadsSaveAtOnceWithoutMixingTheirFiles) {
  const ColorMode modes[2] = {kColorModes[5], kColorModes[2]};
  const std::unique_ptr<DibImage> frames[2] = {MakeFrame(modes[0], 61, 47),
                                               MakeFrame(modes[1], 33, 29)};
  ASSERT_TRUE(frames[0] && frames[1]);
  std::atomic<int> failures{0};
  auto worker = [&](int k) {
    const DecodedPicture png = testing::ExpectedWide(*frames[k], modes[k]);
    const DecodedPicture tiff = testing::ExpectedWide(*frames[k], modes[k]);
    for (int round = 0; round < 20; ++round) {
      const std::string base = PathOf("thread" + std::to_string(k));
      testing::PngFile p;
      testing::TiffFile t;
      testing::JpegFile j;
      const bool ok =
          Save(base + ".png", *frames[k], modes[k], kSaveFormatPng) &&
          testing::ReadPngFile(base + ".png", p) && p.picture.samples == png.samples &&
          Save(base + ".tif", *frames[k], modes[k], kSaveFormatTiff) &&
          testing::ReadTiffFile(base + ".tif", t) && t.picture.samples == tiff.samples &&
          Save(base + ".jpg", *frames[k], modes[k], kSaveFormatJpeg70) &&
          testing::ReadJpegFile(base + ".jpg", j) && j.picture.width == frames[k]->Width();
      if (!ok) ++failures;
    }
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
}  // namespace varnel
