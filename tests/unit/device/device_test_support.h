// Doubles and a fixture shared by the sensor device tests: an engine and an
// owner that record what the sensor hands them, and a virtual head attached to
// a drive letter, with the stepping test clock counting pauses without waiting.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/sensor_device.h"
#include "device/sensor_engine.h"
#include "device/sensor_factory.h"
#include "device/sensor_owner.h"
#include "platform/clock.h"
#include "sim/virtual_head.h"
#include "support/test_clock.h"

namespace varnel::testing {

class FakeEngine : public SensorEngine {
 public:
  void SetColorFlag(bool value) override { color = value; }
  void SetWhiteBalanceMode(int mode) override { whiteBalance = mode; }
  void SetDefectCorrection(bool enabled, int level) override {
    defect = enabled;
    threshold = level;
  }
  void SetBayerPhase(int value) override { phase = value; }
  int GetBayerPhase() override { return phase; }
  void SetRedGain(int gain) override { gains[0] = gain; }
  int GetRedGain() override { return gains[0]; }
  void SetGreenGain(int gain) override { gains[1] = gain; }
  int GetGreenGain() override { return gains[1]; }
  void SetBlueGain(int gain) override { gains[2] = gain; }
  int GetBlueGain() override { return gains[2]; }
  void SetContrast(int value) override { contrast = value; }
  void SetBrightness(int value) override { brightness = value; }
  void SetSaturation(int value) override { saturation = value; }
  void SetHue(int degrees) override { hue = degrees; }
  int GetWidth() const override { return width; }
  int GetHeight() const override { return height; }
  bool IsEightBitRaw() const override { return eightBitRaw; }

  int width = 640;
  int height = 480;
  bool eightBitRaw = true;
  bool color = false;
  int whiteBalance = -1;
  bool defect = false;
  int threshold = -1;
  int phase = 0;
  int gains[3] = {128, 128, 128};
  int contrast = -99;
  int brightness = -999;
  int saturation = -99;
  int hue = -1;
};

class FakeOwner : public SensorOwner {
 public:
  bool IsRunning() override { return running; }
  void ReportRegisterResult(int eventCode, const RegisterResultRecord& record) override {
    events.push_back(eventCode);
    records.push_back(record);
    if (onReport) onReport(eventCode);
  }
  bool running = false;
  // A listener that reacts to the event (for example with a new request).
  std::function<void(int)> onReport;
  std::vector<int> events;
  std::vector<RegisterResultRecord> records;
};

// The register exchanges the head saw, as short readable lines:
// "w 53=40" (8-bit address write), "r 8" (8-bit read), "w16 12646=500",
// "ww 6=44" / "rw 32" (wide); a trailing "!" marks a command the head did not
// carry out.
inline std::vector<std::string> Traffic(const VirtualHead& head) {
  std::vector<std::string> lines;
  for (const RegisterExchange& e : head.RegisterLog()) {
    std::string form = e.form == RegisterForm::kAddress16 ? "16"
                       : e.form == RegisterForm::kWide    ? "w"
                                                          : "";
    std::string line = (e.write ? "w" : "r") + form + " " + std::to_string(e.address);
    if (e.write) line += "=" + std::to_string(e.value);
    if (!e.accepted) line += "!";
    lines.push_back(line);
  }
  return lines;
}

inline const char* ModelName(ModelCode code) {
  static thread_local char name[5];
  for (int i = 0; i < 4; ++i) name[i] = static_cast<char>((code >> (8 * i)) & 0xFF);
  name[4] = 0;
  return name;
}

// A sensor of one model on a virtual head attached to drive Q:, with a
// stepping clock installed.
class SensorOnHead {
 public:
  static constexpr char16_t kLetter = u'Q';

  explicit SensorOnHead(ModelCode model) : clockScope_(&clock) {
    HeadOptions options;
    options.clock = &headClock;
    head = std::make_shared<VirtualHead>(model, options);
    attached_ = head->AttachTo(kLetter);
    sensor = CreateSensorDevice(model);
    if (sensor != nullptr) {
      sensor->SetDriveLetter(kLetter);
      sensor->SetOwner(&owner);
    }
  }
  ~SensorOnHead() {
    if (sensor != nullptr) sensor->CloseDevice();
    sensor.reset();
    if (attached_) head->Detach();
  }

  // Attaches the engine (every setting is sent), then forgets the traffic and
  // pauses so far.
  bool Attach() {
    const bool ok = sensor->AttachEngine(&engine);
    head->ClearLogs();
    clock.ClearSleeps();
    return ok;
  }
  bool attached() const { return attached_; }

  SteppingClock clock;
  SteppingClock headClock;
  FakeEngine engine;
  FakeOwner owner;
  std::shared_ptr<VirtualHead> head;
  std::unique_ptr<SensorDevice> sensor;

 private:
  ScopedCurrentClock clockScope_;
  bool attached_ = false;
};

}  // namespace varnel::testing
