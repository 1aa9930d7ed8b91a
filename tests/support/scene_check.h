// Judging a picture of the virtual head's scene as a user would: colour bars
// over the upper half (white, yellow, cyan, green, magenta, red, blue, black
// at 75 % of full scale) and a gray ramp rising from the left below, in the
// right colours, the right way up (or mirrored as asked), at about the
// scene's brightness, out to the picture's edges.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/camera_session.h"
#include "varnel.h"

namespace varnel::testing {

inline constexpr int kSceneLevel = 192;  // 75 % of 255

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
inline constexpr ModelCase kModelCases[] = {
    {"HWH8", kModelHWH8, 0, 1, true},  {"HXA1", kModelHXA1, 1, 1, false},
    {"HXB2", kModelHXB2, 2, 1, false}, {"HXE5", kModelHXE5, 3, 0, true},
    {"HXC3", kModelHXC3, 4, 0, false}, {"R2T", kModelR2T, 5, 0, true},
    {"HYD4", kModelHYD4, 6, 0, false}, {"HZF6", kModelHZF6, 7, 1, true},
    {"HZG7", kModelHZG7, 8, 0, false},
};

// A 24-bit snapshot of the window the camera has, top row first.
inline Picture Snap24(CameraHandle h, ModelCode model) {
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
inline Rgb At(const Picture& p, int x, int y) {
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

inline std::string Show(Rgb c) {
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
inline std::vector<std::string> CompareWithScene(const Picture& p, const View& v) {
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

}  // namespace varnel::testing
