// varnelcam end to end: the tool runs as a user runs it (a separate process,
// a virtual camera head started with --virtual), and what it writes is read
// back with the image libraries' own decoders.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <optional>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/virtual_head.h"
#include "support/image_readers.h"

namespace {

namespace fs = std::filesystem;
using varnel::testing::DecodedPicture;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

// Each test gets an empty drives directory (no camera but the virtual head
// the tool starts), a settings store of its own that starts empty (the
// settings a new user gets), and a scratch directory for the files the tool
// writes.
class VarnelcamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/varnelcam-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "drives");
    setenv("VARNEL_DRIVES", (dir_ / "drives").c_str(), 1);
    setenv("VARNEL_REGISTRY", (dir_ / "settings.reg").c_str(), 1);
  }

  // A store as a new user has it, for a case that must not see what an
  // earlier case set.
  void FreshStore() { fs::remove(dir_ / "settings.reg"); }
  void TearDown() override { fs::remove_all(dir_); }

  Result Run(const std::vector<std::string>& args, const std::string& env = "") {
    std::string command = env + " '" VARNELCAM_PATH "'";
    for (const std::string& arg : args) command += " '" + arg + "'";
    // A file per run: two runs may go on at once (two programs on a camera).
    static std::atomic<int> runs{0};
    const fs::path errPath = dir_ / ("stderr-" + std::to_string(runs++) + ".txt");
    command += " 2>'" + errPath.string() + "'";
    Result result;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    size_t n = 0;
    while ((n = fread(chunk, 1, sizeof chunk, pipe)) > 0) result.out.append(chunk, n);
    const int wait = pclose(pipe);
    result.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    std::ifstream err(errPath);
    std::stringstream text;
    text << err.rdbuf();
    result.err = text.str();
    return result;
  }

  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  fs::path dir_;
};

// Colour of pixel (x, y) of a decoded picture as red, green, blue, 8 bits.
struct Rgb {
  int r, g, b;
};

// The colour bars of the virtual head (white, yellow, cyan, green, magenta,
// red, blue, black) fill the sensor's top half; `bar` 0..7, sampled in the
// middle of the bar at a quarter of the height.
Rgb ExpectedBar(int bar) {
  static const Rgb kBars[8] = {{1, 1, 1}, {1, 1, 0}, {0, 1, 1}, {0, 1, 0},
                               {1, 0, 1}, {1, 0, 0}, {0, 0, 1}, {0, 0, 0}};
  return kBars[bar];
}

// True when `colour` is bar `bar`'s colour: primaries on are bright, off dark.
::testing::AssertionResult IsBarColour(Rgb colour, int bar) {
  const Rgb want = ExpectedBar(bar);
  const int got[3] = {colour.r, colour.g, colour.b};
  const int on[3] = {want.r, want.g, want.b};
  for (int c = 0; c < 3; ++c) {
    if ((on[c] && got[c] < 120) || (!on[c] && got[c] > 60)) {
      return ::testing::AssertionFailure() << "bar " << bar << " reads (" << colour.r << ", "
                                           << colour.g << ", " << colour.b << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

// Fault caught: a format saved under another's name, channels swapped (BGR
// written as RGB), a picture upside down or of the wrong size after
// sub-sampling, a file any other program cannot decode.
TEST_F(VarnelcamTest, SnapWritesEveryFormatThatDecodesToTheScene) {
  struct Case {
    const char* format;
    const char* file;
  };
  const Case cases[] = {
      {"bmp", "s.bmp"}, {"raw", "s.raw"}, {"jpg", "s.jpg"}, {"png", "s.png"}, {"tif", "s.tif"}};
  // A quarter of HXA1's 2048 x 1536: the whole scene at 512 x 384.
  constexpr int kWidth = 512, kHeight = 384;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    const Result run = Run({"snap", "--virtual", "HXA1", "--mode", "24", "--subsample", "2",
                            "--format", c.format, "-o", Path(c.file)});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("wrote " + Path(c.file) + " (512 x 384, 24-bit"), std::string::npos)
        << run.out;
    std::function<Rgb(int, int)> at;
    DecodedPicture picture;
    std::vector<uint8_t> raw;
    const std::string format = c.format;
    if (format == "bmp") {
      varnel::testing::BmpFile bmp;
      ASSERT_TRUE(varnel::testing::ReadBmpFile(Path(c.file), bmp));
      ASSERT_EQ(bmp.width, kWidth);
      ASSERT_EQ(std::abs(bmp.height), kHeight);
      ASSERT_EQ(bmp.bitCount, 24);
      raw = bmp.pixels;
      const bool bottomUp = bmp.height > 0;
      at = [raw, bottomUp](int x, int y) {
        const size_t row = bottomUp ? kHeight - 1 - y : y;
        const uint8_t* p = raw.data() + row * (kWidth * 3) + x * 3;
        return Rgb{p[2], p[1], p[0]};
      };
    } else if (format == "raw") {
      raw = varnel::testing::ReadWholeFile(Path(c.file));
      ASSERT_EQ(raw.size(), static_cast<size_t>(kWidth) * 3 * kHeight);
      at = [raw](int x, int y) {  // top row first, blue green red
        const uint8_t* p = raw.data() + static_cast<size_t>(y) * kWidth * 3 + x * 3;
        return Rgb{p[2], p[1], p[0]};
      };
    } else {
      if (format == "png") {
        varnel::testing::PngFile file;
        ASSERT_TRUE(varnel::testing::ReadPngFile(Path(c.file), file));
        picture = file.picture;
      } else if (format == "jpg") {
        varnel::testing::JpegFile file;
        ASSERT_TRUE(varnel::testing::ReadJpegFile(Path(c.file), file));
        picture = file.picture;
      } else {
        varnel::testing::TiffFile file;
        ASSERT_TRUE(varnel::testing::ReadTiffFile(Path(c.file), file));
        picture = file.picture;
      }
      ASSERT_EQ(picture.width, kWidth);
      ASSERT_EQ(picture.height, kHeight);
      ASSERT_EQ(picture.channels, 3);
      at = [picture](int x, int y) {
        return Rgb{picture.At(x, y, 0), picture.At(x, y, 1), picture.At(x, y, 2)};
      };
    }
    for (int bar = 0; bar < 8; ++bar) {
      EXPECT_TRUE(IsBarColour(at(bar * kWidth / 8 + kWidth / 16, kHeight / 4), bar));
    }
    // The lower half is a gray ramp, dark at the left.
    const Rgb left = at(8, kHeight * 3 / 4), right = at(kWidth - 8, kHeight * 3 / 4);
    EXPECT_LT(left.g + 100, right.g);
  }
}

struct DngImage {
  int width = 0, height = 0, bits = 0;
  uint16_t photometric = 0;
  std::vector<uint8_t> pattern;
  uint32_t whiteLevel = 0;
  std::vector<uint16_t> samples;
  uint16_t At(int x, int y) const { return samples[static_cast<size_t>(y) * width + x]; }
};

bool ReadDng(const std::string& path, DngImage* out) {
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return false;
  uint32_t width = 0, height = 0;
  uint16_t bits = 0, count = 0;
  uint8_t* pattern = nullptr;
  uint32_t* white = nullptr;
  bool ok = TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) &&
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height) &&
            TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits) &&
            TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &out->photometric) &&
            TIFFGetField(tif, TIFFTAG_CFAPATTERN, &count, &pattern) &&
            TIFFGetField(tif, TIFFTAG_WHITELEVEL, &count, &white);
  if (ok) {
    out->width = static_cast<int>(width), out->height = static_cast<int>(height);
    out->bits = bits;
    out->pattern.assign(pattern, pattern + 4);
    out->whiteLevel = white[0];
    out->samples.resize(static_cast<size_t>(width) * height);
    std::vector<uint8_t> line(TIFFScanlineSize(tif));
    for (uint32_t y = 0; ok && y < height; ++y) {
      ok = TIFFReadScanline(tif, line.data(), y, 0) == 1;
      for (uint32_t x = 0; ok && x < width; ++x) {
        out->samples[static_cast<size_t>(y) * width + x] =
            bits == 8 ? line[x] : static_cast<uint16_t>(line[2 * x] | line[2 * x + 1] << 8);
      }
    }
  }
  TIFFClose(tif);
  return ok;
}

// Fault caught: a DNG whose colour filter pattern is not the mosaic's (a raw
// developer then swaps red and blue or mixes green in), a pattern that does
// not follow a mirror, deep samples scaled or given the wrong white level.
TEST_F(VarnelcamTest, DngCarriesTheMosaicWithItsOwnColourFilterPattern) {
  struct Case {
    const char* model;
    std::vector<std::string> extra;  // options before the snap
    const char* mode;
    int bits;
    uint32_t white;
    std::vector<uint8_t> pattern;  // 0 red, 1 green, 2 blue
    bool mirrored = false;         // the bars come in the other order
    bool upsideDown = false;       // the bars are at the bottom
  };
  const Case cases[] = {
      {"HXA1", {}, "24", 8, 255, {1, 0, 2, 1}},    // G R / B G
      {"HXE5", {}, "24", 8, 255, {0, 1, 1, 2}},    // R G / G B
      {"HXE5", {}, "10", 16, 1023, {0, 1, 1, 2}},  // deep samples
      // A 10-bit sensor in the 16-bit modes, grey and colour: its samples
      // peak at 1023, and so does the white level.
      {"HXA1", {}, "16", 16, 1023, {1, 0, 2, 1}},
      {"HXA1", {}, "48", 16, 1023, {1, 0, 2, 1}},
      {"HXA1", {"mirror-h=1"}, "24", 8, 255, {0, 1, 1, 2}, true},         // mirrored: R G / G B
      {"HXE5", {"mirror-v=1"}, "24", 8, 255, {1, 2, 0, 1}, false, true},  // G B / R G
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.model) + " mode " + c.mode +
                 (c.extra.empty() ? "" : " " + c.extra[0]));
    FreshStore();
    if (!c.extra.empty()) {
      ASSERT_EQ(Run({"settings", "set", c.extra[0], "--virtual", c.model}).status, 0);
    }
    const std::string path = Path("m.dng");
    const Result run = Run({"snap", "--virtual", c.model, "--mode", c.mode, "--dng", path});
    ASSERT_EQ(run.status, 0) << run.err;
    DngImage dng;
    ASSERT_TRUE(ReadDng(path, &dng));
    EXPECT_EQ(dng.photometric, PHOTOMETRIC_CFA);
    EXPECT_EQ(dng.bits, c.bits);
    EXPECT_EQ(dng.whiteLevel, c.white);
    EXPECT_EQ(dng.pattern, c.pattern);
    // Develop each 2 x 2 cell with the file's own pattern: the bars must come
    // out in their colours, scaled to the white level.
    for (int bar = 0; bar < 8; ++bar) {
      const int x = (bar * dng.width / 8 + dng.width / 16) & ~1;
      const int y = ((c.upsideDown ? 3 : 1) * dng.height / 4) & ~1;
      int sum[3] = {0, 0, 0}, count[3] = {0, 0, 0};
      for (int i = 0; i < 4; ++i) {
        const int colour = dng.pattern[i];
        sum[colour] += dng.At(x + (i & 1), y + (i >> 1));
        ++count[colour];
      }
      const double scale = 255.0 / dng.whiteLevel;
      const Rgb rgb{static_cast<int>(sum[0] / count[0] * scale),
                    static_cast<int>(sum[1] / count[1] * scale),
                    static_cast<int>(sum[2] / count[2] * scale)};
      EXPECT_TRUE(IsBarColour(rgb, c.mirrored ? 7 - bar : bar));
    }
    fs::remove(path);
  }
}

struct StreamLine {
  double fps = 0;
  long read = -1, delivered = -1, dropped = -1;
};

StreamLine ParseCounters(const std::string& line) {
  static const std::regex kLine(
      R"(([0-9.]+) fps\s+link\s+[0-9.]+ MB/s\s+read (\d+)\s+delivered (\d+)\s+dropped (\d+))");
  std::smatch m;
  StreamLine parsed;
  if (std::regex_search(line, m, kLine)) {
    parsed.fps = std::stod(m[1]);
    parsed.read = std::stol(m[2]);
    parsed.delivered = std::stol(m[3]);
    parsed.dropped = std::stol(m[4]);
  }
  return parsed;
}

// Fault caught: counters that do not add up (read != delivered + dropped),
// more or fewer frames than asked for, frames saved out of order or more
// than once, terminal control characters in output that is not a terminal.
TEST_F(VarnelcamTest, StreamCountsAndSavesEveryNthFrame) {
  struct Case {
    const char* model;
    const char* frames;
    const char* every;
    int saved;
  };
  const Case cases[] = {{"HXA1", "12", "4", 3}, {"HXE5", "9", "3", 3}, {"R2T", "30", "10", 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.model);
    FreshStore();
    const fs::path saveDir = dir_ / (std::string("frames-") + c.model);
    fs::create_directories(saveDir);
    const Result run = Run({"stream", "--virtual", c.model, "--mode", "8", "--frames", c.frames,
                            "--save-every", c.every, "--save-dir", saveDir.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find('\r'), std::string::npos) << "not a terminal: plain lines";
    // The summary line is the last counters line.
    const size_t last = run.out.rfind(" fps  link");
    ASSERT_NE(last, std::string::npos) << run.out;
    const StreamLine counters = ParseCounters(run.out.substr(run.out.rfind('\n', last) + 1));
    EXPECT_EQ(counters.delivered, std::stol(c.frames)) << run.out;
    EXPECT_GE(counters.read, counters.delivered);
    EXPECT_EQ(counters.read, counters.delivered + counters.dropped);
    EXPECT_GT(counters.fps, 0.0);

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(saveDir)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(static_cast<int>(files.size()), c.saved);
    uint32_t previous = 0;
    for (const fs::path& file : files) {
      varnel::testing::PngFile png;
      ASSERT_TRUE(varnel::testing::ReadPngFile(file.string(), png)) << file;
      std::vector<uint8_t> bytes(png.picture.samples.begin(), png.picture.samples.end());
      const std::optional<uint32_t> stamp = varnel::VirtualHead::ReadStamp(
          bytes.data(), png.picture.width, png.picture.height, png.picture.width, 1);
      ASSERT_TRUE(stamp.has_value()) << file;
      EXPECT_GT(*stamp, previous) << file;
      previous = *stamp;
    }
  }
}

// Fault caught: triggered frames not counted, a frame delivered twice (the
// same camera frame number again); a steady rate that waits for the frames
// (it could never show a lost trigger) or losses not counted; a latency
// shorter than the head's read-out (a wrong clock or stamp); the models that
// take triggers not named.
TEST_F(VarnelcamTest, TriggerCountsFramesAgainstTriggersWithTheirLatency) {
  struct Case {
    std::vector<std::string> args;
    int status;
    long received, fired;  // received -1: fewer than fired
  };
  const Case cases[] = {
      {{"--frames", "3"}, 0, 3, 3},
      // A steady rate the host keeps up with easily.
      {{"--frames", "5", "--rate", "10", "--window", "256x64"}, 0, 5, 5},
      // Faster than the head reads frames out (68 ms each at full size): it
      // holds two, and the rest of the triggers find no free frame area.
      {{"--frames", "10", "--rate", "100"}, 1, -1, 10},
  };
  const std::regex summary(
      R"(trigger: (\d+) of (\d+) frames received, latency median ([\d.]+) ms, p99 ([\d.]+) ms, max ([\d.]+) ms)");
  const std::regex readout(R"(virtual head: read-out of one frame ([\d.]+) ms)");
  const std::regex number(R"(camera frame number (\d+))");
  for (const Case& c : cases) {
    std::vector<std::string> args = {"trigger", "--virtual", "HXA1", "--mode", "8"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const Result run = Run(args);
    SCOPED_TRACE(run.out + run.err);
    EXPECT_EQ(run.status, c.status);
    std::smatch line, head;
    ASSERT_TRUE(std::regex_search(run.out, line, summary));
    ASSERT_TRUE(std::regex_search(run.out, head, readout));
    const long received = std::stol(line[1]);
    EXPECT_EQ(std::stol(line[2]), c.fired);
    if (c.received >= 0) {
      EXPECT_EQ(received, c.received);
    } else {
      EXPECT_LT(received, c.fired);
      EXPECT_NE(run.err.find("triggers gave no frame"), std::string::npos);
    }
    const double median = std::stod(line[3]), p99 = std::stod(line[4]), max = std::stod(line[5]);
    EXPECT_GE(median, std::stod(head[1])) << "a frame before its read-out ended";
    EXPECT_LE(median, p99);
    EXPECT_LE(p99, max);
    std::vector<long> numbers;
    for (auto it = std::sregex_iterator(run.out.begin(), run.out.end(), number);
         it != std::sregex_iterator(); ++it) {
      numbers.push_back(std::stol((*it)[1]));
    }
    ASSERT_EQ(static_cast<long>(numbers.size()), received);
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], numbers[i - 1] + 1);
  }

  const Result list = Run({"list"});
  EXPECT_NE(list.out.find("HXA1  (takes triggers)"), std::string::npos) << list.out;
  EXPECT_NE(list.out.find("HZG7  (takes triggers)"), std::string::npos) << list.out;
  EXPECT_EQ(list.out.find("HXB2  (takes triggers)"), std::string::npos) << list.out;
  EXPECT_NE(Run({"info", "--virtual", "HXB2"}).out.find("triggers: no"), std::string::npos);
}

// Fault caught: a setting that is shown but not stored, or stored but never
// sent to the sensor (the next picture's brightness does not follow it); a
// register read that does not reach the sensor.
TEST_F(VarnelcamTest, SettingsAreStoredAndReachTheSensor) {
  auto rampRight = [&](const char* file) {
    const Result snap =
        Run({"snap", "--virtual", "HXA1", "--mode", "24", "--subsample", "2", "-o", Path(file)});
    EXPECT_EQ(snap.status, 0) << snap.err;
    varnel::testing::PngFile png;
    if (!varnel::testing::ReadPngFile(Path(file), png)) return -1;
    return static_cast<int>(png.picture.At(png.picture.width - 40, png.picture.height * 3 / 4, 1));
  };
  const int reference = rampRight("reference.png");
  // Half the stored reference exposure (1095): half the light.
  ASSERT_EQ(Run({"settings", "set", "sharpness=3", "exposure=548", "--virtual", "HXA1"}).status, 0);
  const Result show = Run({"settings", "show", "--virtual", "HXA1"});
  ASSERT_EQ(show.status, 0) << show.err;
  EXPECT_TRUE(std::regex_search(show.out, std::regex(R"(\nsharpness\s+3\s)"))) << show.out;
  EXPECT_TRUE(std::regex_search(show.out, std::regex(R"(\nexposure\s+548\s)"))) << show.out;
  ASSERT_EQ(Run({"settings", "set", "sharpness=0", "--virtual", "HXA1"}).status, 0);
  const int halved = rampRight("halved.png");
  ASSERT_GT(reference, 100);
  EXPECT_NEAR(halved, reference / 2, reference / 10) << "reference " << reference;

  // The head starts with its reference exposure in register 9 and keeps it
  // until a picture is taken with another.
  const Result reg = Run({"reg", "read", "9", "--virtual", "HXA1"});
  ASSERT_EQ(reg.status, 0) << reg.err;
  EXPECT_NE(reg.out.find("register 0x09 = 0x0447 (1095)"), std::string::npos) << reg.out;
}

// The processor's name as the system gives it (empty when it gives none).
std::string SystemProcessorName() {
  std::ifstream cpuinfo("/proc/cpuinfo");
  std::string line;
  while (std::getline(cpuinfo, line)) {
    if (line.rfind("model name", 0) != 0) continue;
    const size_t start = line.find_first_not_of(" \t", line.find(':') + 1);
    return start == std::string::npos ? "" : line.substr(start);
  }
  return "";
}

// Fault caught: a failure that exits 0, a crash instead of a message, a
// message without the library's code in words; a value the tool can check
// itself (a colour mode, a window beyond the sensor, a drive that cannot be
// named, a register address beyond the model's, a missing or empty option
// value) sent to the camera or exiting 1 or 3, or refused without the valid
// values; a register of a wider-address model out of reach; a file that
// cannot be written found only after the camera ran, or reported without the
// system's reason; a setting shown but not settable, or named differently in
// `info`; a setting that needs a camera to be read from the store; a JPEG of
// a deep picture labelled deep, a deep BMP written without a word; gain and
// exposure without their units; two disagreeing rates; the library's old
// processor table taken for the system's name, features it uses not listed.
TEST_F(VarnelcamTest, ArgumentsAndMessagesAsAUserMeetsThem) {
  struct Case {
    std::vector<std::string> args;
    int status;
    std::vector<std::string> out;          // in this order on the standard output
    std::vector<std::string> err;          // on the error stream
    std::vector<std::string> before = {};  // a run that comes first
    std::string env = "";
    std::vector<std::string> absent = {};  // on neither stream
  };
  const std::string missing = Path("no-such-dir");
  const std::string processor = SystemProcessorName();
  const Case cases[] = {
      // Exit statuses and the library's words.
      {{"snap"}, 3, {}, {"no camera found"}},
      {{"info"}, 3, {"library version: 0x00C90502 (201.5.2)"}, {"no camera found"}},
      {{"stream", "--device", "Q:", "--virtual", "HXA1"}, 3, {}, {"no camera found at 'Q:'"}},
      {{"snap", "--device", "1", "--virtual", "HXA1"}, 3, {}, {"no camera found at '1'"}},
      {{"snap", "--device", "ZZ", "--virtual", "HXA1"}, 2, {}, {"--device wants", "not 'ZZ'"}},
      {{"snap", "--device", "-1", "--virtual", "HXA1"}, 2, {}, {"--device wants", "not '-1'"}},
      {{"snap", "--virtual", "HXA1", "--mode", "20"},
       2,
       {},
       {"--mode wants one of 8, 10, 12, 14, 16, 24, 32, 30, 36, 42, 48, 640, 768, 896, 64, "
        "not '20'"}},
      {{"snap", "--virtual", "HXA1", "--window", "4000x4000"},
       2,
       {},
       {"--window 4000x4000+0+0 does not fit the HXA1's sensor (2048 x 1536)"}},
      {{"snap", "--virtual", "HYD4", "--window", "640x480"},
       2,
       {},
       {"a HYD4 always captures its whole sensor (1360 x 1024)"}},
      {{"snap", "-o"}, 2, {}, {"-o needs a value"}},
      {{"snap", "-o", "--virtual", "HXA1"}, 2, {}, {"-o needs a value"}},
      {{"snap", "-o", "", "--virtual", "HXA1"}, 2, {}, {"-o needs a value, not an empty one"}},
      {{"trigger", "--virtual", "HXB2"}, 1, {}, {"error 11 (operation not supported)"}},
      {{"snap", "--virtual", "NOPE"}, 2, {}, {"unknown camera model 'NOPE'"}},
      {{"snap", "--virtual", "HXA1", "--format", "gif"}, 2, {}, {"unknown format 'gif'"}},
      {{"stream", "--frames", "0"}, 2, {}, {"--frames wants a whole number from 1"}},
      {{"frobnicate"}, 2, {}, {"unknown command 'frobnicate'"}},
      {{"view", "--virtual", "HXA1"},
       2,
       {},
       {"no display"},
       {},
       "env -u DISPLAY -u WAYLAND_DISPLAY"},
      {{"--version"}, 0, {"varnelcam 0.201.5 (library 201.5.2, 0x00C90502)"}, {}},
      // Registers: each model's address width, values of 16 bits, the
      // address that is missing named as missing.
      // HXC3's exposure register, which holds the head's reference exposure.
      {{"reg", "read", "0x3166", "--virtual", "HXC3"}, 0, {"register 0x3166 = 0x01E0 (480)"}, {}},
      {{"reg", "write", "0x3FF", "0xBEEF", "--virtual", "HZG7"},
       0,
       {"register 0x3FF <- 0xBEEF (48879)"},
       {}},
      {{"reg", "read", "0x100", "--virtual", "HXA1"},
       2,
       {},
       {"ADDRESS (HXA1) wants a whole number from 0 to 255, not '0x100'"}},
      {{"reg", "read", "0x400", "--virtual", "HYD4"},
       2,
       {},
       {"ADDRESS (HYD4) wants a whole number from 0 to 1023"}},
      {{"reg", "write", "9", "70000", "--virtual", "HXA1"},
       2,
       {},
       {"VALUE wants a whole number from 0 to 65535, not '70000'"}},
      {{"reg", "read", "--virtual", "HXA1"}, 2, {}, {"reg read needs an ADDRESS"}},
      {{"reg", "write", "9", "--virtual", "HXA1"}, 2, {}, {"reg write needs a VALUE"}},
      // Files that cannot be written: found before the camera starts, with
      // the system's reason.
      {{"snap", "--virtual", "HXA1", "-o", missing + "/x.png"},
       2,
       {},
       {"cannot write '" + missing + "/x.png': No such file or directory"},
       {},
       "",
       {"wrote"}},
      {{"snap", "--virtual", "HXA1", "--dng", missing + "/x.dng"},
       2,
       {},
       {"No such file or directory"}},
      {{"stream", "--virtual", "HXA1", "--frames", "2", "--save-every", "1", "--save-dir", missing},
       2,
       {},
       {"cannot save frames into '" + missing + "': No such file or directory"},
       {},
       "",
       {"streaming"}},
      {{"view", "--virtual", "HXA1", "--save", missing + "/v.png"},
       2,
       {},
       {"cannot write '" + missing + "/v.png': No such file or directory"},
       {},
       "env -u DISPLAY -u WAYLAND_DISPLAY"},
      // Settings: everything shown can be set, with the range in every
      // refusal, and shown again without a camera.
      {{"settings", "show"},
       0,
       {"\nwindow           640x480+8+8", "\ncolor-mode       12", "\nsubsample        1",
        "\nwait-time        7", "\ngamma            150"},
       {},
       {"settings", "set", "window=640x480+8+8", "color-mode=12", "subsample=1", "wait-time=7",
        "gamma=150", "--type", "HXA1"}},
      {{"settings", "set", "capture-window=640x480"},
       0,
       {"window = 640x480+0+0"},
       {"'capture-window' is now called 'window'"}},
      {{"settings", "set", "gamma=abc"},
       2,
       {},
       {"gamma wants a whole number from 0 to 200, not 'abc'"}},
      {{"settings", "set", "gamma=300"},
       2,
       {},
       {"gamma wants a whole number from 0 to 200, not '300'"}},
      {{"settings", "set", "color-mode=20"}, 2, {}, {"color-mode wants one of 8, 10"}},
      {{"settings", "set", "gain=99", "--type", "HXA1"}, 2, {}, {"gain wants a whole number from"}},
      {{"settings", "set", "window=640x480", "--type", "HYD4"},
       2,
       {},
       {"always captures its whole sensor"}},
      {{"settings", "set", "colour=3"}, 2, {}, {"unknown setting 'colour'", "color-mode"}},
      {{"settings", "set", "gamma=999", "--virtual", "HXA1"}, 2, {}, {"from 0 to 200"}},
      // info: the same names, units for gain and exposure, the processor as
      // the system names it beside the library's own detection.
      {{"info", "--virtual", "HXA1"},
       0,
       {"processor: " + processor, "library's detection:",
        "features the library uses: MMX SSE SSE2", "\nwindow ", "\ncolor-mode ", "\nsubsample ",
        "\nwait-time ", "\ngain ", "steps of the sensor's gain, register 53 (0x35)", "\nexposure ",
        "units of the sensor's exposure register 9"},
       {}},
      {{"info", "--virtual", "HZG7"},
       0,
       {"units of the sensor's exposure, wide register 154)"},
       {}},
      // Honest labels: what the file holds.
      {{"snap", "--virtual", "HXA1", "--mode", "16", "--subsample", "2", "-o", Path("d.jpg")},
       0,
       {"(512 x 384, 8-bit grey jpg, from the 16-bit picture)"},
       {}},
      {{"snap", "--virtual", "HXA1", "--mode", "48", "--subsample", "2", "-o", Path("d.jpg")},
       0,
       {"(512 x 384, 24-bit colour jpg, from the 48-bit picture)"},
       {}},
      {{"snap", "--virtual", "HXA1", "--mode", "48", "--subsample", "2", "-o", Path("d.png")},
       0,
       {"(512 x 384, 48-bit colour png, 10 significant bits)"},
       {}},
      {{"snap", "--virtual", "HXA1", "--mode", "16", "--subsample", "2", "-o", Path("d.bmp")},
       0,
       {"16-bit grey bmp"},
       {"a 16-bit BMP in the library's own layout, which most viewers cannot open"}},
      // One rate, and one frame as one frame.
      {{"stream", "--virtual", "HXA1", "--window", "256x64", "--frames", "1"},
       0,
       {"1 frame\n", "stream: 1 frame delivered, a rate needs two frames"},
       {},
       {},
       "",
       {"1 frames", "library rate"}},
      {{"stream", "--virtual", "HXA1", "--window", "256x64", "--frames", "4"},
       0,
       {"stream: 4 frames delivered in ", " fps"},
       {},
       {},
       "",
       {"library rate"}},
  };
  for (const Case& c : cases) {
    std::string name;
    for (const std::string& a : c.args) name += "'" + a + "' ";
    SCOPED_TRACE(name);
    FreshStore();
    if (!c.before.empty()) {
      ASSERT_EQ(Run(c.before).status, 0);
    }
    const Result run = Run(c.args, c.env);
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    size_t at = 0;
    for (const std::string& text : c.out) {
      const size_t found = run.out.find(text, at);
      EXPECT_NE(found, std::string::npos) << "'" << text << "' not in (this order of)\n" << run.out;
      if (found != std::string::npos) at = found;
    }
    for (const std::string& text : c.err) {
      EXPECT_NE(run.err.find(text), std::string::npos) << "'" << text << "' not in\n" << run.err;
    }
    for (const std::string& text : c.absent) {
      EXPECT_EQ((run.out + run.err).find(text), std::string::npos) << text;
    }
  }
}

#ifdef VARNEL_CAMSIM_PATH
// A varnel-camsim daemon serving an HXA1 head on drive V: of the test's
// drives directory, so that the tool, a process of its own, reaches it.
class FuseHead {
 public:
  struct Camera {
    std::string model;
    char letter;
  };
  // One varnel-camsim serving every camera given, each on a mount of its own.
  explicit FuseHead(const fs::path& dir, const std::vector<Camera>& cameras = {{"HXA1", 'v'}})
      : drives_(dir / "drives") {
    std::vector<std::string> args = {VARNEL_CAMSIM_PATH};
    for (const Camera& c : cameras) {
      const fs::path mount = dir / (std::string("mnt-") + c.letter);
      fs::create_directories(mount);
      mounts_.push_back(mount);
      links_.push_back(drives_ / (std::string(1, c.letter) + "::"));
      args.insert(args.end(), {"--model", c.model, "--link", drives_.string() + ":" + c.letter,
                               mount.string()});
    }
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(VARNEL_CAMSIM_PATH, argv.data());
      _exit(127);
    }
    // Mounted once its drive entries are there (the daemon links after mounting).
    for (int i = 0; i < 300 && !Mounted(); ++i) usleep(100000);
  }
  ~FuseHead() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Mounted() const {
    for (size_t i = 0; i < mounts_.size(); ++i) {
      if (!fs::exists(links_[i]) || !fs::exists(mounts_[i] / "faults")) return false;
    }
    return true;
  }
  bool SetFaults(const std::string& text) const {
    std::ofstream faults(mounts_[0] / "faults");
    faults << text;
    faults.close();
    return !faults.fail();
  }

 private:
  fs::path drives_;
  std::vector<fs::path> mounts_, links_;
  pid_t pid_ = -1;
};

// Fault caught, with the tool as a user runs it: a camera pulled out
// mid-stream that the tool learns of only when its 30 s wait for a frame
// runs out (or reports as something else); a second program that takes over
// a camera another one streams from instead of being refused with the
// reason, breaking the first program's stream.
TEST_F(VarnelcamTest, PulledOutAndInUseCamerasAreReported) {
  FuseHead head(dir_);
  if (!head.Mounted()) GTEST_SKIP() << "varnel-camsim could not mount (no FUSE here?)";
  const std::vector<std::string> camera = {"--device", "V:", "--type", "HXA1"};
  auto with = [&](std::vector<std::string> args) {
    args.insert(args.end(), camera.begin(), camera.end());
    return args;
  };
  // A stream that runs until the camera goes, its output in files so that
  // the test sees when it has started; a second program meanwhile.
  const fs::path out = dir_ / "stream.out", err = dir_ / "stream.err";
  std::string command = "'" VARNELCAM_PATH "'";
  for (const std::string& a : with({"stream", "--window", "256x64", "--seconds", "3600"})) {
    command += " '" + a + "'";
  }
  command += " >'" + out.string() + "' 2>'" + err.string() + "'";
  int streamStatus = -1;
  std::thread streaming([&] {
    const int wait = std::system(command.c_str());
    streamStatus = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  });
  auto text = [](const fs::path& path) {
    std::ifstream file(path);
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
  };
  for (int i = 0; i < 600 && text(out).find("streaming from") == std::string::npos; ++i) {
    usleep(100000);
  }
  const Result second = Run(with({"snap", "-o", Path("second.png")}));
  EXPECT_EQ(second.status, 1);
  EXPECT_NE(second.err.find("another program is using the camera"), std::string::npos)
      << second.err;
  EXPECT_FALSE(fs::exists(Path("second.png")));
  ASSERT_TRUE(head.SetFaults("removed 1\n"));
  streaming.join();
  Result stream{streamStatus, text(out), text(err)};
  EXPECT_EQ(stream.status, 1) << stream.err;
  EXPECT_NE(stream.err.find("the camera stopped sending frames: error 8"), std::string::npos)
      << stream.err;
  // The first program's stream was never broken by the second.
  const size_t last = stream.out.rfind(" fps  link");
  ASSERT_NE(last, std::string::npos) << stream.out;
  const StreamLine counters = ParseCounters(stream.out.substr(stream.out.rfind('\n', last) + 1));
  EXPECT_GT(counters.delivered, 0);
  EXPECT_EQ(counters.read, counters.delivered + counters.dropped);
  // Plugged in again, the camera is there for the next program.
  ASSERT_TRUE(head.SetFaults("removed 0\n"));
  const Result again = Run(with({"snap", "--window", "256x64", "-o", Path("again.png")}));
  EXPECT_EQ(again.status, 0) << again.err;
}

// The last counters line of `camera` ("V: HXA1  ") in a stream's output.
std::optional<StreamLine> LastCounters(const std::string& out, const std::string& camera) {
  std::optional<StreamLine> last;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(camera, 0) == 0 && line.find(" fps  link") != std::string::npos) {
      last = ParseCounters(line.substr(camera.size()));
    }
  }
  return last;
}

// Fault caught: cameras of several heads listed without their models, or
// streamed one after another (or only the first) instead of at once; one
// camera's frames counted for another; a camera whose head tells its model
// driven as another type.
TEST_F(VarnelcamTest, StreamAllTakesEveryCameraAtOnceWithItsModel) {
  fs::remove(dir_ / "settings.reg");
  FuseHead heads(dir_, {{"HXA1", 'v'}, {"HXB2", 'w'}, {"HZG7", 'x'}});
  if (!heads.Mounted()) GTEST_SKIP() << "varnel-camsim could not mount (no FUSE here?)";
  const Result list = Run({"list"});
  ASSERT_EQ(list.status, 0) << list.err;
  for (const char* line : {"  0  V:  HXA1", "  1  W:  HXB2", "  2  X:  HZG7"}) {
    EXPECT_NE(list.out.find(line), std::string::npos) << line << "\n" << list.out;
  }
  const Result run = Run({"stream", "--all", "--frames", "6", "--window", "256x64", "--mode", "24",
                          "--wait-time", "0"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("streaming from 3 cameras: V: (HXA1), W: (HXB2), X: (HZG7)"),
            std::string::npos)
      << run.out;
  // HZG7's window is its whole sensor.
  const struct {
    const char* label;
    const char* size;
  } cameras[] = {{"V: HXA1  ", "256x64"}, {"W: HXB2  ", "256x64"}, {"X: HZG7  ", "2456x2038"}};
  for (const auto& c : cameras) {
    SCOPED_TRACE(c.label);
    const std::optional<StreamLine> counters = LastCounters(run.out, c.label);
    ASSERT_TRUE(counters.has_value()) << run.out;
    EXPECT_EQ(counters->delivered, 6);
    if (counters->read >= 0) {
      EXPECT_EQ(counters->read, counters->delivered + counters->dropped);
    }
    EXPECT_NE(run.out.find(std::string(c.label) + c.size + " 24-bit"), std::string::npos);
    EXPECT_NE(run.out.find(std::string("stream: ") + c.label + "6 frames delivered"),
              std::string::npos)
        << run.out;
  }
}

// A varnelcam run in the background, its output in files, stopped with
// Ctrl-C (SIGINT) once it has begun.
class BackgroundRun {
 public:
  BackgroundRun(const fs::path& dir, const std::vector<std::string>& args)
      : out_(dir / "background.out"), err_(dir / "background.err") {
    pid_ = fork();
    if (pid_ == 0) {
      freopen(out_.c_str(), "w", stdout);
      freopen(err_.c_str(), "w", stderr);
      std::vector<std::string> all = {VARNELCAM_PATH};
      all.insert(all.end(), args.begin(), args.end());
      std::vector<char*> argv;
      for (std::string& a : all) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(VARNELCAM_PATH, argv.data());
      _exit(127);
    }
  }
  ~BackgroundRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Out() const { return Text(out_); }
  std::string Err() const { return Text(err_); }
  // Waits until the output holds `text`; false when the run ended first.
  bool AwaitOutput(const std::string& text) const {
    while (Out().find(text) == std::string::npos) {
      if (waitpid(pid_, nullptr, WNOHANG) != 0) return false;
      usleep(20000);
    }
    return true;
  }
  // Ctrl-C, then the exit status.
  int Interrupt() {
    kill(pid_, SIGINT);
    int wait = 0;
    waitpid(pid_, &wait, 0);
    pid_ = -1;
    return WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
  }

 private:
  static std::string Text(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream all;
    all << file.rdbuf();
    return all.str();
  }
  fs::path out_, err_;
  pid_t pid_ = -1;
};

// Fault caught: Ctrl-C killing a command mid-acquisition: no summary, the
// camera left running, and the settings the release stores lost (the store
// then lacks the groups a first release writes).
TEST_F(VarnelcamTest, CtrlCEndsStreamingAndTriggeringCleanly) {
  FuseHead heads(dir_, {{"HXA1", 'v'}, {"HXB2", 'w'}});
  if (!heads.Mounted()) GTEST_SKIP() << "varnel-camsim could not mount (no FUSE here?)";
  struct Case {
    std::vector<std::string> args;
    const char* started;  // in the output once acquisition runs
    std::vector<std::string> summary;
  };
  const Case cases[] = {
      {{"stream", "--device", "V:", "--window", "256x64", "--seconds", "3600"},
       " fps  link",
       {"stream: "}},
      {{"stream", "--all", "--window", "256x64", "--seconds", "3600"},
       "W: HXB2  256x64",
       {"stream: V: HXA1  ", "stream: W: HXB2  "}},
      {{"trigger", "--device", "V:", "--window", "256x64", "--external", "--frames", "100"},
       "trigger armed on V:",
       {"trigger: 0 of 0 frames received"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    fs::remove(dir_ / "settings.reg");
    BackgroundRun run(dir_, c.args);
    ASSERT_TRUE(run.AwaitOutput(c.started)) << run.Out() << run.Err();
    EXPECT_EQ(run.Interrupt(), 130) << run.Err();
    for (const std::string& line : c.summary) {
      EXPECT_NE(run.Out().find(line), std::string::npos) << run.Out();
    }
    std::ifstream store(dir_ / "settings.reg");
    std::stringstream text;
    text << store.rdbuf();
    EXPECT_NE(text.str().find("\\Filter]"), std::string::npos) << text.str();
  }
}
#endif

// Fault caught: a subcommand whose help is missing or that treats --help as
// a command (starting a camera, exiting non-zero).
TEST_F(VarnelcamTest, EverySubcommandHasHelp) {
  for (const char* command :
       {"list", "info", "snap", "stream", "trigger", "view", "reg", "settings"}) {
    SCOPED_TRACE(command);
    const Result run = Run({command, "--help"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.rfind(std::string("usage: varnelcam ") + command, 0), 0u) << run.out;
  }
}

}  // namespace
