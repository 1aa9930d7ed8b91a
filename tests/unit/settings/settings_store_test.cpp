// The settings store's operations that the C interface does not reach (the
// camera dialog's size table, main values the instance keeps without a
// getter) and its behaviour when the registry refuses to create a key.
#include "settings/settings_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/memory_registry.h"

namespace varnel {
namespace {

using testing::MemoryRegistry;

const std::string kMain = kSettingsKeyPath;
std::string Entry(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "\\Size_%02d", index);
  return kMain + name;
}

SizePreset Preset(int width, int height) { return SizePreset{4000, 3000, width, height, 2, 4, 6}; }

// Fault caught: the main Size left pointing past the entries actually written
// (after a refused subkey, or when the dialog's Size is beyond its count),
// entries written beyond a refused one, more than 100 entries written.
TEST(SettingsStoreTest, SaveSizeTableNeverLeavesSizePastTheEntriesWritten) {
  struct Case {
    const char* name;
    int count;
    int size;
    int refused;  // entry whose subkey cannot be created, -1 none
    int written;
    int storedSize;
  };
  const Case cases[] = {
      {"all written, Size kept", 3, 2, -1, 3, 2},
      {"Size on the entry just added", 4, 3, -1, 4, 3},
      {"Size just past the entries", 3, 3, -1, 3, 0},
      {"refused at Size's entry", 3, 2, 2, 2, 0},
      {"Size beyond the count", 2, 5, -1, 2, 0},
      {"negative Size", 2, -3, -1, 2, 0},
      {"refused before Size's entry", 3, 2, 1, 1, 0},
      {"refused after Size's entry", 3, 1, 2, 2, 1},
      {"refused at the first entry", 3, 0, 0, 0, 0},
      {"count beyond the 100 slots", 150, 99, -1, 100, 99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryRegistry registry;
    if (c.refused >= 0) registry.refusedKeys.insert(Entry(c.refused));
    SizeTable table;
    for (int i = 0; i < kSizePresetSlots; ++i) table.entries[i] = Preset(100 + i, 50 + i);
    table.count = c.count;
    table.main.size = c.size;
    table.main.color = 4;
    EXPECT_EQ(SaveSizeTable(registry, table), true);
    for (int i = 0; i < c.written; ++i) {
      EXPECT_EQ(registry.Get(Entry(i), "EH"), 100 + i) << i;
      EXPECT_EQ(registry.Get(Entry(i), "Buf"), 6) << i;
    }
    EXPECT_FALSE(registry.HasKey(Entry(c.written))) << "written past the stop";
    EXPECT_EQ(registry.Get(kMain, "Size"), c.storedSize);
    EXPECT_EQ(registry.Get(kMain, "Color"), 4) << "main values written after a stop";
  }
}

// Fault caught: entries after a gap read, totals not replaced by the camera's
// (8192 x 8192 on HWH8, the sensor's maximum, 800 x 600 when it reports
// none), out-of-domain main values taken into the dialog.
TEST(SettingsStoreTest, LoadSizeTableReadsUpToTheFirstGapWithTheCamerasTotals) {
  MemoryRegistry registry;
  registry.AddKey(kMain);
  registry.Set(kMain, "Size", 1);
  registry.Set(kMain, "Color", 9);  // outside 0..5: the dialog's 0 stays
  registry.Set(kMain, "WaitTime", 33);
  for (int i : {0, 1, 2, 4}) {
    registry.AddKey(Entry(i));
    registry.Set(Entry(i), "TH", 111);
    registry.Set(Entry(i), "TV", 222);
    registry.Set(Entry(i), "EH", 10 * i);
  }
  struct Case {
    const char* name;
    bool camera;
    TableCamera info;
    int th, tv;
  };
  const Case cases[] = {
      {"no camera: stored totals", false, {}, 111, 222},
      {"HWH8", true, {kModelHWH8, 5000, 8192}, 8192, 8192},
      {"HXB2: the sensor's maximum", true, {kModelHXB2, 2592, 1944}, 2592, 1944},
      {"a sensor that reports no size", true, {kModelHXE5, 0, 0}, 800, 600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SizeTable table;
    ASSERT_TRUE(LoadSizeTable(registry, c.camera ? &c.info : nullptr, &table));
    EXPECT_EQ(table.count, 3);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(table.entries[i].width, 10 * i);
      EXPECT_EQ(table.entries[i].hTotal, c.th);
      EXPECT_EQ(table.entries[i].vTotal, c.tv);
      EXPECT_EQ(table.entries[i].height, 0) << "a missing value reads as 0";
      EXPECT_EQ(table.entries[i].bufferCount, 10) << "a missing Buf reads as 10";
    }
    EXPECT_EQ(table.entries[3].width, 0) << "entry after the gap read";
    EXPECT_EQ(table.main.size, 1);
    EXPECT_EQ(table.main.color, 0);
    EXPECT_EQ(table.main.waitTime, 33);
  }
  MemoryRegistry none;
  SizeTable empty;
  EXPECT_FALSE(LoadSizeTable(none, nullptr, &empty));
}

// Fault caught: flags other than 0/1 kept as they are, a bit depth code
// outside 0..4 taken (neither shows through the interface).
TEST(SettingsStoreTest, ClockSyncAndBitDepthAreCheckedWhenRead) {
  struct Case {
    const char* name;
    int32_t stored;
    int32_t CameraSettings::*field;
    int32_t expected;
  };
  const Case cases[] = {
      {"Clock", 5, &CameraSettings::clock, 1},    {"SyncV", -1, &CameraSettings::syncV, 1},
      {"SyncH", 0, &CameraSettings::syncH, 0},    {"BwMode", 5, &CameraSettings::bwMode, 7},
      {"BwMode", -1, &CameraSettings::bwMode, 7}, {"BwMode", 4, &CameraSettings::bwMode, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + std::to_string(c.stored));
    MemoryRegistry registry;
    registry.Set(kMain, c.name, c.stored);
    CameraSettings settings{7, 7, 7, 7, 7, 7, 7, 7};
    ASSERT_TRUE(LoadCameraSettings(registry, &settings));
    EXPECT_EQ(settings.*c.field, c.expected);
  }
}

// Fault caught: a first run that cannot create the store writing part of it,
// or leaving the instance's window as it was instead of the model's full area;
// a missing entry changing the preset.
TEST(SettingsStoreTest, LoadSizePresetWhenTheStoreCannotBeCreatedOrLacksTheEntry) {
  MemoryRegistry refusing;
  refusing.refusedKeys.insert(Entry(0));
  SizePreset preset = Preset(640, 480);
  EXPECT_FALSE(LoadSizePreset(refusing, 2048, 1536, &preset));
  EXPECT_EQ(preset.width, 2048);
  EXPECT_EQ(preset.vTotal, 1536);
  EXPECT_EQ(preset.hStart, 0);
  EXPECT_EQ(preset.bufferCount, 10);
  EXPECT_FALSE(refusing.Get(kMain, "Size").has_value()) << "a failed creation writes nothing";

  MemoryRegistry gap;
  gap.Set(kMain, "Size", 2);
  gap.Set(Entry(0), "EH", 320);
  preset = Preset(640, 480);
  EXPECT_FALSE(LoadSizePreset(gap, 2048, 1536, &preset));
  EXPECT_EQ(preset.width, 640);
  EXPECT_EQ(gap.WriteSessions(), 0) << "an existing store is not rewritten";
}

}  // namespace
}  // namespace varnel
