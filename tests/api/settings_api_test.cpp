// The settings that survive the process, through the C interface: what a
// camera type loads, what Varnel_SetCaptureWindow picks, what release keeps.
// The store is read back and seeded through the system (the real registry
// under Wine, the store file on Linux), and each test has a fresh one.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/model_code.h"
#include "sim/virtual_head.h"
#include "store_per_test.h"
#include "varnel.h"

#ifndef _WIN32
#include <filesystem>
#include <fstream>
#include <sstream>
#endif

namespace {

using varnel::testing::SeedType;
using varnel::testing::SeedValue;
using varnel::testing::TestStore;

constexpr int kCaptureWindow = 7;
constexpr int kUnset = INT_MIN;  // a model default that leaves the value alone

// Camera types as Varnel_SetCameraType numbers them.
constexpr int kTypeHXA1 = 1;

std::vector<int> Window(CameraHandle h) {
  int v[6] = {};
  Varnel_GetCaptureWindowEx(h, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  return std::vector<int>(v, v + 6);  // hTotal, hStart, width, vTotal, vStart, height
}

std::vector<int> DrainErrors(CameraHandle h) {
  std::vector<int> codes;
  for (int code = Varnel_GetLastError(h); code != 0; code = Varnel_GetLastError(h)) {
    codes.push_back(code);
  }
  return codes;
}

// A complete, valid store for an HXA1 head: one preset and every value.
std::vector<SeedValue> CompleteStore() {
  return {
      {"", "Size", 0},
      {"", "Color", 5},
      {"", "SubSample", 1},
      {"", "WaitTime", 25},
      {"", "Clock", 1},
      {"", "SyncV", 1},
      {"", "SyncH", 0},
      {"", "BwMode", 4},
      {"Size_00", "TH", 2048},
      {"Size_00", "TV", 1536},
      {"Size_00", "EH", 1024},
      {"Size_00", "EV", 768},
      {"Size_00", "EHS", 16},
      {"Size_00", "EVS", 8},
      {"Size_00", "Buf", 4},
      {"Gain", "Global", 33},
      {"Gain", "Exposure", 777},
      {"Gain", "V_Mirror", 0},
      {"Gain", "H_Mirror", 0},
      {"Gain", "AutoIris", 1},
      {"Filter", "Brightness", 12},
      {"Filter", "Contrast", 0},
      {"Filter", "Hue", 0},
      {"Filter", "Saturation", 0},
      {"Filter", "Sharpness", 3},
      {"Filter", "R_Gain", 120},
      {"Filter", "G_Gain", 100},
      {"Filter", "B_Gain", 90},
      {"Filter", "Gamma", 150},
      {"Filter", "BayerMode", 2},
      {"Gray", "GainR1", 130},
      {"Gray", "GainG1", 128},
      {"Gray", "GainG2", 128},
      {"Gray", "GainB1", 126},
      {"Gray", "OffsetR1", -4},
      {"Gray", "OffsetG1", 0},
      {"Gray", "OffsetG2", 0},
      {"Gray", "OffsetB1", 9},
  };
}

class SettingsApiTest : public ::testing::Test {
 public:
  void TearDown() override {
    for (CameraHandle h : handles_) Varnel_Release(h);
    if (head_) head_->Detach();
  }

  CameraHandle Open() {
    const CameraHandle h = Varnel_Initialize(nullptr);
    EXPECT_NE(h, 0u);
    handles_.push_back(h);
    return h;
  }
  void Release(CameraHandle h) {
    EXPECT_EQ(Varnel_Release(h), 1);
    handles_.erase(std::remove(handles_.begin(), handles_.end(), h), handles_.end());
  }

  // Puts a head of `model` at drive Q: (replacing one of another model),
  // selects it on `h` and sets the camera type. Returns the errors recorded.
  std::vector<int> Select(CameraHandle h, varnel::ModelCode model, int type) {
    if (!head_ || head_->model() != model) {
      if (head_) head_->Detach();
      head_ = std::make_shared<varnel::VirtualHead>(model);
      EXPECT_TRUE(head_->AttachTo(u'Q'));
    }
    char names[32][256];
    const int count = Varnel_EnumDevice(h, &names[0][0]);
    int index = -1;
    for (int i = 0; i < count; ++i) {
      if (std::string(names[i]) == "Q:") index = i;
    }
    EXPECT_GE(index, 0) << "Q: not enumerated";
    EXPECT_EQ(Varnel_SetDeviceNumber(h, index), 1);
    EXPECT_EQ(Varnel_SetCameraType(h, type), 1);
    return DrainErrors(h);
  }

  std::vector<CameraHandle> handles_;
  std::shared_ptr<varnel::VirtualHead> head_;
};

// Fault caught: a first run that creates no store, a first preset other than
// the model's full area, wrong first-run main values, a wrong first-run
// filter or gray value (a Bayer gain of 128 where 100 is unity, say), model
// defaults of gain, exposure, mirror or Bayer mode taken from the wrong
// family, or defaults that never reach the sensor or the store.
TEST_F(SettingsApiTest, FirstRunCreatesTheStoreWithTheModelDefaults) {
  struct Case {
    const char* name;
    varnel::ModelCode model;
    int type;
    int maxWidth, maxHeight;
    int gain, exposure, mirrorV, bayerMode;
  };
  const Case cases[] = {
      {"HWH8", varnel::kModelHWH8, 0, 5000, 8192, 14, 1095, 1, 3},
      {"HXA1", varnel::kModelHXA1, 1, 2048, 1536, 14, 1095, 1, 3},
      {"HXB2", varnel::kModelHXB2, 2, 2560, 1920, 14, 1095, 1, 3},
      {"HXE5", varnel::kModelHXE5, 3, 1280, 1024, 16, 480, kUnset, 1},
      // The instance's limit of 5000 x 5000 is larger than the sensor.
      {"HXC3", varnel::kModelHXC3, 4, 3264, 2448, 16, 480, kUnset, 3},
      {"R2T", varnel::kModelR2T, 5, 752, 480, 16, 480, kUnset, 3},
      {"HYD4", varnel::kModelHYD4, 6, 1360, 1024, 128, 64, 0, 3},
      {"HZF6", varnel::kModelHZF6, 7, 1600, 1200, kUnset, kUnset, 1, 1},
      {"HZG7", varnel::kModelHZG7, 8, 2456, 2038, 128, 64, 0, 1},
  };
  auto& store = TestStore();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.Clear();
    const CameraHandle h = Open();
    EXPECT_EQ(Select(h, c.model, c.type), std::vector<int>{});

    const int W = c.maxWidth, H = c.maxHeight;
    const std::pair<const char*, int> preset[] = {{"TH", W},  {"TV", H},  {"EH", W},  {"EV", H},
                                                  {"EHS", 0}, {"EVS", 0}, {"Buf", 10}};
    for (const auto& [name, value] : preset) EXPECT_EQ(store.Read("Size_00", name), value) << name;
    const std::pair<const char*, int> mainValues[] = {
        {"Size", 0},  {"Color", 2}, {"SubSample", 0}, {"WaitTime", 10},
        {"Clock", 0}, {"SyncV", 0}, {"SyncH", 0},     {"BwMode", 0}};
    for (const auto& [name, value] : mainValues) EXPECT_EQ(store.Read("", name), value) << name;
    EXPECT_FALSE(store.Read("Size_01", "EH").has_value());

    EXPECT_EQ(Window(h), (std::vector<int>{W, 0, W, H, 0, H}));
    EXPECT_EQ(Varnel_GetColorMode(h), 24) << "Color 2 of the first run is loaded";
    if (c.gain != kUnset) {
      EXPECT_EQ(Varnel_GetGlobalGain(h, nullptr), c.gain);
    }
    if (c.exposure != kUnset) {
      EXPECT_EQ(Varnel_GetExposureTime(h, nullptr), c.exposure);
    }
    if (c.mirrorV != kUnset) {
      EXPECT_EQ(Varnel_GetMirrorV(h), c.mirrorV);
    }
    // Every filter and gray value of a first run, by identifier.
    const std::pair<int, int> filterDefaults[] = {{1, 0},
                                                  {2, 0},
                                                  {3, 0},
                                                  {4, 0},
                                                  {5, 0},
                                                  {7, 100},
                                                  {8, 100},
                                                  {9, 100},
                                                  {10, 0},
                                                  {11, 100},
                                                  {12, c.bayerMode},
                                                  {20, 128},
                                                  {21, 128},
                                                  {22, 128},
                                                  {23, 128},
                                                  {24, 0},
                                                  {25, 0},
                                                  {26, 0},
                                                  {27, 0}};
    for (const auto& [id, value] : filterDefaults) {
      EXPECT_EQ(Varnel_GetFilterValue(h, id, nullptr), value) << "filter " << id;
    }
    const int gain = Varnel_GetGlobalGain(h, nullptr);
    EXPECT_FALSE(store.Read("Gain", "Global").has_value()) << "saved before release";

    Release(h);
    EXPECT_EQ(store.Read("Gain", "Global"), gain);
    EXPECT_EQ(store.Read("Filter", "BayerMode"), c.bayerMode);
    EXPECT_EQ(store.Read("Gray", "OffsetR1"), 0);
  }
}

// Fault caught: a range reported that is not the range accepted (HZG7
// reported gain 0..1023 and stored 128, but refused anything above 63; every
// model accepted exposure 1..6400 whatever it reported), so a stored default
// cannot be set back.
TEST_F(SettingsApiTest, RangesReportedAreRangesAccepted) {
  constexpr varnel::ModelCode kModels[] = {
      varnel::kModelHWH8, varnel::kModelHXA1, varnel::kModelHXB2,
      varnel::kModelHXE5, varnel::kModelHXC3, varnel::kModelR2T,
      varnel::kModelHYD4, varnel::kModelHZF6, varnel::kModelHZG7};
  for (int type = 0; type < 9; ++type) {
    SCOPED_TRACE(type);
    const CameraHandle h = Open();
    Select(h, kModels[type], type);
    CameraInfo info{};
    info.size = sizeof info;
    ASSERT_EQ(Varnel_GetCameraInfo(h, &info), 1);
    const int stored = Varnel_GetGlobalGain(h, nullptr);
    EXPECT_GE(stored, info.gainMin);
    EXPECT_LE(stored, info.gainMax);
    for (int gain : {info.gainMin, info.gainMax, stored}) {
      EXPECT_EQ(Varnel_SetGlobalGain(h, gain), 1) << gain;
      EXPECT_EQ(Varnel_GetGlobalGain(h, nullptr), gain);
    }
    for (int exposure : {info.exposureMin, info.exposureMax}) {
      EXPECT_EQ(Varnel_SetExposureTime(h, exposure), 1) << exposure;
      EXPECT_EQ(Varnel_GetExposureTime(h, nullptr), exposure);
    }
    EXPECT_EQ(DrainErrors(h), std::vector<int>{});
    EXPECT_EQ(Varnel_SetGlobalGain(h, info.gainMin - 1), 0);
    EXPECT_EQ(Varnel_SetGlobalGain(h, info.gainMax + 1), 0);
    EXPECT_EQ(Varnel_SetExposureTime(h, info.exposureMin - 1), 0);
    EXPECT_EQ(Varnel_SetExposureTime(h, info.exposureMax + 1), 0);
    EXPECT_EQ(DrainErrors(h), (std::vector<int>{9, 9, 9, 9}));
    Release(h);
  }
}

// Fault caught: a filter, gray or analog value not saved at release, saved
// under the wrong name or subkey, or not loaded again by the next instance.
TEST_F(SettingsApiTest, ValuesPersistAcrossReleaseAndANewInstance) {
  struct Case {
    int id;  // filter identifier; 0 for the two mirrors and auto iris, set apart
    const char* subkey;
    const char* name;
    int value;
  };
  const Case cases[] = {
      {0, "Gain", "H_Mirror", 1},      {0, "Gain", "V_Mirror", 0},
      {0, "Gain", "AutoIris", 2},      {13, "Gain", "Global", 40},
      {18, "Gain", "Exposure", 2222},  {1, "Filter", "Brightness", -17},
      {2, "Filter", "Contrast", 23},   {3, "Filter", "Hue", -90},
      {4, "Filter", "Saturation", 44}, {5, "Filter", "Sharpness", 7},
      {7, "Filter", "R_Gain", 150},    {8, "Filter", "G_Gain", 90},
      {9, "Filter", "B_Gain", 210},    {11, "Filter", "Gamma", 180},
      {12, "Filter", "BayerMode", 2},  {20, "Gray", "GainR1", 100},
      {21, "Gray", "GainG1", 101},     {22, "Gray", "GainG2", 102},
      {23, "Gray", "GainB1", 103},     {24, "Gray", "OffsetR1", -5},
      {25, "Gray", "OffsetG1", 6},     {26, "Gray", "OffsetG2", -7},
      {27, "Gray", "OffsetB1", 8},
  };
  const CameraHandle first = Open();
  ASSERT_EQ(Select(first, varnel::kModelHXA1, kTypeHXA1), std::vector<int>{});
  // The horizontal mirror steps the Bayer phase on this model: it goes first.
  ASSERT_EQ(Varnel_SetMirrorH(first, 1), 1);
  ASSERT_EQ(Varnel_SetMirrorV(first, 0), 1);
  ASSERT_EQ(Varnel_SetAutoIris(first, 2), 1);
  for (const Case& c : cases) {
    if (c.id != 0) {
      ASSERT_EQ(Varnel_SetFilterValue(first, c.id, c.value), 1) << c.name;
    }
  }
  Release(first);
  for (const Case& c : cases) {
    EXPECT_EQ(TestStore().Read(c.subkey, c.name), c.value) << c.subkey << "\\" << c.name;
  }

  const CameraHandle second = Open();
  ASSERT_EQ(Select(second, varnel::kModelHXA1, kTypeHXA1), std::vector<int>{});
  EXPECT_EQ(Varnel_GetMirrorH(second), 1);
  EXPECT_EQ(Varnel_GetMirrorV(second), 0);
  EXPECT_EQ(Varnel_GetAutoIris(second, nullptr), 2);
  for (const Case& c : cases) {
    if (c.id != 0) {
      EXPECT_EQ(Varnel_GetFilterValue(second, c.id, nullptr), c.value) << c.name;
    }
  }
}

// Fault caught: a later entry of the same size chosen over the first, entries
// after a gap read, a size without entry changing the window or recording an
// error, an oversized entry kept instead of replaced by the full area with
// error 7, a window set on the models whose window is fixed, the stored Size
// changed by the selection.
TEST_F(SettingsApiTest, CaptureWindowPicksTheFirstStoredPresetOfThatSize) {
  auto preset = [](int index, int width, int height, int hStart, int vStart) {
    char subkey[16];
    std::snprintf(subkey, sizeof subkey, "Size_%02d", index);
    return std::vector<SeedValue>{{subkey, "TH", 2048},    {subkey, "TV", 1536},
                                  {subkey, "EH", width},   {subkey, "EV", height},
                                  {subkey, "EHS", hStart}, {subkey, "EVS", vStart},
                                  {subkey, "Buf", 10}};
  };
  auto& store = TestStore();
  store.Seed({{"", "Size", 0}});
  store.Seed(preset(0, 640, 480, 0, 0));
  store.Seed(preset(1, 800, 600, 8, 8));
  store.Seed(preset(2, 640, 480, 100, 100));  // same size as entry 0
  store.Seed(preset(3, 2000, 480, 100, 0));   // 100 + 2000 beyond 2048
  store.Seed(preset(5, 1024, 768, 0, 0));     // after the gap at 4

  const CameraHandle h = Open();
  ASSERT_EQ(Select(h, varnel::kModelHXA1, kTypeHXA1), std::vector<int>{});
  struct Case {
    int width, height;
    int result;
    std::vector<int> errors;
    std::vector<int> window;  // hTotal, hStart, width, vTotal, vStart, height
  };
  const Case cases[] = {
      {800, 600, 1, {}, {2048, 8, 800, 1536, 8, 600}},
      {640, 480, 1, {}, {2048, 0, 640, 1536, 0, 480}},
      {2000, 480, 1, {kCaptureWindow}, {2048, 0, 2048, 1536, 0, 1536}},
      {800, 600, 1, {}, {2048, 8, 800, 1536, 8, 600}},
      {1024, 768, 0, {}, {2048, 8, 800, 1536, 8, 600}},
      {320, 240, 0, {}, {2048, 8, 800, 1536, 8, 600}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    EXPECT_EQ(Varnel_SetCaptureWindow(h, c.width, c.height), c.result);
    EXPECT_EQ(DrainErrors(h), c.errors);
    EXPECT_EQ(Window(h), c.window);
  }
  EXPECT_EQ(store.Read("", "Size"), 0);

  const std::pair<varnel::ModelCode, int> fixed[] = {
      {varnel::kModelHYD4, 6}, {varnel::kModelHZF6, 7}, {varnel::kModelHZG7, 8}};
  for (const auto& [model, type] : fixed) {
    SCOPED_TRACE(type);
    Select(h, model, type);
    const std::vector<int> before = Window(h);
    EXPECT_EQ(Varnel_SetCaptureWindow(h, 640, 480), 0);
    EXPECT_EQ(DrainErrors(h), std::vector<int>{kCaptureWindow});
    EXPECT_EQ(Window(h), before);
  }

  // The stored preset in use is oversized: the camera type falls back too.
  store.Seed({{"", "Size", 3}});
  const CameraHandle other = Open();
  EXPECT_EQ(Select(other, varnel::kModelHXA1, kTypeHXA1), std::vector<int>{kCaptureWindow});
  EXPECT_EQ(Window(other), (std::vector<int>{2048, 0, 2048, 1536, 0, 1536}));
}

// Fault caught: stored values used without a domain check, a value of the
// wrong type or size taken as a number, gain or exposure not clamped to the
// sensor's ranges (a wide-gain model's gain reaching a 1..63 model), filter
// values clamped although the pipeline takes them as stored. Under the
// AddressSanitizer run this also catches a crash on such a store.
TEST_F(SettingsApiTest, CorruptStoredValuesAreTreatedAsMissing) {
  using Get = std::function<int(CameraHandle)>;
  struct Case {
    const char* name;
    SeedValue corrupt;
    Get get;
    int expected;
    std::vector<int> errors;
  };
  const Get colorMode = [](CameraHandle h) { return Varnel_GetColorMode(h); };
  const Get subSample = [](CameraHandle h) { return Varnel_GetSubSample(h); };
  const Get waitTime = [](CameraHandle h) { return Varnel_GetWaitTime(h); };
  const Get width = [](CameraHandle h) { return Varnel_Width(h); };
  const Get height = [](CameraHandle h) { return Varnel_Height(h); };
  const Get gain = [](CameraHandle h) { return Varnel_GetGlobalGain(h, nullptr); };
  const Get exposure = [](CameraHandle h) { return Varnel_GetExposureTime(h, nullptr); };
  const Get mirrorH = [](CameraHandle h) { return Varnel_GetMirrorH(h); };
  const Get autoIris = [](CameraHandle h) { return Varnel_GetAutoIris(h, nullptr); };
  const Get bayerMode = [](CameraHandle h) { return Varnel_GetBayerMode(h, nullptr); };
  const Get gamma = [](CameraHandle h) { return Varnel_GetGamma(h, nullptr); };
  const Get grayGainR = [](CameraHandle h) { return Varnel_GetGrayGainR(h, nullptr); };
  // The instance's own values where a main value is refused: colour mode 8,
  // sub-sample 0, wait time 10, window 800 x 600. HXA1 defaults: gain 14,
  // exposure 1095, auto iris 0, Bayer mode 3, gamma 100, gray gain 128.
  const Case cases[] = {
      {"Color above 5", {"", "Color", 6}, colorMode, 8, {}},
      {"Color negative", {"", "Color", -1}, colorMode, 8, {}},
      {"Color as text", {"", "Color", 2, SeedType::kString}, colorMode, 8, {}},
      {"SubSample 4", {"", "SubSample", 4}, subSample, 0, {}},
      {"SubSample 3 is in its domain", {"", "SubSample", 3}, subSample, 3, {}},
      {"WaitTime negative", {"", "WaitTime", -5}, waitTime, 10, {}},
      {"WaitTime 0 is allowed", {"", "WaitTime", 0}, waitTime, 0, {}},
      {"Size 100", {"", "Size", 100}, width, 800, {}},
      {"Size negative", {"", "Size", -1}, width, 800, {}},
      {"EH as text", {"Size_00", "EH", 640, SeedType::kString}, width, 800, {}},
      {"EV as binary", {"Size_00", "EV", 480, SeedType::kBinary}, height, 600, {}},
      {"EH huge", {"Size_00", "EH", 0x7FFFFFFF}, width, 2048, {kCaptureWindow}},
      {"Global of a wide-gain model", {"Gain", "Global", 1000}, gain, 63, {}},
      {"Global negative", {"Gain", "Global", -1}, gain, 1, {}},
      {"Global of two bytes", {"Gain", "Global", 40, SeedType::kShortDword}, gain, 14, {}},
      {"Global as binary", {"Gain", "Global", 40, SeedType::kBinary}, gain, 14, {}},
      {"Exposure too long", {"Gain", "Exposure", 99999}, exposure, 6400, {}},
      {"H_Mirror 7 reads as 1", {"Gain", "H_Mirror", 7}, mirrorH, 1, {}},
      {"AutoIris 3", {"Gain", "AutoIris", 3}, autoIris, 0, {}},
      {"BayerMode 4", {"Filter", "BayerMode", 4}, bayerMode, 3, {}},
      {"BayerMode negative", {"Filter", "BayerMode", -1}, bayerMode, 3, {}},
      {"Gamma beyond the setter's range is kept", {"Filter", "Gamma", 999}, gamma, 999, {}},
      {"Gamma as text", {"Filter", "Gamma", 150, SeedType::kString}, gamma, 100, {}},
      {"GainR1 negative is kept", {"Gray", "GainR1", -50}, grayGainR, -50, {}},
      {"GainR1 of two bytes", {"Gray", "GainR1", 50, SeedType::kShortDword}, grayGainR, 128, {}},
  };
  // A store whose every value is valid except the one a case replaces.
  const std::vector<SeedValue> base = {
      {"", "Size", 0},           {"", "Color", 2},
      {"", "SubSample", 2},      {"", "WaitTime", 30},
      {"Size_00", "TH", 2048},   {"Size_00", "TV", 1536},
      {"Size_00", "EH", 1024},   {"Size_00", "EV", 768},
      {"Size_00", "EHS", 0},     {"Size_00", "EVS", 0},
      {"Size_00", "Buf", 10},    {"Gain", "Global", 20},
      {"Gain", "Exposure", 500}, {"Gain", "H_Mirror", 0},
      {"Gain", "AutoIris", 1},   {"Filter", "BayerMode", 0},
      {"Filter", "Gamma", 120},  {"Gray", "GainR1", 90},
  };
  auto& store = TestStore();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.Clear();
    std::vector<SeedValue> seeded;
    for (const SeedValue& v : base) {
      if (v.subkey != c.corrupt.subkey || v.name != c.corrupt.name) seeded.push_back(v);
    }
    seeded.push_back(c.corrupt);
    store.Seed(seeded);
    const CameraHandle h = Open();
    EXPECT_EQ(Select(h, varnel::kModelHXA1, kTypeHXA1), c.errors);
    EXPECT_EQ(c.get(h), c.expected);
    Release(h);
  }
}

// Fault caught: release saving values that were never loaded (an instance
// that only initialised would overwrite the user's gain, exposure, Bayer
// gains and gamma with zeros), or a load and save without changes altering
// what is stored.
TEST_F(SettingsApiTest, ReleaseLeavesTheStoreAsItWasWhenNothingChanged) {
  struct Case {
    const char* name;
    std::function<void(SettingsApiTest&, CameraHandle)> act;
  };
  const Case cases[] = {
      {"initialise and release", [](SettingsApiTest&, CameraHandle) {}},
      {"settings changed without a camera type",
       [](SettingsApiTest&, CameraHandle h) {
         EXPECT_EQ(Varnel_SetGamma(h, 10), 1);
         EXPECT_EQ(Varnel_SetGlobalGain(h, 2), 1);
         EXPECT_EQ(Varnel_SetMirrorV(h, 1), 1);
         EXPECT_EQ(Varnel_SetGrayOffsetB(h, 100), 1);
       }},
      {"camera type loaded and nothing changed",
       [](SettingsApiTest& t, CameraHandle h) {
         EXPECT_EQ(t.Select(h, varnel::kModelHXA1, kTypeHXA1), std::vector<int>{});
         EXPECT_EQ(Varnel_GetGlobalGain(h, nullptr), 33);
         EXPECT_EQ(Varnel_GetGamma(h, nullptr), 150);
       }},
  };
  auto& store = TestStore();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    store.Clear();
    store.Seed(CompleteStore());
    const std::string before = store.Snapshot();
    ASSERT_FALSE(before.empty());
    const CameraHandle h = Open();
    c.act(*this, h);
    Release(h);
    EXPECT_EQ(store.Snapshot(), before);
  }
}

#ifndef _WIN32
std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Fault caught: a store file that cannot be parsed crashing the library,
// being acted on in part, reported on every read or not at all, or thrown away
// (it must be kept beside the complete new file that replaces it).
TEST_F(SettingsApiTest, UnreadableStoreFileIsReportedOnceAndReplacedWhole) {
  static const char kGarbage[] =
      "\x7F"
      "ELF\0\x01\x02 [x]\n\"a\"=dword:1\n";
  const std::string valid =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\Holvik\\VarnelRadeSdk]\r\n"
      "\"Size\"=dword:00000000\r\n\"Color\"=dword:00000000\r\n";
  const std::string utf16Cut = std::string("\xFF\xFE", 2) + std::string("W\0i\0n", 5);
  const std::pair<const char*, std::string> cases[] = {
      {"truncated in a value", valid.substr(0, valid.size() - 14)},
      {"garbage", std::string(kGarbage, sizeof kGarbage - 1)},
      {"UTF-16 cut in a character", utf16Cut},
  };
  auto& store = TestStore();
  for (const auto& [name, bytes] : cases) {
    SCOPED_TRACE(name);
    store.Clear();
    std::filesystem::remove(store.FilePath() + ".bad");
    store.WriteFile(bytes);
    ::testing::internal::CaptureStderr();
    const CameraHandle h = Open();
    // Read as empty: the first run, with its colour mode 24 (Color 2).
    EXPECT_EQ(Select(h, varnel::kModelHXA1, kTypeHXA1), std::vector<int>{});
    EXPECT_EQ(Varnel_GetColorMode(h), 24);
    Release(h);
    const std::string report = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(report, store.FilePath() + "'"), 1u) << report;
    EXPECT_EQ(store.Read("Size_00", "EH"), 2048) << "not replaced by a complete store";
    EXPECT_EQ(ReadBytes(store.FilePath() + ".bad"), bytes);
  }

  // A store that cannot be replaced (its lock cannot be made) stays as it is
  // and is reported once however often it is read.
  store.Clear();
  std::filesystem::remove(store.FilePath() + ".lock");
  std::filesystem::create_directory(store.FilePath() + ".lock");
  store.WriteFile(cases[1].second);
  ::testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    const CameraHandle h = Open();
    Select(h, varnel::kModelHXA1, kTypeHXA1);
    Release(h);
  }
  const std::string report = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count(report, store.FilePath() + "'"), 1u) << report;
  EXPECT_EQ(ReadBytes(store.FilePath()), cases[1].second);
}
#endif

}  // namespace
