// The first picture a user gets: every model on a fresh store, the mirror
// settings through the exports, windows of odd size, and settings a store
// holds for another model. Each picture is judged against the virtual head's
// scene as it is: colour bars over the upper half (white, yellow, cyan,
// green, magenta, red, blue, black at 75 % of full scale) and a gray ramp
// rising from the left below. The same cases run on Linux and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/camera_session.h"
#include "store_per_test.h"
#include "support/test_clock.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'F';
constexpr int kSceneLevel = 192;  // 75 % of 255

// The stored vertical mirror each model starts with, and whether its sensor
// reads the scene's bottom first (the lens turns the scene over; a window's
// first sensor rows then lie at the bottom of the scene).
struct ModelCase {
  const char* name;
  ModelCode code;
  int type;
  int storedMirrorV;
  bool bottomFirst;
};
constexpr ModelCase kCases[] = {
    {"HWH8", kModelHWH8, 0, 1, true},  {"HXA1", kModelHXA1, 1, 1, false},
    {"HXB2", kModelHXB2, 2, 1, false}, {"HXE5", kModelHXE5, 3, 0, true},
    {"HXC3", kModelHXC3, 4, 0, false}, {"R2T", kModelR2T, 5, 0, true},
    {"HYD4", kModelHYD4, 6, 0, false}, {"HZF6", kModelHZF6, 7, 1, true},
    {"HZG7", kModelHZG7, 8, 0, false},
};

// A 24-bit snapshot of the window the camera has, top row first.
Picture Snap24(CameraHandle h, ModelCode model) {
  int width = 0, height = 0;
  AcquisitionSize(h, model, &width, &height);
  Picture p = MakePicture(width, height, 3);
  EXPECT_EQ(Varnel_SetColorMode(h, 24), 1);
  EXPECT_EQ(Varnel_SnapShot(h, p.bytes.data(), static_cast<int>(p.bytes.size()), 1), 1);
  return p;
}

// Red, green and blue of the picture around (x, y): the mean of a 4 x 4 patch.
struct Rgb {
  int r, g, b;
};
Rgb At(const Picture& p, int x, int y) {
  int sum[3] = {};
  for (int dy = 0; dy < 4; ++dy) {
    for (int dx = 0; dx < 4; ++dx) {
      const uint8_t* px =
          p.Pixel(std::clamp(x + dx - 2, 0, p.width - 1), std::clamp(y + dy - 2, 0, p.height - 1));
      for (int c = 0; c < 3; ++c) sum[c] += px[c];
    }
  }
  return Rgb{sum[2] / 16, sum[1] / 16, sum[0] / 16};
}

std::string Show(Rgb c) {
  return "(" + std::to_string(c.r) + ", " + std::to_string(c.g) + ", " + std::to_string(c.b) + ")";
}

// How a picture shows the scene of a sensor of `width` x `height`: its
// upright form shows scene rows from `top` on and scene columns from 0, and
// the picture is that mirrored as `flipH` and `flipV` say.
struct View {
  uint32_t width, height;
  int top = 0;
  bool flipH = false, flipV = false;
};

// Checks a picture against the scene; returns what differs, empty when
// nothing does. Sample points the picture does not show are skipped.
std::vector<std::string> CompareWithScene(const Picture& p, const View& v) {
  std::vector<std::string> wrong;
  const uint32_t sensorWidth = v.width, sensorHeight = v.height;
  const bool flipH = v.flipH, flipV = v.flipV;
  if (p.width <= 0 || p.height <= 0 || static_cast<uint32_t>(p.width) > sensorWidth ||
      static_cast<uint32_t>(v.top + p.height) > sensorHeight) {
    wrong.push_back("picture " + std::to_string(p.width) + " x " + std::to_string(p.height) +
                    " does not lie on the sensor");
    return wrong;
  }
  auto shown = [&](int x, int y) {
    return x >= 0 && x < p.width && y >= v.top && y < v.top + p.height;
  };
  auto where = [&](int x, int y, int* px, int* py) {
    *px = flipH ? p.width - 1 - x : x;
    *py = flipV ? p.height - 1 - (y - v.top) : y - v.top;
  };
  // The bars: each channel on or off as the bar's colour says.
  static constexpr int kBars[8] = {7, 3, 6, 2, 5, 1, 4, 0};  // bit 0 red, 1 green, 2 blue
  static constexpr const char* kNames[8] = {"white",   "yellow", "cyan", "green",
                                            "magenta", "red",    "blue", "black"};
  const int barRow = static_cast<int>(sensorHeight / 4);
  for (int bar = 0; bar < 8; ++bar) {
    const int x = static_cast<int>((2 * bar + 1) * sensorWidth / 16);
    if (!shown(x + 4, barRow) || !shown(x, barRow + 4)) continue;
    int px = 0, py = 0;
    where(x, barRow, &px, &py);
    const Rgb c = At(p, px, py);
    const int channel[3] = {c.r, c.g, c.b};
    bool ok = true;
    for (int i = 0; i < 3; ++i) {
      const bool on = (kBars[bar] >> i & 1) != 0;
      ok = ok && (on ? channel[i] >= 144 : channel[i] <= 48);
    }
    if (!ok) wrong.push_back(std::string(kNames[bar]) + " bar reads " + Show(c));
    // The white bar at its reference brightness.
    if (bar == 0 && (std::min({c.r, c.g, c.b}) < kSceneLevel - 24 ||
                     std::max({c.r, c.g, c.b}) > kSceneLevel + 24)) {
      wrong.push_back("white bar at " + Show(c) + ", not about 192");
    }
  }
  // The ramp, gray and rising from the left, out to the picture's last row
  // and column: the scene fills the frame.
  const int rampRows[2] = {static_cast<int>(sensorHeight * 3 / 4), v.top + p.height - 4};
  const int rampColumns[3] = {p.width / 10, p.width / 2, p.width - 4};
  for (int y : rampRows) {
    for (int x : rampColumns) {
      if (y < static_cast<int>(sensorHeight / 2) + 4 || !shown(x, y)) continue;
      int px = 0, py = 0;
      where(x, y, &px, &py);
      const Rgb c = At(p, px, py);
      const int expected = static_cast<int>(int64_t{x} * kSceneLevel / (sensorWidth - 1));
      if (std::abs(c.r - expected) > 16 || std::abs(c.g - expected) > 16 ||
          std::abs(c.b - expected) > 16) {
        wrong.push_back("ramp at scene (" + std::to_string(x) + ", " + std::to_string(y) +
                        ") reads " + Show(c) + ", not about " + std::to_string(expected));
      }
    }
  }
  return wrong;
}

class FirstPictureTest : public ::testing::Test {
 protected:
  SteppingClock clock_{SteppingClock::kDefaultStart, std::chrono::microseconds(100)};
  ScopedCurrentClock installed_{&clock_};
};

// Fault caught: on the settings a new user gets, a picture upside down or
// with wrong colours (the stored mirror and Bayer phase of a model not
// matching its camera), too dark or too bright (the head's exposure not that
// of the stored gain and exposure), or filling only part of the frame (a
// default window larger than the sensor).
TEST_F(FirstPictureTest, EveryModelShowsTheSceneOnTheDefaults) {
  for (const ModelCase& m : kCases) {
    SCOPED_TRACE(m.name);
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready());
    const Picture p = Snap24(s.Handle(), m.code);
    for (const std::string& what :
         CompareWithScene(p, View{s.Head().sensorWidth(), s.Head().sensorHeight()})) {
      ADD_FAILURE() << what;
    }
    EXPECT_EQ(s.Errors(), std::vector<int>{});
  }
}

// Fault caught: the Bayer phase not following a mirror set through the
// exports (a vertical mirror on every model, a horizontal one on the models
// other than three), stepping on every call rather than on a change, or a
// mirror that does not mirror the picture (the model whose sensor cannot).
TEST_F(FirstPictureTest, MirrorsSetThroughTheExportsKeepTheColours) {
  const int combinations[][2] = {{0, 0}, {0, 1}, {1, 1}, {1, 0}, {0, 0}};
  for (const ModelCase& m : kCases) {
    CameraSession s(m.code, m.type, kLetter);
    ASSERT_TRUE(s.Ready()) << m.name;
    const CameraHandle h = s.Handle();
    for (const auto& [v, hm] : combinations) {
      SCOPED_TRACE(std::string(m.name) + " mirror V " + std::to_string(v) + " H " +
                   std::to_string(hm));
      // Each flag set twice: only a change may move the phase.
      for (int repeat = 0; repeat < 2; ++repeat) {
        EXPECT_EQ(Varnel_SetMirrorV(h, v), 1);
        EXPECT_EQ(Varnel_SetMirrorH(h, hm), 1);
      }
      EXPECT_EQ(Varnel_GetMirrorV(h), v);
      EXPECT_EQ(Varnel_GetMirrorH(h), hm);
      const Picture p = Snap24(h, m.code);
      Varnel_StopPreview(h);
      const View view{s.Head().sensorWidth(), s.Head().sensorHeight(), 0, hm != 0,
                      v != m.storedMirrorV};
      for (const std::string& what : CompareWithScene(p, view)) ADD_FAILURE() << what;
    }
    EXPECT_EQ(s.Errors(), std::vector<int>{});
  }
}

// A handle on the head attached at kLetter, with camera type `type`, on the
// store the test has (not a fresh one: the tests below share it between
// handles as one user's store is shared between programs and models).
CameraHandle OpenCamera(int type) {
  const CameraHandle h = Varnel_Initialize(nullptr);
  std::vector<char> names(32 * 256);
  const int count = Varnel_EnumDevice(h, names.data());
  for (int i = 0; i < count; ++i) {
    if (std::string(&names[static_cast<size_t>(i) * 256]) == "F:") {
      EXPECT_EQ(Varnel_SetDeviceNumber(h, i), 1);
    }
  }
  EXPECT_EQ(Varnel_SetCameraType(h, type), 1);
  // A window stored for a larger model falls back to the sensor's (7).
  for (int code = Varnel_GetLastError(h); code != 0; code = Varnel_GetLastError(h)) {
    EXPECT_EQ(code, 7);
  }
  return h;
}

// Fault caught: one store serving every model carries a model's mirrors,
// Bayer phase, gain and exposure to the next (HXE5 after HXA1 with HXA1's
// colours, HYD4 overexposed at HXA1's exposure, a wrong DNG pattern), or a
// look at one model (`varnelcam info`) rewriting what is stored for another
// (HYD4 clamping HXA1's exposure to its own range).
TEST_F(FirstPictureTest, SettingsStoredForAnotherModelDoNotCarryOver) {
  // HXA1 with an exposure of the user's own, and its mirrors and phase.
  auto hxa1 = std::make_shared<VirtualHead>(kModelHXA1);
  ASSERT_TRUE(hxa1->AttachTo(kLetter));
  CameraHandle h = OpenCamera(1);
  ASSERT_EQ(Varnel_SetExposureTime(h, 1200), 1);
  Varnel_Release(h);
  hxa1->Detach();
  const std::string stored = TestStore().Snapshot();

  for (const ModelCase& m : kCases) {
    if (m.code == kModelHXA1) continue;
    SCOPED_TRACE(m.name);
    auto head = std::make_shared<VirtualHead>(m.code);
    ASSERT_TRUE(head->AttachTo(kLetter));
    h = OpenCamera(m.type);
    const Picture p = Snap24(h, m.code);
    // The window stored for HXA1 serves the models it fits (one set of
    // windows for every model); on the sensors that read the scene's bottom
    // first it shows the scene's lower part.
    View view{head->sensorWidth(), head->sensorHeight()};
    if (m.bottomFirst) view.top = static_cast<int>(view.height) - p.height;
    for (const std::string& what : CompareWithScene(p, view)) ADD_FAILURE() << what;
    Varnel_Release(h);
    head->Detach();
    // Nothing changed: nothing stored for the model before is rewritten.
    EXPECT_EQ(TestStore().Snapshot(), stored);
  }

  ASSERT_TRUE(hxa1->AttachTo(kLetter));
  h = OpenCamera(1);
  EXPECT_EQ(Varnel_GetExposureTime(h, nullptr), 1200);
  EXPECT_EQ(Varnel_GetMirrorV(h), 1);
  EXPECT_EQ(Varnel_GetBayerMode(h, nullptr), 3);
  Varnel_Release(h);
  hxa1->Detach();
}

}  // namespace
}  // namespace varnel::testing
