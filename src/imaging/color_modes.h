// The colour modes an application names by bits per pixel, and the output
// class and significant-bit code each selects.
#pragma once

#include "imaging/pixel_format.h"

namespace varnel {

struct ColorModeEntry {
  int mode;
  ColorClass colorClass;
  BitDepthCode bitDepth;
};

inline constexpr ColorModeEntry kColorModes[] = {
    {8, kColorClassMono8, 0},   {10, kColorClassMono16, 1}, {12, kColorClassMono16, 2},
    {14, kColorClassMono16, 3}, {16, kColorClassMono16, 4}, {24, kColorClassBgr24, 0},
    {32, kColorClassBgr32, 0},  {30, kColorClassBgr48, 1},  {36, kColorClassBgr48, 2},
    {42, kColorClassBgr48, 3},  {48, kColorClassBgr48, 4},  {640, kColorClassBgr64, 1},
    {768, kColorClassBgr64, 2}, {896, kColorClassBgr64, 3}, {64, kColorClassBgr64, 4},
};

// The entry of `mode`, or null for a mode the library does not take.
constexpr const ColorModeEntry* FindColorMode(int mode) {
  for (const ColorModeEntry& entry : kColorModes) {
    if (entry.mode == mode) return &entry;
  }
  return nullptr;
}

}  // namespace varnel
