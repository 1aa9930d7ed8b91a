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
#include "support/scene_check.h"
#include "store_per_test.h"
#include "support/test_clock.h"
#include "varnel.h"

namespace varnel::testing {
namespace {

constexpr char16_t kLetter = u'F';

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
  for (const ModelCase& m : kModelCases) {
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
  for (const ModelCase& m : kModelCases) {
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

// Fault caught: a window of odd origin or size showing wrong colours (yellow
// and cyan bars pink): the origin not taken down to even where the head
// starts its read-out there, or an odd height that moves the picture's first
// row onto the mosaic's other row.
TEST_F(FirstPictureTest, OddWindowsKeepTheColours) {
  struct Case {
    const char* name;
    ModelCode code;
    int type;
    int width, height, x, y;
    int sceneColumn;  // of the picture's first column
  };
  // The heads with window registers (and HWH8, which takes the origin with
  // the stream) read from the origin taken down to even; HXC3 reads from its
  // sensor's origin whatever the window says. HWH8's window lies where its
  // sensor sees the scene's top.
  const Case cases[] = {
      {"HXA1", kModelHXA1, 1, 641, 481, 101, 51, 100},
      {"HXB2", kModelHXB2, 2, 641, 481, 101, 51, 100},
      {"R2T", kModelR2T, 5, 641, 401, 101, 51, 100},
      {"HWH8", kModelHWH8, 0, 1001, 481, 701, 7661, 700},
      {"HXC3", kModelHXC3, 4, 641, 481, 101, 51, 0},
      {"HXA1 even", kModelHXA1, 1, 640, 480, 100, 50, 100},
  };
  static constexpr int kBars[8] = {7, 3, 6, 2, 5, 1, 4, 0};  // bit 0 red, 1 green, 2 blue
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraSession s(c.code, c.type, kLetter);
    ASSERT_TRUE(s.Ready());
    const CameraHandle h = s.Handle();
    ASSERT_EQ(Varnel_SetCaptureWindowEx(h, 0, c.x, c.width, 0, c.y, c.height), 1);
    const Picture p = Snap24(h, c.code);
    const int sensorWidth = static_cast<int>(s.Head().sensorWidth());
    int checked = 0;
    for (int bar = 0; bar < 8; ++bar) {
      const int x = (2 * bar + 1) * sensorWidth / 16 - c.sceneColumn;
      if (x < 8 || x >= p.width - 8) continue;
      const Rgb rgb = At(p, x, 40);
      const int channel[3] = {rgb.r, rgb.g, rgb.b};
      for (int i = 0; i < 3; ++i) {
        const bool on = (kBars[bar] >> i & 1) != 0;
        EXPECT_TRUE(on ? channel[i] >= 144 : channel[i] <= 48)
            << "bar " << bar << " reads " << Show(rgb);
      }
      ++checked;
    }
    EXPECT_GE(checked, 1);
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

  for (const ModelCase& m : kModelCases) {
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
