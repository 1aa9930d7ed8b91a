// Device, camera type, window, sensor and filter operations through the C
// interface, against an in-process virtual camera head attached to a drive
// letter exactly as a real camera drive is found.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "device/model_code.h"
#include "platform/raw_volume.h"
#include "sim/virtual_head.h"
#include "varnel.h"

namespace {

constexpr int kDeviceSelect = 2;
constexpr int kMemory = 5;
constexpr int kRegister = 6;
constexpr int kCaptureWindow = 7;
constexpr int kRange = 9;
constexpr int kNotSupported = 11;

// Camera types as Varnel_SetCameraType numbers them.
constexpr int kTypeHXA1 = 1;
constexpr int kTypeHYD4 = 6;
constexpr int kTypeHZG7 = 8;

class DeviceApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    handle_ = Varnel_Initialize(nullptr);
    ASSERT_NE(handle_, 0u);
    ASSERT_EQ(Varnel_GetLastError(handle_), 0);
  }
  void TearDown() override {
    Varnel_Release(handle_);
    if (head_) head_->Detach();
  }

  // Attaches a head of `model` at drive Q:, enumerates, selects it and sets
  // the camera type. Returns the index of Q: in the enumeration.
  int AttachAndSelect(varnel::ModelCode model, int type) {
    head_ = std::make_shared<varnel::VirtualHead>(model);
    EXPECT_TRUE(head_->AttachTo(u'Q'));
    char names[32][256];
    const int count = Varnel_EnumDevice(handle_, &names[0][0]);
    int index = -1;
    for (int i = 0; i < count; ++i) {
      if (std::string(names[i]) == "Q:") index = i;
    }
    EXPECT_GE(index, 0) << "Q: not enumerated";
    EXPECT_EQ(Varnel_SetDeviceNumber(handle_, index), 1);
    EXPECT_EQ(Varnel_SetCameraType(handle_, type), 1);
    EXPECT_EQ(DrainErrors(), std::vector<int>{}) << "selecting the head recorded errors";
    return index;
  }

  std::vector<int> DrainErrors() {
    std::vector<int> codes;
    for (int code = Varnel_GetLastError(handle_); code != 0; code = Varnel_GetLastError(handle_)) {
      codes.push_back(code);
    }
    return codes;
  }

  CameraHandle handle_ = 0;
  std::shared_ptr<varnel::VirtualHead> head_;
};

// Fault caught: a camera volume not listed, names written outside their
// 256-byte slots, unused slots up to the tenth left with stale text.
TEST_F(DeviceApiTest, EnumDeviceListsTheHeadAndClearsTenSlots) {
  char names[32][256];
  std::memset(names, 'x', sizeof names);
  const int before = Varnel_EnumDevice(handle_, &names[0][0]);
  for (int i = before; i < 10; ++i) EXPECT_STREQ(names[i], "") << "slot " << i;

  head_ = std::make_shared<varnel::VirtualHead>(varnel::kModelHXA1);
  ASSERT_TRUE(head_->AttachTo(u'Q'));
  std::memset(names, 'x', sizeof names);
  const int count = Varnel_EnumDevice(handle_, &names[0][0]);
  EXPECT_EQ(count, before + 1);
  bool listed = false;
  for (int i = 0; i < count; ++i) listed = listed || std::string(names[i]) == "Q:";
  EXPECT_TRUE(listed);
  for (int i = count; i < 10; ++i) EXPECT_STREQ(names[i], "") << "slot " << i;
  const int slots = count > 10 ? count : 10;
  EXPECT_EQ(names[slots][0], 'x') << "wrote beyond max(10, count) slots";

  EXPECT_EQ(Varnel_EnumDevice(handle_, nullptr), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});
}

// Fault caught: the room the header tells applications to give the drive
// names (VARNEL_MAX_DEVICES slots) smaller than what the library writes when
// every drive letter is a camera.
TEST_F(DeviceApiTest, EnumDeviceStaysInsideTheDocumentedRoom) {
  struct Silent final : varnel::BlockDevice {
    bool ReadAt(uint64_t, void*, uint32_t, uint32_t*) override { return false; }
    bool WriteAt(uint64_t, const void*, uint32_t, uint32_t*) override { return false; }
  };
  auto device = std::make_shared<Silent>();
  std::vector<char16_t> attached;
  for (char16_t letter = u'A'; letter <= u'Z'; ++letter) {
    if (varnel::AttachDevice(letter, device)) attached.push_back(letter);
  }
  constexpr size_t kRoom = size_t{VARNEL_MAX_DEVICES} * VARNEL_DEVICE_NAME_SIZE;
  std::vector<char> names(kRoom + 1024, 'x');
  const int count = Varnel_EnumDevice(handle_, names.data());
  for (char16_t letter : attached) varnel::DetachDevice(letter);
  EXPECT_EQ(count, VARNEL_MAX_DEVICES);
  EXPECT_EQ(std::count(names.begin() + kRoom, names.end(), 'x'), 1024) << "wrote past the room";
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(std::string(&names[static_cast<size_t>(i) * VARNEL_DEVICE_NAME_SIZE]),
              std::string(1, static_cast<char>('A' + i)) + ":");
  }
}

// Fault caught: the size limit off by one, an index outside the list
// answered, a refused name buffer written.
TEST_F(DeviceApiTest, GetDeviceNameSizeAndIndex) {
  const int index = AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  char name[64];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(Varnel_GetDeviceName(handle_, index, name, 18), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});
  EXPECT_EQ(name[0], 'x');
  EXPECT_EQ(Varnel_GetDeviceName(handle_, index, nullptr, 64), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});

  EXPECT_EQ(Varnel_GetDeviceName(handle_, index, name, 19), 1);
  EXPECT_STREQ(name, "Q:");
  std::memset(name, 'x', sizeof name);
  for (int bad : {-1, 26, INT_MAX, INT_MIN}) {
    EXPECT_EQ(Varnel_GetDeviceName(handle_, bad, name, 64), 0) << bad;
  }
  EXPECT_EQ(name[0], 'x');
  EXPECT_TRUE(DrainErrors().empty()) << "an index outside the list records nothing";
}

// Fault caught: SetDeviceNumber accepting an index beyond the enumeration,
// camera types 9 and 10 not mapped to driver 1, a negative type accepted.
TEST_F(DeviceApiTest, DeviceNumberAndCameraType) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  char names[32][256];
  const int count = Varnel_EnumDevice(handle_, &names[0][0]);
  for (int bad : {count, -1, INT_MAX}) {
    EXPECT_EQ(Varnel_SetDeviceNumber(handle_, bad), 0) << bad;
    EXPECT_EQ(DrainErrors(), std::vector<int>{kDeviceSelect}) << bad;
  }
  struct Case {
    int type;
    int result;
    int driverIndex;  // what GetCameraType then returns
    std::vector<int> errors;
  };
  const Case cases[] = {
      {0, 1, 0, {}},
      {9, 1, 1, {}},
      {10, 1, 1, {}},
      {8, 1, 8, {}},
      {11, 0, 8, {kRange}},
      {-1, 0, 8, {kRange}},
      {INT_MIN, 0, 8, {kRange}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Varnel_SetCameraType(handle_, c.type), c.result) << c.type;
    EXPECT_EQ(Varnel_GetCameraType(handle_, 0), c.driverIndex) << c.type;
    EXPECT_EQ(DrainErrors(), c.errors) << c.type;
  }
}

// Fault caught: a camera type set before any enumeration reporting no problem
// although no drive could be handed to the driver.
TEST_F(DeviceApiTest, CameraTypeBeforeEnumerationRecordsDeviceError) {
  EXPECT_EQ(Varnel_SetCameraType(handle_, 9), 1);
  EXPECT_EQ(Varnel_GetCameraType(handle_, 0), 1);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kDeviceSelect});
}

// Fault caught: a record declaring fewer than 36 bytes written, the size
// compared signed (the interface compares it unsigned, so -1 passes), limits
// taken from the wrong model.
TEST_F(DeviceApiTest, CameraInfoChecksTheRecord) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  EXPECT_EQ(Varnel_GetCameraInfo(handle_, nullptr), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});
  for (int size : {35, 0, 1}) {
    CameraInfo info;
    std::memset(&info, 0x5A, sizeof info);
    info.size = size;
    EXPECT_EQ(Varnel_GetCameraInfo(handle_, &info), 0) << size;
    EXPECT_EQ(DrainErrors(), std::vector<int>{kMemory}) << size;
    EXPECT_EQ(info.maxWidth, 0x5A5A5A5A) << size;
  }
  CameraInfo info{};
  info.size = -1;
  EXPECT_EQ(Varnel_GetCameraInfo(handle_, &info), 1);
  info.size = 36;
  ASSERT_EQ(Varnel_GetCameraInfo(handle_, &info), 1);
  EXPECT_EQ(info.maxWidth, 2048);
  EXPECT_EQ(info.maxHeight, 1536);
  EXPECT_LE(info.gainMin, info.gainMax);
  EXPECT_EQ(info.colorGainMin, 1);
  EXPECT_EQ(info.colorGainMax, 400);
  EXPECT_LT(info.exposureMin, info.exposureMax);
  EXPECT_EQ(info.size, 36);
}

// Fault caught: an off-by-one at the model's edge, a rejected window taking
// the place of the one in use, a window set on a model whose window is fixed.
TEST_F(DeviceApiTest, CaptureWindowExEdgesAndFixedModels) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  struct Case {
    int hTotal, hStart, width, vTotal, vStart, height;
    int result;
  };
  const Case cases[] = {
      {2048, 0, 2048, 1536, 0, 1536, 1},   {2048, 1000, 1048, 1536, 36, 1500, 1},
      {2048, 1000, 1049, 1536, 0, 100, 0},  // one pixel beyond the width
      {2048, 0, 100, 1536, 1437, 100, 0},   // one line beyond the height
      {2048, -2, 100, 1536, 0, 100, 0},    {2048, 0, INT_MAX, 1536, 0, 100, 0},
  };
  Case inUse = cases[0];
  for (const Case& c : cases) {
    EXPECT_EQ(Varnel_SetCaptureWindowEx(handle_, c.hTotal, c.hStart, c.width, c.vTotal, c.vStart,
                                        c.height),
              c.result)
        << c.hStart << "+" << c.width << " " << c.vStart << "+" << c.height;
    EXPECT_EQ(DrainErrors(), c.result ? std::vector<int>{} : std::vector<int>{kCaptureWindow});
    if (c.result == 1) inUse = c;
    int v[6];
    Varnel_GetCaptureWindowEx(handle_, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    EXPECT_EQ(std::vector<int>(v, v + 6),
              (std::vector<int>{inUse.hTotal, inUse.hStart, inUse.width, inUse.vTotal, inUse.vStart,
                                inUse.height}));
    EXPECT_EQ(Varnel_Width(handle_), inUse.width);
    EXPECT_EQ(Varnel_Height(handle_), inUse.height);
  }

  ASSERT_EQ(Varnel_SetCameraType(handle_, kTypeHZG7), 1);
  DrainErrors();  // the HZG7 driver takes the same drive; any window fall-back is not the point
  int before[6];
  Varnel_GetCaptureWindowEx(handle_, &before[0], &before[1], &before[2], &before[3], &before[4],
                            &before[5]);
  EXPECT_EQ(Varnel_SetCaptureWindowEx(handle_, 2456, 0, 640, 2038, 0, 480), 0);
  EXPECT_EQ(Varnel_SetCaptureWindow(handle_, 640, 480), 0);
  EXPECT_EQ(DrainErrors(), (std::vector<int>{kCaptureWindow, kCaptureWindow}));
  int after[6];
  Varnel_GetCaptureWindowEx(handle_, &after[0], &after[1], &after[2], &after[3], &after[4],
                            &after[5]);
  EXPECT_EQ(std::vector<int>(before, before + 6), std::vector<int>(after, after + 6));
}

// Fault caught: a window that no longer fits the new model kept instead of
// replaced by the full sensor area.
TEST_F(DeviceApiTest, CameraTypeReplacesAWindowTheModelCannotHold) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  ASSERT_EQ(Varnel_SetCaptureWindowEx(handle_, 2048, 1000, 1000, 1536, 0, 1000), 1);
  // R2T (type 5) is 752 x 480.
  EXPECT_EQ(Varnel_SetCameraType(handle_, 5), 1);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kCaptureWindow});
  int v[6];
  Varnel_GetCaptureWindowEx(handle_, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
  EXPECT_EQ(std::vector<int>(v, v + 6), (std::vector<int>{752, 0, 752, 480, 0, 480}));
}

// Fault caught: register bytes swapped or truncated on the way to the camera
// and back; an address beyond the model's width cut to fit (0x109 reaching
// register 9) or a value beyond 16 bits stored cut instead of refused with
// error 9; the 16-bit-address and 10-bit-address models' upper registers out
// of reach; a write to a wide register carrying value bits an earlier wide
// read left in the control sector; a refused command reported as done.
TEST_F(DeviceApiTest, RegisterAccessTakesEachModelsAddressWidth) {
  enum Refusal { kNone, kAddress, kValue };
  struct Case {
    const char* name;
    varnel::ModelCode model;
    int type;
    int address;
    int value;
    Refusal refused;
  };
  const Case cases[] = {
      {"HXA1", varnel::kModelHXA1, kTypeHXA1, 0x20, 0x7BCD, kNone},
      {"HXA1", varnel::kModelHXA1, kTypeHXA1, 0xFF, 0x0102, kNone},
      {"HXA1", varnel::kModelHXA1, kTypeHXA1, 0x109, 0x0102, kAddress},
      {"HXA1", varnel::kModelHXA1, kTypeHXA1, -1, 0x0102, kAddress},
      {"HXA1", varnel::kModelHXA1, kTypeHXA1, 0x21, 0x10000, kValue},
      {"HXA1", varnel::kModelHXA1, kTypeHXA1, 0x21, -1, kValue},
      {"HXC3", varnel::kModelHXC3, 4, 0x3166, 0x0447, kNone},
      {"HXC3", varnel::kModelHXC3, 4, 0xFFFF, 0xFFFF, kNone},
      {"HXC3", varnel::kModelHXC3, 4, 0x10000, 0x0001, kAddress},
      {"HYD4", varnel::kModelHYD4, kTypeHYD4, 0x3FF, 0x1234, kNone},
      {"HYD4", varnel::kModelHYD4, kTypeHYD4, 0x400, 0x1234, kAddress},
      {"HZG7", varnel::kModelHZG7, kTypeHZG7, 0x2A0, 0xBEEF, kNone},
  };
  varnel::ModelCode attached = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " address " + std::to_string(c.address) + " value " +
                 std::to_string(c.value));
    if (c.model != attached) {
      if (head_) head_->Detach();
      head_ = std::make_shared<varnel::VirtualHead>(c.model);
      ASSERT_TRUE(head_->AttachTo(u'Q'));
      char names[VARNEL_MAX_DEVICES][VARNEL_DEVICE_NAME_SIZE];
      ASSERT_EQ(Varnel_EnumDevice(handle_, &names[0][0]), 1);
      ASSERT_EQ(Varnel_SetDeviceNumber(handle_, 0), 1);
      Varnel_SetCameraType(handle_, c.type);
      DrainErrors();  // a stored window of another model may not fit (7)
      attached = c.model;
    }
    // Where a cut address or value would land.
    const uint32_t target = static_cast<uint32_t>(c.address) & 0xFFFF;
    const uint32_t before = head_->PeekRegister(target);
    const uint32_t beforeCut = head_->PeekRegister(target & 0xFF);
    EXPECT_EQ(Varnel_WriteRegister(handle_, c.address, c.value), c.refused == kNone ? 1 : 0);
    int valid = -1;
    const int read = Varnel_ReadRegister(handle_, c.address, &valid);
    if (c.refused == kNone) {
      EXPECT_EQ(head_->PeekRegister(target), static_cast<uint32_t>(c.value));
      EXPECT_EQ(read, c.value);
      EXPECT_EQ(valid, 1);
      EXPECT_EQ(DrainErrors(), std::vector<int>{});
      continue;
    }
    EXPECT_EQ(head_->PeekRegister(target), before);
    EXPECT_EQ(head_->PeekRegister(target & 0xFF), beforeCut);
    if (c.refused == kAddress) {
      EXPECT_EQ(read, 0);
      EXPECT_EQ(valid, 0);
      EXPECT_EQ(DrainErrors(), (std::vector<int>{kRange, kRange}));
    } else {
      EXPECT_EQ(valid, 1);
      EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});
    }
  }

  // A wide read leaves the value's top bits in the control sector; the next
  // 16-bit write must not send them along.
  head_->PokeRegister(0x50, 0xA51234);
  int valid = 0;
  EXPECT_EQ(Varnel_ReadRegister(handle_, 0x50, &valid), 0x1234);
  EXPECT_EQ(Varnel_WriteRegister(handle_, 0x51, 0x0042), 1);
  EXPECT_EQ(head_->PeekRegister(0x51), 0x0042u);

  head_->Detach();
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  varnel::HeadFaults faults;
  faults.refusedRegisters = {0x21};
  head_->SetFaults(faults);
  EXPECT_EQ(Varnel_WriteRegister(handle_, 0x21, 1), 0);
  EXPECT_EQ(Varnel_ReadRegister(handle_, 0x21, &valid), 0);
  EXPECT_EQ(valid, 0);
  EXPECT_EQ(Varnel_ReadRegister(handle_, 0x21, nullptr), 0);
  EXPECT_EQ(DrainErrors(), (std::vector<int>{kRegister, kRegister, kRegister}));
}

// A head whose reads of the control sector come back short: the device says
// it moved `bytes` of the 512 (the rest of the sector is not to be trusted).
class ShortControlReads final : public varnel::BlockDevice {
 public:
  ShortControlReads(std::shared_ptr<varnel::VirtualHead> head, uint32_t bytes)
      : head_(std::move(head)), bytes_(bytes) {}
  bool ReadAt(uint64_t offset, void* data, uint32_t size, uint32_t* transferred) override {
    const bool ok = head_->ReadAt(offset, data, size, transferred);
    if (ok && offset == varnel::VirtualHead::ControlOffset() && transferred != nullptr) {
      *transferred = std::min(*transferred, bytes_);
    }
    return ok;
  }
  bool WriteAt(uint64_t offset, const void* data, uint32_t size, uint32_t* transferred) override {
    return head_->WriteAt(offset, data, size, transferred);
  }

 private:
  std::shared_ptr<varnel::VirtualHead> head_;
  uint32_t bytes_;
};

// Fault caught: a short read of the control sector taken for a whole one, so
// that a register exchange polls a status and takes data bytes the camera
// never delivered, and reports the read or write as done.
TEST_F(DeviceApiTest, ShortControlSectorReadsFailRegisterAccess) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  head_->PokeRegister(0x20, 0x1234);
  head_->Detach();
  for (const uint32_t bytes : {511u, 256u, 64u, 0u}) {
    SCOPED_TRACE(bytes);
    ASSERT_TRUE(varnel::AttachDevice(u'Q', std::make_shared<ShortControlReads>(head_, bytes)));
    int valid = -1;
    EXPECT_EQ(Varnel_ReadRegister(handle_, 0x20, &valid), 0);
    EXPECT_EQ(valid, 0);
    EXPECT_EQ(Varnel_WriteRegister(handle_, 0x21, 0x55), 0);
    EXPECT_EQ(DrainErrors(), (std::vector<int>{kRegister, kRegister}));
    varnel::DetachDevice(u'Q');
  }
  // The same head answering whole sectors works.
  ASSERT_TRUE(varnel::AttachDevice(u'Q', std::make_shared<ShortControlReads>(head_, 512)));
  int valid = -1;
  EXPECT_EQ(Varnel_ReadRegister(handle_, 0x20, &valid), 0x1234);
  EXPECT_EQ(valid, 1);
  varnel::DetachDevice(u'Q');
}

// Fault caught: the Bayer phase not following a mirror flag that changes
// (a horizontal one moves the mosaic by a column, a vertical one by a row, on
// every model), or stepping on a call that changes nothing.
TEST_F(DeviceApiTest, MirrorsStepTheBayerPhaseWhenTheyChange) {
  struct Step {
    bool vertical;
    int on;
    int phaseAfter;
  };
  // From phase 1, unmirrored.
  const Step steps[] = {{false, 1, 3}, {false, 1, 3}, {true, 1, 2}, {true, 7, 2},
                        {false, 0, 0}, {true, 0, 1},  {true, 0, 1}};
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  for (const int type : {kTypeHXA1, kTypeHYD4}) {
    ASSERT_EQ(Varnel_SetCameraType(handle_, type), 1);
    DrainErrors();
    ASSERT_EQ(Varnel_SetMirrorV(handle_, 0), 1);
    ASSERT_EQ(Varnel_SetMirrorH(handle_, 0), 1);
    ASSERT_EQ(Varnel_SetBayerMode(handle_, 1), 1);
    for (const Step& step : steps) {
      SCOPED_TRACE(std::string(step.vertical ? "V " : "H ") + std::to_string(step.on));
      const int result =
          step.vertical ? Varnel_SetMirrorV(handle_, step.on) : Varnel_SetMirrorH(handle_, step.on);
      EXPECT_EQ(result, 1);
      EXPECT_EQ(step.vertical ? Varnel_GetMirrorV(handle_) : Varnel_GetMirrorH(handle_),
                step.on != 0 ? 1 : 0);
      EXPECT_EQ(Varnel_GetBayerMode(handle_, nullptr), step.phaseAfter);
    }
    EXPECT_EQ(DrainErrors(), std::vector<int>{});
  }
}

// Fault caught: the gain range of the wide-gain models applied to others (or
// not to them), sensor-held values read from the filter block, colour gains
// accepted, the valid flag left set on failure.
TEST_F(DeviceApiTest, FilterValuesThroughTheInterface) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  EXPECT_EQ(Varnel_SetGlobalGain(handle_, 64), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});
  EXPECT_EQ(Varnel_SetGlobalGain(handle_, 40), 1);
  EXPECT_EQ(Varnel_GetGlobalGain(handle_, nullptr), 40);
  EXPECT_EQ(Varnel_SetExposureTime(handle_, 6400), 1);
  int valid = 0;
  EXPECT_EQ(Varnel_GetExposureTime(handle_, &valid), 6400);
  EXPECT_EQ(valid, 1);
  EXPECT_EQ(Varnel_SetExposureTime(handle_, 0), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});

  EXPECT_EQ(Varnel_SetColorGainRed(handle_, 100), 0);
  valid = 1;
  EXPECT_EQ(Varnel_GetColorGainGreen2(handle_, &valid), 0);
  EXPECT_EQ(valid, 0);
  valid = 1;
  EXPECT_EQ(Varnel_GetFilterValue(handle_, 28, &valid), 0);
  EXPECT_EQ(valid, 0);
  EXPECT_EQ(Varnel_SetFilterValue(handle_, 0, 0), 0);
  EXPECT_EQ(DrainErrors(), (std::vector<int>{kRange, kRange, kRange, kRange}));

  EXPECT_EQ(Varnel_SetBayerGainRGB(handle_, 0x0A141E), 1);
  EXPECT_EQ(Varnel_GetBayerGainRed(handle_, nullptr), 0x1E);
  EXPECT_EQ(Varnel_GetBayerGainBlue(handle_, nullptr), 0x0A);
  EXPECT_EQ(Varnel_SetGamma(handle_, 201), 0);
  EXPECT_EQ(Varnel_SetGamma(handle_, 200), 1);
  EXPECT_EQ(Varnel_GetGamma(handle_, nullptr), 200);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});

  ASSERT_EQ(Varnel_SetCameraType(handle_, kTypeHYD4), 1);
  DrainErrors();
  EXPECT_EQ(Varnel_SetGlobalGain(handle_, 64), 1);
  EXPECT_EQ(Varnel_SetGlobalGain(handle_, 1023), 1);
  EXPECT_EQ(Varnel_SetGlobalGain(handle_, 1024), 0);
  EXPECT_EQ(DrainErrors(), std::vector<int>{kRange});
}

// Fault caught: sync commands not reaching the sensor, or their getters
// writing the caller's flag when a driver answers.
TEST_F(DeviceApiTest, SyncSetAndGet) {
  AttachAndSelect(varnel::kModelHWH8, 0);
  EXPECT_EQ(Varnel_SetSyncV(handle_, 7), 1);
  EXPECT_EQ(Varnel_SetSyncH(handle_, 0), 1);
  int flag = 42;
  EXPECT_EQ(Varnel_GetSyncV(handle_, &flag), 1);
  EXPECT_EQ(Varnel_GetSyncH(handle_, &flag), 0);
  EXPECT_EQ(flag, 42);
  EXPECT_TRUE(DrainErrors().empty());
}

#ifndef _WIN32
// Fault caught: a dialog export claiming success on Linux, where there are
// no dialogs, or writing into the caller's buffer. (The Windows dialogs are
// driven in tests/win32.)
TEST_F(DeviceApiTest, DialogsAreNotOfferedOnLinux) {
  AttachAndSelect(varnel::kModelHXA1, kTypeHXA1);
  int buffer[16];
  const CameraHandle h = handle_;
  const std::function<int()> calls[] = {
      [&] { return Varnel_SetCameraDlg(h, nullptr); },
      [&] { return Varnel_SetImageDlg(h, nullptr); },
      [&] { return Varnel_SetAnalogDlg(h, nullptr); },
  };
  for (const auto& call : calls) {
    std::memset(buffer, 0x5A, sizeof buffer);
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(buffer[0], 0x5A5A5A5A);
    EXPECT_EQ(DrainErrors(), std::vector<int>{kNotSupported});
  }
  // Stopping and closing an instance that never started succeed quietly.
  EXPECT_EQ(Varnel_StopPreview(h), 1);
  EXPECT_EQ(Varnel_Close(h), 1);
  EXPECT_TRUE(DrainErrors().empty());
}
#endif

}  // namespace
